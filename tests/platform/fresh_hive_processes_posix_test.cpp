// Several processes whose first registry call lands on the same fresh hive at
// the same moment: each of them must get through, whichever one makes the
// file a hive and switches it to WAL. (One used to see an id of 0 beside
// the other's new tables and call the hive foreign; another was refused the
// switch to WAL while a neighbour still read.)
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/temp_hive.h"

namespace marlinok::platform {
namespace {

constexpr int kProcesses = 4;
constexpr int kRounds = 60;

TEST(FreshHiveProcesses, FirstCallsAtOnceAllSucceed) {
  test::TempHive hive;
  int failures = 0;
  for (int round = 0; round < kRounds; ++round) {
    const std::string path = hive.Folder() + "/round" + std::to_string(round) + ".db";
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
      const pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        close(go[1]);
        setenv("MARLINOK_REGISTRY", path.c_str(), 1);
        char byte = 0;
        (void)read(go[0], &byte, 1);  // all start together when the pipe closes
        RegistryKey key;
        const std::string name = "Software\\Fresh\\p" + std::to_string(p);
        _exit(CreateKey(name.c_str(), key, nullptr) == kErrorSuccess ? 0 : 1);
      }
      children.push_back(pid);
    }
    close(go[0]);
    close(go[1]);
    for (pid_t pid : children) {
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
    }
  }
  EXPECT_EQ(failures, 0) << "of " << kRounds * kProcesses << " first calls";
}

}  // namespace
}  // namespace marlinok::platform
