#include <windows.h>

#include "platform/lock.h"

namespace marlinok::platform {

class RecursiveLock {
 public:
  CRITICAL_SECTION section;
};

RecursiveLock* NewRecursiveLock() {
  auto* lock = new RecursiveLock;
  InitializeCriticalSection(&lock->section);
  return lock;
}

void Acquire(RecursiveLock* lock) noexcept { EnterCriticalSection(&lock->section); }
void Release(RecursiveLock* lock) noexcept { LeaveCriticalSection(&lock->section); }

}  // namespace marlinok::platform
