// marlinok-tool's commands, run in-process on fuzzed command lines, input
// files and standard input: the option parser, names, PINs, key files, blobs,
// signatures and ciphertexts. Every run ends with a documented exit status,
// leaves no temporary output file behind and leaves the hive usable. The hive,
// the input files and every output live in the temporary hive's folder, the
// working directory; no argument can name a path outside it.
#include <dirent.h>
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli.h"
#include "marlinok.h"
#include "platform/registry.h"
#include "support/fuzz_support.h"

using namespace marlinok;
using namespace marlinok::fuzz;

namespace {

const char kContainerRoot[] = "Software\\Quillmar\\SoftContainerSimulator";

// Files the arguments may name: the inputs written for each run, a folder, a
// file that is not a hive, one that does not exist, and the output. The seed
// program (seeds.cpp) names them by index.
const char* const kFiles[] = {"in0",        "in1",     "key", "folder",
                              "garbage.db", "missing", "out", "/dev/null"};
const char* const kWords[] = {
    "alpha",  "beta", "x|y",        "",     "set",          "check",        "put", "get",
    "3des",   "rc4",  "keys",       "add",  "delete",       "dump",         "-",   "--",
    "--help", "16",   "512",        "pem",  "blob",         "private-blob", "cbc", "ecb",
    "ofb",    "cfb",  "REG_BINARY", "00ff", kContainerRoot, "Software"};
const char* const kRegistries[] = {"", "other.db", "folder", "garbage.db"};

void WriteFile(const char* name, const Bytes& bytes) {
  FILE* file = std::fopen(name, "wb");
  if (file == nullptr) Fail("cannot write an input file");
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

template <std::size_t N>
const char* Pick(Reader& in, const char* const (&list)[N]) {
  return list[in.Byte() % N];
}

// A string of the fuzzer's own: no NUL (a command line has none), no '/'
// (nothing outside the folder), and never the name of a file of the folder.
std::string FreeString(Reader& in) {
  std::string text = "f";
  for (uint8_t c : in.Take(in.Byte() % 24)) {
    if (c == 0) break;
    text.push_back(c == '/' ? '_' : static_cast<char>(c));
  }
  return text;
}

std::vector<std::string> CommandLine(Reader& in) {
  std::vector<std::string> args;
  if (in.Byte() % 8 == 0) {
    args.push_back("--registry");
    args.push_back(Pick(in, kRegistries));
  }
  // The demo makes 2048-bit keys: far too slow to be fuzzed.
  const auto& commands = tool::Commands();
  const tool::Command* command = commands[in.Byte() % commands.size()];
  if (std::string(command->name) == "demo") return {};
  args.push_back(command->name);
  const bool slowKeys = std::string(command->name) == "genkey";
  for (int tokens = in.Byte() % 8; tokens > 0; --tokens) {
    switch (in.Byte() % 4) {
      case 0:
        if (!command->options.empty()) {
          const tool::Option& option = command->options[in.Byte() % command->options.size()];
          // Key generation of more than 768 bits costs seconds.
          if (slowKeys && std::string(option.name) == "--bits") {
            args.push_back("--bits");
            args.push_back(in.Byte() % 2 ? "512" : "4096");
            break;
          }
          args.push_back(option.name);
        }
        break;
      case 1:
        args.push_back(Pick(in, kFiles));
        break;
      case 2:
        args.push_back(Pick(in, kWords));
        break;
      default: {
        std::string text = FreeString(in);
        if (slowKeys && text.find("bits") != std::string::npos) text = "f";
        args.push_back(text);
      }
    }
  }
  return args;
}

// The token as every run finds it: one container with a 512-bit pair of each
// kind, exportable, and one whose signature pair is not.
void ResetToken() {
  (void)platform::DeleteKeyTree(kContainerRoot);
  const RecordPair& pair = FixedPair(512);
  PlantPair("alpha", MARLINOK_PAIR_SIGNATURE, pair);
  PlantPair("alpha", MARLINOK_PAIR_EXCHANGE, pair);
  PlantPair("beta", MARLINOK_PAIR_SIGNATURE, pair);
  const uint8_t no[4] = {0, 0, 0, 0};
  PlantValue(std::string(kContainerRoot) + "\\beta", "SigExport", platform::kRegDword, no,
             sizeof no);
}

bool TemporaryOutputLeft() {
  bool left = false;
  if (DIR* dir = opendir(".")) {
    while (dirent* entry = readdir(dir))
      if (std::string(entry->d_name).rfind(".marlinok-tool-", 0) == 0) left = true;
    closedir(dir);
  }
  return left;
}

int gDevNull = -1;
int gStderr = -1;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // A corpus folder named on the command line that does not exist yet is
  // made empty, not an error.
  for (int i = 1; i < *argc; ++i) {
    struct stat info {};
    if ((*argv)[i][0] != '-' && stat((*argv)[i], &info) != 0) mkdir((*argv)[i], 0755);
  }
  UseTemporaryHive();
  // Work in the hive's folder, which is removed at exit.
  std::string folder = std::getenv("MARLINOK_REGISTRY");
  folder.resize(folder.rfind('/'));
  if (chdir(folder.c_str()) != 0) Fail("cannot enter the temporary folder");
  WriteFile("garbage.db", Bytes(2048, 'z'));
  // The tool's output goes nowhere; the sanitizers keep reporting to stderr.
  gDevNull = open("/dev/null", O_RDWR);
  gStderr = dup(STDERR_FILENO);
  if (gDevNull < 0 || gStderr < 0 || dup2(gDevNull, STDOUT_FILENO) < 0) Fail("no /dev/null");
  __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(gStderr)));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const std::vector<std::string> args = CommandLine(in);
  if (args.empty()) return 0;
  for (const char* name : {"in0", "in1", "key"}) WriteFile(name, in.Take(in.Byte() * 2));
  WriteFile("stdin", in.Rest());
  if (std::freopen("stdin", "rb", stdin) == nullptr) Fail("cannot open standard input");
  ResetToken();
  // A folder for one run only: the folder's removal at exit takes files alone.
  if (mkdir("folder", 0700) != 0) Fail("cannot make the folder input");

  dup2(gDevNull, STDERR_FILENO);
  const int status = tool::RunTool(args);
  dup2(gStderr, STDERR_FILENO);

  Check(status == tool::kExitOk || status == tool::kExitFailed || status == tool::kExitMissing ||
            status == tool::kExitUsage,
        "an exit status the tool does not document");
  Check(!TemporaryOutputLeft(), "a temporary output file was left behind");
  std::string location, problem;
  Check(platform::ProbeRegistry(location, problem) == platform::kErrorSuccess,
        "the hive cannot be used after the run");
  unlink("out");
  rmdir("folder");
  return 0;
}
