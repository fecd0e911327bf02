// The four asymmetric calls as a hostile caller makes them: key references of
// any stated length in buffers of exactly that length (with a NUL only where
// the input puts one), direct records of any content (modulusBits included,
// unclamped) in a caller buffer of exactly one record, records of any size and
// content planted in the hive, any algorithm identifier, inputs of any stated
// length, and output buffers of exactly the stated size: the size the query
// answers, the largest a legal key needs (256 bytes), or any size.
//
// Keys are small (512 and 528 bits), fuzzed numbers short unless the input
// makes them long, and no record is used whose operation would cost more than
// a few of a 2048-bit public key (see Cost), so that inputs cost well under a
// millisecond. With the
// planted genuine keys, a completed operation is undone by the partner key.
//
// Known faults to steer around (MARLINOK_FUZZ_KNOWN): unterminated-key (a
// public call scans a key with no NUL in it), short-record (a key that is no
// reference, shorter than a record, read as one), short-output (an output
// shorter than k written anyway), long-modulus (a record claiming a modulus
// over 2048 bits written in full into a 256-byte output), huge-modulus (a
// record claiming a modulus of over half a million bits).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
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

bool IsPublic(Op op) { return op == kEncrypt || op == kVerify; }

uint32_t AlgorithmOf(Op op) {
  return op == kEncrypt || op == kDecrypt ? CALG_RSA_KEYX : CALG_RSA_SIGN;
}

// The genuine pairs planted at start: container, bits.
struct Genuine {
  const char* container;
  uint32_t bits;
};
const Genuine kGenuine[] = {{"k512", 512}, {"k528", 528}};
const char* const kValueNames[] = {"PukExh", "PvkExh", "PukSig", "PvkSig"};
constexpr uint32_t kLargestLegalOutput = 256;  // 2048 bits
constexpr uint32_t kHugeOutput = 1u << 16;

// A record's bytes: raw from the input, or built from a bit length (any
// 32-bit value) and numbers of the lengths the input gives, right-aligned in
// their fields; or a genuine small record with only its bit length replaced.
Bytes BuildRecord(Reader& in, std::size_t size) {
  const uint8_t how = in.Byte();
  Bytes record(size, 0);
  if (how % 3 == 0) {
    const Bytes raw = in.Take(size);
    std::copy(raw.begin(), raw.end(), record.begin());
    return record;
  }
  if (how % 3 == 1 && size != 0) {
    const RecordPair& pair = FixedPair(kGenuine[(how >> 2) & 1].bits);
    std::memcpy(record.data(), pair.privateRecord.bytes,
                std::min(size, sizeof pair.privateRecord.bytes));
  }
  const uint32_t bits = in.U32();
  for (std::size_t i = 0; i < 4 && i < size; ++i) record[i] = static_cast<uint8_t>(bits >> (8 * i));
  if (how % 3 == 1) return record;
  // n, e, d (256-byte fields), then p, q, dp, dq, qinv (128-byte fields).
  const std::size_t fields[][2] = {{4, 256},   {260, 256},  {516, 256},  {772, 128},
                                   {900, 128}, {1028, 128}, {1156, 128}, {1284, 128}};
  for (const auto& field : fields) {
    if (field[0] + field[1] > size || in.Left() == 0) break;
    const Bytes number = in.Take(std::min<std::size_t>(in.Byte(), field[1]));
    std::copy(number.begin(), number.end(), record.begin() + field[0] + field[1] - number.size());
  }
  return record;
}

// What a raw operation on a record costs, in digit products: exponent bits
// times the square of the modulus digits, for the public operation (e, n) and
// for the private one through the primes (dp, p and dq, q). The harness runs
// no operation above kBudget, so that a fuzzed record of full-size numbers
// does not take 50 ms: a 1024-bit public key with e = 65537 costs 17,000 and
// runs; a 2048-bit one (70,000) and a 1024-bit private key through its primes
// (260,000) do not. Full-size keys are the unit tests' business.
constexpr uint64_t kBudget = 1u << 16;

uint64_t SignificantBits(const Bytes& record, std::size_t at, std::size_t length) {
  for (std::size_t i = at; i < at + length && i < record.size(); ++i) {
    if (record[i] == 0) continue;
    uint64_t bits = 8 * (at + length - i);
    for (uint8_t top = record[i]; (top & 0x80) == 0; top = static_cast<uint8_t>(top << 1)) --bits;
    return bits;
  }
  return 0;
}

uint64_t Cost(const Bytes& r) {
  const auto digits = [&](std::size_t at, std::size_t length) {
    return (SignificantBits(r, at, length) + 31) / 32;
  };
  const uint64_t publicCost = SignificantBits(r, 260, 256) * digits(4, 256) * digits(4, 256);
  const uint64_t privateCost = SignificantBits(r, 1028, 128) * digits(772, 128) * digits(772, 128) +
                               SignificantBits(r, 1156, 128) * digits(900, 128) * digits(900, 128);
  return std::max(publicCost, privateCost);
}

// The reference text of a planted value, without its NUL.
std::string Reference(const char* container, const char* value) {
  std::string text = KeyReference(container, value);
  text.pop_back();
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) Fail("stdout");  // the calls' lines
  UseTemporaryHive();
  for (const Genuine& g : kGenuine) {
    PlantPair(g.container, MARLINOK_PAIR_EXCHANGE, FixedPair(g.bits));
    PlantPair(g.container, MARLINOK_PAIR_SIGNATURE, FixedPair(g.bits));
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const uint8_t selector = in.Byte();
  const Op op = static_cast<Op>(selector & 3);
  const uint8_t form = (selector >> 2) % 4;
  const uint8_t outputMode = selector >> 6;
  const uint32_t algId = (selector & 0x20) != 0 ? in.U32() : AlgorithmOf(op);

  // The caller's key buffer, and which genuine key it names (if any).
  std::unique_ptr<GuardedBytes> keyBuffer;
  uint32_t keyLength = 0;
  int genuine = -1;
  if (form == 0) {  // a planted genuine reference, stated in full or cut short
    const uint8_t which = in.Byte();
    genuine = which & 1;
    const std::string text =
        Reference(kGenuine[genuine].container, kValueNames[(which >> 1) & 3]) + '\0';
    const uint8_t cut = in.Byte() % 4;  // 1 and more drop the NUL and then characters
    keyBuffer = std::make_unique<GuardedBytes>(
        text.size() - cut, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    keyLength = keyBuffer->length();
    if (cut != 0) genuine = -1;
  } else if (form == 1) {  // any bytes, any stated length
    keyLength = in.Length();
    // A stated length of 0 is how callers pass a direct record (form 2): the
    // library reads a whole record behind it by contract.
    if (keyLength == 0) return 0;
    const Bytes bytes = in.Take(keyLength);
    keyBuffer = std::make_unique<GuardedBytes>(keyLength, bytes.data(), bytes.size());
  } else if (form == 2) {  // a direct record, in a buffer of exactly one record
    const bool privateSized = (in.Byte() & 1) != 0;
    const Bytes record = BuildRecord(
        in, privateSized ? MARLINOK_PRIVATE_RECORD_BYTES : MARLINOK_PUBLIC_RECORD_BYTES);
    if (Cost(record) > kBudget) return 0;
    keyBuffer = std::make_unique<GuardedBytes>(record);
    keyLength = in.Length();  // not consulted for a record; any value a caller may pass
  } else {                    // a record of any size and content planted in the hive
    const char* value = kValueNames[in.Byte() % 4];
    const std::size_t recordSize = in.Length() % (2 * MARLINOK_PRIVATE_RECORD_BYTES);
    const Bytes record = BuildRecord(in, recordSize);
    if (Cost(record) > kBudget) return 0;  // never planted: no later reference reaches it
    PlantContainerValue("fuzzed", value, record.data(), record.size());
    const std::string text = Reference("fuzzed", value) + '\0';
    keyBuffer = std::make_unique<GuardedBytes>(
        text.size(), reinterpret_cast<const uint8_t*>(text.data()), text.size());
    keyLength = keyBuffer->length();
  }
  const DataBlob key{keyLength, keyBuffer->data()};

  uint32_t capacity = 0;
  if (outputMode == 1) capacity = kLargestLegalOutput;
  if (outputMode == 2) capacity = in.Length();
  const uint32_t inputLength = in.Length();
  const GuardedBytes input = TakeGuarded(in, inputLength);

  // Known faults, steered around on request (see the top of the file).
  if (IsPublic(op)) {
    if (Avoid("unterminated-key") && !keyBuffer->HasNul()) return 0;
    const bool reference =
        keyBuffer->HasNul() && std::strstr(reinterpret_cast<const char*>(keyBuffer->data()),
                                           "Software\\Quillmar\\SoftContainerSimulator\\");
    if (Avoid("short-record") && keyBuffer->HasNul() && !reference &&
        keyBuffer->size() < MARLINOK_PUBLIC_RECORD_BYTES)
      return 0;
  }

  // The size query: a null output.
  uint32_t k = 0xA5A5A5A5;
  const int32_t query = Run(op, &key, nullptr, &k, input.data(), inputLength, algId);
  const bool answered = query == (op == kVerify ? ERR_FAILED : ERR_OK) && k != 0xA5A5A5A5;
  if (!answered) {
    Check(query == ERR_FAILED && k == 0xA5A5A5A5, "a refused size query wrote the length");
    if (outputMode == 3) return 0;
  } else {
    Check(algId == AlgorithmOf(op), "wrong algorithm identifier accepted");
  }
  if (outputMode == 3) return 0;
  if (outputMode == 0) {
    if (!answered) return 0;
    capacity = k;
  }
  // An absurd answer is not allocated (writing it costs a second); shorter
  // buffers for it are.
  if (answered && k > kHugeOutput && capacity >= k) return 0;
  if (answered && capacity < k) {
    if (Avoid("short-output") && k <= kLargestLegalOutput) return 0;
    if (Avoid("long-modulus") && k > kLargestLegalOutput && k <= kHugeOutput) return 0;
    if (Avoid("huge-modulus") && k > kHugeOutput) return 0;
  }

  GuardedBytes output(capacity);
  const uint32_t watched = std::min<uint32_t>(capacity, 4096);  // a huge buffer stays unpopulated
  std::memset(output.data(), 0xA5, watched);
  uint32_t outLength = capacity;
  const int32_t status = Run(op, &key, output.data(), &outLength, input.data(), inputLength, algId);
  if (status != ERR_OK) {
    const int32_t rejected = op == kDecrypt ? ERR_DECRYPT_REJECTED : ERR_DATA_RANGE;
    Check(status == rejected || status == ERR_FAILED, "unexpected status");
    Check(outLength == capacity, "failure wrote the length");
    for (uint32_t i = 0; i < watched; ++i) Check(output[i] == 0xA5, "failure wrote the output");
    return 0;
  }
  Check(answered && outLength == k && capacity >= k, "completed without answering k first");

  // A genuine key undoes its own operation: the input comes back left-padded.
  if (genuine < 0 || inputLength > k) return 0;
  const Op undo = op == kEncrypt   ? kDecrypt
                  : op == kDecrypt ? kEncrypt
                  : op == kSign    ? kVerify
                                   : kSign;
  const bool exchange = undo == kEncrypt || undo == kDecrypt;
  const bool privateKey = undo == kDecrypt || undo == kSign;
  const char* partnerValue = kValueNames[(exchange ? 0 : 2) + (privateKey ? 1 : 0)];
  const std::string partner = Reference(kGenuine[genuine].container, partnerValue) + '\0';
  const GuardedBytes partnerText(partner.size(), reinterpret_cast<const uint8_t*>(partner.data()),
                                 partner.size());
  const DataBlob partnerKey{partnerText.length(), partnerText.data()};
  GuardedBytes back(k);
  uint32_t backLength = k;
  Check(Run(undo, &partnerKey, back.data(), &backLength, output.data(), k, AlgorithmOf(undo)) ==
            ERR_OK,
        "the partner key refused the output");
  Check(backLength == k, "partner output length");
  for (uint32_t i = 0; i < k - inputLength; ++i) Check(back[i] == 0, "round trip: leading zeros");
  Check(inputLength == 0 ||
            std::memcmp(back.data() + (k - inputLength), input.data(), inputLength) == 0,
        "round trip differs");
  return 0;
}
