#include "rsa_blocks.h"

#include <openssl/rand.h>

#include <algorithm>

namespace marlinok::tool {
namespace {

// DigestInfo prefixes of PKCS #1 v1.5 signatures.
Block DigestInfoPrefix(uint32_t algId) {
  if (algId == CALG_MD5)
    return {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48,
            0x86, 0xf7, 0x0d, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
  return {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
}

}  // namespace

Block SignatureBlock(uint32_t algId, const Block& digest, uint32_t k) {
  Block info = DigestInfoPrefix(algId);
  info.insert(info.end(), digest.begin(), digest.end());
  if (info.size() + 11 > k) return {};
  Block block = {0x00, 0x01};
  block.insert(block.end(), k - 3 - info.size(), 0xFF);
  block.push_back(0x00);
  block.insert(block.end(), info.begin(), info.end());
  return block;
}

Block EncryptionBlock(const Block& message, uint32_t k) {
  if (message.size() + 11 > k) return {};
  Block block(k, 0);
  block[1] = 0x02;
  const std::size_t separator = k - message.size() - 1;
  for (std::size_t i = 2; i < separator; ++i) {
    do {
      if (RAND_bytes(&block[i], 1) != 1) return {};
    } while (block[i] == 0);
  }
  std::copy(message.begin(), message.end(), block.begin() + separator + 1);
  return block;
}

bool OpenEncryptionBlock(const Block& block, Block* message) {
  if (block.size() < 11 || block[0] != 0x00 || block[1] != 0x02) return false;
  std::size_t i = 2;
  while (i < block.size() && block[i] != 0) ++i;
  if (i == block.size() || i < 10) return false;
  message->assign(block.begin() + static_cast<std::ptrdiff_t>(i) + 1, block.end());
  return true;
}

Block ExportedPublicBlob(KeyReference& key, int32_t* status) {
  DataBlob blob{0, nullptr};
  *status = QM_ExportPublicKey(key.Blob(), &blob);
  if (*status != ERR_OK) return {};
  Block bytes(blob.length);
  blob.data = bytes.data();
  *status = QM_ExportPublicKey(key.Blob(), &blob);
  if (*status != ERR_OK) return {};
  return bytes;
}

}  // namespace marlinok::tool
