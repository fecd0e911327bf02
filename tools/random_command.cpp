// marlinok-tool random: random bytes from the token's generator, in hex.
#include <cstdio>
#include <cstdlib>

#include "cli.h"
#include "marlinok.h"

namespace marlinok::tool {
namespace {

int RunRandom(const std::vector<std::string>& args) {
  unsigned long count = 16;
  if (args.size() > 1) return UsageError(kRandomCommand, "too many arguments");
  if (args.size() == 1) {
    char* end = nullptr;
    count = std::strtoul(args[0].c_str(), &end, 10);
    if (args[0].empty() || *end != '\0' || count < 1 || count > 16)
      return UsageError(kRandomCommand, "COUNT must be 1 to 16");
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
