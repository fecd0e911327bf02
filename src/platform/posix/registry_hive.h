// The hive's connection, shared by the registry calls of this process: one
// SQLite connection per process, opened on first use and kept with its
// prepared statements; every call re-reads the location so that a changed
// MARLINOK_REGISTRY takes effect, and a fork closes the connection first (the
// child may not share the parent's). Writers of other processes are waited
// for (busy handler, then whole-call retries), never reported as failures.
#ifndef MARLINOK_PLATFORM_POSIX_REGISTRY_HIVE_H
#define MARLINOK_PLATFORM_POSIX_REGISTRY_HIVE_H

#include <sqlite3.h>
#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/registry.h"

namespace marlinok::platform::hive {

constexpr int64_t kRootKeyId = 1;
constexpr auto kBusyDeadline = std::chrono::seconds(30);
// Internal: the hive was busy; the call is run again.
constexpr RegStatus kRetry = 0xffffffffu;

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
  kDataVersion,
  kSqlCount
};

struct Hive {
  sqlite3* db = nullptr;
  std::array<sqlite3_stmt*, kSqlCount> statements{};
  pid_t pid = 0;
  uint64_t serial = 0;  // which of this process's connections (stamps are per connection)
};

RegStatus FromSqlite(int rc);

// The process's connection state is guarded by this mutex; the three calls
// below need it held.
std::mutex& HiveMutex();
// The connection for the current location, opened (and made a hive) if needed.
RegStatus Connect(Hive*& hive);
// Drops a connection whose file went bad under it; the next call reopens.
void DropAfter(RegStatus status);
// Changes whenever the hive location changes: key handles of an older
// generation belong to another hive.
uint64_t Generation();

// Runs `work(hive)` under the mutex on the current connection, again and
// again while the hive is busy, up to kBusyDeadline.
template <class Work>
RegStatus WithHive(Work&& work) {
  std::lock_guard<std::mutex> lock(HiveMutex());
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
inline RegStatus Run(Use&& use) {
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

}  // namespace marlinok::platform::hive

#endif
