// Turning caller key bytes into DES and 3DES key schedules.
#ifndef MARLINOK_SYMMETRIC_DES_KEY_SETUP_H
#define MARLINOK_SYMMETRIC_DES_KEY_SETUP_H

#include <cstddef>
#include <cstdint>

#include "core/status.h"
#include "symmetric/cipher_primitives.h"

namespace marlinok::symmetric {

// Single DES. A length over 8 is BlockLength with the key untouched; otherwise
// the first 8 bytes are read whatever the length (the memory must hold 8),
// given odd parity in place in the caller's memory, and scheduled; a weak or
// semi-weak key is DesKey.
Status DesKeySetup(uint8_t* key, std::size_t length, DesKeySchedule& schedule) noexcept;

// 3DES: K1 from bytes 0..7, K2 from bytes 8..15, and K3 from bytes 16..23 when
// the length is exactly 24; any other length is two-key 3DES (K3 = K1, bytes
// 16..23 neither read nor changed), so the memory must hold at least 16 bytes.
// Each part is given odd parity in place before it is scheduled; the first
// weak or semi-weak part stops the set-up with DesKey, the parts after it
// untouched.
Status TripleDesKeySetup(uint8_t* key, std::size_t length, TripleDesKeySchedule& schedule) noexcept;

}  // namespace marlinok::symmetric

#endif
