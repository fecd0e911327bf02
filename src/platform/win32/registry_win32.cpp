// The registry on Windows: advapi32 itself, under HKEY_LOCAL_MACHINE, every
// key opened and created with KEY_ALL_ACCESS and option 0 (non-volatile).
#include <windows.h>

#include <cstdint>
#include <new>
#include <vector>

#include "platform/registry.h"

namespace marlinok::platform {

static_assert(kErrorSuccess == ERROR_SUCCESS, "error numbers are the Windows ones");
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND, "error numbers are the Windows ones");
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED, "error numbers are the Windows ones");
static_assert(kErrorInvalidHandle == ERROR_INVALID_HANDLE, "error numbers are the Windows ones");
static_assert(kErrorNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY,
              "error numbers are the Windows ones");
static_assert(kErrorInvalidParameter == ERROR_INVALID_PARAMETER,
              "error numbers are the Windows ones");
static_assert(kErrorBadPathname == ERROR_BAD_PATHNAME, "error numbers are the Windows ones");
static_assert(kErrorMoreData == ERROR_MORE_DATA, "error numbers are the Windows ones");
static_assert(kErrorNoMoreItems == ERROR_NO_MORE_ITEMS, "error numbers are the Windows ones");
static_assert(kErrorBadDb == ERROR_BADDB, "error numbers are the Windows ones");
static_assert(kErrorRegistryIoFailed == ERROR_REGISTRY_IO_FAILED,
              "error numbers are the Windows ones");
static_assert(kErrorKeyDeleted == ERROR_KEY_DELETED, "error numbers are the Windows ones");
static_assert(kRegNone == REG_NONE && kRegSz == REG_SZ && kRegExpandSz == REG_EXPAND_SZ &&
                  kRegBinary == REG_BINARY && kRegDword == REG_DWORD &&
                  kRegMultiSz == REG_MULTI_SZ && kRegQword == REG_QWORD,
              "value types are the Windows ones");
static_assert(kRegCreatedNewKey == REG_CREATED_NEW_KEY &&
                  kRegOpenedExistingKey == REG_OPENED_EXISTING_KEY,
              "dispositions are the Windows ones");
static_assert(sizeof(DWORD) == sizeof(uint32_t), "DWORD is 32 bits");

class RegistryBackend {
 public:
  // Null for a closed key, which advapi32 answers with ERROR_INVALID_HANDLE.
  static HKEY Handle(const RegistryKey& key) {
    if (!key.open_) return nullptr;
    return reinterpret_cast<HKEY>(static_cast<uintptr_t>(key.native_.handle));
  }
  static void Adopt(RegistryKey& key, HKEY handle) {
    key.Close();
    key.native_ = RegistryKey::Native{reinterpret_cast<uintptr_t>(handle), 0};
    key.open_ = true;
  }
};

void RegistryKey::Close() noexcept {
  if (open_) RegCloseKey(reinterpret_cast<HKEY>(static_cast<uintptr_t>(native_.handle)));
  open_ = false;
  native_ = {};
}

namespace {

RegStatus From(LSTATUS status) { return static_cast<RegStatus>(status); }

}  // namespace

RegStatus OpenKey(const char* path, RegistryKey& key) {
  HKEY handle = nullptr;
  const LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &handle);
  if (status != ERROR_SUCCESS) return From(status);
  RegistryBackend::Adopt(key, handle);
  return kErrorSuccess;
}

RegStatus CreateKey(const char* path, RegistryKey& key, uint32_t* disposition) {
  HKEY handle = nullptr;
  DWORD result = 0;
  // RegCreateKeyExA wants a sub-key string; "" opens HKEY_LOCAL_MACHINE itself.
  const LSTATUS status =
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, path != nullptr ? path : "", 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &handle, &result);
  if (status != ERROR_SUCCESS) return From(status);
  RegistryBackend::Adopt(key, handle);
  if (disposition != nullptr) *disposition = static_cast<uint32_t>(result);
  return kErrorSuccess;
}

RegStatus QueryValue(const RegistryKey& key, const char* name, uint32_t* type, uint8_t* data,
                     uint32_t* size) {
  if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
  DWORD storedType = 0;
  DWORD count = size != nullptr ? static_cast<DWORD>(*size) : 0;
  const LSTATUS status =
      RegQueryValueExA(RegistryBackend::Handle(key), name, nullptr, &storedType,
                       reinterpret_cast<LPBYTE>(data), size != nullptr ? &count : nullptr);
  if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    if (type != nullptr) *type = static_cast<uint32_t>(storedType);
    if (size != nullptr) *size = static_cast<uint32_t>(count);
  }
  return From(status);
}

RegStatus SetValue(const RegistryKey& key, const char* name, uint32_t type, const uint8_t* data,
                   uint32_t size) {
  if (data == nullptr && size != 0) return kErrorInvalidParameter;
  static const BYTE kNothing = 0;  // a valid pointer for a 0-byte value
  const bool stringType = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
  if (stringType && size != 0 && data[size - 1] != 0) {
    // For string types advapi32 counts a terminating NUL the caller left out when the byte
    // after the data is one (reading past the data to find out). Exactly `size` bytes are
    // stored here, as on every backend: the data goes from a copy followed by a byte that is
    // not NUL.
    std::vector<BYTE> copy;
    try {
      copy.reserve(size + 1u);
    } catch (const std::bad_alloc&) {
      return kErrorNotEnoughMemory;
    }
    copy.assign(data, data + size);
    copy.push_back(0xFF);
    return From(RegSetValueExA(RegistryBackend::Handle(key), name, 0, static_cast<DWORD>(type),
                               copy.data(), static_cast<DWORD>(size)));
  }
  return From(RegSetValueExA(RegistryBackend::Handle(key), name, 0, static_cast<DWORD>(type),
                             data != nullptr ? data : &kNothing, static_cast<DWORD>(size)));
}

RegStatus SetValues(const RegistryKey& key, const ValueWrite* values, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const RegStatus written =
        SetValue(key, values[i].name, values[i].type, values[i].data, values[i].size);
    if (written != kErrorSuccess) return written;
  }
  return kErrorSuccess;
}

void FailValueWritesForTesting(int) noexcept {}

RegStatus EnumSubkey(const RegistryKey& key, uint32_t index, char* name, uint32_t* nameLength) {
  if (name == nullptr || nameLength == nullptr) return kErrorInvalidParameter;
  DWORD length = static_cast<DWORD>(*nameLength);
  const LSTATUS status = RegEnumKeyExA(RegistryBackend::Handle(key), static_cast<DWORD>(index),
                                       name, &length, nullptr, nullptr, nullptr, nullptr);
  if (status == ERROR_SUCCESS) *nameLength = static_cast<uint32_t>(length);
  return From(status);
}

RegStatus EnumSubkeyNames(const RegistryKey& key, std::vector<std::string>& names) {
  names.clear();
  std::vector<char> buffer(kMaxKeyNameLength + 1);
  for (uint32_t index = 0;; ++index) {
    uint32_t length = static_cast<uint32_t>(buffer.size());
    const RegStatus status = EnumSubkey(key, index, buffer.data(), &length);
    if (status == kErrorNoMoreItems) return kErrorSuccess;
    if (status != kErrorSuccess) return status;
    names.emplace_back(buffer.data(), length);
  }
}

RegStatus DeleteKey(const char* path) {
  if (path == nullptr) return kErrorInvalidParameter;
  return From(RegDeleteKeyA(HKEY_LOCAL_MACHINE, path));
}

RegStatus DeleteValue(const RegistryKey& key, const char* name) {
  return From(RegDeleteValueA(RegistryBackend::Handle(key), name));
}

RegStatus EnumValueName(const RegistryKey& key, uint32_t index, std::string& name) {
  std::string buffer(kMaxValueNameLength + 1, '\0');
  DWORD length = static_cast<DWORD>(buffer.size());
  const LSTATUS status = RegEnumValueA(RegistryBackend::Handle(key), static_cast<DWORD>(index),
                                       &buffer[0], &length, nullptr, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return From(status);
  name.assign(buffer.data(), length);
  return kErrorSuccess;
}

RegStatus ProbeRegistry(std::string& location, std::string& problem) {
  location = "HKEY_LOCAL_MACHINE";
  problem.clear();
  return kErrorSuccess;
}

namespace {

RegStatus ReadTreeBelow(const std::string& path, const std::string& relative, uint32_t depth,
                        TreeValueFilter wanted, std::vector<TreeKey>& keys) {
  RegistryKey key;
  RegStatus status = OpenKey(path.c_str(), key);
  if (status != kErrorSuccess) return status;
  TreeKey tree{relative, {}};
  for (uint32_t index = 0;; ++index) {
    TreeValue value;
    status = EnumValueName(key, index, value.name);
    if (status == kErrorNoMoreItems) break;
    if (status != kErrorSuccess) return status;
    status = QueryValue(key, value.name.c_str(), &value.type, nullptr, &value.size);
    if (status != kErrorSuccess) return status;
    if (wanted != nullptr && wanted(value.name) && value.size != 0) {
      value.data.resize(value.size);
      status = QueryValue(key, value.name.c_str(), &value.type, value.data.data(), &value.size);
      if (status != kErrorSuccess) return status;
      value.data.resize(value.size);
    }
    tree.values.push_back(std::move(value));
  }
  keys.push_back(std::move(tree));
  if (depth == 0) return kErrorSuccess;
  std::vector<std::string> names;
  status = EnumSubkeyNames(key, names);
  if (status != kErrorSuccess) return status;
  for (const std::string& name : names) {
    status = ReadTreeBelow(path + "\\" + name, relative.empty() ? name : relative + "\\" + name,
                           depth - 1, wanted, keys);
    // A subkey deleted meanwhile is no longer part of the tree.
    if (status != kErrorSuccess && status != kErrorFileNotFound) return status;
  }
  return kErrorSuccess;
}

}  // namespace

RegStatus ReadKeyTree(const char* path, uint32_t depth, TreeValueFilter wanted,
                      std::vector<TreeKey>& keys) {
  keys.clear();
  return ReadTreeBelow(path, std::string(), depth, wanted, keys);
}

bool ReadRegistryStamp(RegistryStamp&) noexcept { return false; }

void ResetRegistryForTesting() noexcept {}

}  // namespace marlinok::platform
