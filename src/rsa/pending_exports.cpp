// Exports of the RSA engine that are not built yet: they fail.
#include "marlinok.h"

extern "C" {

MARLINOK_API int32_t MARLINOK_CALL QM_ImportPublicKey(const DataBlob*, uint32_t, DataBlob*) {
  return ERR_FAILED;
}
MARLINOK_API int32_t MARLINOK_CALL QM_ImportPrivateKey(const char*, const DataBlob*, uint32_t,
                                                       DataBlob*, DataBlob*) {
  return ERR_FAILED;
}
MARLINOK_API int32_t MARLINOK_CALL QM_ExportSymmetricKey(const DataBlob*, const DataBlob*,
                                                         DataBlob*, uint32_t) {
  return ERR_FAILED;
}
MARLINOK_API int32_t MARLINOK_CALL QM_GetSupportedAlgId(uint32_t*, uint32_t*) { return ERR_FAILED; }

}  // extern "C"
