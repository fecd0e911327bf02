// SHA-1 (FIPS 180-1), with the engine statuses of the token's digest call.
#ifndef MARLINOK_DIGEST_SHA1_H
#define MARLINOK_DIGEST_SHA1_H

#include <cstddef>
#include <cstdint>

namespace marlinok::digest {

constexpr std::size_t kSha1DigestBytes = 20;

// Engine statuses.
constexpr int32_t kSha1Success = 0;
constexpr int32_t kSha1Null = 1;        // null pointer, or more than 2^64 - 1 bits
constexpr int32_t kSha1StateError = 3;  // input after the digest was computed

struct Sha1Context {
  uint32_t intermediate[5];
  uint32_t lengthLow;  // message length in bits
  uint32_t lengthHigh;
  int32_t blockIndex;  // bytes held in `block`
  uint8_t block[64];
  int32_t computed;
  int32_t corrupted;  // 0 while sound, else the status that spoiled it
};

// Returns kSha1Null for a null context.
int32_t Sha1Begin(Sha1Context* ctx) noexcept;
// A length of 0 returns kSha1Success without looking at anything. Otherwise
// kSha1Null for a null context or data (nothing absorbed); kSha1StateError,
// also recorded in the context, after Sha1Finish; the recorded status of a
// corrupted context. A message that would pass 2^64 - 1 bits records and
// returns kSha1Null; absorption stops at the byte that overflowed.
int32_t Sha1Feed(Sha1Context* ctx, const uint8_t* data, uint32_t length) noexcept;
// kSha1Null for a null context or output; the recorded status of a corrupted
// context. The first call pads and computes the digest, clearing the block and
// the length; every call then writes the same 20 bytes.
int32_t Sha1Finish(Sha1Context* ctx, uint8_t digest[kSha1DigestBytes]) noexcept;

// Compression back ends. The fastest one the processor supports is chosen on
// first use; tests and the benchmark may pin the portable one to check it.
enum class Sha1Backend { Portable, ShaExtensions };
Sha1Backend Sha1ActiveBackend() noexcept;
bool Sha1ShaExtensionsAvailable() noexcept;
void Sha1PinPortableBackend(bool pinned) noexcept;

}  // namespace marlinok::digest

#endif
