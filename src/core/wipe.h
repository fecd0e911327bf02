// Wiping secrets so that the compiler cannot drop the stores as dead.
#ifndef MARLINOK_CORE_WIPE_H
#define MARLINOK_CORE_WIPE_H

#include <cstddef>
#include <cstring>

namespace marlinok {

inline void SecureWipe(void* p, std::size_t n) noexcept {
  if (n == 0) return;
  std::memset(p, 0, n);
  // The empty asm claims to read the memory, so the memset stays.
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

template <class T>
inline void SecureWipeObject(T& object) noexcept {
  SecureWipe(&object, sizeof object);
}

// Wipes a local object when it goes out of scope, on every path.
template <class T>
class WipeOnExit {
 public:
  explicit WipeOnExit(T& object) noexcept : object_(object) {}
  ~WipeOnExit() { SecureWipeObject(object_); }
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;

 private:
  T& object_;
};

}  // namespace marlinok

#endif
