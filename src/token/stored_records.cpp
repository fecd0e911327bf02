#include "token/stored_records.h"

#include <cstring>

#include "core/secret_buffer.h"
#include "store/key_record_store.h"

namespace marlinok::token {
namespace {

Status ReadRecordBytes(const DataBlob* reference, uint8_t* out, std::size_t size) {
  SecretBuffer value;
  if (store::ReadKeyRecord(reference, &value) != Status::Ok) return Status::Failed;
  if (value.size() < size) return Status::Failed;
  std::memcpy(out, value.data(), size);
  return Status::Ok;
}

}  // namespace

Status ReadStoredRecord(const DataBlob* reference, rsa::PublicKeyRecord* record) {
  return ReadRecordBytes(reference, record->bytes, sizeof record->bytes);
}

Status ReadStoredRecord(const DataBlob* reference, rsa::PrivateKeyRecord* record) {
  return ReadRecordBytes(reference, record->bytes, sizeof record->bytes);
}

}  // namespace marlinok::token
