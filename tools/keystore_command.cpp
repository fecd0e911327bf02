// keystore put/get: opaque private-key bytes kept under a name and a password.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cli.h"
#include "marlinok.h"

namespace marlinok::tool {
namespace {

// The password is stored with its terminating NUL counted and presented
// without it, the token's matching rule.
int Put(const std::string& name, const std::string& file, const std::string& password) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadFile(file, &bytes, &error)) return Fail(error);
  DataBlob key{static_cast<uint32_t>(bytes.size()), bytes.data()};
  DataBlob entry{static_cast<uint32_t>(name.size()),
                 reinterpret_cast<uint8_t*>(const_cast<char*>(name.c_str()))};
  const int32_t status =
      QMCA_ImportPrivateKey(&key, reinterpret_cast<const uint8_t*>(password.c_str()),
                            static_cast<uint32_t>(password.size() + 1), &entry);
  if (status != ERR_OK) return Fail("cannot keep '" + name + "'", status);
  return kExitOk;
}

int Get(const std::string& name, const std::string& file, const std::string& password) {
  DataBlob entry{static_cast<uint32_t>(name.size()),
                 reinterpret_cast<uint8_t*>(const_cast<char*>(name.c_str()))};
  const auto* pw = reinterpret_cast<const uint8_t*>(password.c_str());
  const auto pwLength = static_cast<uint32_t>(password.size());
  DataBlob key{0, nullptr};
  int32_t status = QMCA_ExportPrivateKey(&entry, pw, pwLength, &key);
  if (status == ERR_FAILED) return Fail("wrong password for '" + name + "'", status);
  if (status != ERR_OK) return Fail("no key kept as '" + name + "'", status);
  std::vector<uint8_t> bytes(key.length);
  key.data = bytes.data();
  status = QMCA_ExportPrivateKey(&entry, pw, pwLength, &key);
  if (status != ERR_OK) return Fail("cannot read '" + name + "'", status);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(key.length));
  if (!out) return Fail("cannot write '" + file + "'");
  return kExitOk;
}

int RunKeystore(const std::vector<std::string>& args) {
  if (args.size() != 5 || args[3] != "--password")
    return UsageError(kKeystoreCommand, "put|get NAME FILE --password PASSWORD");
  if (args[0] == "put") return Put(args[1], args[2], args[4]);
  if (args[0] == "get") return Get(args[1], args[2], args[4]);
  return UsageError(kKeystoreCommand, "unknown subcommand '" + args[0] + "'");
}

}  // namespace

const Command kKeystoreCommand{
    "keystore", "keeps key bytes under a name, guarded by a password",
    "put|get NAME FILE --password PASSWORD\n"
    "  example: marlinok-tool keystore put backup key.bin --password s3cret",
    RunKeystore};

}  // namespace marlinok::tool
