// Exports of the container store that are not built yet: they fail.
#include "marlinok.h"

extern "C" {

MARLINOK_API int32_t MARLINOK_CALL QM_ExportPublicKey(const DataBlob*, DataBlob*) {
  return ERR_FAILED;
}
MARLINOK_API int32_t MARLINOK_CALL QM_ExportPrivateKey(const DataBlob*, DataBlob*, DataBlob*,
                                                       uint32_t) {
  return ERR_REFUSED;
}
MARLINOK_API int32_t MARLINOK_CALL QM_GetKeyProperty(const DataBlob*, uint32_t, uint8_t*,
                                                     uint32_t*) {
  return ERR_FAILED;
}

}  // extern "C"
