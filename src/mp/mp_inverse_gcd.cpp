// Modular inverse by the extended Euclidean algorithm (kept in non-negative
// numbers with a running sign) and the Euclidean gcd.
#include "core/wipe.h"
#include "mp/mp.h"

namespace marlinok::mp {

void MpModInverse(MpDigit* a, const MpDigit* b, const MpDigit* c, uint32_t n) noexcept {
  // Invariants: x * b = +-g and y * b = -+h (mod c), with x, y <= c / gcd, so
  // z = x + q * y never leaves n digits.
  struct Work {
    MpDigit x[MP_MAX_DIGITS], y[MP_MAX_DIGITS], g[MP_MAX_DIGITS], h[MP_MAX_DIGITS];
    MpDigit q[MP_MAX_DIGITS], rem[MP_MAX_DIGITS], z[MP_MAX_DIGITS];
    MpDigit product[kMpDoubleDigits];
  } w;
  WipeOnExit<Work> wipe_w(w);
  MpAssignDigit(w.x, 1, n);
  MpAssignZero(w.y, n);
  MpAssign(w.g, b, n);
  MpAssign(w.h, c, n);
  bool negative = false;
  while (!MpIsZero(w.h, n)) {
    MpDivMod(w.q, w.rem, w.g, n, w.h, n);
    MpMul(w.product, w.q, w.y, n);
    MpAdd(w.z, w.x, w.product, n);
    MpAssign(w.x, w.y, n);
    MpAssign(w.y, w.z, n);
    MpAssign(w.g, w.h, n);
    MpAssign(w.h, w.rem, n);
    negative = !negative;
  }
  if (negative) {
    MpSub(a, c, w.x, n);
  } else {
    MpAssign(a, w.x, n);
  }
}

void MpGcd(MpDigit* a, const MpDigit* b, const MpDigit* c, uint32_t n) noexcept {
  struct Work {
    MpDigit u[MP_MAX_DIGITS], v[MP_MAX_DIGITS], t[MP_MAX_DIGITS];
  } w;
  WipeOnExit<Work> wipe_w(w);
  MpAssign(w.u, b, n);
  MpAssign(w.v, c, n);
  while (!MpIsZero(w.v, n)) {
    MpMod(w.t, w.u, n, w.v, n);
    MpAssign(w.u, w.v, n);
    MpAssign(w.v, w.t, n);
  }
  MpAssign(a, w.u, n);
}

}  // namespace marlinok::mp
