#include "token/symmetric_keys.h"

#include <cstring>

#include "core/size_query.h"
#include "core/wipe.h"
#include "keyblob/key_blob.h"
#include "random/random_pool.h"
#include "rsa/key_record.h"
#include "rsa/rsa_block_ops.h"
#include "token/key_table.h"

namespace marlinok::token {
namespace {

using keyblob::kSymmetricBlobHeaderBytes;

constexpr uint32_t kTripleDesKeyBytes = 24;
constexpr uint32_t kTripleDesPartBytes = 8;

// The generator reads the clock afresh on every call, so each part of a 3DES
// key must be drawn at a later clock reading than the part before it. The
// volatile counter keeps the compiler from removing the loop.
void PauseBetweenDraws() noexcept {
  for (volatile uint32_t i = 0; i < 10000000; i = i + 1) {
  }
}

}  // namespace

Status GenerateTripleDesKey(DataBlob& key) {
  uint8_t material[kTripleDesKeyBytes];
  WipeOnExit<decltype(material)> wipe(material);
  for (uint32_t part = 0; part < kTripleDesKeyBytes / kTripleDesPartBytes; ++part) {
    DrawFreshRandom(material + part * kTripleDesPartBytes, kTripleDesPartBytes);
    PauseBetweenDraws();
  }
  std::memcpy(key.data, material, sizeof material);
  KeyTableAppend(key);
  return Status::Ok;
}

Status GenerateRc4Key(DataBlob& key) {
  // A zero-length RC4 key cannot be set up.
  if (key.length == 0 || key.length > kMaxFreshRandomBytes) return Status::Failed;
  DrawFreshRandom(key.data, key.length);
  KeyTableAppend(key);
  return Status::Ok;
}

Status ImportSymmetricKeyBlob(const DataBlob& blob, DataBlob& key) {
  const uint8_t* keyBytes = nullptr;
  uint32_t keyLength = 0;
  if (keyblob::SymmetricBlobKey(blob.data, blob.length, &keyBytes, &keyLength) != Status::Ok)
    return Status::Failed;
  key.length = keyLength;
  if (key.data == nullptr) return Status::Ok;
  std::memcpy(key.data, keyBytes, keyLength);
  KeyTableAppend(key);
  return Status::Ok;
}

Status ExportSymmetricKeyBlob(const DataBlob& key, DataBlob& output, uint32_t algId) {
  if (key.data == nullptr && key.length != 0) return Status::Failed;
  const uint64_t size = uint64_t{key.length} + kSymmetricBlobHeaderBytes;
  if (size > UINT32_MAX) return Status::Failed;
  if (output.data == nullptr || output.length != size) {
    output.length = static_cast<uint32_t>(size);
    return Status::Ok;
  }
  keyblob::WriteSymmetricBlobHeader(output.data, algId, 0);
  if (key.length != 0) std::memcpy(output.data + kSymmetricBlobHeaderBytes, key.data, key.length);
  return Status::Ok;
}

Status ExportWrappedSymmetricKeyBlob(const DataBlob& key, const uint8_t* wrapRecord,
                                     DataBlob& output, uint32_t algId) {
  if (key.data == nullptr || key.length == 0) return Status::Failed;
  rsa::PublicKeyRecord record;
  std::memcpy(record.bytes, wrapRecord, sizeof record.bytes);
  const uint32_t bits = rsa::ReadModulusBits(record.bytes);
  if (bits > 8 * rsa::RSA_MODULUS_BYTES) return Status::Failed;
  const uint32_t k = rsa::ModulusBytes(bits);

  uint8_t wrapped[rsa::RSA_MODULUS_BYTES];
  RandomPool pool{};
  WipeOnExit<RandomPool> wipePool(pool);
  SeedPoolFromClockReadings(&pool);
  uint32_t wrappedLength = 0;
  if (rsa::RsaEncryptPublicPkcs1(wrapped, &wrappedLength, key.data, key.length, &record, &pool) !=
      Status::Ok)
    return Status::Failed;
  if (AnswerSizeQuery(output.data, &output.length, k + kSymmetricBlobHeaderBytes))
    return Status::Ok;
  keyblob::WriteSymmetricBlobHeader(output.data, algId, CALG_RSA_KEYX);
  std::memcpy(output.data + kSymmetricBlobHeaderBytes, wrapped, k);
  output.length = k + kSymmetricBlobHeaderBytes;
  return Status::Ok;
}

}  // namespace marlinok::token
