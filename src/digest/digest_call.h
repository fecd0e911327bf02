// The one-shot digest behind QM_Digest.
#ifndef MARLINOK_DIGEST_DIGEST_CALL_H
#define MARLINOK_DIGEST_DIGEST_CALL_H

#include <cstdint>

#include "core/status.h"

namespace marlinok::digest {

// MD5 (CALG_MD5) or SHA-1 (CALG_SHA1) of `dataLength` bytes at `data` into
// `digest`, whose size is `*digestLength`. A null `digest` or a size below the
// digest's is a size query: the size is stored and Ok returned. A completed MD5
// stores 16; a completed SHA-1 leaves the length as given. Failed, with nothing
// written, for another algorithm, a null `digestLength`, or null `data` with a
// nonzero `dataLength` when a digest is to be computed.
Status ComputeDigest(uint8_t* digest, uint32_t* digestLength, const uint8_t* data,
                     uint32_t dataLength, uint32_t algId) noexcept;

}  // namespace marlinok::digest

#endif
