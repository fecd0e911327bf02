/*
 * marlinok: a software cryptographic token.
 *
 * RSA key containers behind a PIN, raw RSA, CryptoAPI key blobs, DES/3DES/RC4,
 * MD5/SHA-1 and random bytes, behind the exports declared here. Every variable
 * length argument is owned by the caller; the library never hands out memory.
 *
 * Output buffers follow one size-query rule unless a call's comment says
 * otherwise: with a null buffer, or a stated length smaller than the output,
 * the call stores the length it needs and returns MARLINOK_ERR_OK without doing
 * the work. A completed call stores the number of bytes produced.
 */
#ifndef MARLINOK_H
#define MARLINOK_H

#include <stdint.h>

/* MARLINOK_VERSION ("0.1.0") and MARLINOK_VERSION_MAJOR, _MINOR, _PATCH. */
#include "marlinok_version.h"

#if defined(_WIN32)
#define MARLINOK_CALL __stdcall
#else
#define MARLINOK_CALL
#endif

#if defined(MARLINOK_BUILDING)
#if defined(_WIN32)
#define MARLINOK_API
#else
#define MARLINOK_API __attribute__((visibility("default")))
#endif
#else
#define MARLINOK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A length and a pointer to the caller's bytes. */
typedef struct DataBlob {
  uint32_t length;
  uint8_t* data;
} DataBlob;

/* Status values returned by the exports. */
#define ERR_OK 0
#define ERR_FAILED (-1)
#define ERR_REFUSED 1
#define ERR_DECRYPT_REJECTED 0x84
#define ERR_WRAP_FAILED 0x86
#define ERR_STORE_NOT_OPENED 1011
#define ERR_DATA_RANGE 0x401
#define ERR_DES_KEY ((int32_t)0x86000010)
#define ERR_BLOCK_LENGTH ((int32_t)0x86000013)

/* CryptoAPI numbers: the same values as <wincrypt.h>, whose definitions are taken when a
 * Windows program has included it first. */

/* Algorithm identifiers (ALG_ID values). */
#ifndef CALG_MD5
#define CALG_MD5 0x8003u
#endif
#ifndef CALG_SHA1
#define CALG_SHA1 0x8004u
#endif
#ifndef CALG_RSA_SIGN
#define CALG_RSA_SIGN 0x2400u
#endif
#ifndef CALG_RSA_KEYX
#define CALG_RSA_KEYX 0xA400u
#endif
#ifndef CALG_DES
#define CALG_DES 0x6601u
#endif
#ifndef CALG_3DES
#define CALG_3DES 0x6603u
#endif
#ifndef CALG_RC4
#define CALG_RC4 0x6801u
#endif

/* Block cipher modes. */
#ifndef CRYPT_MODE_CBC
#define CRYPT_MODE_CBC 1u
#endif
#ifndef CRYPT_MODE_ECB
#define CRYPT_MODE_ECB 2u
#endif
#ifndef CRYPT_MODE_OFB
#define CRYPT_MODE_OFB 3u
#endif
#ifndef CRYPT_MODE_CFB
#define CRYPT_MODE_CFB 4u
#endif

/* Key parameters answered by QM_GetKeyProperty. */
#ifndef KP_PADDING
#define KP_PADDING 3u
#endif
#ifndef KP_PERMISSIONS
#define KP_PERMISSIONS 6u
#endif
#ifndef KP_ALGID
#define KP_ALGID 7u
#endif
#ifndef KP_BLOCKLEN
#define KP_BLOCKLEN 8u
#endif

/* Key pair kinds for QM_GenAsymmetricKey and QM_ImportPrivateKey. */
#define MARLINOK_PAIR_EXCHANGE 1u
#define MARLINOK_PAIR_SIGNATURE 2u

/* Sizes of the RSA key records. */
#define MARLINOK_PUBLIC_RECORD_BYTES 516u
#define MARLINOK_PRIVATE_RECORD_BYTES 1412u

/* ---- Random bytes and symmetric keys ---------------------------------- */

/* Fills blob->length (at most 16) bytes with clock-seeded random bytes. */
MARLINOK_API int32_t MARLINOK_CALL QM_GenRandom(DataBlob* blob);

/* CALG_3DES writes 24 bytes at key->data (length left as given); CALG_RC4
 * fills key->length bytes, 1 to 16. The key is registered for QM_DestroyKey. */
MARLINOK_API int32_t MARLINOK_CALL QM_GenSymmetricKey(uint32_t algId, DataBlob* key,
                                                      uint32_t reserved);

/* Copies the bytes after the 12-byte header of a key blob into key;
 * 0 or ERR_REFUSED. key->data null is a size query. */
MARLINOK_API int32_t MARLINOK_CALL QM_ImportSymmetricKey(const DataBlob* blob, uint32_t algId,
                                                         DataBlob* key);

/* Withdraws the oldest registered key whose bytes begin with key's bytes. */
MARLINOK_API int32_t MARLINOK_CALL QM_DestroyKey(const DataBlob* key);

/* ---- Symmetric ciphers ------------------------------------------------ */

MARLINOK_API int32_t MARLINOK_CALL QM_SymmetricEncrypt(DataBlob* key, uint32_t reserved1,
                                                       uint32_t reserved2, const uint8_t* input,
                                                       uint32_t inputLength, uint8_t* output,
                                                       uint32_t* outputLength, uint32_t algId,
                                                       uint32_t mode);
MARLINOK_API int32_t MARLINOK_CALL QM_SymmetryDecrypt(DataBlob* key, uint32_t reserved1,
                                                      uint32_t reserved2, const uint8_t* input,
                                                      uint32_t inputLength, uint8_t* output,
                                                      uint32_t* outputLength, uint32_t algId,
                                                      uint32_t mode);

/* ---- Containers ------------------------------------------------------- */

MARLINOK_API int32_t MARLINOK_CALL QM_CreateContainer(const char* name);
MARLINOK_API int32_t MARLINOK_CALL QM_FindContainerAndKeypair(const char* name, DataBlob* sigPublic,
                                                              DataBlob* sigPrivate,
                                                              DataBlob* exPublic,
                                                              DataBlob* exPrivate);
MARLINOK_API int32_t MARLINOK_CALL QM_DestroyContainer(const char* name);

/* ---- Key export and properties --------------------------------------- */

MARLINOK_API int32_t MARLINOK_CALL QM_ExportPublicKey(const DataBlob* keyRef, DataBlob* blob);
/* Statuses 0, ERR_REFUSED and ERR_WRAP_FAILED; never -1. */
MARLINOK_API int32_t MARLINOK_CALL QM_ExportPrivateKey(const DataBlob* keyRef, DataBlob* wrapKey,
                                                       DataBlob* blob, uint32_t algId);
MARLINOK_API int32_t MARLINOK_CALL QM_GetKeyProperty(const DataBlob* keyRef, uint32_t param,
                                                     uint8_t* value, uint32_t* length);

/* ---- Device calls ----------------------------------------------------- */

/* userType 1: 0 PIN matches, -1 differs, ERR_REFUSED no PIN stored. */
MARLINOK_API int32_t MARLINOK_CALL QMCA_Login(int32_t userType, const char* pin);
MARLINOK_API int32_t MARLINOK_CALL QMCA_Logout(void);
/* userType 1: 1 stored, 0 no token root, -1 write refused. */
MARLINOK_API int32_t MARLINOK_CALL QMCA_SetPin(int32_t userType, const char* pin);
MARLINOK_API int32_t MARLINOK_CALL QMCA_LockDevice(void);
MARLINOK_API int32_t MARLINOK_CALL QMCA_UnLock(uint32_t reserved1, uint32_t reserved2);
MARLINOK_API int32_t MARLINOK_CALL QMCA_Format(uint32_t reserved1, uint32_t reserved2);

/* ---- Store enumeration and exportable private keys ------------------- */

/* "|"-joined names; 0, ERR_STORE_NOT_OPENED or ERR_REFUSED. */
MARLINOK_API int32_t MARLINOK_CALL QMCA_EnumCerstoreName(char* names, uint32_t* length);
MARLINOK_API int32_t MARLINOK_CALL QMCA_EnumKeyContainerName(char* names, uint32_t* length);
MARLINOK_API int32_t MARLINOK_CALL QMCA_ImportPrivateKey(const DataBlob* key,
                                                         const uint8_t* password,
                                                         uint32_t passwordLength,
                                                         const DataBlob* entryName);
MARLINOK_API int32_t MARLINOK_CALL QMCA_ExportPrivateKey(const DataBlob* entryName,
                                                         const uint8_t* password,
                                                         uint32_t passwordLength, DataBlob* key);

/* ---- RSA -------------------------------------------------------------- */

MARLINOK_API int32_t MARLINOK_CALL QM_GenAsymmetricKey(const char* containerName,
                                                       DataBlob* publicRef, DataBlob* privateRef,
                                                       uint32_t modulusBits, uint32_t exportable,
                                                       uint32_t pairType);
MARLINOK_API int32_t MARLINOK_CALL QM_AsymmetricEncrypt(const DataBlob* key, uint32_t reserved1,
                                                        uint32_t reserved2, uint8_t* output,
                                                        uint32_t* outputLength,
                                                        const uint8_t* input, uint32_t inputLength,
                                                        uint32_t algId);
MARLINOK_API int32_t MARLINOK_CALL QM_AsymmetricDecrypt(const DataBlob* key, uint32_t reserved1,
                                                        uint32_t reserved2, uint8_t* output,
                                                        uint32_t* outputLength,
                                                        const uint8_t* input, uint32_t inputLength,
                                                        uint32_t algId);
MARLINOK_API int32_t MARLINOK_CALL QM_AsymmetricSignData(const DataBlob* key, const uint8_t* data,
                                                         uint32_t dataLength, uint8_t* signature,
                                                         uint32_t* signatureLength, uint32_t algId);
/* A size query (null block) returns -1 with the length stored. */
MARLINOK_API int32_t MARLINOK_CALL QM_AsymmetricVerifySign(const DataBlob* key, uint8_t* block,
                                                           uint32_t* blockLength,
                                                           const uint8_t* signature,
                                                           uint32_t signatureLength,
                                                           uint32_t algId);

/* ---- Key import, wrapping and supported algorithms ------------------- */

MARLINOK_API int32_t MARLINOK_CALL QM_ImportPublicKey(const DataBlob* blob, uint32_t kind,
                                                      DataBlob* output);
MARLINOK_API int32_t MARLINOK_CALL QM_ImportPrivateKey(const char* containerName,
                                                       const DataBlob* blob, uint32_t pairType,
                                                       DataBlob* publicRef, DataBlob* privateRef);
MARLINOK_API int32_t MARLINOK_CALL QM_ExportSymmetricKey(const DataBlob* key,
                                                         const DataBlob* wrapKey, DataBlob* output,
                                                         uint32_t algId);
MARLINOK_API int32_t MARLINOK_CALL QM_GetSupportedAlgId(uint32_t* algIds, uint32_t* count);

/* ---- Digests ---------------------------------------------------------- */

/* digestLength: in, the buffer size; out, 16 for MD5, 20 for SHA-1 on a size
 * query (a completed SHA-1 digest leaves it as given). */
MARLINOK_API int32_t MARLINOK_CALL QM_Digest(uint8_t* digest, uint32_t* digestLength,
                                             const uint8_t* data, uint32_t dataLength,
                                             uint32_t algId);

/* ---- PVK pass-through to the sibling library (-1 when it is absent) --- */

MARLINOK_API int32_t MARLINOK_CALL QM_EnablePVK(void);
MARLINOK_API int32_t MARLINOK_CALL QM_DisabelPVK(void);
MARLINOK_API int32_t MARLINOK_CALL QM_IsPVKEnabeled(void);
MARLINOK_API int32_t MARLINOK_CALL QM_SetPVKEnabelData(const DataBlob* data);

#ifdef __cplusplus
}
#endif

#endif /* MARLINOK_H */
