// QM_ImportSymmetricKey on arbitrary blobs and algorithm identifiers: the size
// query, then the copy into a buffer of exactly the answered size, then the
// withdrawal of the registered key.
#include <cstring>

#include "marlinok.h"
#include "support/fuzz_support.h"

using namespace marlinok::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const uint32_t algId = PickSymmetricAlgorithm(in);
  const GuardedBytes blob(in.Rest());
  const DataBlob blobArg{blob.length(), blob.size() == 0 ? nullptr : blob.data()};

  DataBlob query{0x5A5A5A5A, nullptr};
  const int32_t status = QM_ImportSymmetricKey(&blobArg, algId, &query);
  const bool usable = blob.size() > 12 && (algId == CALG_RC4 || algId == CALG_3DES);
  if (!usable) {
    Check(status == ERR_REFUSED && query.length == 0x5A5A5A5A, "refusal wrote or succeeded");
    return 0;
  }
  Check(status == ERR_OK && query.length == blob.size() - 12, "size query answer");

  GuardedBytes key(query.length);
  DataBlob keyArg{query.length, key.data()};
  Check(QM_ImportSymmetricKey(&blobArg, algId, &keyArg) == ERR_OK, "import after size query");
  Check(keyArg.length == blob.size() - 12, "key length");
  Check(std::memcmp(key.data(), blob.data() + 12, key.size()) == 0, "key bytes");
  Check(QM_DestroyKey(&keyArg) == ERR_OK, "imported key is not registered");
  return 0;
}
