// The registry under HKEY_LOCAL_MACHINE, as the container store sees it: the
// seven calls it makes (open, create, query value, set value, enumerate
// subkeys, delete key, close) with the advapi32 semantics and the Windows error
// numbers, on every platform. On Windows the backend is advapi32 itself; on
// POSIX systems it is a hive kept in one SQLite database file.
//
// Every path is relative to HKEY_LOCAL_MACHINE and backslash-separated; the
// empty path names HKEY_LOCAL_MACHINE itself. Key and value names compare
// case-insensitively and keep the case they were created with.
#ifndef MARLINOK_PLATFORM_REGISTRY_H
#define MARLINOK_PLATFORM_REGISTRY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace marlinok::platform {

// A Windows error number (the LSTATUS of the advapi32 registry functions).
using RegStatus = uint32_t;

// windows.h defines the Windows names (ERROR_SUCCESS, REG_SZ, ...) as macros,
// so the same numbers go by these names here; the Windows backend checks that
// they agree.
constexpr RegStatus kErrorSuccess = 0;
constexpr RegStatus kErrorFileNotFound = 2;
constexpr RegStatus kErrorAccessDenied = 5;
constexpr RegStatus kErrorInvalidHandle = 6;
constexpr RegStatus kErrorNotEnoughMemory = 8;
constexpr RegStatus kErrorInvalidParameter = 87;
constexpr RegStatus kErrorBadPathname = 161;
constexpr RegStatus kErrorMoreData = 234;
constexpr RegStatus kErrorNoMoreItems = 259;
constexpr RegStatus kErrorBadDb = 1009;  // the store is not a registry, or is damaged
constexpr RegStatus kErrorRegistryIoFailed = 1016;
constexpr RegStatus kErrorKeyDeleted = 1018;

// Value types.
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

// Dispositions of CreateKey.
constexpr uint32_t kRegCreatedNewKey = 1;
constexpr uint32_t kRegOpenedExistingKey = 2;

// Longest key name component and value name the registry accepts, in characters.
constexpr uint32_t kMaxKeyNameLength = 255;
constexpr uint32_t kMaxValueNameLength = 16383;

class RegistryBackend;

// An open key. Closed by its destructor; movable, not copyable, so no path can
// leak or double-close a handle.
class RegistryKey {
 public:
  RegistryKey() noexcept = default;
  ~RegistryKey() { Close(); }
  RegistryKey(RegistryKey&& other) noexcept : native_(other.native_), open_(other.open_) {
    other.open_ = false;
  }
  RegistryKey& operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
      Close();
      native_ = other.native_;
      open_ = other.open_;
      other.open_ = false;
    }
    return *this;
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  bool IsOpen() const noexcept { return open_; }
  void Close() noexcept;  // RegCloseKey; harmless on a closed key

  // What a backend keeps: an HKEY on Windows; a key id in one hive (and which
  // hive) on POSIX.
  struct Native {
    uint64_t handle;
    uint64_t hive;
  };

 private:
  friend class RegistryBackend;
  Native native_{};
  bool open_ = false;
};

// RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS): kErrorFileNotFound
// when the key does not exist. `key` is replaced only on success.
[[nodiscard]] RegStatus OpenKey(const char* path, RegistryKey& key);

// RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, option 0, KEY_ALL_ACCESS): creates
// the key and any missing parents, or opens the key if it exists. `disposition`
// (may be null) receives kRegCreatedNewKey or kRegOpenedExistingKey.
[[nodiscard]] RegStatus CreateKey(const char* path, RegistryKey& key, uint32_t* disposition);

// RegQueryValueExA. `name` null or empty is the key's default value. `type` may
// be null. With `data` null, `*size` receives the value's byte count (`size`
// may be null only when `data` is). With too short a buffer: kErrorMoreData,
// `*size` = the needed count and nothing written. Success: `*size` = the count.
[[nodiscard]] RegStatus QueryValue(const RegistryKey& key, const char* name, uint32_t* type,
                                   uint8_t* data, uint32_t* size);

// RegSetValueExA: stores `type` and exactly `size` bytes (0 is allowed; a
// REG_SZ gets no terminating NUL added).
[[nodiscard]] RegStatus SetValue(const RegistryKey& key, const char* name, uint32_t type,
                                 const uint8_t* data, uint32_t size);

// One value of a multi-value write.
struct ValueWrite {
  const char* name;
  uint32_t type;
  const uint8_t* data;
  uint32_t size;
};

// Several values of one key written as one, in order, each as SetValue would.
// On the hive this is one transaction: a reader or a crash sees all of the
// values or none, and a failure leaves every value as it was. advapi32 has no
// such write: on Windows the values are written one by one, and a failure
// part-way leaves the earlier ones written.
[[nodiscard]] RegStatus SetValues(const RegistryKey& key, const ValueWrite* values,
                                  std::size_t count);

// RegEnumKeyExA: the name of subkey `index` (0 upward, in the registry's order:
// case-insensitively sorted) into `name`, whose capacity `*nameLength` counts
// the NUL. Success: `*nameLength` = the name's length without the NUL. A name
// that does not fit: kErrorMoreData, nothing written. Past the last subkey:
// kErrorNoMoreItems.
[[nodiscard]] RegStatus EnumSubkey(const RegistryKey& key, uint32_t index, char* name,
                                   uint32_t* nameLength);

// The names of all subkeys, in the registry's order. On the hive they are
// one snapshot, whatever other processes create or delete meanwhile
// (enumerating by index across calls can skip a key when one before it is
// deleted); advapi32 has no snapshot, so on Windows this is EnumSubkey by
// index.
[[nodiscard]] RegStatus EnumSubkeyNames(const RegistryKey& key, std::vector<std::string>& names);

// RegDeleteKeyA(HKEY_LOCAL_MACHINE, path): deletes a key with its values. A
// key that has subkeys is not deleted: kErrorAccessDenied.
[[nodiscard]] RegStatus DeleteKey(const char* path);

// Beyond what the store uses, for marlinok-tool and the tests.

// RegDeleteValueA.
[[nodiscard]] RegStatus DeleteValue(const RegistryKey& key, const char* name);

// RegEnumValueA, name only: the name of value `index` (0 upward) or
// kErrorNoMoreItems past the last one.
[[nodiscard]] RegStatus EnumValueName(const RegistryKey& key, uint32_t index, std::string& name);

// Deletes `path` and everything below it (a sequence of DeleteKey calls,
// deepest first). kErrorFileNotFound when the key does not exist.
[[nodiscard]] RegStatus DeleteKeyTree(const std::string& path);

// Makes sure the registry can be used. `location` receives where it lives (the
// hive file, or "HKEY_LOCAL_MACHINE"); on failure `problem` receives a
// one-line description.
[[nodiscard]] RegStatus ProbeRegistry(std::string& location, std::string& problem);

// Makes the hive refuse every value write after the next `writes` ones, as
// a full disk would, until it is called with -1 (POSIX; nothing on Windows).
void FailValueWritesForTesting(int writes) noexcept;

// One key of a tree read whole: its path below the tree's root ("" for the
// root itself, "a" and "a\b" below it) and its values. A value's bytes are
// there only when the caller's filter wanted them; its size always is.
struct TreeValue {
  std::string name;
  uint32_t type = 0;
  uint32_t size = 0;
  std::vector<uint8_t> data;
};
struct TreeKey {
  std::string path;
  std::vector<TreeValue> values;
};
using TreeValueFilter = bool (*)(const std::string& valueName);

// The key at `path` and its subkeys down to `depth` levels below it, with
// their values, as one snapshot (on the hive one read transaction; advapi32
// key by key). kErrorFileNotFound when `path` does not exist.
[[nodiscard]] RegStatus ReadKeyTree(const char* path, uint32_t depth, TreeValueFilter wanted,
                                    std::vector<TreeKey>& keys);

// A stamp of the registry's contents: a later stamp differs from an earlier
// one whenever anything was written in between, by this process or another
// (on the hive: its data version, this process's own changes, the hive's
// location and connection). Equal stamps mean nothing changed.
struct RegistryStamp {
  uint64_t location = 0, connection = 0, others = 0, own = 0;
  bool operator==(const RegistryStamp& o) const {
    return location == o.location && connection == o.connection && others == o.others &&
           own == o.own;
  }
  bool operator!=(const RegistryStamp& o) const { return !(*this == o); }
};

// false when there is no stamp to be had (advapi32 keeps none; the hive
// could not be read): a caller then takes everything as changed.
[[nodiscard]] bool ReadRegistryStamp(RegistryStamp& stamp) noexcept;

// Drops whatever connection the backend keeps, so that the next call looks up
// the hive location afresh (POSIX; nothing to do on Windows).
void ResetRegistryForTesting() noexcept;

}  // namespace marlinok::platform

#endif
