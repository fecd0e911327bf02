// ECB, CBC, 64-bit CFB and 64-bit OFB over a block engine (DesEngine or
// TripleDesEngine), in place on `data`, with no allocation.
//
// `chain` is the 8-byte chaining block: the initialisation vector on entry;
// on return the last ciphertext block (CBC), the last feedback register (CFB)
// or the last key-stream block (OFB).
//
// ECB and CBC take whole blocks only: any other length is BlockLength, tested
// before anything is touched, so data and chain are then unchanged. CFB and
// OFB take any length; a final short chunk uses the first bytes of its
// key-stream block. A length of 0 succeeds and changes nothing.
#ifndef MARLINOK_SYMMETRIC_BLOCK_MODES_H
#define MARLINOK_SYMMETRIC_BLOCK_MODES_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/status.h"
#include "symmetric/cipher_primitives.h"

namespace marlinok::symmetric {

template <class Engine>
Status EcbEncrypt(const Engine& engine, uint8_t* data, std::size_t length) noexcept;
template <class Engine>
Status EcbDecrypt(const Engine& engine, uint8_t* data, std::size_t length) noexcept;

template <class Engine>
Status CbcEncrypt(const Engine& engine, uint8_t* chain, uint8_t* data, std::size_t length) noexcept;
template <class Engine>
Status CbcDecrypt(const Engine& engine, uint8_t* chain, uint8_t* data, std::size_t length) noexcept;

template <class Engine>
Status Cfb64Encrypt(const Engine& engine, uint8_t* chain, uint8_t* data,
                    std::size_t length) noexcept;
template <class Engine>
Status Cfb64Decrypt(const Engine& engine, uint8_t* chain, uint8_t* data,
                    std::size_t length) noexcept;

// The same operation encrypts and decrypts.
template <class Engine>
Status Ofb64Crypt(const Engine& engine, uint8_t* chain, uint8_t* data, std::size_t length) noexcept;

namespace detail {

// 8-byte loads and stores through memcpy: no alignment is assumed of the
// caller's buffer, and the compiler turns them into single moves.
inline uint64_t Load64(const uint8_t* p) noexcept {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void Store64(uint8_t* p, uint64_t v) noexcept { std::memcpy(p, &v, sizeof v); }

inline bool IsWholeBlocks(std::size_t length) noexcept { return length % kDesBlockBytes == 0; }

}  // namespace detail

}  // namespace marlinok::symmetric

#endif
