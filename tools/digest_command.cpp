// marlinok-tool digest: MD5 and SHA-1 of files of any size (the token's
// QM_Digest for files it takes in one call, OpenSSL's streaming for others).
#include <cstdio>

#include "cli.h"
#include "files.h"

namespace marlinok::tool {
namespace {

int RunDigest(const Args& args) {
  const bool md5 = !args.Has("sha1"), sha1 = !args.Has("md5");
  if (args.operands.empty()) return UsageError(kDigestCommand, "no file given");
  if (!md5 && !sha1) return UsageError(kDigestCommand, "--md5 and --sha1 exclude each other");
  for (const std::string& file : args.operands) {
    Digests digests;
    std::string error;
    if (!HashInput(file, md5, sha1, &digests, &error)) return Fail(error);
    if (md5)
      std::printf("MD5   %s  %s\n", Hex(digests.md5.data(), 16).c_str(), Printable(file).c_str());
    if (sha1)
      std::printf("SHA1  %s  %s\n", Hex(digests.sha1.data(), 20).c_str(), Printable(file).c_str());
  }
  return kExitOk;
}

}  // namespace

const Command kDigestCommand{"digest",
                             "MD5 and SHA-1 of files",
                             "[--md5|--sha1] FILE...\n"
                             "  (files of any size, read piece by piece)\n"
                             "  example: marlinok-tool digest README.md",
                             RunDigest,
                             {{"--md5", nullptr, "md5"}, {"--sha1", nullptr, "sha1"}}};

}  // namespace marlinok::tool
