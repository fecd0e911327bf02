// QM_ExportSymmetricKey: a symmetric key in a SIMPLEBLOB-shaped blob, plain or
// wrapped under an RSA public key with PKCS #1 v1.5 type-2 padding.
#include <cstring>

#include "core/wipe.h"
#include "frame/export_guard.h"
#include "keyblob/key_blob.h"
#include "random/random_pool.h"
#include "rsa/key_record.h"
#include "rsa/rsa_block_ops.h"

namespace marlinok::rsa {
namespace {

using keyblob::kSymmetricBlobHeaderBytes;

// The key wrapped under the public record at `wrapRecord`: the k-byte RSA
// output, big-endian, after the header. The padding comes from a pool seeded
// from the clock now, so two exports of one key differ.
int32_t ExportWrapped(const DataBlob& key, const uint8_t* wrapRecord, DataBlob& output,
                      uint32_t algId) {
  if (key.data == nullptr || key.length == 0) return ERR_FAILED;
  const auto* record = reinterpret_cast<const PublicKeyRecord*>(wrapRecord);
  const uint32_t bits = ReadModulusBits(record->bytes);
  if (bits > 8 * RSA_MODULUS_BYTES) return ERR_FAILED;  // the record cannot hold such a modulus
  const uint32_t k = ModulusBytes(bits);

  uint8_t wrapped[RSA_MODULUS_BYTES];
  RandomPool pool{};
  WipeOnExit<RandomPool> wipePool(pool);
  SeedPoolFromClockReadings(&pool);
  uint32_t wrappedLength = 0;
  if (RsaEncryptPublicPkcs1(wrapped, &wrappedLength, key.data, key.length, record, &pool) !=
      Status::Ok)
    return ERR_FAILED;  // key longer than k - 11, or a record it cannot use
  // The size query is answered after the encryption, which has run all the same.
  if (AnswerSizeQuery(output.data, &output.length, k + kSymmetricBlobHeaderBytes)) return ERR_OK;
  keyblob::WriteSymmetricBlobHeader(output.data, algId, CALG_RSA_KEYX);
  std::memcpy(output.data + kSymmetricBlobHeaderBytes, wrapped, k);
  output.length = k + kSymmetricBlobHeaderBytes;
  return ERR_OK;
}

// A plain blob is written only into a buffer of exactly L + 12 bytes; any
// other length, larger too, is answered with the length.
int32_t ExportPlain(const DataBlob& key, DataBlob& output, uint32_t algId) {
  if (key.data == nullptr && key.length != 0) return ERR_FAILED;
  const uint64_t size = uint64_t{key.length} + kSymmetricBlobHeaderBytes;
  if (size > UINT32_MAX) return ERR_FAILED;
  if (output.data == nullptr || output.length != size) {
    output.length = static_cast<uint32_t>(size);
    return ERR_OK;
  }
  keyblob::WriteSymmetricBlobHeader(output.data, algId, 0);
  if (key.length != 0) std::memcpy(output.data + kSymmetricBlobHeaderBytes, key.data, key.length);
  return ERR_OK;
}

}  // namespace
}  // namespace marlinok::rsa

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_ExportSymmetricKey(const DataBlob* key,
                                                                    const DataBlob* wrapKey,
                                                                    DataBlob* output,
                                                                    uint32_t algId) {
  using namespace marlinok;
  if (key == nullptr || output == nullptr) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] {
    if (wrapKey == nullptr) return rsa::ExportPlain(*key, *output, algId);
    if (wrapKey->data == nullptr) return ERR_FAILED;
    return rsa::ExportWrapped(*key, wrapKey->data, *output, algId);
  });
}
