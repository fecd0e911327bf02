// marlinok-tool sign and verify: PKCS #1 v1.5 signatures over the SHA-1 (or
// MD5) digest of a file. The tool formats the block; the token raises it to d
// (sign) or recovers it with e (verify), and the tool compares.
#include <cstdio>

#include "cli.h"
#include "files.h"
#include "hive.h"
#include "rsa_blocks.h"

namespace marlinok::tool {
namespace {

uint32_t DigestAlgorithm(const Args& args) {
  return args.Chosen("digest") == "--md5" ? CALG_MD5 : CALG_SHA1;
}

bool ExchangePair(const Args& args) { return args.Chosen("pair") == "--exchange"; }

// The digest of `file` the algorithm asks for.
bool FileDigest(const std::string& file, uint32_t algId, Block* digest, std::string* error) {
  Digests digests;
  if (!HashInput(file, algId == CALG_MD5, algId == CALG_SHA1, &digests, error)) return false;
  *digest = algId == CALG_MD5 ? digests.md5 : digests.sha1;
  return true;
}

int RunSign(const Args& args) {
  if (args.operands.size() != 2) return UsageError(kSignCommand, "CONTAINER and FILE expected");
  const std::string& container = args.operands[0];
  if (const int failed = RequireRegistry()) return failed;
  const bool exchange = ExchangePair(args);
  KeyReference publicKey, key;
  int32_t status = FindPair(container, exchange, &publicKey, &key);
  if (status != ERR_OK) return Fail(NoPair(container, exchange), status);
  uint32_t k = 0;
  status = QM_AsymmetricSignData(key.Blob(), nullptr, 0, nullptr, &k, CALG_RSA_SIGN);
  if (status != ERR_OK) return Fail("no private key at " + key.Path(), status);

  const uint32_t algId = DigestAlgorithm(args);
  Block digest;
  std::string error;
  if (!FileDigest(args.operands[1], algId, &digest, &error)) return Fail(error);
  const Block block = SignatureBlock(algId, digest, k);
  if (block.empty()) return Fail("the key is too short for this digest");
  Block signature(k);
  status = QM_AsymmetricSignData(key.Blob(), block.data(), k, signature.data(), &k, CALG_RSA_SIGN);
  if (status != ERR_OK) return Fail("signing failed", status);
  return Emit(args.Value("out"), signature, FileMode::kPublic);
}

int RunVerify(const Args& args) {
  if (args.operands.size() != 3)
    return UsageError(kVerifyCommand, "CONTAINER, FILE and SIGNATURE expected");
  const std::string& container = args.operands[0];
  const std::string& file = args.operands[1];
  if (const int failed = RequireRegistry()) return failed;
  const bool exchange = ExchangePair(args);
  KeyReference key, privateKey;
  int32_t status = FindPair(container, exchange, &key, &privateKey);
  if (status != ERR_OK) return Fail(NoPair(container, exchange), status);
  // The size query of verify answers -1 with the length stored.
  uint32_t k = 0;
  (void)QM_AsymmetricVerifySign(key.Blob(), nullptr, &k, nullptr, 0, CALG_RSA_SIGN);
  if (k == 0) return Fail("no public key at " + key.Path(), ERR_FAILED);

  // A signature is exactly k bytes: nothing before or after it.
  Block signature;
  std::string error;
  const std::string exactly = "a signature of this key is exactly " + std::to_string(k) + " bytes";
  if (!ReadInput(args.operands[2], k, &signature, &error, exactly)) return Fail(error);
  if (signature.size() != k)
    return Fail("'" + Printable(args.operands[2]) + "' is shorter than " + std::to_string(k) +
                " bytes, " + exactly);
  const uint32_t algId = DigestAlgorithm(args);
  Block digest;
  if (!FileDigest(file, algId, &digest, &error)) return Fail(error);
  Block block(k);
  status = QM_AsymmetricVerifySign(key.Blob(), block.data(), &k, signature.data(),
                                   static_cast<uint32_t>(signature.size()), CALG_RSA_SIGN);
  if (status != ERR_OK) return Fail("verification failed", status);
  if (block != SignatureBlock(algId, digest, k))
    return Fail("signature does NOT match '" + Printable(file) + "'");
  std::printf("signature OK for '%s'\n", Printable(file).c_str());
  return kExitOk;
}

}  // namespace

const Command kSignCommand{"sign",
                           "signs a file (PKCS #1 v1.5 over SHA-1 or MD5) with a stored key",
                           "CONTAINER FILE [--sha1|--md5] [--exchange] [-o SIGNATURE]\n"
                           "  example: marlinok-tool sign alpha README.md -o README.sig",
                           RunSign,
                           {{"--sha1", nullptr, "digest"},
                            {"--md5", nullptr, "digest"},
                            {"--exchange", nullptr, "pair"},
                            {"--signature", nullptr, "pair"},
                            {"-o", "SIGNATURE", "out"},
                            {"--out", "SIGNATURE", "out"}}};
const Command kVerifyCommand{"verify",
                             "checks a file's signature with a stored public key",
                             "CONTAINER FILE SIGNATURE [--sha1|--md5] [--exchange]\n"
                             "  (SIGNATURE is exactly as long as the key's modulus)\n"
                             "  example: marlinok-tool verify alpha README.md README.sig",
                             RunVerify,
                             {{"--sha1", nullptr, "digest"},
                              {"--md5", nullptr, "digest"},
                              {"--exchange", nullptr, "pair"},
                              {"--signature", nullptr, "pair"}}};

}  // namespace marlinok::tool
