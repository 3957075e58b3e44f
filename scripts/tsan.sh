#!/usr/bin/env bash
# ThreadSanitizer (preset `tsan`) on the calibration, simulation and command-line tests:
# only those targets are built, and ctest runs their cases in parallel.
# Parallelism: TARVEX_JOBS (default: every core).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="${TARVEX_JOBS:-$(nproc)}"
tests=(analytics_calibration_tests analytics_calibration_hjm_tests analytics_simulation_tests tarvex_app_tests)
cmake --preset tsan >/dev/null
cmake --build build/tsan -j "$jobs" --target "${tests[@]}" tarvex
# oneTBB's own hand-offs are suppressed (see the file); nothing else is.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"
# The test executables left unbuilt stand in ctest as <target>_NOT_BUILT.
ctest --test-dir build/tsan -j "$jobs" --output-on-failure -E '_NOT_BUILT$'
echo "ThreadSanitizer passed: ${tests[*]}"
