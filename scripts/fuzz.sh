#!/usr/bin/env bash
# Builds the libFuzzer harnesses (in the asan-ubsan build: clang 14, ASan + UBSan, every
# target instrumented for libFuzzer) and runs each for SECONDS (default 30) on its seed
# corpus, with the memory limits that catch a reader allocating from an untrusted count. New inputs go to a scratch folder; a crash
# leaves its input in build/asan-ubsan/findings/. Usage: scripts/fuzz.sh [SECONDS] [HARNESS...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(access_fuzz library_json_fuzz library_binary_fuzz command_line_fuzz)

cmake --preset asan-ubsan >/dev/null
cmake --build build/asan-ubsan -j "${TARVEX_JOBS:-$(nproc)}" --target "${harnesses[@]}"
mkdir -p build/asan-ubsan/findings
# The harnesses write each input to a file (the readers take paths) and the writers
# sync: on a memory file system that costs nothing.
memory=/dev/shm
[ -d "$memory" ] && [ -w "$memory" ] || memory="${TMPDIR:-/tmp}"
TMPDIR=$(mktemp -d -p "$memory")
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
for h in "${harnesses[@]}"; do
  scratch=$(mktemp -d -p build/asan-ubsan)
  echo "== $h: ${seconds} s"
  log="build/asan-ubsan/findings/$h.log"
  status=0
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build/asan-ubsan/fuzz/$h" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=512 -timeout=20 \
    -print_final_stats=1 -artifact_prefix="build/asan-ubsan/findings/$h-" "$scratch" "fuzz/corpus/$h" >"$log" 2>&1 ||
    status=$?
  grep -E "stat::number_of_executed_units|SUMMARY|ERROR|Test unit written" "$log" || true
  rm -rf "$scratch"
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$log" >&2
    echo "$h: failed (status $status); the input and the log are in build/asan-ubsan/findings/" >&2
    exit 1
  fi
done
echo "fuzzing passed: ${#harnesses[@]} harnesses, ${seconds} s each"
