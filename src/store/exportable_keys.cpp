// The exportable-key store: opaque key bytes kept under a name, handed back
// only against the password stored with them.
#include <cstring>
#include <string>

#include "core/secret_buffer.h"
#include "frame/export_guard.h"
#include "marlinok.h"
#include "platform/registry.h"
#include "store/registry_layout.h"

namespace marlinok::store {
namespace {

using namespace marlinok::platform;

// The path is built from the name itself, never sized by the blob's length.
std::string EntryPath(const DataBlob* entryName) {
  std::string path(kExportableKeyRoot);
  path += '\\';
  path += reinterpret_cast<const char*>(entryName->data);
  return path;
}

int32_t ImportEntry(const DataBlob* key, const uint8_t* password, uint32_t passwordLength,
                    const DataBlob* entryName) {
  const std::string path = EntryPath(entryName);
  RegistryKey entry;
  if (CreateKey(path.c_str(), entry, nullptr) != kErrorSuccess) return ERR_FAILED;
  if (SetValue(entry, kExportableKeyValue, kRegBinary, key->data, key->length) != kErrorSuccess)
    return ERR_FAILED;
  if (SetValue(entry, kPinValue, kRegSz, password, passwordLength) != kErrorSuccess)
    return ERR_FAILED;
  return ERR_OK;
}

// The stored password matches when it holds exactly one byte more than was
// given and begins with the given bytes: a password imported with its NUL
// counted is presented without it. Stored entries rely on this rule.
bool PasswordMatches(const SecretBuffer& stored, const uint8_t* password, uint32_t passwordLength) {
  if (stored.size() != uint64_t{passwordLength} + 1) return false;
  return passwordLength == 0 || std::memcmp(stored.data(), password, passwordLength) == 0;
}

int32_t ExportEntry(const DataBlob* entryName, const uint8_t* password, uint32_t passwordLength,
                    DataBlob* key) {
  const std::string path = EntryPath(entryName);
  RegistryKey entry;
  if (OpenKey(path.c_str(), entry) != kErrorSuccess) return ERR_REFUSED;
  uint32_t size = 0;
  if (QueryValue(entry, kPinValue, nullptr, nullptr, &size) != kErrorSuccess || size == 0)
    return ERR_REFUSED;
  SecretBuffer stored(size);
  uint32_t read = size;
  if (QueryValue(entry, kPinValue, nullptr, stored.data(), &read) != kErrorSuccess || read != size)
    return ERR_REFUSED;
  if (!PasswordMatches(stored, password, passwordLength)) return ERR_FAILED;
  // Straight into the caller's buffer: a null buffer learns the count, a short
  // one learns it too and gets status 1.
  return QueryValue(entry, kExportableKeyValue, nullptr, key->data, &key->length) == kErrorSuccess
             ? ERR_OK
             : ERR_REFUSED;
}

bool HasName(const DataBlob* entryName) {
  return entryName != nullptr && entryName->data != nullptr;
}

}  // namespace
}  // namespace marlinok::store

extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_ImportPrivateKey(const DataBlob* key,
                                                                    const uint8_t* password,
                                                                    uint32_t passwordLength,
                                                                    const DataBlob* entryName) {
  using namespace marlinok::store;
  if (key == nullptr || (key->data == nullptr && key->length != 0)) return ERR_FAILED;
  if (password == nullptr && passwordLength != 0) return ERR_FAILED;
  if (!HasName(entryName)) return ERR_FAILED;
  return marlinok::Guarded(ERR_FAILED,
                           [&] { return ImportEntry(key, password, passwordLength, entryName); });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_ExportPrivateKey(const DataBlob* entryName,
                                                                    const uint8_t* password,
                                                                    uint32_t passwordLength,
                                                                    DataBlob* key) {
  using namespace marlinok::store;
  if (!HasName(entryName) || key == nullptr) return ERR_REFUSED;
  if (password == nullptr && passwordLength != 0) return ERR_REFUSED;
  return marlinok::Guarded(ERR_REFUSED,
                           [&] { return ExportEntry(entryName, password, passwordLength, key); });
}
