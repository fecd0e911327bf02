// The library's three locks. They are created when the library is loaded,
// public key lock first, then the private key lock, then the container store
// lock, and are never destroyed. No call holds two of them at once.
#ifndef MARLINOK_CORE_LOCKS_H
#define MARLINOK_CORE_LOCKS_H

#include "platform/lock.h"

namespace marlinok {

enum class LibraryLock {
  PublicKey,       // around one raw RSA public-key operation
  PrivateKey,      // around one raw RSA private-key operation
  ContainerStore,  // around the registry work of one container-store operation
};

// Called once at process attach (DllMain on Windows, a load constructor elsewhere).
void CreateLibraryLocks();

platform::RecursiveLock* GetLibraryLock(LibraryLock which) noexcept;

// Holds one library lock for the life of the object.
class ScopedLibraryLock {
 public:
  explicit ScopedLibraryLock(LibraryLock which) noexcept : lock_(GetLibraryLock(which)) {
    platform::Acquire(lock_);
  }
  ~ScopedLibraryLock() { platform::Release(lock_); }
  ScopedLibraryLock(const ScopedLibraryLock&) = delete;
  ScopedLibraryLock& operator=(const ScopedLibraryLock&) = delete;

 private:
  platform::RecursiveLock* lock_;
};

}  // namespace marlinok

#endif
