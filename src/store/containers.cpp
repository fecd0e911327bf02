#include "store/containers.h"

#include "core/locks.h"
#include "platform/registry.h"
#include "store/registry_layout.h"

namespace marlinok::store {

using namespace marlinok::platform;

Status CreateContainer(const char* name) {
  const std::string path = ContainerPath(name);
  ScopedLibraryLock lock(LibraryLock::ContainerStore);
  RegistryKey key;
  uint32_t disposition = 0;
  if (CreateKey(path.c_str(), key, &disposition) != kErrorSuccess) return Status::Failed;
  return disposition == kRegCreatedNewKey ? Status::Ok : Status::Failed;
}

namespace {

// A kind of pair is present only when both its records exist and are non-empty.
// Both values are queried in any case.
bool PairPresent(const RegistryKey& key, const PairValueNames& kind) {
  uint32_t publicSize = 0, privateSize = 0;
  const bool publicPresent =
      QueryValue(key, kind.publicRecord, nullptr, nullptr, &publicSize) == kErrorSuccess &&
      publicSize != 0;
  const bool privatePresent =
      QueryValue(key, kind.privateRecord, nullptr, nullptr, &privateSize) == kErrorSuccess &&
      privateSize != 0;
  return publicPresent && privatePresent;
}

}  // namespace

Status FindContainerAndKeypair(const char* name, DataBlob* sigPublic, DataBlob* sigPrivate,
                               DataBlob* exPublic, DataBlob* exPrivate) {
  const std::string path = ContainerPath(name);
  ScopedLibraryLock lock(LibraryLock::ContainerStore);
  bool signature = false, exchange = false;
  {
    RegistryKey key;
    if (OpenKey(path.c_str(), key) != kErrorSuccess) return Status::Failed;
    signature = PairPresent(key, kSignaturePair);
    exchange = PairPresent(key, kExchangePair);
  }
  // A reference the caller did not ask for cannot be filled: refuse before
  // writing anything.
  if (exchange && (exPublic == nullptr || exPrivate == nullptr)) return Status::Failed;
  if (signature && (sigPublic == nullptr || sigPrivate == nullptr)) return Status::Failed;
  if (exchange) {
    FillKeyReference(exPublic, path, kExchangePair.publicRecord);
    FillKeyReference(exPrivate, path, kExchangePair.privateRecord);
  }
  if (signature) {
    FillKeyReference(sigPublic, path, kSignaturePair.publicRecord);
    FillKeyReference(sigPrivate, path, kSignaturePair.privateRecord);
  }
  return exchange || signature ? Status::Ok : Status::Failed;
}

Status DestroyContainer(const char* name) {
  const std::string path = ContainerPath(name);
  ScopedLibraryLock lock(LibraryLock::ContainerStore);
  return DeleteKey(path.c_str()) == kErrorSuccess ? Status::Ok : Status::Failed;
}

}  // namespace marlinok::store
