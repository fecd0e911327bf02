// Exports of the symmetric cipher engine that are not built yet: they fail.
#include "marlinok.h"

extern "C" {

MARLINOK_API int32_t MARLINOK_CALL QM_SymmetricEncrypt(DataBlob*, uint32_t, uint32_t,
                                                       const uint8_t*, uint32_t, uint8_t*,
                                                       uint32_t*, uint32_t, uint32_t) {
  return ERR_FAILED;
}

MARLINOK_API int32_t MARLINOK_CALL QM_SymmetryDecrypt(DataBlob*, uint32_t, uint32_t, const uint8_t*,
                                                      uint32_t, uint8_t*, uint32_t*, uint32_t,
                                                      uint32_t) {
  return ERR_FAILED;
}

}  // extern "C"
