#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, ASan and UBSan) and runs them one
# after the other, one process each, on a corpus kept in build-fuzz/corpus so
# that a later run continues where this one stopped.
#   scripts/fuzz.sh                     every harness, up to 10 million runs or 30 minutes each
#   scripts/fuzz.sh --ci                every harness for 25 seconds (the CI stage)
#   scripts/fuzz.sh --seconds N --runs N [HARNESS...]
# A finding stops the script with status 1; its input is in build-fuzz/artifacts/HARNESS/.
# The figures of each run are appended to build-fuzz/fuzz-summary.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
seconds=1800
runs=10000000
harnesses=()
while [ $# -gt 0 ]; do
  case $1 in
    --ci) seconds=25 runs=-1 ;;
    --seconds) seconds=$2; shift ;;
    --runs) runs=$2; shift ;;
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
  for program in "$build"/fuzz/*_fuzz; do harnesses+=("$(basename "$program")"); done
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for harness in "${harnesses[@]}"; do
  corpus=$build/corpus/$harness artifacts=$build/artifacts/$harness
  mkdir -p "$corpus" "$artifacts"
  log=$build/logs/$harness.log
  mkdir -p "$(dirname "$log")"
  start=$(date +%s)
  status=0
  "$build/fuzz/$harness" -max_total_time="$seconds" -runs="$runs" \
    -max_len=4096 -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" "$build/seeds/$harness" >"$log" 2>&1 || status=$?
  elapsed=$(( $(date +%s) - start ))
  executed=$(awk '/stat::number_of_executed_units/ {print $2}' "$log" | tail -1)
  line="$(date -u +%Y-%m-%dT%H:%MZ) $harness: ${executed:-?} executions in ${elapsed}s, status $status"
  echo "$line"
  echo "$line" >>"$build/fuzz-summary.txt"
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$log"
    echo "$harness found something: see $artifacts/ and $log" >&2
    exit 1
  fi
done
