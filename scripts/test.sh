#!/usr/bin/env bash
# Installs what is missing, builds the sanitizer test configuration and runs
# every test. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh clang libclang-rt-14-dev openssl openssh-client xxd python3 python3-cryptography libxml2-utils \
  python3-dnspython bind9-utils systemd inetutils-telnetd python3-aiosmtpd python3-pyftpdlib \
  openssh-server passwd python3-paramiko
jobs=$(nproc)

# Unit tests under AddressSanitizer + UndefinedBehaviorSanitizer (benchmarks build too).
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTW_SANITIZE=ON >/dev/null
cmake --build build/test -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build/test && ctest --output-on-failure -j "$jobs" --timeout 300)

# The same suite built by clang without sanitizers: proves the second compiler and runs
# the tests a sanitizer's own allocator would hide (allocation failure).
cmake -S . -B build/clang -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ -DTW_BENCH=OFF >/dev/null
cmake --build build/clang -j "$jobs"
(cd build/clang && ctest --output-on-failure -j "$jobs" --timeout 300)

# Fuzz harnesses: clang build, short bounded runs over their seed corpora.
bash scripts/fuzz.sh 20
