// One whole message through DES, 3DES or RC4, as the two encryption calls run
// it: the key is set up afresh and the initialisation vector is eight zero
// bytes, so nothing carries over from one message to the next. The output is
// exactly as long as the input.
#ifndef MARLINOK_SYMMETRIC_SYMMETRIC_MESSAGE_H
#define MARLINOK_SYMMETRIC_SYMMETRIC_MESSAGE_H

#include <cstddef>
#include <cstdint>

#include "core/status.h"
#include "symmetric/cipher_primitives.h"

namespace marlinok::symmetric {

enum class BlockCipher { Des, TripleDes };

// The cipher mode values of the interface.
enum class BlockMode : uint32_t { Cbc = 1, Ecb = 2, Ofb = 3, Cfb = 4 };

constexpr bool IsBlockMode(uint32_t mode) noexcept { return mode >= 1 && mode <= 4; }

// DES or 3DES over `length` bytes. The key is set up first (its bytes get odd
// parity in place); a refused key is returned with output and *outputLength
// untouched. Then the input is copied to the output (they may be the same
// buffer), *outputLength is set to `length`, and the mode runs in place in the
// output; an ECB or CBC length that is not a multiple of 8 is BlockLength with
// the output holding the plain copy. Key, input (unless `length` is 0) and
// output must be valid; `mode` must be a BlockMode value.
Status BlockCipherMessage(BlockCipher cipher, BlockMode mode, Direction direction, uint8_t* key,
                          std::size_t keyLength, const uint8_t* input, std::size_t length,
                          uint8_t* output, uint32_t& outputLength) noexcept;

// RC4 over `length` bytes with a key stream started afresh from the key
// (`keyLength` at least 1); its own inverse.
void Rc4Message(const uint8_t* key, std::size_t keyLength, const uint8_t* input, std::size_t length,
                uint8_t* output) noexcept;

}  // namespace marlinok::symmetric

#endif
