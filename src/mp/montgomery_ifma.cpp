// Modular exponentiation for x86-64 processors with AVX-512 IFMA: numbers
// are held in 52-bit limbs (radix 2^52), one limb per 64-bit lane, so that a
// 1024-bit modulus takes 20 lanes, three zmm registers. vpmadd52luq and
// vpmadd52huq add the low and high 52 bits of the lane products to 64-bit
// accumulators, which leaves twelve bits of headroom for carries.
//
// The products are "almost Montgomery" ones: with L limbs, R = 2^(52L) and
// L chosen so that 4m < R, inputs below 2m give an output below 2m
// ((2m * 2m + R * m) / R < 2m), so no subtraction is needed between products.
// The conversion out of Montgomery form (a product with 1) gives a value of
// at most m, and one masked subtraction makes it below m.
#include "mp/montgomery.h"

#if MARLINOK_MP_IFMA

// The intrinsics' headers fill the unused source operands of unmasked
// operations with a self-initialised placeholder, which this compiler reports
// as read before being set when the operations are inlined here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <cpuid.h>
#include <immintrin.h>

#include "core/wipe.h"
#include "mp/mp.h"
#include "mp/mp_internal.h"

namespace marlinok::mp::detail {

namespace {

#define MARLINOK_IFMA __attribute__((target("avx512f,avx512vl,avx512ifma,avx512bw,bmi2")))

constexpr uint64_t kMask52 = (uint64_t{1} << 52) - 1;
constexpr uint32_t kMaxVectors = 5;  // 40 limbs: moduli of up to 2078 bits
constexpr uint32_t kLanes = 8 * kMaxVectors;
constexpr uint32_t kMaxWindow = 5;
// Below this many bits the conversions cost more than the faster products
// save.
constexpr uint32_t kMinBits = 256;

struct alignas(64) IfmaWork {
  uint64_t m[kLanes];
  uint64_t one[kLanes];   // R mod m, the Montgomery form of 1
  uint64_t rr[kLanes];    // R^2 mod m
  uint64_t unit[kLanes];  // 1
  uint64_t table[1u << kMaxWindow][kLanes];
  uint64_t acc[kLanes];
  uint64_t entry[kLanes];
  MpDigit wide[2 * MP_MAX_DIGITS];
  MpDigit t[MP_MAX_DIGITS + 1];
  MpDigit u[MP_MAX_DIGITS + 1];
};

// n digits -> kLanes 52-bit limbs (lanes above the number are zero).
void ToLimbs52(uint64_t* out, const MpDigit* a, uint32_t n) {
  for (uint32_t j = 0; j < kLanes; ++j) out[j] = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t bit = 32 * i;
    const uint32_t j = bit / 52;
    const uint32_t shift = bit % 52;
    out[j] |= (uint64_t{a[i]} << shift) & kMask52;
    // A digit straddles two limbs when it starts above bit 20 of one.
    if (shift > 20 && j + 1 < kLanes) out[j + 1] |= uint64_t{a[i]} >> (52 - shift);
  }
}

// Normalised 52-bit limbs -> n digits (the low 32n bits).
void FromLimbs52(MpDigit* a, uint32_t n, const uint64_t* x) {
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t bit = 32 * i;
    const uint32_t j = bit / 52;
    const uint32_t shift = bit % 52;
    uint64_t v = x[j] >> shift;
    if (shift > 20 && j + 1 < kLanes) v |= x[j + 1] << (52 - shift);
    a[i] = static_cast<MpDigit>(v);
  }
}

// Lanes of up to 64 bits -> 52-bit limbs of the same value, for a value below
// 2^(52 * 8V). One pass moves every lane's excess up a lane and leaves the
// lanes below 2^53; the remaining carries of one ripple as in an adder: a
// lane receives one when the lane below generates (is above 2^52 - 1) or
// propagates (equals 2^52 - 1) a received one, which the addition
// (G << 1) + P works out for all lanes at once.
template <uint32_t V>
MARLINOK_IFMA inline void Normalise(__m512i* r) {
  const __m512i mask = _mm512_set1_epi64(static_cast<long long>(kMask52));
  const __m512i zero = _mm512_setzero_si512();
  __m512i carry[V];
#pragma GCC unroll 8
  for (uint32_t v = 0; v < V; ++v) {
    carry[v] = _mm512_srli_epi64(r[v], 52);
    r[v] = _mm512_and_si512(r[v], mask);
  }
#pragma GCC unroll 8
  for (uint32_t v = 0; v < V; ++v) {
    r[v] = _mm512_add_epi64(r[v], _mm512_alignr_epi64(carry[v], v == 0 ? zero : carry[v - 1], 7));
  }
  uint64_t generate = 0, propagate = 0;
#pragma GCC unroll 8
  for (uint32_t v = 0; v < V; ++v) {
    generate |= uint64_t{_mm512_cmpgt_epu64_mask(r[v], mask)} << (8 * v);
    propagate |= uint64_t{_mm512_cmpeq_epu64_mask(r[v], mask)} << (8 * v);
  }
  const uint64_t receive = ((generate << 1) + propagate) ^ propagate;
  const __m512i one = _mm512_set1_epi64(1);
#pragma GCC unroll 8
  for (uint32_t v = 0; v < V; ++v) {
    const __mmask8 k = static_cast<__mmask8>(receive >> (8 * v));
    r[v] = _mm512_and_si512(_mm512_mask_add_epi64(r[v], k, r[v], one), mask);
  }
}

// The vector ops of the kernel on one vector of lanes; kHalf runs them on its
// lower four lanes alone (the upper ones are left undefined), which costs half
// as much where the processor splits a 512-bit operation in two.
template <bool kHalf>
struct Lanes {
  MARLINOK_IFMA static __m512i MaddLo(__m512i acc, __m512i a, __m512i b) {
    if constexpr (!kHalf) return _mm512_madd52lo_epu64(acc, a, b);
    return _mm512_castsi256_si512(_mm256_madd52lo_epu64(
        _mm512_castsi512_si256(acc), _mm512_castsi512_si256(a), _mm512_castsi512_si256(b)));
  }
  MARLINOK_IFMA static __m512i MaddHi(__m512i acc, __m512i a, __m512i b) {
    if constexpr (!kHalf) return _mm512_madd52hi_epu64(acc, a, b);
    return _mm512_castsi256_si512(_mm256_madd52hi_epu64(
        _mm512_castsi512_si256(acc), _mm512_castsi512_si256(a), _mm512_castsi512_si256(b)));
  }
  MARLINOK_IFMA static __m512i Add(__m512i a, __m512i b) {
    if constexpr (!kHalf) return _mm512_add_epi64(a, b);
    return _mm512_castsi256_si512(
        _mm256_add_epi64(_mm512_castsi512_si256(a), _mm512_castsi512_si256(b)));
  }
  // The lanes moved down one, zero into the top lane.
  MARLINOK_IFMA static __m512i ShiftDown(__m512i a) {
    if constexpr (!kHalf) return _mm512_alignr_epi64(_mm512_setzero_si512(), a, 1);
    return _mm512_castsi256_si512(
        _mm256_alignr_epi64(_mm256_setzero_si256(), _mm512_castsi512_si256(a), 1));
  }
  // The lanes as a full vector, the undefined upper ones zero.
  MARLINOK_IFMA static __m512i Whole(__m512i a) {
    if constexpr (!kHalf) return a;
    return _mm512_zextsi256_si512(_mm512_castsi512_si256(a));
  }
};

// r = a * b * R^-1 mod m, below 2m, for a, b below 2m in normalised limbs;
// L limbs of b are scanned, V vectors hold the lanes. Each row adds a * b[i]
// and y * m, y chosen to clear the lowest lane, and moves the lanes down one:
// the low halves of the products go in before the move, the high halves
// (which belong one lane up) after it. Lanes gain under 2^54 a row, so 40
// rows stay below 2^60.
//
// y waits on the lowest lane, so that lane is also followed in a scalar
// register: the next row's lowest lane is this row's second lane plus the
// products that reach it, and the second lane is read from the vector one
// row ahead, off the path from one y to the next.
//
// K independent products (two moduli of the same limb count, the halves of
// an RSA private operation) run in one loop, so that one product's chain
// from y to y fills the other's waits.
struct AmmJob {
  uint64_t* r;
  const uint64_t* a;
  const uint64_t* b;
  const uint64_t* m;
  uint64_t k0;
};

template <uint32_t V, bool kHalfTop, uint32_t K>
MARLINOK_IFMA void AmmKernel(const AmmJob* jobs, uint32_t limbs) {
  using Full = Lanes<false>;
  using Top = Lanes<kHalfTop>;
  const __m512i zero = _mm512_setzero_si512();
  __m512i av[K][V], mv[K][V], acc[K][V];
  // The scalar factors are kept shifted up by 12 bits: a 64-bit product with
  // one of them is the low 52 bits of the product shifted up, and the high
  // half of a full product is the product's bits from 52 up, so no masking.
  uint64_t a0[K], a1[K], m0[K], m1[K], k0[K];
  uint64_t lane0[K];  // the lowest lane of acc at the start of the row
  // b is read from a copy in this frame: the loop's spills to the stack
  // would otherwise, at some distances between this frame and the caller's
  // numbers, share their low twelve address bits with b's limbs, and each
  // load of one would wait for the store (a quarter of the time lost).
  alignas(64) uint64_t b[K][8 * V];
#pragma GCC unroll 2
  for (uint32_t k = 0; k < K; ++k) {
    for (uint32_t i = 0; i < limbs; ++i) b[k][i] = jobs[k].b[i];
#pragma GCC unroll 8
    for (uint32_t v = 0; v < V; ++v) {
      av[k][v] = _mm512_load_si512(jobs[k].a + 8 * v);
      mv[k][v] = _mm512_load_si512(jobs[k].m + 8 * v);
      acc[k][v] = zero;
    }
    a0[k] = jobs[k].a[0] << 12;
    a1[k] = jobs[k].a[1] << 12;
    m0[k] = jobs[k].m[0] << 12;
    m1[k] = jobs[k].m[1] << 12;
    k0[k] = jobs[k].k0 << 12;
    lane0[k] = 0;
  }
  for (uint32_t i = 0; i < limbs; ++i) {
#pragma GCC unroll 2
    for (uint32_t k = 0; k < K; ++k) {
      const uint64_t bi = b[k][i];
      const __m512i bv = _mm512_set1_epi64(static_cast<long long>(bi));
      const uint64_t lane1 =
          static_cast<uint64_t>(_mm_extract_epi64(_mm512_castsi512_si128(acc[k][0]), 1));
      const WideLimb pa = static_cast<WideLimb>(a0[k]) * bi;
      const uint64_t low = lane0[k] + (static_cast<uint64_t>(pa) >> 12);
      const uint64_t y = (low * k0[k]) >> 12;
      const __m512i yv = _mm512_set1_epi64(static_cast<long long>(y));
      const WideLimb pm = static_cast<WideLimb>(m0[k]) * y;
      // low + lo(m0 * y) is a multiple of 2^52; its excess carries down.
      const uint64_t carry = (low + (static_cast<uint64_t>(pm) >> 12)) >> 52;
      lane0[k] = lane1 + ((a1[k] * bi) >> 12) + ((m1[k] * y) >> 12) + carry +
                 static_cast<uint64_t>(pa >> 64) + static_cast<uint64_t>(pm >> 64);
      __m512i high[V];
#pragma GCC unroll 8
      for (uint32_t v = 0; v + 1 < V; ++v) {
        high[v] = Full::MaddHi(zero, av[k][v], bv);
        acc[k][v] = Full::MaddLo(acc[k][v], av[k][v], bv);
      }
      high[V - 1] = Top::MaddHi(zero, av[k][V - 1], bv);
      acc[k][V - 1] = Top::MaddLo(acc[k][V - 1], av[k][V - 1], bv);
#pragma GCC unroll 8
      for (uint32_t v = 0; v + 1 < V; ++v) {
        high[v] = Full::MaddHi(high[v], mv[k][v], yv);
        acc[k][v] = Full::MaddLo(acc[k][v], mv[k][v], yv);
      }
      high[V - 1] = Top::MaddHi(high[V - 1], mv[k][V - 1], yv);
      acc[k][V - 1] = Top::MaddLo(acc[k][V - 1], mv[k][V - 1], yv);
#pragma GCC unroll 8
      for (uint32_t v = 0; v + 1 < V; ++v) {
        acc[k][v] = _mm512_alignr_epi64(acc[k][v + 1], acc[k][v], 1);
      }
      acc[k][V - 1] = Top::ShiftDown(acc[k][V - 1]);
#pragma GCC unroll 8
      for (uint32_t v = 0; v + 1 < V; ++v) acc[k][v] = Full::Add(acc[k][v], high[v]);
      acc[k][V - 1] = Top::Add(acc[k][V - 1], high[V - 1]);
    }
  }
#pragma GCC unroll 2
  for (uint32_t k = 0; k < K; ++k) {
    acc[k][V - 1] = Top::Whole(acc[k][V - 1]);
    // The vector's lowest lane never took the carry into it (each row's move
    // drops that lane); the scalar that follows it holds its whole value.
    acc[k][0] = _mm512_mask_set1_epi64(acc[k][0], 1, static_cast<long long>(lane0[k]));
    Normalise<V>(acc[k]);
#pragma GCC unroll 8
    for (uint32_t v = 0; v < V; ++v) _mm512_store_si512(jobs[k].r + 8 * v, acc[k][v]);
  }
}

// out = table[index], reading every entry so that the index leaves no trace
// in the addresses or branches.
template <uint32_t V>
MARLINOK_IFMA void Gather(uint64_t* out, const IfmaWork& work, uint32_t entries, uint32_t index) {
  __m512i acc[V];
#pragma GCC unroll 8
  for (uint32_t v = 0; v < V; ++v) acc[v] = _mm512_setzero_si512();
  for (uint32_t k = 0; k < entries; ++k) {
    const uint64_t equal = ((k ^ index) - 1u) >> 31;  // index < 2^31
    const __m512i mask = _mm512_set1_epi64(static_cast<long long>(uint64_t{0} - equal));
#pragma GCC unroll 8
    for (uint32_t v = 0; v < V; ++v) {
      acc[v] =
          _mm512_or_si512(acc[v], _mm512_and_si512(_mm512_load_si512(work.table[k] + 8 * v), mask));
    }
  }
#pragma GCC unroll 8
  for (uint32_t v = 0; v < V; ++v) _mm512_store_si512(out + 8 * v, acc[v]);
}

// The exponentiation proper, in Montgomery form, for K works at once (same
// limb count): acc = table[1]^c, with the same windows as the 64-bit path (a
// square-and-multiply for the short public exponents, else a fixed window
// whose table reads are masked). Works run together take long exponents; the
// shorter is read with zero windows on top up to the longer's length.
template <uint32_t V, bool H, uint32_t K>
MARLINOK_IFMA void IfmaPower(IfmaWork* const* work, const MpDigit* const* c, const uint32_t* ce,
                             const uint64_t* k0, uint32_t limbs) {
  AmmJob jobs[K];
  const auto run = [&](auto pick) {
#pragma GCC unroll 2
    for (uint32_t k = 0; k < K; ++k) {
      pick(*work[k], jobs[k]);
      jobs[k].m = work[k]->m;
      jobs[k].k0 = k0[k];
    }
    AmmKernel<V, H, K>(jobs, limbs);
  };
  uint32_t bits = 0;
  for (uint32_t k = 0; k < K; ++k) {
    const uint32_t b = BitLength(c[k], ce[k]);
    bits = b > bits ? b : bits;
  }
  if (K == 1 && bits <= 64) {
    IfmaWork& w = *work[0];
    for (uint32_t i = 0; i < kLanes; ++i) w.acc[i] = w.table[1][i];
    for (uint32_t pos = bits - 1; pos-- > 0;) {
      run([](IfmaWork& x, AmmJob& j) { j.r = x.acc, j.a = x.acc, j.b = x.acc; });
      if (ExponentBits(c[0], ce[0], pos, 1) != 0) {
        run([](IfmaWork& x, AmmJob& j) { j.r = x.acc, j.a = x.acc, j.b = x.table[1]; });
      }
    }
    return;
  }
  const uint32_t window = bits > 512 ? 5 : 4;
  const uint32_t entries = 1u << window;
  for (uint32_t k = 0; k < K; ++k) {
    for (uint32_t i = 0; i < kLanes; ++i) work[k]->table[0][i] = work[k]->one[i];
  }
  for (uint32_t e = 2; e < entries; ++e) {
    run([e](IfmaWork& x, AmmJob& j) { j.r = x.table[e], j.a = x.table[e - 1], j.b = x.table[1]; });
  }
  // Window bits beyond an exponent's digits read as zero.
  const auto bits_at = [&](uint32_t k, uint32_t pos, uint32_t width) {
    return pos / 32 < ce[k] ? ExponentBits(c[k], ce[k], pos, width) : 0u;
  };
  const uint32_t windows = (bits + window - 1) / window;
  const uint32_t top_pos = (windows - 1) * window;
  for (uint32_t k = 0; k < K; ++k) {
    Gather<V>(work[k]->acc, *work[k], entries, bits_at(k, top_pos, bits - top_pos));
  }
  for (uint32_t w = windows - 1; w-- > 0;) {
    for (uint32_t s = 0; s < window; ++s) {
      run([](IfmaWork& x, AmmJob& j) { j.r = x.acc, j.a = x.acc, j.b = x.acc; });
    }
    for (uint32_t k = 0; k < K; ++k) {
      Gather<V>(work[k]->entry, *work[k], entries, bits_at(k, w * window, window));
    }
    run([](IfmaWork& x, AmmJob& j) { j.r = x.acc, j.a = x.acc, j.b = x.entry; });
  }
}

template <uint32_t V, bool H, uint32_t K>
MARLINOK_IFMA void IfmaEnterPowerLeave(IfmaWork* const* work, const MpDigit* const* c,
                                       const uint32_t* ce, const uint64_t* k0, uint32_t limbs) {
  AmmJob jobs[K];
  // b R mod m (below 2m) from b mod m and R^2 mod m.
  for (uint32_t k = 0; k < K; ++k) {
    jobs[k] = {work[k]->table[1], work[k]->table[1], work[k]->rr, work[k]->m, k0[k]};
  }
  AmmKernel<V, H, K>(jobs, limbs);
  IfmaPower<V, H, K>(work, c, ce, k0, limbs);
  for (uint32_t k = 0; k < K; ++k) {
    jobs[k] = {work[k]->acc, work[k]->acc, work[k]->unit, work[k]->m, k0[k]};
  }
  AmmKernel<V, H, K>(jobs, limbs);
}

// The path serves an odd modulus of 256 to 2078 bits: its limb count, or 0.
uint32_t IfmaLimbs(const MpDigit* d, uint32_t dd) {
  const uint32_t mbits = BitLength(d, dd);
  const uint32_t limbs = (mbits + 2 + 51) / 52;  // 4m < 2^(52 limbs)
  const uint32_t vectors = (limbs + 7) / 8;
  return mbits < kMinBits || vectors > kMaxVectors ? 0 : limbs;
}

// The work's modulus, R mod m, R^2 mod m, 1 and b mod m in 52-bit limbs;
// returns k0 = -m^-1 mod 2^52.
uint64_t IfmaSetUp(IfmaWork& work, const MpDigit* b, uint32_t bn, const MpDigit* d, uint32_t dd,
                   uint32_t limbs, bool public_modulus) {
  // R mod m and R^2 mod m for R = 2^(52 limbs), at most 2^2080: 66 digits. A
  // public modulus finds them in the cache after its first use.
  uint64_t cached[2 * kLanes];  // public values: no wipe
  static_assert(sizeof cached <= kPublicCacheBytes, "the cache holds both");
  if (public_modulus && PublicCacheLoad(PublicConstants::kIfma, d, dd, cached, sizeof cached)) {
    for (uint32_t i = 0; i < kLanes; ++i) {
      work.one[i] = cached[i];
      work.rr[i] = cached[kLanes + i];
    }
  } else {
    const uint32_t rbits = 52 * limbs;
    const uint32_t wn = rbits / 32 + 1;
    MpAssignPow2(work.wide, rbits, wn);
    MpMod(work.t, work.wide, wn, d, dd);
    ToLimbs52(work.one, work.t, dd);
    MpModMul(work.u, work.t, work.t, d, dd);
    ToLimbs52(work.rr, work.u, dd);
    if (public_modulus) {
      for (uint32_t i = 0; i < kLanes; ++i) {
        cached[i] = work.one[i];
        cached[kLanes + i] = work.rr[i];
      }
      PublicCacheStore(PublicConstants::kIfma, d, dd, cached, sizeof cached);
    }
  }
  MpMod(work.t, b, bn, d, dd);
  ToLimbs52(work.table[1], work.t, dd);
  ToLimbs52(work.m, d, dd);
  for (uint32_t i = 0; i < kLanes; ++i) work.unit[i] = i == 0 ? 1 : 0;
  // Newton's iteration doubles the correct low bits of m^-1 each round.
  const uint64_t m0 = work.m[0];
  uint64_t inv = m0;
  for (int i = 0; i < 5; ++i) inv *= uint64_t{2} - m0 * inv;
  return (uint64_t{0} - inv) & kMask52;
}

// a = acc out of the 52-bit limbs. acc is at most m (m itself only for
// b = 0 mod m): one masked subtraction.
void IfmaFinish(MpDigit* a, IfmaWork& work, const MpDigit* d, uint32_t dd) {
  FromLimbs52(work.t, dd, work.acc);
  const MpDigit borrow = MpSub(work.u, work.t, d, dd);
  const MpDigit keep = borrow - 1;  // all ones when t >= m
  for (uint32_t i = 0; i < dd; ++i) a[i] = (work.u[i] & keep) | (work.t[i] & ~keep);
}

// The top vector runs at half width when its upper four lanes are unused
// (1024-bit moduli: 20 limbs, 8 + 8 + 4).
template <uint32_t K>
void IfmaRun(uint32_t limbs, IfmaWork* const* work, const MpDigit* const* c, const uint32_t* ce,
             const uint64_t* k0) {
  const uint32_t vectors = (limbs + 7) / 8;
  const bool half = limbs + 4 <= 8 * vectors;
  switch (2 * vectors + (half ? 1 : 0)) {
    case 2:
      return IfmaEnterPowerLeave<1, false, K>(work, c, ce, k0, limbs);
    case 4:
      return IfmaEnterPowerLeave<2, false, K>(work, c, ce, k0, limbs);
    case 5:
      return IfmaEnterPowerLeave<2, true, K>(work, c, ce, k0, limbs);
    case 6:
      return IfmaEnterPowerLeave<3, false, K>(work, c, ce, k0, limbs);
    case 7:
      return IfmaEnterPowerLeave<3, true, K>(work, c, ce, k0, limbs);
    case 8:
      return IfmaEnterPowerLeave<4, false, K>(work, c, ce, k0, limbs);
    case 9:
      return IfmaEnterPowerLeave<4, true, K>(work, c, ce, k0, limbs);
    case 10:
      return IfmaEnterPowerLeave<5, false, K>(work, c, ce, k0, limbs);
    default:
      return IfmaEnterPowerLeave<5, true, K>(work, c, ce, k0, limbs);
  }
}

}  // namespace

// BMI2 and AVX-512 F, IFMA, BW and VL (CPUID leaf 7, EBX bits 8, 16, 21, 30,
// 31), and an operating system that saves the zmm state (XCR0 bits 1, 2, 5,
// 6, 7).
bool IfmaSupported() noexcept {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & (1u << 27)) == 0) return false;
  unsigned xcr0Low = 0, xcr0High = 0;
  __asm__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
  if ((xcr0Low & 0xE6u) != 0xE6u) return false;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  const unsigned needed = (1u << 8) | (1u << 16) | (1u << 21) | (1u << 30) | (1u << 31);
  return (ebx & needed) == needed;
}

bool IfmaModExp(MpDigit* a, const MpDigit* b, uint32_t bn, const MpDigit* c, uint32_t ce,
                const MpDigit* d, uint32_t dd, bool public_modulus) noexcept {
  const uint32_t limbs = IfmaLimbs(d, dd);
  if (limbs == 0 || !IfmaChosen()) return false;
  IfmaWork work;
  WipeOnExit<IfmaWork> wipe_work(work);
  const uint64_t k0 = IfmaSetUp(work, b, bn, d, dd, limbs, public_modulus);
  IfmaWork* const works[1] = {&work};
  IfmaRun<1>(limbs, works, &c, &ce, &k0);
  IfmaFinish(a, work, d, dd);
  return true;
}

bool IfmaModExp2(MpDigit* a1, const MpDigit* b1, const MpDigit* c1, uint32_t ce1, const MpDigit* d1,
                 uint32_t dd1, MpDigit* a2, const MpDigit* b2, const MpDigit* c2, uint32_t ce2,
                 const MpDigit* d2, uint32_t dd2, uint32_t bn) noexcept {
  const uint32_t limbs = IfmaLimbs(d1, dd1);
  if (limbs == 0 || limbs != IfmaLimbs(d2, dd2) || !IfmaChosen()) return false;
  IfmaWork work[2];
  WipeOnExit<decltype(work)> wipe_work(work);
  const uint64_t k0[2] = {IfmaSetUp(work[0], b1, bn, d1, dd1, limbs, false),
                          IfmaSetUp(work[1], b2, bn, d2, dd2, limbs, false)};
  IfmaWork* const works[2] = {&work[0], &work[1]};
  const MpDigit* const c[2] = {c1, c2};
  const uint32_t ce[2] = {ce1, ce2};
  IfmaRun<2>(limbs, works, c, ce, k0);
  IfmaFinish(a1, work[0], d1, dd1);
  IfmaFinish(a2, work[1], d2, dd2);
  return true;
}

}  // namespace marlinok::mp::detail

#pragma GCC diagnostic pop

#endif
