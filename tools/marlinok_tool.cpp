// marlinok-tool: the token from the command line.
//   marlinok-tool [--registry PATH]              16 random bytes from the token, in hex
//   marlinok-tool [--registry PATH] reg ...      the registry the token keeps its state in
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "marlinok.h"

namespace marlinok::tool {

void PrintUsage() {
  std::fputs(
      "usage: marlinok-tool [--registry PATH]\n"
      "       marlinok-tool [--registry PATH] reg keys KEYPATH\n"
      "       marlinok-tool [--registry PATH] reg get KEYPATH VALUENAME\n"
      "       marlinok-tool [--registry PATH] reg set KEYPATH VALUENAME TYPE HEX\n"
      "       marlinok-tool [--registry PATH] reg add KEYPATH\n"
      "       marlinok-tool [--registry PATH] reg delete KEYPATH [VALUENAME]\n"
      "       marlinok-tool [--registry PATH] reg dump [KEYPATH]\n",
      stderr);
}

namespace {

int PrintRandomBytes() {
  uint8_t bytes[16];
  DataBlob blob{sizeof bytes, bytes};
  if (QM_GenRandom(&blob) != ERR_OK) return kExitFailure;
  for (uint8_t b : bytes) std::printf("%02x", b);
  std::printf("\n");
  return kExitOk;
}

}  // namespace
}  // namespace marlinok::tool

int main(int argc, char** argv) {
  using namespace marlinok::tool;
  ToolOptions options;
  int first = 1;
  // Global options come before the command.
  while (first < argc && std::strncmp(argv[first], "--", 2) == 0) {
    const char* option = argv[first];
    if (std::strcmp(option, "--registry") == 0 && first + 1 < argc) {
      options.registry = argv[first + 1];
      first += 2;
    } else if (std::strncmp(option, "--registry=", 11) == 0) {
      options.registry = option + 11;
      first += 1;
    } else if (std::strcmp(option, "--help") == 0) {
      PrintUsage();
      return kExitOk;
    } else {
      std::fprintf(stderr, "marlinok-tool: unknown option %s\n", option);
      PrintUsage();
      return kExitUsage;
    }
  }
  if (first == argc) return PrintRandomBytes();
  if (std::strcmp(argv[first], "reg") == 0) {
    return RunRegCommand(argc - first, argv + first, options);
  }
  std::fprintf(stderr, "marlinok-tool: unknown command %s\n", argv[first]);
  PrintUsage();
  return kExitUsage;
}
