// QM_Digest (MD5 or SHA-1 of one buffer) and QM_GenRandom (up to 16 bytes
// from a pool of the call's own).
#include "digest/digest_call.h"
#include "exports/export_guard.h"
#include "marlinok.h"
#include "random/random_pool.h"

using marlinok::Guarded;

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_Digest(uint8_t* digest, uint32_t* digestLength,
                                                        const uint8_t* data, uint32_t dataLength,
                                                        uint32_t algId) {
  return Guarded(ERR_FAILED, [&] {
    return marlinok::ToInt(
        marlinok::digest::ComputeDigest(digest, digestLength, data, dataLength, algId));
  });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_GenRandom(DataBlob* blob) {
  if (blob == nullptr || blob->length > marlinok::kMaxFreshRandomBytes) return ERR_FAILED;
  if (blob->length == 0) return ERR_OK;
  if (blob->data == nullptr) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] {
    marlinok::DrawFreshRandom(blob->data, blob->length);
    return ERR_OK;
  });
}
