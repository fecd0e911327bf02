// Pieces of the multi-precision code shared between its files.
#ifndef MARLINOK_MP_MP_INTERNAL_H
#define MARLINOK_MP_MP_INTERNAL_H

#include <cstdint>

#include "mp/mp.h"

namespace marlinok::mp::detail {

// Widest dividend the division core takes: a 65-digit number shifted up by
// 66 digits (the conversion into Montgomery form) plus slack.
constexpr uint32_t kWideDigits = 2 * MP_MAX_DIGITS + 4;

// Bits in c, which has ce digits with c[ce - 1] != 0.
inline uint32_t BitLength(const MpDigit* c, uint32_t ce) {
  return 32 * (ce - 1) + DigitBitLength(c[ce - 1]);
}

// `width` (<= 8) bits of c from bit `pos` up; bits beyond ce digits are 0.
inline uint32_t ExponentBits(const MpDigit* c, uint32_t ce, uint32_t pos, uint32_t width) {
  const uint32_t i = pos / 32;
  uint64_t v = c[i];
  if (i + 1 < ce) v |= uint64_t{c[i + 1]} << 32;
  return static_cast<uint32_t>(v >> (pos % 32)) & ((1u << width) - 1);
}

// Division core: q (cn digits, may be null) = c div d and r (dd digits) =
// c mod d, where d has exactly dd digits (d[dd - 1] != 0) and cn <= kWideDigits.
// q and r may alias c or d.
void DivModCore(MpDigit* q, MpDigit* r, const MpDigit* c, uint32_t cn, const MpDigit* d,
                uint32_t dd) noexcept;

// a = b^c mod d for an odd d > 1 with dd = MpDigitCount(d) digits, c nonzero
// with ce digits (c[ce - 1] != 0); a has dd digits. Montgomery arithmetic; a
// public modulus keeps its constants in the process-wide cache.
void MontgomeryModExp(MpDigit* a, const MpDigit* b, uint32_t bn, const MpDigit* c, uint32_t ce,
                      const MpDigit* d, uint32_t dd, bool public_modulus = false) noexcept;

// a = 2^c mod d for an odd d > 1 (dd digits as above), c nonzero with ce digits.
void MontgomeryPow2(MpDigit* a, const MpDigit* c, uint32_t ce, const MpDigit* d,
                    uint32_t dd) noexcept;

}  // namespace marlinok::mp::detail

#endif
