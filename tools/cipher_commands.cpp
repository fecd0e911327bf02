// marlinok-tool encrypt and decrypt: RSA with a container's pair (PKCS #1
// v1.5 type-2 blocks formatted and opened here, or raw), or a whole file with
// 3DES, DES or RC4 and a key file (zero IV; ECB and CBC padded as PKCS #5, so
// the result matches `openssl enc -nosalt -K KEY -iv 0000000000000000`).
#include <cstdio>

#include "cli.h"
#include "files.h"
#include "hive.h"
#include "rsa_blocks.h"
#include "symmetric.h"

namespace marlinok::tool {
namespace {

bool ParseMode(const std::string& name, uint32_t* mode) {
  static const struct {
    const char* name;
    uint32_t mode;
  } kModes[] = {{"cbc", CRYPT_MODE_CBC},
                {"ecb", CRYPT_MODE_ECB},
                {"ofb", CRYPT_MODE_OFB},
                {"cfb", CRYPT_MODE_CFB}};
  for (const auto& m : kModes) {
    if (name == m.name) {
      *mode = m.mode;
      return true;
    }
  }
  return false;
}

// The whole file in one token call: its lengths are 32-bit, and a padded
// message is a whole number of 8-byte blocks.
int SymmetricCipher(const Command& command, const Args& args, bool encrypt) {
  if (args.Has("padding") || args.Has("pair"))
    return UsageError(command, "--raw, --pkcs1, --exchange and --signature are for RSA");
  if (args.operands.size() != 1) return UsageError(command, "one FILE expected");
  uint32_t mode = CRYPT_MODE_CBC;
  if (!ParseMode(args.Value("mode", "cbc"), &mode))
    return UsageError(command, "--mode is cbc, ecb, ofb or cfb");
  const std::string cipher = args.Chosen("cipher");
  const uint32_t algId = cipher == "--3des" ? CALG_3DES : cipher == "--des" ? CALG_DES : CALG_RC4;
  const bool padded = algId != CALG_RC4 && (mode == CRYPT_MODE_CBC || mode == CRYPT_MODE_ECB);

  Block key, data;
  std::string error;
  if (!ReadKeyFile(args.Value("cipher"), algId, &key, &error)) return Fail(error);
  const uint64_t limit = encrypt && padded ? kOneCallBytes - 8 : kOneCallBytes;
  if (!ReadInput(args.operands[0], limit, &data, &error, "the most the token ciphers in one call"))
    return Fail(error);
  if (encrypt && padded) {
    const std::size_t pad = 8 - data.size() % 8;
    data.insert(data.end(), pad, static_cast<uint8_t>(pad));
  }
  DataBlob keyBlob{static_cast<uint32_t>(key.size()), key.data()};
  Block out(data.size());
  uint32_t outLength = static_cast<uint32_t>(out.size());
  const auto length = static_cast<uint32_t>(data.size());
  const int32_t status = encrypt ? QM_SymmetricEncrypt(&keyBlob, 0, 0, data.data(), length,
                                                       out.data(), &outLength, algId, mode)
                                 : QM_SymmetryDecrypt(&keyBlob, 0, 0, data.data(), length,
                                                      out.data(), &outLength, algId, mode);
  if (status == ERR_DES_KEY) return Fail("the key is a weak DES key", status);
  if (status == ERR_BLOCK_LENGTH) return Fail("the data has the wrong length", status);
  if (status != ERR_OK) return Fail(encrypt ? "encryption failed" : "decryption failed", status);
  if (!encrypt && padded) {
    const uint8_t pad = out.empty() ? 0 : out.back();
    if (pad < 1 || pad > 8 || pad > out.size()) return Fail("wrong key, or not padded data");
    out.resize(out.size() - pad);
  }
  return Emit(args.Value("out"), out, encrypt ? FileMode::kPublic : FileMode::kSecret);
}

int RsaEncrypt(const Args& args) {
  if (args.operands.size() != 2) return UsageError(kEncryptCommand, "CONTAINER and FILE expected");
  const std::string& container = args.operands[0];
  if (const int failed = RequireRegistry()) return failed;
  const bool exchange = args.Chosen("pair") != "--signature";
  KeyReference key, privateKey;
  int32_t status = FindPair(container, exchange, &key, &privateKey);
  if (status != ERR_OK) return Fail(NoPair(container, exchange), status);
  uint32_t k = 0;
  status = QM_AsymmetricEncrypt(key.Blob(), 0, 0, nullptr, &k, nullptr, 0, CALG_RSA_KEYX);
  if (status != ERR_OK || k < 11) return Fail("no public key at " + key.Path(), status);
  const bool raw = args.Chosen("padding") == "--raw";

  Block data;
  std::string error;
  if (!ReadInput(args.operands[1], raw ? k : k - 11, &data, &error,
                 raw ? "the modulus length" : "the most a PKCS #1 block of this key holds"))
    return Fail(error);
  Block block = raw ? data : EncryptionBlock(data, k);
  if (block.empty() && !raw) return Fail("no random padding could be made");
  Block cipher(k);
  status = QM_AsymmetricEncrypt(key.Blob(), 0, 0, cipher.data(), &k, block.data(),
                                static_cast<uint32_t>(block.size()), CALG_RSA_KEYX);
  if (status != ERR_OK) return Fail("encryption failed", status);
  return Emit(args.Value("out"), cipher, FileMode::kPublic);
}

int RsaDecrypt(const Args& args) {
  if (args.operands.size() != 2) return UsageError(kDecryptCommand, "CONTAINER and FILE expected");
  const std::string& container = args.operands[0];
  if (const int failed = RequireRegistry()) return failed;
  const bool exchange = args.Chosen("pair") != "--signature";
  KeyReference publicKey, key;
  int32_t status = FindPair(container, exchange, &publicKey, &key);
  if (status != ERR_OK) return Fail(NoPair(container, exchange), status);
  uint32_t k = 0;
  status = QM_AsymmetricDecrypt(key.Blob(), 0, 0, nullptr, &k, nullptr, 0, CALG_RSA_KEYX);
  if (status != ERR_OK) return Fail("no private key at " + key.Path(), status);

  Block cipher;
  std::string error;
  if (!ReadInput(args.operands[1], k, &cipher, &error, "the modulus length")) return Fail(error);
  Block block(k);
  status = QM_AsymmetricDecrypt(key.Blob(), 0, 0, block.data(), &k, cipher.data(),
                                static_cast<uint32_t>(cipher.size()), CALG_RSA_KEYX);
  if (status != ERR_OK) return Fail("decryption failed", status);
  Block message = block;
  if (args.Chosen("padding") != "--raw" && !OpenEncryptionBlock(block, &message))
    return Fail("not a PKCS #1 v1.5 encryption block (try --raw)");
  return Emit(args.Value("out"), message, FileMode::kSecret);
}

int RunEncrypt(const Args& args) {
  if (args.Has("cipher")) return SymmetricCipher(kEncryptCommand, args, true);
  if (args.Has("mode")) return UsageError(kEncryptCommand, "--mode is for 3DES, DES and RC4");
  return RsaEncrypt(args);
}

int RunDecrypt(const Args& args) {
  if (args.Has("cipher")) return SymmetricCipher(kDecryptCommand, args, false);
  if (args.Has("mode")) return UsageError(kDecryptCommand, "--mode is for 3DES, DES and RC4");
  return RsaDecrypt(args);
}

// encrypt and decrypt take the same options.
std::vector<Option> CipherOptions(const char* output) {
  return {{"--pkcs1", nullptr, "padding"}, {"--raw", nullptr, "padding"},
          {"--exchange", nullptr, "pair"}, {"--signature", nullptr, "pair"},
          {"--3des", "KEYFILE", "cipher"}, {"--des", "KEYFILE", "cipher"},
          {"--rc4", "KEYFILE", "cipher"},  {"--mode", "MODE", "mode"},
          {"-o", output, "out"},           {"--out", output, "out"}};
}

}  // namespace

const Command kEncryptCommand{
    "encrypt", "encrypts a file: RSA with a stored key, or 3DES/DES/RC4 with a key file",
    "CONTAINER FILE [--pkcs1|--raw] [--signature] [-o CIPHERTEXT]\n"
    "   or: FILE --3des|--des|--rc4 KEYFILE [--mode cbc|ecb|ofb|cfb] [-o CIPHERTEXT]\n"
    "  (the exchange pair unless --signature; the library prints two lines of its own;\n"
    "  a symmetric cipher takes the whole file in one call: at most 4294967295 bytes,\n"
    "  4294967287 in the padded modes cbc and ecb)\n"
    "  example: marlinok-tool encrypt alpha secret.txt -o secret.bin",
    RunEncrypt, CipherOptions("CIPHERTEXT")};
const Command kDecryptCommand{
    "decrypt", "decrypts a file: RSA with a stored key, or 3DES/DES/RC4 with a key file",
    "CONTAINER FILE [--pkcs1|--raw] [--signature] [-o PLAINTEXT]\n"
    "   or: FILE --3des|--des|--rc4 KEYFILE [--mode cbc|ecb|ofb|cfb] [-o PLAINTEXT]\n"
    "  (the exchange pair unless --signature; the library prints two lines of its own;\n"
    "  PLAINTEXT is created 0600)\n"
    "  example: marlinok-tool decrypt alpha secret.bin -o secret.txt",
    RunDecrypt, CipherOptions("PLAINTEXT")};

}  // namespace marlinok::tool
