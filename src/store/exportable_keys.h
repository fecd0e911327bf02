// The exportable-key store: opaque key bytes kept under an entry name below
// "Software\Quillmar\ExportableKey", handed back only against the password
// stored with them. The entry name is the NUL-terminated string at
// entryName->data (non-null).
#ifndef MARLINOK_STORE_EXPORTABLE_KEYS_H
#define MARLINOK_STORE_EXPORTABLE_KEYS_H

#include <cstdint>

#include "core/status.h"
#include "marlinok.h"

namespace marlinok::store {

// Creates the entry (or opens it) and writes the key bytes, then the
// password. Ok, or Failed when the registry refuses.
Status ImportGuardedKey(const DataBlob* key, const uint8_t* password, uint32_t passwordLength,
                        const DataBlob* entryName);

// The stored key bytes straight into key->data under the size-query rule of
// the registry. Ok; Failed for a wrong password; Refused when there is no
// such entry or password, or the buffer is null or too short (key->length
// then holds the count).
Status ExportGuardedKey(const DataBlob* entryName, const uint8_t* password, uint32_t passwordLength,
                        DataBlob* key);

}  // namespace marlinok::store

#endif
