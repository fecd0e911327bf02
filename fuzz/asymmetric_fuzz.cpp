// The four asymmetric calls as a hostile caller makes them: key references of
// any stated length in buffers of exactly that length (with a NUL only where
// the input puts one), direct records of any content (modulusBits included,
// unclamped), records of any size and content planted in the hive, any
// algorithm identifier, inputs of any stated length, and any stated output
// length.
//
// Within the calls' contract: a public call takes the caller's bytes for a
// direct record of 516 bytes, its length not consulted, unless they (up to
// the stated length or the first NUL) hold the container root and a
// backslash, so such a key buffer holds 516 bytes; the output length is not
// read either, and a non-null output is taken to hold k bytes, so the buffer
// holds k (as the size query answers), 256 (the largest k) or a stated length
// of any size, whichever is the most. A record of 0 bits or of more than 2048
// is refused, so k is 1 to 256; a reference without a NUL within its length
// is refused.
//
// Keys are small (512 and 528 bits), fuzzed numbers short unless the input
// makes them long, and no record is used whose operation would cost more than
// a few of a 2048-bit public key (see Cost), so that inputs cost well under a
// millisecond. With the planted genuine keys, a completed operation is undone
// by the partner key.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

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
constexpr uint32_t kLargestOutput = 256;  // 2048 bits
const char kReferenceMark[] = "Software\\Quillmar\\SoftContainerSimulator\\";

// Whether the library takes the caller's key bytes for a reference: the
// container root and a backslash within the stated length, before any NUL.
bool LooksLikeReference(const GuardedBytes& key, uint32_t length) {
  const auto* bytes = static_cast<const char*>(static_cast<const void*>(key.data()));
  std::size_t text = 0;
  while (text < length && bytes[text] != '\0') ++text;
  return std::string_view(bytes, text).find(kReferenceMark) != std::string_view::npos;
}

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
    const Bytes bytes = in.Take(keyLength);
    keyBuffer = std::make_unique<GuardedBytes>(keyLength, bytes.data(), bytes.size());
    // What a public call takes for a direct record: 516 bytes, the rest of
    // them from the input.
    if (IsPublic(op) && keyLength < MARLINOK_PUBLIC_RECORD_BYTES &&
        !LooksLikeReference(*keyBuffer, keyLength)) {
      Bytes record = bytes;
      const Bytes more = in.Take(MARLINOK_PUBLIC_RECORD_BYTES - record.size());
      record.insert(record.end(), more.begin(), more.end());
      keyBuffer = std::make_unique<GuardedBytes>(MARLINOK_PUBLIC_RECORD_BYTES, record.data(),
                                                 record.size());
    }
  } else if (form == 2) {  // a direct record, in a buffer of one record or more
    const bool privateSized = (in.Byte() & 1) != 0;
    const Bytes record = BuildRecord(
        in, privateSized ? MARLINOK_PRIVATE_RECORD_BYTES : MARLINOK_PUBLIC_RECORD_BYTES);
    if (Cost(record) > kBudget) return 0;
    // Not consulted for a record: any value a caller may pass. The form test
    // reads up to that many bytes or the first NUL (a usable record has one
    // in its bit length), so the buffer reaches that far.
    keyLength = in.Length();
    keyBuffer = std::make_unique<GuardedBytes>(std::max<std::size_t>(record.size(), keyLength),
                                               record.data(), record.size());
  } else {  // a record of any size and content planted in the hive
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

  uint32_t stated = 0;  // the output length the caller states: never read
  if (outputMode == 1) stated = kLargestOutput;
  if (outputMode == 2) stated = in.Length();
  const uint32_t inputLength = in.Length();
  const GuardedBytes input = TakeGuarded(in, inputLength);

  // The size query: a null output.
  uint32_t k = 0xA5A5A5A5;
  const int32_t query = Run(op, &key, nullptr, &k, input.data(), inputLength, algId);
  const bool answered = query == (op == kVerify ? ERR_FAILED : ERR_OK) && k != 0xA5A5A5A5;
  if (!answered) {
    Check(query == ERR_FAILED && k == 0xA5A5A5A5, "a refused size query wrote the length");
  } else {
    Check(algId == AlgorithmOf(op), "wrong algorithm identifier accepted");
    Check(k >= 1 && k <= kLargestOutput, "answered a size outside 1 to 256 bytes");
  }
  if (form == 0 && genuine < 0)
    Check(!answered, "a reference without a NUL within its length was used");
  if (outputMode == 3) return 0;
  if (outputMode == 0) {
    if (!answered) return 0;
    stated = k;
  }
  // The buffer holds k bytes at least (a refused query refuses the call too,
  // so then the stated size is all there is).
  const uint32_t capacity = answered ? std::max(stated, k) : stated;

  GuardedBytes output(capacity);
  const uint32_t watched = std::min<uint32_t>(capacity, 4096);  // a huge buffer stays unpopulated
  std::memset(output.data(), 0xA5, watched);
  uint32_t outLength = stated;
  const int32_t status = Run(op, &key, output.data(), &outLength, input.data(), inputLength, algId);
  if (status != ERR_OK) {
    const int32_t rejected = op == kDecrypt ? ERR_DECRYPT_REJECTED : ERR_DATA_RANGE;
    Check(status == rejected || status == ERR_FAILED, "unexpected status");
    Check(outLength == stated, "failure wrote the length");
    for (uint32_t i = 0; i < watched; ++i) Check(output[i] == 0xA5, "failure wrote the output");
    return 0;
  }
  Check(answered && outLength == k, "completed without answering k first");

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
