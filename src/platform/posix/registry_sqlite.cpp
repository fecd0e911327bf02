// The registry calls on POSIX systems, over the hive (registry_hive.h).
//
// Layout: one row per key (the root, HKEY_LOCAL_MACHINE, is id 1), one row per
// value. Names are kept as given and matched through `fold`, the name with the
// ASCII letters in upper case; subkeys enumerate in `fold` order, which is the
// order Windows lists them in ("alpha" before "Beta", "Z" before "_"). Key ids
// are never reused, so a handle to a deleted key cannot land on a newer one.
//
// Every write is one IMMEDIATE transaction in WAL mode with full sync: a kill
// at any moment leaves the hive before or after the write.
#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/registry_hive.h"
#include "platform/registry.h"

namespace marlinok::platform {

using namespace hive;

class RegistryBackend {
 public:
  static RegistryKey::Native Native(const RegistryKey& key) { return key.native_; }
  static bool IsOpen(const RegistryKey& key) { return key.open_; }
  static void Adopt(RegistryKey& key, RegistryKey::Native native) {
    key.Close();
    key.native_ = native;
    key.open_ = true;
  }
};

void RegistryKey::Close() noexcept {
  open_ = false;
  native_ = {};
}

namespace {

std::string Fold(const char* name, size_t length) {
  std::string folded(name, length);
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

struct Component {
  const char* name;
  size_t length;
};

// Splits a key path at its backslashes. One trailing backslash is allowed;
// empty components elsewhere (a leading or a doubled backslash) are not.
RegStatus SplitPath(const char* path, std::vector<Component>& out) {
  if (path == nullptr) return kErrorSuccess;
  for (const char* p = path; *p != '\0';) {
    const char* end = std::strchr(p, '\\');
    if (end == nullptr) end = p + std::strlen(p);
    const auto length = static_cast<size_t>(end - p);
    if (length == 0) return kErrorBadPathname;
    if (length > kMaxKeyNameLength) return kErrorInvalidParameter;
    out.push_back(Component{p, length});
    p = *end == '\0' ? end : end + 1;
  }
  return kErrorSuccess;
}

RegStatus CheckValueName(const char* name) {
  if (name != nullptr && std::strlen(name) > kMaxValueNameLength) return kErrorInvalidParameter;
  return kErrorSuccess;
}

// Finds (and with `create`, makes) the key at `path`. `created` tells whether
// the last component was made now.
RegStatus Walk(Hive& hive, const std::vector<Component>& path, bool create, int64_t& id,
               bool& created) {
  id = kRootKeyId;
  created = false;
  for (const Component& component : path) {
    const std::string fold = Fold(component.name, component.length);
    {
      Use find(hive, kFindChild);
      find.Int(1, id).Text(2, fold);
      const int rc = find.Step();
      if (rc == SQLITE_ROW) {
        id = sqlite3_column_int64(find.get(), 0);
        created = false;
        continue;
      }
      if (rc != SQLITE_DONE) return FromSqlite(rc);
    }
    if (!create) return kErrorFileNotFound;
    Use insert(hive, kInsertKey);
    insert.Int(1, id).Blob(2, component.name, component.length).Text(3, fold);
    const int rc = insert.Step();
    if (rc != SQLITE_DONE) return FromSqlite(rc);
    id = sqlite3_last_insert_rowid(hive.db);
    created = true;
  }
  return kErrorSuccess;
}

// kErrorSuccess when the key still exists, kErrorKeyDeleted when it is gone.
RegStatus StillThere(Hive& hive, int64_t id) {
  Use exists(hive, kKeyExists);
  exists.Int(1, id);
  const int rc = exists.Step();
  if (rc == SQLITE_ROW) return kErrorSuccess;
  return rc == SQLITE_DONE ? kErrorKeyDeleted : FromSqlite(rc);
}

// The key id behind a handle of the current hive.
RegStatus KeyId(const RegistryKey& key, int64_t& id) {
  if (!RegistryBackend::IsOpen(key)) return kErrorInvalidHandle;
  const RegistryKey::Native native = RegistryBackend::Native(key);
  if (native.hive != Generation()) return kErrorInvalidHandle;  // from another hive
  id = static_cast<int64_t>(native.handle);
  return kErrorSuccess;
}

// Runs `work` with the hive and the id of an open key.
template <class Work>
RegStatus WithKey(const RegistryKey& key, Work&& work) {
  return WithHive([&](Hive& hive) {
    int64_t id = 0;
    const RegStatus valid = KeyId(key, id);
    if (valid != kErrorSuccess) return valid;
    return work(hive, id);
  });
}

// Runs `work` in one write transaction on a key that still exists.
template <class Work>
RegStatus WriteToKey(const RegistryKey& key, Work&& work) {
  return WithKey(key, [&](Hive& hive, int64_t id) {
    return InTransaction(hive, [&] {
      const RegStatus there = StillThere(hive, id);
      if (there != kErrorSuccess) return there;
      return work(hive, id);
    });
  });
}

// Steps a lookup of one row below key `id`: success with the row ready,
// `absent` when there is no row and the key still exists, the key's own
// status when it has gone.
RegStatus StepRow(Hive& hive, int64_t id, Use& lookup, RegStatus absent) {
  const int rc = lookup.Step();
  if (rc == SQLITE_ROW) return kErrorSuccess;
  if (rc != SQLITE_DONE) return FromSqlite(rc);
  const RegStatus there = StillThere(hive, id);
  return there == kErrorSuccess ? absent : there;
}

RegStatus OpenOrCreate(const char* path, RegistryKey& key, bool create, uint32_t* disposition) {
  std::vector<Component> components;
  const RegStatus parsed = SplitPath(path, components);
  if (parsed != kErrorSuccess) return parsed;
  int64_t id = 0;
  bool created = false;
  uint64_t generation = 0;
  const RegStatus status = WithHive([&](Hive& hive) {
    generation = Generation();
    return InTransaction(
        hive, [&] { return Walk(hive, components, create, id, created); },
        create ? kBegin : kBeginRead);
  });
  if (status != kErrorSuccess) return status;
  RegistryBackend::Adopt(key, RegistryKey::Native{static_cast<uint64_t>(id), generation});
  if (disposition != nullptr) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
  return kErrorSuccess;
}

}  // namespace

RegStatus OpenKey(const char* path, RegistryKey& key) {
  return OpenOrCreate(path, key, false, nullptr);
}

RegStatus CreateKey(const char* path, RegistryKey& key, uint32_t* disposition) {
  return OpenOrCreate(path, key, true, disposition);
}

RegStatus QueryValue(const RegistryKey& key, const char* name, uint32_t* type, uint8_t* data,
                     uint32_t* size) {
  if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
  if (CheckValueName(name) != kErrorSuccess) return kErrorFileNotFound;
  const std::string fold = name != nullptr ? Fold(name, std::strlen(name)) : std::string();
  return WithKey(key, [&](Hive& hive, int64_t id) {
    Use query(hive, kQueryValue);
    query.Int(1, id).Text(2, fold);
    const RegStatus found = StepRow(hive, id, query, kErrorFileNotFound);
    if (found != kErrorSuccess) return found;
    const auto storedType = static_cast<uint32_t>(sqlite3_column_int64(query.get(), 0));
    const void* bytes = sqlite3_column_blob(query.get(), 1);
    const auto count = static_cast<uint32_t>(sqlite3_column_bytes(query.get(), 1));
    if (type != nullptr) *type = storedType;
    if (data == nullptr) {
      if (size != nullptr) *size = count;
      return kErrorSuccess;
    }
    if (*size < count) {
      *size = count;
      return kErrorMoreData;
    }
    if (count != 0) std::memcpy(data, bytes, count);
    *size = count;
    return kErrorSuccess;
  });
}

namespace {

// Writes left before the injected failure; -1 for none.
std::atomic<int> gWritesBeforeFailure{-1};

// One value of key `id`, inside the caller's write transaction.
RegStatus UpsertValue(Hive& hive, int64_t id, const ValueWrite& value) {
  int left = gWritesBeforeFailure.load();
  while (left >= 0 && !gWritesBeforeFailure.compare_exchange_weak(left, left - 1)) {
  }
  if (left == 0) return kErrorRegistryIoFailed;
  const char* given = value.name != nullptr ? value.name : "";
  const size_t length = std::strlen(given);
  // Bound without a copy: the folded name must outlive the statement's step.
  const std::string fold = Fold(given, length);
  Use upsert(hive, kUpsertValue);
  upsert.Int(1, id)
      .Blob(2, given, length)
      .Text(3, fold)
      .Int(4, value.type)
      .Blob(5, value.data, value.size);
  return Run(std::move(upsert));
}

RegStatus CheckValueWrite(const ValueWrite& value) {
  if (value.data == nullptr && value.size != 0) return kErrorInvalidParameter;
  return CheckValueName(value.name);
}

}  // namespace

RegStatus SetValue(const RegistryKey& key, const char* name, uint32_t type, const uint8_t* data,
                   uint32_t size) {
  return SetValues(key, std::array<ValueWrite, 1>{{{name, type, data, size}}}.data(), 1);
}

RegStatus SetValues(const RegistryKey& key, const ValueWrite* values, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const RegStatus valid = CheckValueWrite(values[i]);
    if (valid != kErrorSuccess) return valid;
  }
  return WriteToKey(key, [&](Hive& hive, int64_t id) {
    for (std::size_t i = 0; i < count; ++i) {
      const RegStatus written = UpsertValue(hive, id, values[i]);
      if (written != kErrorSuccess) return written;
    }
    return kErrorSuccess;
  });
}

void FailValueWritesForTesting(int writes) noexcept { gWritesBeforeFailure.store(writes); }

RegStatus EnumSubkey(const RegistryKey& key, uint32_t index, char* name, uint32_t* nameLength) {
  if (name == nullptr || nameLength == nullptr) return kErrorInvalidParameter;
  return WithKey(key, [&](Hive& hive, int64_t id) {
    Use enumerate(hive, kEnumSubkey);
    enumerate.Int(1, id).Int(2, index);
    const RegStatus found = StepRow(hive, id, enumerate, kErrorNoMoreItems);
    if (found != kErrorSuccess) return found;
    const void* bytes = sqlite3_column_blob(enumerate.get(), 0);
    const auto length = static_cast<uint32_t>(sqlite3_column_bytes(enumerate.get(), 0));
    if (length >= *nameLength) return kErrorMoreData;  // the NUL must fit too
    if (length != 0) std::memcpy(name, bytes, length);
    name[length] = '\0';
    *nameLength = length;
    return kErrorSuccess;
  });
}

RegStatus EnumSubkeyNames(const RegistryKey& key, std::vector<std::string>& names) {
  return WithKey(key, [&](Hive& hive, int64_t id) {
    // One read transaction: a snapshot, whatever other writers do meanwhile.
    return InTransaction(
        hive,
        [&] {
          names.clear();
          for (uint32_t index = 0;; ++index) {
            Use enumerate(hive, kEnumSubkey);
            enumerate.Int(1, id).Int(2, index);
            const RegStatus found = StepRow(hive, id, enumerate, kErrorNoMoreItems);
            if (found == kErrorNoMoreItems) return kErrorSuccess;
            if (found != kErrorSuccess) return found;
            const auto* bytes = static_cast<const char*>(sqlite3_column_blob(enumerate.get(), 0));
            const auto length = static_cast<size_t>(sqlite3_column_bytes(enumerate.get(), 0));
            names.emplace_back(bytes != nullptr ? bytes : "", length);
          }
        },
        kBeginRead);
  });
}

namespace {

// Every key of the tree with its values, one row per value (a key without
// values gives one row of NULLs), ordered by key.
constexpr char kTreeSql[] =
    "WITH RECURSIVE sub(id, path, depth) AS ("
    "  SELECT ?1, CAST(x'' AS BLOB), 0"
    "  UNION ALL"
    "  SELECT k.id, CASE WHEN sub.depth = 0 THEN k.name"
    "                    ELSE CAST(sub.path || x'5c' || k.name AS BLOB) END, sub.depth + 1"
    "  FROM hive_keys k JOIN sub ON k.parent = sub.id WHERE sub.depth < ?2)"
    " SELECT sub.id, sub.path, v.name, v.type, length(v.data), v.data"
    " FROM sub LEFT JOIN hive_values v ON v.key = sub.id ORDER BY sub.id, v.rowid";

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
  const auto length = static_cast<size_t>(sqlite3_column_bytes(statement, column));
  return bytes != nullptr ? std::string(bytes, length) : std::string();
}

}  // namespace

RegStatus ReadKeyTree(const char* path, uint32_t depth, TreeValueFilter wanted,
                      std::vector<TreeKey>& keys) {
  std::vector<Component> components;
  const RegStatus parsed = SplitPath(path, components);
  if (parsed != kErrorSuccess) return parsed;
  return WithHive([&](Hive& hive) {
    return InTransaction(
        hive,
        [&]() -> RegStatus {
          keys.clear();
          int64_t root = 0;
          bool created = false;
          const RegStatus found = Walk(hive, components, false, root, created);
          if (found != kErrorSuccess) return found;
          sqlite3_stmt* statement = nullptr;
          int rc = sqlite3_prepare_v2(hive.db, kTreeSql, -1, &statement, nullptr);
          if (rc != SQLITE_OK) return FromSqlite(rc);
          sqlite3_bind_int64(statement, 1, root);
          sqlite3_bind_int64(statement, 2, depth);
          int64_t lastId = -1;
          while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
            const int64_t id = sqlite3_column_int64(statement, 0);
            if (id != lastId) {
              keys.push_back(TreeKey{ColumnText(statement, 1), {}});
              lastId = id;
            }
            if (sqlite3_column_type(statement, 2) == SQLITE_NULL) continue;
            TreeValue value;
            value.name = ColumnText(statement, 2);
            value.type = static_cast<uint32_t>(sqlite3_column_int64(statement, 3));
            value.size = static_cast<uint32_t>(sqlite3_column_int64(statement, 4));
            if (wanted != nullptr && wanted(value.name) && value.size != 0) {
              const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(statement, 5));
              if (data != nullptr) value.data.assign(data, data + value.size);
            }
            keys.back().values.push_back(std::move(value));
          }
          sqlite3_finalize(statement);
          return rc == SQLITE_DONE ? kErrorSuccess : FromSqlite(rc);
        },
        kBeginRead);
  });
}

RegStatus DeleteKey(const char* path) {
  if (path == nullptr) return kErrorInvalidParameter;
  std::vector<Component> components;
  const RegStatus parsed = SplitPath(path, components);
  if (parsed != kErrorSuccess) return parsed;
  return WithHive([&](Hive& hive) {
    return InTransaction(hive, [&] {
      int64_t id = 0;
      bool created = false;
      const RegStatus found = Walk(hive, components, false, id, created);
      if (found != kErrorSuccess) return found;
      if (id == kRootKeyId) return kErrorAccessDenied;
      {
        Use child(hive, kHasChild);
        child.Int(1, id);
        const int rc = child.Step();
        if (rc == SQLITE_ROW) return kErrorAccessDenied;
        if (rc != SQLITE_DONE) return FromSqlite(rc);
      }
      const RegStatus values = Run(std::move(Use(hive, kDeleteValues).Int(1, id)));
      if (values != kErrorSuccess) return values;
      return Run(std::move(Use(hive, kDeleteKeyRow).Int(1, id)));
    });
  });
}

RegStatus DeleteValue(const RegistryKey& key, const char* name) {
  if (CheckValueName(name) != kErrorSuccess) return kErrorFileNotFound;
  const std::string fold = name != nullptr ? Fold(name, std::strlen(name)) : std::string();
  return WriteToKey(key, [&](Hive& hive, int64_t id) {
    const RegStatus deleted = Run(std::move(Use(hive, kDeleteValue).Int(1, id).Text(2, fold)));
    if (deleted != kErrorSuccess) return deleted;
    return sqlite3_changes(hive.db) == 0 ? kErrorFileNotFound : kErrorSuccess;
  });
}

RegStatus EnumValueName(const RegistryKey& key, uint32_t index, std::string& name) {
  return WithKey(key, [&](Hive& hive, int64_t id) {
    Use enumerate(hive, kEnumValue);
    enumerate.Int(1, id).Int(2, index);
    const RegStatus found = StepRow(hive, id, enumerate, kErrorNoMoreItems);
    if (found != kErrorSuccess) return found;
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(enumerate.get(), 0));
    const auto length = static_cast<size_t>(sqlite3_column_bytes(enumerate.get(), 0));
    name.assign(bytes != nullptr ? bytes : "", length);
    return kErrorSuccess;
  });
}
}  // namespace marlinok::platform
