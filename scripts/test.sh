#!/usr/bin/env bash
# Set-up and tests: installs the build dependencies, builds a preset (default release)
# and runs its whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-release}"
./scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j "$(nproc)"
