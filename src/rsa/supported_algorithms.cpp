// QM_GetSupportedAlgId: the algorithms the token offers. Single DES is
// accepted by the cipher calls but not listed.
#include "frame/export_guard.h"
#include "marlinok.h"

namespace {
constexpr uint32_t kSupported[] = {CALG_MD5,      CALG_SHA1, CALG_RSA_SIGN,
                                   CALG_RSA_KEYX, CALG_3DES, CALG_RC4};
constexpr uint32_t kCount = sizeof kSupported / sizeof kSupported[0];
}  // namespace

extern "C" MARLINOK_API int32_t MARLINOK_CALL QM_GetSupportedAlgId(uint32_t* algIds,
                                                                   uint32_t* count) {
  if (count == nullptr) return ERR_FAILED;
  if (marlinok::AnswerSizeQuery(algIds, count, kCount)) return ERR_OK;
  for (uint32_t i = 0; i < kCount; ++i) algIds[i] = kSupported[i];
  *count = kCount;
  return ERR_OK;
}
