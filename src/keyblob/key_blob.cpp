#include "keyblob/key_blob.h"

#include <cstring>

#include "core/byte_order.h"

namespace marlinok::keyblob {

using rsa::RSA_MODULUS_BYTES;
using rsa::RSA_PRIME_BYTES;

namespace {

// The five half-size fields of a private blob, in blob order; the private
// exponent follows them.
constexpr std::size_t kPrimeFieldOffsets[] = {rsa::kPrime1Offset, rsa::kPrime2Offset,
                                              rsa::kExponent1Offset, rsa::kExponent2Offset,
                                              rsa::kCoefficientOffset};

// Copies the last `width` bytes of a record field, reversed.
uint8_t* PutReversed(uint8_t* out, const uint8_t* field, std::size_t fieldBytes,
                     std::size_t width) {
  std::memcpy(out, field + fieldBytes - width, width);
  ReverseBytes(out, width);
  return out + width;
}

// Copies `width` blob bytes to the end of a record field, reversed.
const uint8_t* TakeReversed(uint8_t* field, std::size_t fieldBytes, const uint8_t* in,
                            std::size_t width) {
  uint8_t* target = field + fieldBytes - width;
  std::memcpy(target, in, width);
  ReverseBytes(target, width);
  return in + width;
}

// BLOBHEADER, RSAPUBKEY and the modulus: the whole public blob, and the head
// of the private one.
uint8_t* PutPublicPart(uint8_t* out, uint8_t type, uint32_t algId, uint32_t magic,
                       const uint8_t* record, uint32_t bits) {
  out[0] = type;
  out[1] = kBlobVersion;
  out[2] = out[3] = 0;
  StoreLe32(out + 4, algId);
  StoreLe32(out + 8, magic);
  StoreLe32(out + 12, bits);
  // pubexp: the last four bytes of the exponent field.
  PutReversed(out + 16, record + rsa::kPublicExponentOffset, RSA_MODULUS_BYTES, 4);
  return PutReversed(out + kRsaBlobHeaderBytes, record + rsa::kModulusOffset, RSA_MODULUS_BYTES,
                     bits / 8);
}

// The bit length, the 32-bit public exponent and the modulus: the public
// record, which is also the head of the private one.
const uint8_t* TakePublicPart(uint8_t* record, const uint8_t* blob, uint32_t bits) {
  StoreLe32(record + rsa::kModulusBitsOffset, bits);
  TakeReversed(record + rsa::kPublicExponentOffset, RSA_MODULUS_BYTES, blob + 16, 4);
  return TakeReversed(record + rsa::kModulusOffset, RSA_MODULUS_BYTES, blob + kRsaBlobHeaderBytes,
                      bits / 8);
}

uint32_t BlobModulusBits(const uint8_t* blob) { return LoadLe32(blob + 12); }

}  // namespace

void ReverseBytes(uint8_t* bytes, std::size_t n) noexcept {
  for (std::size_t i = 0; i + 1 < n - i; ++i) {
    const uint8_t t = bytes[i];
    bytes[i] = bytes[n - 1 - i];
    bytes[n - 1 - i] = t;
  }
}

Status WritePublicKeyBlob(const rsa::PublicKeyRecord& record, uint32_t algId, uint8_t* out,
                          uint32_t* size) noexcept {
  const uint32_t bits = rsa::ReadModulusBits(record.bytes);
  if (!PublicBlobHoldsModulus(bits)) return Status::Failed;
  PutPublicPart(out, kPublicKeyBlobType, algId, kRsaPublicMagic, record.bytes, bits);
  *size = PublicBlobBytes(bits);
  return Status::Ok;
}

Status WritePrivateKeyBlob(const rsa::PrivateKeyRecord& record, uint32_t algId, uint8_t* out,
                           uint32_t* size) noexcept {
  const uint32_t bits = rsa::ReadModulusBits(record.bytes);
  if (!PrivateBlobHoldsModulus(bits)) return Status::Failed;
  uint8_t* p = PutPublicPart(out, kPrivateKeyBlobType, algId, kRsaPrivateMagic, record.bytes, bits);
  for (std::size_t offset : kPrimeFieldOffsets)
    p = PutReversed(p, record.bytes + offset, RSA_PRIME_BYTES, bits / 16);
  PutReversed(p, record.bytes + rsa::kPrivateExponentOffset, RSA_MODULUS_BYTES, bits / 8);
  *size = PrivateBlobBytes(bits);
  return Status::Ok;
}

Status ReadPublicKeyBlob(const uint8_t* blob, uint32_t length,
                         rsa::PublicKeyRecord* record) noexcept {
  if (length < kRsaBlobHeaderBytes) return Status::Failed;
  const uint32_t bits = BlobModulusBits(blob);
  if (!PublicBlobHoldsModulus(bits) || length < PublicBlobBytes(bits)) return Status::Failed;
  *record = rsa::PublicKeyRecord{};
  TakePublicPart(record->bytes, blob, bits);
  return Status::Ok;
}

Status ReadPrivateKeyBlob(const uint8_t* blob, uint32_t length,
                          rsa::PrivateKeyRecord* record) noexcept {
  if (length < kRsaBlobHeaderBytes) return Status::Failed;
  const uint32_t bits = BlobModulusBits(blob);
  if (!PrivateBlobHoldsModulus(bits) || length < PrivateBlobBytes(bits)) return Status::Failed;
  *record = rsa::PrivateKeyRecord{};
  const uint8_t* in = TakePublicPart(record->bytes, blob, bits);
  for (std::size_t offset : kPrimeFieldOffsets)
    in = TakeReversed(record->bytes + offset, RSA_PRIME_BYTES, in, bits / 16);
  TakeReversed(record->bytes + rsa::kPrivateExponentOffset, RSA_MODULUS_BYTES, in, bits / 8);
  return Status::Ok;
}

void WriteSymmetricBlobHeader(uint8_t* out, uint32_t algId, uint32_t wrapAlgId) noexcept {
  out[0] = kSimpleBlobType;
  out[1] = kBlobVersion;
  out[2] = out[3] = 0;
  StoreLe32(out + 4, algId);
  StoreLe32(out + 8, wrapAlgId);
}

Status SymmetricBlobKey(const uint8_t* blob, uint32_t length, const uint8_t** key,
                        uint32_t* keyLength) noexcept {
  if (length <= kSymmetricBlobHeaderBytes) return Status::Failed;
  *key = blob + kSymmetricBlobHeaderBytes;
  *keyLength = length - kSymmetricBlobHeaderBytes;
  return Status::Ok;
}

}  // namespace marlinok::keyblob
