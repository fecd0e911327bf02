#include "token/key_operation.h"

#include <cstring>
#include <string>
#include <string_view>

#include "rsa/rsa_block_ops.h"
#include "store/registry_layout.h"
#include "token/stored_records.h"

namespace marlinok::token {
namespace {

// The container root and a backslash within the caller's bytes: at most
// key.length of them, up to the first NUL (a record's bit length of 2048 or
// less has a zero byte in its first four, so the search ends inside it).
bool IsKeyReference(const DataBlob& key) {
  const std::string mark = std::string(store::kContainerRoot) + '\\';
  const void* nul = std::memchr(key.data, '\0', key.length);
  const std::size_t text =
      nul != nullptr ? static_cast<std::size_t>(static_cast<const uint8_t*>(nul) - key.data)
                     : key.length;
  const std::string_view bytes(reinterpret_cast<const char*>(key.data), text);
  return bytes.find(mark) != std::string_view::npos;
}

// A record whose bit length the 256-byte fields cannot hold, or of no bits,
// is no key to use: outputs of (bits + 7) / 8 bytes would overrun them.
bool UsableModulusBits(const rsa::PublicKeyRecord& record) {
  const uint32_t bits = rsa::ReadModulusBits(record.bytes);
  return bits != 0 && bits <= 8 * rsa::RSA_MODULUS_BYTES;
}

}  // namespace

Status LoadOperationKey(KeyUse use, const DataBlob& key, OperationKey* out) {
  out->use_ = use;
  Status loaded = Status::Ok;
  if (UsesPrivateKey(use)) {
    loaded = ReadStoredRecord(&key, &out->private_);
    std::memcpy(out->public_.bytes, out->private_.bytes, sizeof out->public_.bytes);
  } else if (IsKeyReference(key)) {
    loaded = ReadStoredRecord(&key, &out->public_);
  } else {
    std::memcpy(out->public_.bytes, key.data, sizeof out->public_.bytes);
  }
  if (loaded != Status::Ok) return Status::Failed;
  return UsableModulusBits(out->public_) ? Status::Ok : Status::Failed;
}

Status RunKeyOperationUnlocked(const OperationKey& key, uint8_t* output, uint32_t* outputLength,
                               const uint8_t* input, uint32_t inputLength) {
  return UsesPrivateKey(key.use())
             ? rsa::RsaPrivateRawCrt(output, outputLength, input, inputLength, &key.Private())
             : rsa::RsaPublicRaw(output, outputLength, input, inputLength, &key.Public());
}

}  // namespace marlinok::token
