// Modular exponentiation with full-size exponents next to OpenSSL's
// BN_mod_exp_mont on the same operands, and one 1024-bit prime search.
#include <benchmark/benchmark.h>
#include <openssl/bn.h>

#include <cstring>
#include <random>
#include <vector>

#include "bench_kernel.h"
#include "mp/montgomery.h"
#include "mp/mp.h"
#include "random/random_pool.h"

namespace {

using marlinok::mp::MpDigit;

struct Operands {
  std::vector<MpDigit> base, exponent, modulus;
};

// Random odd modulus with its top bit set; base below it; exponent of full size.
Operands MakeOperands(uint32_t bits) {
  const uint32_t n = bits / 32;
  std::mt19937 rng(bits);
  Operands op;
  op.base.resize(n);
  op.exponent.resize(n);
  op.modulus.resize(n);
  for (uint32_t i = 0; i < n; ++i) {
    op.base[i] = static_cast<MpDigit>(rng());
    op.exponent[i] = static_cast<MpDigit>(rng());
    op.modulus[i] = static_cast<MpDigit>(rng());
  }
  op.modulus[0] |= 1;
  op.modulus[n - 1] |= 0x80000000u;
  op.exponent[n - 1] |= 0x80000000u;
  op.base[n - 1] &= 0x7FFFFFFFu;
  return op;
}

BIGNUM* ToBn(const std::vector<MpDigit>& a) {
  std::vector<uint8_t> bytes(4 * a.size());
  marlinok::mp::MpEncode(bytes.data(), static_cast<uint32_t>(bytes.size()), a.data(),
                         static_cast<uint32_t>(a.size()));
  return BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr);
}

void BM_MpModExp(benchmark::State& state) {
  const Operands op = MakeOperands(static_cast<uint32_t>(state.range(0)));
  const uint32_t n = static_cast<uint32_t>(op.modulus.size());
  std::vector<MpDigit> out(n);
  state.SetLabel(marlinok::bench::KernelLabel());
  for (auto _ : state) {
    marlinok::mp::MpModExp(out.data(), op.base.data(), op.exponent.data(), n, op.modulus.data(), n);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MpModExp)->Arg(512)->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);

// The same with the portable Montgomery kernels, where the processor has
// faster ones.
void BM_MpModExpPortable(benchmark::State& state) {
  marlinok::mp::detail::MontgomeryLimitKernel(marlinok::mp::detail::Kernel::kPortable);
  BM_MpModExp(state);
  marlinok::mp::detail::MontgomeryLimitKernel(marlinok::bench::RunKernelLimit());
}
BENCHMARK(BM_MpModExpPortable)->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);

// The same with the AVX-512 IFMA exponentiation set aside (the mulx/adx
// kernels where the processor has them).
void BM_MpModExpNoIfma(benchmark::State& state) {
  const auto limit = marlinok::bench::RunKernelLimit();
  marlinok::mp::detail::MontgomeryLimitKernel(
      limit < marlinok::mp::detail::Kernel::kAdx ? limit : marlinok::mp::detail::Kernel::kAdx);
  BM_MpModExp(state);
  marlinok::mp::detail::MontgomeryLimitKernel(limit);
}
BENCHMARK(BM_MpModExpNoIfma)->Arg(512)->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);

// The Fermat test of a 1024-bit odd candidate (2^a mod a), the bulk of a
// 2048-bit key's prime search.
void BM_PassesFermatBase2(benchmark::State& state) {
  Operands op = MakeOperands(static_cast<uint32_t>(state.range(0)));
  const uint32_t n = static_cast<uint32_t>(op.modulus.size());
  state.SetLabel(marlinok::bench::KernelLabel());
  for (auto _ : state) {
    benchmark::DoNotOptimize(marlinok::mp::PassesFermatBase2(op.modulus.data(), n));
  }
}
BENCHMARK(BM_PassesFermatBase2)->Arg(1024)->Unit(benchmark::kMicrosecond);

void BM_OpenSslModExpMont(benchmark::State& state) {
  const Operands op = MakeOperands(static_cast<uint32_t>(state.range(0)));
  BIGNUM* b = ToBn(op.base);
  BIGNUM* c = ToBn(op.exponent);
  BIGNUM* d = ToBn(op.modulus);
  BIGNUM* r = BN_new();
  BN_CTX* ctx = BN_CTX_new();
  BN_MONT_CTX* mont = BN_MONT_CTX_new();
  BN_MONT_CTX_set(mont, d, ctx);
  for (auto _ : state) {
    // The Montgomery setup is counted on our side as well.
    BN_mod_exp_mont(r, b, c, d, ctx, nullptr);
    benchmark::DoNotOptimize(r);
  }
  BN_MONT_CTX_free(mont);
  BN_CTX_free(ctx);
  BN_free(r);
  BN_free(d);
  BN_free(c);
  BN_free(b);
}
BENCHMARK(BM_OpenSslModExpMont)->Arg(512)->Arg(1024)->Arg(2048)->Unit(benchmark::kMicrosecond);

// One prime search with the bounds key generation uses for a 2048-bit key.
void BM_FindProbablePrime1024(benchmark::State& state) {
  const uint32_t n = 32;
  std::vector<MpDigit> low(n), top(n), high(n, 0xFFFFFFFFu), step(n), a(n);
  marlinok::mp::MpAssignPow2(low.data(), 1023, n);
  marlinok::mp::MpAssignPow2(top.data(), 1022, n);
  marlinok::mp::MpAdd(low.data(), low.data(), top.data(), n);
  marlinok::mp::MpAssignDigit(step.data(), 2, n);
  marlinok::RandomPool pool;
  marlinok::RandomPoolReset(&pool);
  uint8_t seed[marlinok::kPoolSeedBytes];
  std::memset(seed, 0x5A, sizeof seed);
  marlinok::RandomPoolMix(&pool, seed, sizeof seed);
  for (auto _ : state) {
    // The pool moves on, so every iteration searches from a new start.
    const marlinok::Status s =
        marlinok::mp::FindProbablePrime(a.data(), low.data(), high.data(), step.data(), n, &pool);
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_FindProbablePrime1024)->Unit(benchmark::kMillisecond)->Iterations(40);

}  // namespace
