// MD5 (RFC 1321). One-shot use: begin, feed any number of times, finish.
#ifndef MARLINOK_DIGEST_MD5_H
#define MARLINOK_DIGEST_MD5_H

#include <cstddef>
#include <cstdint>

namespace marlinok::digest {

constexpr std::size_t kMd5DigestBytes = 16;

struct Md5Context {
  uint32_t state[4];     // chaining value A, B, C, D
  uint32_t bitCount[2];  // message length in bits, low word first
  uint8_t buffer[64];    // the partial block
};

void Md5Begin(Md5Context* ctx) noexcept;
// Absorbs `length` bytes; a length of 0 does nothing and does not read `data`.
void Md5Feed(Md5Context* ctx, const uint8_t* data, uint32_t length) noexcept;
// Pads, writes the digest and overwrites the whole context with zeros.
void Md5Finish(uint8_t digest[kMd5DigestBytes], Md5Context* ctx) noexcept;

// The digest of one byte string.
void Md5(uint8_t digest[kMd5DigestBytes], const uint8_t* data, uint32_t length) noexcept;

}  // namespace marlinok::digest

#endif
