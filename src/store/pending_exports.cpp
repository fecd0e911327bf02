// Exports of the container store that are not built yet: they fail.
#include "marlinok.h"

extern "C" {

MARLINOK_API int32_t MARLINOK_CALL QM_CreateContainer(const char*) { return ERR_FAILED; }
MARLINOK_API int32_t MARLINOK_CALL QM_FindContainerAndKeypair(const char*, DataBlob*, DataBlob*,
                                                              DataBlob*, DataBlob*) {
  return ERR_FAILED;
}
MARLINOK_API int32_t MARLINOK_CALL QM_DestroyContainer(const char*) { return ERR_FAILED; }

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

MARLINOK_API int32_t MARLINOK_CALL QMCA_Login(int32_t, const char*) { return ERR_FAILED; }
MARLINOK_API int32_t MARLINOK_CALL QMCA_Logout(void) { return ERR_OK; }
MARLINOK_API int32_t MARLINOK_CALL QMCA_SetPin(int32_t, const char*) { return ERR_FAILED; }
MARLINOK_API int32_t MARLINOK_CALL QMCA_LockDevice(void) { return ERR_OK; }
MARLINOK_API int32_t MARLINOK_CALL QMCA_UnLock(uint32_t, uint32_t) { return ERR_OK; }
MARLINOK_API int32_t MARLINOK_CALL QMCA_Format(uint32_t, uint32_t) { return ERR_OK; }

MARLINOK_API int32_t MARLINOK_CALL QMCA_EnumCerstoreName(char*, uint32_t*) {
  return ERR_STORE_NOT_OPENED;
}
MARLINOK_API int32_t MARLINOK_CALL QMCA_EnumKeyContainerName(char*, uint32_t*) {
  return ERR_STORE_NOT_OPENED;
}
MARLINOK_API int32_t MARLINOK_CALL QMCA_ImportPrivateKey(const DataBlob*, const uint8_t*, uint32_t,
                                                         const DataBlob*) {
  return ERR_FAILED;
}
MARLINOK_API int32_t MARLINOK_CALL QMCA_ExportPrivateKey(const DataBlob*, const uint8_t*, uint32_t,
                                                         DataBlob*) {
  return ERR_REFUSED;
}

}  // extern "C"
