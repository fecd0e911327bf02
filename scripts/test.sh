#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite.
#   scripts/test.sh              the normal build
#   scripts/test.sh --sanitize   the same under AddressSanitizer and UBSan
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/check-layers.sh"
if [ "${1:-}" = "--sanitize" ]; then
  build=$root/build-sanitize
  "$root/scripts/build.sh" "$build" -DMARLINOK_SANITIZE=ON -DMARLINOK_BUILD_BENCH=OFF
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
else
  build=$root/build
  "$root/scripts/build.sh" "$build"
fi
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 900
