// Symmetric key files, as `symkey` writes them and the ciphers and key
// wrapping read them.
#ifndef MARLINOK_TOOLS_SYMMETRIC_H
#define MARLINOK_TOOLS_SYMMETRIC_H

#include <cstdint>
#include <string>

#include "files.h"

namespace marlinok::tool {

// Reads a key file for CALG_DES (8 bytes), CALG_3DES (16 or 24) or CALG_RC4
// (1 to 256): the token reads a DES or 3DES key by its algorithm, not by the
// length it is given, so any other length is refused here.
bool ReadKeyFile(const std::string& path, uint32_t algId, Block* key, std::string* error);

}  // namespace marlinok::tool

#endif
