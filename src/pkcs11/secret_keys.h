// Secret keys, session objects only: 3DES (CKK_DES3, 24 bytes) and RC4
// (CKK_RC4, 1 to 256 bytes), made by C_GenerateKey from the operating
// system's generator, by C_CreateObject or by C_UnwrapKey; and their
// ciphers, CKM_DES3_ECB, CKM_DES3_CBC, CKM_DES3_CBC_PAD and CKM_RC4, on the
// token's symmetric engine. Key values are wiped when the object goes.
#ifndef MARLINOK_PKCS11_SECRET_KEYS_H
#define MARLINOK_PKCS11_SECRET_KEYS_H

#include <memory>
#include <vector>

#include "pkcs11/objects.h"
#include "pkcs11/operation.h"

namespace marlinok::pkcs11 {

bool IsSymmetricMechanism(CK_MECHANISM_TYPE mechanism);

// An encryption or decryption with a secret key; the key's type must suit
// the mechanism (CKR_KEY_TYPE_INCONSISTENT), a CBC mechanism takes an 8-byte
// IV (CKR_MECHANISM_PARAM_INVALID).
CK_RV NewSymmetricOperation(OperationKind kind, const CK_MECHANISM& mechanism,
                            const SessionObject& key, std::unique_ptr<Operation>* out);

// C_CreateObject of a CKO_SECRET_KEY with its CKA_VALUE.
CK_RV CreateSecretKey(const CK_ATTRIBUTE* attributes, CK_ULONG count, CK_SESSION_HANDLE session,
                      std::vector<ObjectRef>* refs);

// C_GenerateKey with CKM_DES3_KEY_GEN or CKM_RC4_KEY_GEN (CKA_VALUE_LEN).
CK_RV GenerateSecretKey(CK_MECHANISM_TYPE mechanism, const CK_ATTRIBUTE* attributes, CK_ULONG count,
                        CK_SESSION_HANDLE session, std::vector<ObjectRef>* refs);

// The key C_UnwrapKey recovered, with the application's template.
CK_RV UnwrappedSecretKey(const Bytes& value, const CK_ATTRIBUTE* attributes, CK_ULONG count,
                         CK_SESSION_HANDLE session, std::vector<ObjectRef>* refs);

}  // namespace marlinok::pkcs11

#endif
