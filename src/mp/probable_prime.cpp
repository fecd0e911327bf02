// The probable-prime test: no factor among 3, 5, 7 and 11, and 2^a mod a = 2.
#include "core/wipe.h"
#include "mp/mp.h"
#include "mp/mp_internal.h"

namespace marlinok::mp {

namespace {

constexpr MpDigit kSmallPrimes[] = {3, 5, 7, 11};

// a mod s for a one-digit s, exact like MpMod.
MpDigit DigitRemainder(const MpDigit* a, uint32_t n, MpDigit s) {
  uint64_t rest = 0;
  for (uint32_t i = n; i-- > 0;) rest = ((rest << 32) | a[i]) % s;
  return static_cast<MpDigit>(rest);
}

}  // namespace

bool HasSmallFactor(const MpDigit* a, uint32_t n) noexcept {
  for (const MpDigit s : kSmallPrimes) {
    // As one-digit numbers the four primes themselves are let through.
    if (n == 1 && a[0] == s) return false;
    if (DigitRemainder(a, n, s) == 0) return true;
  }
  return false;
}

bool PassesFermatBase2(const MpDigit* a, uint32_t n) noexcept {
  MpDigit u[MP_MAX_DIGITS];
  MpDigit two[MP_MAX_DIGITS];
  WipeOnExit<decltype(u)> wipe_u(u);
  MpAssignDigit(two, 2, n);
  const uint32_t ad = MpDigitCount(a, n);
  if (ad != 0 && (a[0] & 1) != 0 && !(ad == 1 && a[0] == 1)) {
    // Odd a > 1: square-and-double in Montgomery form, far cheaper than a
    // general exponentiation and with the same result.
    MpAssignZero(u, n);
    detail::MontgomeryPow2(u, a, ad, a, ad);
  } else {
    MpModExp(u, two, a, n, a, n);
  }
  return MpCompare(u, two, n) == 0;
}

bool IsProbablePrime(const MpDigit* a, uint32_t n) noexcept {
  return !HasSmallFactor(a, n) && PassesFermatBase2(a, n);
}

}  // namespace marlinok::mp
