#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and runs the agent in the console.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
# The upgrade public key comes from the environment; without one the agent
# refuses every upgrade. The configure output stays visible: it names the key
# built in ("Upgrade public key: <file>" or "none") and why a key is refused.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTW_TESTS=OFF -DTW_BENCH=OFF -DUA_UPGRADE_PUBLIC_KEY="${UA_UPGRADE_PUBLIC_KEY:-}"
cmake --build build/release --target update_agent -j "$(nproc)"
exec build/release/update_agent/update_agent -debug "$@"
