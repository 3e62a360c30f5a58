#!/usr/bin/env bash
# The ABI check: the module's interface with the host, as a Release build
# compiles it, against the baseline kept in abi/.
#
#   tools/ci/abi.sh            compare; fails on any difference (abidiff's report)
#   tools/ci/abi.sh --update   rewrite the baseline after an intended change
#
# The corpus is libquorvane-abi.so (abi/CMakeLists.txt): the module's code
# and a probe that makes every host type the module compiles in reachable,
# read by abidw from a Release build with debug information (the
# class definitions included even where the host holds a class's key function).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$here"
# shellcheck source=tools/ci/lib.sh
. "$here/tools/ci/lib.sh"

update=false
case "${1:-}" in
  "") ;;
  --update) update=true ;;
  *)
    sed -n '4,6p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
    ;;
esac

# shellcheck disable=SC2046 # package names are words
ensure_packages $(packages_for abi)
dir=${QUORVANE_ABI_BUILD_DIR:-build-abi}
baseline=abi/quorvane-host-interface.abi
[ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  "-DCMAKE_CXX_FLAGS=-g -femit-class-debug-always" -DQUORVANE_ABI=ON -DBUILD_TESTING=OFF \
  -DQUORVANE_BENCHMARKS=OFF >/dev/null
cmake --build "$dir" --target quorvane_abi
# Locations without directories, no build paths: the same sources give the
# same text on any machine.
abidw --no-corpus-path --short-locs --no-comp-dir-path --type-id-style hash \
  --out-file "$dir/quorvane-host-interface.abi" "$dir/lib/libquorvane-abi.so"

if $update; then
  cp "$dir/quorvane-host-interface.abi" "$baseline"
  say "updated $baseline; commit it with the change that made it"
  exit 0
fi
if ! abidiff "$baseline" "$dir/quorvane-host-interface.abi"; then
  say "the module's interface with the host differs from $baseline (report above)."
  say "If the change is intended, run tools/ci/abi.sh --update and commit the baseline with it."
  exit 1
fi
say "the module's interface with the host matches $baseline"
