// The CryptoAPI key blobs the export calls write: PUBLICKEYBLOB and
// PRIVATEKEYBLOB, integers little-endian, numbers least significant byte first.
#ifndef MARLINOK_STORE_KEY_BLOB_H
#define MARLINOK_STORE_KEY_BLOB_H

#include <cstddef>
#include <cstdint>

namespace marlinok::store {

constexpr uint8_t kPublicKeyBlobType = 6;
constexpr uint8_t kPrivateKeyBlobType = 7;
constexpr uint8_t kBlobVersion = 2;
constexpr uint32_t kRsaPublicMagic = 0x31415352;   // "RSA1"
constexpr uint32_t kRsaPrivateMagic = 0x32415352;  // "RSA2"
constexpr uint32_t kBlobHeaderBytes = 20;          // BLOBHEADER and RSAPUBKEY
constexpr uint32_t kBlobHeaderClearBytes = 8;      // BLOBHEADER: never encrypted

// Reverses n bytes in place: converts between the records' big-endian numbers
// and the blobs' little-endian ones.
inline void ReverseBytes(uint8_t* bytes, std::size_t n) noexcept {
  for (std::size_t i = 0; i + 1 < n - i; ++i) {
    const uint8_t t = bytes[i];
    bytes[i] = bytes[n - 1 - i];
    bytes[n - 1 - i] = t;
  }
}

inline void StoreLe32(uint8_t* p, uint32_t v) noexcept {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline uint32_t LoadLe32(const uint8_t* p) noexcept {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Blob sizes for a modulus of `bits` bits: 20 + B/8, and 20 + 2·(B/8) + 5·(B/16)
// written as 9·(B/16) + 20, which equals it when B is a multiple of 16.
inline uint32_t PublicBlobBytes(uint32_t bits) noexcept { return kBlobHeaderBytes + bits / 8; }
inline uint32_t PrivateBlobBytes(uint32_t bits) noexcept {
  return 9 * (bits / 16) + kBlobHeaderBytes;
}

}  // namespace marlinok::store

#endif
