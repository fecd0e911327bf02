// One cryptographic operation of a session (C_EncryptInit ... C_DigestFinal):
// input goes in through Update, the result comes out of Final (or Verify
// checks a signature against it). A session holds at most one of each kind.
#ifndef MARLINOK_PKCS11_OPERATION_H
#define MARLINOK_PKCS11_OPERATION_H

#include <cstddef>
#include <cstdint>

#include "pkcs11/pkcs11_api.h"

namespace marlinok::pkcs11 {

enum class OperationKind { Encrypt, Decrypt, Sign, Verify, Digest, Count };

class Operation {
 public:
  virtual ~Operation() = default;
  // Takes in input; a cipher may hand out output at once.
  virtual CK_RV Update(const uint8_t* data, std::size_t length, Bytes* output) = 0;
  // The result of everything taken in: a signature, a digest, the rest of a
  // cipher's output.
  virtual CK_RV Final(Bytes* output) = 0;
  // Checks a signature against everything taken in (verification only).
  virtual CK_RV Verify(const uint8_t* /*signature*/, std::size_t /*length*/) {
    return CKR_FUNCTION_FAILED;
  }
  // Whether the C_*Update calls may feed it (RSA encryption is one part only).
  virtual bool MultiPart() const { return true; }
};

}  // namespace marlinok::pkcs11

#endif
