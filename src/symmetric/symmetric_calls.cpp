// QM_SymmetricEncrypt and QM_SymmetryDecrypt: argument checks, the size query,
// then one whole message through DES, 3DES or RC4.
//
// Order of the checks: the algorithm first (-1 even for a size query), then
// the size query, then the rest. A DES or 3DES mode outside 1..4, a missing
// key, key data or input, and an empty RC4 key are -1 with nothing written,
// the key bytes included.
#include "frame/export_guard.h"
#include "marlinok.h"
#include "symmetric/symmetric_message.h"

namespace marlinok::symmetric {
namespace {

int32_t SymmetricCall(Direction direction, DataBlob* key, const uint8_t* input,
                      uint32_t inputLength, uint8_t* output, uint32_t* outputLength, uint32_t algId,
                      uint32_t mode) noexcept {
  if (algId != CALG_DES && algId != CALG_3DES && algId != CALG_RC4) return ERR_FAILED;
  if (outputLength == nullptr) return ERR_FAILED;
  if (AnswerSizeQuery(output, outputLength, inputLength)) return ERR_OK;
  if (algId != CALG_RC4 && !IsBlockMode(mode)) return ERR_FAILED;
  if (key == nullptr || key->data == nullptr) return ERR_FAILED;
  if (input == nullptr && inputLength != 0) return ERR_FAILED;

  if (algId == CALG_RC4) {
    if (key->length == 0) return ERR_FAILED;
    // The output length keeps the caller's value on this path.
    Rc4Message(key->data, key->length, input, inputLength, output);
    return ERR_OK;
  }
  const BlockCipher cipher = algId == CALG_DES ? BlockCipher::Des : BlockCipher::TripleDes;
  return ToInt(BlockCipherMessage(cipher, static_cast<BlockMode>(mode), direction, key->data,
                                  key->length, input, inputLength, output, *outputLength));
}

}  // namespace
}  // namespace marlinok::symmetric

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_SymmetricEncrypt(
    DataBlob* key, uint32_t /*reserved1*/, uint32_t /*reserved2*/, const uint8_t* input,
    uint32_t inputLength, uint8_t* output, uint32_t* outputLength, uint32_t algId, uint32_t mode) {
  using namespace marlinok;
  return Guarded(ERR_FAILED, [&] {
    return symmetric::SymmetricCall(symmetric::Direction::Encrypt, key, input, inputLength, output,
                                    outputLength, algId, mode);
  });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_SymmetryDecrypt(
    DataBlob* key, uint32_t /*reserved1*/, uint32_t /*reserved2*/, const uint8_t* input,
    uint32_t inputLength, uint8_t* output, uint32_t* outputLength, uint32_t algId, uint32_t mode) {
  using namespace marlinok;
  return Guarded(ERR_FAILED, [&] {
    return symmetric::SymmetricCall(symmetric::Direction::Decrypt, key, input, inputLength, output,
                                    outputLength, algId, mode);
  });
}
