// The recursive lock backend (critical sections on Windows, pthread mutexes elsewhere) and the
// library's three locks, which exist before the first test runs as they do before the first
// exported call.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/locks.h"
#include "platform/lock.h"
#include "support/backend.h"

namespace marlinok::platform {
namespace {

TEST(LockBackend, LibraryLocksExistAtStartAndAreDistinct) {
  RecursiveLock* publicKey = GetLibraryLock(LibraryLock::PublicKey);
  RecursiveLock* privateKey = GetLibraryLock(LibraryLock::PrivateKey);
  RecursiveLock* store = GetLibraryLock(LibraryLock::ContainerStore);
  EXPECT_NE(publicKey, privateKey);
  EXPECT_NE(privateKey, store);
  EXPECT_NE(publicKey, store);
}

TEST(LockBackend, TheHolderMayTakeItAgain) {
  static RecursiveLock* const lock = NewRecursiveLock();  // locks live until the process ends
  Acquire(lock);
  Acquire(lock);
  Release(lock);
  Release(lock);
  SUCCEED() << (test::kWin32Backend ? "critical section" : "pthread mutex");
}

// Two threads adding under the lock never lose an update; each also re-enters once per round.
TEST(LockBackend, ExcludesOtherThreads) {
  static RecursiveLock* const lock = NewRecursiveLock();  // locks live until the process ends
  long counter = 0;
  constexpr int kRounds = 20000;
  auto work = [&] {
    for (int i = 0; i < kRounds; ++i) {
      Acquire(lock);
      Acquire(lock);
      const long seen = counter;
      counter = seen + 1;
      Release(lock);
      Release(lock);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 2L * kRounds);
}

// A library lock held by one thread keeps another out until it is released.
TEST(LockBackend, ScopedLibraryLockBlocksOtherThreads) {
  std::atomic<bool> entered{false};
  std::thread other;
  {
    ScopedLibraryLock held(LibraryLock::ContainerStore);
    other = std::thread([&] {
      ScopedLibraryLock mine(LibraryLock::ContainerStore);
      entered = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered.load());
  }
  other.join();
  EXPECT_TRUE(entered.load());
}

}  // namespace
}  // namespace marlinok::platform
