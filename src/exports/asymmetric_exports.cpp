// QM_AsymmetricEncrypt, QM_AsymmetricDecrypt, QM_AsymmetricSignData and
// QM_AsymmetricVerifySign: one raw RSA operation each on the caller's bytes,
// with a stored key (key reference) or, for the public operations, a public
// record given directly. No padding is added or checked. Encryption and
// decryption announce themselves on standard output, four fixed lines that
// callers of this interface see.
#include <cstdio>

#include "exports/export_guard.h"
#include "marlinok.h"
#include "token/key_operation.h"

namespace marlinok::exports {
namespace {

using token::KeyUse;

void PrintLine(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void PrintStatusLine(const char* format, Status status) {
  std::printf(format, ToInt(status));
  std::fflush(stdout);
}

uint32_t AlgorithmOf(KeyUse use) {
  return use == KeyUse::Encrypt || use == KeyUse::Decrypt ? CALG_RSA_KEYX : CALG_RSA_SIGN;
}

// Read the key, check the algorithm, answer a size query, then run the one
// raw operation.
int32_t Asymmetric(KeyUse use, const DataBlob& key, uint8_t* output, uint32_t* outputLength,
                   const uint8_t* input, uint32_t inputLength, uint32_t algId) {
  token::OperationKey operationKey;
  if (token::LoadOperationKey(use, key, &operationKey) != Status::Ok) return ERR_FAILED;
  if (algId != AlgorithmOf(use)) return ERR_FAILED;

  // The output buffer is taken to hold k bytes; its stated length is not
  // read. Verify answers its size query with -1.
  if (output == nullptr) {
    *outputLength = operationKey.OutputBytes();
    return use == KeyUse::Verify ? ERR_FAILED : ERR_OK;
  }

  // The start line is printed under the operation's lock, the end line after it.
  const Status status =
      token::RunKeyOperation(operationKey, output, outputLength, input, inputLength, [use] {
        if (use == KeyUse::Encrypt) PrintLine("start encrypt.....\n");
        if (use == KeyUse::Decrypt) PrintLine("\nstart decrypt.....\n");
      });
  if (use == KeyUse::Encrypt) PrintStatusLine("end encrypt.....status=%d\n", status);
  if (use == KeyUse::Decrypt) {
    PrintStatusLine("\nend decrypt......status=%d\n", status);
    return status == Status::DataRange || status == Status::Length ? ERR_DECRYPT_REJECTED : ERR_OK;
  }
  return ToInt(status);
}

int32_t GuardedAsymmetric(KeyUse use, const DataBlob* key, uint8_t* output, uint32_t* outputLength,
                          const uint8_t* input, uint32_t inputLength, uint32_t algId) {
  if (key == nullptr || key->data == nullptr || outputLength == nullptr) return ERR_FAILED;
  // A size query never reads the input; a call that runs the operation does.
  if (output != nullptr && input == nullptr && inputLength != 0) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] {
    return Asymmetric(use, *key, output, outputLength, input, inputLength, algId);
  });
}

}  // namespace
}  // namespace marlinok::exports

using marlinok::exports::GuardedAsymmetric;
using marlinok::token::KeyUse;

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_AsymmetricEncrypt(
    const DataBlob* key, uint32_t /*reserved1*/, uint32_t /*reserved2*/, uint8_t* output,
    uint32_t* outputLength, const uint8_t* input, uint32_t inputLength, uint32_t algId) {
  return GuardedAsymmetric(KeyUse::Encrypt, key, output, outputLength, input, inputLength, algId);
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_AsymmetricDecrypt(
    const DataBlob* key, uint32_t /*reserved1*/, uint32_t /*reserved2*/, uint8_t* output,
    uint32_t* outputLength, const uint8_t* input, uint32_t inputLength, uint32_t algId) {
  return GuardedAsymmetric(KeyUse::Decrypt, key, output, outputLength, input, inputLength, algId);
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL
QM_AsymmetricSignData(const DataBlob* key, const uint8_t* data, uint32_t dataLength,
                      uint8_t* signature, uint32_t* signatureLength, uint32_t algId) {
  return GuardedAsymmetric(KeyUse::Sign, key, signature, signatureLength, data, dataLength, algId);
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL
QM_AsymmetricVerifySign(const DataBlob* key, uint8_t* block, uint32_t* blockLength,
                        const uint8_t* signature, uint32_t signatureLength, uint32_t algId) {
  return GuardedAsymmetric(KeyUse::Verify, key, block, blockLength, signature, signatureLength,
                           algId);
}
