// Throughput of the two hottest cipher paths, 3DES-CBC and RC4, on a 16 KiB
// message, next to OpenSSL's EVP on the same buffers. Each engine call sets
// its key up afresh, so the EVP runs that compare like with like do the same
// (init, update, final per message); the "Reused" runs keep one EVP context
// keyed outside the loop, the best OpenSSL can do, for reference.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "marlinok.h"

namespace {

constexpr std::size_t kMessageBytes = 16 * 1024;

const uint8_t kTripleKey[24] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01,
                                0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23};
const uint8_t kRc4Key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// DES and RC4 live in OpenSSL 3's legacy provider.
const EVP_CIPHER* Fetch(const char* name) {
  static const bool loaded = OSSL_PROVIDER_load(nullptr, "legacy") != nullptr &&
                             OSSL_PROVIDER_load(nullptr, "default") != nullptr;
  EVP_CIPHER* cipher = loaded ? EVP_CIPHER_fetch(nullptr, name, nullptr) : nullptr;
  if (cipher == nullptr) std::abort();
  return cipher;  // kept for the life of the program
}

void SetBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMessageBytes);
}

void RunEngine(benchmark::State& state, const uint8_t* keyBytes, uint32_t keyLength, uint32_t algId,
               uint32_t mode) {
  std::vector<uint8_t> key(keyBytes, keyBytes + keyLength);
  DataBlob blob{keyLength, key.data()};
  std::vector<uint8_t> input(kMessageBytes, 0x5A);
  std::vector<uint8_t> output(kMessageBytes);
  for (auto _ : state) {
    uint32_t outputLength = kMessageBytes;
    if (QM_SymmetricEncrypt(&blob, 0, 0, input.data(), kMessageBytes, output.data(), &outputLength,
                            algId, mode) != ERR_OK)
      state.SkipWithError("engine call failed");
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  SetBytes(state);
}

void RunEvp(benchmark::State& state, const char* name, const uint8_t* key, int keyLength,
            bool reuseContext) {
  const EVP_CIPHER* cipher = Fetch(name);
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      &EVP_CIPHER_CTX_free);
  const uint8_t iv[8] = {};
  std::vector<uint8_t> input(kMessageBytes, 0x5A);
  std::vector<uint8_t> output(kMessageBytes + 8);
  auto init = [&] {
    return EVP_EncryptInit_ex2(ctx.get(), cipher, nullptr, nullptr, nullptr) == 1 &&
           EVP_CIPHER_CTX_set_key_length(ctx.get(), keyLength) == 1 &&
           EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
           EVP_EncryptInit_ex2(ctx.get(), nullptr, key, iv, nullptr) == 1;
  };
  if (reuseContext && !init()) state.SkipWithError("EVP init failed");
  for (auto _ : state) {
    if (!reuseContext && !init()) state.SkipWithError("EVP init failed");
    int produced = 0;
    int last = 0;
    if (EVP_EncryptUpdate(ctx.get(), output.data(), &produced, input.data(), kMessageBytes) != 1 ||
        (!reuseContext && EVP_EncryptFinal_ex(ctx.get(), output.data() + produced, &last) != 1))
      state.SkipWithError("EVP update failed");
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  SetBytes(state);
}

void BM_Engine_3DesCbc_16K(benchmark::State& state) {
  RunEngine(state, kTripleKey, sizeof kTripleKey, CALG_3DES, CRYPT_MODE_CBC);
}
void BM_Evp_3DesCbc_16K(benchmark::State& state) {
  RunEvp(state, "DES-EDE3-CBC", kTripleKey, sizeof kTripleKey, false);
}
void BM_EvpReused_3DesCbc_16K(benchmark::State& state) {
  RunEvp(state, "DES-EDE3-CBC", kTripleKey, sizeof kTripleKey, true);
}
void BM_Engine_Rc4_16K(benchmark::State& state) {
  RunEngine(state, kRc4Key, sizeof kRc4Key, CALG_RC4, 0);
}
void BM_Evp_Rc4_16K(benchmark::State& state) {
  RunEvp(state, "RC4", kRc4Key, sizeof kRc4Key, false);
}
void BM_EvpReused_Rc4_16K(benchmark::State& state) {
  RunEvp(state, "RC4", kRc4Key, sizeof kRc4Key, true);
}

BENCHMARK(BM_Engine_3DesCbc_16K);
BENCHMARK(BM_Evp_3DesCbc_16K);
BENCHMARK(BM_EvpReused_3DesCbc_16K);
BENCHMARK(BM_Engine_Rc4_16K);
BENCHMARK(BM_Evp_Rc4_16K);
BENCHMARK(BM_EvpReused_Rc4_16K);

}  // namespace
