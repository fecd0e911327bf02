// QM_Digest is not built yet: it fails.
#include "marlinok.h"

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_Digest(uint8_t*, uint32_t*, const uint8_t*,
                                                        uint32_t, uint32_t) {
  return ERR_FAILED;
}
