// The registry's cost on the paths the token takes: reading a stored key
// record (an asymmetric call does it twice), and writing one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#ifndef _WIN32
#include <stdlib.h>
#include <unistd.h>
#endif

#include "platform/registry.h"

namespace {

namespace reg = marlinok::platform;

// As deep as a container key ("Software\Quillmar\SoftContainerSimulator\alpha").
constexpr const char* kBenchRoot = "Software\\MarlinokBench";
constexpr const char* kContainer = "Software\\MarlinokBench\\SoftContainerSimulator\\alpha";

// One container with a 1412-byte private record, for the life of the
// benchmark program: in a hive in a fresh temporary folder on POSIX systems,
// in a scratch key of the machine's registry on Windows.
class BenchHive {
 public:
  BenchHive() {
#ifndef _WIN32
    const char* tmp = getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/marlinok-bench-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) std::abort();
    folder_ = pattern;
    setenv("MARLINOK_REGISTRY", (folder_ + "/registry.db").c_str(), 1);
    reg::ResetRegistryForTesting();
#endif
    reg::RegistryKey key;
    if (reg::CreateKey(kContainer, key, nullptr) != reg::kErrorSuccess) std::abort();
    const std::vector<uint8_t> record(1412, 0x5a);
    if (reg::SetValue(key, "PvkSig", reg::kRegBinary, record.data(), 1412) != reg::kErrorSuccess) {
      std::abort();
    }
  }
  ~BenchHive() {
    (void)reg::DeleteKeyTree(kBenchRoot);
#ifndef _WIN32
    reg::ResetRegistryForTesting();
    for (const char* suffix : {"/registry.db", "/registry.db-wal", "/registry.db-shm"}) {
      unlink((folder_ + suffix).c_str());
    }
    rmdir(folder_.c_str());
#endif
  }
  BenchHive(const BenchHive&) = delete;
  BenchHive& operator=(const BenchHive&) = delete;

 private:
  std::string folder_;
};

BenchHive& Hive() {
  static BenchHive hive;
  return hive;
}

// What the key-record reader does: open the container key, ask the value's
// size, read it into a buffer of that size, close.
void BM_RegistryReadKeyRecord(benchmark::State& state) {
  Hive();
  std::vector<uint8_t> buffer(1412);
  for (auto _ : state) {
    reg::RegistryKey key;
    if (reg::OpenKey(kContainer, key) != reg::kErrorSuccess) state.SkipWithError("open");
    uint32_t size = 0;
    if (reg::QueryValue(key, "PvkSig", nullptr, nullptr, &size) != reg::kErrorSuccess) {
      state.SkipWithError("size");
    }
    if (reg::QueryValue(key, "PvkSig", nullptr, buffer.data(), &size) != reg::kErrorSuccess) {
      state.SkipWithError("read");
    }
    benchmark::DoNotOptimize(buffer.data());
  }
}
BENCHMARK(BM_RegistryReadKeyRecord);

void BM_RegistryOpenKey(benchmark::State& state) {
  Hive();
  for (auto _ : state) {
    reg::RegistryKey key;
    benchmark::DoNotOptimize(reg::OpenKey(kContainer, key));
  }
}
BENCHMARK(BM_RegistryOpenKey);

void BM_RegistryQueryValue1412(benchmark::State& state) {
  Hive();
  reg::RegistryKey key;
  if (reg::OpenKey(kContainer, key) != reg::kErrorSuccess) state.SkipWithError("open");
  std::vector<uint8_t> buffer(1412);
  for (auto _ : state) {
    uint32_t size = 1412;
    benchmark::DoNotOptimize(reg::QueryValue(key, "PvkSig", nullptr, buffer.data(), &size));
  }
}
BENCHMARK(BM_RegistryQueryValue1412);

// One record write: a transaction with a full sync of the log.
void BM_RegistryWriteKeyRecord(benchmark::State& state) {
  Hive();
  reg::RegistryKey key;
  if (reg::OpenKey(kContainer, key) != reg::kErrorSuccess) state.SkipWithError("open");
  std::vector<uint8_t> record(1412, 0x33);
  for (auto _ : state) {
    benchmark::DoNotOptimize(reg::SetValue(key, "PvkExh", reg::kRegBinary, record.data(), 1412));
  }
}
BENCHMARK(BM_RegistryWriteKeyRecord)->Unit(benchmark::kMicrosecond);

}  // namespace
