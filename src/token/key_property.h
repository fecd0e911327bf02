// The CryptoAPI key parameters of a stored key.
#ifndef MARLINOK_TOKEN_KEY_PROPERTY_H
#define MARLINOK_TOKEN_KEY_PROPERTY_H

#include <cstdint>

#include "core/status.h"
#include "marlinok.h"

namespace marlinok::token {

// KP_PADDING (PKCS #5), KP_PERMISSIONS (encrypt, decrypt, export), KP_ALGID
// (from the reference's value name) or KP_BLOCKLEN (the record's bit length)
// as a little-endian 32-bit value. Failed for another parameter (even for a
// size query), then the size query (4 bytes), then Failed when the reference
// or record cannot be read; nothing is written on failure.
Status GetKeyProperty(const DataBlob* keyRef, uint32_t param, uint8_t* value, uint32_t* length);

}  // namespace marlinok::token

#endif
