// The four asymmetric calls with fuzzed key references, fuzzed direct
// records and fuzzed records planted in the hive, and with every algorithm
// identifier and input length. Output buffers are exactly the size the size
// query answers. With the planted genuine keys, a completed public operation
// is undone by the private one (and the other way round).
#include <cstdio>
#include <cstring>
#include <string>

#include "marlinok.h"
#include "support/fuzz_support.h"

using namespace marlinok;
using namespace marlinok::fuzz;

namespace {

enum Op { kEncrypt, kDecrypt, kSign, kVerify };

int32_t Run(Op op, const DataBlob* key, uint8_t* out, uint32_t* outLength, const uint8_t* in,
            uint32_t inLength, uint32_t algId) {
  switch (op) {
    case kEncrypt:
      return QM_AsymmetricEncrypt(key, 0, 0, out, outLength, in, inLength, algId);
    case kDecrypt:
      return QM_AsymmetricDecrypt(key, 0, 0, out, outLength, in, inLength, algId);
    case kSign:
      return QM_AsymmetricSignData(key, in, inLength, out, outLength, algId);
    default:
      return QM_AsymmetricVerifySign(key, out, outLength, in, inLength, algId);
  }
}

uint32_t AlgorithmOf(Op op) {
  return op == kEncrypt || op == kDecrypt ? CALG_RSA_KEYX : CALG_RSA_SIGN;
}

// Containers planted at start: genuine pairs, and damaged values.
const char* const kPlanted[] = {
    "Software\\Quillmar\\SoftContainerSimulator\\k1024\\PukExh",
    "Software\\Quillmar\\SoftContainerSimulator\\k1024\\PvkExh",
    "Software\\Quillmar\\SoftContainerSimulator\\k1024\\PukSig",
    "Software\\Quillmar\\SoftContainerSimulator\\k1024\\PvkSig",
    "Software\\Quillmar\\SoftContainerSimulator\\k520\\PukExh",
    "Software\\Quillmar\\SoftContainerSimulator\\k520\\PvkExh",
    "Software\\Quillmar\\SoftContainerSimulator\\damaged\\PvkExh",  // a public record only
    "Software\\Quillmar\\SoftContainerSimulator\\damaged\\PukExh",  // empty
    "Software\\Quillmar\\SoftContainerSimulator\\damaged\\PvkSig",  // 3 bytes
    "Software\\Quillmar\\SoftContainerSimulator\\missing\\PvkExh",
};
constexpr int kGenuine = 6;  // the first six name genuine keys

// The reference of planted key i's pair that an undoing operation needs: the
// private record for a private operation, the public one otherwise.
std::string Partner(int i, bool privateRecord) {
  std::string s = kPlanted[i];
  s[s.rfind('\\') + 2] = privateRecord ? 'v' : 'u';  // P[uv]k
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) Fail("stdout");  // the call's four lines
  UseTemporaryHive();
  PlantPair("k1024", MARLINOK_PAIR_EXCHANGE, FixedPair(1024));
  PlantPair("k1024", MARLINOK_PAIR_SIGNATURE, FixedPair(1024));
  PlantPair("k520", MARLINOK_PAIR_EXCHANGE, FixedPair(520));
  const RecordPair& pair = FixedPair(1024);
  PlantContainerValue("damaged", "PvkExh", pair.publicRecord.bytes, sizeof pair.publicRecord);
  PlantContainerValue("damaged", "PukExh", nullptr, 0);
  PlantContainerValue("damaged", "PvkSig", pair.privateRecord.bytes, 3);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const uint8_t selector = in.Byte();
  const Op op = static_cast<Op>(selector & 3);
  const uint8_t form = (selector >> 2) % 4;
  const uint32_t algId = (selector & 0x80) != 0 ? in.U32() : AlgorithmOf(op);

  // The key: `keyBytes` always ends in a NUL (the public calls search it as a
  // C string); its stated length may be anything.
  Bytes keyBytes;
  uint32_t keyLength = 0;
  int planted = -1;
  if (form == 0) {  // a planted reference
    planted = in.Byte() % (sizeof kPlanted / sizeof kPlanted[0]);
    const std::string ref = kPlanted[planted];
    keyBytes.assign(ref.begin(), ref.end());
    keyBytes.push_back(0);
    keyLength = static_cast<uint32_t>(keyBytes.size());
  } else if (form == 1) {  // an arbitrary reference
    keyLength = in.U32() % 300;
    keyBytes = in.Take(in.Byte());
    keyBytes.push_back(0);
    if (keyLength > keyBytes.size()) keyLength = static_cast<uint32_t>(keyBytes.size());
    // Bytes without the container root are taken as a direct record, whose
    // length is not consulted: like any caller, pass a whole record's worth.
    if (keyBytes.size() < MARLINOK_PRIVATE_RECORD_BYTES)
      keyBytes.resize(MARLINOK_PRIVATE_RECORD_BYTES, 0);
  } else if (form == 2) {  // a direct record (whole, as callers must pass it)
    keyBytes = in.Take(MARLINOK_PRIVATE_RECORD_BYTES);
    keyBytes.resize(MARLINOK_PRIVATE_RECORD_BYTES, 0);
    keyBytes.push_back(0);
    keyLength = in.U32();
  } else {  // a record of any length planted in the hive
    const Bytes record = in.Take(in.U32() % (MARLINOK_PRIVATE_RECORD_BYTES + 8));
    const char* value = (selector & 0x40) != 0 ? "PvkExh" : "PukSig";
    PlantContainerValue("fuzzed", value, record.data(), record.size());
    const std::string ref = KeyReference("fuzzed", value);
    keyBytes.assign(ref.begin(), ref.end());
    keyLength = static_cast<uint32_t>(keyBytes.size());
  }
  const DataBlob key{keyLength, keyBytes.data()};
  Bytes input = in.Rest();
  const uint8_t* inputData = input.empty() ? nullptr : input.data();
  const uint32_t inputLength = static_cast<uint32_t>(input.size());

  uint32_t k = 0xA5A5A5A5;
  const int32_t query = Run(op, &key, nullptr, &k, inputData, inputLength, algId);
  if (query != (op == kVerify ? ERR_FAILED : ERR_OK) || k == 0xA5A5A5A5) {
    Check(query == ERR_FAILED && k == 0xA5A5A5A5, "a refused size query wrote the length");
    return 0;
  }
  Check(algId == AlgorithmOf(op), "wrong algorithm identifier accepted");
  if (k > 65536) return 0;  // a record of absurd length: no caller would allocate that

  Bytes output(k + 1, 0xA5);  // one guard byte past k
  uint32_t outLength = 0xA5A5A5A5;
  const int32_t status = Run(op, &key, output.data(), &outLength, inputData, inputLength, algId);
  Check(output[k] == 0xA5, "wrote past the answered size");
  if (status != ERR_OK) {
    const int32_t rejected = op == kDecrypt ? ERR_DECRYPT_REJECTED : ERR_DATA_RANGE;
    Check(status == rejected || status == ERR_FAILED, "unexpected status");
    Check(outLength == 0xA5A5A5A5, "failure wrote the length");
    return 0;
  }
  Check(outLength == k, "length written is not k");

  // A genuine key undoes its own operation: the input comes back left-padded.
  if (planted < 0 || planted >= kGenuine || inputLength > k) return 0;
  const Op undo = op == kEncrypt   ? kDecrypt
                  : op == kDecrypt ? kEncrypt
                  : op == kSign    ? kVerify
                                   : kSign;
  const std::string partner = Partner(planted, undo == kDecrypt || undo == kSign);
  const DataBlob partnerKey{static_cast<uint32_t>(partner.size() + 1),
                            reinterpret_cast<uint8_t*>(const_cast<char*>(partner.c_str()))};
  Bytes back(k + 1, 0xA5);
  uint32_t backLength = 0;
  Check(Run(undo, &partnerKey, back.data(), &backLength, output.data(), k, AlgorithmOf(undo)) ==
            ERR_OK,
        "the partner key refused the output");
  Check(back[k] == 0xA5 && backLength == k, "partner output length");
  for (uint32_t i = 0; i < k - inputLength; ++i) Check(back[i] == 0, "round trip: leading zeros");
  Check(inputLength == 0 ||
            std::memcmp(back.data() + (k - inputLength), input.data(), inputLength) == 0,
        "round trip differs");
  return 0;
}
