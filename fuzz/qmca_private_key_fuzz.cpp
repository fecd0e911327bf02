// QMCA_ExportPrivateKey with fuzzed entry names, passwords and buffer sizes,
// against an entry stored by QMCA_ImportPrivateKey and entries planted with
// fuzzed stored passwords and key bytes.
#include <cstring>
#include <string>

#include "marlinok.h"
#include "platform/registry.h"
#include "store/registry_layout.h"
#include "support/fuzz_support.h"

using namespace marlinok;
using namespace marlinok::fuzz;

namespace {

const uint8_t kKey[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
const char kPassword[] = "secret";  // imported with its NUL, presented without

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  UseTemporaryHive();
  char name[] = "stored";
  const DataBlob key{sizeof kKey, const_cast<uint8_t*>(kKey)};
  const DataBlob entry{sizeof name, reinterpret_cast<uint8_t*>(name)};
  if (QMCA_ImportPrivateKey(&key, reinterpret_cast<const uint8_t*>(kPassword), sizeof kPassword,
                            &entry) != ERR_OK)
    Fail("could not store the entry");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const uint8_t selector = in.Byte();
  Bytes storedKey, storedPassword;
  std::string name;
  if ((selector & 1) != 0) {  // plant an entry with fuzzed contents
    storedPassword = in.Take(in.Byte() % 24);
    storedKey = in.Take(in.U32() % 2048);
    name = "planted";
    const std::string path = std::string(store::kExportableKeyRoot) + "\\planted";
    PlantValue(path, "Pvk", platform::kRegBinary, storedKey.data(), storedKey.size());
    PlantValue(path, "Passwd", platform::kRegSz, storedPassword.data(), storedPassword.size());
  } else if ((selector & 2) != 0) {  // the stored entry
    name = "stored";
    storedKey.assign(kKey, kKey + sizeof kKey);
    storedPassword.assign(kPassword, kPassword + sizeof kPassword);
  } else {  // any name: a NUL-terminated string
    const Bytes raw = in.Take(in.Byte());
    name.assign(raw.begin(), raw.end());
    name = name.c_str();
  }
  Bytes nameBytes(name.begin(), name.end());
  nameBytes.push_back(0);
  const DataBlob entry{static_cast<uint32_t>(nameBytes.size()), nameBytes.data()};

  const uint8_t capacityByte = in.Byte();
  const bool nullBuffer = capacityByte == 0xFF;
  const uint32_t capacity = nullBuffer ? 0 : capacityByte;
  Bytes password = in.Rest();
  if ((selector & 4) != 0 && !storedPassword.empty())
    password.assign(storedPassword.begin(), storedPassword.end() - 1);

  Bytes buffer(capacity + 1, 0xA5);
  DataBlob key{capacity, nullBuffer ? nullptr : buffer.data()};
  const int32_t status = QMCA_ExportPrivateKey(&entry, password.empty() ? nullptr : password.data(),
                                               static_cast<uint32_t>(password.size()), &key);
  Check(buffer[capacity] == 0xA5, "wrote past the stated size");
  Check(status == ERR_OK || status == ERR_FAILED || status == ERR_REFUSED, "status");
  if (storedPassword.empty()) return 0;  // a name of the fuzzer's own: no expectation beyond
  const bool matches = storedPassword.size() == password.size() + 1 &&
                       (password.empty() ||
                        std::memcmp(storedPassword.data(), password.data(), password.size()) == 0);
  if (!matches) {
    Check(status == ERR_FAILED && key.length == capacity, "a wrong password was accepted");
    for (uint32_t i = 0; i < capacity; ++i) Check(buffer[i] == 0xA5, "wrong password wrote");
    return 0;
  }
  if (nullBuffer || capacity < storedKey.size()) {
    Check(key.length == storedKey.size(), "size answer");
    for (uint32_t i = 0; i < capacity; ++i) Check(buffer[i] == 0xA5, "size answer wrote");
    return 0;
  }
  Check(status == ERR_OK && key.length == storedKey.size(), "export with the right password");
  Check(storedKey.empty() || std::memcmp(buffer.data(), storedKey.data(), storedKey.size()) == 0,
        "exported bytes");
  return 0;
}
