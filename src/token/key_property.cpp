#include "token/key_property.h"

#include "core/byte_order.h"
#include "core/secret_buffer.h"
#include "core/size_query.h"
#include "rsa/key_record.h"
#include "store/key_record_store.h"
#include "store/registry_layout.h"

namespace marlinok::token {
namespace {

constexpr uint32_t kPkcs5Padding = 1;
constexpr uint32_t kEncryptDecryptExport = 7;  // CRYPT_ENCRYPT | CRYPT_DECRYPT | CRYPT_EXPORT

// Only the bit length at the record's head is needed: any record of four
// bytes or more answers.
Status BlockLength(const DataBlob* keyRef, uint32_t* answer) {
  SecretBuffer record;
  if (store::ReadKeyRecord(keyRef, &record) != Status::Ok || record.size() < 4)
    return Status::Failed;
  *answer = rsa::ReadModulusBits(record.data());
  return Status::Ok;
}

}  // namespace

Status GetKeyProperty(const DataBlob* keyRef, uint32_t param, uint8_t* value, uint32_t* length) {
  if (param != KP_PADDING && param != KP_PERMISSIONS && param != KP_ALGID && param != KP_BLOCKLEN)
    return Status::Failed;
  if (AnswerSizeQuery(value, length, 4)) return Status::Ok;
  uint32_t answer = 0;
  switch (param) {
    case KP_PADDING:
      answer = kPkcs5Padding;
      break;
    case KP_PERMISSIONS:
      answer = kEncryptDecryptExport;
      break;
    case KP_ALGID:
      if (store::KeyAlgorithm(keyRef, &answer) != Status::Ok) return Status::Failed;
      break;
    default:  // KP_BLOCKLEN
      if (BlockLength(keyRef, &answer) != Status::Ok) return Status::Failed;
      break;
  }
  *length = 4;
  StoreLe32(value, answer);
  return Status::Ok;
}

}  // namespace marlinok::token
