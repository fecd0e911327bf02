// The symmetric exports: QM_SymmetricEncrypt and QM_SymmetryDecrypt (DES,
// 3DES, RC4), QM_GenSymmetricKey, QM_ImportSymmetricKey and
// QM_ExportSymmetricKey. A symmetric key is the caller's DataBlob.
#include "exports/export_guard.h"
#include "marlinok.h"
#include "symmetric/symmetric_call.h"
#include "token/symmetric_keys.h"

using marlinok::Guarded;
using marlinok::ToInt;

namespace {

int32_t GuardedSymmetricCall(marlinok::symmetric::Direction direction, DataBlob* key,
                             const uint8_t* input, uint32_t inputLength, uint8_t* output,
                             uint32_t* outputLength, uint32_t algId, uint32_t mode) {
  return Guarded(ERR_FAILED, [&] {
    return ToInt(marlinok::symmetric::SymmetricCall(direction, key, input, inputLength, output,
                                                    outputLength, algId, mode));
  });
}

}  // namespace

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_SymmetricEncrypt(
    DataBlob* key, uint32_t /*reserved1*/, uint32_t /*reserved2*/, const uint8_t* input,
    uint32_t inputLength, uint8_t* output, uint32_t* outputLength, uint32_t algId, uint32_t mode) {
  return GuardedSymmetricCall(marlinok::symmetric::Direction::Encrypt, key, input, inputLength,
                              output, outputLength, algId, mode);
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_SymmetryDecrypt(
    DataBlob* key, uint32_t /*reserved1*/, uint32_t /*reserved2*/, const uint8_t* input,
    uint32_t inputLength, uint8_t* output, uint32_t* outputLength, uint32_t algId, uint32_t mode) {
  return GuardedSymmetricCall(marlinok::symmetric::Direction::Decrypt, key, input, inputLength,
                              output, outputLength, algId, mode);
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_GenSymmetricKey(uint32_t algId, DataBlob* key,
                                                                 uint32_t /*reserved*/) {
  using namespace marlinok::token;
  if (key == nullptr || key->data == nullptr) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] {
    switch (algId) {
      case CALG_3DES:
        return ToInt(GenerateTripleDesKey(*key));
      case CALG_RC4:
        return ToInt(GenerateRc4Key(*key));
      default:
        return ERR_FAILED;
    }
  });
}

// Fails with 1, not -1.
extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_ImportSymmetricKey(const DataBlob* blob,
                                                                    uint32_t algId, DataBlob* key) {
  if (blob == nullptr || blob->data == nullptr || key == nullptr) return ERR_REFUSED;
  if (algId != CALG_RC4 && algId != CALG_3DES) return ERR_REFUSED;
  return Guarded(ERR_REFUSED, [&] {
    return marlinok::token::ImportSymmetricKeyBlob(*blob, *key) == marlinok::Status::Ok
               ? ERR_OK
               : ERR_REFUSED;
  });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_ExportSymmetricKey(const DataBlob* key,
                                                                    const DataBlob* wrapKey,
                                                                    DataBlob* output,
                                                                    uint32_t algId) {
  using namespace marlinok::token;
  if (key == nullptr || output == nullptr) return ERR_FAILED;
  if (wrapKey != nullptr && wrapKey->data == nullptr) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] {
    return ToInt(wrapKey == nullptr
                     ? ExportSymmetricKeyBlob(*key, *output, algId)
                     : ExportWrappedSymmetricKeyBlob(*key, wrapKey->data, *output, algId));
  });
}
