// Container commands: list, create, delete.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "hive.h"
#include "keys.h"
#include "marlinok.h"

namespace marlinok::tool {
namespace {

// The modulus length of the key a reference names, or 0.
uint32_t PairBits(KeyReference& key) {
  uint8_t value[4];
  uint32_t length = sizeof value;
  if (QM_GetKeyProperty(key.Blob(), KP_BLOCKLEN, value, &length) != ERR_OK) return 0;
  return uint32_t{value[0]} | uint32_t{value[1]} << 8 | uint32_t{value[2]} << 16 |
         uint32_t{value[3]} << 24;
}

// The bit length of a container's pair, 0 for none.
uint32_t Bits(const std::string& container, bool exchange) {
  KeyReference publicKey, privateKey;
  if (FindPair(container, exchange, &publicKey, &privateKey) != ERR_OK) return 0;
  return PairBits(publicKey);
}

std::string BitsText(uint32_t bits, const char* none) {
  return bits == 0 ? none : std::to_string(bits);
}

// The length of the well-formed UTF-8 sequence at text[i], or 0.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xbf;  // the second byte's range
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;   // no overlong forms
    if (lead == 0xed) high = 0x9f;  // no surrogates
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xbf) return 0;
  return length;
}

// A JSON string for any bytes: bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (const std::size_t length = Utf8Length(text, i)) {
      out.append(text, i, length);
      i += length - 1;
    } else {
      out += "\\ufffd";
    }
  }
  return out + "\"";
}

int RunList(const Args& args) {
  if (!args.operands.empty()) return UsageError(kListCommand, "no operands expected");
  if (const int failed = RequireRegistry()) return failed;
  return ListContainers(args.Has("json"));
}

int RunCreate(const Args& args) {
  if (args.operands.size() != 1) return UsageError(kCreateCommand, "one container name expected");
  const std::string& name = args.operands[0];
  if (const std::string problem = NameProblem(name); !problem.empty())
    return Fail("cannot create '" + Printable(name) + "': " + problem);
  if (const int failed = RequireRegistry()) return failed;
  const int32_t status = QM_CreateContainer(name.c_str());
  if (status != ERR_OK)
    return Fail("container '" + name + "' already exists or cannot be created", status);
  return kExitOk;
}

// Any name the token takes, so that a container the tool would not make can
// still be removed with it.
int RunDelete(const Args& args) {
  if (args.operands.size() != 1) return UsageError(kDeleteCommand, "one container name expected");
  const std::string& name = args.operands[0];
  if (const int failed = RequireRegistry()) return failed;
  const int32_t status = QM_DestroyContainer(name.c_str());
  if (status != ERR_OK)
    return Fail("container '" + Printable(name) + "' cannot be deleted", status);
  return kExitOk;
}

}  // namespace

int ListContainers(bool json) {
  std::vector<std::string> names;
  std::string error;
  if (!ContainerNames(&names, &error)) return Fail(error);
  if (json) std::printf("[");
  bool first = true;
  for (const std::string& name : names) {
    if (const std::string problem = NameProblem(name); !problem.empty()) {
      std::fprintf(stderr, "marlinok-tool: list: skipped container '%s': %s\n",
                   Printable(name).c_str(), problem.c_str());
      continue;
    }
    const uint32_t signature = Bits(name, false), exchange = Bits(name, true);
    if (json) {
      std::printf("%s{\"name\":%s,\"signature\":%s,\"exchange\":%s}", first ? "" : ",",
                  JsonString(name).c_str(), BitsText(signature, "null").c_str(),
                  BitsText(exchange, "null").c_str());
    } else {
      std::printf("%s\tsignature=%s\texchange=%s\n", name.c_str(), BitsText(signature, "-").c_str(),
                  BitsText(exchange, "-").c_str());
    }
    first = false;
  }
  if (json) std::printf("]\n");
  std::fflush(stdout);
  return kExitOk;
}

const Command kListCommand{
    "list",
    "containers and the pairs they hold",
    "[--json]\n"
    "  prints one line per container: NAME<TAB>signature=BITS<TAB>exchange=BITS ('-' for\n"
    "  no pair); --json prints [{\"name\":..., \"signature\":BITS|null, \"exchange\":BITS|null}]\n"
    "  (bytes that are not UTF-8 become U+FFFD). A container whose name the tool would\n"
    "  refuse is left out, with a line on stderr.\n"
    "  example: marlinok-tool list --json",
    RunList,
    {{"--json", nullptr, "json"}}};
const Command kCreateCommand{"create", "creates an empty container",
                             "NAME\n"
                             "  (1 to 49 bytes; no '\\', '|' or control characters)\n"
                             "  example: marlinok-tool create alpha",
                             RunCreate};
const Command kDeleteCommand{"delete", "deletes a container and its pairs",
                             "NAME\n  example: marlinok-tool delete alpha", RunDelete};

}  // namespace marlinok::tool
