// QM_ImportPublicKey on arbitrary blobs: either a refusal with the output
// untouched, or a record that holds exactly the blob's modulus and exponent
// and can be withdrawn again.
#include <cstring>

#include "core/byte_order.h"
#include "keyblob/key_blob.h"
#include "marlinok.h"
#include "support/fuzz_support.h"

using namespace marlinok;
using namespace marlinok::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const uint32_t kind = in.Byte();
  const GuardedBytes blob(in.Rest());
  DataBlob blobArg{blob.length(), blob.size() == 0 ? nullptr : blob.data()};
  GuardedBytes out(MARLINOK_PUBLIC_RECORD_BYTES);
  std::memset(out.data(), 0xA5, out.size());
  DataBlob output{out.length(), out.data()};

  const int32_t status = QM_ImportPublicKey(&blobArg, kind, &output);
  if (status != ERR_OK) {
    Check(status == ERR_FAILED, "refusal is -1");
    for (std::size_t i = 0; i < out.size(); ++i)
      Check(out[i] == 0xA5, "a refused import wrote the output");
    return 0;
  }
  Check(kind != 0 && blob.size() >= keyblob::kRsaBlobHeaderBytes, "accepted a short blob");
  const uint32_t bits = LoadLe32(blob.data() + 12);
  Check(bits % 8 == 0 && bits <= 2048 && blob.size() >= 20 + bits / 8, "accepted a bad length");
  Check(rsa::ReadModulusBits(out.data()) == bits, "record length differs from the blob's");
  // n: the blob's bits/8 little-endian bytes, right-aligned big-endian in 256.
  for (uint32_t i = 0; i < 256; ++i) {
    const uint8_t expected = i < 256 - bits / 8 ? 0 : blob[20 + (255 - i)];
    Check(out[rsa::kModulusOffset + i] == expected, "modulus not copied exactly");
  }
  for (uint32_t i = 0; i < 256; ++i) {
    const uint8_t expected = i < 252 ? 0 : blob[16 + (255 - i)];
    Check(out[rsa::kPublicExponentOffset + i] == expected, "exponent not copied exactly");
  }
  Check(QM_DestroyKey(&output) == ERR_OK, "imported key is not registered");
  return 0;
}
