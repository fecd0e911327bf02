// Schoolbook multiplication and the multiply-then-reduce modular product.
#include "core/wipe.h"
#include "mp/mp.h"

namespace marlinok::mp {

void MpMul(MpDigit* a, const MpDigit* b, const MpDigit* c, uint32_t n) noexcept {
  // The product is built in scratch so that a may be b or c.
  MpDigit t[kMpDoubleDigits];
  WipeOnExit<decltype(t)> wipe_t(t);
  MpAssignZero(t, 2 * n);
  // Leading zero digits of both factors are skipped.
  const uint32_t bn = MpDigitCount(b, n);
  const uint32_t cn = MpDigitCount(c, n);
  for (uint32_t i = 0; i < bn; ++i) t[i + cn] += MpAddDigitMul(t + i, b[i], c, cn);
  MpAssign(a, t, 2 * n);
}

void MpModMul(MpDigit* a, const MpDigit* b, const MpDigit* c, const MpDigit* d,
              uint32_t n) noexcept {
  MpDigit t[kMpDoubleDigits];
  WipeOnExit<decltype(t)> wipe_t(t);
  MpMul(t, b, c, n);
  MpMod(a, t, 2 * n, d, n);
}

}  // namespace marlinok::mp
