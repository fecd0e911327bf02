// Recursive locks: a thread that holds one may take it again.
#ifndef MARLINOK_PLATFORM_LOCK_H
#define MARLINOK_PLATFORM_LOCK_H

namespace marlinok::platform {

class RecursiveLock;

// Creates a lock. Locks are never destroyed: they live until the process ends,
// so a call racing with unload never finds its lock gone.
RecursiveLock* NewRecursiveLock();
void Acquire(RecursiveLock* lock) noexcept;
void Release(RecursiveLock* lock) noexcept;

}  // namespace marlinok::platform

#endif
