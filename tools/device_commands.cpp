// Device commands: the PIN, and the certificate-store names.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "hive.h"
#include "marlinok.h"

namespace marlinok::tool {
namespace {

constexpr int32_t kUserPin = 1;
constexpr std::size_t kMaxPinBytes = 4096;

// The PIN from the command line, or from standard input when it is "-" or
// missing (keeps it out of the process list): its one line. The token keeps the PIN as a C string
// and standard input ends it at a line break, so a PIN that is empty or holds a NUL, CR or LF is
// refused rather than cut. Returns kExitOk, or the exit status with the reason told.
int TakePin(const Command& command, const Args& args, std::size_t index, std::string* pin) {
  if (index < args.operands.size() && args.operands[index] != "-") {
    *pin = args.operands[index];
  } else {
    pin->clear();
    bool lineEnded = false;
    for (int c; (c = std::getc(stdin)) != EOF;) {
      if (c == '\n') {
        lineEnded = true;
        break;
      }
      if (pin->size() == kMaxPinBytes)
        return Fail("the PIN is longer than " + std::to_string(kMaxPinBytes) + " bytes");
      pin->push_back(static_cast<char>(c));
    }
    if (pin->empty() && !lineEnded) return UsageError(command, "no PIN given");
    // From a file or a pipe, a second line would be silently dropped.
    if (lineEnded && isatty(STDIN_FILENO) == 0 && std::getc(stdin) != EOF)
      return Fail("the PIN cannot hold a NUL, CR or LF byte (standard input has several lines)");
  }
  if (pin->empty()) return Fail("the PIN cannot be empty");
  if (pin->find_first_of(std::string("\0\r\n", 3)) != std::string::npos)
    return Fail("the PIN cannot hold a NUL, CR or LF byte");
  return kExitOk;
}

int CheckPin(const std::string& pin) {
  const int32_t status = QMCA_Login(kUserPin, pin.c_str());
  if (status == ERR_OK) {
    std::printf("PIN accepted\n");
    return kExitOk;
  }
  if (status == ERR_REFUSED) return Fail("no PIN is set", status);
  return Fail("wrong PIN", status);
}

int RunPin(const Args& args) {
  const auto& operands = args.operands;
  if (operands.empty() || operands.size() > 2)
    return UsageError(kPinCommand, "pin set|check [PIN]");
  if (operands[0] != "set" && operands[0] != "check")
    return UsageError(kPinCommand, "unknown subcommand '" + Printable(operands[0]) + "'");
  std::string pin;
  if (const int failed = TakePin(kPinCommand, args, 1, &pin)) return failed;
  if (const int failed = RequireRegistry()) return failed;
  if (operands[0] == "check") return CheckPin(pin);
  const int32_t status = QMCA_SetPin(kUserPin, pin.c_str());
  if (status == 1) return kExitOk;  // this call's success
  if (status == 0) return Fail("no token yet: create a container first");
  return Fail("the PIN could not be stored", status);
}

int RunLogin(const Args& args) {
  if (args.operands.size() > 1) return UsageError(kLoginCommand, "too many arguments");
  std::string pin;
  if (const int failed = TakePin(kLoginCommand, args, 0, &pin)) return failed;
  if (const int failed = RequireRegistry()) return failed;
  return CheckPin(pin);
}

int RunStores(const Args& args) {
  if (!args.operands.empty()) return UsageError(kStoresCommand, "no arguments expected");
  if (const int failed = RequireRegistry()) return failed;
  uint32_t length = 0;
  int32_t status = QMCA_EnumCerstoreName(nullptr, &length);
  if (status == ERR_STORE_NOT_OPENED) return kExitOk;  // no certificate stores
  if (status != ERR_OK) return Fail("cannot list the certificate stores", status);
  std::vector<char> buffer(2 * std::size_t{length} + 4096, '\0');
  status = QMCA_EnumCerstoreName(length == 0 ? nullptr : buffer.data(), &length);
  if (status != ERR_OK) return Fail("cannot list the certificate stores", status);
  std::string list(buffer.data());
  for (char& c : list)
    if (c == '|') c = '\n';
  if (!list.empty()) std::printf("%s\n", list.c_str());
  return kExitOk;
}

}  // namespace

const Command kPinCommand{"pin",
                          "sets or checks the token's PIN",
                          "set|check [PIN]   (read from standard input when omitted or '-';\n"
                          "  not empty, no NUL, CR or LF)\n"
                          "  example: echo 1234 | marlinok-tool pin set",
                          RunPin,
                          {},
                          true};
const Command kLoginCommand{"login",
                            "checks a PIN against the token's",
                            "[PIN]   (read from standard input when omitted or '-')\n"
                            "  example: marlinok-tool login 1234",
                            RunLogin,
                            {},
                            true};
const Command kStoresCommand{"stores", "lists the certificate-store names, one a line",
                             "\n  example: marlinok-tool stores", RunStores};

}  // namespace marlinok::tool
