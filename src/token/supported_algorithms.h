// The algorithms the token offers, in the order it lists them. Single DES is
// accepted by the cipher calls but not listed.
#ifndef MARLINOK_TOKEN_SUPPORTED_ALGORITHMS_H
#define MARLINOK_TOKEN_SUPPORTED_ALGORITHMS_H

#include <cstdint>

#include "marlinok.h"

namespace marlinok::token {

constexpr uint32_t kSupportedAlgorithms[] = {CALG_MD5,      CALG_SHA1, CALG_RSA_SIGN,
                                             CALG_RSA_KEYX, CALG_3DES, CALG_RC4};
constexpr uint32_t kSupportedAlgorithmCount =
    sizeof kSupportedAlgorithms / sizeof kSupportedAlgorithms[0];

}  // namespace marlinok::token

#endif
