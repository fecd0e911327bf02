// QM_ImportPublicKey and QM_ImportPrivateKey: CryptoAPI key blobs into key
// records. Every number in a blob is little-endian; the records hold them
// big-endian and right-aligned, so each component is copied to the end of its
// field and reversed there.
#include <cstring>

#include "core/secret_buffer.h"
#include "frame/export_guard.h"
#include "frame/key_table.h"
#include "rsa/key_record.h"
#include "store/key_blob.h"
#include "store/key_record_store.h"
#include "store/registry_layout.h"

namespace marlinok::rsa {
namespace {

using store::kBlobHeaderBytes;
using store::LoadLe32;
using store::ReverseBytes;

constexpr uint32_t kMaxModulusBits = 8 * RSA_MODULUS_BYTES;

// Copies `width` little-endian bytes to the end of a record field, big-endian.
const uint8_t* TakeReversed(uint8_t* field, std::size_t fieldBytes, const uint8_t* in,
                            std::size_t width) {
  uint8_t* target = field + fieldBytes - width;
  std::memcpy(target, in, width);
  ReverseBytes(target, width);
  return in + width;
}

// modulusBits, the 32-bit public exponent and the modulus: the public record,
// which is also the head of the private one.
const uint8_t* TakePublicPart(uint8_t* record, const uint8_t* blob, uint32_t bits) {
  WriteModulusBits(record, bits);
  TakeReversed(record + kPublicExponentOffset, RSA_MODULUS_BYTES, blob + 16, 4);
  return TakeReversed(record + kModulusOffset, RSA_MODULUS_BYTES, blob + kBlobHeaderBytes,
                      bits / 8);
}

// A public blob holds 20 + B/8 bytes; B must be a whole number of bytes (the
// modulus would be truncated otherwise) and fit the record.
Status ImportPublicKey(const DataBlob& blob, DataBlob& output) {
  if (blob.length < kBlobHeaderBytes) return Status::Failed;
  const uint32_t bits = LoadLe32(blob.data + 12);
  if (bits % 8 != 0 || bits > kMaxModulusBits) return Status::Failed;
  if (blob.length < store::PublicBlobBytes(bits)) return Status::Failed;

  PublicKeyRecord record{};
  TakePublicPart(record.bytes, blob.data, bits);
  KeyTableAppend(output);  // may throw: before anything reaches the caller
  std::memcpy(output.data, record.bytes, sizeof record.bytes);
  return Status::Ok;
}

// A private blob holds 20 + 2·(B/8) + 5·(B/16) bytes. Only when B is a multiple
// of 16 do the fields hold the whole numbers (other lengths would be imported
// truncated, a silently wrong key).
Status ImportPrivateKey(const char* containerName, const DataBlob& blob, uint32_t pairType,
                        DataBlob* publicRef, DataBlob* privateRef) {
  if (blob.length < kBlobHeaderBytes) return Status::Failed;
  const uint32_t bits = LoadLe32(blob.data + 12);
  if (bits % 16 != 0 || bits > kMaxModulusBits) return Status::Failed;
  if (blob.length < store::PrivateBlobBytes(bits)) return Status::Failed;

  SecretBuffer privateRecord(kPrivateRecordBytes);
  uint8_t* record = privateRecord.data();
  const std::size_t half = bits / 16;
  const uint8_t* in = TakePublicPart(record, blob.data, bits);
  for (std::size_t offset :
       {kPrime1Offset, kPrime2Offset, kExponent1Offset, kExponent2Offset, kCoefficientOffset})
    in = TakeReversed(record + offset, RSA_PRIME_BYTES, in, half);
  TakeReversed(record + kPrivateExponentOffset, RSA_MODULUS_BYTES, in, bits / 8);

  // The public record is the private record's first 516 bytes.
  const DataBlob publicBlob{static_cast<uint32_t>(kPublicRecordBytes), record};
  const DataBlob privateBlob{static_cast<uint32_t>(kPrivateRecordBytes), record};
  // Imported pairs are always stored as exportable.
  return store::StoreKeyPair(containerName, pairType, 1, &publicBlob, &privateBlob, publicRef,
                             privateRef)
             ? Status::Ok
             : Status::Failed;
}

}  // namespace
}  // namespace marlinok::rsa

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_ImportPublicKey(const DataBlob* blob,
                                                                 uint32_t kind, DataBlob* output) {
  using namespace marlinok;
  if (blob == nullptr || blob->data == nullptr || kind == 0) return ERR_FAILED;
  if (output == nullptr || output->data == nullptr || output->length < rsa::kPublicRecordBytes)
    return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] { return ToInt(rsa::ImportPublicKey(*blob, *output)); });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_ImportPrivateKey(const char* containerName,
                                                                  const DataBlob* blob,
                                                                  uint32_t pairType,
                                                                  DataBlob* publicRef,
                                                                  DataBlob* privateRef) {
  using namespace marlinok;
  if (!store::IsValidContainerName(containerName)) return ERR_FAILED;
  if (blob == nullptr || blob->data == nullptr) return ERR_FAILED;
  if (publicRef == nullptr || privateRef == nullptr) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] {
    return ToInt(rsa::ImportPrivateKey(containerName, *blob, pairType, publicRef, privateRef));
  });
}
