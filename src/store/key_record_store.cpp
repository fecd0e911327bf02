#include "store/key_record_store.h"

#include "core/byte_order.h"
#include "core/locks.h"
#include "platform/registry.h"
#include "store/registry_layout.h"
#include "store/value_reader.h"

namespace marlinok::store {

using namespace marlinok::platform;

Status ReadKeyRecord(const DataBlob* reference, SecretBuffer* record) {
  SplitReference split;
  if (SplitRecordReference(reference, &split) != Status::Ok) return Status::Failed;

  ScopedLibraryLock lock(LibraryLock::ContainerStore);
  RegistryKey key;
  if (OpenKey(split.keyPath.c_str(), key) != kErrorSuccess) return Status::Failed;
  SecretBuffer bytes;
  if (ReadWholeValue(key, split.valueName.c_str(), &bytes) != kErrorSuccess || bytes.size() == 0)
    return Status::Failed;
  *record = std::move(bytes);
  return Status::Ok;
}

Status StoreKeyPair(const char* containerName, uint32_t pairType, uint32_t exportable,
                    const DataBlob* publicRecord, const DataBlob* privateRecord,
                    DataBlob* publicRef, DataBlob* privateRef) {
  const std::string path = ContainerPath(containerName);
  const PairValueNames* kind = (pairType & kExchangePairBit)    ? &kExchangePair
                               : (pairType & kSignaturePairBit) ? &kSignaturePair
                                                                : nullptr;

  ScopedLibraryLock lock(LibraryLock::ContainerStore);
  RegistryKey key;
  if (CreateKey(path.c_str(), key, nullptr) != kErrorSuccess) return Status::Failed;
  // The container key exists from here on, whether or not a pair is stored.
  if (kind == nullptr) return Status::Failed;
  uint8_t algId[4], exportFlag[4];
  StoreLe32(algId, kind->algId);
  StoreLe32(exportFlag, exportable & 1);
  // The pair's four values are one write: readers and crashes see the old
  // pair or the new one, never a private record of one key beside the public
  // record of another.
  const ValueWrite values[] = {
      {kind->privateRecord, kRegBinary, privateRecord->data, privateRecord->length},
      {kind->publicRecord, kRegBinary, publicRecord->data, publicRecord->length},
      {kind->property, kRegDword, algId, sizeof algId},
      {kind->exportFlag, kRegDword, exportFlag, sizeof exportFlag},
  };
  if (SetValues(key, values, sizeof values / sizeof values[0]) != kErrorSuccess)
    return Status::Failed;
  FillKeyReference(publicRef, path, kind->publicRecord);
  FillKeyReference(privateRef, path, kind->privateRecord);
  return Status::Ok;
}

}  // namespace marlinok::store
