#include "digest/digest_call.h"

#include <cstring>

#include "core/size_query.h"
#include "core/wipe.h"
#include "digest/md5.h"
#include "digest/sha1.h"
#include "marlinok.h"

namespace marlinok::digest {
namespace {

Status DigestMd5(uint8_t* digest, uint32_t* digestLength, const uint8_t* data,
                 uint32_t dataLength) noexcept {
  if (AnswerSizeQuery(digest, digestLength, kMd5DigestBytes)) return Status::Ok;
  if (data == nullptr && dataLength != 0) return Status::Failed;
  uint8_t out[kMd5DigestBytes];
  WipeOnExit<decltype(out)> wipeOut(out);
  Md5(out, data, dataLength);  // wipes its context
  std::memcpy(digest, out, sizeof out);
  *digestLength = kMd5DigestBytes;
  return Status::Ok;
}

// The digest length is left as the caller gave it (20 or more).
Status DigestSha1(uint8_t* digest, uint32_t* digestLength, const uint8_t* data,
                  uint32_t dataLength) noexcept {
  if (AnswerSizeQuery(digest, digestLength, kSha1DigestBytes)) return Status::Ok;
  if (data == nullptr && dataLength != 0) return Status::Failed;
  Sha1Context ctx;
  WipeOnExit<Sha1Context> wipeCtx(ctx);
  uint8_t out[kSha1DigestBytes];
  WipeOnExit<decltype(out)> wipeOut(out);
  // With a local context and checked pointers the engine cannot refuse.
  if (Sha1Begin(&ctx) != kSha1Success || Sha1Feed(&ctx, data, dataLength) != kSha1Success ||
      Sha1Finish(&ctx, out) != kSha1Success) {
    return Status::Failed;
  }
  std::memcpy(digest, out, sizeof out);
  return Status::Ok;
}

}  // namespace

Status ComputeDigest(uint8_t* digest, uint32_t* digestLength, const uint8_t* data,
                     uint32_t dataLength, uint32_t algId) noexcept {
  if (algId != CALG_MD5 && algId != CALG_SHA1) return Status::Failed;
  if (digestLength == nullptr) return Status::Failed;
  if (algId == CALG_MD5) return DigestMd5(digest, digestLength, data, dataLength);
  return DigestSha1(digest, digestLength, data, dataLength);
}

}  // namespace marlinok::digest
