# Shell functions for building and checking the Debian packages (debian/),
# shared by tools/ci/package.sh (amd64) and tools/ci/cross.sh (arm64);
# sourced after lib.sh, not run.

deb_fail() {
  echo "package check failed: $*" >&2
  exit 1
}

# deb_check_build_depends: debian/control's Build-Depends name exactly the
# packages of the parts the package build compiles (tools/ci/packages:
# build, module, devhost, tools), build-essential aside, which Debian
# implies; versions and build profiles are not compared.
deb_check_build_depends() {
  local control wanted
  control=$(sed -n '/^Build-Depends:/,/^[^ ]/{/^ /p}' "$here/debian/control" |
    sed -e 's/[ ,]*$//' -e 's/^ *//' -e 's/ .*//' | grep -v '^debhelper-compat$' | sort | tr '\n' ' ')
  wanted=$(packages_for build module devhost tools | tr ' ' '\n' | grep -v -e '^build-essential$' -e '^$' | sort | tr '\n' ' ')
  [ "$control" = "$wanted" ] ||
    deb_fail "debian/control's Build-Depends ($control) differ from tools/ci/packages' build, module, devhost and tools ($wanted)"
}

# deb_source_copy DIR: puts the checkout's files (tracked or new, not
# ignored; as they are in the work tree) and the login page's node-forge
# into DIR, emptied first.
# dpkg-buildpackage builds in the source folder and writes the packages into
# its parent, so a copy keeps the build's leftovers out of the checkout and
# the packages inside it.
deb_source_copy() {
  local dir=$1 f
  rm -rf "$dir"
  mkdir -p "$dir"
  git -C "$here" ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do
      [ -e "$here/$f" ] && printf '%s\0' "$f"
    done | tar -C "$here" --null -T - -cf - | tar -C "$dir" -xf -
  # The login page's node-forge, which git ignores: npm ci installs it
  # from web/package-lock.json (integrity-checked, so the same bytes each
  # time), and the copy takes only what the page is built from and its
  # licence.  debian/rules builds the page with QUORVANE_WEB_PAGE=ON.
  web_modules
  f=web/node_modules/node-forge
  mkdir -p "$dir/$f/dist"
  cp "$here/$f/package.json" "$here/$f/LICENSE" "$dir/$f/"
  cp "$here/$f/dist/forge.min.js" "$dir/$f/dist/"
}

# deb_build DIR [OPTION...]: dpkg-buildpackage -b in the source copy DIR,
# with every core and no test run (the package build compiles no tests:
# debian/rules); the packages, .buildinfo and .changes land in DIR/..
# (older ones are removed first).  The log goes to DIR/../build.log, and its
# end to stderr when the build fails.  A ccache in the environment may serve
# the compiler, but without CCACHE_BASEDIR: that hands the compiler relative
# paths, which then stand in __FILE__ instead of the mapped ones.
deb_build() {
  local dir=$1 out
  shift
  out=$(dirname "$dir")
  rm -f "$out"/*.deb "$out"/*.buildinfo "$out"/*.changes
  if ! (cd "$dir" && unset CCACHE_BASEDIR && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" \
    dpkg-buildpackage -b --no-sign "$@") >"$out/build.log" 2>&1; then
    tail -n 40 "$out/build.log" >&2
    deb_fail "dpkg-buildpackage failed; the whole log is in $out/build.log"
  fi
}

# deb_summary DEB...: each package's fields and files, with sizes.
deb_summary() {
  local deb
  for deb in "$@"; do
    ls -l "$deb"
    dpkg-deb -f "$deb" Package Version Architecture Multi-Arch Depends Installed-Size | sed 's/^/    /'
    dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ { printf "    %8d %s\n", $3, $6 }'
  done
}

# deb_lintian CHANGES: lintian on the .changes and every package it names;
# fails on any error or warning.  Informational tags are shown too.
deb_lintian() {
  local status=0
  # lintian's note that it runs as root is not about the packages.
  lintian --fail-on error,warning --display-info "$1" 2> >(grep -v 'running with root privileges' >&2) ||
    status=$?
  [ "$status" -eq 0 ] || deb_fail "lintian reports errors or warnings (exit $status)"
  echo "lintian: no error, no warning"
}

# deb_hardening ARCH DEB...: hardening-check on every ELF file in the
# packages, and the compiler flags that every compile unit recorded in the
# matching -dbgsym packages (beside them).
#
# hardening-check's control-flow test looks for the IBT and SHSTK property
# note, which the linker keeps only when every linked object has it; Debian
# 12's C library start files (crti.o, crtn.o, Scrt1.o) lack it, so no
# program or library linked on Debian 12 carries the note.  The same holds
# for arm64's BTI note.  That test is therefore left to the recorded flags:
# every compile unit must have been built with the architecture's
# control-flow protection and with stack-clash protection, which
# hardening-check can only report as "unknown".
deb_hardening() {
  local arch=$1 deb dbgsym dir elf found=0 producers cfi flag tool path=$PATH
  shift
  dir=$(mktemp -d -t quorvane-hardening.XXXXXX)
  # hardening-check disassembles with objdump, which must know the
  # architecture: the cross binutils' for arm64.
  if [ "$arch" = arm64 ]; then
    mkdir "$dir/bin"
    for tool in objdump readelf; do
      ln -s "$(command -v aarch64-linux-gnu-$tool)" "$dir/bin/$tool"
    done
    path=$dir/bin:$PATH
  fi
  for deb in "$@"; do
    dpkg -x "$deb" "$dir/files"
    dbgsym=$(basename "$deb")
    dbgsym=$(dirname "$deb")/${dbgsym/_/-dbgsym_}
    [ -f "$dbgsym" ] || deb_fail "no debug symbols package $dbgsym"
    dpkg -x "$dbgsym" "$dir/debug"
  done
  while IFS= read -r -d '' elf; do
    [ "$(head -c 4 "$elf" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
    found=$((found + 1))
    (cd "$dir/files" && PATH=$path hardening-check --nocfprotection "${elf#"$dir/files/"}") || {
      rm -rf "$dir"
      deb_fail "hardening-check failed on /${elf#"$dir/files/"}"
    }
  done < <(find "$dir/files" -type f -print0 | sort -z)
  [ "$found" -gt 0 ] || deb_fail "no ELF file in $*"

  case $arch in
    amd64) cfi='-fcf-protection(=full)?' ;;
    arm64) cfi='-mbranch-protection=standard' ;;
    *) deb_fail "no control-flow protection flag known for $arch" ;;
  esac
  # Each distinct DW_AT_producer string (the compiler and its code
  # generation flags), from the debug files' string tables, decompressed;
  # dwz moves the strings that files share into one file under .dwz/.
  producers=$(find "$dir/debug" -type f -exec readelf -z -p .debug_str {} \; 2>/dev/null |
    sed -n 's/^ *\[ *[0-9a-f]*\]  *\(GNU C.*\)$/\1/p' | sort -u || true)
  rm -rf "$dir"
  [ -n "$producers" ] || deb_fail "no compile unit found in the debug symbols"
  for flag in -fstack-protector-strong -fstack-clash-protection "$cfi"; do
    if grep -Ev -e " $flag( |\$)" <<<"$producers" | grep -q .; then
      deb_fail "compile units built without $flag: $(grep -Ev -e " $flag( |\$)" <<<"$producers")"
    fi
  done
  echo "hardening-check passed on $found ELF files; every compile unit was built with" \
    "-fstack-protector-strong -fstack-clash-protection ${cfi%%(*}"
}
