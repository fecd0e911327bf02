// One whole message through DES, 3DES or RC4 with the caller's key, as the
// two encryption calls run it.
#ifndef MARLINOK_SYMMETRIC_SYMMETRIC_CALL_H
#define MARLINOK_SYMMETRIC_SYMMETRIC_CALL_H

#include <cstdint>

#include "core/status.h"
#include "marlinok.h"
#include "symmetric/cipher_primitives.h"

namespace marlinok::symmetric {

// Order of the checks: the algorithm first (Failed even for a size query),
// then the size query (Ok, the input length stored in *outputLength), then
// the rest. A DES or 3DES mode outside 1..4, a missing key, key data or
// input, and an empty RC4 key are Failed with nothing written, the key bytes
// included. A DES or 3DES key gets odd parity in place; DesKey and
// BlockLength come from the block cipher. RC4 leaves *outputLength as given.
Status SymmetricCall(Direction direction, DataBlob* key, const uint8_t* input, uint32_t inputLength,
                     uint8_t* output, uint32_t* outputLength, uint32_t algId,
                     uint32_t mode) noexcept;

}  // namespace marlinok::symmetric

#endif
