// What the RSA commands share: key references into a container, the modulus
// length learnt from a size query, and the PKCS #1 v1.5 blocks the tool
// formats itself (the token's calls are raw).
#ifndef MARLINOK_TOOLS_RSA_BLOCKS_H
#define MARLINOK_TOOLS_RSA_BLOCKS_H

#include <openssl/rand.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "marlinok.h"

namespace marlinok::tool {

using Block = std::vector<uint8_t>;

// A key reference of the container's exchange or signature pair: the NUL-
// terminated registry path of the record value, its length counting the NUL.
class KeyReference {
 public:
  KeyReference(const std::string& container, bool exchange, bool privateKey)
      : path_(std::string("Software\\Quillmar\\SoftContainerSimulator\\") + container +
              (privateKey ? "\\Pvk" : "\\Puk") + (exchange ? "Exh" : "Sig")) {}
  const DataBlob* Blob() {
    blob_ =
        DataBlob{static_cast<uint32_t>(path_.size() + 1), reinterpret_cast<uint8_t*>(&path_[0])};
    return &blob_;
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  DataBlob blob_{};
};

// DigestInfo prefixes of PKCS #1 v1.5 signatures.
inline Block DigestInfoPrefix(uint32_t algId) {
  if (algId == CALG_MD5)
    return {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48,
            0x86, 0xf7, 0x0d, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
  return {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
}

// 00 01 FF..FF 00 DigestInfo digest, k bytes; empty when k is too short.
inline Block SignatureBlock(uint32_t algId, const Block& digest, uint32_t k) {
  Block info = DigestInfoPrefix(algId);
  info.insert(info.end(), digest.begin(), digest.end());
  if (info.size() + 11 > k) return {};
  Block block = {0x00, 0x01};
  block.insert(block.end(), k - 3 - info.size(), 0xFF);
  block.push_back(0x00);
  block.insert(block.end(), info.begin(), info.end());
  return block;
}

// 00 02 nonzero-random 00 message, k bytes; empty when the message is longer
// than k - 11 or randomness fails.
inline Block EncryptionBlock(const Block& message, uint32_t k) {
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

// The message of a type-2 block; false when the block is not one.
inline bool OpenEncryptionBlock(const Block& block, Block* message) {
  if (block.size() < 11 || block[0] != 0x00 || block[1] != 0x02) return false;
  std::size_t i = 2;
  while (i < block.size() && block[i] != 0) ++i;
  if (i == block.size() || i < 10) return false;
  message->assign(block.begin() + static_cast<std::ptrdiff_t>(i) + 1, block.end());
  return true;
}

inline bool WriteFile(const std::string& path, const Block& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// The bytes go to `path` when one was given (-o), else as hex to standard output.
int Emit(const std::string& path, const Block& bytes);

// The MD5 or SHA-1 digest of `data` through the token; empty when it fails.
Block TokenDigest(uint32_t algId, const Block& data, int32_t* status);

// A stored public key as a PUBLICKEYBLOB; empty (with the status) when it fails.
Block ExportedPublicBlob(KeyReference& key, int32_t* status);

// Options shared by the RSA commands.
struct RsaOptions {
  std::vector<std::string> positional;
  bool exchange = false;
  bool signature = false;
  bool md5 = false;
  bool raw = false;
  std::string output;
  std::string unknown;  // the first option not understood
};

inline RsaOptions ParseRsaOptions(const std::vector<std::string>& args) {
  RsaOptions o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--exchange") {
      o.exchange = true;
    } else if (a == "--signature") {
      o.signature = true;
    } else if (a == "--md5") {
      o.md5 = true;
    } else if (a == "--sha1") {
      o.md5 = false;
    } else if (a == "--raw") {
      o.raw = true;
    } else if (a == "--pkcs1") {
      o.raw = false;
    } else if ((a == "-o" || a == "--out") && i + 1 < args.size()) {
      o.output = args[++i];
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      if (o.unknown.empty()) o.unknown = a;
    } else {
      o.positional.push_back(a);
    }
  }
  return o;
}

}  // namespace marlinok::tool

#endif
