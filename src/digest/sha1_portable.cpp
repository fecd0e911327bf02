// Portable SHA-1 compression. The 80-word schedule lives in a 16-word ring:
// W[t] = rotl1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]), and W[t-16] is the slot
// being overwritten. The five working variables rotate by renaming in the
// unrolled steps instead of by moves.
#include <cstring>

#include "core/wipe.h"
#include "digest/sha1_compress.h"

namespace marlinok::digest {
namespace {

inline uint32_t Rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t LoadBe32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// Round functions: Ch as z ^ (x & (y ^ z)); Maj as (x & y) + (z & (x ^ y)),
// the two terms never share a set bit so the sum is the disjunction, and the
// adds may be reassociated with the rest of the step.
#define SHA1_CH(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define SHA1_PARITY(x, y, z) ((x) ^ (y) ^ (z))
#define SHA1_MAJ(x, y, z) (((x) & (y)) + ((z) & ((x) ^ (y))))

#define SHA1_W0(i) (w[i] = LoadBe32(blocks + 4 * (i)))
#define SHA1_W(i) \
  (w[(i)&15] = Rotl(w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^ w[((i) + 2) & 15] ^ w[(i)&15], 1))

// e += f(b, c, d) + W + k + rotl5(a); b = rotl30(b).
#define SHA1_STEP(f, k, wi, a, b, c, d, e)   \
  e += f(b, c, d) + (wi) + (k) + Rotl(a, 5); \
  b = Rotl(b, 30)

#define SHA1_FIVE(f, k, W, i, a, b, c, d, e) \
  SHA1_STEP(f, k, W(i), a, b, c, d, e);      \
  SHA1_STEP(f, k, W(i + 1), e, a, b, c, d);  \
  SHA1_STEP(f, k, W(i + 2), d, e, a, b, c);  \
  SHA1_STEP(f, k, W(i + 3), c, d, e, a, b);  \
  SHA1_STEP(f, k, W(i + 4), b, c, d, e, a)

constexpr uint32_t kK0 = 0x5a827999;
constexpr uint32_t kK1 = 0x6ed9eba1;
constexpr uint32_t kK2 = 0x8f1bbcdc;
constexpr uint32_t kK3 = 0xca62c1d6;

}  // namespace

void Sha1CompressPortable(uint32_t state[5], const uint8_t* blocks, std::size_t count) noexcept {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  uint32_t w[16];
  for (; count > 0; --count, blocks += 64) {
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e;

    SHA1_FIVE(SHA1_CH, kK0, SHA1_W0, 0, a, b, c, d, e);
    SHA1_FIVE(SHA1_CH, kK0, SHA1_W0, 5, a, b, c, d, e);
    SHA1_FIVE(SHA1_CH, kK0, SHA1_W0, 10, a, b, c, d, e);
    SHA1_STEP(SHA1_CH, kK0, SHA1_W0(15), a, b, c, d, e);
    SHA1_STEP(SHA1_CH, kK0, SHA1_W(16), e, a, b, c, d);
    SHA1_STEP(SHA1_CH, kK0, SHA1_W(17), d, e, a, b, c);
    SHA1_STEP(SHA1_CH, kK0, SHA1_W(18), c, d, e, a, b);
    SHA1_STEP(SHA1_CH, kK0, SHA1_W(19), b, c, d, e, a);

    SHA1_FIVE(SHA1_PARITY, kK1, SHA1_W, 20, a, b, c, d, e);
    SHA1_FIVE(SHA1_PARITY, kK1, SHA1_W, 25, a, b, c, d, e);
    SHA1_FIVE(SHA1_PARITY, kK1, SHA1_W, 30, a, b, c, d, e);
    SHA1_FIVE(SHA1_PARITY, kK1, SHA1_W, 35, a, b, c, d, e);

    SHA1_FIVE(SHA1_MAJ, kK2, SHA1_W, 40, a, b, c, d, e);
    SHA1_FIVE(SHA1_MAJ, kK2, SHA1_W, 45, a, b, c, d, e);
    SHA1_FIVE(SHA1_MAJ, kK2, SHA1_W, 50, a, b, c, d, e);
    SHA1_FIVE(SHA1_MAJ, kK2, SHA1_W, 55, a, b, c, d, e);

    SHA1_FIVE(SHA1_PARITY, kK3, SHA1_W, 60, a, b, c, d, e);
    SHA1_FIVE(SHA1_PARITY, kK3, SHA1_W, 65, a, b, c, d, e);
    SHA1_FIVE(SHA1_PARITY, kK3, SHA1_W, 70, a, b, c, d, e);
    SHA1_FIVE(SHA1_PARITY, kK3, SHA1_W, 75, a, b, c, d, e);

    a += a0;
    b += b0;
    c += c0;
    d += d0;
    e += e0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
  state[4] = e;
  // The schedule is derived from the message.
  SecureWipe(w, sizeof w);
}

#undef SHA1_CH
#undef SHA1_PARITY
#undef SHA1_MAJ
#undef SHA1_W0
#undef SHA1_W
#undef SHA1_STEP
#undef SHA1_FIVE

}  // namespace marlinok::digest
