// QMCA_ImportPrivateKey and QMCA_ExportPrivateKey as a hostile caller makes
// them: entry names of any stated length, passwords and keys in buffers of
// exactly their stated length, output buffers of any stated size. Against an
// entry stored at start, entries planted with fuzzed stored passwords and key
// bytes, and entries the input imports: an imported entry comes back, whole,
// to its password without the last byte.
//
// An entry name's length counts its characters without the NUL, which may
// sit at index `length`: the caller's name buffer holds length + 1 bytes,
// the last one from the input like the others (a NUL only where the input
// puts one). A name with no NUL in those bytes is refused by both calls.
//
// A refused import leaves the entry as it was: an existing entry keeps its
// key and its password.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "marlinok.h"
#include "platform/registry.h"
#include "support/fuzz_support.h"

using namespace marlinok;
using namespace marlinok::fuzz;

namespace {

const uint8_t kKey[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
const char kPassword[] = "secret";  // imported with its NUL, presented without
const char kEntryRoot[] = "Software\\Quillmar\\ExportableKey";

// An entry name: length + 1 bytes, of which the caller states `length`.
struct Name {
  std::unique_ptr<GuardedBytes> bytes;
  uint32_t length;
};

Name NameOf(const std::string& text, uint32_t length) {
  return {std::make_unique<GuardedBytes>(text.size(), reinterpret_cast<const uint8_t*>(text.data()),
                                         text.size()),
          length};
}

// Any bytes of any stated length, or a known entry's name: its NUL counted
// in the length or not, or no NUL at all.
Name PickName(Reader& in) {
  switch (in.Byte() % 5) {
    case 0: {
      const uint32_t length = in.Length();
      const Bytes bytes = in.Take(uint64_t{length} + 1);
      return {std::make_unique<GuardedBytes>(uint64_t{length} + 1, bytes.data(), bytes.size()),
              length};
    }
    case 1:
      return NameOf(std::string("stored") + '\0', 6);
    case 2:
      return NameOf(std::string("planted") + '\0', 7);
    case 3:
      return NameOf("planted!", 7);  // no NUL within length + 1 bytes
    default:
      return NameOf(std::string("stored") + '\0', 7);  // the NUL counted
  }
}

bool WouldFillTheDisk(uint32_t length) { return length > (1u << 16) && length < (1u << 30); }

struct ExportResult {
  int32_t status;
  uint32_t length;  // key->length after the call
  uint32_t capacity;
  bool nullBuffer;
  const GuardedBytes* buffer;
  const GuardedBytes* password;
};

// The export of an entry known to hold `storedKey` under `storedPassword`.
void CheckExport(const ExportResult& r, const Bytes& storedKey, const Bytes& storedPassword) {
  const uint32_t watched = std::min<uint32_t>(r.capacity, 4096);
  const GuardedBytes& password = *r.password;
  if (storedPassword.empty()) {
    Check(r.status == ERR_REFUSED && r.length == r.capacity, "an entry without password");
    return;
  }
  const bool matches = storedPassword.size() == uint64_t{password.size()} + 1 &&
                       (password.size() == 0 ||
                        std::memcmp(storedPassword.data(), password.data(), password.size()) == 0);
  if (!matches) {
    Check(r.status == ERR_FAILED && r.length == r.capacity, "a wrong password was accepted");
    for (uint32_t i = 0; i < watched; ++i) Check((*r.buffer)[i] == 0xA5, "a wrong password wrote");
    return;
  }
  if (r.nullBuffer || r.capacity < storedKey.size()) {
    Check(r.length == storedKey.size(), "size answer");
    for (uint32_t i = 0; i < watched; ++i) Check((*r.buffer)[i] == 0xA5, "the size answer wrote");
    return;
  }
  Check(r.status == ERR_OK && r.length == storedKey.size(), "export with the right password");
  Check(storedKey.empty() || std::memcmp(r.buffer->data(), storedKey.data(), storedKey.size()) == 0,
        "exported bytes differ from the imported ones");
}

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
  Bytes plantedKey, plantedPassword;
  if ((selector & 1) != 0) {  // plant "planted" with fuzzed contents
    plantedPassword = in.Take(in.Byte() % 24);
    plantedKey = in.Take(in.Length() % 2048);
    const std::string path = std::string(kEntryRoot) + "\\planted";
    PlantValue(path, "Pvk", platform::kRegBinary, plantedKey.data(), plantedKey.size());
    PlantValue(path, "Passwd", platform::kRegSz, plantedPassword.data(), plantedPassword.size());
  }
  const Name picked = PickName(in);
  const GuardedBytes& name = *picked.bytes;
  const bool named = name.HasNul();
  const DataBlob entry{picked.length, name.data()};

  // Import under the name: the bytes to keep and their password.
  Bytes importedKey, importedPassword;
  bool imported = false;
  if ((selector & 2) != 0) {
    const uint32_t keyLength = in.Length();
    const GuardedBytes key = TakeGuarded(in, keyLength);
    const uint32_t passwordLength = in.Length();
    const GuardedBytes password = TakeGuarded(in, passwordLength);
    // Stored whole, such lengths would fill the disk the hive is on; from 2^30
    // up SQLite refuses them before reading.
    if (WouldFillTheDisk(keyLength) || WouldFillTheDisk(passwordLength)) return 0;
    const DataBlob keyArg{key.length(), key.data()};
    const int32_t status =
        QMCA_ImportPrivateKey(&keyArg, password.data(), password.length(), &entry);
    Check(status == ERR_OK || status == ERR_FAILED, "import status");
    Check(named || status == ERR_FAILED, "imported under a name without a NUL");
    imported = status == ERR_OK;
    if (imported) {
      importedKey.assign(key.data(), key.data() + key.size());
      importedPassword.assign(password.data(), password.data() + password.size());
    }
  }

  // Export: the imported entry's password without its last byte, or any.
  const uint8_t capacityMode = in.Byte();
  const bool nullBuffer = capacityMode == 0xFF;
  const uint32_t capacity = nullBuffer ? 0 : capacityMode == 0xFE ? in.Length() : capacityMode;
  const bool rightPassword = imported && !importedPassword.empty() && (selector & 4) != 0;
  const uint32_t passwordLength =
      rightPassword ? static_cast<uint32_t>(importedPassword.size() - 1) : in.Length();
  const GuardedBytes password =
      rightPassword ? GuardedBytes(passwordLength, importedPassword.data(), passwordLength)
                    : TakeGuarded(in, passwordLength);

  GuardedBytes buffer(capacity);
  const uint32_t watched = std::min<uint32_t>(capacity, 4096);
  std::memset(buffer.data(), 0xA5, watched);
  DataBlob key{capacity, nullBuffer ? nullptr : buffer.data()};
  const int32_t status = QMCA_ExportPrivateKey(&entry, password.data(), password.length(), &key);
  Check(status == ERR_OK || status == ERR_FAILED || status == ERR_REFUSED, "export status");
  if (!named) {
    Check(status == ERR_REFUSED && key.length == capacity, "exported under a name without a NUL");
    for (uint32_t i = 0; i < watched; ++i) Check(buffer[i] == 0xA5, "a nameless export wrote");
    return 0;
  }
  const std::string nameText(reinterpret_cast<const char*>(name.data()));
  const ExportResult result{status, key.length, capacity, nullBuffer, &buffer, &password};
  if (imported) {
    CheckExport(result, importedKey, importedPassword);
  } else if (nameText == "stored") {
    CheckExport(result, Bytes(kKey, kKey + sizeof kKey),
                Bytes(kPassword, kPassword + sizeof kPassword));
  } else if (nameText == "planted" && (selector & 1) != 0) {
    CheckExport(result, plantedKey, plantedPassword);
  }
  if ((selector & 2) != 0) {
    // The hive keeps no imported entry; the one stored at start is put back in
    // case the name was (a case of) its own.
    (void)platform::DeleteKeyTree(std::string(kEntryRoot) + "\\" + nameText);
    const std::string path = std::string(kEntryRoot) + "\\stored";
    PlantValue(path, "Pvk", platform::kRegBinary, kKey, sizeof kKey);
    PlantValue(path, "Passwd", platform::kRegSz, reinterpret_cast<const uint8_t*>(kPassword),
               sizeof kPassword);
  }
  return 0;
}
