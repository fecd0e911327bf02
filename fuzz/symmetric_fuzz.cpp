// QM_SymmetricEncrypt and QM_SymmetryDecrypt with arbitrary keys, modes,
// algorithm identifiers and lengths. The output buffer is exactly the stated
// size; a call that succeeds is undone by the opposite call. Keys, inputs
// and outputs sit against an inaccessible page.
//
// The key memory holds what the call may touch by contract (see
// SymmetricKeyReach): a DES key of any stated length up to 8 has 8 readable
// bytes, a 3DES key 16 (24 when it says 24); past that, a key buffer ends
// where its stated length does.
#include <cstring>

#include "marlinok.h"
#include "support/fuzz_support.h"

using namespace marlinok::fuzz;

namespace {

using Call = int32_t (*)(DataBlob*, uint32_t, uint32_t, const uint8_t*, uint32_t, uint8_t*,
                         uint32_t*, uint32_t, uint32_t);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const uint32_t algId = PickSymmetricAlgorithm(in);
  const uint8_t modeByte = in.Byte();
  const uint32_t mode = modeByte < 0xF0 ? modeByte % 6 : 0xFFFFFF00u | modeByte;
  const uint8_t flags = in.Byte();
  const bool encrypt = (flags & 1) == 0;
  const uint8_t shortBy = flags >> 1;  // output this much shorter than the input
  const uint32_t keyLength = in.Byte();
  const Bytes keyBytes = in.Take(SymmetricKeyReach(algId, keyLength));
  // The library fixes DES parity in place, in all the bytes it reads.
  GuardedBytes key(SymmetricKeyReach(algId, keyLength), keyBytes.data(), keyBytes.size());
  const GuardedBytes input(in.Rest());
  const Call forward = encrypt ? QM_SymmetricEncrypt : QM_SymmetryDecrypt;
  const Call backward = encrypt ? QM_SymmetryDecrypt : QM_SymmetricEncrypt;
  const uint32_t inputLength = static_cast<uint32_t>(input.size());
  const uint32_t capacity = shortBy > inputLength ? 0 : inputLength - shortBy;
  GuardedBytes output(capacity);  // exactly the stated size
  std::memset(output.data(), 0xA5, capacity);
  uint32_t outputLength = capacity;
  DataBlob keyArg{keyLength, key.size() == 0 ? nullptr : key.data()};
  const int32_t status = forward(&keyArg, 0, 0, input.size() == 0 ? nullptr : input.data(),
                                 inputLength, output.data(), &outputLength, algId, mode);
  const bool known = algId == CALG_DES || algId == CALG_3DES || algId == CALG_RC4;
  if (!known) {
    Check(status == ERR_FAILED, "unknown algorithm accepted");
    return 0;
  }
  if (capacity < inputLength) {
    Check(status == ERR_OK && outputLength == inputLength, "size query answer");
    for (uint32_t i = 0; i < capacity; ++i) Check(output[i] == 0xA5, "size query wrote");
    return 0;
  }
  if (status != ERR_OK) {
    Check(status == ERR_FAILED || status == ERR_DES_KEY || status == ERR_BLOCK_LENGTH,
          "unexpected status");
    return 0;
  }
  Check(algId == CALG_RC4 || (mode >= 1 && mode <= 4), "unknown mode accepted");
  Check(algId == CALG_RC4 || outputLength == inputLength, "output length");

  // The same key (its parity already fixed in place) takes the message back.
  GuardedBytes back(inputLength);
  uint32_t backLength = inputLength;
  Check(backward(&keyArg, 0, 0, output.data(), inputLength, back.data(), &backLength, algId,
                 mode) == ERR_OK,
        "the opposite call refused the output");
  Check(inputLength == 0 || std::memcmp(back.data(), input.data(), inputLength) == 0,
        "round trip differs");
  return 0;
}
