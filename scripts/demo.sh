#!/usr/bin/env bash
# Set-up and main job: installs the build dependencies, builds the release preset and
# runs `tarvex demo` on the bundled sample market, writing into ./tarvex-demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target tarvex
./build/release/apps/tarvex/tarvex demo -o tarvex-demo
