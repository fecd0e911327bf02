// Eight threads making mixed calls against one hive for a bounded time: key
// generation, sign and verify, encrypt and decrypt, digests, 3DES, containers
// made and destroyed, keys registered and withdrawn. Every result is checked;
// a watchdog turns a hang into a failure.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "stress/stress_support.h"
#include "support/temp_hive.h"

namespace marlinok::stress {
namespace {

using Clock = std::chrono::steady_clock;

// MARLINOK_STRESS_SECONDS, or 3.
std::chrono::milliseconds RunTime() {
  const char* text = std::getenv("MARLINOK_STRESS_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 0;
  return std::chrono::milliseconds(1000 * (seconds > 0 ? seconds : 3));
}

struct Tally {
  std::atomic<int> failures{0};
  std::atomic<int> operations{0};
  std::mutex mutex;
  std::vector<std::string> firstFailures;

  void Record(bool ok, const std::string& what) {
    ++operations;
    if (ok) return;
    ++failures;
    std::lock_guard<std::mutex> lock(mutex);
    if (firstFailures.size() < 10) firstFailures.push_back(what);
  }
};

void Worker(uint32_t id, Clock::time_point until, Tally& tally) {
  std::mt19937 random(1000 + id);
  const std::string container = "stress" + std::to_string(id);
  const std::string scratch = "scratch" + std::to_string(id);
  const std::string tag = "thread " + std::to_string(id) + ": ";
  Pair exchange, signature;
  tally.Record(GeneratePair(container, MARLINOK_PAIR_EXCHANGE, exchange), tag + "keygen");
  tally.Record(GeneratePair(container, MARLINOK_PAIR_SIGNATURE, signature), tag + "keygen");
  for (uint32_t i = 0; Clock::now() < until; ++i) {
    switch ((i + id) % 8) {
      case 0:
        if (i % 32 == id % 32)  // now and then a fresh pair replaces the old one
          tally.Record(GeneratePair(container, MARLINOK_PAIR_EXCHANGE, exchange), tag + "keygen");
        break;
      case 1:
        tally.Record(SignAndVerify(signature, random), tag + "sign/verify");
        break;
      case 2:
        tally.Record(EncryptAndDecrypt(exchange, random), tag + "encrypt/decrypt");
        break;
      case 3:
        tally.Record(DigestsAgree(random), tag + "digest");
        break;
      case 4:
        tally.Record(TripleDesAgrees(random), tag + "3DES");
        break;
      case 5:
        tally.Record(QM_CreateContainer(scratch.c_str()) == ERR_OK &&
                         QM_CreateContainer(scratch.c_str()) == ERR_FAILED &&
                         QM_DestroyContainer(scratch.c_str()) == ERR_OK,
                     tag + "container create/destroy");
        break;
      case 6:
        tally.Record(RegisterAndWithdraw(id, i), tag + "key table");
        break;
      default: {
        DataBlob refs[4] = {};
        tally.Record(QM_FindContainerAndKeypair(container.c_str(), &refs[0], &refs[1], &refs[2],
                                                &refs[3]) == ERR_OK,
                     tag + "find container");
        break;
      }
    }
  }
  // The pairs held up: the stored keys still do their work.
  tally.Record(SignAndVerify(signature, random), tag + "final sign/verify");
  tally.Record(EncryptAndDecrypt(exchange, random), tag + "final encrypt/decrypt");
}

TEST(StressThreads, EightThreadsOfMixedCallsOnOneHive) {
  test::TempHive hive;
  QuietStdout quiet;  // the RSA calls print four lines per encrypt and decrypt
  constexpr uint32_t kThreads = 8;
  const auto runTime = RunTime();
  const Clock::time_point until = Clock::now() + runTime;
  Tally tally;

  std::mutex doneMutex;
  std::condition_variable doneSignal;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(doneMutex);
    if (!doneSignal.wait_for(lock, runTime + std::chrono::seconds(120), [&] { return done; })) {
      std::fprintf(stderr, "stress threads still running two minutes after their time: hang\n");
      std::abort();
    }
  });

  std::vector<std::thread> threads;
  for (uint32_t id = 0; id < kThreads; ++id)
    threads.emplace_back(Worker, id, until, std::ref(tally));
  for (std::thread& t : threads) t.join();
  {
    std::lock_guard<std::mutex> lock(doneMutex);
    done = true;
  }
  doneSignal.notify_one();
  watchdog.join();

  EXPECT_EQ(tally.failures.load(), 0);
  for (const std::string& what : tally.firstFailures) ADD_FAILURE() << what;
  EXPECT_GE(tally.operations.load(), static_cast<int>(kThreads) * 8);
  std::fprintf(stderr, "%d checked operations in %lld ms on %u threads\n", tally.operations.load(),
               static_cast<long long>(runTime.count()), kThreads);

  // Everything the threads kept is there; every scratch container is gone.
  uint32_t length = 0;
  ASSERT_EQ(QMCA_EnumKeyContainerName(nullptr, &length), ERR_OK);
  std::vector<char> names(length);
  ASSERT_EQ(QMCA_EnumKeyContainerName(names.data(), &length), ERR_OK);
  EXPECT_EQ(std::string(names.data()),
            "stress0|stress1|stress2|stress3|stress4|stress5|stress6|stress7");
}

}  // namespace
}  // namespace marlinok::stress
