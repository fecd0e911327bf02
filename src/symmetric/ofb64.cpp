// 64-bit OFB: per chunk of n <= 8 bytes, R = E(R) and the chunk is XORed with
// R[0..n). The key stream does not depend on the data, so one operation
// serves both directions; only the encrypt direction of the engine is used.
#include <algorithm>

#include "symmetric/block_engine.h"
#include "symmetric/block_modes.h"

namespace marlinok::symmetric {

using detail::Load64;
using detail::Store64;

template <class Engine>
Status Ofb64Crypt(const Engine& engine, uint8_t* chain, uint8_t* data,
                  std::size_t length) noexcept {
  std::size_t at = 0;
  for (; length - at >= kDesBlockBytes; at += kDesBlockBytes) {
    engine.Encrypt(chain);
    Store64(data + at, Load64(data + at) ^ Load64(chain));
  }
  if (at < length) {
    engine.Encrypt(chain);
    for (std::size_t i = 0; at < length; ++at, ++i) data[at] ^= chain[i];
  }
  return Status::Ok;
}

template Status Ofb64Crypt(const DesEngine&, uint8_t*, uint8_t*, std::size_t) noexcept;
template Status Ofb64Crypt(const TripleDesEngine&, uint8_t*, uint8_t*, std::size_t) noexcept;

}  // namespace marlinok::symmetric
