// Shared conventions of marlinok-tool's commands: exit codes, one-line errors
// on stderr naming the status, and one option parser for every command.
#ifndef MARLINOK_TOOLS_CLI_H
#define MARLINOK_TOOLS_CLI_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace marlinok::tool {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitMissing = 2;  // the key or value named does not exist
constexpr int kExitUsage = 64;

// An option a command understands. Options sharing a key stand for one
// setting: the last one given counts (--md5 after --sha1 means MD5; -o and
// --out both name the output).
struct Option {
  Option(const char* name_, const char* value_, const char* key_, bool emptyValue_ = false)
      : name(name_), value(value_), key(key_), emptyValue(emptyValue_) {}
  const char* name;   // "--format"
  const char* value;  // what its value is called ("FORMAT"), or null for a flag
  const char* key;    // the setting it belongs to
  bool emptyValue;    // whether "" is a value (else a usage error)
};

// A command line taken apart: operands in order, and the options given.
class Args {
 public:
  std::vector<std::string> operands;

  bool Has(const std::string& key) const;
  // The value of the last option given for `key`, or `fallback`.
  std::string Value(const std::string& key, const std::string& fallback = "") const;
  // The name of the last option given for `key` ("--md5"), or `fallback`.
  std::string Chosen(const std::string& key, const std::string& fallback = "") const;

  struct Given {
    std::string key;
    std::string name;
    std::string value;
  };
  std::vector<Given> given;
};

struct Command {
  Command(const char* name_, const char* summary_, const char* usage_,
          int (*run_)(const Args& args), std::vector<Option> options_ = {},
          bool operandsOnly_ = false)
      : name(name_),
        summary(summary_),
        usage(usage_),
        run(run_),
        options(std::move(options_)),
        operandsOnly(operandsOnly_) {}
  const char* name;
  const char* summary;
  const char* usage;  // arguments and an example, printed by --help
  int (*run)(const Args& args);
  std::vector<Option> options;
  // Every argument is an operand, even one that starts with '-' (a PIN, a
  // registry value name).
  bool operandsOnly;
};

// Splits `args` by the command's options: "--" ends the options, "-" is an
// operand, "--name=value" is accepted for options with a value. False with a
// one-line problem for an unknown option or a missing value.
bool ParseArgs(const Command& command, const std::vector<std::string>& args, Args* out,
               std::string* problem);

// The whole tool: `args` is the command line without the program name. Sets
// MARLINOK_REGISTRY for the run when --registry is given and puts it back
// afterwards, so the tool can also be run in-process.
int RunTool(const std::vector<std::string>& args);

// The tool's usage lines, as --help prints them above the commands.
const char* ToolUsage();

// "ERR_FAILED" for -1 and so on; the decimal value for a status without a name.
std::string StatusName(int32_t status);

// Prints "marlinok-tool: <what> (<STATUS_NAME>)" and returns kExitFailed.
int Fail(const std::string& what, int32_t status);
// Prints "marlinok-tool: <what>" and returns kExitFailed.
int Fail(const std::string& what);
// Prints the usage line of a command and returns kExitUsage.
int UsageError(const Command& command, const std::string& what);

std::string Hex(const uint8_t* data, std::size_t length);
// `text` with control characters written as \xNN, for quoting names and paths
// in messages (a name cannot forge a line of output).
std::string Printable(const std::string& text);

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
extern const Command kPkcs11Command;
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

// The command table, in the order help lists it.
const std::vector<const Command*>& Commands();

}  // namespace marlinok::tool

#endif
