#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, ASan and UBSan) and runs them one
# after the other, one process each, on a corpus kept in build-fuzz/corpus so
# that a later run continues where this one stopped.
#   scripts/fuzz.sh                     every harness, up to 10 million runs or 30 minutes each
#   scripts/fuzz.sh --ci                every harness for 25 seconds (the CI stage)
#   scripts/fuzz.sh --seconds N --runs N [HARNESS...]
#   scripts/fuzz.sh --replay [HARNESS...]
#                                       no fuzzing: every input of fuzz/regressions/HARNESS/
#                                       (one process each) and the seed corpus, once
# A finding stops the script with status 1; its input is in build-fuzz/artifacts/HARNESS/.
# The figures of each run, executions per second included, are appended to
# build-fuzz/fuzz-summary.txt; a harness below 500 executions a second is called out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
seconds=1800
runs=10000000
replay=0
harnesses=()
while [ $# -gt 0 ]; do
  case $1 in
    --ci) seconds=25 runs=-1 ;;
    --seconds) seconds=$2; shift ;;
    --runs) runs=$2; shift ;;
    --replay) replay=1 ;;
    -*) echo "unknown option $1" >&2; exit 64 ;;
    *) harnesses+=("$1") ;;
  esac
  shift
done

"$root/scripts/install-deps.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLINOK_WERROR=ON \
  -DMARLINOK_FUZZ=ON -DMARLINOK_BUILD_TESTS=OFF -DMARLINOK_BUILD_TOOL=OFF \
  -DMARLINOK_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target fuzzers
rm -rf "$build/seeds"
"$build/fuzz/marlinok-fuzz-seeds" "$build/seeds" >/dev/null

if [ ${#harnesses[@]} -eq 0 ]; then
  for source in "$root"/fuzz/*_fuzz.cpp; do harnesses+=("$(basename "$source" .cpp)"); done
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# The options of one harness: its dictionary, the largest input, the time one
# input may take. A hive file is a few pages; the library waits up to 30 s
# for a busy hive, and no other process holds this one.
options() {
  local harness=$1 dict=$root/fuzz/dict/$1.dict
  [ -f "$dict" ] || dict=$root/fuzz/dict/marlinok.dict
  case $harness in
    hive_file_fuzz) echo "-dict=$dict -max_len=65536 -timeout=20" ;;
    mp_differential_fuzz) echo "-max_len=4096 -timeout=30" ;;
    *) echo "-dict=$dict -max_len=4096 -timeout=30" ;;
  esac
}

# Runs a harness once on fixed inputs, its output appended to a log; quiet
# when it crashes (the inner shell reports the signal to /dev/null).
replay_run() {
  local log=$1
  shift
  mkdir -p "$build/replay-artifacts"
  bash -c '"$@" >>"$0" 2>&1; exit $?' "$log" "$@" -artifact_prefix="$build/replay-artifacts/" \
    2>/dev/null
}

if [ "$replay" -eq 1 ]; then
  failed=0
  for harness in "${harnesses[@]}"; do
    log=$build/logs/$harness.replay.log
    mkdir -p "$(dirname "$log")"
    : >"$log"
    crashed=()
    count=0
    for input in "$root/fuzz/regressions/$harness"/*; do
      [ -f "$input" ] || continue
      count=$((count + 1))
      # shellcheck disable=SC2046
      replay_run "$log" "$build/fuzz/$harness" $(options "$harness") -runs=1 "$input" ||
        crashed+=("$(basename "$input")")
    done
    seeds=ok
    if [ -d "$build/seeds/$harness" ]; then
      # shellcheck disable=SC2046
      replay_run "$log" "$build/fuzz/$harness" $(options "$harness") -runs=0 \
        "$build/seeds/$harness" || seeds=failed
    else
      seeds=none
    fi
    echo "$harness: ${#crashed[@]} of $count regression inputs fail, seed corpus $seeds"
    for name in "${crashed[@]}"; do echo "  fails: fuzz/regressions/$harness/$name"; done
    if [ ${#crashed[@]} -ne 0 ] || [ "$seeds" = failed ]; then failed=1; fi
  done
  [ "$failed" -eq 0 ] || echo "replay failed: see $build/logs/*.replay.log" >&2
  exit "$failed"
fi

for harness in "${harnesses[@]}"; do
  corpus=$build/corpus/$harness artifacts=$build/artifacts/$harness
  mkdir -p "$corpus" "$artifacts"
  log=$build/logs/$harness.log
  mkdir -p "$(dirname "$log")"
  seeds=()
  [ -d "$build/seeds/$harness" ] && seeds=("$build/seeds/$harness")
  start=$(date +%s)
  status=0
  # shellcheck disable=SC2046
  "$build/fuzz/$harness" -max_total_time="$seconds" -runs="$runs" $(options "$harness") \
    -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" "${seeds[@]}" >"$log" 2>&1 || status=$?
  elapsed=$(( $(date +%s) - start ))
  executed=$(awk '/stat::number_of_executed_units/ {print $2}' "$log" | tail -1)
  rate=$(( ${executed:-0} / (elapsed > 0 ? elapsed : 1) ))
  line="$(date -u +%Y-%m-%dT%H:%MZ) $harness: ${executed:-?} executions in ${elapsed}s, $rate/s, status $status"
  [ "$rate" -ge 500 ] || line="$line (SLOW: below 500 executions a second)"
  echo "$line"
  echo "$line" >>"$build/fuzz-summary.txt"
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$log"
    echo "$harness found something: see $artifacts/ and $log" >&2
    exit 1
  fi
done
