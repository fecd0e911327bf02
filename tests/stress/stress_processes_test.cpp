// Four processes generating, using and destroying keys in containers of their
// own on one hive while a fifth enumerates: nothing is lost, nothing is
// corrupted, and the enumeration never shows a damaged list.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "stress/stress_support.h"
#include "support/temp_hive.h"

namespace marlinok::stress {
namespace {

constexpr int kWorkers = 4;
constexpr int kRounds = 6;

std::string Kept(int worker, int round) {
  return "p" + std::to_string(worker) + "-kept" + std::to_string(round);
}

// Exit statuses of a worker: 0 fine, else the step that failed.
int RunWorker(int worker) {
  QuietStdout quiet;
  std::mt19937 random(77 + worker);
  const std::string keep = "p" + std::to_string(worker) + "-keep";
  Pair keepPair;
  if (!GeneratePair(keep, MARLINOK_PAIR_SIGNATURE, keepPair)) return 10;
  const Bytes keepBlob = PublicBlob(keepPair);
  if (keepBlob.empty()) return 11;
  std::vector<std::pair<std::string, Bytes>> kept;
  std::vector<Pair> keptPairs(kRounds);
  for (int round = 0; round < kRounds; ++round) {
    // Even rounds: a container made, used and destroyed. Odd rounds: one kept.
    const std::string name = round % 2 == 0
                                 ? "p" + std::to_string(worker) + "-temp" + std::to_string(round)
                                 : Kept(worker, round);
    if (QM_CreateContainer(name.c_str()) != ERR_OK) return 20;
    Pair exchange;
    Pair& signature = keptPairs[round];
    if (!GeneratePair(name, MARLINOK_PAIR_EXCHANGE, exchange)) return 21;
    if (!GeneratePair(name, MARLINOK_PAIR_SIGNATURE, signature)) return 22;
    for (int i = 0; i < 4; ++i) {
      if (!EncryptAndDecrypt(exchange, random)) return 23;
      if (!SignAndVerify(signature, random)) return 24;
    }
    if (round % 2 == 0) {
      if (QM_DestroyContainer(name.c_str()) != ERR_OK) return 25;
      DataBlob refs[4] = {};
      if (QM_FindContainerAndKeypair(name.c_str(), &refs[0], &refs[1], &refs[2], &refs[3]) !=
          ERR_FAILED)
        return 26;
    } else {
      kept.emplace_back(name, PublicBlob(signature));
    }
    if (PublicBlob(keepPair) != keepBlob) return 27;  // the kept key is intact
  }
  // Every kept key is still there, unchanged, and still signs.
  for (int round = 1; round < kRounds; round += 2) {
    if (PublicBlob(keptPairs[round]) != kept[round / 2].second) return 30;
    if (!SignAndVerify(keptPairs[round], random)) return 31;
  }
  return 0;
}

std::set<std::string> Split(const std::string& list) {
  std::set<std::string> names;
  std::stringstream in(list);
  std::string name;
  while (std::getline(in, name, '|')) names.insert(name);
  return names;
}

// Enumerates until `stopFd` reaches its end. Fails on a damaged list, and
// when a container that only grows ("-keep", "-kept") disappears once seen.
int RunEnumerator(int stopFd) {
  std::set<std::string> seenLasting;
  int lists = 0;
  for (;;) {
    char byte = 0;
    if (read(stopFd, &byte, 1) == 0) break;
    usleep(2000);  // leave the workers the processor
    uint32_t length = 0;
    const int32_t sized = QMCA_EnumKeyContainerName(nullptr, &length);
    if (sized == ERR_STORE_NOT_OPENED && seenLasting.empty()) continue;  // no container yet
    if (sized != ERR_OK) return 40;
    std::vector<char> buffer(length + 4096, '\0');
    uint32_t filled = static_cast<uint32_t>(buffer.size());
    if (QMCA_EnumKeyContainerName(buffer.data(), &filled) != ERR_OK) return 41;
    const std::string list(buffer.data());
    if (!list.empty() &&
        (list.front() == '|' || list.back() == '|' || list.find("||") != std::string::npos))
      return 42;
    const std::set<std::string> names = Split(list);
    for (const std::string& name : seenLasting)
      if (names.count(name) == 0) return 43;
    for (const std::string& name : names) {
      if (name.size() < 3 || name[0] != 'p') return 44;  // nothing but the workers' names
      if (name.find("-kee") != std::string::npos) seenLasting.insert(name);
    }
    ++lists;
  }
  return lists > 0 ? 0 : 45;
}

TEST(StressProcesses, FourWorkersAndAnEnumeratorShareOneHive) {
  test::TempHive hive;
  int stop[2];
  ASSERT_EQ(pipe(stop), 0);
  ASSERT_EQ(fcntl(stop[0], F_SETFL, O_NONBLOCK), 0);
  std::fflush(nullptr);  // children must not write out the parent's buffered output
  const pid_t enumerator = fork();
  ASSERT_GE(enumerator, 0);
  if (enumerator == 0) {
    close(stop[1]);
    _exit(RunEnumerator(stop[0]));
  }
  close(stop[0]);
  std::vector<pid_t> workers;
  for (int w = 0; w < kWorkers; ++w) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(stop[1]);
      _exit(RunWorker(w));
    }
    workers.push_back(pid);
  }
  for (int w = 0; w < kWorkers; ++w) {
    int status = 0;
    ASSERT_EQ(waitpid(workers[w], &status, 0), workers[w]);
    ASSERT_TRUE(WIFEXITED(status)) << "worker " << w << " died: " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "worker " << w << " failed a check";
  }
  close(stop[1]);
  int status = 0;
  ASSERT_EQ(waitpid(enumerator, &status, 0), enumerator);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the enumerator saw a damaged or shrinking list";

  // What is left: each worker's kept containers, nothing else.
  std::set<std::string> expected;
  for (int w = 0; w < kWorkers; ++w) {
    expected.insert("p" + std::to_string(w) + "-keep");
    for (int round = 1; round < kRounds; round += 2) expected.insert(Kept(w, round));
  }
  uint32_t length = 0;
  ASSERT_EQ(QMCA_EnumKeyContainerName(nullptr, &length), ERR_OK);
  std::vector<char> names(length);
  ASSERT_EQ(QMCA_EnumKeyContainerName(names.data(), &length), ERR_OK);
  EXPECT_EQ(Split(names.data()), expected);
}

}  // namespace
}  // namespace marlinok::stress
