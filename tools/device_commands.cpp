// Device commands: the PIN, and the certificate-store names.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"
#include "marlinok.h"

namespace marlinok::tool {
namespace {

constexpr int32_t kUserPin = 1;

// The PIN from the command line, or a line of standard input when it is "-"
// or missing (keeps it out of the process list).
bool PinArgument(const std::vector<std::string>& args, std::size_t index, std::string* pin) {
  if (index < args.size() && args[index] != "-") {
    *pin = args[index];
    return true;
  }
  return static_cast<bool>(std::getline(std::cin, *pin));
}

int RunPin(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return UsageError(kPinCommand, "pin set|check [PIN]");
  std::string pin;
  if (!PinArgument(args, 1, &pin)) return UsageError(kPinCommand, "no PIN given");
  if (args[0] == "set") {
    const int32_t status = QMCA_SetPin(kUserPin, pin.c_str());
    if (status == 1) return kExitOk;  // this call's success
    if (status == 0) return Fail("no token yet: create a container first");
    return Fail("the PIN could not be stored", status);
  }
  if (args[0] == "check") return RunLoginWith(pin);
  return UsageError(kPinCommand, "unknown subcommand '" + args[0] + "'");
}

int RunLogin(const std::vector<std::string>& args) {
  if (args.size() > 1) return UsageError(kLoginCommand, "too many arguments");
  std::string pin;
  if (!PinArgument(args, 0, &pin)) return UsageError(kLoginCommand, "no PIN given");
  return RunLoginWith(pin);
}

int RunStores(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError(kStoresCommand, "no arguments expected");
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

int RunLoginWith(const std::string& pin) {
  const int32_t status = QMCA_Login(kUserPin, pin.c_str());
  if (status == ERR_OK) {
    std::printf("PIN accepted\n");
    return kExitOk;
  }
  if (status == ERR_REFUSED) return Fail("no PIN is set", status);
  return Fail("wrong PIN", status);
}

const Command kPinCommand{"pin", "sets or checks the token's PIN",
                          "set|check [PIN]   (the PIN is read from standard input when omitted)\n"
                          "  example: echo 1234 | marlinok-tool pin set",
                          RunPin};
const Command kLoginCommand{"login", "checks a PIN against the token's",
                            "[PIN]   (read from standard input when omitted)\n"
                            "  example: marlinok-tool login 1234",
                            RunLogin};
const Command kStoresCommand{"stores", "lists the certificate-store names, one a line",
                             "\n  example: marlinok-tool stores", RunStores};

}  // namespace marlinok::tool
