// What the RSA commands share: the PKCS #1 v1.5 blocks the tool formats
// itself (the token's calls are raw), and a stored public key as a blob.
#ifndef MARLINOK_TOOLS_RSA_BLOCKS_H
#define MARLINOK_TOOLS_RSA_BLOCKS_H

#include <cstdint>
#include <vector>

#include "keys.h"
#include "marlinok.h"

namespace marlinok::tool {

using Block = std::vector<uint8_t>;

// 00 01 FF..FF 00 DigestInfo digest, k bytes; empty when k is too short.
Block SignatureBlock(uint32_t algId, const Block& digest, uint32_t k);

// 00 02 nonzero-random 00 message, k bytes; empty when the message is longer
// than k - 11 or randomness fails.
Block EncryptionBlock(const Block& message, uint32_t k);

// The message of a type-2 block; false when the block is not one.
bool OpenEncryptionBlock(const Block& block, Block* message);

// A stored public key as a PUBLICKEYBLOB; empty (with the status) when it fails.
Block ExportedPublicBlob(KeyReference& key, int32_t* status);

}  // namespace marlinok::tool

#endif
