// The container exports: QM_CreateContainer, QM_FindContainerAndKeypair and
// QM_DestroyContainer.
#include "exports/export_guard.h"
#include "marlinok.h"
#include "store/containers.h"
#include "store/registry_layout.h"

using marlinok::Guarded;
using marlinok::ToInt;
using marlinok::store::IsValidContainerName;

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_CreateContainer(const char* name) {
  if (!IsValidContainerName(name)) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] { return ToInt(marlinok::store::CreateContainer(name)); });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_FindContainerAndKeypair(const char* name,
                                                                         DataBlob* sigPublic,
                                                                         DataBlob* sigPrivate,
                                                                         DataBlob* exPublic,
                                                                         DataBlob* exPrivate) {
  if (!IsValidContainerName(name)) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] {
    return ToInt(
        marlinok::store::FindContainerAndKeypair(name, sigPublic, sigPrivate, exPublic, exPrivate));
  });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_DestroyContainer(const char* name) {
  if (!IsValidContainerName(name)) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] { return ToInt(marlinok::store::DestroyContainer(name)); });
}
