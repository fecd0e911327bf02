// The RSA mechanisms: PKCS #1 v1.5 (CKM_RSA_PKCS and the hash-and-sign
// mechanisms), raw RSA (CKM_RSA_X_509), PSS and OAEP. The encodings are made
// here (digests from pkcs11/digests.h, salts, seeds and padding from the
// operating system's generator); the RSA operation itself runs on the
// token's arithmetic, with the key read from the hive at the moment of use.
#ifndef MARLINOK_PKCS11_RSA_MECHANISMS_H
#define MARLINOK_PKCS11_RSA_MECHANISMS_H

#include <memory>

#include "pkcs11/objects.h"
#include "pkcs11/operation.h"

namespace marlinok::pkcs11 {

// Whether `mechanism` is an RSA mechanism for `kind`.
bool IsRsaMechanism(CK_MECHANISM_TYPE mechanism, OperationKind kind);

// An operation with the pair `key`, whose public record is `publicRecord`.
// The private operations read the private record from the hive when they
// run; the public ones use the record given. The mechanism's parameters are
// checked: CKR_MECHANISM_PARAM_INVALID.
CK_RV NewRsaOperation(OperationKind kind, const CK_MECHANISM& mechanism, const ObjectRef& key,
                      const rsa::PublicKeyRecord& publicRecord, std::unique_ptr<Operation>* out);

// The standard's encodings, exposed for the key wrapping calls and tests.
// PKCS #1 v1.5 type 2 (encryption) of `message` into k bytes.
CK_RV EncodePkcs1Type2(const uint8_t* message, std::size_t length, std::size_t k, Bytes* block);
// The message of a decrypted type-2 block; CKR_ENCRYPTED_DATA_INVALID.
CK_RV DecodePkcs1Type2(const Bytes& block, Bytes* message);

// One raw RSA operation, k bytes in, k out: the private one with a stored
// pair, the public one with a public record.
CK_RV PrivateOperation(const ObjectRef& key, const Bytes& input, Bytes* output);
CK_RV PublicOperation(const rsa::PublicKeyRecord& key, const Bytes& input, Bytes* output);

}  // namespace marlinok::pkcs11

#endif
