// The CryptoAPI key blobs keys travel in: PUBLICKEYBLOB and PRIVATEKEYBLOB
// for RSA pairs, and a SIMPLEBLOB-shaped blob for symmetric keys.
//
// Integers are little-endian and so are the numbers, least significant byte
// first, each in a field of B/8 (modulus, private exponent) or B/16 (primes,
// CRT values) bytes for a modulus of B bits. The records hold the same
// numbers big-endian and right-aligned, so each number is copied to the end
// of its field and reversed there.
//
//   RSA blob:        type, version 2, 0, 0 | ALG_ID | magic | B | public exponent
//                    (20 bytes), then n (B/8); a private blob continues with
//                    p, q, d mod (p-1), d mod (q-1), q^-1 mod p (B/16 each), d (B/8).
//   Symmetric blob:  type 1, version 2, 0, 0 | ALG_ID | wrapping ALG_ID (12 bytes),
//                    then the key bytes, plain or wrapped.
//
// Pure functions over byte strings; nothing here reads the registry or a key
// table, and nothing encrypts.
#ifndef MARLINOK_KEYBLOB_KEY_BLOB_H
#define MARLINOK_KEYBLOB_KEY_BLOB_H

#include <cstddef>
#include <cstdint>

#include "core/status.h"
#include "rsa/key_record.h"

namespace marlinok::keyblob {

constexpr uint8_t kSimpleBlobType = 1;
constexpr uint8_t kPublicKeyBlobType = 6;
constexpr uint8_t kPrivateKeyBlobType = 7;
constexpr uint8_t kBlobVersion = 2;
constexpr uint32_t kRsaPublicMagic = 0x31415352;   // "RSA1"
constexpr uint32_t kRsaPrivateMagic = 0x32415352;  // "RSA2"

constexpr uint32_t kBlobHeaderClearBytes = 8;  // BLOBHEADER: never encrypted
constexpr uint32_t kRsaBlobHeaderBytes = 20;   // BLOBHEADER and RSAPUBKEY
constexpr uint32_t kSymmetricBlobHeaderBytes = 12;

// Longest modulus a record holds, and so a blob of ours.
constexpr uint32_t kMaxBlobModulusBits = 8 * rsa::RSA_MODULUS_BYTES;
constexpr uint32_t kMaxPublicBlobBytes = kRsaBlobHeaderBytes + rsa::RSA_MODULUS_BYTES;

// Blob sizes for a modulus of `bits` bits: 20 + B/8, and 20 + 2·(B/8) + 5·(B/16)
// written as 9·(B/16) + 20, which equals it when B is a multiple of 16.
constexpr uint32_t PublicBlobBytes(uint32_t bits) noexcept { return kRsaBlobHeaderBytes + bits / 8; }
constexpr uint32_t PrivateBlobBytes(uint32_t bits) noexcept {
  return 9 * (bits / 16) + kRsaBlobHeaderBytes;
}

// A blob holds a record's numbers whole only when its fields are whole bytes
// (B a multiple of 8, and of 16 for the half-size fields of a private blob)
// and the modulus fits a record; other lengths would truncate the numbers.
constexpr bool PublicBlobHoldsModulus(uint32_t bits) noexcept {
  return bits % 8 == 0 && bits <= kMaxBlobModulusBits;
}
constexpr bool PrivateBlobHoldsModulus(uint32_t bits) noexcept {
  return bits % 16 == 0 && bits <= kMaxBlobModulusBits;
}

// Reverses n bytes in place: converts between the records' big-endian numbers
// and the blobs' little-endian ones.
void ReverseBytes(uint8_t* bytes, std::size_t n) noexcept;

// The PUBLICKEYBLOB of a record, PublicBlobBytes(B) bytes into `out`, which
// holds at least that many; the public exponent travels as its low 32 bits.
// Failed, nothing written, when the blob cannot hold the modulus.
Status WritePublicKeyBlob(const rsa::PublicKeyRecord& record, uint32_t algId, uint8_t* out,
                          uint32_t* size) noexcept;

// The PRIVATEKEYBLOB of a record, PrivateBlobBytes(B) bytes into `out`.
// Failed, nothing written, when the blob cannot hold the modulus.
Status WritePrivateKeyBlob(const rsa::PrivateKeyRecord& record, uint32_t algId, uint8_t* out,
                           uint32_t* size) noexcept;

// The record of a public blob of `length` bytes; only the bit length, the
// exponent and the modulus are read, the header's type, version, algorithm
// and magic are not examined. Failed, `record` untouched, for a blob shorter
// than its header or than its bit length says, or one that cannot hold the
// modulus whole.
Status ReadPublicKeyBlob(const uint8_t* blob, uint32_t length, rsa::PublicKeyRecord* record) noexcept;

// The record of a private blob, read and refused as ReadPublicKeyBlob does.
Status ReadPrivateKeyBlob(const uint8_t* blob, uint32_t length,
                          rsa::PrivateKeyRecord* record) noexcept;

// The 12-byte symmetric blob header: the key's algorithm (stored as given)
// and the wrapping algorithm (0 for a plain key, CALG_RSA_KEYX when wrapped).
void WriteSymmetricBlobHeader(uint8_t* out, uint32_t algId, uint32_t wrapAlgId) noexcept;

// The key bytes of a symmetric blob: everything after the header, which is
// not examined. Failed for a blob no longer than its header.
Status SymmetricBlobKey(const uint8_t* blob, uint32_t length, const uint8_t** key,
                        uint32_t* keyLength) noexcept;

}  // namespace marlinok::keyblob

#endif
