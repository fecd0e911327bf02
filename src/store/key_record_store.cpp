#include "store/key_record_store.h"

#include "core/byte_order.h"
#include "core/locks.h"
#include "platform/registry.h"
#include "store/registry_layout.h"

namespace marlinok::store {

using namespace marlinok::platform;

Status ReadKeyRecord(const DataBlob* reference, SecretBuffer* record) {
  SplitReference split;
  if (SplitKeyReference(reference, &split) != Status::Ok) return Status::Failed;

  ScopedLibraryLock lock(LibraryLock::ContainerStore);
  RegistryKey key;
  if (OpenKey(split.keyPath.c_str(), key) != kErrorSuccess) return Status::Failed;
  const char* valueName = split.valueName.c_str();
  uint32_t size = 0;
  if (QueryValue(key, valueName, nullptr, nullptr, &size) != kErrorSuccess || size == 0)
    return Status::Failed;
  SecretBuffer bytes(size);
  uint32_t read = size;
  if (QueryValue(key, valueName, nullptr, bytes.data(), &read) != kErrorSuccess || read != size)
    return Status::Failed;
  *record = std::move(bytes);
  return Status::Ok;
}

namespace {

bool SetDword(const RegistryKey& key, const char* name, uint32_t value) {
  uint8_t bytes[4];
  StoreLe32(bytes, value);
  return SetValue(key, name, kRegDword, bytes, sizeof bytes) == kErrorSuccess;
}

bool SetRecord(const RegistryKey& key, const char* name, const DataBlob* record) {
  return SetValue(key, name, kRegBinary, record->data, record->length) == kErrorSuccess;
}

}  // namespace

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
  const bool written = SetRecord(key, kind->privateRecord, privateRecord) &&
                       SetRecord(key, kind->publicRecord, publicRecord) &&
                       SetDword(key, kind->property, kind->algId) &&
                       SetDword(key, kind->exportFlag, exportable & 1);
  if (!written) return Status::Failed;
  FillKeyReference(publicRef, path, kind->publicRecord);
  FillKeyReference(privateRef, path, kind->privateRecord);
  return Status::Ok;
}

}  // namespace marlinok::store
