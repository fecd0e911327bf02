#include "token/key_blobs.h"

#include <algorithm>
#include <cstring>

#include "core/secret_buffer.h"
#include "core/wipe.h"
#include "keyblob/key_blob.h"
#include "rsa/key_record.h"
#include "store/registry_layout.h"
#include "symmetric/symmetric_call.h"
#include "token/key_table.h"
#include "token/stored_records.h"

namespace marlinok::token {

using keyblob::kBlobHeaderClearBytes;

Status ExportPublicKeyBlob(const DataBlob* keyRef, DataBlob* blob) {
  rsa::PublicKeyRecord record;
  if (ReadStoredRecord(keyRef, &record) != Status::Ok) return Status::Failed;
  uint32_t algId = 0;
  if (store::KeyAlgorithm(keyRef, &algId) != Status::Ok) return Status::Failed;
  uint8_t out[keyblob::kMaxPublicBlobBytes];
  uint32_t size = 0;
  if (keyblob::WritePublicKeyBlob(record, algId, out, &size) != Status::Ok) return Status::Failed;
  blob->length = size;
  if (blob->data != nullptr) std::memcpy(blob->data, out, size);
  return Status::Ok;
}

namespace {

// Encrypts the `body` bytes after the header in place, 3DES-CBC padded to
// whole blocks (room for the padding follows them) or RC4; `*size` becomes
// the wrapped blob's size. WrapFailed when the cipher refuses the key.
Status WrapBody(uint8_t* body, uint32_t bodyLength, uint32_t paddedLength, DataBlob* wrapKey,
                uint32_t wrapAlgId, uint32_t* size) {
  uint32_t outLength = bodyLength;
  if (wrapAlgId == CALG_3DES) {
    std::memset(body + bodyLength, static_cast<int>(paddedLength - bodyLength),
                paddedLength - bodyLength);
    outLength = paddedLength;
    if (symmetric::SymmetricCall(symmetric::Direction::Encrypt, wrapKey, body, paddedLength, body,
                                 &outLength, CALG_3DES, CRYPT_MODE_CBC) != Status::Ok)
      return Status::WrapFailed;
    *size = kBlobHeaderClearBytes + outLength;
    return Status::Ok;
  }
  // RC4 runs whatever mode is named; the blob keeps its size.
  if (symmetric::SymmetricCall(symmetric::Direction::Encrypt, wrapKey, body, bodyLength, body,
                               &outLength, CALG_RC4, CRYPT_MODE_CBC) != Status::Ok)
    return Status::WrapFailed;
  return Status::Ok;
}

}  // namespace

Status ExportPrivateKeyBlob(const DataBlob* keyRef, DataBlob* wrapKey, DataBlob* blob,
                            uint32_t wrapAlgId) {
  rsa::PrivateKeyRecord record;
  WipeOnExit<rsa::PrivateKeyRecord> wipeRecord(record);
  if (ReadStoredRecord(keyRef, &record) != Status::Ok) return Status::Refused;
  const uint32_t bits = rsa::ReadModulusBits(record.bytes);
  if (!keyblob::PrivateBlobHoldsModulus(bits)) return Status::Refused;
  uint32_t keyAlgId = 0;
  (void)store::KeyAlgorithm(keyRef, &keyAlgId);

  const uint32_t plainSize = keyblob::PrivateBlobBytes(bits);
  // 3DES pads what follows the header to whole blocks, always by 1 to 8 bytes.
  const uint32_t body = plainSize - kBlobHeaderClearBytes;
  const uint32_t paddedBody = body + 8 - body % 8;
  const uint32_t answer = wrapAlgId == CALG_3DES ? kBlobHeaderClearBytes + paddedBody : plainSize;
  const bool wrapped = wrapKey != nullptr;
  if (blob->data == nullptr || blob->length < plainSize ||
      (wrapped && wrapAlgId == CALG_3DES && blob->length < answer)) {
    blob->length = answer;
    return Status::Ok;
  }

  SecretBuffer out(std::max(plainSize, answer));
  uint32_t size = 0;
  (void)keyblob::WritePrivateKeyBlob(record, keyAlgId, out.data(), &size);
  Status result = Status::Ok;
  if (wrapped) {
    if (wrapAlgId == CALG_3DES || wrapAlgId == CALG_RC4) {
      // Nothing is handed out when wrapping fails: the key stays unexposed.
      const Status wrap =
          WrapBody(out.data() + kBlobHeaderClearBytes, body, paddedBody, wrapKey, wrapAlgId, &size);
      if (wrap != Status::Ok) return wrap;
    } else {
      // An algorithm that cannot wrap: the plain blob is handed out, refused.
      result = Status::Refused;
    }
  }
  // The whole caller buffer is cleared, then the blob goes at its start. An
  // unwrapped blob leaves the length as the caller gave it.
  std::memset(blob->data, 0, blob->length);
  std::memcpy(blob->data, out.data(), size);
  if (wrapped) blob->length = size;
  return result;
}

Status ImportPublicKeyBlob(const DataBlob& blob, DataBlob& output) {
  rsa::PublicKeyRecord record;
  if (keyblob::ReadPublicKeyBlob(blob.data, blob.length, &record) != Status::Ok)
    return Status::Failed;
  KeyTableAppend(output);  // may throw: before anything reaches the caller
  std::memcpy(output.data, record.bytes, sizeof record.bytes);
  return Status::Ok;
}

}  // namespace marlinok::token
