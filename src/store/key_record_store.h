// Reading and writing the key records of a container. Both take the container
// store lock around their registry work.
#ifndef MARLINOK_STORE_KEY_RECORD_STORE_H
#define MARLINOK_STORE_KEY_RECORD_STORE_H

#include <cstdint>

#include "core/secret_buffer.h"
#include "core/status.h"
#include "marlinok.h"

namespace marlinok::store {

// Loads the record value a key reference names, whole. Failed when the
// reference is not of the form SplitRecordReference accepts, the key or value is missing, the value
// is empty, or the registry refuses; `record` is then unchanged.
Status ReadKeyRecord(const DataBlob* reference, SecretBuffer* record);

// Writes one pair into the container `containerName` (created if missing):
// bit 0 of `pairType` selects the exchange pair, else bit 1 the signature
// pair. The private record, the public record, the algorithm and the export
// flag (bit 0 of `exportable`) are written in that order, as one write: on
// the hive a failure or a crash leaves the pair as it was. The references'
// lengths are always set and their paths written where `data` is non-null.
// Ok when the pair was stored; Failed, with the references untouched, when
// the container key can't be created, `pairType` selects no kind, or a value
// write fails.
Status StoreKeyPair(const char* containerName, uint32_t pairType, uint32_t exportable,
                    const DataBlob* publicRecord, const DataBlob* privateRecord,
                    DataBlob* publicRef, DataBlob* privateRef);

}  // namespace marlinok::store

#endif
