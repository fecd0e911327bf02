// Symmetric keys: generate (3DES, RC4), import from a key blob, withdraw.
// A symmetric key is the caller's DataBlob; the creating calls register it in
// the key table as their last step.
#include <cstring>

#include "core/wipe.h"
#include "frame/export_guard.h"
#include "frame/key_table.h"
#include "keyblob/key_blob.h"
#include "marlinok.h"
#include "random/random_pool.h"

namespace marlinok {
namespace {

constexpr uint32_t kTripleDesKeyBytes = 24;
constexpr uint32_t kTripleDesPartBytes = 8;

// The generator reads the clock afresh on every call, so each part of a 3DES
// key must be drawn at a later clock reading than the part before it. The
// volatile counter keeps the compiler from removing the loop.
void PauseBetweenDraws() noexcept {
  for (volatile uint32_t i = 0; i < 10000000; i = i + 1) {
  }
}

Status GenerateTripleDesKey(DataBlob& key) {
  uint8_t material[kTripleDesKeyBytes];
  WipeOnExit<decltype(material)> wipe(material);
  for (uint32_t part = 0; part < kTripleDesKeyBytes / kTripleDesPartBytes; ++part) {
    DrawFreshRandom(material + part * kTripleDesPartBytes, kTripleDesPartBytes);
    PauseBetweenDraws();
  }
  // All 24 bytes are written whatever key.length says; the caller provides
  // room for 24 and sets the length (16 makes a two-key key).
  std::memcpy(key.data, material, sizeof material);
  KeyTableAppend(key);
  return Status::Ok;
}

Status GenerateRc4Key(DataBlob& key) {
  // A zero-length RC4 key cannot be set up, and the generator gives at most 16.
  if (key.length == 0 || key.length > kMaxFreshRandomBytes) return Status::Failed;
  DrawFreshRandom(key.data, key.length);
  KeyTableAppend(key);
  return Status::Ok;
}

}  // namespace
}  // namespace marlinok

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_GenSymmetricKey(uint32_t algId, DataBlob* key,
                                                                 uint32_t /*reserved*/) {
  using namespace marlinok;
  return Guarded(ERR_FAILED, [&] {
    if (key == nullptr || key->data == nullptr) return ERR_FAILED;
    switch (algId) {
      case CALG_3DES:
        return ToInt(GenerateTripleDesKey(*key));
      case CALG_RC4:
        return ToInt(GenerateRc4Key(*key));
      default:
        return ERR_FAILED;
    }
  });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_ImportSymmetricKey(const DataBlob* blob,
                                                                    uint32_t algId, DataBlob* key) {
  using namespace marlinok;
  return Guarded(ERR_REFUSED, [&] {
    if (blob == nullptr || blob->data == nullptr ||
        blob->length <= keyblob::kSymmetricBlobHeaderBytes)
      return ERR_REFUSED;
    if (algId != CALG_RC4 && algId != CALG_3DES) return ERR_REFUSED;
    if (key == nullptr) return ERR_REFUSED;
    // The header is not examined and the key length is not checked against the
    // algorithm: the bytes after the header are the key as they stand.
    const uint32_t keyLength = blob->length - keyblob::kSymmetricBlobHeaderBytes;
    key->length = keyLength;
    if (key->data == nullptr) return ERR_OK;  // size query: nothing copied or registered
    std::memcpy(key->data, blob->data + keyblob::kSymmetricBlobHeaderBytes, keyLength);
    KeyTableAppend(*key);
    return ERR_OK;
  });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_DestroyKey(const DataBlob* key) {
  using namespace marlinok;
  if (key == nullptr) return ERR_FAILED;
  return ToInt(KeyTableRemoveMatching(*key));
}
