// QM_SymmetricEncrypt and QM_SymmetryDecrypt with arbitrary keys, modes,
// algorithm identifiers and lengths. The output buffer is exactly the stated
// size; a call that succeeds is undone by the opposite call. Keys, inputs
// and outputs sit against an inaccessible page.
//
// Known faults to steer around (MARLINOK_FUZZ_KNOWN): short-des-key (a DES key
// shorter than 8 bytes, or a 3DES key shorter than 16, is read and given odd
// parity in full, past the caller's buffer).
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
  const Bytes keyBytes = in.Take(in.Byte());
  GuardedBytes key(keyBytes);  // the library fixes DES parity in place
  const GuardedBytes input(in.Rest());

  if (Avoid("short-des-key") &&
      ((algId == CALG_DES && key.size() < 8) || (algId == CALG_3DES && key.size() < 16)))
    return 0;
  const Call forward = encrypt ? QM_SymmetricEncrypt : QM_SymmetryDecrypt;
  const Call backward = encrypt ? QM_SymmetryDecrypt : QM_SymmetricEncrypt;
  const uint32_t inputLength = static_cast<uint32_t>(input.size());
  const uint32_t capacity = shortBy > inputLength ? 0 : inputLength - shortBy;
  GuardedBytes output(capacity);  // exactly the stated size
  std::memset(output.data(), 0xA5, capacity);
  uint32_t outputLength = capacity;
  DataBlob keyArg{key.length(), key.size() == 0 ? nullptr : key.data()};
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
