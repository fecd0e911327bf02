// Shared conventions of marlinok-tool's commands: exit codes, one-line errors
// on stderr naming the status, file input.
#ifndef MARLINOK_TOOLS_CLI_H
#define MARLINOK_TOOLS_CLI_H

#include <cstdint>
#include <string>
#include <vector>

namespace marlinok::tool {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitMissing = 2;  // the key or value named does not exist
constexpr int kExitUsage = 64;

struct Command {
  const char* name;
  const char* summary;
  const char* usage;  // arguments and an example, printed by --help
  int (*run)(const std::vector<std::string>& args);
};

// "ERR_FAILED" for -1 and so on; the decimal value for a status without a name.
std::string StatusName(int32_t status);

// Prints "marlinok-tool: <what> (<STATUS_NAME>)" and returns kExitFailed.
int Fail(const std::string& what, int32_t status);
// Prints "marlinok-tool: <what>" and returns kExitFailed.
int Fail(const std::string& what);
// Prints the usage line of a command and returns kExitUsage.
int UsageError(const Command& command, const std::string& what);

bool ReadFile(const std::string& path, std::vector<uint8_t>* out, std::string* error);
std::string Hex(const uint8_t* data, std::size_t length);

// File encryption with a symmetric key file (encrypt/decrypt with --3des,
// --des or --rc4).
bool WantsSymmetricCipher(const std::vector<std::string>& args);
int RunSymmetricEncrypt(const std::vector<std::string>& args);
int RunSymmetricDecrypt(const std::vector<std::string>& args);

// Prints the containers with their pairs, as `list` does.
int PrintContainerList(bool json);

// Checks a PIN with the token and reports the outcome.
int RunLoginWith(const std::string& pin);

// The commands, defined in their own files.
extern const Command kCreateCommand;
extern const Command kDeleteCommand;
extern const Command kDigestCommand;
extern const Command kExportCommand;
extern const Command kImportCommand;
extern const Command kKeystoreCommand;
extern const Command kListCommand;
extern const Command kLoginCommand;
extern const Command kPinCommand;
extern const Command kStoresCommand;
extern const Command kSymkeyCommand;
extern const Command kRandomCommand;
extern const Command kRegCommand;
extern const Command kDemoCommand;
extern const Command kGenkeyCommand;
extern const Command kSignCommand;
extern const Command kVerifyCommand;
extern const Command kEncryptCommand;
extern const Command kDecryptCommand;

}  // namespace marlinok::tool

#endif
