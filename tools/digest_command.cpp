// marlinok-tool digest: MD5 and SHA-1 of files, through QM_Digest.
#include <cstdio>
#include <limits>

#include "cli.h"
#include "marlinok.h"

namespace marlinok::tool {
namespace {

bool Digest(uint32_t algId, const std::vector<uint8_t>& data, std::string* hex, int32_t* status) {
  uint8_t digest[20];
  uint32_t length = sizeof digest;
  *status = QM_Digest(digest, &length, data.data(), static_cast<uint32_t>(data.size()), algId);
  if (*status != ERR_OK) return false;
  *hex = Hex(digest, algId == CALG_MD5 ? 16 : 20);
  return true;
}

int RunDigest(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  bool md5 = true, sha1 = true;
  for (const std::string& arg : args) {
    if (arg == "--md5") {
      sha1 = false;
    } else if (arg == "--sha1") {
      md5 = false;
    } else if (!arg.empty() && arg[0] == '-') {
      return UsageError(kDigestCommand, "unknown option '" + arg + "'");
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) return UsageError(kDigestCommand, "no file given");
  if (!md5 && !sha1) return UsageError(kDigestCommand, "--md5 and --sha1 exclude each other");
  for (const std::string& file : files) {
    std::vector<uint8_t> data;
    std::string error;
    if (!ReadFile(file, &data, &error)) return Fail(error);
    if (data.size() > std::numeric_limits<uint32_t>::max())
      return Fail("'" + file + "' is larger than 4 GiB");
    for (uint32_t algId : {CALG_MD5, CALG_SHA1}) {
      if ((algId == CALG_MD5 && !md5) || (algId == CALG_SHA1 && !sha1)) continue;
      std::string hex;
      int32_t status = ERR_OK;
      if (!Digest(algId, data, &hex, &status))
        return Fail("digest of '" + file + "' failed", status);
      std::printf("%s  %s  %s\n", algId == CALG_MD5 ? "MD5 " : "SHA1", hex.c_str(), file.c_str());
    }
  }
  return kExitOk;
}

}  // namespace

const Command kDigestCommand{"digest", "MD5 and SHA-1 of files",
                             "[--md5|--sha1] FILE...\n  example: marlinok-tool digest README.md",
                             RunDigest};

}  // namespace marlinok::tool
