#!/usr/bin/env bash
# ./dev check: the project's proofs beyond the test suite.
#   1. the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer
#      (with LeakSanitizer), the allocation-failure sweep and the soak included;
#   2. the concurrency tests under ThreadSanitizer (suppressions, each with
#      its reason, in tools/ci/tsan.supp);
#   3. the planted host faults: the host contract suite must catch each one
#      (tools/ci/host_faults.sh);
#   4. each libFuzzer target for a bounded time (FUZZ_SECONDS, default 60);
#   5. the Debian packages: built twice (byte-identical), lintian,
#      hardening-check, and run from a temporary root (tools/ci/package.sh);
#   6. logins through nginx (TLS 1.3, TLS 1.2) and tinyproxy (tools/ci/interop.sh);
#   7. the module's line coverage by the suite (tools/ci/coverage.sh): every
#      line of quorvane/, scrt/ and json_spirit/ must run;
#   8. the module's interface with the host against the ABI baseline in abi/
#      (tools/ci/abi.sh);
#   9. the login page in headless Chromium and /rpc through a JSON-RPC
#      client, against quorvane-host serve and the emulator
#      (tools/ci/browser.sh);
#  10. the whole tree built by clang as well (warnings are errors there too,
#      benchmarks included) and the suite run from that build: a second
#      compiler's warnings and code generation catch what g++ lets through;
#  11. clang-tidy and cppcheck over the product's and the tools' sources
#      (tools/ci/lint.sh, also ./dev lint);
#  12. a sample of the mutants of ./dev mutate (MUTATE_SAMPLE of them,
#      default 16), chosen from the commit and weighted toward the files of
#      the last commits: any survivor that tools/ci/mutation-equivalent.txt
#      does not list fails the check and is printed as a diff.
# Each step prints its time; any failure stops the check with a non-zero exit.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$here"
jobs=$(nproc)
# shellcheck source=tools/ci/lib.sh
. "$here/tools/ci/lib.sh"

# step NAME COMMAND...: runs one timed step.
step() {
  begin "$1"
  shift
  "$@"
  end
}

configure() {
  local dir=$1
  shift
  [ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVANE_BENCHMARKS=OFF "$@" >/dev/null
}

# The tests whose point is threads: the worker pool, the REST client's
# shared pool, the crypto caches, the key store, concurrent logins, the
# host program's rpc, and the soak.
concurrency_tests='^(devhost_json_rpc_test|login_end_to_end_test|devhost_json_restful_client_test|devhost_crypto_test|devhost_host_manager_test|host_program_test|fault_soak_test)$'

asan() {
  configure build-asan -DQUORVANE_SANITIZE=address,undefined
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 900
}

tsan() {
  configure build-tsan -DQUORVANE_SANITIZE=thread
  cmake --build build-tsan -j "$jobs" --target quorvane quorvane-host quorvane-mock-service devhost_json_rpc_test \
    login_end_to_end_test devhost_json_restful_client_test devhost_crypto_test devhost_host_manager_test \
    host_program_test fault_soak_test
  TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$here/tools/ci/tsan.supp" \
    ctest --test-dir build-tsan --output-on-failure -j "$jobs" --timeout 900 -R "$concurrency_tests"
}

clang_suite() {
  CC=clang CXX=clang++ configure build-clang -DQUORVANE_BENCHMARKS=ON
  cmake --build build-clang -j "$jobs"
  ctest --test-dir build-clang --output-on-failure -j "$jobs" --timeout 900
}

step "AddressSanitizer + UBSan: whole suite" asan
step "ThreadSanitizer: concurrency tests" tsan
step "Planted host faults: the host contract suite catches each" "$here/tools/ci/host_faults.sh"
step "libFuzzer: every target" "$here/tools/ci/fuzz.sh"
step "Debian packages: reproducible, lintian, hardening, probe and login" "$here/tools/ci/package.sh"
step "Interoperability: nginx and tinyproxy" "$here/tools/ci/interop.sh"
step "Coverage: every line of the module" "$here/tools/ci/coverage.sh"
step "ABI: the module's interface with the host against abi/" "$here/tools/ci/abi.sh"
step "Login page: Chromium and a JSON-RPC client against serve" "$here/tools/ci/browser.sh"
step "clang: the whole tree and the suite" clang_suite
step "Static analysis: clang-tidy and cppcheck" "$here/tools/ci/lint.sh"
step "Mutation testing: a sample of the mutants" /usr/bin/python3 "$here/tools/ci/mutate.py" \
  --sample "${MUTATE_SAMPLE:-16}"

say "./dev check passed; step times:"
step_times
