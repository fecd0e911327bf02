#include "core/wipe.h"
#include "mp/mp.h"
#include "rsa/rsa_block_ops.h"

namespace marlinok::rsa {

using namespace marlinok::mp;

namespace {

struct CrtNumbers {
  MpDigit c[MP_MAX_DIGITS];
  MpDigit cP[MP_MAX_DIGITS];
  MpDigit cQ[MP_MAX_DIGITS];
  MpDigit p[MP_MAX_DIGITS];
  MpDigit q[MP_MAX_DIGITS];
  MpDigit dP[MP_MAX_DIGITS];
  MpDigit dQ[MP_MAX_DIGITS];
  MpDigit qInv[MP_MAX_DIGITS];
  MpDigit mP[MP_MAX_DIGITS];
  MpDigit mQ[MP_MAX_DIGITS];
  MpDigit u[MP_MAX_DIGITS];
  MpDigit t[MP_MAX_DIGITS];
};

}  // namespace

Status RsaPrivateRawCrt(uint8_t* output, uint32_t* outputLength, const uint8_t* input,
                        uint32_t inputLength, const PrivateKeyRecord* record) noexcept {
  const uint8_t* r = record->bytes;
  MpDigit n[MP_MAX_DIGITS];
  CrtNumbers x{};
  WipeOnExit<CrtNumbers> wipe(x);
  MpDecode(x.c, MP_MAX_DIGITS, input, inputLength);
  MpDecode(n, MP_MAX_DIGITS, r + kModulusOffset, RSA_MODULUS_BYTES);
  MpDecode(x.p, MP_MAX_DIGITS, r + kPrime1Offset, RSA_PRIME_BYTES);
  MpDecode(x.q, MP_MAX_DIGITS, r + kPrime2Offset, RSA_PRIME_BYTES);
  MpDecode(x.dP, MP_MAX_DIGITS, r + kExponent1Offset, RSA_PRIME_BYTES);
  MpDecode(x.dQ, MP_MAX_DIGITS, r + kExponent2Offset, RSA_PRIME_BYTES);
  MpDecode(x.qInv, MP_MAX_DIGITS, r + kCoefficientOffset, RSA_PRIME_BYTES);

  const uint32_t cn = MpDigitCount(x.c, MP_MAX_DIGITS);
  const uint32_t nn = MpDigitCount(n, MP_MAX_DIGITS);
  // Imported keys may carry the smaller prime first: the prime arithmetic is
  // sized for the longer one. The 128-byte fields bound pn by 32, so the
  // product t * q below (2 * pn digits) fits.
  const uint32_t pDigitsP = MpDigitCount(x.p, MP_MAX_DIGITS);
  const uint32_t pDigitsQ = MpDigitCount(x.q, MP_MAX_DIGITS);
  const uint32_t pn = pDigitsP > pDigitsQ ? pDigitsP : pDigitsQ;

  if (MpCompare(x.c, n, nn) >= 0) return Status::DataRange;

  // The whole decoded input is reduced, not only its low nn digits.
  MpMod(x.cP, x.c, cn, x.p, pn);
  MpMod(x.cQ, x.c, cn, x.q, pn);
  MpAssignZero(x.mQ, nn);
  MpModExp2(x.mP, x.cP, x.dP, x.p, x.mQ, x.cQ, x.dQ, x.q, pn);

  // t = (mP - mQ) mod p. mQ < q, which exceeds p when the primes come
  // smaller first: reduce it modulo p before the difference (a no-op for
  // p >= q).
  MpMod(x.u, x.mQ, pn, x.p, pn);
  if (MpCompare(x.mP, x.u, pn) >= 0) {
    (void)MpSub(x.t, x.mP, x.u, pn);
  } else {
    (void)MpSub(x.u, x.u, x.mP, pn);
    (void)MpSub(x.t, x.p, x.u, pn);
  }
  // m = mQ + q * ((t * qInv) mod p), below p * q = n.
  MpModMul(x.t, x.t, x.qInv, x.p, pn);
  MpMul(x.t, x.t, x.q, pn);
  (void)MpAdd(x.t, x.t, x.mQ, nn);

  const uint32_t k = ModulusBytes(ReadModulusBits(r));
  MpEncode(output, k, x.t, nn);
  *outputLength = k;
  return Status::Ok;
}

}  // namespace marlinok::rsa
