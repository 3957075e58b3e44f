#!/usr/bin/env bash
# Installs the Debian packages the build needs; safe to run again.
set -euo pipefail
pkgs=(g++ cmake ninja-build ccache pkg-config nlohmann-json3-dev libtbb-dev libsleef-dev
      libgtest-dev libgmock-dev libbenchmark-dev librandom123-dev libboost-random-dev gnuplot-nox
      strace clang-14 libclang-rt-14-dev time)  # strace: the crash-safety test; clang: the clang and
                                                # asan-ubsan presets; time: scripts/simulate-memory.sh
missing=()
for p in "${pkgs[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
