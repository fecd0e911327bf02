// 64-bit CFB: per chunk of n <= 8 bytes, R = E(R), C = P xor R[0..n), and the
// first n bytes of R become C. Only the encrypt direction of the engine is used.
#include <algorithm>

#include "core/wipe.h"
#include "symmetric/block_engine.h"
#include "symmetric/block_modes.h"

namespace marlinok::symmetric {

using detail::Load64;
using detail::Store64;

template <class Engine>
Status Cfb64Encrypt(const Engine& engine, uint8_t* chain, uint8_t* data,
                    std::size_t length) noexcept {
  std::size_t at = 0;
  for (; length - at >= kDesBlockBytes; at += kDesBlockBytes) {
    engine.Encrypt(chain);
    const uint64_t c = Load64(data + at) ^ Load64(chain);
    Store64(data + at, c);
    Store64(chain, c);
  }
  if (at < length) {
    engine.Encrypt(chain);
    for (std::size_t i = 0; at < length; ++at, ++i) {
      data[at] ^= chain[i];
      chain[i] = data[at];
    }
  }
  return Status::Ok;
}

template <class Engine>
Status Cfb64Decrypt(const Engine& engine, uint8_t* chain, uint8_t* data,
                    std::size_t length) noexcept {
  // The ciphertext chunk is overwritten by its plaintext but feeds the next
  // register, so a copy is kept; it is cleared before returning.
  uint8_t saved[kDesBlockBytes];
  WipeOnExit<decltype(saved)> wipe(saved);
  for (std::size_t at = 0; at < length; at += kDesBlockBytes) {
    const std::size_t n = std::min(kDesBlockBytes, length - at);
    engine.Encrypt(chain);
    std::memcpy(saved, data + at, n);
    for (std::size_t i = 0; i < n; ++i) data[at + i] ^= chain[i];
    std::memcpy(chain, saved, n);
  }
  return Status::Ok;
}

template Status Cfb64Encrypt(const DesEngine&, uint8_t*, uint8_t*, std::size_t) noexcept;
template Status Cfb64Encrypt(const TripleDesEngine&, uint8_t*, uint8_t*, std::size_t) noexcept;
template Status Cfb64Decrypt(const DesEngine&, uint8_t*, uint8_t*, std::size_t) noexcept;
template Status Cfb64Decrypt(const TripleDesEngine&, uint8_t*, uint8_t*, std::size_t) noexcept;

}  // namespace marlinok::symmetric
