#!/usr/bin/env bash
# Runs one full walk through the token (tests/stress/token_walkthrough.cpp,
# on the shared library) under Valgrind memcheck: any invalid access, use of
# uninitialised memory or leak fails it.
#   scripts/valgrind.sh [BUILD_DIR]   (default: build, the normal build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$build" >/dev/null
cmake --build "$build" --target token_walkthrough >/dev/null
valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect,possible \
  --errors-for-leak-kinds=definite,indirect,possible --track-origins=yes --error-exitcode=1 \
  "$build/tests/stress/token_walkthrough" >/dev/null
