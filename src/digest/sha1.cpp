#include "digest/sha1.h"

#include <atomic>
#include <cstring>

#include "core/wipe.h"
#include "digest/sha1_compress.h"

namespace marlinok::digest {
namespace {

constexpr std::size_t kBlockBytes = 64;
constexpr std::size_t kLengthOffset = 56;  // the 64-bit bit length fills bytes 56..63

std::atomic<bool> g_portablePinned{false};

Sha1CompressFn DetectCompress() noexcept {
  if (kSha1CompressShaExtensions != nullptr && Sha1ShaExtensionsSupported()) {
    return kSha1CompressShaExtensions;
  }
  return Sha1CompressPortable;
}

Sha1CompressFn ActiveCompress() noexcept {
  // Decided once; the processor does not change under us.
  static const Sha1CompressFn best = DetectCompress();
  return g_portablePinned.load(std::memory_order_relaxed) ? Sha1CompressPortable : best;
}

inline void StoreBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// Pads the held bytes: 0x80, zeros to byte 56 (spilling into a further block
// when fewer than 9 bytes are free), then the bit length high word first.
void PadMessage(Sha1Context* ctx, Sha1CompressFn compress) noexcept {
  std::size_t index = static_cast<std::size_t>(ctx->blockIndex);
  ctx->block[index++] = 0x80;
  if (index > kLengthOffset) {
    std::memset(ctx->block + index, 0, kBlockBytes - index);
    compress(ctx->intermediate, ctx->block, 1);
    index = 0;
  }
  std::memset(ctx->block + index, 0, kLengthOffset - index);
  StoreBe32(ctx->block + kLengthOffset, ctx->lengthHigh);
  StoreBe32(ctx->block + kLengthOffset + 4, ctx->lengthLow);
  compress(ctx->intermediate, ctx->block, 1);
  ctx->blockIndex = 0;
}

}  // namespace

int32_t Sha1Begin(Sha1Context* ctx) noexcept {
  if (ctx == nullptr) return kSha1Null;
  ctx->intermediate[0] = 0x67452301;
  ctx->intermediate[1] = 0xefcdab89;
  ctx->intermediate[2] = 0x98badcfe;
  ctx->intermediate[3] = 0x10325476;
  ctx->intermediate[4] = 0xc3d2e1f0;
  ctx->lengthLow = 0;
  ctx->lengthHigh = 0;
  ctx->blockIndex = 0;
  ctx->computed = 0;
  ctx->corrupted = 0;
  return kSha1Success;
}

int32_t Sha1Feed(Sha1Context* ctx, const uint8_t* data, uint32_t length) noexcept {
  if (length == 0) return kSha1Success;
  if (ctx == nullptr || data == nullptr) return kSha1Null;
  if (ctx->computed != 0) {
    ctx->corrupted = kSha1StateError;
    return kSha1StateError;
  }
  if (ctx->corrupted != 0) return ctx->corrupted;

  // The 64-bit bit count takes floor((2^64 - 1 - bits) / 8) more bytes; the
  // byte after those wraps it. That byte is still absorbed, then the context
  // is spoiled and absorption stops, as byte-by-byte counting would do.
  const uint64_t bits = uint64_t{ctx->lengthHigh} << 32 | ctx->lengthLow;
  const uint64_t roomBytes = (UINT64_MAX - bits) / 8;
  const bool overflows = length > roomBytes;
  const std::size_t take = overflows ? static_cast<std::size_t>(roomBytes) + 1 : length;
  const uint64_t newBits = bits + uint64_t{take} * 8;  // modulo 2^64
  ctx->lengthLow = static_cast<uint32_t>(newBits);
  ctx->lengthHigh = static_cast<uint32_t>(newBits >> 32);

  const Sha1CompressFn compress = ActiveCompress();
  std::size_t index = static_cast<std::size_t>(ctx->blockIndex);
  std::size_t remaining = take;
  if (index != 0) {
    const std::size_t fill = remaining < kBlockBytes - index ? remaining : kBlockBytes - index;
    std::memcpy(ctx->block + index, data, fill);
    data += fill;
    remaining -= fill;
    index += fill;
    if (index == kBlockBytes) {
      compress(ctx->intermediate, ctx->block, 1);
      index = 0;
    }
  }
  const std::size_t whole = remaining / kBlockBytes;
  if (whole != 0) {
    compress(ctx->intermediate, data, whole);
    data += whole * kBlockBytes;
    remaining -= whole * kBlockBytes;
  }
  if (remaining != 0) {
    std::memcpy(ctx->block + index, data, remaining);
    index += remaining;
  }
  ctx->blockIndex = static_cast<int32_t>(index);

  if (overflows) {
    ctx->corrupted = kSha1Null;
    return kSha1Null;
  }
  return kSha1Success;
}

int32_t Sha1Finish(Sha1Context* ctx, uint8_t digest[kSha1DigestBytes]) noexcept {
  if (ctx == nullptr || digest == nullptr) return kSha1Null;
  if (ctx->corrupted != 0) return ctx->corrupted;
  if (ctx->computed == 0) {
    PadMessage(ctx, ActiveCompress());
    SecureWipe(ctx->block, sizeof ctx->block);
    ctx->lengthLow = 0;
    ctx->lengthHigh = 0;
    ctx->computed = 1;
  }
  for (std::size_t i = 0; i < 5; ++i) StoreBe32(digest + 4 * i, ctx->intermediate[i]);
  return kSha1Success;
}

Sha1Backend Sha1ActiveBackend() noexcept {
  return ActiveCompress() == Sha1CompressPortable ? Sha1Backend::Portable
                                                  : Sha1Backend::ShaExtensions;
}

bool Sha1ShaExtensionsAvailable() noexcept {
  return kSha1CompressShaExtensions != nullptr && Sha1ShaExtensionsSupported();
}

void Sha1PinPortableBackend(bool pinned) noexcept {
  g_portablePinned.store(pinned, std::memory_order_relaxed);
}

}  // namespace marlinok::digest
