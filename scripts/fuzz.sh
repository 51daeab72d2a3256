#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each from its seed corpus in
# fuzz/corpus/<name>, bounded by time or by a count of executions.
#
#   bash scripts/fuzz.sh [SECONDS]              each harness for SECONDS (default 60)
#   bash scripts/fuzz.sh -runs N [HARNESS...]   each harness (or the ones named) for
#                                               N executions, with no time bound
#
# Harnesses run side by side, half as many at once as there are cores (FUZZ_JOBS sets
# it). FUZZ_SPLIT=k runs each harness as k processes over one shared corpus, each
# taking its share of the executions (or all the seconds), so a slow harness reaches
# a count sooner on more cores; its executions are the sum over the k.
# Each prints one line with its executions, seconds and executions per second;
# with FUZZ_LOG=FILE those lines are also appended to FILE. A harness that finds a
# fault prints its log, keeps the input in build/fuzz/findings/ and fails the run.
# A harness stopped with SIGINT reports the executions it reached as "stopped".
# FUZZ_TIMEOUT sets the seconds one input may take before it counts as a hang
# (default 10; long runs beside other work want more, as a starved process is
# not a hang). FUZZ_KEEP=DIR (relative to the checkout) keeps each harness's corpus
# in DIR/<name> and starts from it when it is there, so a count too long for one
# sitting is reached over several runs that continue one corpus.
# FUZZ_PIN=CPU pins the processes of a harness to CPUs CPU, CPU+1, ... (one each,
# wrapping at the core count). A harness that starts threads for every input spends
# much of its time on TLB shoot-downs to every core its threads ran on; pinned, it
# has none: 8 processes of the connection-handler harness over its corpus ran 1.3
# times as many inputs in the same time.
# The harnesses' scratch files go to a folder in /dev/shm when there is one
# (FUZZ_TMPDIR sets another): on a disk, the harnesses that write a file per input
# spend most of their time waiting for it.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=60 runs=-1
if [ "${1:-}" = "-runs" ]; then
  runs=${2:?-runs needs a count}
  secs=0
  shift 2
elif [ $# -gt 0 ]; then
  secs=$1
  shift
fi
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ -DTW_FUZZ=ON -DTW_TESTS=OFF -DTW_BENCH=OFF >/dev/null
cmake --build build/fuzz -j "$(nproc)"
mkdir -p build/fuzz/findings
scratch_base=${FUZZ_TMPDIR:-}
[ -z "$scratch_base" ] && [ -d /dev/shm ] && [ -w /dev/shm ] && scratch_base=/dev/shm
scratch=$(mktemp -d "${scratch_base:-${TMPDIR:-/tmp}}/tw-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export FUZZ_SCRATCH=$scratch

run_one() {
  local src=$1 secs=$2 runs=$3 name corpus work logs rc=0 execs=0 start took split i n
  name=$(basename "$src" .cpp)
  corpus=fuzz/corpus/$name
  split=${FUZZ_SPLIT:-1}
  if [ -n "${FUZZ_KEEP:-}" ]; then
    work=$FUZZ_KEEP/$name
    mkdir -p "$work"
  else
    work=$(mktemp -d)
  fi
  # Logs of their own, as runs beside each other may share a kept corpus.
  logs=$(mktemp -d)
  # Seeds a kept corpus too, without overwriting what earlier runs added.
  [ -d "$corpus" ] && cp -rn "$corpus"/. "$work"/
  start=$(date +%s)
  local pids=() pin=()
  for ((i = 0; i < split; i++)); do
    [ -n "${FUZZ_PIN:-}" ] && pin=(taskset -c $(( (FUZZ_PIN + i) % $(nproc) )))
    # The first process takes the remainder, so the shares add up to exactly N.
    n=$runs
    [ "$runs" -gt 0 ] && n=$(( runs / split + (i == 0 ? runs % split : 0) ))
    "${pin[@]}" env TMPDIR="$FUZZ_SCRATCH" build/fuzz/fuzz/"$name" -max_total_time="$secs" \
        -runs="$n" -timeout="${FUZZ_TIMEOUT:-10}" -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix=build/fuzz/findings/"$name"- "$work" >"$logs/$i.log" 2>&1 &
    pids+=($!)
  done
  for ((i = 0; i < split; i++)); do
    wait "${pids[$i]}" || rc=$?
  done
  took=$(( $(date +%s) - start ))
  for ((i = 0; i < split; i++)); do
    n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logs/$i.log" | tail -1)
    execs=$(( execs + ${n:-0} ))
  done
  if [ "$rc" -eq 72 ]; then
    # libFuzzer's exit code when interrupted: no finding, just a shorter run.
    line="== fuzz $name stopped: $execs executions in ${took}s"
    echo "$line"
    [ -n "${FUZZ_LOG:-}" ] && echo "$line" >>"$FUZZ_LOG"
  elif [ "$rc" -ne 0 ]; then
    echo "== fuzz $name FAILED after $execs executions"
    for ((i = 0; i < split; i++)); do tail -50 "$logs/$i.log"; done
  else
    line="== fuzz $name ok: $execs executions in ${took}s ($(( execs / (took > 0 ? took : 1) ))/s)"
    [ "$split" -gt 1 ] && line+=" over $split processes"
    echo "$line"
    [ -n "${FUZZ_LOG:-}" ] && echo "$line" >>"$FUZZ_LOG"
  fi
  rm -rf "$logs"
  [ -n "${FUZZ_KEEP:-}" ] || rm -rf "$work"
  return "$rc"
}
export -f run_one

par=${FUZZ_JOBS:-$(( $(nproc) / 2 ))}; [ "$par" -lt 1 ] && par=1
if [ $# -gt 0 ]; then
  printf 'fuzz/%s.cpp\n' "$@"
else
  ls fuzz/*.cpp
fi | xargs -P "$par" -I{} bash -c 'run_one "$1" "$2" "$3"' _ {} "$secs" "$runs"
