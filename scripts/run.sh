#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and runs the agent in the console.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTW_TESTS=OFF -DTW_BENCH=OFF >/dev/null
cmake --build build/release --target update_agent -j "$(nproc)"
exec build/release/update_agent/update_agent -debug "$@"
