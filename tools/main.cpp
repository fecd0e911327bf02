// marlinok-tool: the token from the command line. The commands live in the
// marlinok_tool_commands library, so that they can be run in-process too.
#include <string>
#include <vector>

#include "cli.h"

int main(int argc, char** argv) {
  return marlinok::tool::RunTool(std::vector<std::string>(argv + 1, argv + argc));
}
