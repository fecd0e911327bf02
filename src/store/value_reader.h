// Whole registry values into wiped buffers, read consistently while other
// threads or processes rewrite them.
#ifndef MARLINOK_STORE_VALUE_READER_H
#define MARLINOK_STORE_VALUE_READER_H

#include "core/secret_buffer.h"
#include "platform/registry.h"

namespace marlinok::store {

// The value `name` of `key`, whole, into `out` (replaced only on success). A
// value rewritten between the size query and the read, longer or shorter, is
// read again: what is handed back is one version of it, never a value
// reported missing because it changed. The registry's status otherwise.
platform::RegStatus ReadWholeValue(const platform::RegistryKey& key, const char* name,
                                   SecretBuffer* out);

}  // namespace marlinok::store

#endif
