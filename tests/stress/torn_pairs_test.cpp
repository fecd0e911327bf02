// Key pairs are written whole: two processes generating into one container,
// and a process killed while it generates, never leave the private record of
// one key beside the public record of another.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "stress/stress_support.h"
#include "support/temp_hive.h"

namespace marlinok::stress {
namespace {

// The public blobs of the container's signature pair, through its private and
// its public reference: equal when both records belong to one key. True also
// when the container holds no pair yet.
::testing::AssertionResult PairIsWhole(const std::string& container) {
  Pair pair;
  DataBlob exPublic{0, nullptr}, exPrivate{0, nullptr};
  if (QM_FindContainerAndKeypair(container.c_str(), &pair.publicRef.blob, &pair.privateRef.blob,
                                 &exPublic, &exPrivate) != ERR_OK)
    return ::testing::AssertionSuccess();
  Pair privateAsPublic;
  privateAsPublic.publicRef.path = pair.privateRef.path;
  privateAsPublic.publicRef.blob = {pair.privateRef.blob.length,
                                    privateAsPublic.publicRef.path.data()};
  const Bytes fromPublic = PublicBlob(pair), fromPrivate = PublicBlob(privateAsPublic);
  if (fromPublic.empty() || fromPublic != fromPrivate)
    return ::testing::AssertionFailure() << "the pair's records belong to different keys";
  return ::testing::AssertionSuccess();
}

// Generates signature pairs into `container` `rounds` times (forever for -1).
[[noreturn]] void GenerateInChild(const std::string& container, int rounds) {
  QuietStdout quiet;
  for (int round = 0; rounds < 0 || round < rounds; ++round) {
    Pair pair;
    if (!GeneratePair(container, MARLINOK_PAIR_SIGNATURE, pair)) _exit(1);
  }
  _exit(0);
}

TEST(TornPairs, TwoProcessesGeneratingIntoOneContainerLeaveAWholePair) {
  test::TempHive hive;
  ASSERT_EQ(QM_CreateContainer("shared"), ERR_OK);
  pid_t children[2];
  for (pid_t& child : children) {
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) GenerateInChild("shared", 100);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_TRUE(PairIsWhole("shared"));
}

TEST(TornPairs, AProcessKilledWhileGeneratingLeavesAWholePair) {
  test::TempHive hive;
  ASSERT_EQ(QM_CreateContainer("killed"), ERR_OK);
  std::mt19937 random(5);
  for (int kill = 0; kill < 20; ++kill) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) GenerateInChild("killed", -1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 40));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(PairIsWhole("killed")) << "after kill " << kill;
  }
}

}  // namespace
}  // namespace marlinok::stress
