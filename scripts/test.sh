#!/usr/bin/env bash
# Installs what is missing, builds the sanitizer test configuration and runs
# every test. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh clang libclang-rt-14-dev openssl xxd python3 python3-cryptography libxml2-utils
jobs=$(nproc)

# Unit tests under AddressSanitizer + UndefinedBehaviorSanitizer (benchmarks build too).
# The agent here carries the tests' own upgrade key, so signed upgrades can be served
# end to end; the clang build below carries none and must refuse every upgrade.
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTW_SANITIZE=ON \
      -DUA_UPGRADE_PUBLIC_KEY=tests/update_agent/keys/upgrade-test-public.pem >/dev/null
cmake --build build/test -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build/test && ctest --output-on-failure -j "$jobs" --timeout 300)

# The same suite built by clang without sanitizers: proves the second compiler and runs
# the tests a sanitizer's own allocator would hide (allocation failure).
cmake -S . -B build/clang -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ -DTW_BENCH=OFF -DUA_UPGRADE_PUBLIC_KEY= >/dev/null
cmake --build build/clang -j "$jobs"
(cd build/clang && ctest --output-on-failure -j "$jobs" --timeout 300)

# The network layers, the service host and the agent under ThreadSanitizer: only
# those three test programs are built, to keep the run short.
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTW_TSAN=ON -DTW_BENCH=OFF \
      -DUA_UPGRADE_PUBLIC_KEY=tests/update_agent/keys/upgrade-test-public.pem >/dev/null
cmake --build build/tsan -j "$jobs" --target test_loam_netobjects test_loam_service \
      test_update_agent
(cd build/tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
   ctest --output-on-failure -j "$jobs" --timeout 600 -E '_NOT_BUILT$')

# Fuzz harnesses: clang build, short bounded runs over their seed corpora.
bash scripts/fuzz.sh 20
