#include "store/exportable_keys.h"

#include <cstring>
#include <string>

#include "core/constant_time.h"
#include "core/secret_buffer.h"
#include "platform/registry.h"
#include "store/registry_layout.h"
#include "store/value_reader.h"

namespace marlinok::store {

using namespace marlinok::platform;

namespace {

// The path is built from the name itself, never sized by the blob's length.
std::string EntryPath(const DataBlob* entryName) {
  std::string path(kExportableKeyRoot);
  path += '\\';
  path += reinterpret_cast<const char*>(entryName->data);
  return path;
}

// The stored password matches when it holds exactly one byte more than was
// given and begins with the given bytes: a password imported with its NUL
// counted is presented without it. Stored entries rely on this rule.
bool PasswordMatches(const SecretBuffer& stored, const uint8_t* password, uint32_t passwordLength) {
  if (stored.size() != uint64_t{passwordLength} + 1) return false;
  return passwordLength == 0 || EqualInConstantTime(stored.data(), password, passwordLength);
}

}  // namespace

Status ImportGuardedKey(const DataBlob* key, const uint8_t* password, uint32_t passwordLength,
                        const DataBlob* entryName) {
  const std::string path = EntryPath(entryName);
  RegistryKey entry;
  if (CreateKey(path.c_str(), entry, nullptr) != kErrorSuccess) return Status::Failed;
  // Key and password are one write: a failure leaves the entry as it was,
  // never a new key under the old password.
  const ValueWrite values[] = {{kExportableKeyValue, kRegBinary, key->data, key->length},
                               {kPinValue, kRegSz, password, passwordLength}};
  if (SetValues(entry, values, 2) != kErrorSuccess) return Status::Failed;
  return Status::Ok;
}

Status ExportGuardedKey(const DataBlob* entryName, const uint8_t* password, uint32_t passwordLength,
                        DataBlob* key) {
  const std::string path = EntryPath(entryName);
  RegistryKey entry;
  if (OpenKey(path.c_str(), entry) != kErrorSuccess) return Status::Refused;
  SecretBuffer stored;
  if (ReadWholeValue(entry, kPinValue, &stored) != kErrorSuccess || stored.size() == 0)
    return Status::Refused;
  if (!PasswordMatches(stored, password, passwordLength)) return Status::Failed;
  // Straight into the caller's buffer: a null buffer learns the count, a short
  // one learns it too and gets status 1.
  return QueryValue(entry, kExportableKeyValue, nullptr, key->data, &key->length) == kErrorSuccess
             ? Status::Ok
             : Status::Refused;
}

}  // namespace marlinok::store
