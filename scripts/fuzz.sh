#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each for a bounded time
# (seconds, default 60) starting from its seed corpus in fuzz/corpus/<name>.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-60}
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ -DTW_FUZZ=ON -DTW_TESTS=OFF -DTW_BENCH=OFF >/dev/null
cmake --build build/fuzz -j "$(nproc)"
shopt -s nullglob
for src in fuzz/*.cpp; do
  name=$(basename "$src" .cpp)
  corpus=fuzz/corpus/$name
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  echo "== fuzz $name (${secs}s)"
  build/fuzz/fuzz/"$name" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=0 "$work" >"$work.log" 2>&1 || { tail -50 "$work.log"; exit 1; }
  rm -rf "$work" "$work.log"
done
