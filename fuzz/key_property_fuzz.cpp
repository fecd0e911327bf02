// QM_GetKeyProperty with fuzzed key references, parameters and buffer sizes,
// against planted genuine keys and planted records of any length.
#include <cstring>
#include <string>

#include "core/byte_order.h"
#include "keyblob/key_blob.h"
#include "marlinok.h"
#include "support/fuzz_support.h"

using namespace marlinok;
using namespace marlinok::fuzz;

namespace {

const char* const kValueNames[] = {"PukExh", "PvkExh", "PukSig", "PvkSig", "ExProperty", "Passwd"};

uint32_t PickParameter(Reader& in) {
  const uint8_t b = in.Byte();
  switch (b % 5) {
    case 0:
      return KP_PADDING;
    case 1:
      return KP_PERMISSIONS;
    case 2:
      return KP_ALGID;
    case 3:
      return KP_BLOCKLEN;
    default:
      return in.U32();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  UseTemporaryHive();
  PlantPair("genuine", MARLINOK_PAIR_EXCHANGE, FixedPair(1024));
  PlantPair("genuine", MARLINOK_PAIR_SIGNATURE, FixedPair(520));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const uint32_t param = PickParameter(in);
  const uint8_t capacityByte = in.Byte();
  const uint8_t form = in.Byte() % 3;

  Bytes ref;
  if (form == 0) {  // a planted genuine key, or a value that is no record
    const std::string r = KeyReference("genuine", kValueNames[in.Byte() % 6]);
    ref.assign(r.begin(), r.end());
  } else if (form == 1) {  // any bytes of any stated length, a NUL only where the input puts one
    ref = in.Take(in.Byte());
    if (!ref.empty()) ref.resize(in.U32() % (ref.size() + 1));
  } else {  // a planted record of any length
    const char* value = kValueNames[in.Byte() % 4];
    const Bytes record = in.Take(in.U32() % 1500);
    PlantContainerValue("fuzzed", value, record.data(), record.size());
    const std::string r = KeyReference("fuzzed", value);
    ref.assign(r.begin(), r.end());
  }
  const GuardedBytes refBuffer(ref);
  const DataBlob keyRef{refBuffer.length(), ref.empty() ? nullptr : refBuffer.data()};

  const bool nullValue = capacityByte == 0xFF;
  const uint32_t capacity = nullValue ? 0 : capacityByte % 9;
  GuardedBytes value(capacity);  // exactly the stated size
  std::memset(value.data(), 0xA5, capacity);
  uint32_t length = capacity;
  const int32_t status =
      QM_GetKeyProperty(&keyRef, param, nullValue ? nullptr : value.data(), &length);
  const bool known =
      param == KP_PADDING || param == KP_PERMISSIONS || param == KP_ALGID || param == KP_BLOCKLEN;
  if (!known) {
    Check(status == ERR_FAILED && length == capacity, "unknown parameter answered");
    return 0;
  }
  if (nullValue || capacity < 4) {
    Check(status == ERR_OK && length == 4, "size query answer");
    return 0;
  }
  if (status != ERR_OK) {
    Check(status == ERR_FAILED && length == capacity, "failure wrote the length");
    Check(param == KP_ALGID || param == KP_BLOCKLEN, "a constant parameter failed");
    return 0;
  }
  Check(length == 4, "length of the answer");
  const uint32_t answer = LoadLe32(value.data());
  if (param == KP_PADDING) Check(answer == 1, "padding");
  if (param == KP_PERMISSIONS) Check(answer == 7, "permissions");
  if (param == KP_ALGID)
    Check(answer == 0 || answer == CALG_RSA_KEYX || answer == CALG_RSA_SIGN, "algorithm");
  for (uint32_t i = 4; i < capacity; ++i) Check(value[i] == 0xA5, "wrote past the answer");
  return 0;
}
