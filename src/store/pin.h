// The token's one PIN, kept as the REG_SZ value Passwd of the container root.
// No log-in state is kept: nothing else asks for one.
#ifndef MARLINOK_STORE_PIN_H
#define MARLINOK_STORE_PIN_H

#include "core/status.h"

namespace marlinok::store {

// Ok when `pin` equals the stored PIN (which ends at its first NUL or at the
// end of the value); Failed when it differs or the root key is missing;
// Refused when no PIN is stored.
Status CheckPin(const char* pin);

// Ok when stored; StoreNotOpened when the root key does not exist (it is not
// created here); Failed when the write was refused.
Status StorePin(const char* pin);

}  // namespace marlinok::store

#endif
