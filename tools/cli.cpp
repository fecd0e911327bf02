#include "cli.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "marlinok.h"

namespace marlinok::tool {

bool Args::Has(const std::string& key) const {
  for (const Given& g : given)
    if (g.key == key) return true;
  return false;
}

std::string Args::Value(const std::string& key, const std::string& fallback) const {
  for (auto g = given.rbegin(); g != given.rend(); ++g)
    if (g->key == key) return g->value;
  return fallback;
}

std::string Args::Chosen(const std::string& key, const std::string& fallback) const {
  for (auto g = given.rbegin(); g != given.rend(); ++g)
    if (g->key == key) return g->name;
  return fallback;
}

bool ParseArgs(const Command& command, const std::vector<std::string>& args, Args* out,
               std::string* problem) {
  bool optionsEnded = command.operandsOnly;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!optionsEnded && a == "--") {
      optionsEnded = true;
      continue;
    }
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      out->operands.push_back(a);
      continue;
    }
    const std::size_t equals = a.compare(0, 2, "--") == 0 ? a.find('=') : std::string::npos;
    const std::string name = a.substr(0, equals);
    const Option* option = nullptr;
    for (const Option& candidate : command.options)
      if (name == candidate.name) option = &candidate;
    if (option == nullptr) {
      *problem = "unknown option '" + Printable(name) + "'";
      return false;
    }
    Args::Given given{option->key, name, ""};
    if (option->value == nullptr) {
      if (equals != std::string::npos) {
        *problem = name + " takes no value";
        return false;
      }
    } else if (equals != std::string::npos) {
      given.value = a.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      given.value = args[++i];
    } else {
      *problem = name + " needs a value (" + option->value + ")";
      return false;
    }
    if (option->value != nullptr && given.value.empty() && !option->emptyValue) {
      *problem = name + " needs a value (" + option->value + "), not an empty one";
      return false;
    }
    out->given.push_back(given);
  }
  return true;
}

const std::vector<const Command*>& Commands() {
  static const std::vector<const Command*> commands = {
      &kDemoCommand,   &kListCommand,   &kCreateCommand,  &kDeleteCommand,  &kGenkeyCommand,
      &kSignCommand,   &kVerifyCommand, &kEncryptCommand, &kDecryptCommand, &kExportCommand,
      &kImportCommand, &kPinCommand,    &kLoginCommand,   &kStoresCommand,  &kKeystoreCommand,
      &kSymkeyCommand, &kDigestCommand, &kRandomCommand,  &kRegCommand,     &kPkcs11Command};
  return commands;
}

namespace {

constexpr char kUsage[] =
    "usage: marlinok-tool [--registry PATH] COMMAND [ARGS...]   (COMMAND --help for details)\n"
    "       marlinok-tool --help | --version\n";

void PrintHelp(FILE* out) {
  std::fprintf(out, "%s\n", kUsage);
  for (const Command* command : Commands())
    std::fprintf(out, "  %-10s %s\n", command->name, command->summary);
}

int RunCommand(const std::vector<std::string>& args) {
  if (args.empty()) {
    PrintHelp(stderr);
    return kExitUsage;
  }
  const std::string& name = args[0];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintHelp(stdout);
    return kExitOk;
  }
  if (name == "--version") {
    std::printf("marlinok-tool %s\n", MARLINOK_VERSION);
    return kExitOk;
  }
  for (const Command* command : Commands()) {
    if (name != command->name) continue;
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (!rest.empty() && (rest[0] == "--help" || rest[0] == "-h")) {
      std::printf("marlinok-tool %s: %s\nusage: marlinok-tool %s %s\n", command->name,
                  command->summary, command->name, command->usage);
      return kExitOk;
    }
    Args parsed;
    std::string problem;
    if (!ParseArgs(*command, rest, &parsed, &problem)) return UsageError(*command, problem);
    return command->run(parsed);
  }
  std::fprintf(stderr, "marlinok-tool: unknown command '%s'\n", Printable(name).c_str());
  PrintHelp(stderr);
  return kExitUsage;
}

#ifndef _WIN32
// MARLINOK_REGISTRY set for one run of the tool and put back after it.
class ScopedRegistry {
 public:
  explicit ScopedRegistry(const std::string& path) {
    const char* old = std::getenv("MARLINOK_REGISTRY");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    active_ = setenv("MARLINOK_REGISTRY", path.c_str(), 1) == 0;
  }
  ~ScopedRegistry() {
    if (!active_) return;
    if (hadOld_) {
      setenv("MARLINOK_REGISTRY", old_.c_str(), 1);
    } else {
      unsetenv("MARLINOK_REGISTRY");
    }
  }
  ScopedRegistry(const ScopedRegistry&) = delete;
  ScopedRegistry& operator=(const ScopedRegistry&) = delete;
  bool Active() const { return active_; }

 private:
  bool hadOld_ = false;
  bool active_ = false;
  std::string old_;
};
#endif

// --registry PATH (or --registry=PATH) picks the hive for every command; the
// library finds it through the environment. Returns the exit status.
int RunWithRegistryOption(std::vector<std::string> args) {
  std::string path;
  bool given = false;
  if (!args.empty() && args[0] == "--registry") {
    if (args.size() < 2) {
      std::fprintf(stderr, "marlinok-tool: --registry needs a PATH\n%s", kUsage);
      return kExitUsage;
    }
    path = args[1];
    given = true;
    args.erase(args.begin(), args.begin() + 2);
  } else if (!args.empty() && args[0].compare(0, 11, "--registry=") == 0) {
    path = args[0].substr(11);
    given = true;
    args.erase(args.begin());
  }
  if (!given) return RunCommand(args);
#ifdef _WIN32
  std::fputs("marlinok-tool: --registry has no meaning on Windows\n", stderr);
  return kExitUsage;
#else
  // An empty path would leave the library on the default hive: never that.
  if (path.empty()) {
    std::fprintf(stderr, "marlinok-tool: --registry needs a PATH; an empty one is not a hive\n%s",
                 kUsage);
    return kExitUsage;
  }
  ScopedRegistry registry(path);
  if (!registry.Active())
    return Fail("cannot set MARLINOK_REGISTRY: " + std::string(strerror(errno)));
  return RunCommand(args);
#endif
}

}  // namespace

int RunTool(const std::vector<std::string>& args) {
  std::clearerr(stdout);
  int result = RunWithRegistryOption(args);
  // Output that never reached its file is a failure, whatever the command said.
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const int error = errno;
    std::fprintf(stderr, "marlinok-tool: cannot write standard output%s%s\n",
                 error != 0 ? ": " : "", error != 0 ? std::strerror(error) : "");
    std::clearerr(stdout);
    if (result == kExitOk) result = kExitFailed;
  }
  return result;
}

const char* ToolUsage() { return kUsage; }

std::string StatusName(int32_t status) {
  switch (status) {
    case ERR_OK:
      return "ERR_OK";
    case ERR_FAILED:
      return "ERR_FAILED";
    case ERR_REFUSED:
      return "ERR_REFUSED";
    case ERR_DECRYPT_REJECTED:
      return "ERR_DECRYPT_REJECTED";
    case ERR_WRAP_FAILED:
      return "ERR_WRAP_FAILED";
    case ERR_STORE_NOT_OPENED:
      return "ERR_STORE_NOT_OPENED";
    case ERR_DATA_RANGE:
      return "ERR_DATA_RANGE";
    case ERR_DES_KEY:
      return "ERR_DES_KEY";
    case ERR_BLOCK_LENGTH:
      return "ERR_BLOCK_LENGTH";
    default:
      return std::to_string(status);
  }
}

int Fail(const std::string& what, int32_t status) {
  std::fprintf(stderr, "marlinok-tool: %s (%s)\n", what.c_str(), StatusName(status).c_str());
  return kExitFailed;
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "marlinok-tool: %s\n", what.c_str());
  return kExitFailed;
}

int UsageError(const Command& command, const std::string& what) {
  std::fprintf(stderr, "marlinok-tool %s: %s\nusage: marlinok-tool %s %s\n", command.name,
               what.c_str(), command.name, command.usage);
  return kExitUsage;
}

std::string Hex(const uint8_t* data, std::size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * length);
  for (std::size_t i = 0; i < length; ++i) {
    out.push_back(kDigits[data[i] >> 4]);
    out.push_back(kDigits[data[i] & 15]);
  }
  return out;
}

std::string Printable(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace marlinok::tool
