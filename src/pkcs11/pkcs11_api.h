// The standard's types and constants, from p11-kit's pkcs11.h, and the
// byte-string type the module passes its values in.
#ifndef MARLINOK_PKCS11_PKCS11_API_H
#define MARLINOK_PKCS11_PKCS11_API_H

#include <p11-kit/pkcs11.h>

#include <cstdint>
#include <vector>

namespace marlinok::pkcs11 {

using Bytes = std::vector<uint8_t>;

}  // namespace marlinok::pkcs11

#endif
