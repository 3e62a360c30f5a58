#!/usr/bin/env bash
# tools/ci/module_alone.sh BUILD_DIR: configures and builds the module alone,
# as an integrator builds it against the appliance's host: another host's
# declarations and library (here the contract-minimal host's, from
# BUILD_DIR/lib), no tests and no tools.  That configure sees ACE's
# pkg-config file and no other, and may find no CMake package: the module
# must need the compiler, CMake, Ninja and ACE only.  Builds into
# BUILD_DIR-module.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$here"
build=${1:?usage: module_alone.sh BUILD_DIR}
out=$build-module
host_library=$(cd "$build/lib" && pwd)/libquorvane-minimal-host.so
[ -f "$host_library" ] || { echo "no $host_library: build $build first" >&2; exit 1; }

pc_dir=$(mktemp -d -t quorvane-pc.XXXXXX)
trap 'rm -rf "$pc_dir"' EXIT
cp "$(pkg-config --variable=pcfiledir ACE)/ACE.pc" "$pc_dir/"
hidden=()
for p in OpenSSL CURL nlohmann_json GTest benchmark; do
  hidden+=("-DCMAKE_DISABLE_FIND_PACKAGE_$p=ON")
done

rm -rf "$out"
PKG_CONFIG_LIBDIR=$pc_dir PKG_CONFIG_PATH='' cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_TESTING=OFF -DQUORVANE_TOOLS=OFF -DQUORVANE_BENCHMARKS=OFF "${hidden[@]}" \
  -DQUORVANE_HOST_INCLUDE_DIR="$here/devhost/minimal/include" -DQUORVANE_HOST_LIBRARIES="$host_library" >/dev/null
cmake --build "$out"
[ -f "$out/lib/libquorvane.so" ] || { echo "the module was not built" >&2; exit 1; }
# Nothing but the module: no host of ours, no program, no test.
extra=$(cmake --build "$out" --target help | sed -n 's/^\([^:]*\): .*/\1/p' |
  grep -e devhost -e minimal_host -e '^quorvane-' -e _test -e test_support || true)
[ -z "$extra" ] || { echo "built more than the module: $extra" >&2; exit 1; }
echo "the module alone, against the contract-minimal host, with ACE the only package found: $out/lib/libquorvane.so"
