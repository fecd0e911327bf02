#include "token/key_operation.h"

#include <cstring>
#include <string>

#include "rsa/rsa_block_ops.h"
#include "store/registry_layout.h"
#include "token/stored_records.h"

namespace marlinok::token {
namespace {

bool IsKeyReference(const DataBlob& key) {
  const std::string mark = std::string(store::kContainerRoot) + '\\';
  return std::strstr(reinterpret_cast<const char*>(key.data), mark.c_str()) != nullptr;
}

}  // namespace

Status LoadOperationKey(KeyUse use, const DataBlob& key, OperationKey* out) {
  out->use_ = use;
  if (UsesPrivateKey(use)) {
    if (ReadStoredRecord(&key, &out->private_) != Status::Ok) return Status::Failed;
    std::memcpy(out->public_.bytes, out->private_.bytes, sizeof out->public_.bytes);
    return Status::Ok;
  }
  if (!IsKeyReference(key)) {
    std::memcpy(out->public_.bytes, key.data, sizeof out->public_.bytes);
    return Status::Ok;
  }
  return ReadStoredRecord(&key, &out->public_);
}

Status RunKeyOperationUnlocked(const OperationKey& key, uint8_t* output, uint32_t* outputLength,
                               const uint8_t* input, uint32_t inputLength) {
  return UsesPrivateKey(key.use())
             ? rsa::RsaPrivateRawCrt(output, outputLength, input, inputLength, &key.Private())
             : rsa::RsaPublicRaw(output, outputLength, input, inputLength, &key.Public());
}

}  // namespace marlinok::token
