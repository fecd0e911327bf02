// keystore put/get: opaque private-key bytes kept under a name and a password.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "files.h"
#include "hive.h"
#include "marlinok.h"

namespace marlinok::tool {
namespace {

// The password is stored with its terminating NUL counted and presented
// without it, the token's matching rule.
int Put(const std::string& name, const std::string& file, const std::string& password) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadInput(file, kWholeFileBytes, &bytes, &error, "the most the key store keeps"))
    return Fail(error);
  if (const int failed = RequireRegistry()) return failed;
  DataBlob key{static_cast<uint32_t>(bytes.size()), bytes.data()};
  DataBlob entry{static_cast<uint32_t>(name.size()),
                 reinterpret_cast<uint8_t*>(const_cast<char*>(name.c_str()))};
  const int32_t status =
      QMCA_ImportPrivateKey(&key, reinterpret_cast<const uint8_t*>(password.c_str()),
                            static_cast<uint32_t>(password.size() + 1), &entry);
  if (status != ERR_OK) return Fail("cannot keep '" + Printable(name) + "'", status);
  return kExitOk;
}

int Get(const std::string& name, const std::string& file, const std::string& password) {
  if (const int failed = RequireRegistry()) return failed;
  DataBlob entry{static_cast<uint32_t>(name.size()),
                 reinterpret_cast<uint8_t*>(const_cast<char*>(name.c_str()))};
  const auto* pw = reinterpret_cast<const uint8_t*>(password.c_str());
  const auto pwLength = static_cast<uint32_t>(password.size());
  DataBlob key{0, nullptr};
  int32_t status = QMCA_ExportPrivateKey(&entry, pw, pwLength, &key);
  if (status == ERR_FAILED) return Fail("wrong password for '" + Printable(name) + "'", status);
  if (status != ERR_OK) return Fail("no key kept as '" + Printable(name) + "'", status);
  std::vector<uint8_t> bytes(key.length);
  key.data = bytes.data();
  status = QMCA_ExportPrivateKey(&entry, pw, pwLength, &key);
  if (status != ERR_OK) return Fail("cannot read '" + Printable(name) + "'", status);
  bytes.resize(key.length);
  return Emit(file, bytes, FileMode::kSecret);
}

int RunKeystore(const Args& args) {
  if (args.operands.size() != 3 || !args.Has("password"))
    return UsageError(kKeystoreCommand, "put|get NAME FILE --password PASSWORD");
  const std::string& verb = args.operands[0];
  const std::string& file = args.operands[2];
  if (file.empty()) return UsageError(kKeystoreCommand, "FILE cannot be empty");
  if (verb == "put") return Put(args.operands[1], file, args.Value("password"));
  if (verb == "get") return Get(args.operands[1], file, args.Value("password"));
  return UsageError(kKeystoreCommand, "unknown subcommand '" + Printable(verb) + "'");
}

}  // namespace

const Command kKeystoreCommand{
    "keystore",
    "keeps key bytes under a name, guarded by a password",
    "put|get NAME FILE --password PASSWORD\n"
    "  (put reads at most 16 MiB; get creates FILE 0600)\n"
    "  example: marlinok-tool keystore put backup key.bin --password s3cret",
    RunKeystore,
    {{"--password", "PASSWORD", "password", true}}};

}  // namespace marlinok::tool
