// marlinok-tool decrypt: a ciphertext under a container's private key; the
// PKCS #1 v1.5 type-2 block is opened here unless --raw.
#include <cstdio>

#include "cli.h"
#include "rsa_blocks.h"

namespace marlinok::tool {
namespace {

int RunDecrypt(const std::vector<std::string>& args) {
  if (WantsSymmetricCipher(args)) return RunSymmetricDecrypt(args);
  const RsaOptions o = ParseRsaOptions(args);
  if (!o.unknown.empty()) return UsageError(kDecryptCommand, "unknown option '" + o.unknown + "'");
  if (o.positional.size() != 2) return UsageError(kDecryptCommand, "CONTAINER and FILE expected");
  Block cipher;
  std::string error;
  if (!ReadFile(o.positional[1], &cipher, &error)) return Fail(error);

  KeyReference key(o.positional[0], !o.signature, true);
  uint32_t k = 0;
  int32_t status = QM_AsymmetricDecrypt(key.Blob(), 0, 0, nullptr, &k, nullptr, 0, CALG_RSA_KEYX);
  if (status != ERR_OK) return Fail("no private key at " + key.Path(), status);
  Block block(k);
  status = QM_AsymmetricDecrypt(key.Blob(), 0, 0, block.data(), &k, cipher.data(),
                                static_cast<uint32_t>(cipher.size()), CALG_RSA_KEYX);
  if (status != ERR_OK) return Fail("decryption failed", status);
  Block message = block;
  if (!o.raw && !OpenEncryptionBlock(block, &message))
    return Fail("not a PKCS #1 v1.5 encryption block (try --raw)");
  return Emit(o.output, message);
}

}  // namespace

const Command kDecryptCommand{
    "decrypt", "decrypts a file: RSA with a stored key, or 3DES/DES/RC4 with a key file",
    "CONTAINER FILE [--pkcs1|--raw] [--signature] [-o PLAINTEXT]\n"
    "   or: FILE --3des|--des|--rc4 KEYFILE [--mode cbc|ecb|ofb|cfb] [-o PLAINTEXT]\n"
    "  (the exchange pair unless --signature; the library prints two lines of its own)\n"
    "  example: marlinok-tool decrypt alpha secret.bin -o secret.txt",
    RunDecrypt};

}  // namespace marlinok::tool
