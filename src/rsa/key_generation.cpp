#include "rsa/key_generation.h"

#include <cstring>

#include "core/wipe.h"

namespace marlinok::rsa {

using namespace marlinok::mp;

namespace {

// Every number of a generation, kept at full capacity so that products of two
// prime-sized numbers (2 * pDigits <= 64 digits) fit.
struct KeyNumbers {
  MpDigit e[MP_MAX_DIGITS];
  MpDigit n[MP_MAX_DIGITS];
  MpDigit low[MP_MAX_DIGITS];
  MpDigit high[MP_MAX_DIGITS];
  MpDigit step[MP_MAX_DIGITS];
  MpDigit p[MP_MAX_DIGITS];
  MpDigit q[MP_MAX_DIGITS];
  MpDigit pMinus1[MP_MAX_DIGITS];
  MpDigit qMinus1[MP_MAX_DIGITS];
  MpDigit phi[MP_MAX_DIGITS];
  MpDigit d[MP_MAX_DIGITS];
  MpDigit exponent1[MP_MAX_DIGITS];
  MpDigit exponent2[MP_MAX_DIGITS];
  MpDigit coefficient[MP_MAX_DIGITS];
  MpDigit scratch[MP_MAX_DIGITS];
};

// A prime of exactly `bits` bits whose two top bits are set, with
// gcd(prime - 1, e) = 1: low = 3 * 2^(bits-2), high = 2^bits - 1, odd steps.
// Each refusal by the exponent test starts a fresh search from a new random
// point.
Status FindKeyPrime(MpDigit* prime, uint32_t bits, uint32_t pDigits, KeyNumbers& k,
                    RandomPool* pool) {
  MpAssignPow2(k.low, bits - 1, pDigits);
  MpAssignPow2(k.scratch, bits - 2, pDigits);
  (void)MpAdd(k.low, k.low, k.scratch, pDigits);
  MpAssignDigit(k.high, 1, pDigits);
  (void)MpSub(k.high, k.low, k.high, pDigits);      // low - 1
  (void)MpAdd(k.high, k.scratch, k.high, pDigits);  // 2^(bits-2) + low - 1 = 2^bits - 1
  MpAssignDigit(k.step, 2, pDigits);
  for (;;) {
    const Status found = FindProbablePrime(prime, k.low, k.high, k.step, pDigits, pool);
    if (found != Status::Ok) return found;
    if (PrimeSuitsExponent(prime, pDigits, k.e, 1)) return Status::Ok;
  }
}

}  // namespace

bool AreCoprime(const MpDigit* a, uint32_t aDigits, const MpDigit* b, uint32_t bDigits) noexcept {
  MpDigit t[MP_MAX_DIGITS];
  MpDigit one[MP_MAX_DIGITS];
  WipeOnExit<decltype(t)> wipeT(t);
  MpAssignZero(t, aDigits);
  MpAssign(t, b, bDigits);
  MpGcd(t, a, t, aDigits);
  MpAssignDigit(one, 1, aDigits);
  return MpCompare(t, one, aDigits) == 0;
}

bool PrimeSuitsExponent(const MpDigit* p, uint32_t pDigits, const MpDigit* e,
                        uint32_t eDigits) noexcept {
  MpDigit pMinus1[MP_MAX_DIGITS];
  WipeOnExit<decltype(pMinus1)> wipe(pMinus1);
  MpAssignDigit(pMinus1, 1, pDigits);
  (void)MpSub(pMinus1, p, pMinus1, pDigits);
  return AreCoprime(pMinus1, pDigits, e, eDigits);
}

Status GenerateRsaKeyPair(PublicKeyRecord* publicRecord, PrivateKeyRecord* privateRecord,
                          const KeyPairParams* params, RandomPool* pool) noexcept {
  const uint32_t modulusBits = params->modulusBits;
  if (modulusBits < RSA_MIN_MODULUS_BITS || modulusBits > RSA_MAX_MODULUS_BITS)
    return Status::ModulusLength;

  // 2048 bits: 64 modulus digits, 32 prime digits, two 1024-bit primes.
  const uint32_t nDigits = (modulusBits + 31) / 32;
  const uint32_t pDigits = (nDigits + 1) / 2;
  const uint32_t pBits = (modulusBits + 1) / 2;
  const uint32_t qBits = modulusBits - pBits;

  KeyNumbers k;
  WipeOnExit<KeyNumbers> wipe(k);
  MpAssignDigit(k.e, params->useF4 != 0 ? 65537u : 3u, nDigits);

  Status status = FindKeyPrime(k.p, pBits, pDigits, k, pool);
  if (status != Status::Ok) return status;
  status = FindKeyPrime(k.q, qBits, pDigits, k, pool);
  if (status != Status::Ok) return status;
  if (MpCompare(k.p, k.q, pDigits) < 0) {
    MpAssign(k.scratch, k.p, pDigits);
    MpAssign(k.p, k.q, pDigits);
    MpAssign(k.q, k.scratch, pDigits);
  }

  // p >= 3 * 2^(pBits-2) and q >= 3 * 2^(qBits-2), so n >= 9 * 2^(bits-4) has
  // exactly modulusBits bits.
  MpMul(k.n, k.p, k.q, pDigits);
  MpModInverse(k.coefficient, k.q, k.p, pDigits);
  MpAssignDigit(k.scratch, 1, pDigits);
  (void)MpSub(k.pMinus1, k.p, k.scratch, pDigits);
  (void)MpSub(k.qMinus1, k.q, k.scratch, pDigits);
  MpMul(k.phi, k.pMinus1, k.qMinus1, pDigits);
  // phi < n, so its digits above nDigits are zero.
  MpModInverse(k.d, k.e, k.phi, nDigits);
  MpMod(k.exponent1, k.d, nDigits, k.pMinus1, pDigits);
  MpMod(k.exponent2, k.d, nDigits, k.qMinus1, pDigits);

  uint8_t* pub = publicRecord->bytes;
  uint8_t* priv = privateRecord->bytes;
  WriteModulusBits(priv, modulusBits);
  WriteModulusBits(pub, modulusBits);
  MpEncode(pub + kModulusOffset, RSA_MODULUS_BYTES, k.n, nDigits);
  MpEncode(pub + kPublicExponentOffset, RSA_MODULUS_BYTES, k.e, 1);
  std::memcpy(priv + kModulusOffset, pub + kModulusOffset, 2 * RSA_MODULUS_BYTES);
  MpEncode(priv + kPrivateExponentOffset, RSA_MODULUS_BYTES, k.d, nDigits);
  MpEncode(priv + kPrime1Offset, RSA_PRIME_BYTES, k.p, pDigits);
  MpEncode(priv + kPrime2Offset, RSA_PRIME_BYTES, k.q, pDigits);
  MpEncode(priv + kExponent1Offset, RSA_PRIME_BYTES, k.exponent1, pDigits);
  MpEncode(priv + kExponent2Offset, RSA_PRIME_BYTES, k.exponent2, pDigits);
  MpEncode(priv + kCoefficientOffset, RSA_PRIME_BYTES, k.coefficient, pDigits);
  return Status::Ok;
}

}  // namespace marlinok::rsa
