// Modular exponentiation. Odd moduli go through Montgomery arithmetic with a
// fixed window whose table entries are read with masks (no branch or address
// depends on the exponent's bits); even moduli use the schoolbook 2-bit window
// with multiply-then-divide products. Both give exactly b^c mod d.
#include "core/wipe.h"
#include "mp/montgomery.h"

#if MARLINOK_MP_ADX
#include <immintrin.h>
#endif
#include "mp/mp.h"
#include "mp/mp_internal.h"

namespace marlinok::mp {

namespace {

using detail::BitLength;
using detail::ExponentBits;
using detail::kMaxLimbs;
using detail::Limb;
using detail::Montgomery;

constexpr uint32_t kMaxWindow = 5;

struct ExpWork {
  Montgomery ctx;
  Limb table[1u << kMaxWindow][kMaxLimbs];
  Limb acc[kMaxLimbs];
  Limb entry[kMaxLimbs];
};

// out = table[index], reading every entry so that the index leaves no trace
// in the addresses or branches. kFixed is the limb count where it is one of
// the common ones (8, 16, 32 limbs of 64 bits), 0 otherwise.
template <uint32_t kFixed>
void Gather(Limb* out, const ExpWork& work, uint32_t entries, uint32_t index) {
  const uint32_t n = kFixed != 0 ? kFixed : work.ctx.n;
  uint32_t i = 0;
#if defined(__SSE2__) && MARLINOK_MP_ADX
  // Two limbs a lane, up to sixteen limbs a pass held in eight registers.
  for (; i + 2 <= n; i += 16) {
    const uint32_t lanes = (n - i) / 2 < 8 ? (n - i) / 2 : 8;
    __m128i acc[8];
#pragma GCC unroll 8
    for (uint32_t j = 0; j < 8; ++j) acc[j] = _mm_setzero_si128();
    for (uint32_t k = 0; k < entries; ++k) {
      const Limb equal = static_cast<Limb>(((k ^ index) - 1u) >> 31);  // index < 2^31
      const __m128i mask = _mm_set1_epi64x(static_cast<long long>(static_cast<Limb>(0) - equal));
      const Limb* row = work.table[k] + i;
#pragma GCC unroll 8
      for (uint32_t j = 0; j < lanes; ++j) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * j));
        acc[j] = _mm_or_si128(acc[j], _mm_and_si128(v, mask));
      }
    }
#pragma GCC unroll 8
    for (uint32_t j = 0; j < lanes; ++j) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 2 * j), acc[j]);
    }
    if (lanes < 8) {
      i += 2 * lanes;
      break;
    }
  }
#endif
  for (uint32_t r = i; r < n; ++r) out[r] = 0;
  for (uint32_t k = 0; k < entries; ++k) {
    const Limb equal = static_cast<Limb>(((k ^ index) - 1u) >> 31);
    const Limb mask = static_cast<Limb>(0) - equal;
    for (uint32_t r = i; r < n; ++r) out[r] |= work.table[k][r] & mask;
  }
}

// The same with 256-bit lanes, for the common sizes (kLimbs = 8, 16 or 32):
// four limbs a lane, half the work of the 128-bit gather above. Not in the
// Windows build, whose compiler cannot keep the stack aligned for spilled
// 256-bit registers.
#if MARLINOK_MP_ADX && !defined(_WIN32)
#define MARLINOK_MP_AVX2_GATHER 1
template <uint32_t kLimbs>
__attribute__((target("avx2"))) void GatherAvx2(Limb* out, const ExpWork& work, uint32_t entries,
                                                uint32_t index) {
  constexpr uint32_t kLanes = kLimbs / 4;
  __m256i acc[kLanes];
#pragma GCC unroll 8
  for (uint32_t j = 0; j < kLanes; ++j) acc[j] = _mm256_setzero_si256();
  for (uint32_t k = 0; k < entries; ++k) {
    const Limb equal = static_cast<Limb>(((k ^ index) - 1u) >> 31);  // index < 2^31
    const __m256i mask = _mm256_set1_epi64x(static_cast<long long>(static_cast<Limb>(0) - equal));
    const Limb* row = work.table[k];
#pragma GCC unroll 8
    for (uint32_t j = 0; j < kLanes; ++j) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 4 * j));
      acc[j] = _mm256_or_si256(acc[j], _mm256_and_si256(v, mask));
    }
  }
#pragma GCC unroll 8
  for (uint32_t j = 0; j < kLanes; ++j) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * j), acc[j]);
  }
}

bool HasAvx2() {
  static const bool supported = __builtin_cpu_supports("avx2");
  return supported;
}
#else
#define MARLINOK_MP_AVX2_GATHER 0
#endif

void GatherEntry(Limb* out, const ExpWork& work, uint32_t entries, uint32_t index) {
#if MARLINOK_MP_AVX2_GATHER
  if (HasAvx2()) {
    switch (work.ctx.n) {
      case 8:
        return GatherAvx2<8>(out, work, entries, index);
      case 16:
        return GatherAvx2<16>(out, work, entries, index);
      case 32:
        return GatherAvx2<32>(out, work, entries, index);
      default:
        break;
    }
  }
#endif
  switch (work.ctx.n * detail::kDigitsPerLimb) {
    case 16:
      return Gather<16 / detail::kDigitsPerLimb>(out, work, entries, index);
    case 32:
      return Gather<32 / detail::kDigitsPerLimb>(out, work, entries, index);
    case 64:
      return Gather<64 / detail::kDigitsPerLimb>(out, work, entries, index);
    default:
      return Gather<0>(out, work, entries, index);
  }
}

// Schoolbook path (any nonzero d, c nonzero): table b, b^2, b^3 mod d; the
// exponent is scanned two bits at a time from its top nonzero pair.
void SchoolbookModExp(MpDigit* a, const MpDigit* b, const MpDigit* c, uint32_t ce, const MpDigit* d,
                      uint32_t dn) {
  MpDigit table[3][MP_MAX_DIGITS];
  MpDigit t[MP_MAX_DIGITS];
  WipeOnExit<decltype(table)> wipe_table(table);
  WipeOnExit<decltype(t)> wipe_t(t);
  MpAssign(table[0], b, dn);
  MpModMul(table[1], table[0], b, d, dn);
  MpModMul(table[2], table[1], b, d, dn);
  MpAssignDigit(t, 1, dn);
  for (uint32_t i = ce; i-- > 0;) {
    MpDigit digit = c[i];
    uint32_t bits = 32;
    if (i == ce - 1) {
      while ((digit >> 30) == 0) {
        digit <<= 2;
        bits -= 2;
      }
    }
    for (; bits > 0; bits -= 2, digit <<= 2) {
      MpModMul(t, t, t, d, dn);
      MpModMul(t, t, t, d, dn);
      const uint32_t s = digit >> 30;
      if (s != 0) MpModMul(t, t, table[s - 1], d, dn);
    }
  }
  MpAssign(a, t, dn);
}

}  // namespace

namespace detail {

void MontgomeryModExp(MpDigit* a, const MpDigit* b, uint32_t bn, const MpDigit* c, uint32_t ce,
                      const MpDigit* d, uint32_t dd, bool public_modulus) noexcept {
#if MARLINOK_MP_IFMA
  if (IfmaModExp(a, b, bn, c, ce, d, dd, public_modulus)) return;
#endif
  ExpWork work;
  WipeOnExit<ExpWork> wipe_work(work);
  Montgomery* ctx = &work.ctx;
  MontgomeryInit(ctx, d, dd, public_modulus);
  const uint32_t n = ctx->n;
  const uint32_t bits = BitLength(c, ce);
  MontgomeryEnter(work.table[1], b, bn, ctx);

  if (bits <= 64) {
    // Short exponents are public ones (3, 65537): plain square and multiply.
    for (uint32_t i = 0; i < n; ++i) work.acc[i] = work.table[1][i];
    for (uint32_t pos = bits - 1; pos-- > 0;) {
      MontgomerySqr(work.acc, work.acc, ctx);
      if (ExponentBits(c, ce, pos, 1) != 0) MontgomeryMul(work.acc, work.acc, work.table[1], ctx);
    }
  } else {
    // Fixed window: every window costs `window` squarings and one product,
    // whatever its bits (a zero window multiplies by the form of 1).
    const uint32_t window = bits > 512 ? 5 : 4;
    const uint32_t entries = 1u << window;
    for (uint32_t i = 0; i < n; ++i) work.table[0][i] = ctx->one[i];
    for (uint32_t k = 2; k < entries; ++k) {
      MontgomeryMul(work.table[k], work.table[k - 1], work.table[1], ctx);
    }
    const uint32_t windows = (bits + window - 1) / window;
    const uint32_t top_pos = (windows - 1) * window;
    GatherEntry(work.acc, work, entries, ExponentBits(c, ce, top_pos, bits - top_pos));
    for (uint32_t w = windows - 1; w-- > 0;) {
      for (uint32_t s = 0; s < window; ++s) MontgomerySqr(work.acc, work.acc, ctx);
      GatherEntry(work.entry, work, entries, ExponentBits(c, ce, w * window, window));
      MontgomeryMul(work.acc, work.acc, work.entry, ctx);
    }
  }
  MontgomeryLeave(a, dd, work.acc, ctx);
}

void MontgomeryPow2(MpDigit* a, const MpDigit* c, uint32_t ce, const MpDigit* d,
                    uint32_t dd) noexcept {
  // Left to right: square, and double (an addition) for each one bit. The
  // exponent here is a public prime candidate, so branching on it is fine.
  ExpWork work;
  WipeOnExit<ExpWork> wipe_work(work);
  Montgomery* ctx = &work.ctx;
  MontgomeryInit(ctx, d, dd);
  const uint32_t bits = BitLength(c, ce);
  MontgomeryDouble(work.acc, ctx->one, ctx);  // the top bit: 2^1
  for (uint32_t pos = bits - 1; pos-- > 0;) {
    MontgomerySqr(work.acc, work.acc, ctx);
    if (ExponentBits(c, ce, pos, 1) != 0) MontgomeryDouble(work.acc, work.acc, ctx);
  }
  MontgomeryLeave(a, dd, work.acc, ctx);
}

}  // namespace detail

namespace {

void ModExp(MpDigit* a, const MpDigit* b, const MpDigit* c, uint32_t cn, const MpDigit* d,
            uint32_t dn, bool public_modulus) {
  const uint32_t ce = MpDigitCount(c, cn);
  const uint32_t dd = MpDigitCount(d, dn);
  // A zero exponent gives 1 (unreduced, so also for d = 1); a zero modulus
  // leaves every product unreduced and unwritten, which also ends at 1.
  if (ce == 0 || dd == 0) {
    MpAssignDigit(a, 1, dn);
    return;
  }
  if ((d[0] & 1) == 0) {
    SchoolbookModExp(a, b, c, ce, d, dn);
    return;
  }
  MpDigit t[MP_MAX_DIGITS];
  WipeOnExit<decltype(t)> wipe_t(t);
  if (dd == 1 && d[0] == 1) {
    MpAssignZero(t, dd);
  } else {
    detail::MontgomeryModExp(t, b, dn, c, ce, d, dd, public_modulus);
  }
  MpAssignZero(a, dn);
  MpAssign(a, t, dd);
}

}  // namespace

void MpModExp(MpDigit* a, const MpDigit* b, const MpDigit* c, uint32_t cn, const MpDigit* d,
              uint32_t dn) noexcept {
  ModExp(a, b, c, cn, d, dn, false);
}

void MpModExpPublic(MpDigit* a, const MpDigit* b, const MpDigit* c, uint32_t cn, const MpDigit* d,
                    uint32_t dn) noexcept {
  ModExp(a, b, c, cn, d, dn, true);
}

void MpModExp2(MpDigit* a1, const MpDigit* b1, const MpDigit* c1, const MpDigit* d1, MpDigit* a2,
               const MpDigit* b2, const MpDigit* c2, const MpDigit* d2, uint32_t n) noexcept {
#if MARLINOK_MP_IFMA
  const uint32_t ce1 = MpDigitCount(c1, n), ce2 = MpDigitCount(c2, n);
  const uint32_t dd1 = MpDigitCount(d1, n), dd2 = MpDigitCount(d2, n);
  // Odd moduli of at least 256 bits and nonzero exponents only (IfmaModExp2
  // checks the lengths); the results' digits above the moduli are zero.
  if (ce1 != 0 && ce2 != 0 && dd1 != 0 && dd2 != 0 && (d1[0] & d2[0] & 1) != 0) {
    MpDigit t1[MP_MAX_DIGITS], t2[MP_MAX_DIGITS];
    WipeOnExit<decltype(t1)> wipe_t1(t1);
    WipeOnExit<decltype(t2)> wipe_t2(t2);
    if (detail::IfmaModExp2(t1, b1, c1, ce1, d1, dd1, t2, b2, c2, ce2, d2, dd2, n)) {
      MpAssignZero(a1, n);
      MpAssign(a1, t1, dd1);
      MpAssignZero(a2, n);
      MpAssign(a2, t2, dd2);
      return;
    }
  }
#endif
  MpModExp(a1, b1, c1, n, d1, n);
  MpModExp(a2, b2, c2, n, d2, n);
}

}  // namespace marlinok::mp
