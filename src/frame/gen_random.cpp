// QM_GenRandom: up to 16 bytes from a pool of the call's own.
#include "frame/export_guard.h"
#include "marlinok.h"
#include "random/random_pool.h"

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_GenRandom(DataBlob* blob) {
  using namespace marlinok;
  if (blob == nullptr || blob->length > kMaxFreshRandomBytes) return ERR_FAILED;
  if (blob->length == 0) return ERR_OK;
  if (blob->data == nullptr) return ERR_FAILED;
  DrawFreshRandom(blob->data, blob->length);
  return ERR_OK;
}
