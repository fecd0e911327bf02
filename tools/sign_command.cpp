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
  Block digest(20);
  uint32_t digestLength = static_cast<uint32_t>(digest.size());
  int32_t status = QM_Digest(digest.data(), &digestLength, data.data(),
                             static_cast<uint32_t>(data.size()), algId);
  if (status != ERR_OK) return Fail("digest failed", status);
  digest.resize(o.md5 ? 16 : 20);

  KeyReference key(o.positional[0], o.exchange, true);
  uint32_t k = 0;
  status = QM_AsymmetricSignData(key.Blob(), nullptr, 0, nullptr, &k, CALG_RSA_SIGN);
  if (status != ERR_OK) return Fail("no private key at " + key.Path(), status);
  const Block block = SignatureBlock(algId, digest, k);
  if (block.empty()) return Fail("the key is too short for this digest");
  Block signature(k);
  status = QM_AsymmetricSignData(key.Blob(), block.data(), k, signature.data(), &k, CALG_RSA_SIGN);
  if (status != ERR_OK) return Fail("signing failed", status);
  if (!o.output.empty()) {
    if (!WriteFile(o.output, signature)) return Fail("cannot write '" + o.output + "'");
  } else {
    std::printf("%s\n", Hex(signature.data(), signature.size()).c_str());
  }
  return kExitOk;
}

}  // namespace

const Command kSignCommand{"sign",
                           "signs a file (PKCS #1 v1.5 over SHA-1 or MD5) with a stored key",
                           "CONTAINER FILE [--sha1|--md5] [--exchange] [-o SIGNATURE]\n"
                           "  example: marlinok-tool sign alpha README.md -o README.sig",
                           RunSign};

}  // namespace marlinok::tool
