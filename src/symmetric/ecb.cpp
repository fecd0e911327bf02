// ECB: each 8-byte block on its own, C = E(P) and P = D(C).
#include "symmetric/block_engine.h"
#include "symmetric/block_modes.h"

namespace marlinok::symmetric {

template <class Engine>
Status EcbEncrypt(const Engine& engine, uint8_t* data, std::size_t length) noexcept {
  if (!detail::IsWholeBlocks(length)) return Status::BlockLength;
  for (std::size_t at = 0; at < length; at += kDesBlockBytes) engine.Encrypt(data + at);
  return Status::Ok;
}

template <class Engine>
Status EcbDecrypt(const Engine& engine, uint8_t* data, std::size_t length) noexcept {
  if (!detail::IsWholeBlocks(length)) return Status::BlockLength;
  for (std::size_t at = 0; at < length; at += kDesBlockBytes) engine.Decrypt(data + at);
  return Status::Ok;
}

template Status EcbEncrypt(const DesEngine&, uint8_t*, std::size_t) noexcept;
template Status EcbEncrypt(const TripleDesEngine&, uint8_t*, std::size_t) noexcept;
template Status EcbDecrypt(const DesEngine&, uint8_t*, std::size_t) noexcept;
template Status EcbDecrypt(const TripleDesEngine&, uint8_t*, std::size_t) noexcept;

}  // namespace marlinok::symmetric
