// The operating system's generator (getrandom), the module's one source of
// randomness: C_GenerateRandom, padding, key generation and secret keys.
#ifndef MARLINOK_PKCS11_OS_RANDOM_H
#define MARLINOK_PKCS11_OS_RANDOM_H

#include <cstddef>
#include <cstdint>

#include "random/random_pool.h"

namespace marlinok::pkcs11 {

// Fills `out` with `length` bytes; false when the system refuses.
bool OsRandom(uint8_t* out, std::size_t length) noexcept;

// The same with no zero byte (PKCS #1 type-2 padding).
bool OsRandomNonZero(uint8_t* out, std::size_t length) noexcept;

// A pool of the token's prime walk, seeded with 256 bytes from the system
// instead of the clock. false when the system refuses.
bool SeedPoolFromOs(RandomPool* pool) noexcept;

}  // namespace marlinok::pkcs11

#endif
