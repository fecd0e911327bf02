#include "rsa_blocks.h"

#include <cstdio>

#include "cli.h"

namespace marlinok::tool {

int Emit(const std::string& path, const Block& bytes) {
  if (path.empty()) {
    std::printf("%s\n", Hex(bytes.data(), bytes.size()).c_str());
    return kExitOk;
  }
  if (!WriteFile(path, bytes)) return Fail("cannot write '" + path + "'");
  return kExitOk;
}

Block TokenDigest(uint32_t algId, const Block& data, int32_t* status) {
  Block digest(20);
  uint32_t length = static_cast<uint32_t>(digest.size());
  *status =
      QM_Digest(digest.data(), &length, data.data(), static_cast<uint32_t>(data.size()), algId);
  if (*status != ERR_OK) return {};
  digest.resize(algId == CALG_MD5 ? 16 : 20);
  return digest;
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
