#!/usr/bin/env bash
# The reliability checks alone, as .ci/run runs them after its suites (the crash-safety
# test needs build/release from the release suite):
#   1. every libFuzzer harness for 30 s on its seed corpus (the asan-ubsan build);
#   2. ThreadSanitizer on the calibration, simulation and command-line tests;
#   3. the crash-safety test of the command line (kill -9 at every rename of a commit,
#      by strace's fault injection) and the other reliability tests, on the release build.
# Parallelism: TARVEX_JOBS (default: every core).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
./scripts/fuzz.sh 30
echo "fuzzing done after $(( $(date +%s) - start )) s"
./scripts/tsan.sh
echo "ThreadSanitizer done after $(( $(date +%s) - start )) s"
command -v strace >/dev/null || { echo "strace is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
build/release/apps/tarvex/tests/tarvex_app_tests --gtest_brief=1 --gtest_filter='tarvex_reliability.*'
echo "reliability checks finished in $(( $(date +%s) - start )) s"
