// QM_GetKeyProperty: the CryptoAPI key parameters of a stored key.
#include "store/key_property.h"

#include <cstring>

#include "core/byte_order.h"
#include "frame/export_guard.h"
#include "rsa/key_record.h"
#include "store/key_record_store.h"
#include "store/registry_layout.h"

namespace marlinok::store {

Status KeyAlgorithm(const DataBlob* keyRef, uint32_t* algId) {
  SplitReference split;
  if (SplitKeyReference(keyRef, &split) != Status::Ok) return Status::Failed;
  const std::string& name = split.valueName;
  uint32_t answer = 0;
  if (name.find("PukExh") != std::string::npos || name.find("PvkExh") != std::string::npos)
    answer = CALG_RSA_KEYX;
  if (name.find("PukSig") != std::string::npos || name.find("PvkSig") != std::string::npos)
    answer = CALG_RSA_SIGN;
  *algId = answer;
  return Status::Ok;
}

namespace {

constexpr uint32_t kPkcs5Padding = 1;
constexpr uint32_t kEncryptDecryptExport = 7;  // CRYPT_ENCRYPT | CRYPT_DECRYPT | CRYPT_EXPORT

Status BlockLength(const DataBlob* keyRef, uint32_t* answer) {
  SecretBuffer record;
  if (ReadKeyRecord(keyRef, &record) != Status::Ok || record.size() < 4) return Status::Failed;
  *answer = rsa::ReadModulusBits(record.data());
  return Status::Ok;
}

int32_t GetKeyProperty(const DataBlob* keyRef, uint32_t param, uint8_t* value, uint32_t* length) {
  if (param != KP_PADDING && param != KP_PERMISSIONS && param != KP_ALGID && param != KP_BLOCKLEN)
    return ERR_FAILED;
  if (AnswerSizeQuery(value, length, 4)) return ERR_OK;
  uint32_t answer = 0;
  switch (param) {
    case KP_PADDING:
      answer = kPkcs5Padding;
      break;
    case KP_PERMISSIONS:
      answer = kEncryptDecryptExport;
      break;
    case KP_ALGID:
      if (KeyAlgorithm(keyRef, &answer) != Status::Ok) return ERR_FAILED;
      break;
    default:  // KP_BLOCKLEN
      if (BlockLength(keyRef, &answer) != Status::Ok) return ERR_FAILED;
      break;
  }
  *length = 4;
  StoreLe32(value, answer);
  return ERR_OK;
}

}  // namespace
}  // namespace marlinok::store

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_GetKeyProperty(const DataBlob* keyRef,
                                                                uint32_t param, uint8_t* value,
                                                                uint32_t* length) {
  if (length == nullptr) return ERR_FAILED;
  return marlinok::Guarded(
      ERR_FAILED, [&] { return marlinok::store::GetKeyProperty(keyRef, param, value, length); });
}
