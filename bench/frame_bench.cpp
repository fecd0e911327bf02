// The generator's cost: one clock-seeded QM_GenRandom.
#include <benchmark/benchmark.h>

#include "marlinok.h"

static void BM_GenRandom16(benchmark::State& state) {
  uint8_t bytes[16];
  DataBlob blob{sizeof bytes, bytes};
  for (auto _ : state) {
    benchmark::DoNotOptimize(QM_GenRandom(&blob));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_GenRandom16);
