#include "token/key_pairs.h"

#include <cstring>

#include "core/wipe.h"
#include "keyblob/key_blob.h"
#include "random/random_pool.h"
#include "rsa/key_generation.h"
#include "rsa/key_record.h"
#include "store/key_record_store.h"
#include "store/registry_layout.h"

namespace marlinok::token {
namespace {

Status StorePair(const char* containerName, uint32_t pairType, uint32_t exportable,
                 rsa::PublicKeyRecord& publicRecord, rsa::PrivateKeyRecord& privateRecord,
                 DataBlob* publicRef, DataBlob* privateRef) {
  const DataBlob publicBlob{sizeof publicRecord.bytes, publicRecord.bytes};
  const DataBlob privateBlob{sizeof privateRecord.bytes, privateRecord.bytes};
  return store::StoreKeyPair(containerName, pairType, exportable, &publicBlob, &privateBlob,
                             publicRef, privateRef);
}

}  // namespace

Status GenerateKeyPair(const char* containerName, DataBlob* publicRef, DataBlob* privateRef,
                       uint32_t modulusBits, uint32_t exportable, uint32_t pairType) {
  if (publicRef->data == nullptr || privateRef->data == nullptr) {
    // Both references name six-character values: "\PukExh", "\PvkSig", ...
    const uint32_t length = store::KeyReferenceLength(containerName);
    publicRef->length = length;
    privateRef->length = length;
    return Status::Ok;
  }

  rsa::PublicKeyRecord publicRecord{};
  rsa::PrivateKeyRecord privateRecord{};
  WipeOnExit<rsa::PrivateKeyRecord> wipePrivate(privateRecord);
  {
    RandomPool pool{};
    WipeOnExit<RandomPool> wipePool(pool);
    SeedPoolFromClockReadings(&pool);
    const rsa::KeyPairParams params{modulusBits, 1};
    if (rsa::GenerateRsaKeyPair(&publicRecord, &privateRecord, &params, &pool) != Status::Ok)
      return Status::Failed;
  }
  return StorePair(containerName, pairType, exportable, publicRecord, privateRecord, publicRef,
                   privateRef);
}

Status ImportPrivateKeyBlob(const char* containerName, const DataBlob& blob, uint32_t pairType,
                            DataBlob* publicRef, DataBlob* privateRef) {
  rsa::PrivateKeyRecord record;
  WipeOnExit<rsa::PrivateKeyRecord> wipe(record);
  if (keyblob::ReadPrivateKeyBlob(blob.data, blob.length, &record) != Status::Ok)
    return Status::Failed;
  // The public record is the private record's first 516 bytes.
  rsa::PublicKeyRecord publicRecord;
  std::memcpy(publicRecord.bytes, record.bytes, sizeof publicRecord.bytes);
  return StorePair(containerName, pairType, 1, publicRecord, record, publicRef, privateRef);
}

}  // namespace marlinok::token
