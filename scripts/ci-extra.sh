#!/usr/bin/env bash
# The reliability checks, after the release suite of .ci/run (it needs build/release):
#   1. every libFuzzer harness for 30 s on its seed corpus (clang 14, ASan + UBSan);
#   2. ThreadSanitizer on the calibration, simulation and command-line tests;
#   3. the crash-safety test of the command line (kill -9 at every rename of a commit,
#      by strace's fault injection) and the other reliability tests, on the release build.
# Parallelism: TARVEX_JOBS (default: every core).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
jobs="${TARVEX_JOBS:-$(nproc)}"

TARVEX_JOBS="$jobs" ./scripts/fuzz.sh 30
echo "fuzzing done after $(( $(date +%s) - start )) s"

tsan_tests=(analytics_calibration_tests analytics_calibration_hjm_tests analytics_simulation_tests tarvex_app_tests)
cmake --preset tsan >/dev/null
cmake --build build/tsan -j "$jobs" --target "${tsan_tests[@]}" tarvex
# oneTBB's own hand-offs are suppressed (see the file); nothing else is.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"
for t in "${tsan_tests[@]}"; do
  binary=$(find build/tsan -type f -name "$t" -perm -u+x | head -n 1)
  echo "== ThreadSanitizer: $t"
  "$binary" --gtest_brief=1
done
echo "ThreadSanitizer done after $(( $(date +%s) - start )) s"

command -v strace >/dev/null || { echo "strace is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
build/release/apps/tarvex/tests/tarvex_app_tests --gtest_brief=1 --gtest_filter='tarvex_reliability.*'
echo "reliability checks finished in $(( $(date +%s) - start )) s"
