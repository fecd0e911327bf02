// The SHA-1 compression function: `count` 64-byte blocks into the five-word
// chaining value. Internal to the SHA-1 engine.
#ifndef MARLINOK_DIGEST_SHA1_COMPRESS_H
#define MARLINOK_DIGEST_SHA1_COMPRESS_H

#include <cstddef>
#include <cstdint>

namespace marlinok::digest {

using Sha1CompressFn = void (*)(uint32_t state[5], const uint8_t* blocks, std::size_t count);

void Sha1CompressPortable(uint32_t state[5], const uint8_t* blocks, std::size_t count) noexcept;

// The x86 SHA extensions path; null where it is not compiled in, and only to
// be called when Sha1ShaExtensionsSupported() is true.
extern const Sha1CompressFn kSha1CompressShaExtensions;
bool Sha1ShaExtensionsSupported() noexcept;

}  // namespace marlinok::digest

#endif
