// Container commands: list, create, delete.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "marlinok.h"

namespace marlinok::tool {
namespace {

// Container names, in the token's order.
bool ContainerNames(std::vector<std::string>* names, int32_t* status) {
  uint32_t length = 0;
  *status = QMCA_EnumKeyContainerName(nullptr, &length);
  if (*status == ERR_STORE_NOT_OPENED) {
    names->clear();  // no container was ever made
    *status = ERR_OK;
    return true;
  }
  if (*status != ERR_OK) return false;
  // The fill call writes the whole list whatever room there is: leave room for
  // containers made between the two calls.
  std::vector<char> buffer(2 * std::size_t{length} + 4096, '\0');
  uint32_t filled = 0;
  *status = QMCA_EnumKeyContainerName(length == 0 ? nullptr : buffer.data(), &filled);
  if (*status != ERR_OK) return false;
  names->clear();
  std::string list(buffer.data());
  std::size_t start = 0;
  while (!list.empty() && start <= list.size()) {
    const std::size_t bar = list.find('|', start);
    names->push_back(
        list.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return true;
}

// The modulus length of the pair a reference names, or 0.
uint32_t PairBits(DataBlob* ref) {
  if (ref->length == 0) return 0;
  uint8_t value[4];
  uint32_t length = sizeof value;
  if (QM_GetKeyProperty(ref, KP_BLOCKLEN, value, &length) != ERR_OK) return 0;
  return uint32_t{value[0]} | uint32_t{value[1]} << 8 | uint32_t{value[2]} << 16 |
         uint32_t{value[3]} << 24;
}

struct ContainerInfo {
  std::string name;
  uint32_t signatureBits = 0;  // 0: no such pair
  uint32_t exchangeBits = 0;
};

ContainerInfo Describe(const std::string& name) {
  ContainerInfo info{name};
  std::vector<uint8_t> storage(4 * 512);
  DataBlob refs[4];
  for (int i = 0; i < 4; ++i) refs[i] = DataBlob{0, storage.data() + 512 * i};
  if (name.size() + 64 > 512) return info;
  if (QM_FindContainerAndKeypair(name.c_str(), &refs[0], &refs[1], &refs[2], &refs[3]) != ERR_OK)
    return info;
  info.signatureBits = PairBits(&refs[0]);
  info.exchangeBits = PairBits(&refs[2]);
  return info;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Bits(uint32_t bits, const char* none) {
  return bits == 0 ? none : std::to_string(bits);
}

int RunList(const std::vector<std::string>& args) {
  bool json = false;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      json = true;
    } else {
      return UsageError(kListCommand, "unknown argument '" + arg + "'");
    }
  }
  return PrintContainerList(json);
}

int RunCreate(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError(kCreateCommand, "one container name expected");
  const int32_t status = QM_CreateContainer(args[0].c_str());
  if (status != ERR_OK)
    return Fail("container '" + args[0] + "' already exists or cannot be created", status);
  return kExitOk;
}

int RunDelete(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError(kDeleteCommand, "one container name expected");
  const int32_t status = QM_DestroyContainer(args[0].c_str());
  if (status != ERR_OK) return Fail("container '" + args[0] + "' cannot be deleted", status);
  return kExitOk;
}

}  // namespace

int PrintContainerList(bool json) {
  std::vector<std::string> names;
  int32_t status = ERR_OK;
  if (!ContainerNames(&names, &status)) return Fail("cannot list the containers", status);
  if (json) std::printf("[");
  for (std::size_t i = 0; i < names.size(); ++i) {
    const ContainerInfo info = Describe(names[i]);
    if (json) {
      std::printf("%s{\"name\":%s,\"signature\":%s,\"exchange\":%s}", i == 0 ? "" : ",",
                  JsonString(info.name).c_str(), Bits(info.signatureBits, "null").c_str(),
                  Bits(info.exchangeBits, "null").c_str());
    } else {
      std::printf("%s\tsignature=%s\texchange=%s\n", info.name.c_str(),
                  Bits(info.signatureBits, "-").c_str(), Bits(info.exchangeBits, "-").c_str());
    }
  }
  if (json) std::printf("]\n");
  std::fflush(stdout);
  return kExitOk;
}

const Command kListCommand{
    "list", "containers and the pairs they hold",
    "[--json]\n"
    "  prints one line per container: NAME<TAB>signature=BITS<TAB>exchange=BITS ('-' for\n"
    "  no pair); --json prints [{\"name\":..., \"signature\":BITS|null, \"exchange\":BITS|null}]\n"
    "  example: marlinok-tool list --json",
    RunList};
const Command kCreateCommand{"create", "creates an empty container",
                             "NAME\n  example: marlinok-tool create alpha", RunCreate};
const Command kDeleteCommand{"delete", "deletes a container and its pairs",
                             "NAME\n  example: marlinok-tool delete alpha", RunDelete};

}  // namespace marlinok::tool
