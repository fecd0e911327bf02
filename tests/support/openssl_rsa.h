// RSA keys made by OpenSSL, the reference the token's RSA code and key blobs
// are checked against, and their key records.
#ifndef MARLINOK_TESTS_SUPPORT_OPENSSL_RSA_H
#define MARLINOK_TESTS_SUPPORT_OPENSSL_RSA_H

#include <openssl/evp.h>

#include <cstdint>
#include <memory>

#include "support/hex.h"

namespace marlinok::test {

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// The numbers of a key, big-endian without leading zeros.
struct RsaNumbers {
  uint32_t bits = 0;
  Bytes n, e, d, p, q, dp, dq, qinv;
};

// A fresh key of `bits` bits with e = 65537, p > q.
PkeyPtr GenerateRsaKey(uint32_t bits);
RsaNumbers NumbersOf(const EVP_PKEY* key);

// One key per size for the whole test program (generation is the slow part).
EVP_PKEY* SharedRsaKey(uint32_t bits);

// OpenSSL's own PUBLICKEYBLOB or PRIVATEKEYBLOB of a key.
Bytes OpenSslKeyBlob(const EVP_PKEY* key, bool privateBlob);

// The 516- and 1412-byte records of a key: little-endian bit length, then the
// numbers right-aligned big-endian in their fields.
Bytes PublicRecordOf(const RsaNumbers& key);
Bytes PrivateRecordOf(const RsaNumbers& key);

}  // namespace marlinok::test

#endif
