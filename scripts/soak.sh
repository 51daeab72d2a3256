#!/usr/bin/env bash
# The long runs behind the figures in docs/reliability.md, in an optimised build
# without sanitizers (build/soak), so that resident sizes are the agent's own.
#
#   bash scripts/soak.sh [SECONDS]   (default 600)
#
# 1. The full house: 100 clients x 1000 Connect requests, the 101st refused,
#    slots reaped.
# 2. The soak: rounds of that load for SECONDS, the agent's threads, descriptors
#    and resident size read from /proc after every round.
# 3. The fault tests (resets at every stage, kills and restarts, writers killed
#    at random points) with their loops lengthened.
# The short variants of all three run in CI with the unit tests.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-600}
cmake -S . -B build/soak -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_BENCH=OFF \
      -DUA_UPGRADE_PUBLIC_KEY=tests/update_agent/keys/upgrade-test-public.pem >/dev/null
cmake --build build/soak -j "${SOAK_JOBS:-4}" --target test_update_agent
export TW_LOAD_REQUESTS=1000 TW_FAULT_ROUNDS=${TW_FAULT_ROUNDS:-200}
build/soak/tests/test_update_agent --gtest_filter='LoadTest.FullHouse*:FaultTest.*'
TW_LOAD_SOAK_SECONDS=$secs build/soak/tests/test_update_agent --gtest_filter='LoadTest.Soak*'
