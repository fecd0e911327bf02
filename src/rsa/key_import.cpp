// QM_ImportPublicKey and QM_ImportPrivateKey: CryptoAPI key blobs into key
// records. Every number in a blob is little-endian; the records hold them
// big-endian and right-aligned, so each component is copied to the end of its
// field and reversed there.
#include <cstring>

#include "core/secret_buffer.h"
#include "core/wipe.h"
#include "frame/export_guard.h"
#include "frame/key_table.h"
#include "keyblob/key_blob.h"
#include "rsa/key_record.h"
#include "store/key_record_store.h"
#include "store/registry_layout.h"

namespace marlinok::rsa {
namespace {

Status ImportPublicKey(const DataBlob& blob, DataBlob& output) {
  PublicKeyRecord record{};
  if (keyblob::ReadPublicKeyBlob(blob.data, blob.length, &record) != Status::Ok)
    return Status::Failed;
  KeyTableAppend(output);  // may throw: before anything reaches the caller
  std::memcpy(output.data, record.bytes, sizeof record.bytes);
  return Status::Ok;
}

Status ImportPrivateKey(const char* containerName, const DataBlob& blob, uint32_t pairType,
                        DataBlob* publicRef, DataBlob* privateRef) {
  PrivateKeyRecord record;
  WipeOnExit<PrivateKeyRecord> wipe(record);
  if (keyblob::ReadPrivateKeyBlob(blob.data, blob.length, &record) != Status::Ok)
    return Status::Failed;
  // The public record is the private record's first 516 bytes.
  const DataBlob publicBlob{static_cast<uint32_t>(kPublicRecordBytes), record.bytes};
  const DataBlob privateBlob{static_cast<uint32_t>(kPrivateRecordBytes), record.bytes};
  // Imported pairs are always stored as exportable.
  return store::StoreKeyPair(containerName, pairType, 1, &publicBlob, &privateBlob, publicRef,
                             privateRef)
             ? Status::Ok
             : Status::Failed;
}

}  // namespace
}  // namespace marlinok::rsa

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_ImportPublicKey(const DataBlob* blob,
                                                                 uint32_t kind, DataBlob* output) {
  using namespace marlinok;
  if (blob == nullptr || blob->data == nullptr || kind == 0) return ERR_FAILED;
  if (output == nullptr || output->data == nullptr || output->length < rsa::kPublicRecordBytes)
    return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] { return ToInt(rsa::ImportPublicKey(*blob, *output)); });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_ImportPrivateKey(const char* containerName,
                                                                  const DataBlob* blob,
                                                                  uint32_t pairType,
                                                                  DataBlob* publicRef,
                                                                  DataBlob* privateRef) {
  using namespace marlinok;
  if (!store::IsValidContainerName(containerName)) return ERR_FAILED;
  if (blob == nullptr || blob->data == nullptr) return ERR_FAILED;
  if (publicRef == nullptr || privateRef == nullptr) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] {
    return ToInt(rsa::ImportPrivateKey(containerName, *blob, pairType, publicRef, privateRef));
  });
}
