// MD5 and SHA-1 through QM_Digest over 16 KiB buffers, next to OpenSSL's EVP
// digests on the same bytes. Throughput is the bytes_per_second column. Each
// library benchmark also reports "vs_openssl", its speed over OpenSSL's, from
// a side measurement that alternates short batches of the two (best batch of
// each) so that load from other processes hits both alike.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "digest/sha1.h"
#include "marlinok.h"

namespace {

constexpr std::size_t kBufferBytes = 16 * 1024;

const std::vector<uint8_t>& Buffer() {
  static const std::vector<uint8_t> buffer = [] {
    std::vector<uint8_t> b(kBufferBytes);
    uint32_t x = 0x12345678;
    for (auto& byte : b) {
      x = x * 1664525u + 1013904223u;
      byte = static_cast<uint8_t>(x >> 24);
    }
    return b;
  }();
  return buffer;
}

void OpenSslDigest(const EVP_MD* md) {
  const auto& data = Buffer();
  uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &length, md, nullptr) != 1) std::abort();
  benchmark::DoNotOptimize(digest);
  benchmark::ClobberMemory();
}

void LibraryDigest(uint32_t algId) {
  const auto& data = Buffer();
  uint8_t digest[20];
  uint32_t length = sizeof digest;
  if (QM_Digest(digest, &length, data.data(), static_cast<uint32_t>(data.size()), algId) !=
      ERR_OK) {
    std::abort();
  }
  benchmark::DoNotOptimize(digest);
  benchmark::ClobberMemory();
}

template <class Fn>
double BatchSeconds(Fn fn) {
  constexpr int kBuffersPerBatch = 64;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kBuffersPerBatch; ++i) fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// OpenSSL time over library time for the same work: above 1, the library is faster.
double SpeedRatio(uint32_t algId, const EVP_MD* md) {
  double library = 1e9;
  double openssl = 1e9;
  for (int round = 0; round < 15; ++round) {
    openssl = std::min(openssl, BatchSeconds([md] { OpenSslDigest(md); }));
    library = std::min(library, BatchSeconds([algId] { LibraryDigest(algId); }));
  }
  return openssl / library;
}

void BM_OpenSsl(benchmark::State& state, const EVP_MD* md) {
  for (auto _ : state) OpenSslDigest(md);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferBytes));
}

void BM_QmDigest(benchmark::State& state, uint32_t algId, const EVP_MD* md) {
  for (auto _ : state) LibraryDigest(algId);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferBytes));
  state.counters["vs_openssl"] = SpeedRatio(algId, md);
}

// SHA-1 with the portable compression pinned, for comparison.
void BM_QmDigestSha1Portable(benchmark::State& state) {
  marlinok::digest::Sha1PinPortableBackend(true);
  for (auto _ : state) LibraryDigest(CALG_SHA1);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBufferBytes));
  state.counters["vs_openssl"] = SpeedRatio(CALG_SHA1, EVP_sha1());
  marlinok::digest::Sha1PinPortableBackend(false);
}

}  // namespace

BENCHMARK_CAPTURE(BM_OpenSsl, Md5_16KiB, EVP_md5());
BENCHMARK_CAPTURE(BM_QmDigest, Md5_16KiB, CALG_MD5, EVP_md5());
BENCHMARK_CAPTURE(BM_OpenSsl, Sha1_16KiB, EVP_sha1());
BENCHMARK_CAPTURE(BM_QmDigest, Sha1_16KiB, CALG_SHA1, EVP_sha1());
BENCHMARK(BM_QmDigestSha1Portable);
