// marlinok-tool: the token from the command line. Token commands go through
// the library's exported C interface only.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"

namespace marlinok::tool {
namespace {

const Command* const kCommands[] = {&kDemoCommand,    &kDigestCommand, &kRandomCommand,
                                    &kGenkeyCommand,  &kSignCommand,   &kVerifyCommand,
                                    &kEncryptCommand, &kDecryptCommand};

void PrintHelp(FILE* out) {
  std::fprintf(out, "usage: marlinok-tool COMMAND [ARGS...]   (COMMAND --help for details)\n\n");
  for (const Command* command : kCommands)
    std::fprintf(out, "  %-10s %s\n", command->name, command->summary);
}

int Main(int argc, char** argv) {
  if (argc < 2) {
    PrintHelp(stderr);
    return kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintHelp(stdout);
    return kExitOk;
  }
  for (const Command* command : kCommands) {
    if (name != command->name) continue;
    std::vector<std::string> args(argv + 2, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
      std::printf("marlinok-tool %s: %s\nusage: marlinok-tool %s %s\n", command->name,
                  command->summary, command->name, command->usage);
      return kExitOk;
    }
    return command->run(args);
  }
  std::fprintf(stderr, "marlinok-tool: unknown command '%s'\n", name.c_str());
  PrintHelp(stderr);
  return kExitUsage;
}

}  // namespace
}  // namespace marlinok::tool

int main(int argc, char** argv) { return marlinok::tool::Main(argc, argv); }
