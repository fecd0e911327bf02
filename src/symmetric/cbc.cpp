// CBC: C = E(P xor R), R = C; and back, P = D(C) xor R, R = C.
#include "core/wipe.h"
#include "symmetric/block_engine.h"
#include "symmetric/block_modes.h"

namespace marlinok::symmetric {

using detail::Load64;
using detail::Store64;

template <class Engine>
Status CbcEncrypt(const Engine& engine, uint8_t* chain, uint8_t* data,
                  std::size_t length) noexcept {
  if (!detail::IsWholeBlocks(length)) return Status::BlockLength;
  uint8_t* previous = chain;
  for (std::size_t at = 0; at < length; at += kDesBlockBytes) {
    uint8_t* block = data + at;
    Store64(block, Load64(block) ^ Load64(previous));
    engine.Encrypt(block);
    previous = block;
  }
  // R keeps the last ciphertext block (the initialisation vector if none).
  if (previous != chain) std::memcpy(chain, previous, kDesBlockBytes);
  return Status::Ok;
}

template <class Engine>
Status CbcDecrypt(const Engine& engine, uint8_t* chain, uint8_t* data,
                  std::size_t length) noexcept {
  if (!detail::IsWholeBlocks(length)) return Status::BlockLength;
  // The ciphertext block is overwritten by its plaintext, so a copy of it is
  // kept to become the next R; it is cleared before returning.
  uint8_t saved[kDesBlockBytes];
  WipeOnExit<decltype(saved)> wipe(saved);
  for (std::size_t at = 0; at < length; at += kDesBlockBytes) {
    uint8_t* block = data + at;
    std::memcpy(saved, block, kDesBlockBytes);
    engine.Decrypt(block);
    Store64(block, Load64(block) ^ Load64(chain));
    std::memcpy(chain, saved, kDesBlockBytes);
  }
  return Status::Ok;
}

template Status CbcEncrypt(const DesEngine&, uint8_t*, uint8_t*, std::size_t) noexcept;
template Status CbcEncrypt(const TripleDesEngine&, uint8_t*, uint8_t*, std::size_t) noexcept;
template Status CbcDecrypt(const DesEngine&, uint8_t*, uint8_t*, std::size_t) noexcept;
template Status CbcDecrypt(const TripleDesEngine&, uint8_t*, uint8_t*, std::size_t) noexcept;

}  // namespace marlinok::symmetric
