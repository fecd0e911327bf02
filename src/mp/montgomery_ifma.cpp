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

#include "frame/wipe.h"
#include "mp/mp.h"
#include "mp/mp_internal.h"

namespace marlinok::mp::detail {

namespace {

#define MARLINOK_IFMA __attribute__((target("avx512f,avx512vl,avx512ifma,avx512bw")))

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
template <uint32_t V>
MARLINOK_IFMA void AmmKernel(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* m,
                             uint64_t k0, uint32_t limbs) {
  const __m512i zero = _mm512_setzero_si512();
  __m512i av[V], mv[V], acc[V];
#pragma GCC unroll 8
  for (uint32_t v = 0; v < V; ++v) {
    av[v] = _mm512_load_si512(a + 8 * v);
    mv[v] = _mm512_load_si512(m + 8 * v);
    acc[v] = zero;
  }
  const uint64_t a0 = a[0], a1 = a[1];
  const uint64_t m0 = m[0], m1 = m[1];
  uint64_t lane0 = 0;  // the lowest lane of acc at the start of the row
  for (uint32_t i = 0; i < limbs; ++i) {
    const uint64_t bi = b[i];
    const __m512i bv = _mm512_set1_epi64(static_cast<long long>(bi));
    const uint64_t lane1 =
        static_cast<uint64_t>(_mm_extract_epi64(_mm512_castsi512_si128(acc[0]), 1));
    const WideLimb pa = static_cast<WideLimb>(a0) * bi;
    const uint64_t low = lane0 + (static_cast<uint64_t>(pa) & kMask52);
    const uint64_t y = (low * k0) & kMask52;
    const __m512i yv = _mm512_set1_epi64(static_cast<long long>(y));
    const WideLimb pm = static_cast<WideLimb>(m0) * y;
    // low + lo(m0 * y) is a multiple of 2^52; its excess carries down.
    const uint64_t carry = (low + (static_cast<uint64_t>(pm) & kMask52)) >> 52;
    lane0 = lane1 + ((a1 * bi) & kMask52) + ((m1 * y) & kMask52) + carry +
            static_cast<uint64_t>(pa >> 52) + static_cast<uint64_t>(pm >> 52);
    __m512i high[V];
#pragma GCC unroll 8
    for (uint32_t v = 0; v < V; ++v) {
      high[v] = _mm512_madd52hi_epu64(zero, av[v], bv);
      acc[v] = _mm512_madd52lo_epu64(acc[v], av[v], bv);
    }
    high[0] = _mm512_mask_add_epi64(high[0], 1, high[0],
                                    _mm512_set1_epi64(static_cast<long long>(carry)));
#pragma GCC unroll 8
    for (uint32_t v = 0; v < V; ++v) {
      high[v] = _mm512_madd52hi_epu64(high[v], mv[v], yv);
      acc[v] = _mm512_madd52lo_epu64(acc[v], mv[v], yv);
    }
#pragma GCC unroll 8
    for (uint32_t v = 0; v + 1 < V; ++v) acc[v] = _mm512_alignr_epi64(acc[v + 1], acc[v], 1);
    acc[V - 1] = _mm512_alignr_epi64(zero, acc[V - 1], 1);
#pragma GCC unroll 8
    for (uint32_t v = 0; v < V; ++v) acc[v] = _mm512_add_epi64(acc[v], high[v]);
  }
  Normalise<V>(acc);
#pragma GCC unroll 8
  for (uint32_t v = 0; v < V; ++v) _mm512_store_si512(r + 8 * v, acc[v]);
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

// The exponentiation proper, in Montgomery form: acc = table[1]^c, with the
// same windows as the 64-bit path (a square-and-multiply for the short public
// exponents, else a fixed window whose table reads are masked).
template <uint32_t V>
MARLINOK_IFMA void IfmaPower(IfmaWork& work, const MpDigit* c, uint32_t ce, uint64_t k0,
                             uint32_t limbs) {
  const uint32_t bits = BitLength(c, ce);
  uint64_t* acc = work.acc;
  const auto mul = [&](uint64_t* r, const uint64_t* x, const uint64_t* y) {
    AmmKernel<V>(r, x, y, work.m, k0, limbs);
  };
  if (bits <= 64) {
    for (uint32_t i = 0; i < kLanes; ++i) acc[i] = work.table[1][i];
    for (uint32_t pos = bits - 1; pos-- > 0;) {
      mul(acc, acc, acc);
      if (ExponentBits(c, ce, pos, 1) != 0) mul(acc, acc, work.table[1]);
    }
    return;
  }
  const uint32_t window = bits > 512 ? 5 : 4;
  const uint32_t entries = 1u << window;
  for (uint32_t i = 0; i < kLanes; ++i) work.table[0][i] = work.one[i];
  for (uint32_t k = 2; k < entries; ++k) mul(work.table[k], work.table[k - 1], work.table[1]);
  const uint32_t windows = (bits + window - 1) / window;
  const uint32_t top_pos = (windows - 1) * window;
  Gather<V>(acc, work, entries, ExponentBits(c, ce, top_pos, bits - top_pos));
  for (uint32_t w = windows - 1; w-- > 0;) {
    for (uint32_t s = 0; s < window; ++s) mul(acc, acc, acc);
    Gather<V>(work.entry, work, entries, ExponentBits(c, ce, w * window, window));
    mul(acc, acc, work.entry);
  }
}

template <uint32_t V>
MARLINOK_IFMA void IfmaEnterPowerLeave(IfmaWork& work, const MpDigit* c, uint32_t ce, uint64_t k0,
                                       uint32_t limbs) {
  // b R mod m (below 2m) from b mod m and R^2 mod m.
  AmmKernel<V>(work.table[1], work.table[1], work.rr, work.m, k0, limbs);
  IfmaPower<V>(work, c, ce, k0, limbs);
  AmmKernel<V>(work.acc, work.acc, work.unit, work.m, k0, limbs);
}

}  // namespace

// AVX-512 F, IFMA, BW and VL (CPUID leaf 7, EBX bits 16, 21, 30, 31), and an
// operating system that saves the zmm state (XCR0 bits 1, 2, 5, 6, 7).
bool IfmaSupported() noexcept {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & (1u << 27)) == 0) return false;
  unsigned xcr0Low = 0, xcr0High = 0;
  __asm__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
  if ((xcr0Low & 0xE6u) != 0xE6u) return false;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  const unsigned needed = (1u << 16) | (1u << 21) | (1u << 30) | (1u << 31);
  return (ebx & needed) == needed;
}

bool IfmaModExp(MpDigit* a, const MpDigit* b, uint32_t bn, const MpDigit* c, uint32_t ce,
                const MpDigit* d, uint32_t dd, bool public_modulus) noexcept {
  const uint32_t mbits = BitLength(d, dd);
  const uint32_t limbs = (mbits + 2 + 51) / 52;  // 4m < 2^(52 limbs)
  const uint32_t vectors = (limbs + 7) / 8;
  if (mbits < kMinBits || vectors > kMaxVectors || !IfmaChosen()) return false;

  IfmaWork work;
  WipeOnExit<IfmaWork> wipe_work(work);
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
  const uint64_t k0 = (uint64_t{0} - inv) & kMask52;

  switch (vectors) {
    case 1:
      IfmaEnterPowerLeave<1>(work, c, ce, k0, limbs);
      break;
    case 2:
      IfmaEnterPowerLeave<2>(work, c, ce, k0, limbs);
      break;
    case 3:
      IfmaEnterPowerLeave<3>(work, c, ce, k0, limbs);
      break;
    case 4:
      IfmaEnterPowerLeave<4>(work, c, ce, k0, limbs);
      break;
    default:
      IfmaEnterPowerLeave<5>(work, c, ce, k0, limbs);
      break;
  }
  // acc is at most m (m itself only for b = 0 mod m): one masked subtraction.
  FromLimbs52(work.t, dd, work.acc);
  const MpDigit borrow = MpSub(work.u, work.t, d, dd);
  const MpDigit keep = borrow - 1;  // all ones when t >= m
  for (uint32_t i = 0; i < dd; ++i) a[i] = (work.u[i] & keep) | (work.t[i] & ~keep);
  return true;
}

}  // namespace marlinok::mp::detail

#pragma GCC diagnostic pop

#endif
