#!/usr/bin/env bash
# Builds the library and the concurrency tests under ThreadSanitizer and runs
# those tests: the key table, the locks, containers, the hive from threads and
# processes, the RSA locks, the stress tests, and the PKCS #11 module's
# sessions signing from several threads.
#   scripts/tsan.sh [BUILD_DIR]   (default: build-tsan)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-tsan}
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLINOK_WERROR=ON -DMARLINOK_TSAN=ON \
  -DMARLINOK_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target core_tests token_tests store_tests platform_tests exports_tests stress_tests \
  pkcs11_tests

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 history_size=4"
run() {
  local program=$1 filter=$2
  echo "== $program: $filter"
  "$build/tests/$program" --gtest_filter="$filter" --gtest_brief=1
}
run core_tests 'LibraryLocksTest.*'
run token_tests 'KeyTableTest.Concurrent*'
run store_tests 'ContainerThreadsTest.*'
run platform_tests 'RegistryHive.*Threads*:RegistryHive.*Processes*'
run exports_tests 'AsymmetricCallsTest.PublicAndPrivateOperationsUseDifferentLocks'
run stress_tests 'StressThreads.*:StressProcesses.*'
run pkcs11_tests 'RsaTest.SeveralThreads*:Pkcs11Initialize.*'
echo "ThreadSanitizer: the concurrency tests ran clean"
