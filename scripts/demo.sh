#!/usr/bin/env bash
# Set-up and main job: installs the build dependencies, builds the release preset and
# runs the example on bundled data, writing into ./tarvex-demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target hjm_parameters_round_trip
./build/release/examples/hjm_parameters_round_trip tarvex-demo
