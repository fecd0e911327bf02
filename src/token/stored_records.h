// Stored key records as typed copies. A key reference names one record value;
// the copy is the value's first bytes, read under the container store lock.
#ifndef MARLINOK_TOKEN_STORED_RECORDS_H
#define MARLINOK_TOKEN_STORED_RECORDS_H

#include "core/status.h"
#include "marlinok.h"
#include "rsa/key_record.h"

namespace marlinok::token {

// Failed, `record` untouched, when the reference cannot be read or the value
// is shorter than the record (a public record named where a private one is
// needed would be read past its end).
Status ReadStoredRecord(const DataBlob* reference, rsa::PublicKeyRecord* record);
Status ReadStoredRecord(const DataBlob* reference, rsa::PrivateKeyRecord* record);

}  // namespace marlinok::token

#endif
