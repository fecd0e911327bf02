// Symmetric keys: generated (3DES, RC4) or taken out of a key blob into the
// caller's DataBlob and registered in the key table as the last step, and
// exported in a symmetric key blob, plain or wrapped under an RSA public key.
#ifndef MARLINOK_TOKEN_SYMMETRIC_KEYS_H
#define MARLINOK_TOKEN_SYMMETRIC_KEYS_H

#include <cstdint>

#include "core/status.h"
#include "marlinok.h"

namespace marlinok::token {

// A 3DES key: 24 bytes drawn in three parts at three clock readings, written
// whatever key.length says (16 makes a two-key key). key.data is non-null.
Status GenerateTripleDesKey(DataBlob& key);

// An RC4 key of key.length bytes, 1 to 16 (the generator's limit), else
// Failed. key.data is non-null.
Status GenerateRc4Key(DataBlob& key);

// The key bytes after a symmetric blob's header, which is not examined, and
// whose length is not checked against the algorithm. key.length receives the
// length; with key.data null that is all (nothing copied or registered).
// Failed for a blob no longer than its header. blob.data is non-null.
Status ImportSymmetricKeyBlob(const DataBlob& blob, DataBlob& key);

// The plain blob, written only into a buffer of exactly key length + 12
// bytes; any other length, larger too, is answered with the length (Ok).
// Failed for null key data with a nonzero length.
Status ExportSymmetricKeyBlob(const DataBlob& key, DataBlob& output, uint32_t algId);

// The blob of the key wrapped under the public record at wrapRecord (516
// bytes): PKCS #1 v1.5 type-2 padding from a pool seeded from the clock now,
// the k-byte RSA output after the header. The size query (k + 12) is
// answered after the encryption, which runs all the same. Failed for an
// empty key, a record holding no modulus it can use, or a key longer than
// k - 11.
Status ExportWrappedSymmetricKeyBlob(const DataBlob& key, const uint8_t* wrapRecord,
                                     DataBlob& output, uint32_t algId);

}  // namespace marlinok::token

#endif
