#ifndef MARLINOK_STORE_KEY_PROPERTY_H
#define MARLINOK_STORE_KEY_PROPERTY_H

#include <cstdint>

#include "core/status.h"
#include "marlinok.h"

namespace marlinok::store {

// The algorithm of the pair a key reference names, from its value name alone:
// CALG_RSA_KEYX for "PukExh"/"PvkExh", CALG_RSA_SIGN for "PukSig"/"PvkSig"
// (tested last, so it wins when both appear), else 0. Failed for a malformed
// reference.
Status KeyAlgorithm(const DataBlob* keyRef, uint32_t* algId);

}  // namespace marlinok::store

#endif
