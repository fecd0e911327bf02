// SHA-1 compression with the x86 SHA extensions (SHA1RNDS4, SHA1NEXTE,
// SHA1MSG1, SHA1MSG2). Compiled only for x86 targets; the caller checks
// Sha1ShaExtensionsSupported() before using it.
#include "digest/sha1_compress.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

namespace marlinok::digest {
namespace {

// 32-bit Windows only promises a 4-byte aligned stack; realign it on entry so
// that spilled 128-bit registers stay aligned.
#if defined(__i386__)
#define MARLINOK_SHA_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define MARLINOK_SHA_ALIGN_STACK
#endif

// Four rounds per group g = 0..19; m[g % 4] holds W[4g..4g+3] with the first
// word in the top lane. For g >= 4 the schedule is
//   W(g) = msg2(msg1(W(g-4), W(g-3)) ^ W(g-2), W(g-1)),
// found in the ring as m[g%4], m[(g+1)%4], m[(g+2)%4], m[(g+3)%4].
// `e` holds the value SHA1NEXTE turns into the next group's E + W; the
// round-function selector is g / 5.
#define SHA1_SCHEDULE(g)                                                                 \
  m[(g) % 4] = _mm_sha1msg2_epu32(                                                       \
      _mm_xor_si128(_mm_sha1msg1_epu32(m[(g) % 4], m[((g) + 1) % 4]), m[((g) + 2) % 4]), \
      m[((g) + 3) % 4])
#define SHA1_GROUP(g)                      \
  ew = _mm_sha1nexte_epu32(e, m[(g) % 4]); \
  e = abcd;                                \
  abcd = _mm_sha1rnds4_epu32(abcd, ew, (g) / 5)
#define SHA1_LOAD(g)                                                                            \
  m[g] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * (g))), \
                          byteSwap)

__attribute__((target("sha,sse4.1,ssse3"))) MARLINOK_SHA_ALIGN_STACK void CompressShaExtensions(
    uint32_t state[5], const uint8_t* blocks, std::size_t count) {
  // Reverses the 16 bytes: big-endian words, and W[0] into the top lane.
  const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1b);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  __m128i m[4];
  for (; count > 0; --count, blocks += 64) {
    const __m128i abcdSaved = abcd;
    const __m128i eSaved = e0;
    __m128i e;
    __m128i ew;

    SHA1_LOAD(0);
    SHA1_LOAD(1);
    SHA1_LOAD(2);
    SHA1_LOAD(3);
    ew = _mm_add_epi32(e0, m[0]);
    e = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, ew, 0);
    SHA1_GROUP(1);
    SHA1_GROUP(2);
    SHA1_GROUP(3);
    SHA1_SCHEDULE(4);
    SHA1_GROUP(4);
    SHA1_SCHEDULE(5);
    SHA1_GROUP(5);
    SHA1_SCHEDULE(6);
    SHA1_GROUP(6);
    SHA1_SCHEDULE(7);
    SHA1_GROUP(7);
    SHA1_SCHEDULE(8);
    SHA1_GROUP(8);
    SHA1_SCHEDULE(9);
    SHA1_GROUP(9);
    SHA1_SCHEDULE(10);
    SHA1_GROUP(10);
    SHA1_SCHEDULE(11);
    SHA1_GROUP(11);
    SHA1_SCHEDULE(12);
    SHA1_GROUP(12);
    SHA1_SCHEDULE(13);
    SHA1_GROUP(13);
    SHA1_SCHEDULE(14);
    SHA1_GROUP(14);
    SHA1_SCHEDULE(15);
    SHA1_GROUP(15);
    SHA1_SCHEDULE(16);
    SHA1_GROUP(16);
    SHA1_SCHEDULE(17);
    SHA1_GROUP(17);
    SHA1_SCHEDULE(18);
    SHA1_GROUP(18);
    SHA1_SCHEDULE(19);
    SHA1_GROUP(19);

    // E of the last group, rotated and added to the saved E.
    e0 = _mm_sha1nexte_epu32(e, eSaved);
    abcd = _mm_add_epi32(abcd, abcdSaved);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1b));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

#undef SHA1_SCHEDULE
#undef SHA1_GROUP
#undef SHA1_LOAD
#undef MARLINOK_SHA_ALIGN_STACK

}  // namespace

extern const Sha1CompressFn kSha1CompressShaExtensions = CompressShaExtensions;

bool Sha1ShaExtensionsSupported() noexcept {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool ssse3 = (ecx & bit_SSSE3) != 0;
  const bool sse41 = (ecx & bit_SSE4_1) != 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool sha = (ebx & (1u << 29)) != 0;  // CPUID.(EAX=7,ECX=0):EBX.SHA[bit 29]
  return ssse3 && sse41 && sha;
}

}  // namespace marlinok::digest

#else

namespace marlinok::digest {

extern const Sha1CompressFn kSha1CompressShaExtensions = nullptr;
bool Sha1ShaExtensionsSupported() noexcept { return false; }

}  // namespace marlinok::digest

#endif
