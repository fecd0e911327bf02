// marlinok-tool: the token from the command line. Token commands go through
// the library's exported C interface only.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"

namespace marlinok::tool {
namespace {

const Command* const kCommands[] = {
    &kDemoCommand,   &kListCommand,   &kCreateCommand,  &kDeleteCommand,  &kGenkeyCommand,
    &kSignCommand,   &kVerifyCommand, &kEncryptCommand, &kDecryptCommand, &kExportCommand,
    &kImportCommand, &kPinCommand,    &kLoginCommand,   &kStoresCommand,  &kKeystoreCommand,
    &kSymkeyCommand, &kDigestCommand, &kRandomCommand,  &kRegCommand};

void PrintHelp(FILE* out) {
  std::fprintf(out,
               "usage: marlinok-tool [--registry PATH] COMMAND [ARGS...]   (COMMAND --help for "
               "details)\n\n");
  for (const Command* command : kCommands)
    std::fprintf(out, "  %-10s %s\n", command->name, command->summary);
}

// --registry PATH (or --registry=PATH) picks the hive for every command; the
// library finds it through the environment.
bool TakeRegistryOption(int* argc, char*** argv) {
  const char* path = nullptr;
  int used = 0;
  if (*argc > 2 && std::strcmp((*argv)[1], "--registry") == 0) {
    path = (*argv)[2];
    used = 2;
  } else if (*argc > 1 && std::strncmp((*argv)[1], "--registry=", 11) == 0) {
    path = (*argv)[1] + 11;
    used = 1;
  }
  if (path == nullptr) return true;
#ifdef _WIN32
  (void)used;
  std::fputs("marlinok-tool: --registry has no meaning on Windows\n", stderr);
  return false;
#else
  if (setenv("MARLINOK_REGISTRY", path, 1) != 0) return false;
  (*argv)[used] = (*argv)[0];
  *argv += used;
  *argc -= used;
  return true;
#endif
}

int Main(int argc, char** argv) {
  if (!TakeRegistryOption(&argc, &argv)) return kExitUsage;
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
