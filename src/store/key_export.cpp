// QM_ExportPublicKey and QM_ExportPrivateKey: stored key records as CryptoAPI
// key blobs, the private one optionally encrypted after its 8-byte header.
#include <algorithm>
#include <cstring>

#include "core/secret_buffer.h"
#include "frame/export_guard.h"
#include "rsa/key_record.h"
#include "store/key_blob.h"
#include "store/key_property.h"
#include "store/key_record_store.h"

namespace marlinok::store {
namespace {

using rsa::RSA_MODULUS_BYTES;
using rsa::RSA_PRIME_BYTES;

constexpr uint32_t kMaxModulusBits = 8 * RSA_MODULUS_BYTES;

// Copies the last `width` bytes of a record field, reversed: the blob holds
// numbers least significant byte first.
uint8_t* PutReversed(uint8_t* out, const uint8_t* field, std::size_t fieldBytes,
                     std::size_t width) {
  std::memcpy(out, field + fieldBytes - width, width);
  ReverseBytes(out, width);
  return out + width;
}

// BLOBHEADER and RSAPUBKEY: 20 bytes.
uint8_t* PutHeader(uint8_t* out, uint8_t type, uint32_t algId, uint32_t magic,
                   const uint8_t* record) {
  out[0] = type;
  out[1] = kBlobVersion;
  out[2] = out[3] = 0;
  StoreLe32(out + 4, algId);
  StoreLe32(out + 8, magic);
  std::memcpy(out + 12, record + rsa::kModulusBitsOffset, 4);
  // pubexp: the last four bytes of the exponent field.
  return PutReversed(out + 16, record + rsa::kPublicExponentOffset, RSA_MODULUS_BYTES, 4);
}

int32_t ExportPublicKey(const DataBlob* keyRef, DataBlob* blob) {
  SecretBuffer record;
  if (ReadKeyRecord(keyRef, &record) != Status::Ok) return ERR_FAILED;
  if (record.size() < rsa::kPublicRecordBytes) return ERR_FAILED;
  uint32_t algId = 0;
  if (KeyAlgorithm(keyRef, &algId) != Status::Ok) return ERR_FAILED;
  // The blob holds B/8 modulus bytes: any other length would truncate n.
  const uint32_t bits = rsa::ReadModulusBits(record.data());
  if (bits % 8 != 0 || bits > kMaxModulusBits) return ERR_FAILED;

  const uint32_t size = PublicBlobBytes(bits);
  uint8_t out[kBlobHeaderBytes + RSA_MODULUS_BYTES];
  uint8_t* p = PutHeader(out, kPublicKeyBlobType, algId, kRsaPublicMagic, record.data());
  PutReversed(p, record.data() + rsa::kModulusOffset, RSA_MODULUS_BYTES, bits / 8);
  // The caller's length is not consulted: it learned the size from a first call.
  blob->length = size;
  if (blob->data != nullptr) std::memcpy(blob->data, out, size);
  return ERR_OK;
}

void WritePrivateBlob(uint8_t* out, const uint8_t* record, uint32_t algId) {
  const uint32_t bits = rsa::ReadModulusBits(record);
  const std::size_t b8 = bits / 8, b16 = bits / 16;
  uint8_t* p = PutHeader(out, kPrivateKeyBlobType, algId, kRsaPrivateMagic, record);
  p = PutReversed(p, record + rsa::kModulusOffset, RSA_MODULUS_BYTES, b8);
  for (std::size_t offset : {rsa::kPrime1Offset, rsa::kPrime2Offset, rsa::kExponent1Offset,
                             rsa::kExponent2Offset, rsa::kCoefficientOffset})
    p = PutReversed(p, record + offset, RSA_PRIME_BYTES, b16);
  PutReversed(p, record + rsa::kPrivateExponentOffset, RSA_MODULUS_BYTES, b8);
}

int32_t ExportPrivateKey(const DataBlob* keyRef, DataBlob* wrapKey, DataBlob* blob,
                         uint32_t wrapAlgId) {
  SecretBuffer record;
  if (ReadKeyRecord(keyRef, &record) != Status::Ok) return ERR_REFUSED;
  if (record.size() < rsa::kPrivateRecordBytes) return ERR_REFUSED;
  // Prime-sized fields are B/16 bytes in the blob: other lengths would be truncated.
  const uint32_t bits = rsa::ReadModulusBits(record.data());
  if (bits % 16 != 0 || bits > kMaxModulusBits) return ERR_REFUSED;
  uint32_t keyAlgId = 0;
  (void)KeyAlgorithm(keyRef, &keyAlgId);

  const uint32_t plainSize = PrivateBlobBytes(bits);
  // 3DES pads what follows the header to whole blocks, always by 1 to 8 bytes.
  const uint32_t body = plainSize - kBlobHeaderClearBytes;
  const uint32_t paddedBody = body + 8 - body % 8;
  const uint32_t answer = wrapAlgId == CALG_3DES ? kBlobHeaderClearBytes + paddedBody : plainSize;
  const bool wrapped = wrapKey != nullptr;
  if (blob->data == nullptr || blob->length < plainSize ||
      (wrapped && wrapAlgId == CALG_3DES && blob->length < answer)) {
    blob->length = answer;
    return ERR_OK;
  }

  SecretBuffer out(std::max(plainSize, answer));
  WritePrivateBlob(out.data(), record.data(), keyAlgId);
  uint32_t size = plainSize;
  int32_t result = ERR_OK;
  if (wrapped) {
    uint8_t* bodyBytes = out.data() + kBlobHeaderClearBytes;
    uint32_t outLength = body;
    if (wrapAlgId == CALG_3DES) {
      std::memset(bodyBytes + body, static_cast<int>(paddedBody - body), paddedBody - body);
      outLength = paddedBody;
      if (QM_SymmetricEncrypt(wrapKey, 0, 2, bodyBytes, paddedBody, bodyBytes, &outLength,
                              CALG_3DES, CRYPT_MODE_CBC) != ERR_OK)
        return ERR_WRAP_FAILED;  // nothing handed out: the key stays unexposed
      size = kBlobHeaderClearBytes + outLength;
    } else if (wrapAlgId == CALG_RC4) {
      if (QM_SymmetricEncrypt(wrapKey, 0, 2, bodyBytes, body, bodyBytes, &outLength, CALG_RC4,
                              CRYPT_MODE_CBC) != ERR_OK)
        return ERR_WRAP_FAILED;
    } else {
      // An algorithm that cannot wrap: the plain blob is handed out with status 1.
      result = ERR_REFUSED;
    }
  }
  // The whole caller buffer is cleared, then the blob goes at its start. An
  // unwrapped blob leaves the length as the caller gave it.
  std::memset(blob->data, 0, blob->length);
  std::memcpy(blob->data, out.data(), size);
  if (wrapped) blob->length = size;
  return result;
}

}  // namespace
}  // namespace marlinok::store

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_ExportPublicKey(const DataBlob* keyRef,
                                                                 DataBlob* blob) {
  if (blob == nullptr) return ERR_FAILED;
  return marlinok::Guarded(ERR_FAILED,
                           [&] { return marlinok::store::ExportPublicKey(keyRef, blob); });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_ExportPrivateKey(const DataBlob* keyRef,
                                                                  DataBlob* wrapKey, DataBlob* blob,
                                                                  uint32_t algId) {
  if (blob == nullptr) return ERR_REFUSED;
  return marlinok::Guarded(
      ERR_REFUSED, [&] { return marlinok::store::ExportPrivateKey(keyRef, wrapKey, blob, algId); });
}
