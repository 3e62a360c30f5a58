#!/usr/bin/env bash
# Planted host faults: the host contract suite must catch each of them.
#
#   tools/ci/host_faults.sh [FAULT...]     (FAULT: a patch's number or name part)
#
# Copies the contract-minimal host (devhost/, with the headers it includes
# from the tree) into build-faults/src/, builds it there once
# (build-faults/host/) and host_contract_test against it once
# (build-faults/suite/, from this tree), and checks that the unchanged copy
# passes the suite.  Then, for each patch in tests/host_contract/faults/
# (or the ones named), it applies the patch to the copy, rebuilds (only the
# patched files compile and the host library relinks; the suite, which
# loads the library at run time, rebuilds only when a patch changes one of
# the host's headers), runs host_contract_test alone and reverts the patch.  Every fault must make at
# least one check fail; the script prints, per fault, the checks that
# caught it, and fails when one went through.
#
# The copy's REST client gives up after 2 s instead of 30 s (the defaults in
# the copy's devhost/harness/rest_options.h), and the suite's silent-service check
# waits 10 s instead of 150 s: a correct host's timeout then costs 2 s per
# variant, a missing one 10 s.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$here"
# shellcheck source=tools/ci/lib.sh
. "$here/tools/ci/lib.sh"
work=$here/build-faults
src=$work/src
faults_dir=$here/tests/host_contract/faults
jobs=$(nproc)
start=$SECONDS

# The copy: the host's sources and the tree's headers they include, with
# the files' times, so that an unchanged file does not rebuild.  After a run
# that stopped with a patch applied, every file is touched instead.
copy_host() {
  rm -rf "$src"
  mkdir -p "$src"
  cp -a "$here/devhost" "$here/host" "$here/scrt" "$src/"
  sed -i -e 's/connect_timeout_ms = 10000;/connect_timeout_ms = 2000;/' \
    -e 's/timeout_ms = 30000;/timeout_ms = 2000;/' "$src/devhost/harness/rest_options.h"
  touch -r "$here/devhost/harness/rest_options.h" "$src/devhost/harness/rest_options.h"
  [ ! -f "$work/patched" ] || find "$src" -type f -exec touch {} +
  grep -q 'timeout_ms = 2000;' "$src/devhost/harness/rest_options.h" || {
    echo "host_faults: cannot shorten the copy's timeouts (devhost/harness/rest_options.h changed?)" >&2
    exit 1
  }
  cat >"$src/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.18)
project(quorvane_fault_host CXX)
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
add_compile_options(-Wall -Wextra -Werror)
find_package(PkgConfig REQUIRED)
pkg_check_modules(ACE REQUIRED IMPORTED_TARGET ACE)
find_package(OpenSSL 3 REQUIRED)
find_package(CURL REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(Threads REQUIRED)
include_directories(${PROJECT_SOURCE_DIR})
add_subdirectory(devhost/minimal)
EOF
}

# build: the host library, and the suite when a header changed since its
# last build (suite_stale).
suite_stale=1
build() {
  cmake --build "$work/host" -j "$jobs" >"$work/build.log" 2>&1 || return 1
  [ "$suite_stale" -eq 0 ] && return 0
  cmake --build "$work/suite" -j "$jobs" --target host_contract_test >>"$work/build.log" 2>&1 || return 1
  suite_stale=0
}
touches_headers() { grep -q '^+++ b/\(host\|devhost/minimal/include\)/' "$1"; }

# run_suite LOG: runs host_contract_test; prints the checks that failed,
# or the one that was running when the program died; true when all passed.
run_suite() {
  local log=$1 rc=0
  QUORVANE_TEST_SILENT_DEADLINE_S=10 timeout 300 "$work/suite/bin/host_contract_test" >"$log" 2>&1 || rc=$?
  [ "$rc" -eq 0 ] && return 0
  local failed
  failed=$(sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_]*\.[A-Za-z0-9_]*\).*/\1/p' "$log" | sort -u | paste -sd, -)
  if [ -z "$failed" ]; then
    local running
    running=$(grep '^\[ RUN      \]' "$log" | tail -n 1 | sed 's/^\[ RUN      \] //')
    if [ "$rc" -eq 124 ]; then failed="(hung in $running)"; else failed="(died in $running, status $rc)"; fi
  fi
  echo "$failed"
  return 1
}

patches=()
if [ $# -eq 0 ]; then
  patches=("$faults_dir"/*.patch)
else
  for want in "$@"; do
    found=$(find "$faults_dir" -name "*$want*.patch" | sort | head -n 1)
    [ -n "$found" ] || { echo "host_faults: no fault matches '$want'" >&2; exit 2; }
    patches+=("$found")
  done
fi
total=${#patches[@]}

say "host faults: the copy of the contract-minimal host and the suite against it"
mkdir -p "$work"
copy_host
[ -f "$work/host/build.ninja" ] || cmake -S "$src" -B "$work/host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
[ -f "$work/suite/build.ninja" ] || cmake -S "$here" -B "$work/suite" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVANE_BENCHMARKS=OFF -DQUORVANE_HOST_INCLUDE_DIR="$src/devhost/minimal/include" \
  -DQUORVANE_HOST_LIBRARIES="$work/host/lib/libquorvane-minimal-host.so" >/dev/null
build || { cat "$work/build.log" >&2; exit 1; }
if ! failed=$(run_suite "$work/baseline.log"); then
  cat "$work/baseline.log" >&2
  echo "host_faults: the unchanged copy fails the suite ($failed): nothing to compare with" >&2
  exit 1
fi
say "the unchanged copy passes the suite ($((SECONDS - start)) s)"

results=()
missed=0
n=0
touch "$work/patched"
for patch in "${patches[@]}"; do
  n=$((n + 1))
  name=$(basename "$patch" .patch)
  say "fault $n of $total: $name, elapsed $((SECONDS - start)) s"
  head -n 1 "$patch" >&2
  (cd "$src" && patch -s -p1 <"$patch") || { echo "host_faults: $name does not apply" >&2; exit 1; }
  ! touches_headers "$patch" || suite_stale=1
  if ! build; then
    cat "$work/build.log" >&2
    echo "host_faults: $name does not build" >&2
    exit 1
  fi
  if failed=$(run_suite "$work/$name.log"); then
    results+=("$(printf '%-40s MISSED: every check passed' "$name")")
    missed=$((missed + 1))
  else
    results+=("$(printf '%-40s %s' "$name" "$failed")")
  fi
  (cd "$src" && patch -s -R -p1 <"$patch")
  ! touches_headers "$patch" || suite_stale=1
done
build || { cat "$work/build.log" >&2; exit 1; }
rm -f "$work/patched"

say "host faults: $((total - missed)) of $total caught, $((SECONDS - start)) s"
printf '%s\n' "${results[@]}"
if [ "$missed" -ne 0 ]; then
  echo "host_faults: $missed fault(s) went through the suite (logs in $work/)" >&2
  exit 1
fi
