#include "core/locks.h"

#include <cstdlib>

namespace marlinok {
namespace {
platform::RecursiveLock* g_locks[3] = {nullptr, nullptr, nullptr};
}  // namespace

void CreateLibraryLocks() {
  if (g_locks[0] != nullptr) return;
  g_locks[static_cast<int>(LibraryLock::PublicKey)] = platform::NewRecursiveLock();
  g_locks[static_cast<int>(LibraryLock::PrivateKey)] = platform::NewRecursiveLock();
  g_locks[static_cast<int>(LibraryLock::ContainerStore)] = platform::NewRecursiveLock();
}

platform::RecursiveLock* GetLibraryLock(LibraryLock which) noexcept {
  platform::RecursiveLock* lock = g_locks[static_cast<int>(which)];
  // Taking a lock before the library was attached is a loader fault, not a
  // caller error: stop rather than run unguarded.
  if (lock == nullptr) std::abort();
  return lock;
}

}  // namespace marlinok
