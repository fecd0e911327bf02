#include "core/locks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace marlinok {
namespace {

TEST(LibraryLocksTest, ExistBeforeTheFirstCallAndAreReentrant) {
  for (LibraryLock which :
       {LibraryLock::PublicKey, LibraryLock::PrivateKey, LibraryLock::ContainerStore}) {
    ScopedLibraryLock outer(which);
    ScopedLibraryLock inner(which);  // the holder may take it again
  }
}

TEST(LibraryLocksTest, AreDistinctLocks) {
  EXPECT_NE(GetLibraryLock(LibraryLock::PublicKey), GetLibraryLock(LibraryLock::PrivateKey));
  EXPECT_NE(GetLibraryLock(LibraryLock::PrivateKey), GetLibraryLock(LibraryLock::ContainerStore));
}

TEST(LibraryLocksTest, OneLockExcludesOtherThreadsButNotOtherLocks) {
  std::atomic<bool> otherLockTaken{false};
  std::atomic<bool> sameLockTaken{false};
  {
    ScopedLibraryLock held(LibraryLock::PublicKey);
    std::thread other([&] {
      { ScopedLibraryLock lock(LibraryLock::PrivateKey); }
      otherLockTaken = true;
      ScopedLibraryLock lock(LibraryLock::PublicKey);
      sameLockTaken = true;
    });
    while (!otherLockTaken) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(sameLockTaken);
    other.detach();
  }
  while (!sameLockTaken) std::this_thread::yield();
}

}  // namespace
}  // namespace marlinok
