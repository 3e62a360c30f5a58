# Shell functions shared by ./dev and the scripts in tools/ci; sourced, not run.

say() { printf '\033[1m==> %s\033[0m\n' "$*" >&2; }

# ensure_packages PACKAGE...: installs the Debian packages that are missing
# (apt-get update first), and only when some are.  A package named with an
# architecture ("libssl-dev:arm64") adds that architecture first.  Not root:
# names what is missing and exits.
ensure_packages() {
  local missing=() p arch
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing Debian packages: ${missing[*]}" >&2
    echo "install them as root: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  say "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  for p in "${missing[@]}"; do
    case $p in
      *:*)
        arch=${p##*:}
        dpkg --print-foreign-architectures | grep -qx "$arch" || dpkg --add-architecture "$arch"
        ;;
    esac
  done
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# packages_for PART...: the Debian packages that the named parts of
# tools/ci/packages need, on one line; an unknown part is an error.
packages_for() {
  local part line list=()
  for part in "$@"; do
    line=$(awk -v p="$part" '$1 == p { $1 = ""; print; found = 1 } END { exit !found }' "$here/tools/ci/packages") ||
      { echo "tools/ci/packages has no part $part" >&2; return 1; }
    # shellcheck disable=SC2206 # package names are words
    list+=($line)
  done
  printf '%s\n' "${list[@]}" | sort -u | tr '\n' ' '
}

# packages_for_arch ARCH PART...: the ARCH builds of the parts' libraries
# (lib*-dev; ACE aside, which is not Multi-Arch), for a cross build.
packages_for_arch() {
  local arch=$1 p out=()
  shift
  for p in $(packages_for "$@"); do
    case $p in
      libace-dev) ;;
      lib*-dev) out+=("$p:$arch") ;;
    esac
  done
  echo "${out[*]}"
}

# begin NAME ... end: one timed step; step_times prints every step's time.
step_timings=()
step_start=0
step_name=
begin() {
  step_name=$1
  step_start=$SECONDS
  say "$step_name"
}
end() {
  local took=$((SECONDS - step_start))
  step_timings+=("$(printf '%5ds  %s' "$took" "$step_name")")
  say "$step_name: ${took}s"
}
step_times() {
  printf '%s\n' "${step_timings[@]}" >&2
}

# web_modules: the login page's npm packages (pinned by web/package-lock.json)
# in web/node_modules, installed by npm ci when they are missing or the lock
# file changed since; Node.js and npm from Debian's packages first when
# missing.  playwright-core needs Node.js 20 or later.
web_modules() {
  local web=$here/web
  cmp -s "$web/package-lock.json" "$web/node_modules/.installed-package-lock.json" && return 0
  ensure_packages nodejs
  command -v npm >/dev/null || ensure_packages npm
  say "installing the login page's npm packages (npm ci in web/)"
  # No package of the lock runs an install script, and none may: the
  # browser is Debian's, never one downloaded.
  (cd "$web" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
  cp "$web/package-lock.json" "$web/node_modules/.installed-package-lock.json"
}
