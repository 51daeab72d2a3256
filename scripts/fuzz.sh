#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each for a bounded time
# (seconds, default 60) starting from its seed corpus in fuzz/corpus/<name>.
# Harnesses run side by side, half as many at once as there are cores.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-60}
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ -DTW_FUZZ=ON -DTW_TESTS=OFF -DTW_BENCH=OFF >/dev/null
cmake --build build/fuzz -j "$(nproc)"

run_one() {
  local src=$1 secs=$2 name corpus work rc=0
  name=$(basename "$src" .cpp)
  corpus=fuzz/corpus/$name
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  build/fuzz/fuzz/"$name" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=0 "$work" >"$work.log" 2>&1 || rc=$?
  if [ "$rc" -ne 0 ]; then
    echo "== fuzz $name FAILED"; tail -50 "$work.log"
  else
    echo "== fuzz $name (${secs}s) ok"
  fi
  rm -rf "$work" "$work.log"
  return "$rc"
}
export -f run_one

par=$(( $(nproc) / 2 )); [ "$par" -lt 1 ] && par=1
ls fuzz/*.cpp | xargs -P "$par" -I{} bash -c 'run_one "$1" "$2"' _ {} "$secs"
