#include "cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "marlinok.h"

namespace marlinok::tool {

std::string StatusName(int32_t status) {
  switch (status) {
    case ERR_OK:
      return "ERR_OK";
    case ERR_FAILED:
      return "ERR_FAILED";
    case ERR_REFUSED:
      return "ERR_REFUSED";
    case ERR_DECRYPT_REJECTED:
      return "ERR_DECRYPT_REJECTED";
    case ERR_WRAP_FAILED:
      return "ERR_WRAP_FAILED";
    case ERR_STORE_NOT_OPENED:
      return "ERR_STORE_NOT_OPENED";
    case ERR_DATA_RANGE:
      return "ERR_DATA_RANGE";
    case ERR_DES_KEY:
      return "ERR_DES_KEY";
    case ERR_BLOCK_LENGTH:
      return "ERR_BLOCK_LENGTH";
    default:
      return std::to_string(status);
  }
}

int Fail(const std::string& what, int32_t status) {
  std::fprintf(stderr, "marlinok-tool: %s (%s)\n", what.c_str(), StatusName(status).c_str());
  return kExitFailed;
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "marlinok-tool: %s\n", what.c_str());
  return kExitFailed;
}

int UsageError(const Command& command, const std::string& what) {
  std::fprintf(stderr, "marlinok-tool %s: %s\nusage: marlinok-tool %s %s\n", command.name,
               what.c_str(), command.name, command.usage);
  return kExitUsage;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read '" + path + "': " + std::strerror(errno);
    return false;
  }
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = "cannot read '" + path + "'";
    return false;
  }
  return true;
}

std::string Hex(const uint8_t* data, std::size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * length);
  for (std::size_t i = 0; i < length; ++i) {
    out.push_back(kDigits[data[i] >> 4]);
    out.push_back(kDigits[data[i] & 15]);
  }
  return out;
}

}  // namespace marlinok::tool
