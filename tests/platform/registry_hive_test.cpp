// The POSIX hive itself: where it lives, its file modes, what it does with
// files it cannot use, and how it stands up to several processes and to being
// killed in the middle of a write.
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "support/hex.h"
#include "support/temp_hive.h"

namespace marlinok::platform {
namespace {

using test::Bytes;
using test::TempHive;

// Sets an environment variable for the life of the object and makes the
// registry look up its location afresh.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* previous = std::getenv(name)) {
      had_ = true;
      previous_ = previous;
    }
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
    ResetRegistryForTesting();
  }
  ~ScopedVariable() {
    if (had_) {
      setenv(name_.c_str(), previous_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
    ResetRegistryForTesting();
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::string name_;
  std::string previous_;
  bool had_ = false;
};

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

RegStatus CreateAndClose(const std::string& path) {
  RegistryKey key;
  return CreateKey(path.c_str(), key, nullptr);
}

std::string IntegrityCheck(const std::string& hive) {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(hive.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return result;
}

Bytes ReadValue(const std::string& path, const char* name) {
  RegistryKey key;
  if (OpenKey(path.c_str(), key) != kErrorSuccess) return {};
  Bytes data(64);
  uint32_t size = static_cast<uint32_t>(data.size());
  if (QueryValue(key, name, nullptr, data.data(), &size) != kErrorSuccess) return {};
  data.resize(size);
  return data;
}

Bytes Counter(uint32_t value) {
  return Bytes{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
               static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

// ---- location and modes ---------------------------------------------------------------------

TEST(RegistryHive, LivesWhereTheVariableSays) {
  TempHive hive;
  ASSERT_EQ(CreateAndClose("Software\\Quillmar"), kErrorSuccess);
  EXPECT_TRUE(Exists(hive.Path()));
  std::string location;
  std::string problem;
  EXPECT_EQ(ProbeRegistry(location, problem), kErrorSuccess);
  EXPECT_EQ(location, hive.Path());
  EXPECT_EQ(problem, "");
}

TEST(RegistryHive, MissingFoldersAre0700AndTheFiles0600) {
  TempHive scratch;
  const std::string path = scratch.Folder() + "/a/b/registry.db";
  ScopedVariable variable("MARLINOK_REGISTRY", path.c_str());
  const mode_t previous = umask(0);  // the modes must not depend on the umask
  const RegStatus status = CreateAndClose("Software\\Quillmar\\SoftContainerSimulator");
  umask(previous);
  ASSERT_EQ(status, kErrorSuccess);
  EXPECT_EQ(ModeOf(scratch.Folder() + "/a"), 0700u);
  EXPECT_EQ(ModeOf(scratch.Folder() + "/a/b"), 0700u);
  EXPECT_EQ(ModeOf(path), 0600u);
  EXPECT_EQ(ModeOf(path + "-wal"), 0600u);
  EXPECT_EQ(ModeOf(path + "-shm"), 0600u);
}

TEST(RegistryHive, DefaultsToXdgDataHome) {
  TempHive scratch;
  const std::string dataHome = scratch.Folder() + "/data";
  ScopedVariable noVariable("MARLINOK_REGISTRY", nullptr);
  ScopedVariable xdg("XDG_DATA_HOME", dataHome.c_str());
  ASSERT_EQ(CreateAndClose("Software"), kErrorSuccess);
  EXPECT_TRUE(Exists(dataHome + "/marlinok/registry.db"));
  EXPECT_EQ(ModeOf(dataHome), 0700u);
  EXPECT_EQ(ModeOf(dataHome + "/marlinok"), 0700u);
}

TEST(RegistryHive, DefaultsToHomeWithoutXdgDataHome) {
  TempHive scratch;
  const std::string home = scratch.Folder() + "/home";
  ScopedVariable noVariable("MARLINOK_REGISTRY", nullptr);
  ScopedVariable noXdg("XDG_DATA_HOME", "relative/paths/are/ignored");
  ScopedVariable homeVariable("HOME", home.c_str());
  ASSERT_EQ(CreateAndClose("Software"), kErrorSuccess);
  EXPECT_TRUE(Exists(home + "/.local/share/marlinok/registry.db"));
}

TEST(RegistryHive, ExistingFolderModesAreLeftAlone) {
  TempHive scratch;
  const std::string folder = scratch.Folder() + "/shared";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  chmod(folder.c_str(), 0755);
  const std::string path = folder + "/registry.db";
  ScopedVariable variable("MARLINOK_REGISTRY", path.c_str());
  ASSERT_EQ(CreateAndClose("Software"), kErrorSuccess);
  EXPECT_EQ(ModeOf(folder), 0755u);
  EXPECT_EQ(ModeOf(path), 0600u);
}

TEST(RegistryHive, ChangedVariableSwitchesHivesAndOldHandlesGoInvalid) {
  TempHive first;
  RegistryKey key;
  ASSERT_EQ(CreateKey("Software\\first", key, nullptr), kErrorSuccess);
  TempHive second;  // points MARLINOK_REGISTRY elsewhere
  RegistryKey probe;
  EXPECT_EQ(OpenKey("Software\\first", probe), kErrorFileNotFound);
  uint32_t size = 0;
  EXPECT_EQ(QueryValue(key, "v", nullptr, nullptr, &size), kErrorInvalidHandle);
}

// ---- files the hive cannot use --------------------------------------------------------------

TEST(RegistryHive, PathBelowAFileFailsCleanly) {
  TempHive scratch;
  const std::string blocker = scratch.Folder() + "/plainfile";
  WriteFile(blocker, "x");
  const std::string path = blocker + "/registry.db";
  ScopedVariable variable("MARLINOK_REGISTRY", path.c_str());
  RegistryKey key;
  EXPECT_EQ(CreateKey("Software", key, nullptr), kErrorRegistryIoFailed);
  EXPECT_EQ(OpenKey("Software", key), kErrorRegistryIoFailed);
  EXPECT_EQ(DeleteKey("Software"), kErrorRegistryIoFailed);
  EXPECT_FALSE(key.IsOpen());
  std::string location;
  std::string problem;
  EXPECT_EQ(ProbeRegistry(location, problem), kErrorRegistryIoFailed);
  EXPECT_EQ(location, path);
  EXPECT_NE(problem.find(blocker), std::string::npos) << problem;
  EXPECT_EQ(FileText(blocker), "x");
}

TEST(RegistryHive, UnwritableFolderFailsCleanly) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes everywhere";
  TempHive scratch;
  const std::string folder = scratch.Folder() + "/locked";
  ASSERT_EQ(mkdir(folder.c_str(), 0500), 0);
  const std::string path = folder + "/registry.db";
  ScopedVariable variable("MARLINOK_REGISTRY", path.c_str());
  EXPECT_EQ(CreateAndClose("Software"), kErrorRegistryIoFailed);
  EXPECT_FALSE(Exists(path));
  chmod(folder.c_str(), 0700);
}

TEST(RegistryHive, FileThatIsNotADatabaseIsRefusedAndKept) {
  TempHive scratch;
  const std::string path = scratch.Folder() + "/garbage.db";
  const std::string garbage = std::string(4096, 'G') + "not a registry at all\n";
  WriteFile(path, garbage);
  ScopedVariable variable("MARLINOK_REGISTRY", path.c_str());
  RegistryKey key;
  EXPECT_EQ(OpenKey("Software", key), kErrorBadDb);
  EXPECT_EQ(CreateKey("Software", key, nullptr), kErrorBadDb);
  std::string location;
  std::string problem;
  EXPECT_EQ(ProbeRegistry(location, problem), kErrorBadDb);
  EXPECT_NE(problem.find("not an SQLite database"), std::string::npos) << problem;
  EXPECT_EQ(FileText(path), garbage);
}

TEST(RegistryHive, DatabaseWithForeignSchemaIsRefusedAndKept) {
  TempHive scratch;
  const std::string path = scratch.Folder() + "/foreign.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes(text); INSERT INTO notes VALUES('mine');", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  const std::string before = FileText(path);
  ScopedVariable variable("MARLINOK_REGISTRY", path.c_str());
  EXPECT_EQ(CreateAndClose("Software"), kErrorBadDb);
  std::string location;
  std::string problem;
  EXPECT_EQ(ProbeRegistry(location, problem), kErrorBadDb);
  EXPECT_NE(problem.find("foreign"), std::string::npos) << problem;
  EXPECT_EQ(FileText(path), before);
}

// A hive others could have planted or changed is refused, with what to do
// about it; a sticky shared folder such as /tmp is fine.
TEST(RegistryHive, HiveOthersCouldChangeIsRefused) {
  struct Case {
    mode_t folderMode, fileMode;
    RegStatus expected;
    const char* advice;
  };
  const Case cases[] = {{0700, 0600, kErrorSuccess, ""},
                        {0700, 0640, kErrorSuccess, ""},
                        {0700, 0666, kErrorAccessDenied, "chmod 600"},
                        {0700, 0620, kErrorAccessDenied, "chmod 600"},
                        {0777, 0600, kErrorAccessDenied, "chmod go-w"},
                        {0770, 0600, kErrorAccessDenied, "chmod go-w"},
                        {01777, 0600, kErrorSuccess, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << c.folderMode << " " << c.fileMode);
    TempHive scratch;
    const std::string folder = scratch.Folder() + "/shared";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string path = folder + "/registry.db";
    {
      ScopedVariable variable("MARLINOK_REGISTRY", path.c_str());
      ASSERT_EQ(CreateAndClose("Software"), kErrorSuccess);
    }
    chmod(folder.c_str(), c.folderMode);
    chmod(path.c_str(), c.fileMode);
    const std::string before = FileText(path);
    ScopedVariable variable("MARLINOK_REGISTRY", path.c_str());
    EXPECT_EQ(CreateAndClose("Software\\more"), c.expected);
    std::string location, problem;
    EXPECT_EQ(ProbeRegistry(location, problem), c.expected);
    EXPECT_NE(problem.find(c.advice), std::string::npos) << problem;
    if (c.expected != kErrorSuccess) {
      EXPECT_EQ(FileText(path), before);
    }
    chmod(folder.c_str(), 0700);
  }
}

TEST(RegistryHive, HiveOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can give a file away";
  TempHive scratch;
  ASSERT_EQ(CreateAndClose("Software"), kErrorSuccess);
  ASSERT_EQ(chown(scratch.Path().c_str(), 65534, 65534), 0);
  ResetRegistryForTesting();
  EXPECT_EQ(CreateAndClose("Software\\more"), kErrorAccessDenied);
  std::string location, problem;
  EXPECT_EQ(ProbeRegistry(location, problem), kErrorAccessDenied);
  EXPECT_NE(problem.find("belongs to user 65534"), std::string::npos) << problem;
}

// Files the hive would have to rewrite to use are refused untouched: an SQLite
// database of another program (with no table yet, but a version of its own),
// a file too short to be a database (SQLite would take it for an empty one),
// and one with the hive's marks but without its tables.
TEST(RegistryHive, FilesThatOnlyLookUsableAreRefusedAndKept) {
  TempHive scratch;
  struct Case {
    const char* name;
    const char* pragmas;  // null: the file is one byte
  };
  for (const Case& c :
       {Case{"theirs.db", "PRAGMA user_version = 7;"}, Case{"short.db", nullptr},
        Case{"hollow.db", "PRAGMA application_id = 1296781895; PRAGMA user_version = 1;"}}) {
    const std::string path = scratch.Folder() + "/" + c.name;
    SCOPED_TRACE(path);
    if (c.pragmas == nullptr) {
      WriteFile(path, "x");
    } else {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
      ASSERT_EQ(sqlite3_exec(db, c.pragmas, nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_close(db);
    }
    chmod(path.c_str(), 0600);
    const std::string before = FileText(path);
    ScopedVariable variable("MARLINOK_REGISTRY", path.c_str());
    EXPECT_EQ(CreateAndClose("Software"), kErrorBadDb);
    EXPECT_EQ(FileText(path), before);
    EXPECT_FALSE(Exists(path + "-wal"));
  }
}

TEST(RegistryHive, WorksAgainOnceTheLocationIsFixed) {
  TempHive good;
  const std::string bad = good.Folder() + "/garbage";
  WriteFile(bad, std::string(1024, 'x'));
  {
    ScopedVariable variable("MARLINOK_REGISTRY", bad.c_str());
    EXPECT_EQ(CreateAndClose("Software"), kErrorBadDb);
  }
  EXPECT_EQ(CreateAndClose("Software"), kErrorSuccess);
}

TEST(RegistryHive, ReopenedHiveKeepsEverything) {
  TempHive hive;
  {
    RegistryKey key;
    ASSERT_EQ(CreateKey("Software\\Quillmar\\SoftContainerSimulator", key, nullptr), kErrorSuccess);
    const Bytes pin = test::FromText("1234");
    ASSERT_EQ(SetValue(key, "Passwd", kRegSz, pin.data(), 4), kErrorSuccess);
  }
  ResetRegistryForTesting();
  EXPECT_EQ(ReadValue("software\\quillmar\\softcontainersimulator", "passwd"),
            test::FromText("1234"));
  EXPECT_EQ(IntegrityCheck(hive.Path()), "ok");
}

// ---- hive-specific name rules ---------------------------------------------------------------

TEST(RegistryHive, SubkeysSortByUpperCaseAsWindowsDoes) {
  TempHive hive;
  for (const char* name : {"_under", "Zed", "alpha", "[bracket", "Beta"}) {
    ASSERT_EQ(CreateAndClose(std::string("Software\\") + name), kErrorSuccess);
  }
  RegistryKey key;
  ASSERT_EQ(OpenKey("Software", key), kErrorSuccess);
  std::vector<std::string> names;
  char name[64];
  for (uint32_t i = 0;; ++i) {
    uint32_t length = sizeof name;
    if (EnumSubkey(key, i, name, &length) != kErrorSuccess) break;
    names.emplace_back(name, length);
  }
  // 'Z' (0x5a) < '[' (0x5b) < '_' (0x5f): letters compare as upper case.
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Beta", "Zed", "[bracket", "_under"}));
}

TEST(RegistryHive, PathRules) {
  TempHive hive;
  RegistryKey key;
  EXPECT_EQ(OpenKey("", key), kErrorSuccess);  // HKEY_LOCAL_MACHINE itself
  EXPECT_EQ(CreateAndClose("Software\\trailing\\"), kErrorSuccess);
  EXPECT_EQ(OpenKey("Software\\trailing", key), kErrorSuccess);
  EXPECT_EQ(CreateAndClose("\\Software"), kErrorBadPathname);
  EXPECT_EQ(CreateAndClose("Software\\\\double"), kErrorBadPathname);
  EXPECT_EQ(CreateAndClose("Software\\" + std::string(256, 'n')), kErrorInvalidParameter);
  EXPECT_EQ(CreateAndClose("Software\\" + std::string(255, 'n')), kErrorSuccess);
  EXPECT_EQ(DeleteKey(""), kErrorAccessDenied);
}

// ---- several writers ------------------------------------------------------------------------

// One writer's part of the interleaved workload: per step, create a key, write
// a value into it and into a shared key, and every third step delete the key
// made two steps earlier. Returns 0 when every call succeeded.
int RunWriter(int writer, int steps) {
  const std::string own = "Software\\Load\\writer" + std::to_string(writer);
  RegistryKey shared;
  if (CreateKey("Software\\Load\\shared", shared, nullptr) != kErrorSuccess) return 10;
  for (int step = 0; step < steps; ++step) {
    RegistryKey key;
    const std::string path = own + "\\k" + std::to_string(step);
    if (CreateKey(path.c_str(), key, nullptr) != kErrorSuccess) return 11;
    const Bytes value = Counter(static_cast<uint32_t>(writer * 100000 + step));
    if (SetValue(key, "v", kRegBinary, value.data(), 4) != kErrorSuccess) return 12;
    const std::string name = "w" + std::to_string(writer) + "s" + std::to_string(step);
    if (SetValue(shared, name.c_str(), kRegBinary, value.data(), 4) != kErrorSuccess) return 13;
    if (step % 3 == 2) {
      const std::string old = own + "\\k" + std::to_string(step - 2);
      if (DeleteKey(old.c_str()) != kErrorSuccess) return 14;
    }
  }
  return 0;
}

void CheckWriters(int writers, int steps) {
  for (int writer = 0; writer < writers; ++writer) {
    const std::string own = "Software\\Load\\writer" + std::to_string(writer);
    for (int step = 0; step < steps; ++step) {
      const Bytes value = Counter(static_cast<uint32_t>(writer * 100000 + step));
      const std::string path = own + "\\k" + std::to_string(step);
      RegistryKey key;
      if (step % 3 == 0 && step + 2 < steps) {
        EXPECT_EQ(OpenKey(path.c_str(), key), kErrorFileNotFound) << path;
      } else {
        EXPECT_EQ(ReadValue(path, "v"), value) << path;
      }
      const std::string name = "w" + std::to_string(writer) + "s" + std::to_string(step);
      EXPECT_EQ(ReadValue("Software\\Load\\shared", name.c_str()), value) << name;
    }
  }
}

TEST(RegistryHive, FourProcessesInterleavingLoseNothing) {
  TempHive hive;
  constexpr int kWriters = 4;
  constexpr int kSteps = 200;
  ASSERT_EQ(CreateAndClose("Software\\Load"), kErrorSuccess);  // the parent's connection is open
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(RunWriter(writer, kSteps));
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a writer's call failed";
  }
  CheckWriters(kWriters, kSteps);
  EXPECT_EQ(IntegrityCheck(hive.Path()), "ok");
}

TEST(RegistryHive, FourThreadsInterleavingLoseNothing) {
  TempHive hive;
  constexpr int kWriters = 4;
  constexpr int kSteps = 100;
  std::vector<int> results(kWriters, -1);
  std::vector<std::thread> threads;
  for (int writer = 0; writer < kWriters; ++writer) {
    threads.emplace_back([writer, &results] { results[writer] = RunWriter(writer, kSteps); });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(results, std::vector<int>(kWriters, 0));
  CheckWriters(kWriters, kSteps);
}

// ---- killed writers -------------------------------------------------------------------------

// Writes value "r<round>n<i>" = i, i = 0, 1, ... into rotating keys, and
// reports each write on `ackFd` once the call has returned. Never returns.
[[noreturn]] void WriteUntilKilled(int round, int ackFd) {
  const Bytes filler(1412, static_cast<uint8_t>(round));
  for (uint32_t i = 0;; ++i) {
    RegistryKey key;
    const std::string path = "Software\\Crash\\k" + std::to_string(i % 7);
    if (CreateKey(path.c_str(), key, nullptr) != kErrorSuccess) _exit(3);
    const std::string name = "r" + std::to_string(round) + "n" + std::to_string(i);
    const Bytes value = Counter(i);
    if (SetValue(key, name.c_str(), kRegBinary, value.data(), 4) != kErrorSuccess) _exit(4);
    // A record-sized write beside it keeps transactions busy on more pages.
    if (SetValue(key, "record", kRegBinary, filler.data(), 1412) != kErrorSuccess) _exit(5);
    if (write(ackFd, &i, sizeof i) != static_cast<ssize_t>(sizeof i)) _exit(6);
  }
}

TEST(RegistryHive, KilledWriterLeavesSoundHiveWithEveryAcknowledgedWrite) {
  TempHive hive;
  std::mt19937 random(20240611);
  for (int round = 0; round < 20; ++round) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      WriteUntilKilled(round, fds[1]);
    }
    close(fds[1]);
    // Let it acknowledge a few writes, then kill it at a random moment.
    const int wanted = 3 + static_cast<int>(random() % 30);
    std::set<uint32_t> acknowledged;
    uint32_t number = 0;
    while (static_cast<int>(acknowledged.size()) < wanted &&
           read(fds[0], &number, sizeof number) == static_cast<ssize_t>(sizeof number)) {
      acknowledged.insert(number);
    }
    usleep(static_cast<useconds_t>(random() % 3000));
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << status;
    while (read(fds[0], &number, sizeof number) == static_cast<ssize_t>(sizeof number)) {
      acknowledged.insert(number);
    }
    close(fds[0]);
    ASSERT_GE(acknowledged.size(), static_cast<size_t>(wanted));
    ASSERT_EQ(IntegrityCheck(hive.Path()), "ok") << "round " << round;
    ResetRegistryForTesting();
    for (uint32_t i : acknowledged) {
      const std::string path = "Software\\Crash\\k" + std::to_string(i % 7);
      const std::string name = "r" + std::to_string(round) + "n" + std::to_string(i);
      ASSERT_EQ(ReadValue(path, name.c_str()), Counter(i)) << "round " << round << " " << name;
    }
  }
}

}  // namespace
}  // namespace marlinok::platform

#endif
