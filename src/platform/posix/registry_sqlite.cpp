// The registry on POSIX systems: a hive in one SQLite database file.
//
// Location: $MARLINOK_REGISTRY, else ${XDG_DATA_HOME:-$HOME/.local/share}/marlinok/registry.db.
// The file holds private keys and the PIN in clear, so missing folders are
// made 0700 and the file 0600, before SQLite ever sees the path.
//
// Layout: one row per key (the root, HKEY_LOCAL_MACHINE, is id 1), one row per
// value. Names are kept as given and matched through `fold`, the name with the
// ASCII letters in upper case; subkeys enumerate in `fold` order, which is the
// order Windows lists them in ("alpha" before "Beta", "Z" before "_"). Key ids
// are never reused, so a handle to a deleted key cannot land on a newer one.
//
// Every write is one IMMEDIATE transaction in WAL mode with full sync: a kill
// at any moment leaves the hive before or after the write. Writers of other
// processes are waited for (busy handler, then whole-call retries), never
// reported as failures.
//
// One connection per process, opened on first use and kept with its prepared
// statements; every call re-reads the location so that a changed
// MARLINOK_REGISTRY takes effect, and a fork closes the connection first (the
// child may not share the parent's).
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/registry.h"

namespace marlinok::platform {

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

constexpr int32_t kApplicationId = 0x4d4b5247;  // "MKRG": this file is a marlinok hive
constexpr int32_t kSchemaVersion = 1;
constexpr int64_t kRootKeyId = 1;
constexpr auto kBusyDeadline = std::chrono::seconds(30);
// Internal: the hive was busy; the call is run again.
constexpr RegStatus kRetry = 0xffffffffu;

const char* const kSchema =
    "CREATE TABLE hive_keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  UNIQUE(parent, fold));"
    "CREATE TABLE hive_values("
    "  key INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, fold));"
    "INSERT INTO hive_keys(id, parent, name, fold) VALUES(1, 0, x'', x'');"
    "PRAGMA application_id = 1296781895;"
    "PRAGMA user_version = 1;";
static_assert(kApplicationId == 1296781895, "the schema text repeats the application id");

enum Sql : size_t {
  kFindChild,
  kInsertKey,
  kKeyExists,
  kHasChild,
  kQueryValue,
  kUpsertValue,
  kEnumSubkey,
  kEnumValue,
  kDeleteValues,
  kDeleteKeyRow,
  kDeleteValue,
  kBegin,
  kBeginRead,
  kCommit,
  kRollback,
  kSqlCount
};

const std::array<const char*, kSqlCount> kSqlText = {
    "SELECT id FROM hive_keys WHERE parent = ?1 AND fold = ?2",
    "INSERT INTO hive_keys(parent, name, fold) VALUES(?1, ?2, ?3)",
    "SELECT 1 FROM hive_keys WHERE id = ?1",
    "SELECT 1 FROM hive_keys WHERE parent = ?1 LIMIT 1",
    "SELECT type, data FROM hive_values WHERE key = ?1 AND fold = ?2",
    "INSERT INTO hive_values(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data",
    "SELECT name FROM hive_keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2",
    "SELECT name FROM hive_values WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2",
    "DELETE FROM hive_values WHERE key = ?1",
    "DELETE FROM hive_keys WHERE id = ?1",
    "DELETE FROM hive_values WHERE key = ?1 AND fold = ?2",
    "BEGIN IMMEDIATE",
    "BEGIN",
    "COMMIT",
    "ROLLBACK",
};

struct Hive {
  sqlite3* db = nullptr;
  std::array<sqlite3_stmt*, kSqlCount> statements{};
  pid_t pid = 0;
};

// Process-wide state, all of it under gMutex.
std::mutex gMutex;
Hive* gHive = nullptr;
std::string gHivePath;     // where gHive (or the last one) was opened
uint64_t gGeneration = 0;  // changes whenever the hive location changes
std::string gProblem;      // why the last open failed
std::once_flag gForkHandlers;

void CloseHive(Hive* hive) noexcept {
  for (sqlite3_stmt* statement : hive->statements) sqlite3_finalize(statement);
  sqlite3_close_v2(hive->db);
  delete hive;
}

// At unload (dlclose, or the end of the process) this process's connection is
// closed: its file descriptor and SQLite's memory go back. Defined after the
// state above, so it is destroyed before that state.
struct HiveCloser {
  HiveCloser() = default;
  HiveCloser(const HiveCloser&) = delete;
  HiveCloser& operator=(const HiveCloser&) = delete;
  ~HiveCloser() {
    std::lock_guard<std::mutex> lock(gMutex);
    if (gHive != nullptr && gHive->pid == getpid()) CloseHive(gHive);
    gHive = nullptr;
  }
} gHiveCloser;

// Around fork: no connection may be inherited, so the parent closes its own
// first (under the mutex, so no call is in the middle of using it) and opens
// it again on its next call.
void BeforeFork() {
  gMutex.lock();
  if (gHive != nullptr && gHive->pid == getpid()) CloseHive(gHive);
  gHive = nullptr;
}
void AfterFork() { gMutex.unlock(); }

RegStatus FromSqlite(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return kErrorSuccess;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kRetry;
    case SQLITE_NOMEM:
      return kErrorNotEnoughMemory;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return kErrorAccessDenied;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_SCHEMA:
      return kErrorBadDb;
    default:
      return kErrorRegistryIoFailed;
  }
}

// Waits for another connection's write lock: short sleeps first (writes are
// short), then 2 ms steps, for about ten seconds; the caller then retries the
// whole call until kBusyDeadline.
int OnBusy(void*, int count) {
  if (count >= 5000) return 0;
  const int micros = count < 20 ? 100 * (count + 1) : 2000;
  std::this_thread::sleep_for(std::chrono::microseconds(micros));
  return 1;
}

std::string ErrnoText(int error) { return std::strerror(error); }

std::string ResolveHivePath(std::string& problem) {
  const char* explicitPath = std::getenv("MARLINOK_REGISTRY");
  if (explicitPath != nullptr && explicitPath[0] != '\0') return explicitPath;
  std::string base;
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  // Relative XDG paths are invalid and ignored.
  if (dataHome != nullptr && dataHome[0] == '/') {
    base = dataHome;
  } else {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
      base = home;
    } else {
      passwd entry{};
      passwd* found = nullptr;
      std::vector<char> buffer(16384);
      if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
          found != nullptr && found->pw_dir != nullptr) {
        base = found->pw_dir;
      }
    }
    if (base.empty()) {
      problem = "no hive location: MARLINOK_REGISTRY, XDG_DATA_HOME and HOME are all unset";
      return std::string();
    }
    base += "/.local/share";
  }
  return base + "/marlinok/registry.db";
}

// Creates the missing folders above `path`, each 0700.
bool MakeParentFolders(const std::string& path, std::string& problem) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    struct stat info {};
    if (stat(folder.c_str(), &info) == 0) {
      if (!S_ISDIR(info.st_mode)) {
        problem = folder + " is not a folder";
        return false;
      }
      continue;
    }
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      problem = "cannot create folder " + folder + ": " + ErrnoText(errno);
      return false;
    }
    chmod(folder.c_str(), 0700);  // whatever the umask took away
  }
  return true;
}

// Creates the hive file 0600 if it does not exist; an existing file is left
// exactly as it is.
bool MakeHiveFile(const std::string& path, std::string& problem) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) {
    fchmod(fd, 0600);
    close(fd);
    return true;
  }
  if (errno == EEXIST) return true;
  problem = "cannot create the hive file: " + ErrnoText(errno);
  return false;
}

// Runs SQL text that returns no rows.
int Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

// One integer from a single-row query; SQLite's result code on failure.
int QueryInt(sqlite3* db, const char* sql, int64_t& out) {
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) {
      out = sqlite3_column_int64(statement, 0);
      rc = SQLITE_OK;
    }
  }
  sqlite3_finalize(statement);
  return rc;
}

std::string SqliteProblem(sqlite3* db, int rc) {
  if ((rc & 0xff) == SQLITE_NOTADB) return "the file is not an SQLite database";
  return db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
}

// Checks that the database is a hive (or empty, and then makes it one). A
// database with anything else in it is refused before anything is written.
RegStatus AdoptSchema(sqlite3* db, std::string& problem) {
  int64_t applicationId = 0;
  int64_t version = 0;
  int64_t objects = 0;
  // One read transaction for the three looks: separately, another process
  // could commit the schema between them (an id of 0 beside tables, taken
  // for a foreign database).
  int rc = Exec(db, "BEGIN");
  if (rc == SQLITE_OK) rc = QueryInt(db, "PRAGMA application_id", applicationId);
  if (rc == SQLITE_OK) rc = QueryInt(db, "PRAGMA user_version", version);
  if (rc == SQLITE_OK) rc = QueryInt(db, "SELECT count(*) FROM sqlite_schema", objects);
  if (rc == SQLITE_OK) {
    rc = Exec(db, "COMMIT");
  } else {
    Exec(db, "ROLLBACK");
  }
  if (rc != SQLITE_OK) {
    problem = SqliteProblem(db, rc);
    return FromSqlite(rc);
  }
  if (applicationId == kApplicationId) {
    if (version == kSchemaVersion) return kErrorSuccess;
    problem = "hive format version " + std::to_string(version) + " is not supported";
    return kErrorBadDb;
  }
  if (applicationId != 0 || objects != 0) {
    problem = "the database is not a marlinok registry (foreign schema)";
    return kErrorBadDb;
  }
  // Empty: another process may be making it a hive at this very moment, so
  // look again inside the write transaction.
  rc = Exec(db, "BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) {
    problem = SqliteProblem(db, rc);
    return FromSqlite(rc);
  }
  rc = QueryInt(db, "PRAGMA application_id", applicationId);
  if (rc == SQLITE_OK) rc = QueryInt(db, "SELECT count(*) FROM sqlite_schema", objects);
  const bool empty = applicationId == 0 && objects == 0;
  if (rc == SQLITE_OK && empty) rc = Exec(db, kSchema);
  if (rc == SQLITE_OK) rc = Exec(db, "COMMIT");
  if (rc != SQLITE_OK) {
    problem = SqliteProblem(db, rc);
    Exec(db, "ROLLBACK");
    return FromSqlite(rc);
  }
  if (!empty && applicationId != kApplicationId) {
    problem = "the database is not a marlinok registry (foreign schema)";
    return kErrorBadDb;
  }
  return kErrorSuccess;
}

RegStatus OpenHive(const std::string& path, Hive*& out, std::string& problem) {
  if (!MakeParentFolders(path, problem) || !MakeHiveFile(path, problem)) {
    return kErrorRegistryIoFailed;
  }
  auto* hive = new Hive;
  hive->pid = getpid();
  int rc = sqlite3_open_v2(path.c_str(), &hive->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    problem = SqliteProblem(hive->db, rc);
    CloseHive(hive);
    return rc == SQLITE_NOMEM ? kErrorNotEnoughMemory : kErrorRegistryIoFailed;
  }
  sqlite3_extended_result_codes(hive->db, 1);
  sqlite3_busy_handler(hive->db, OnBusy, nullptr);
  RegStatus status = AdoptSchema(hive->db, problem);
  if (status == kErrorSuccess) {
    // WAL: readers never wait for a writer. Full sync: an acknowledged write
    // survives a power cut too. Secure delete: a deleted key record does not
    // linger in free pages.
    // Entering WAL needs the file to itself and SQLite does not wait for that
    // through the busy handler: while another process is still reading a
    // fresh hive in its first mode, wait here in the same way.
    rc = Exec(hive->db, "PRAGMA journal_mode = WAL");
    for (int count = 0; (rc & 0xff) == SQLITE_BUSY && OnBusy(nullptr, count) != 0; ++count)
      rc = Exec(hive->db, "PRAGMA journal_mode = WAL");
    if (rc == SQLITE_OK)
      rc = Exec(hive->db, "PRAGMA synchronous = FULL; PRAGMA secure_delete = ON;");
    if (rc != SQLITE_OK) {
      problem = SqliteProblem(hive->db, rc);
      status = FromSqlite(rc);
    }
  }
  for (size_t i = 0; status == kErrorSuccess && i < kSqlCount; ++i) {
    rc = sqlite3_prepare_v3(hive->db, kSqlText[i], -1, SQLITE_PREPARE_PERSISTENT,
                            &hive->statements[i], nullptr);
    if (rc != SQLITE_OK) {
      // A file that passed the identity check but lacks our tables.
      problem = "the hive is damaged: " + std::string(sqlite3_errmsg(hive->db));
      status = (rc & 0xff) == SQLITE_ERROR ? kErrorBadDb : FromSqlite(rc);
    }
  }
  if (status != kErrorSuccess) {
    CloseHive(hive);
    return status;
  }
  out = hive;
  return kErrorSuccess;
}

// The connection for the current location; gMutex must be held.
RegStatus Connect(Hive*& hive) {
  std::call_once(gForkHandlers, [] { pthread_atfork(BeforeFork, AfterFork, AfterFork); });
  std::string problem;
  const std::string path = ResolveHivePath(problem);
  if (path.empty()) {
    if (gHive != nullptr && gHive->pid == getpid()) CloseHive(gHive);
    gHive = nullptr;
    gHivePath.clear();
    ++gGeneration;
    gProblem = problem;
    return kErrorRegistryIoFailed;
  }
  // A connection of a parent process that forked without our handlers (a raw
  // clone) is not ours to use or close: it is abandoned.
  if (gHive != nullptr && gHive->pid != getpid()) gHive = nullptr;
  if (gHive != nullptr && path == gHivePath) {
    hive = gHive;
    return kErrorSuccess;
  }
  if (gHive != nullptr) {
    CloseHive(gHive);
    gHive = nullptr;
  }
  if (path != gHivePath) {
    gHivePath = path;
    ++gGeneration;
  }
  const RegStatus status = OpenHive(path, gHive, problem);
  if (status != kErrorSuccess) {
    gProblem = problem;
    gHive = nullptr;
    return status;
  }
  gProblem.clear();
  hive = gHive;
  return kErrorSuccess;
}

// Drops a connection whose file went bad under it; the next call reopens.
void DropAfter(RegStatus status) {
  if (status == kErrorBadDb || status == kErrorRegistryIoFailed) {
    if (gHive != nullptr) CloseHive(gHive);
    gHive = nullptr;
  }
}

// Runs `work(hive)` under the mutex on the current connection, again and
// again while the hive is busy, up to kBusyDeadline.
template <class Work>
RegStatus WithHive(Work&& work) {
  std::lock_guard<std::mutex> lock(gMutex);
  const auto deadline = std::chrono::steady_clock::now() + kBusyDeadline;
  for (int attempt = 0;; ++attempt) {
    Hive* hive = nullptr;
    RegStatus status = Connect(hive);
    if (status == kErrorSuccess) status = work(*hive);
    if (status != kRetry) {
      DropAfter(status);
      return status;
    }
    if (std::chrono::steady_clock::now() >= deadline) return kErrorRegistryIoFailed;
    std::this_thread::sleep_for(std::chrono::microseconds(200 + 100 * (attempt % 10)));
  }
}

// One use of a prepared statement; reset when the use ends.
class Use {
 public:
  Use(Hive& hive, Sql which) : statement_(hive.statements[which]) {}
  ~Use() { sqlite3_reset(statement_); }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;

  Use& Int(int index, int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
  }
  // Zero bytes are an empty blob, never NULL.
  Use& Blob(int index, const void* data, size_t size) {
    if (size == 0) {
      sqlite3_bind_zeroblob(statement_, index, 0);
    } else {
      sqlite3_bind_blob64(statement_, index, data, size, SQLITE_STATIC);
    }
    return *this;
  }
  Use& Text(int index, const std::string& text) { return Blob(index, text.data(), text.size()); }
  int Step() { return sqlite3_step(statement_); }
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_;
};

// Runs a statement that returns no rows.
RegStatus Run(Use&& use) {
  const int rc = use.Step();
  return rc == SQLITE_DONE ? kErrorSuccess : FromSqlite(rc);
}

// Runs `body` inside one transaction, IMMEDIATE for writes (the write lock is
// taken, or waited for, up front), deferred for reads (one snapshot for
// several statements, which is also cheaper than one per statement). Commits
// only if the body succeeds.
template <class Body>
RegStatus InTransaction(Hive& hive, Body&& body, Sql begin = kBegin) {
  RegStatus status = Run(Use(hive, begin));
  if (status != kErrorSuccess) return status;
  status = body();
  if (status == kErrorSuccess) status = Run(Use(hive, kCommit));
  if (status != kErrorSuccess && !sqlite3_get_autocommit(hive.db)) {
    (void)Run(Use(hive, kRollback));
  }
  return status;
}

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
  if (native.hive != gGeneration) return kErrorInvalidHandle;  // from another hive
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
    generation = gGeneration;
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

RegStatus SetValue(const RegistryKey& key, const char* name, uint32_t type, const uint8_t* data,
                   uint32_t size) {
  if (data == nullptr && size != 0) return kErrorInvalidParameter;
  const RegStatus nameOk = CheckValueName(name);
  if (nameOk != kErrorSuccess) return nameOk;
  const char* given = name != nullptr ? name : "";
  const size_t length = std::strlen(given);
  const std::string fold = Fold(given, length);
  return WriteToKey(key, [&](Hive& hive, int64_t id) {
    Use upsert(hive, kUpsertValue);
    upsert.Int(1, id).Blob(2, given, length).Text(3, fold).Int(4, type).Blob(5, data, size);
    return Run(std::move(upsert));
  });
}

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

RegStatus ProbeRegistry(std::string& location, std::string& problem) {
  const RegStatus status = WithHive([](Hive&) { return kErrorSuccess; });
  std::lock_guard<std::mutex> lock(gMutex);
  location = gHivePath;
  problem = status == kErrorSuccess ? std::string() : gProblem;
  if (status != kErrorSuccess && problem.empty()) problem = "the hive stayed busy";
  return status;
}

void ResetRegistryForTesting() noexcept {
  std::lock_guard<std::mutex> lock(gMutex);
  if (gHive != nullptr && gHive->pid == getpid()) CloseHive(gHive);
  gHive = nullptr;
  gHivePath.clear();
  ++gGeneration;
}

}  // namespace marlinok::platform
