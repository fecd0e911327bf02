// Message digests of the module: MD5 and SHA-1 on the token's own engines,
// SHA-224/256/384/512 through OpenSSL, behind one incremental interface, and
// the DER prefixes of their DigestInfo for PKCS #1 v1.5 signatures.
#ifndef MARLINOK_PKCS11_DIGESTS_H
#define MARLINOK_PKCS11_DIGESTS_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "pkcs11/pkcs11_api.h"

namespace marlinok::pkcs11 {

class Hasher {
 public:
  virtual ~Hasher() = default;
  virtual void Update(const uint8_t* data, std::size_t length) = 0;
  // Writes Size() bytes; the hasher is spent.
  virtual void Final(uint8_t* out) = 0;
  virtual std::size_t Size() const = 0;
};

// A hasher for CKM_MD5, CKM_SHA_1, CKM_SHA224, CKM_SHA256, CKM_SHA384 or
// CKM_SHA512; null for another mechanism.
std::unique_ptr<Hasher> NewHasher(CK_MECHANISM_TYPE digest);

// The digest length of one of those, 0 for another mechanism.
std::size_t DigestSize(CK_MECHANISM_TYPE digest);

// The DER DigestInfo header that precedes a digest of that kind.
Bytes DigestInfoPrefix(CK_MECHANISM_TYPE digest);

// The digest mechanism a CKG_MGF1_* names, or CKM_VENDOR_DEFINED for none.
CK_MECHANISM_TYPE MgfDigest(CK_RSA_PKCS_MGF_TYPE mgf);

// One-shot.
Bytes Digest(CK_MECHANISM_TYPE digest, const uint8_t* data, std::size_t length);

}  // namespace marlinok::pkcs11

#endif
