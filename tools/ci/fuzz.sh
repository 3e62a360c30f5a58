#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UBSan) in
# build-fuzz/ and runs each for a bounded time, starting from its seed corpus
# in fuzz/corpus/<target>/.  New inputs go to build-fuzz/fuzz-work/<target>/,
# never into the repository.  Prints each target's executions per second and
# total executions; exits non-zero when a target finds a crash, a leak or a
# timeout, with the path of the saved input.
#
#   tools/ci/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS per target (default FUZZ_SECONDS, else 60); TARGET is one of
# login_rpc, signed_get, percent_encoding, http_base (default: all).
# Environment: FUZZ_BUILD_DIR (build-fuzz), FUZZ_JOBS (build jobs, 2),
# FUZZ_PARALLEL (targets run at once, 1).
#
# To reproduce a saved input:  build-fuzz/bin/fuzz_<target> <file>
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$here"

all_targets=(login_rpc signed_get percent_encoding http_base)
build_dir=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-2}
parallel=${FUZZ_PARALLEL:-1}

if [ $# -gt 0 ] && [[ $1 =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
  if [ ! -d "fuzz/corpus/$t" ]; then
    echo "fuzz.sh: unknown target '$t' (one of: ${all_targets[*]})" >&2
    exit 2
  fi
done

say() { printf '\033[1m==> %s\033[0m\n' "$*" >&2; }

if [ ! -f "$build_dir/build.ninja" ]; then
  say "configuring $build_dir"
  CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DQUORVANE_FUZZ=ON -DBUILD_TESTING=OFF \
    -DQUORVANE_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
say "building the fuzz targets in $build_dir"
build_targets=()
for t in "${targets[@]}"; do build_targets+=("fuzz_$t"); done
cmake --build "$build_dir" -j "$jobs" --target "${build_targets[@]}" >"$build_dir/fuzz-build.log" 2>&1 || {
  tail -n 50 "$build_dir/fuzz-build.log" >&2
  exit 1
}

build_abs=$(cd "$build_dir" && pwd)
work_root=$build_abs/fuzz-work

# Runs one target; its whole output goes to <work>/fuzz.log.
run_target() {
  local t=$1
  local work=$work_root/$t
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp fuzz/corpus/"$t"/* "$work/corpus/"
  local dict=()
  [ -f "fuzz/$t.dict" ] && dict=("-dict=$here/fuzz/$t.dict")
  local rc=0
  (cd "$work" && "$build_abs/bin/fuzz_$t" "${dict[@]}" -max_total_time="$seconds" \
    -print_final_stats=1 -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$work/artifacts/" \
    "$work/corpus") >"$work/fuzz.log" 2>&1 || rc=$?
  echo "$rc" >"$work/rc"
}

say "fuzzing ${targets[*]} for ${seconds}s each"
running=0
for t in "${targets[@]}"; do
  run_target "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

status=0
printf '%-18s %12s %16s %10s  %s\n' target exec/s total-execs corpus result
for t in "${targets[@]}"; do
  work=$work_root/$t
  log=$work/fuzz.log
  rc=$(cat "$work/rc")
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  corpus=$(find "$work/corpus" -type f | wc -l)
  artifacts=$(find "$work/artifacts" -type f | sort)
  result=ok
  if [ "$rc" != 0 ] || [ -n "$artifacts" ]; then
    result="FAILED (exit $rc)"
    status=1
  fi
  printf '%-18s %12s %16s %10s  %s\n' "$t" "${rate:-?}" "${execs:-?}" "$corpus" "$result"
  if [ "$result" != ok ]; then
    echo "---- $t: end of $log" >&2
    grep -v -E '^#[0-9]+\s+(NEW|REDUCE|pulse)' "$log" | tail -n 60 >&2
    for a in $artifacts; do
      echo "---- $t: input saved in $a (reproduce: $build_dir/bin/fuzz_$t $a)" >&2
    done
  fi
done
exit "$status"
