// Listing the subkeys of a store root (the certificate stores, the
// containers) as one "|"-joined string.
#ifndef MARLINOK_STORE_STORE_ENUMERATION_H
#define MARLINOK_STORE_STORE_ENUMERATION_H

#include <cstdint>

#include "core/status.h"

namespace marlinok::store {

// The names of the subkeys of `root` in the registry's order, joined with
// "|" into `names` (when non-null) with a terminating NUL. `*length` receives
// the sum of (name length + 1) of the names listed; the caller's buffer size
// is not consulted. Ok; StoreNotOpened when the root is missing; Refused when
// the registry fails or a name does not fit 49 characters, after the names
// before it were listed.
Status EnumerateSubkeys(const char* root, char* names, uint32_t* length);

}  // namespace marlinok::store

#endif
