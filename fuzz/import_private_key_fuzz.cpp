// QM_ImportPrivateKey on arbitrary blobs: a refusal stores nothing; an
// accepted blob is stored whole, so that the plain export gives back its
// bytes after the 12-byte header.
#include <cstring>
#include <string>

#include "core/byte_order.h"
#include "keyblob/key_blob.h"
#include "marlinok.h"
#include "store/registry_layout.h"
#include "support/fuzz_support.h"

using namespace marlinok;
using namespace marlinok::fuzz;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  UseTemporaryHive();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const uint8_t pairByte = in.Byte();
  const uint32_t pairType = pairByte < 0xF0 ? pairByte % 4 : 0xFFFFFF00u | pairByte;
  const GuardedBytes blob(in.Rest());
  const DataBlob blobArg{blob.length(), blob.size() == 0 ? nullptr : blob.data()};

  const char* container = "fuzzed";
  const uint32_t refLength = store::KeyReferenceLength(container);
  GuardedBytes pub(refLength), priv(refLength);  // exactly a reference's length
  std::memset(pub.data(), 0xA5, refLength);
  std::memset(priv.data(), 0xA5, refLength);
  DataBlob pubRef{refLength, pub.data()}, privRef{refLength, priv.data()};
  const int32_t status = QM_ImportPrivateKey(container, &blobArg, pairType, &pubRef, &privRef);
  if (status != ERR_OK) {
    Check(status == ERR_FAILED, "refusal is -1");
    Check(pub[0] == 0xA5 && priv[0] == 0xA5, "refusal wrote a reference");
    (void)QM_DestroyContainer(container);
    return 0;
  }
  Check(blob.size() >= 20, "accepted a short blob");
  const uint32_t bits = LoadLe32(blob.data() + 12);
  const uint32_t blobBytes = 20 + 9 * (bits / 16);
  Check(bits % 16 == 0 && bits <= 2048 && blob.size() >= blobBytes, "accepted a bad length");
  Check(pubRef.length == refLength && privRef.length == refLength, "reference length");

  DataBlob query{0, nullptr};
  Check(QM_ExportPrivateKey(&privRef, nullptr, &query, 0) == ERR_OK && query.length == blobBytes,
        "size of the stored key's blob");
  GuardedBytes exported(blobBytes);
  DataBlob out{blobBytes, exported.data()};
  Check(QM_ExportPrivateKey(&privRef, nullptr, &out, 0) == ERR_OK, "export of the imported key");
  Check(std::memcmp(exported.data() + 12, blob.data() + 12, blobBytes - 12) == 0,
        "stored key differs from the blob");
  Check(QM_DestroyContainer(container) == ERR_OK, "container of the import");
  return 0;
}
