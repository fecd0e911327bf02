// marlinok-tool sign: a PKCS #1 v1.5 signature over the SHA-1 (or MD5) digest
// of a file, the block formatted here and raised to d by the token.
#include <cstdio>

#include "cli.h"
#include "rsa_blocks.h"

namespace marlinok::tool {
namespace {

int RunSign(const std::vector<std::string>& args) {
  const RsaOptions o = ParseRsaOptions(args);
  if (!o.unknown.empty()) return UsageError(kSignCommand, "unknown option '" + o.unknown + "'");
  if (o.positional.size() != 2) return UsageError(kSignCommand, "CONTAINER and FILE expected");
  Block data;
  std::string error;
  if (!ReadFile(o.positional[1], &data, &error)) return Fail(error);

  const uint32_t algId = o.md5 ? CALG_MD5 : CALG_SHA1;
  int32_t status = ERR_OK;
  const Block digest = TokenDigest(algId, data, &status);
  if (status != ERR_OK) return Fail("digest failed", status);

  KeyReference key(o.positional[0], o.exchange, true);
  uint32_t k = 0;
  status = QM_AsymmetricSignData(key.Blob(), nullptr, 0, nullptr, &k, CALG_RSA_SIGN);
  if (status != ERR_OK) return Fail("no private key at " + key.Path(), status);
  const Block block = SignatureBlock(algId, digest, k);
  if (block.empty()) return Fail("the key is too short for this digest");
  Block signature(k);
  status = QM_AsymmetricSignData(key.Blob(), block.data(), k, signature.data(), &k, CALG_RSA_SIGN);
  if (status != ERR_OK) return Fail("signing failed", status);
  return Emit(o.output, signature);
}

}  // namespace

const Command kSignCommand{"sign",
                           "signs a file (PKCS #1 v1.5 over SHA-1 or MD5) with a stored key",
                           "CONTAINER FILE [--sha1|--md5] [--exchange] [-o SIGNATURE]\n"
                           "  example: marlinok-tool sign alpha README.md -o README.sig",
                           RunSign};

}  // namespace marlinok::tool
