// QM_AsymmetricEncrypt, QM_AsymmetricDecrypt, QM_AsymmetricSignData and
// QM_AsymmetricVerifySign: one raw RSA operation each on the caller's bytes,
// with a stored key (key reference) or, for the public operations, a public
// record given directly. No padding is added or checked.
#include <cstdio>
#include <cstring>

#include "core/locks.h"
#include "core/secret_buffer.h"
#include "frame/export_guard.h"
#include "marlinok.h"
#include "rsa/key_record.h"
#include "rsa/rsa_block_ops.h"
#include "store/key_record_store.h"
#include "store/registry_layout.h"

namespace marlinok::rsa {
namespace {

enum class Operation { Encrypt, Decrypt, Sign, Verify };

bool UsesPrivateKey(Operation op) { return op == Operation::Decrypt || op == Operation::Sign; }

// The record an operation works on: read from the store, or the caller's own
// bytes.
struct KeyInHand {
  SecretBuffer stored;
  const uint8_t* bytes = nullptr;
};

// A stored record at least `minimumSize` bytes long; a shorter one (a public
// record named where a private one is needed) would be read past its end.
Status LoadStoredRecord(const DataBlob* reference, std::size_t minimumSize, KeyInHand* key) {
  SecretBuffer record;
  if (store::ReadKeyRecord(reference, &record) != Status::Ok) return Status::Failed;
  if (record.size() < minimumSize) return Status::Failed;
  key->stored = std::move(record);
  key->bytes = key->stored.data();
  return Status::Ok;
}

// The public-key calls take a key reference when the C string at key->data
// contains the container root followed by a backslash, and a direct record
// otherwise. A record's modulusBits (at most 2048) has a zero byte in its
// first four, so the search stops inside the record. The length of a direct
// record is not consulted.
Status LoadPublicKey(const DataBlob* key, KeyInHand* out) {
  const std::string mark = std::string(store::kContainerRoot) + '\\';
  if (std::strstr(reinterpret_cast<const char*>(key->data), mark.c_str()) == nullptr) {
    out->bytes = key->data;
    return Status::Ok;
  }
  return LoadStoredRecord(key, kPublicRecordBytes, out);
}

void PrintLine(const char* format, int32_t status) {
  std::printf(format, status);
  std::fflush(stdout);
}

void PrintLine(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

// Read the key, check the algorithm, answer a size query, then run the one
// raw operation under the public or private key lock.
int32_t RunAsymmetric(Operation op, const DataBlob* key, uint8_t* output, uint32_t* outputLength,
                      const uint8_t* input, uint32_t inputLength, uint32_t algId) {
  const bool privateKey = UsesPrivateKey(op);
  KeyInHand record;
  const Status loaded = privateKey ? LoadStoredRecord(key, kPrivateRecordBytes, &record)
                                   : LoadPublicKey(key, &record);
  if (loaded != Status::Ok) return ERR_FAILED;

  const uint32_t expected =
      (op == Operation::Encrypt || op == Operation::Decrypt) ? CALG_RSA_KEYX : CALG_RSA_SIGN;
  if (algId != expected) return ERR_FAILED;

  // The output buffer is taken to hold k bytes; its stated length is not read.
  if (output == nullptr) {
    *outputLength = ModulusBytes(ReadModulusBits(record.bytes));
    return op == Operation::Verify ? ERR_FAILED : ERR_OK;
  }

  Status status = Status::Ok;
  {
    ScopedLibraryLock lock(privateKey ? LibraryLock::PrivateKey : LibraryLock::PublicKey);
    if (op == Operation::Encrypt) PrintLine("start encrypt.....\n");
    if (op == Operation::Decrypt) PrintLine("\nstart decrypt.....\n");
    status = privateKey ? RsaPrivateRawCrt(output, outputLength, input, inputLength,
                                           reinterpret_cast<const PrivateKeyRecord*>(record.bytes))
                        : RsaPublicRaw(output, outputLength, input, inputLength,
                                       reinterpret_cast<const PublicKeyRecord*>(record.bytes));
  }
  if (op == Operation::Encrypt) PrintLine("end encrypt.....status=%d\n", ToInt(status));
  if (op == Operation::Decrypt) {
    PrintLine("\nend decrypt......status=%d\n", ToInt(status));
    return status == Status::DataRange || status == Status::Length ? ERR_DECRYPT_REJECTED : ERR_OK;
  }
  return ToInt(status);
}

// Arguments every call needs; the rest is checked after the key is read.
bool ArgumentsUsable(const DataBlob* key, const uint32_t* outputLength, const uint8_t* input,
                     uint32_t inputLength) {
  return key != nullptr && key->data != nullptr && outputLength != nullptr &&
         (input != nullptr || inputLength == 0);
}

int32_t GuardedCall(Operation op, const DataBlob* key, uint8_t* output, uint32_t* outputLength,
                    const uint8_t* input, uint32_t inputLength, uint32_t algId) {
  if (!ArgumentsUsable(key, outputLength, input, inputLength)) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] {
    return RunAsymmetric(op, key, output, outputLength, input, inputLength, algId);
  });
}

}  // namespace
}  // namespace marlinok::rsa

using marlinok::rsa::GuardedCall;
using marlinok::rsa::Operation;

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_AsymmetricEncrypt(
    const DataBlob* key, uint32_t /*reserved1*/, uint32_t /*reserved2*/, uint8_t* output,
    uint32_t* outputLength, const uint8_t* input, uint32_t inputLength, uint32_t algId) {
  return GuardedCall(Operation::Encrypt, key, output, outputLength, input, inputLength, algId);
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_AsymmetricDecrypt(
    const DataBlob* key, uint32_t /*reserved1*/, uint32_t /*reserved2*/, uint8_t* output,
    uint32_t* outputLength, const uint8_t* input, uint32_t inputLength, uint32_t algId) {
  return GuardedCall(Operation::Decrypt, key, output, outputLength, input, inputLength, algId);
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL
QM_AsymmetricSignData(const DataBlob* key, const uint8_t* data, uint32_t dataLength,
                      uint8_t* signature, uint32_t* signatureLength, uint32_t algId) {
  return GuardedCall(Operation::Sign, key, signature, signatureLength, data, dataLength, algId);
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL
QM_AsymmetricVerifySign(const DataBlob* key, uint8_t* block, uint32_t* blockLength,
                        const uint8_t* signature, uint32_t signatureLength, uint32_t algId) {
  return GuardedCall(Operation::Verify, key, block, blockLength, signature, signatureLength, algId);
}
