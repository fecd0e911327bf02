// marlinok-tool encrypt: a file under a container's public key, formatted here
// as a PKCS #1 v1.5 type-2 block (or taken raw as one number).
#include <cstdio>

#include "cli.h"
#include "rsa_blocks.h"

namespace marlinok::tool {
namespace {

int RunEncrypt(const std::vector<std::string>& args) {
  if (WantsSymmetricCipher(args)) return RunSymmetricEncrypt(args);
  const RsaOptions o = ParseRsaOptions(args);
  if (!o.unknown.empty()) return UsageError(kEncryptCommand, "unknown option '" + o.unknown + "'");
  if (o.positional.size() != 2) return UsageError(kEncryptCommand, "CONTAINER and FILE expected");
  Block data;
  std::string error;
  if (!ReadFile(o.positional[1], &data, &error)) return Fail(error);

  KeyReference key(o.positional[0], !o.signature, false);
  uint32_t k = 0;
  int32_t status = QM_AsymmetricEncrypt(key.Blob(), 0, 0, nullptr, &k, nullptr, 0, CALG_RSA_KEYX);
  if (status != ERR_OK) return Fail("no public key at " + key.Path(), status);
  Block block = data;
  if (!o.raw) {
    block = EncryptionBlock(data, k);
    if (block.empty()) return Fail("the file is longer than " + std::to_string(k - 11) + " bytes");
  } else if (data.size() > k) {
    return Fail("the file is longer than the modulus (" + std::to_string(k) + " bytes)");
  }
  Block cipher(k);
  status = QM_AsymmetricEncrypt(key.Blob(), 0, 0, cipher.data(), &k, block.data(),
                                static_cast<uint32_t>(block.size()), CALG_RSA_KEYX);
  if (status != ERR_OK) return Fail("encryption failed", status);
  return Emit(o.output, cipher);
}

}  // namespace

const Command kEncryptCommand{
    "encrypt", "encrypts a file: RSA with a stored key, or 3DES/DES/RC4 with a key file",
    "CONTAINER FILE [--pkcs1|--raw] [--signature] [-o CIPHERTEXT]\n"
    "   or: FILE --3des|--des|--rc4 KEYFILE [--mode cbc|ecb|ofb|cfb] [-o CIPHERTEXT]\n"
    "  (the exchange pair unless --signature; the library prints two lines of its own)\n"
    "  example: marlinok-tool encrypt alpha secret.txt -o secret.bin",
    RunEncrypt};

}  // namespace marlinok::tool
