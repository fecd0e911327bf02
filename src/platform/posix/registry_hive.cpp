// The hive: the registry on POSIX systems, kept in one SQLite database file,
// and this process's connection to it.
//
// Location: $MARLINOK_REGISTRY, else ${XDG_DATA_HOME:-$HOME/.local/share}/marlinok/registry.db.
// The file holds private keys and the PIN in clear, so missing folders are
// made 0700 and the file 0600, before SQLite ever sees the path. A database
// that is not a hive (anything but an empty file or our schema) is refused
// before anything is written.
#include "platform/posix/registry_hive.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace marlinok::platform {
namespace hive {
namespace {

constexpr int32_t kApplicationId = 0x4d4b5247;  // "MKRG": this file is a marlinok hive
constexpr int32_t kSchemaVersion = 1;

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
    "PRAGMA data_version",
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

}  // namespace

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

namespace {

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

std::string OctalMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// A hive holds private keys and the PIN: it is adopted only when no other
// user can have planted or changed it. The file must be the effective
// user's and writable by nobody else, and its folder must not let others
// replace it (writable by others only with the sticky bit, as /tmp).
bool HiveIsPrivate(const std::string& path, std::string& problem) {
  struct stat file {};
  if (stat(path.c_str(), &file) != 0) {
    problem = "cannot look at the hive file: " + ErrnoText(errno);
    return false;
  }
  if (!S_ISREG(file.st_mode)) {
    problem = "the hive " + path + " is not a regular file";
    return false;
  }
  if (file.st_uid != geteuid()) {
    problem = "the hive " + path + " belongs to user " + std::to_string(file.st_uid) +
              ", not to you (user " + std::to_string(geteuid()) +
              "): its keys are not yours to trust; use a hive of your own (MARLINOK_REGISTRY)";
    return false;
  }
  if ((file.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    problem = "the hive " + path + " is writable by other users (mode " + OctalMode(file.st_mode) +
              "): check its contents, then chmod 600 " + path;
    return false;
  }
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  struct stat parent {};
  if (stat(folder.c_str(), &parent) != 0) {
    problem = "cannot look at the hive's folder " + folder + ": " + ErrnoText(errno);
    return false;
  }
  if ((parent.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (parent.st_mode & S_ISVTX) == 0) {
    problem = "the hive's folder " + folder + " lets other users replace the hive (mode " +
              OctalMode(parent.st_mode) + "): chmod go-w " + folder +
              ", or keep the hive in a folder of your own";
    return false;
  }
  return true;
}

// An empty file becomes a hive; anything else must at least begin as an
// SQLite database does. SQLite itself takes a file shorter than its header
// for an empty database, and would overwrite it.
bool LooksLikeADatabase(const std::string& path, std::string& problem) {
  static const char kHeader[16] = "SQLite format 3";  // and its NUL
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    problem = "cannot read the hive file: " + ErrnoText(errno);
    return false;
  }
  char header[sizeof kHeader];
  const ssize_t got = read(fd, header, sizeof header);
  close(fd);
  if (got == 0) return true;
  if (got != static_cast<ssize_t>(sizeof header) ||
      std::memcmp(header, kHeader, sizeof header) != 0) {
    problem = "the file is not an SQLite database";
    return false;
  }
  return true;
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
  if (rc == SQLITE_OK) rc = Exec(db, "COMMIT");
  if (rc != SQLITE_OK) {
    // The message first: the rollback would replace it.
    problem = SqliteProblem(db, rc);
    Exec(db, "ROLLBACK");
    return FromSqlite(rc);
  }
  if (applicationId == kApplicationId) {
    if (version == kSchemaVersion) return kErrorSuccess;
    problem = "hive format version " + std::to_string(version) + " is not supported";
    return kErrorBadDb;
  }
  // An empty database of another program may still be marked as its own.
  if (applicationId != 0 || objects != 0 || version != 0) {
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
  if (rc == SQLITE_OK) rc = QueryInt(db, "PRAGMA user_version", version);
  if (rc == SQLITE_OK) rc = QueryInt(db, "SELECT count(*) FROM sqlite_schema", objects);
  const bool empty = applicationId == 0 && objects == 0 && version == 0;
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
  if (!HiveIsPrivate(path, problem)) return kErrorAccessDenied;
  if (!LooksLikeADatabase(path, problem)) return kErrorBadDb;
  static std::atomic<uint64_t> connections{0};
  auto* hive = new Hive;
  hive->pid = getpid();
  hive->serial = ++connections;
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
  // The statements first: a file that passed the identity check but lacks
  // our tables is refused before anything is written to it.
  for (size_t i = 0; status == kErrorSuccess && i < kSqlCount; ++i) {
    rc = sqlite3_prepare_v3(hive->db, kSqlText[i], -1, SQLITE_PREPARE_PERSISTENT,
                            &hive->statements[i], nullptr);
    if (rc != SQLITE_OK) {
      problem = "the hive is damaged: " + std::string(sqlite3_errmsg(hive->db));
      status = (rc & 0xff) == SQLITE_ERROR ? kErrorBadDb : FromSqlite(rc);
    }
  }
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
  if (status != kErrorSuccess) {
    CloseHive(hive);
    return status;
  }
  out = hive;
  return kErrorSuccess;
}

}  // namespace

std::mutex& HiveMutex() { return gMutex; }

uint64_t Generation() { return gGeneration; }

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

}  // namespace hive

using namespace hive;

RegStatus ProbeRegistry(std::string& location, std::string& problem) {
  const RegStatus status = WithHive([](Hive&) { return kErrorSuccess; });
  std::lock_guard<std::mutex> lock(HiveMutex());
  location = gHivePath;
  problem = status == kErrorSuccess ? std::string() : gProblem;
  if (status != kErrorSuccess && problem.empty()) problem = "the hive stayed busy";
  return status;
}

bool ReadRegistryStamp(RegistryStamp& stamp) noexcept {
  try {
    RegistryStamp read;
    const RegStatus status = WithHive([&](Hive& hive) -> RegStatus {
      Use use(hive, kDataVersion);
      const int rc = use.Step();
      if (rc != SQLITE_ROW) return FromSqlite(rc == SQLITE_DONE ? SQLITE_ERROR : rc);
      read.location = Generation();
      read.connection = hive.serial;
      read.others = static_cast<uint64_t>(sqlite3_column_int64(use.get(), 0));
      read.own = static_cast<uint64_t>(sqlite3_total_changes64(hive.db));
      return kErrorSuccess;
    });
    if (status != kErrorSuccess) return false;
    stamp = read;
    return true;
  } catch (...) {
    return false;
  }
}

void ResetRegistryForTesting() noexcept {
  std::lock_guard<std::mutex> lock(HiveMutex());
  if (gHive != nullptr && gHive->pid == getpid()) CloseHive(gHive);
  gHive = nullptr;
  gHivePath.clear();
  ++gGeneration;
}
}  // namespace marlinok::platform
