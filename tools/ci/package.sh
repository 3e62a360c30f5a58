#!/usr/bin/env bash
# The amd64 Debian packages (debian/), built and checked:
#   1. dpkg-buildpackage -b in a copy of the checkout (build-pkg/src, or
#      QUORVANE_PKG_BUILD_DIR/src); the packages land in build-pkg/;
#   2. built again from another copy at another path, with another time
#      zone, locale and umask and without ccache: every .deb must be
#      byte-identical (--once leaves this out);
#   3. lintian: no error and no warning;
#   4. hardening-check on every packaged ELF file, and the hardening flags
#      recorded in the debug symbols;
#   5. quorvane-module holds the module alone and depends only on what the
#      module links; neither package runs ldconfig or any maintainer script;
#   6. from the two packages unpacked into a temporary root (dpkg -x):
#      quorvane-host probe, which must load the development host and the
#      module from that root, a login through the unpacked module to the
#      unpacked emulator, and the unpacked web service agent serving the
#      unpacked login page and key (each started on 127.0.0.1, stopped by
#      its PID), each file of the page as it is in web/ (node-forge's as npm
#      installed it).
# Exits non-zero on any failure.  Each step prints its time.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$here"
build=${QUORVANE_PKG_BUILD_DIR:-build-pkg}
mkdir -p "$build"
build=$(cd "$build" && pwd)
twice=1
[ "${1:-}" = --once ] && twice=0

# shellcheck source=tools/ci/lib.sh
. "$here/tools/ci/lib.sh"
# shellcheck source=tools/ci/deb.sh
. "$here/tools/ci/deb.sh"

packages=$(packages_for build module devhost tools deb)

work=$(mktemp -d -t quorvane-package.XXXXXX)
mock_pid=
serve_pid=
cleanup() {
  for pid in $mock_pid $serve_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { deb_fail "$@"; }

begin "packages"
# shellcheck disable=SC2086 # package names are words
ensure_packages $packages
end

deb_check_build_depends
version=$(dpkg-parsechangelog -l debian/changelog -S Version)
cmake_version=$(sed -n 's/^project(quorvane VERSION \([^ ]*\) .*/\1/p' CMakeLists.txt)
[ "$version" = "$cmake_version" ] ||
  fail "debian/changelog says $version, CMakeLists.txt's project() says $cmake_version"

begin "build the packages (dpkg-buildpackage in $build/src)"
deb_source_copy "$build/src"
deb_build "$build/src"
debs=("$build"/*_"$version"_amd64.deb)
deb_summary "${debs[@]}"
module_deb=$build/quorvane-module_${version}_amd64.deb
devhost_deb=$build/quorvane-devhost_${version}_amd64.deb
end

if [ "$twice" = 1 ]; then
  begin "reproducible: built again elsewhere, compared"
  # Another path, time zone, locale and umask, and every object compiled
  # afresh.  SOURCE_DATE_EPOCH comes from debian/changelog either way.
  other=$build/repro/quorvane-other
  deb_source_copy "$other"
  (umask 0002 && TZ=Pacific/Kiritimati LC_ALL=C.UTF-8 CCACHE_DISABLE=1 deb_build "$other")
  for deb in "${debs[@]}"; do
    again=$build/repro/$(basename "$deb")
    [ -f "$again" ] || fail "the second build made no $(basename "$deb")"
    cmp "$deb" "$again" || fail "$(basename "$deb") differs between the two builds (the second is $again)"
    printf '%s  %s\n' "$(sha256sum <"$deb" | cut -c1-16)" "$(basename "$deb") identical"
  done
  made=("$build"/repro/*.deb)
  [ "${#made[@]}" = "${#debs[@]}" ] || fail "the two builds made different packages"
  rm -rf "$build/repro"
  end
fi

begin "lintian"
deb_lintian "$build/quorvane_${version}_amd64.changes"
end

begin "hardening-check"
deb_hardening amd64 "$module_deb" "$devhost_deb"
end

begin "the module package alone"
# The module leaves every host interface to the process that loads it, so
# its package needs only what the module links.
depends=$(dpkg-deb -f "$module_deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | sort)
[ "$depends" = $'libace-7.0.8\nlibc6\nlibgcc-s1\nlibstdc++6' ] ||
  fail "quorvane-module depends on ${depends//$'\n'/ }, not only ACE, libc, libgcc and libstdc++"
files=$(dpkg-deb -c "$module_deb" | awk '$6 !~ /\/$/ && $6 !~ /^\.\/usr\/share\/doc\// { print $6 }')
[ "$files" = ./usr/lib/x86_64-linux-gnu/quorvane/libquorvane.so ] ||
  fail "quorvane-module holds more than the module: ${files//$'\n'/ }"
dpkg-deb -f "$devhost_deb" Depends | grep -q "quorvane-module (= $version)" ||
  fail "quorvane-devhost does not depend on quorvane-module (= $version)"
for deb in "$module_deb" "$devhost_deb"; do
  if dpkg-deb -I "$deb" | grep -E '^ +[0-9]+ bytes, +[0-9]+ lines +\*? *(preinst|postinst|prerm|postrm|triggers)'; then
    fail "$(basename "$deb") has maintainer scripts or triggers"
  fi
done
echo "quorvane-module: the module alone, depends on ${depends//$'\n'/ }; no maintainer scripts, no triggers"
end

begin "quorvane-host probe from the unpacked packages"
root=$work/root
dpkg -x "$module_deb" "$root"
dpkg -x "$devhost_deb" "$root"
libdir=usr/lib/x86_64-linux-gnu
host=$root/usr/bin/quorvane-host
for f in usr/bin/quorvane-host usr/bin/quorvane-mock-service "$libdir/quorvane-devhost/libquorvane-devhost.so" \
  "$libdir/quorvane/libquorvane.so" usr/share/man/man1/quorvane-host.1.gz usr/share/man/man1/quorvane-mock-service.1.gz; do
  [ -f "$root/$f" ] || fail "the packages have no /$f"
done
# From another directory: the programs find their files relative to
# themselves.  LD_DEBUG=files names every object the loader opens: both of
# ours must come from the unpacked tree.
(cd "$work" && LD_DEBUG=files "$host" probe) >"$work/probe.out" 2>"$work/probe.err" ||
  fail "quorvane-host probe exited with $?: $(cat "$work/probe.err")"
cat "$work/probe.out"
grep -q '"name": *"Quorvane_Proxy"' "$work/probe.out" || fail "probe did not report Quorvane_Proxy"
loaded=$(grep -o '/[^ ]*/libquorvane[-a-z]*\.so' "$work/probe.err" | xargs -r realpath -m | sort -u)
expected=$(realpath -m "$root/$libdir/quorvane-devhost/libquorvane-devhost.so" "$root/$libdir/quorvane/libquorvane.so" |
  sort -u)
[ "$loaded" = "$expected" ] || fail "probe loaded $(echo $loaded), not the unpacked $(echo $expected)"
printf 'loaded %s\n' $loaded
end

begin "login through the unpacked module to the unpacked emulator"
access_key=PACKAGE-CHECK-KEY
secret='package check secret, longer than a short string'
"$host" keygen --out "$work" >/dev/null
# The secret goes to both programs through a file only this user can read,
# never on a command line.
(umask 077 && printf '%s\n' "$secret" >"$work/secret")
exec 3< <(exec "$root/usr/bin/quorvane-mock-service" --listen 127.0.0.1:0 --access-key "$access_key" \
  --secret-key-file "$work/secret" --version 7.1.0 2>"$work/mock.log")
mock_pid=$!
read -r -t 30 listening <&3 || fail "the emulator did not start: $(cat "$work/mock.log")"
port=${listening##*:}
reply=$("$host" login --key "$work/appliance.key" --host 127.0.0.1 --port "$port" \
  --access-key "$access_key" <"$work/secret") || fail "login exited with $?"
printf '%s\n' "$reply"
grep -q '"version": *"7\.1\.0"' <<<"$reply" || fail "the login reply does not carry the service version 7.1.0"
kill "$mock_pid"
wait "$mock_pid" || true
mock_pid=
exec 3<&-
end

begin "the unpacked web service agent serves the unpacked login page"
# No --assets: serve finds the page in share/ beside its own bin/.
exec 4< <(exec "$host" serve --key "$work/appliance.key" 2>"$work/serve.log")
serve_pid=$!
read -r -t 30 listening <&4 || fail "quorvane-host serve did not start: $(cat "$work/serve.log")"
serve_port=${listening##*:}
# status_of PATH: the status line of GET PATH (bash's /dev/tcp: no client to install).
status_of() {
  local line
  exec 5<>"/dev/tcp/127.0.0.1/$serve_port"
  printf 'GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' "$1" >&5
  IFS= read -r -t 30 line <&5 || line="no answer"
  exec 5<&-
  printf '%s\n' "${line%$'\r'}"
}
for path in /appliance.pub / /login.js; do
  got=$(status_of "$path")
  echo "GET $path: $got"
  [ "$got" = "HTTP/1.1 200 OK" ] || fail "GET $path from the unpacked agent: $got; its log: $(cat "$work/serve.log")"
done
# Each file of the page as the package has it, byte for byte.
for f in index.html login.js checks.js messages.js login.css favicon.svg forge.min.js; do
  source=web/$f
  [ "$f" = forge.min.js ] && source=web/node_modules/node-forge/dist/forge.min.js
  curl -sSf --noproxy '*' -o "$work/served" "http://127.0.0.1:$serve_port/$f" || fail "serve did not serve /$f"
  cmp -s "$work/served" "$source" || fail "/$f as served differs from $source"
done
echo "the served page is web/'s, with node-forge's forge.min.js as npm installed it"
kill "$serve_pid"
wait "$serve_pid" || fail "quorvane-host serve did not stop cleanly"
serve_pid=
exec 4<&-
end

say "package check passed; the packages are in $build; step times:"
step_times
