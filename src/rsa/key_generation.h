// RSA key-pair generation: two probable primes with their two top bits set,
// so that n = p * q has exactly the requested length, and the CRT values.
#ifndef MARLINOK_RSA_KEY_GENERATION_H
#define MARLINOK_RSA_KEY_GENERATION_H

#include <cstdint>

#include "core/status.h"
#include "mp/mp.h"
#include "random/random_pool.h"
#include "rsa/key_record.h"

namespace marlinok::rsa {

using mp::MpDigit;

constexpr uint32_t RSA_MIN_MODULUS_BITS = 508;
constexpr uint32_t RSA_MAX_MODULUS_BITS = 2048;

struct KeyPairParams {
  uint32_t modulusBits;  // 508..2048
  uint32_t useF4;        // nonzero: e = 65537; zero: e = 3
};

// Fills both records from primes drawn through `pool` (seeded). Ok;
// ModulusLength for a length outside 508..2048 (nothing drawn); or the first
// failure of a prime search (DataRange, NeedSeed). On failure neither record
// is written.
Status GenerateRsaKeyPair(PublicKeyRecord* publicRecord, PrivateKeyRecord* privateRecord,
                          const KeyPairParams* params, RandomPool* pool) noexcept;

// gcd(p - 1, e) == 1.
bool PrimeSuitsExponent(const MpDigit* p, uint32_t pDigits, const MpDigit* e,
                        uint32_t eDigits) noexcept;

// gcd(a, b) == 1, with b zero-extended to aDigits digits (bDigits <= aDigits).
bool AreCoprime(const MpDigit* a, uint32_t aDigits, const MpDigit* b, uint32_t bDigits) noexcept;

}  // namespace marlinok::rsa

#endif
