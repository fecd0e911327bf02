// marlinok-tool verify: raises a signature to e with the token's public key
// and compares the block with the PKCS #1 v1.5 block of the file's digest.
#include <cstdio>

#include "cli.h"
#include "rsa_blocks.h"

namespace marlinok::tool {
namespace {

int RunVerify(const std::vector<std::string>& args) {
  const RsaOptions o = ParseRsaOptions(args);
  if (!o.unknown.empty()) return UsageError(kVerifyCommand, "unknown option '" + o.unknown + "'");
  if (o.positional.size() != 3)
    return UsageError(kVerifyCommand, "CONTAINER, FILE and SIGNATURE expected");
  Block data, signature;
  std::string error;
  if (!ReadFile(o.positional[1], &data, &error) || !ReadFile(o.positional[2], &signature, &error))
    return Fail(error);

  const uint32_t algId = o.md5 ? CALG_MD5 : CALG_SHA1;
  int32_t status = ERR_OK;
  const Block digest = TokenDigest(algId, data, &status);
  if (status != ERR_OK) return Fail("digest failed", status);

  KeyReference key(o.positional[0], o.exchange, false);
  // The size query of verify answers -1 with the length stored.
  uint32_t k = 0;
  (void)QM_AsymmetricVerifySign(key.Blob(), nullptr, &k, nullptr, 0, CALG_RSA_SIGN);
  if (k == 0) return Fail("no public key at " + key.Path(), ERR_FAILED);
  Block block(k);
  status = QM_AsymmetricVerifySign(key.Blob(), block.data(), &k, signature.data(),
                                   static_cast<uint32_t>(signature.size()), CALG_RSA_SIGN);
  if (status != ERR_OK) return Fail("verification failed", status);
  if (block != SignatureBlock(algId, digest, k)) {
    return Fail("signature does NOT match '" + o.positional[1] + "'");
  }
  std::printf("signature OK for '%s'\n", o.positional[1].c_str());
  return kExitOk;
}

}  // namespace

const Command kVerifyCommand{"verify", "checks a file's signature with a stored public key",
                             "CONTAINER FILE SIGNATURE [--sha1|--md5] [--exchange]\n"
                             "  example: marlinok-tool verify alpha README.md README.sig",
                             RunVerify};

}  // namespace marlinok::tool
