// The key exports: QM_GenAsymmetricKey, QM_ImportPrivateKey and
// QM_ImportPublicKey bring pairs and public keys in, QM_ExportPublicKey and
// QM_ExportPrivateKey take stored keys out as key blobs, QM_GetKeyProperty
// and QM_GetSupportedAlgId answer questions, QM_DestroyKey withdraws a key the
// library registered.
#include "core/size_query.h"
#include "exports/export_guard.h"
#include "marlinok.h"
#include "rsa/key_record.h"
#include "store/registry_layout.h"
#include "token/key_blobs.h"
#include "token/key_pairs.h"
#include "token/key_property.h"
#include "token/key_table.h"
#include "token/supported_algorithms.h"

static_assert(MARLINOK_PUBLIC_RECORD_BYTES == marlinok::rsa::kPublicRecordBytes &&
                  MARLINOK_PRIVATE_RECORD_BYTES == marlinok::rsa::kPrivateRecordBytes,
              "the public header's record sizes");
static_assert(MARLINOK_PAIR_EXCHANGE == marlinok::store::kExchangePairBit &&
                  MARLINOK_PAIR_SIGNATURE == marlinok::store::kSignaturePairBit,
              "the public header's pair kinds");

using marlinok::Guarded;
using marlinok::ToInt;
using marlinok::store::IsValidContainerName;

extern "C" MARLINOK_API int32_t MARLINOK_CALL
QM_GenAsymmetricKey(const char* containerName, DataBlob* publicRef, DataBlob* privateRef,
                    uint32_t modulusBits, uint32_t exportable, uint32_t pairType) {
  if (!IsValidContainerName(containerName) || publicRef == nullptr || privateRef == nullptr)
    return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] {
    return ToInt(marlinok::token::GenerateKeyPair(containerName, publicRef, privateRef, modulusBits,
                                                  exportable, pairType));
  });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_ImportPrivateKey(const char* containerName,
                                                                  const DataBlob* blob,
                                                                  uint32_t pairType,
                                                                  DataBlob* publicRef,
                                                                  DataBlob* privateRef) {
  if (!IsValidContainerName(containerName)) return ERR_FAILED;
  if (blob == nullptr || blob->data == nullptr) return ERR_FAILED;
  if (publicRef == nullptr || privateRef == nullptr) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] {
    return ToInt(marlinok::token::ImportPrivateKeyBlob(containerName, *blob, pairType, publicRef,
                                                       privateRef));
  });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_ImportPublicKey(const DataBlob* blob,
                                                                 uint32_t kind, DataBlob* output) {
  if (blob == nullptr || blob->data == nullptr || kind == 0) return ERR_FAILED;
  if (output == nullptr || output->data == nullptr ||
      output->length < marlinok::rsa::kPublicRecordBytes)
    return ERR_FAILED;
  return Guarded(ERR_FAILED,
                 [&] { return ToInt(marlinok::token::ImportPublicKeyBlob(*blob, *output)); });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_ExportPublicKey(const DataBlob* keyRef,
                                                                 DataBlob* blob) {
  if (blob == nullptr) return ERR_FAILED;
  return Guarded(ERR_FAILED,
                 [&] { return ToInt(marlinok::token::ExportPublicKeyBlob(keyRef, blob)); });
}

// Fails with 1; 0x86 when the wrapping key is refused.
extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_ExportPrivateKey(const DataBlob* keyRef,
                                                                  DataBlob* wrapKey, DataBlob* blob,
                                                                  uint32_t algId) {
  if (blob == nullptr) return ERR_REFUSED;
  return Guarded(ERR_REFUSED, [&] {
    return ToInt(marlinok::token::ExportPrivateKeyBlob(keyRef, wrapKey, blob, algId));
  });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_GetKeyProperty(const DataBlob* keyRef,
                                                                uint32_t param, uint8_t* value,
                                                                uint32_t* length) {
  if (length == nullptr) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] {
    return ToInt(marlinok::token::GetKeyProperty(keyRef, param, value, length));
  });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_GetSupportedAlgId(uint32_t* algIds,
                                                                   uint32_t* count) {
  using namespace marlinok::token;
  if (count == nullptr) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] {
    if (marlinok::AnswerSizeQuery(algIds, count, kSupportedAlgorithmCount)) return ERR_OK;
    for (uint32_t i = 0; i < kSupportedAlgorithmCount; ++i) algIds[i] = kSupportedAlgorithms[i];
    *count = kSupportedAlgorithmCount;
    return ERR_OK;
  });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_DestroyKey(const DataBlob* key) {
  if (key == nullptr) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] { return ToInt(marlinok::token::KeyTableRemoveMatching(*key)); });
}
