#include "digest/md5.h"

#include <cstring>

#include "core/wipe.h"

namespace marlinok::digest {
namespace {

inline uint32_t Rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline void StoreLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// The four rounds of RFC 1321, one step per macro use:
//   a = b + rotl(a + f(b, c, d) + x + t, s).
// a + x + t does not depend on the previous step, so it is added first and
// only the part of f that needs b stays on the dependency chain:
//   F = d ^ (b & (c ^ d))
//   G = (b & d) | (c & ~d) = (b & d) + (c & ~d)  (no bit is set in both terms)
//   H = b ^ (c ^ d)
//   I = c ^ (b | ~d)
#define MD5_F(a, b, c, d, x, t, s) \
  a += (x) + (t);                  \
  a += (d) ^ ((b) & ((c) ^ (d)));  \
  a = Rotl(a, s) + (b)
#define MD5_G(a, b, c, d, x, t, s) \
  a += (x) + (t) + ((c) & ~(d));   \
  a += (b) & (d);                  \
  a = Rotl(a, s) + (b)
#define MD5_H(a, b, c, d, x, t, s) \
  a += (x) + (t);                  \
  a += (b) ^ ((c) ^ (d));          \
  a = Rotl(a, s) + (b)
#define MD5_I(a, b, c, d, x, t, s) \
  a += (x) + (t);                  \
  a += (c) ^ ((b) | ~(d));         \
  a = Rotl(a, s) + (b)

void Compress(uint32_t state[4], const uint8_t* blocks, std::size_t count) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; count > 0; --count, blocks += 64) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = LoadLe32(blocks + 4 * i);
    const uint32_t aa = a, bb = b, cc = c, dd = d;

    MD5_F(a, b, c, d, x[0], 0xd76aa478, 7);
    MD5_F(d, a, b, c, x[1], 0xe8c7b756, 12);
    MD5_F(c, d, a, b, x[2], 0x242070db, 17);
    MD5_F(b, c, d, a, x[3], 0xc1bdceee, 22);
    MD5_F(a, b, c, d, x[4], 0xf57c0faf, 7);
    MD5_F(d, a, b, c, x[5], 0x4787c62a, 12);
    MD5_F(c, d, a, b, x[6], 0xa8304613, 17);
    MD5_F(b, c, d, a, x[7], 0xfd469501, 22);
    MD5_F(a, b, c, d, x[8], 0x698098d8, 7);
    MD5_F(d, a, b, c, x[9], 0x8b44f7af, 12);
    MD5_F(c, d, a, b, x[10], 0xffff5bb1, 17);
    MD5_F(b, c, d, a, x[11], 0x895cd7be, 22);
    MD5_F(a, b, c, d, x[12], 0x6b901122, 7);
    MD5_F(d, a, b, c, x[13], 0xfd987193, 12);
    MD5_F(c, d, a, b, x[14], 0xa679438e, 17);
    MD5_F(b, c, d, a, x[15], 0x49b40821, 22);

    MD5_G(a, b, c, d, x[1], 0xf61e2562, 5);
    MD5_G(d, a, b, c, x[6], 0xc040b340, 9);
    MD5_G(c, d, a, b, x[11], 0x265e5a51, 14);
    MD5_G(b, c, d, a, x[0], 0xe9b6c7aa, 20);
    MD5_G(a, b, c, d, x[5], 0xd62f105d, 5);
    MD5_G(d, a, b, c, x[10], 0x02441453, 9);
    MD5_G(c, d, a, b, x[15], 0xd8a1e681, 14);
    MD5_G(b, c, d, a, x[4], 0xe7d3fbc8, 20);
    MD5_G(a, b, c, d, x[9], 0x21e1cde6, 5);
    MD5_G(d, a, b, c, x[14], 0xc33707d6, 9);
    MD5_G(c, d, a, b, x[3], 0xf4d50d87, 14);
    MD5_G(b, c, d, a, x[8], 0x455a14ed, 20);
    MD5_G(a, b, c, d, x[13], 0xa9e3e905, 5);
    MD5_G(d, a, b, c, x[2], 0xfcefa3f8, 9);
    MD5_G(c, d, a, b, x[7], 0x676f02d9, 14);
    MD5_G(b, c, d, a, x[12], 0x8d2a4c8a, 20);

    MD5_H(a, b, c, d, x[5], 0xfffa3942, 4);
    MD5_H(d, a, b, c, x[8], 0x8771f681, 11);
    MD5_H(c, d, a, b, x[11], 0x6d9d6122, 16);
    MD5_H(b, c, d, a, x[14], 0xfde5380c, 23);
    MD5_H(a, b, c, d, x[1], 0xa4beea44, 4);
    MD5_H(d, a, b, c, x[4], 0x4bdecfa9, 11);
    MD5_H(c, d, a, b, x[7], 0xf6bb4b60, 16);
    MD5_H(b, c, d, a, x[10], 0xbebfbc70, 23);
    MD5_H(a, b, c, d, x[13], 0x289b7ec6, 4);
    MD5_H(d, a, b, c, x[0], 0xeaa127fa, 11);
    MD5_H(c, d, a, b, x[3], 0xd4ef3085, 16);
    MD5_H(b, c, d, a, x[6], 0x04881d05, 23);
    MD5_H(a, b, c, d, x[9], 0xd9d4d039, 4);
    MD5_H(d, a, b, c, x[12], 0xe6db99e5, 11);
    MD5_H(c, d, a, b, x[15], 0x1fa27cf8, 16);
    MD5_H(b, c, d, a, x[2], 0xc4ac5665, 23);

    MD5_I(a, b, c, d, x[0], 0xf4292244, 6);
    MD5_I(d, a, b, c, x[7], 0x432aff97, 10);
    MD5_I(c, d, a, b, x[14], 0xab9423a7, 15);
    MD5_I(b, c, d, a, x[5], 0xfc93a039, 21);
    MD5_I(a, b, c, d, x[12], 0x655b59c3, 6);
    MD5_I(d, a, b, c, x[3], 0x8f0ccc92, 10);
    MD5_I(c, d, a, b, x[10], 0xffeff47d, 15);
    MD5_I(b, c, d, a, x[1], 0x85845dd1, 21);
    MD5_I(a, b, c, d, x[8], 0x6fa87e4f, 6);
    MD5_I(d, a, b, c, x[15], 0xfe2ce6e0, 10);
    MD5_I(c, d, a, b, x[6], 0xa3014314, 15);
    MD5_I(b, c, d, a, x[13], 0x4e0811a1, 21);
    MD5_I(a, b, c, d, x[4], 0xf7537e82, 6);
    MD5_I(d, a, b, c, x[11], 0xbd3af235, 10);
    MD5_I(c, d, a, b, x[2], 0x2ad7d2bb, 15);
    MD5_I(b, c, d, a, x[9], 0xeb86d391, 21);

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

}  // namespace

void Md5Begin(Md5Context* ctx) noexcept {
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xefcdab89;
  ctx->state[2] = 0x98badcfe;
  ctx->state[3] = 0x10325476;
  ctx->bitCount[0] = 0;
  ctx->bitCount[1] = 0;
}

void Md5Feed(Md5Context* ctx, const uint8_t* data, uint32_t length) noexcept {
  if (length == 0) return;
  std::size_t held = (ctx->bitCount[0] >> 3) & 63;
  const uint32_t lowBefore = ctx->bitCount[0];
  ctx->bitCount[0] += length << 3;
  if (ctx->bitCount[0] < lowBefore) ++ctx->bitCount[1];
  ctx->bitCount[1] += length >> 29;

  std::size_t remaining = length;
  if (held != 0) {
    const std::size_t take = remaining < 64 - held ? remaining : 64 - held;
    std::memcpy(ctx->buffer + held, data, take);
    data += take;
    remaining -= take;
    held += take;
    if (held < 64) return;
    Compress(ctx->state, ctx->buffer, 1);
  }
  const std::size_t whole = remaining / 64;
  if (whole != 0) {
    Compress(ctx->state, data, whole);
    data += whole * 64;
    remaining -= whole * 64;
  }
  if (remaining != 0) std::memcpy(ctx->buffer, data, remaining);
}

void Md5Finish(uint8_t digest[kMd5DigestBytes], Md5Context* ctx) noexcept {
  uint8_t lengthBytes[8];
  StoreLe32(lengthBytes, ctx->bitCount[0]);
  StoreLe32(lengthBytes + 4, ctx->bitCount[1]);
  // Pad with 0x80 and zeros to 56 bytes into a block, then the bit length.
  static const uint8_t kPadding[64] = {0x80};
  const uint32_t held = (ctx->bitCount[0] >> 3) & 63;
  const uint32_t padLength = held < 56 ? 56 - held : 120 - held;
  Md5Feed(ctx, kPadding, padLength);
  Md5Feed(ctx, lengthBytes, 8);
  for (int i = 0; i < 4; ++i) StoreLe32(digest + 4 * i, ctx->state[i]);
  SecureWipeObject(*ctx);
}

void Md5(uint8_t digest[kMd5DigestBytes], const uint8_t* data, uint32_t length) noexcept {
  Md5Context ctx;
  Md5Begin(&ctx);
  Md5Feed(&ctx, data, length);
  Md5Finish(digest, &ctx);
}

}  // namespace marlinok::digest
