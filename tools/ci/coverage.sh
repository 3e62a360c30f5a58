#!/usr/bin/env bash
# Line and branch coverage of the module's code (quorvane/, scrt/,
# json_spirit/) by the test suite: builds the suite with --coverage into its
# own build directory, runs it, and reads the counts.  Lines: gcovr; every
# line must run, and a line that no test can reach carries a
# GCOVR_EXCL_LINE marker (or a GCOVR_EXCL_START/STOP pair) whose comment
# gives the reason.  Branches: tools/ci/branches.py, which says what it
# does not count (the exception edges compilers add to calls, a catch
# clause's type test); every other branch must be taken, and one that no
# test can take carries a GCOVR_EXCL_BR_LINE marker with its reason.
#
#   tools/ci/coverage.sh [BUILD_DIR]     (default build-coverage)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$here"
# shellcheck source=tools/ci/lib.sh
. "$here/tools/ci/lib.sh"
# shellcheck disable=SC2046 # package names are words
ensure_packages $(packages_for coverage)

dir=${1:-build-coverage}
jobs=$(nproc)
folders=(quorvane scrt json_spirit)

if [ ! -f "$dir/build.ninja" ]; then
  # Debug: no inlining or folding, so each source line keeps its own count.
  # The tests run servers and clients on threads of one process: without
  # atomic updates their counters race, and gcov then reports negative
  # counts that gcovr refuses to read.
  flags="--coverage -fprofile-update=atomic"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVANE_BENCHMARKS=OFF \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage \
    -DCMAKE_MODULE_LINKER_FLAGS=--coverage >/dev/null
fi
cmake --build "$dir" -j "$jobs"
# Counts of this run only.
find "$dir" -name '*.gcda' -delete
# The soak measures time and memory at native speed; it adds nothing to the
# module's coverage that the other tests do not.
ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 900 -E '^fault_soak_test$'

filter=$(IFS='|'; echo "${folders[*]}")
report="$dir/coverage.json"
# CMake's compiler checks leave counts of their own behind; they are not ours.
gcovr --root "$here" --object-directory "$dir" --filter "$here/($filter)/" \
  --exclude-directories "$dir/CMakeFiles/[0-9]" --json "$report" "$dir" >/dev/null

python3 - "$report" "${folders[@]}" <<'PY'
import json, sys
report, folders = sys.argv[1], sys.argv[2:]
data = json.load(open(report))
totals = {f: [0, 0] for f in folders}  # lines run, lines
missed = []
for entry in data["files"]:
    name = entry["file"]
    folder = name.split("/", 1)[0]
    if folder not in totals:
        continue
    t = totals[folder]
    for line in entry["lines"]:
        if line.get("gcovr/noncode") or line.get("gcovr/excluded"):
            continue
        t[1] += 1
        if line["count"] > 0:
            t[0] += 1
        else:
            missed.append("%s:%d" % (name, line["line_number"]))
pct = lambda a, b: 100.0 * a / b if b else 100.0
all_ = [0, 0]
for f in folders:
    t = totals[f]
    all_ = [x + y for x, y in zip(all_, t)]
    print("%-12s lines    %6.1f%% (%4d/%4d)" % (f + "/", pct(t[0], t[1]), t[0], t[1]))
print("%-12s lines    %6.1f%% (%4d/%4d)" % ("all", pct(all_[0], all_[1]), all_[0], all_[1]))
if missed:
    print("lines no test ran:")
    for m in sorted(missed):
        print("  " + m)
    sys.exit(1)
PY
/usr/bin/python3 "$here/tools/ci/branches.py" "$here" "$dir" "${folders[@]}"
