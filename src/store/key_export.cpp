// QM_ExportPublicKey and QM_ExportPrivateKey: stored key records as CryptoAPI
// key blobs, the private one optionally encrypted after its 8-byte header.
#include <algorithm>
#include <cstring>

#include "core/secret_buffer.h"
#include "frame/export_guard.h"
#include "keyblob/key_blob.h"
#include "rsa/key_record.h"
#include "store/key_property.h"
#include "store/key_record_store.h"

namespace marlinok::store {
namespace {

int32_t ExportPublicKey(const DataBlob* keyRef, DataBlob* blob) {
  SecretBuffer record;
  if (ReadKeyRecord(keyRef, &record) != Status::Ok) return ERR_FAILED;
  if (record.size() < rsa::kPublicRecordBytes) return ERR_FAILED;
  uint32_t algId = 0;
  if (KeyAlgorithm(keyRef, &algId) != Status::Ok) return ERR_FAILED;
  rsa::PublicKeyRecord publicRecord;
  std::memcpy(publicRecord.bytes, record.data(), sizeof publicRecord.bytes);
  uint8_t out[keyblob::kMaxPublicBlobBytes];
  uint32_t size = 0;
  if (keyblob::WritePublicKeyBlob(publicRecord, algId, out, &size) != Status::Ok) return ERR_FAILED;
  // The caller's length is not consulted: it learned the size from a first call.
  blob->length = size;
  if (blob->data != nullptr) std::memcpy(blob->data, out, size);
  return ERR_OK;
}

int32_t ExportPrivateKey(const DataBlob* keyRef, DataBlob* wrapKey, DataBlob* blob,
                         uint32_t wrapAlgId) {
  SecretBuffer record;
  if (ReadKeyRecord(keyRef, &record) != Status::Ok) return ERR_REFUSED;
  if (record.size() < rsa::kPrivateRecordBytes) return ERR_REFUSED;
  // Prime-sized fields are B/16 bytes in the blob: other lengths would be truncated.
  const uint32_t bits = rsa::ReadModulusBits(record.data());
  if (!keyblob::PrivateBlobHoldsModulus(bits)) return ERR_REFUSED;
  uint32_t keyAlgId = 0;
  (void)KeyAlgorithm(keyRef, &keyAlgId);

  const uint32_t plainSize = keyblob::PrivateBlobBytes(bits);
  // 3DES pads what follows the header to whole blocks, always by 1 to 8 bytes.
  const uint32_t body = plainSize - keyblob::kBlobHeaderClearBytes;
  const uint32_t paddedBody = body + 8 - body % 8;
  const uint32_t answer =
      wrapAlgId == CALG_3DES ? keyblob::kBlobHeaderClearBytes + paddedBody : plainSize;
  const bool wrapped = wrapKey != nullptr;
  if (blob->data == nullptr || blob->length < plainSize ||
      (wrapped && wrapAlgId == CALG_3DES && blob->length < answer)) {
    blob->length = answer;
    return ERR_OK;
  }

  SecretBuffer out(std::max(plainSize, answer));
  rsa::PrivateKeyRecord privateRecord;
  WipeOnExit<rsa::PrivateKeyRecord> wipeRecord(privateRecord);
  std::memcpy(privateRecord.bytes, record.data(), sizeof privateRecord.bytes);
  uint32_t size = 0;
  (void)keyblob::WritePrivateKeyBlob(privateRecord, keyAlgId, out.data(), &size);
  int32_t result = ERR_OK;
  if (wrapped) {
    uint8_t* bodyBytes = out.data() + keyblob::kBlobHeaderClearBytes;
    uint32_t outLength = body;
    if (wrapAlgId == CALG_3DES) {
      std::memset(bodyBytes + body, static_cast<int>(paddedBody - body), paddedBody - body);
      outLength = paddedBody;
      if (QM_SymmetricEncrypt(wrapKey, 0, 2, bodyBytes, paddedBody, bodyBytes, &outLength,
                              CALG_3DES, CRYPT_MODE_CBC) != ERR_OK)
        return ERR_WRAP_FAILED;  // nothing handed out: the key stays unexposed
      size = keyblob::kBlobHeaderClearBytes + outLength;
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
