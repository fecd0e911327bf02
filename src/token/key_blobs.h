// Keys in and out as CryptoAPI key blobs: stored records exported as
// PUBLICKEYBLOB and PRIVATEKEYBLOB (the private one optionally encrypted
// after its 8-byte header), and a PUBLICKEYBLOB brought in as a public record.
#ifndef MARLINOK_TOKEN_KEY_BLOBS_H
#define MARLINOK_TOKEN_KEY_BLOBS_H

#include <cstdint>

#include "core/status.h"
#include "marlinok.h"

namespace marlinok::token {

// The PUBLICKEYBLOB of the record a reference names, its algorithm from the
// reference. blob->length receives the size, and the blob goes to blob->data
// when non-null; the caller's length is not consulted. Failed when the record
// cannot be read or the blob cannot hold its modulus.
Status ExportPublicKeyBlob(const DataBlob* keyRef, DataBlob* blob);

// The PRIVATEKEYBLOB of the private record a reference names. A null buffer,
// or one shorter than the plain blob (or than the padded 3DES blob when
// wrapping with 3DES) is a size query: blob->length receives the size of what
// `wrapAlgId` would produce, Ok. Otherwise the caller's whole buffer is
// cleared and the blob written at its start. With a wrapping key, what
// follows the header is encrypted with 3DES-CBC (padded by 1 to 8 bytes) or
// RC4 and blob->length set; another algorithm hands out the plain blob with
// Refused. Refused when the record cannot be read or the blob cannot hold its
// modulus; WrapFailed, nothing written, when the encryption refuses the key.
Status ExportPrivateKeyBlob(const DataBlob* keyRef, DataBlob* wrapKey, DataBlob* blob,
                            uint32_t wrapAlgId);

// The public record of a PUBLICKEYBLOB, registered in the key table and then
// written to output.data (at least 516 bytes). Failed, nothing written or
// registered, for a blob the codec refuses.
Status ImportPublicKeyBlob(const DataBlob& blob, DataBlob& output);

}  // namespace marlinok::token

#endif
