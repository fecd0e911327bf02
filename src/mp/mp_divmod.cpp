// Schoolbook division with normalisation (quotient digits estimated from the
// top two window digits and the top two divisor digits, then corrected).
#include "core/wipe.h"
#include "mp/mp.h"
#include "mp/mp_internal.h"

namespace marlinok::mp {

namespace detail {

void DivModCore(MpDigit* q, MpDigit* r, const MpDigit* c, uint32_t cn, const MpDigit* d,
                uint32_t dd) noexcept {
  // w holds c shifted so that the divisor's top bit is set, plus one digit for
  // the bits shifted out; a dividend shorter than the divisor is zero-extended.
  MpDigit w[kWideDigits + 1];
  MpDigit v[MP_MAX_DIGITS + 2];
  MpDigit quotient[kWideDigits];
  WipeOnExit<decltype(w)> wipe_w(w);
  WipeOnExit<decltype(v)> wipe_v(v);
  WipeOnExit<decltype(quotient)> wipe_q(quotient);

  const uint32_t shift = 32 - DigitBitLength(d[dd - 1]);  // 0..31, d[dd - 1] != 0
  const uint32_t wn = cn + 1 > dd ? cn + 1 : dd;
  MpAssignZero(w, wn);
  if (shift == 0) {
    MpAssign(w, c, cn);
    MpAssign(v, d, dd);
  } else {
    w[cn] = MpShiftLeft(w, c, shift, cn);
    MpShiftLeft(v, d, shift, dd);
  }
  MpAssignZero(quotient, cn);

  const uint64_t top = v[dd - 1];
  const uint64_t next = dd >= 2 ? v[dd - 2] : 0;
  for (uint32_t i = cn >= dd ? cn - dd + 1 : 0; i-- > 0;) {
    // w[i + dd] <= top holds throughout, so the estimate is at most 2^32.
    const uint64_t numerator = (uint64_t{w[i + dd]} << 32) | w[i + dd - 1];
    uint64_t estimate = numerator / top;
    uint64_t rest = numerator % top;
    const uint64_t below = dd >= 2 ? w[i + dd - 2] : 0;
    // Two corrections at most make the estimate exact or one too large.
    while (estimate > 0xFFFFFFFFu || estimate * next > ((rest << 32) | below)) {
      --estimate;
      rest += top;
      if (rest > 0xFFFFFFFFu) break;
    }
    MpDigit digit = static_cast<MpDigit>(estimate);
    const MpDigit borrow = MpSubDigitMul(w + i, digit, v, dd);
    const MpDigit high = w[i + dd];
    w[i + dd] = high - borrow;
    if (high < borrow) {
      // One too large: add the divisor back once.
      --digit;
      w[i + dd] += MpAdd(w + i, w + i, v, dd);
    }
    quotient[i] = digit;
  }
  if (q != nullptr) MpAssign(q, quotient, cn);
  if (shift == 0) {
    MpAssign(r, w, dd);
  } else {
    MpShiftRight(r, w, shift, dd);
  }
}

}  // namespace detail

void MpDivMod(MpDigit* q, MpDigit* r, const MpDigit* c, uint32_t cn, const MpDigit* d,
              uint32_t dn) noexcept {
  const uint32_t dd = MpDigitCount(d, dn);
  if (dd == 0) return;
  MpDigit quotient[kMpDoubleDigits];
  MpDigit rest[MP_MAX_DIGITS];
  WipeOnExit<decltype(quotient)> wipe_q(quotient);
  WipeOnExit<decltype(rest)> wipe_r(rest);
  detail::DivModCore(quotient, rest, c, cn, d, dd);
  MpAssign(q, quotient, cn);
  MpAssignZero(r, dn);
  MpAssign(r, rest, dd);
}

void MpMod(MpDigit* r, const MpDigit* c, uint32_t cn, const MpDigit* d, uint32_t dn) noexcept {
  const uint32_t dd = MpDigitCount(d, dn);
  if (dd == 0) return;
  MpDigit rest[MP_MAX_DIGITS];
  WipeOnExit<decltype(rest)> wipe_r(rest);
  detail::DivModCore(nullptr, rest, c, cn, d, dd);
  MpAssignZero(r, dn);
  MpAssign(r, rest, dd);
}

}  // namespace marlinok::mp
