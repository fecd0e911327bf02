#include "symmetric/symmetric_call.h"

#include "core/size_query.h"
#include "symmetric/symmetric_message.h"

namespace marlinok::symmetric {

Status SymmetricCall(Direction direction, DataBlob* key, const uint8_t* input, uint32_t inputLength,
                     uint8_t* output, uint32_t* outputLength, uint32_t algId,
                     uint32_t mode) noexcept {
  if (algId != CALG_DES && algId != CALG_3DES && algId != CALG_RC4) return Status::Failed;
  if (outputLength == nullptr) return Status::Failed;
  if (AnswerSizeQuery(output, outputLength, inputLength)) return Status::Ok;
  if (algId != CALG_RC4 && !IsBlockMode(mode)) return Status::Failed;
  if (key == nullptr || key->data == nullptr) return Status::Failed;
  if (input == nullptr && inputLength != 0) return Status::Failed;

  if (algId == CALG_RC4) {
    if (key->length == 0) return Status::Failed;
    // The output length keeps the caller's value on this path.
    Rc4Message(key->data, key->length, input, inputLength, output);
    return Status::Ok;
  }
  const BlockCipher cipher = algId == CALG_DES ? BlockCipher::Des : BlockCipher::TripleDes;
  return BlockCipherMessage(cipher, static_cast<BlockMode>(mode), direction, key->data, key->length,
                            input, inputLength, output, *outputLength);
}

}  // namespace marlinok::symmetric
