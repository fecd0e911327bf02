// marlinok-tool random: random bytes from the token's generator, in hex.
#include <cstdio>
#include <cstdlib>

#include "cli.h"
#include "marlinok.h"

namespace marlinok::tool {
namespace {

int RunRandom(const Args& args) {
  const auto& operands = args.operands;
  unsigned long count = 16;
  if (operands.size() > 1) return UsageError(kRandomCommand, "too many arguments");
  if (operands.size() == 1) {
    const std::string& text = operands[0];
    if (text.empty() || text.size() > 2 ||
        text.find_first_not_of("0123456789") != std::string::npos)
      return UsageError(kRandomCommand, "COUNT must be 1 to 16");
    count = std::strtoul(text.c_str(), nullptr, 10);
    if (count < 1 || count > 16) return UsageError(kRandomCommand, "COUNT must be 1 to 16");
  }
  uint8_t bytes[16];
  DataBlob blob{static_cast<uint32_t>(count), bytes};
  const int32_t status = QM_GenRandom(&blob);
  if (status != ERR_OK) return Fail("random generator failed", status);
  std::printf("%s\n", Hex(bytes, count).c_str());
  return kExitOk;
}

}  // namespace

const Command kRandomCommand{"random", "random bytes (1 to 16) in hex",
                             "[COUNT]\n  example: marlinok-tool random 16", RunRandom};

}  // namespace marlinok::tool
