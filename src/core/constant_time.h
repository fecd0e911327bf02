// Comparing secrets (PINs, passwords) in time that depends on their length
// only, never on where they first differ.
#ifndef MARLINOK_CORE_CONSTANT_TIME_H
#define MARLINOK_CORE_CONSTANT_TIME_H

#include <cstddef>
#include <cstdint>

namespace marlinok {

// True when the n bytes at a and b are equal; every byte is looked at.
inline bool EqualInConstantTime(const uint8_t* a, const uint8_t* b, std::size_t n) noexcept {
  volatile uint8_t difference = 0;
  for (std::size_t i = 0; i < n; ++i) difference = difference | (a[i] ^ b[i]);
  return difference == 0;
}

}  // namespace marlinok

#endif
