// RSA next to OpenSSL on the same keys: the private operation (sign, CRT),
// the public operation (verify), and key-pair generation, whose time varies a
// lot from key to key (mean over at least 20 keys). Our side is labelled with
// the kernel it ran on (MARLINOK_KERNEL, bench_kernel.h); to compare with
// OpenSSL as on a processor without AVX-512, run with MARLINOK_KERNEL=adx
// and OPENSSL_ia32cap=":~0x200000" (OpenSSL's IFMA code off as well).
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "bench_kernel.h"
#include "random/random_pool.h"
#include "rsa/key_generation.h"
#include "rsa/rsa_block_ops.h"

namespace {

using namespace marlinok;
using namespace marlinok::rsa;

std::vector<uint8_t> Param(const EVP_PKEY* key, const char* name, std::size_t width) {
  BIGNUM* bn = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &bn) != 1) std::abort();
  std::vector<uint8_t> out(width);
  BN_bn2binpad(bn, out.data(), static_cast<int>(width));
  BN_free(bn);
  return out;
}

// One OpenSSL key per length and its private record.
struct BenchKey {
  EVP_PKEY* pkey = nullptr;
  PrivateKeyRecord record{};
  std::vector<uint8_t> input;
};

const BenchKey& KeyOf(uint32_t bits) {
  static std::map<uint32_t, BenchKey> keys;
  auto found = keys.find(bits);
  if (found != keys.end()) return found->second;
  BenchKey key;
  key.pkey = EVP_RSA_gen(bits);
  if (key.pkey == nullptr) std::abort();
  uint8_t* r = key.record.bytes;
  WriteModulusBits(r, bits);
  const auto put = [&](std::size_t offset, const char* name, std::size_t width) {
    const std::vector<uint8_t> v = Param(key.pkey, name, width);
    std::memcpy(r + offset, v.data(), width);
  };
  put(kModulusOffset, OSSL_PKEY_PARAM_RSA_N, RSA_MODULUS_BYTES);
  put(kPublicExponentOffset, OSSL_PKEY_PARAM_RSA_E, RSA_MODULUS_BYTES);
  put(kPrivateExponentOffset, OSSL_PKEY_PARAM_RSA_D, RSA_MODULUS_BYTES);
  put(kPrime1Offset, OSSL_PKEY_PARAM_RSA_FACTOR1, RSA_PRIME_BYTES);
  put(kPrime2Offset, OSSL_PKEY_PARAM_RSA_FACTOR2, RSA_PRIME_BYTES);
  put(kExponent1Offset, OSSL_PKEY_PARAM_RSA_EXPONENT1, RSA_PRIME_BYTES);
  put(kExponent2Offset, OSSL_PKEY_PARAM_RSA_EXPONENT2, RSA_PRIME_BYTES);
  put(kCoefficientOffset, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, RSA_PRIME_BYTES);
  key.input.assign(bits / 8, 0x5A);
  key.input[0] = 0x00;
  return keys.emplace(bits, std::move(key)).first->second;
}

void BM_RsaPrivate(benchmark::State& state) {
  const BenchKey& key = KeyOf(static_cast<uint32_t>(state.range(0)));
  uint8_t out[256];
  uint32_t length = 0;
  state.SetLabel(bench::KernelLabel());
  for (auto _ : state) {
    if (RsaPrivateRawCrt(out, &length, key.input.data(), static_cast<uint32_t>(key.input.size()),
                         &key.record) != Status::Ok)
      state.SkipWithError("refused");
    benchmark::DoNotOptimize(out);
  }
}

void BM_RsaPublic(benchmark::State& state) {
  const BenchKey& key = KeyOf(static_cast<uint32_t>(state.range(0)));
  const auto* record = reinterpret_cast<const PublicKeyRecord*>(key.record.bytes);
  uint8_t out[256];
  uint32_t length = 0;
  state.SetLabel(bench::KernelLabel());
  for (auto _ : state) {
    if (RsaPublicRaw(out, &length, key.input.data(), static_cast<uint32_t>(key.input.size()),
                     record) != Status::Ok)
      state.SkipWithError("refused");
    benchmark::DoNotOptimize(out);
  }
}

// OpenSSL's raw operations without padding (its private one blinds and checks
// as it always does).
void OpensslRaw(benchmark::State& state, bool privateOp) {
  const BenchKey& key = KeyOf(static_cast<uint32_t>(state.range(0)));
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key.pkey, nullptr);
  const int init = privateOp ? EVP_PKEY_decrypt_init(ctx) : EVP_PKEY_encrypt_init(ctx);
  if (init != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) != 1) std::abort();
  uint8_t out[256];
  for (auto _ : state) {
    std::size_t length = sizeof out;
    const int ok = privateOp
                       ? EVP_PKEY_decrypt(ctx, out, &length, key.input.data(), key.input.size())
                       : EVP_PKEY_encrypt(ctx, out, &length, key.input.data(), key.input.size());
    if (ok != 1) state.SkipWithError("refused");
    benchmark::DoNotOptimize(out);
  }
  EVP_PKEY_CTX_free(ctx);
}
void BM_OpensslPrivate(benchmark::State& state) { OpensslRaw(state, true); }
void BM_OpensslPublic(benchmark::State& state) { OpensslRaw(state, false); }

// The time that a tenth of the runs beat: what the code costs when the
// machine's other load leaves it alone.
double FastTenth(std::vector<double>* v) {
  std::nth_element(v->begin(), v->begin() + v->size() / 10, v->end());
  return (*v)[v->size() / 10];
}

// Ours and OpenSSL's operation one after the other in every iteration, each
// timed alone: on a shared machine whose speed drifts, the ratio of the two
// sides' fast tenths is steadier than the ratio of two benchmarks run a
// second apart.
void Paired(benchmark::State& state, bool privateOp) {
  using Clock = std::chrono::steady_clock;
  const BenchKey& key = KeyOf(static_cast<uint32_t>(state.range(0)));
  const auto* pub = reinterpret_cast<const PublicKeyRecord*>(key.record.bytes);
  const auto inputLength = static_cast<uint32_t>(key.input.size());
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key.pkey, nullptr);
  const int init = privateOp ? EVP_PKEY_decrypt_init(ctx) : EVP_PKEY_encrypt_init(ctx);
  if (init != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) != 1) std::abort();
  std::vector<double> ours, theirs;
  uint8_t out[256];
  state.SetLabel(bench::KernelLabel());
  for (auto _ : state) {
    const auto t0 = Clock::now();
    uint32_t length = 0;
    const Status s =
        privateOp ? RsaPrivateRawCrt(out, &length, key.input.data(), inputLength, &key.record)
                  : RsaPublicRaw(out, &length, key.input.data(), inputLength, pub);
    benchmark::DoNotOptimize(out);
    const auto t1 = Clock::now();
    std::size_t sslLength = sizeof out;
    const int ok = privateOp
                       ? EVP_PKEY_decrypt(ctx, out, &sslLength, key.input.data(), inputLength)
                       : EVP_PKEY_encrypt(ctx, out, &sslLength, key.input.data(), inputLength);
    benchmark::DoNotOptimize(out);
    const auto t2 = Clock::now();
    if (s != Status::Ok || ok != 1) state.SkipWithError("refused");
    ours.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    theirs.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
  }
  EVP_PKEY_CTX_free(ctx);
  if (ours.empty()) return;
  const double oursUs = FastTenth(&ours), theirsUs = FastTenth(&theirs);
  state.counters["ours_us"] = oursUs;
  state.counters["openssl_us"] = theirsUs;
  state.counters["ratio"] = oursUs / theirsUs;
}
void BM_RsaPrivatePaired(benchmark::State& state) { Paired(state, true); }
void BM_RsaPublicPaired(benchmark::State& state) { Paired(state, false); }

void BM_RsaKeyGeneration(benchmark::State& state) {
  RandomPool pool;
  SeedPoolFromClockReadings(&pool);
  PublicKeyRecord pub;
  PrivateKeyRecord priv;
  const KeyPairParams params{static_cast<uint32_t>(state.range(0)), 1};
  state.SetLabel(bench::KernelLabel());
  for (auto _ : state) {
    if (GenerateRsaKeyPair(&pub, &priv, &params, &pool) != Status::Ok)
      state.SkipWithError("generation failed");
    benchmark::DoNotOptimize(priv.bytes);
  }
}

// The same generator as RSA_generate_key_ex, e = 65537.
void BM_OpensslKeyGeneration(benchmark::State& state) {
  const unsigned bits = static_cast<unsigned>(state.range(0));
  for (auto _ : state) {
    EVP_PKEY* key = EVP_RSA_gen(bits);
    if (key == nullptr) state.SkipWithError("generation failed");
    EVP_PKEY_free(key);
  }
}

BENCHMARK(BM_RsaPrivate)->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpensslPrivate)->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RsaPublic)->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpensslPublic)->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RsaPrivatePaired)->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RsaPublicPaired)->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RsaKeyGeneration)->Arg(1024)->Iterations(60)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpensslKeyGeneration)->Arg(1024)->Iterations(60)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RsaKeyGeneration)->Arg(2048)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpensslKeyGeneration)->Arg(2048)->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
