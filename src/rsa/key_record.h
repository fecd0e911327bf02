// RSA key records: fixed-size byte images, the same in memory, in the registry
// and in callers' buffers.
//
// PublicKeyRecord (516 bytes): modulusBits (uint32, little-endian), then n and e
// as big-endian numbers right-aligned in 256-byte fields. PrivateKeyRecord
// (1412 bytes): the public record, then d (256 bytes) and p, q, d mod (p-1),
// d mod (q-1), q^-1 mod p (128 bytes each), all right-aligned big-endian.
// The first 516 bytes of a private record are the public record of the key,
// so anything that needs only the public key works on either.
#ifndef MARLINOK_RSA_KEY_RECORD_H
#define MARLINOK_RSA_KEY_RECORD_H

#include <cstddef>
#include <cstdint>

#include "core/byte_order.h"

namespace marlinok::rsa {

constexpr std::size_t RSA_MODULUS_BYTES = 256;
constexpr std::size_t RSA_PRIME_BYTES = 128;

constexpr std::size_t kPublicRecordBytes = 4 + 2 * RSA_MODULUS_BYTES;  // 516
constexpr std::size_t kPrivateRecordBytes = 4 + 3 * RSA_MODULUS_BYTES + 5 * RSA_PRIME_BYTES;

// Field offsets.
constexpr std::size_t kModulusBitsOffset = 0;
constexpr std::size_t kModulusOffset = 4;
constexpr std::size_t kPublicExponentOffset = kModulusOffset + RSA_MODULUS_BYTES;  // 260
constexpr std::size_t kPrivateExponentOffset = kPublicExponentOffset + RSA_MODULUS_BYTES;
constexpr std::size_t kPrime1Offset = kPrivateExponentOffset + RSA_MODULUS_BYTES;  // 772
constexpr std::size_t kPrime2Offset = kPrime1Offset + RSA_PRIME_BYTES;
constexpr std::size_t kExponent1Offset = kPrime2Offset + RSA_PRIME_BYTES;
constexpr std::size_t kExponent2Offset = kExponent1Offset + RSA_PRIME_BYTES;
constexpr std::size_t kCoefficientOffset = kExponent2Offset + RSA_PRIME_BYTES;  // 1284

static_assert(kPublicRecordBytes == 516 && kPrivateRecordBytes == 1412, "record sizes");
static_assert(kCoefficientOffset + RSA_PRIME_BYTES == kPrivateRecordBytes,
              "fields fill the record");

struct PublicKeyRecord {
  uint8_t bytes[kPublicRecordBytes];
};
struct PrivateKeyRecord {
  uint8_t bytes[kPrivateRecordBytes];
};

inline uint32_t ReadModulusBits(const uint8_t* record) {
  return LoadLe32(record + kModulusBitsOffset);
}

inline void WriteModulusBits(uint8_t* record, uint32_t bits) {
  StoreLe32(record + kModulusBitsOffset, bits);
}

// The byte length of the modulus, and of every RSA output: (bits + 7) / 8.
inline uint32_t ModulusBytes(uint32_t modulusBits) {
  return static_cast<uint32_t>((uint64_t{modulusBits} + 7) / 8);
}

}  // namespace marlinok::rsa

#endif
