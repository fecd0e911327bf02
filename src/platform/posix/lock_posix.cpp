#include <pthread.h>

#include <cstdlib>

#include "platform/lock.h"

namespace marlinok::platform {

class RecursiveLock {
 public:
  pthread_mutex_t mutex;
};

RecursiveLock* NewRecursiveLock() {
  auto* lock = new RecursiveLock;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  if (pthread_mutex_init(&lock->mutex, &attr) != 0) std::abort();
  pthread_mutexattr_destroy(&attr);
  return lock;
}

void Acquire(RecursiveLock* lock) noexcept { pthread_mutex_lock(&lock->mutex); }
void Release(RecursiveLock* lock) noexcept { pthread_mutex_unlock(&lock->mutex); }

}  // namespace marlinok::platform
