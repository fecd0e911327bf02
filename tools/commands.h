// The commands of marlinok-tool. Token commands speak only the exported C
// interface; `reg` works on the registry layer directly.
#ifndef MARLINOK_TOOLS_COMMANDS_H
#define MARLINOK_TOOLS_COMMANDS_H

namespace marlinok::tool {

// Exit statuses shared by the commands.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the registry or the token could not do it
constexpr int kExitMissing = 2;  // the key or value named does not exist
constexpr int kExitUsage = 64;   // the command line is wrong

struct ToolOptions {
  const char* registry = nullptr;  // --registry PATH, or null
};

// `marlinok-tool reg ...`: argv[0] is "reg".
int RunRegCommand(int argc, char** argv, const ToolOptions& options);

// Prints the tool's usage lines to standard error.
void PrintUsage();

}  // namespace marlinok::tool

#endif
