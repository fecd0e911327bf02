// QM_ExportPublicKey and QM_ExportPrivateKey on fuzzed records planted in
// the hive, plain or wrapped under fuzzed keys, with buffers of exactly the
// answered size. A genuine record exported in plain holds the record's
// numbers. A 3DES wrapping key's memory holds the 16 bytes (24 when it says
// 24) that 3DES reads whatever the stated length; other keys end where their
// stated length does.
#include <cstring>
#include <string>

#include "core/byte_order.h"
#include "keyblob/key_blob.h"
#include "marlinok.h"
#include "support/fuzz_support.h"

using namespace marlinok;
using namespace marlinok::fuzz;

namespace {

const char* const kValueNames[] = {"PukExh", "PvkExh", "PukSig", "PvkSig"};

uint32_t PickWrap(Reader& in) {
  switch (in.Byte() % 5) {
    case 0:
      return 0;
    case 1:
      return CALG_3DES;
    case 2:
      return CALG_RC4;
    case 3:
      return CALG_DES;
    default:
      return in.U32();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  UseTemporaryHive();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const uint8_t selector = in.Byte();
  const bool exportPrivate = (selector & 1) != 0;
  const bool wrapped = (selector & 2) != 0;
  const char* value = kValueNames[(selector >> 2) % 4];
  const uint32_t wrapAlgId = PickWrap(in);
  const uint32_t wrapLength = in.Byte() % 40;
  const std::size_t wrapReach = SymmetricKeyReach(wrapAlgId, wrapLength);
  const Bytes wrapBytes = in.Take(wrapReach);
  const GuardedBytes wrapKey(wrapReach, wrapBytes.data(), wrapBytes.size());
  // The record: genuine or fuzzed, at any length.
  Bytes record;
  if ((selector & 0x80) != 0) {
    const RecordPair& pair = FixedPair((selector & 0x40) != 0 ? 1024 : 528);
    record.assign(pair.privateRecord.bytes, pair.privateRecord.bytes + sizeof pair.privateRecord);
  } else {
    record = in.Take(in.U32() % (MARLINOK_PRIVATE_RECORD_BYTES + 8));
  }
  PlantContainerValue("fuzzed", value, record.data(), record.size());
  const std::string refText = KeyReference("fuzzed", value);
  const GuardedBytes refBuffer(refText.size(), reinterpret_cast<const uint8_t*>(refText.data()),
                               refText.size());
  const DataBlob ref{refBuffer.length(), refBuffer.data()};

  if (!exportPrivate) {
    DataBlob query{0, nullptr};
    const int32_t status = QM_ExportPublicKey(&ref, &query);
    if (status != ERR_OK) {
      Check(status == ERR_FAILED && query.length == 0, "refusal wrote the length");
      return 0;
    }
    Check(record.size() >= 516, "exported a short record");
    GuardedBytes blob(query.length);
    DataBlob out{query.length, blob.data()};
    Check(QM_ExportPublicKey(&ref, &out) == ERR_OK, "export after size query");
    Check(out.length == query.length, "length of the export");
    const uint32_t bits = rsa::ReadModulusBits(record.data());
    Check(LoadLe32(blob.data() + 12) == bits && query.length == 20 + bits / 8,
          "public blob length");
    for (uint32_t i = 0; i < bits / 8; ++i)
      Check(blob[20 + i] == record[4 + 255 - i], "public blob modulus");
    return 0;
  }

  DataBlob wrapArg{wrapLength, wrapKey.size() == 0 ? nullptr : wrapKey.data()};
  DataBlob query{0, nullptr};
  const int32_t status = QM_ExportPrivateKey(&ref, wrapped ? &wrapArg : nullptr, &query, wrapAlgId);
  if (status != ERR_OK || query.length == 0) {
    Check(status == ERR_REFUSED && query.length == 0, "refusal wrote the length");
    return 0;
  }
  Check(record.size() >= MARLINOK_PRIVATE_RECORD_BYTES, "exported a short record");
  GuardedBytes blob(query.length);
  std::memset(blob.data(), 0xA5, query.length);
  DataBlob out{query.length, blob.data()};
  const int32_t result = QM_ExportPrivateKey(&ref, wrapped ? &wrapArg : nullptr, &out, wrapAlgId);
  Check(result == ERR_OK || result == ERR_REFUSED || result == ERR_WRAP_FAILED, "status");
  Check(out.length <= query.length, "length beyond the buffer");
  if (result == ERR_WRAP_FAILED) {
    for (uint32_t i = 0; i < query.length; ++i) Check(blob[i] == 0xA5, "failed wrap wrote");
    return 0;
  }
  if (wrapped && result == ERR_OK) return 0;
  // Plain (or handed out plain with status 1): the numbers of the record.
  const uint32_t bits = rsa::ReadModulusBits(record.data());
  Check(bits % 16 == 0 && bits <= 2048, "exported a length the blob cannot hold");
  Check(LoadLe32(blob.data() + 12) == bits, "private blob length");
  for (uint32_t i = 0; i < bits / 8; ++i)
    Check(blob[20 + i] == record[4 + 255 - i], "private blob modulus");
  const uint32_t dAt = 20 + bits / 8 + 5 * (bits / 16);
  for (uint32_t i = 0; i < bits / 8; ++i)
    Check(blob[dAt + i] == record[516 + 255 - i], "private blob exponent");
  return 0;
}
