#include "stress/stress_support.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace marlinok::stress {

namespace {

constexpr uint32_t kBits = 512;
constexpr uint32_t kBlockBytes = kBits / 8;

Bytes RandomBytes(std::mt19937& random, std::size_t n) {
  Bytes out(n);
  for (uint8_t& b : out) b = static_cast<uint8_t>(random());
  return out;
}

// A block below any 512-bit modulus: the top byte is zero.
Bytes RandomBlock(std::mt19937& random) {
  Bytes block = RandomBytes(random, kBlockBytes);
  block[0] = 0;
  return block;
}

}  // namespace

bool GeneratePair(const std::string& container, uint32_t pairType, Pair& pair) {
  return QM_GenAsymmetricKey(container.c_str(), &pair.publicRef.blob, &pair.privateRef.blob, kBits,
                             1, pairType) == ERR_OK;
}

bool SignAndVerify(const Pair& pair, std::mt19937& random) {
  const Bytes block = RandomBlock(random);
  Bytes signature(kBlockBytes), back(kBlockBytes);
  uint32_t length = 0;
  if (QM_AsymmetricSignData(&pair.privateRef.blob, block.data(), kBlockBytes, signature.data(),
                            &length, CALG_RSA_SIGN) != ERR_OK ||
      length != kBlockBytes)
    return false;
  if (QM_AsymmetricVerifySign(&pair.publicRef.blob, back.data(), &length, signature.data(),
                              kBlockBytes, CALG_RSA_SIGN) != ERR_OK ||
      length != kBlockBytes)
    return false;
  return back == block;
}

bool EncryptAndDecrypt(const Pair& pair, std::mt19937& random) {
  const Bytes block = RandomBlock(random);
  Bytes cipher(kBlockBytes), back(kBlockBytes);
  uint32_t length = 0;
  if (QM_AsymmetricEncrypt(&pair.publicRef.blob, 0, 0, cipher.data(), &length, block.data(),
                           kBlockBytes, CALG_RSA_KEYX) != ERR_OK ||
      length != kBlockBytes)
    return false;
  if (QM_AsymmetricDecrypt(&pair.privateRef.blob, 0, 0, back.data(), &length, cipher.data(),
                           kBlockBytes, CALG_RSA_KEYX) != ERR_OK ||
      length != kBlockBytes)
    return false;
  return back == block;
}

bool DigestsAgree(std::mt19937& random) {
  const Bytes message = RandomBytes(random, random() % 300);
  for (const bool md5 : {true, false}) {
    uint8_t digest[20] = {};
    uint32_t length = sizeof digest;
    if (QM_Digest(digest, &length, message.data(), static_cast<uint32_t>(message.size()),
                  md5 ? CALG_MD5 : CALG_SHA1) != ERR_OK)
      return false;
    uint8_t expected[EVP_MAX_MD_SIZE];
    unsigned int expectedLength = 0;
    if (EVP_Digest(message.data(), message.size(), expected, &expectedLength,
                   md5 ? EVP_md5() : EVP_sha1(), nullptr) != 1)
      return false;
    if (std::memcmp(digest, expected, expectedLength) != 0) return false;
  }
  return true;
}

bool TripleDesAgrees(std::mt19937& random) {
  Bytes key = RandomBytes(random, 24);
  const Bytes message = RandomBytes(random, 8 * (1 + random() % 16));
  const uint32_t n = static_cast<uint32_t>(message.size());
  Bytes cipher(n), back(n);
  uint32_t length = n;
  DataBlob keyBlob{24, key.data()};
  const int32_t status = QM_SymmetricEncrypt(&keyBlob, 0, 0, message.data(), n, cipher.data(),
                                             &length, CALG_3DES, CRYPT_MODE_CBC);
  if (status == ERR_DES_KEY) return true;  // a weak key drawn: refused, as it must be
  if (status != ERR_OK || length != n) return false;
  // OpenSSL with the same (parity-fixed) key and a zero IV.
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  const uint8_t iv[8] = {};
  Bytes expected(n + 8);
  int outLength = 0;
  const bool ok =
      ctx != nullptr && EVP_EncryptInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, key.data(), iv) == 1 &&
      EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
      EVP_EncryptUpdate(ctx, expected.data(), &outLength, message.data(), static_cast<int>(n)) ==
          1 &&
      outLength == static_cast<int>(n);
  EVP_CIPHER_CTX_free(ctx);
  if (!ok || std::memcmp(expected.data(), cipher.data(), n) != 0) return false;
  length = n;
  if (QM_SymmetryDecrypt(&keyBlob, 0, 0, cipher.data(), n, back.data(), &length, CALG_3DES,
                         CRYPT_MODE_CBC) != ERR_OK)
    return false;
  return back == message;
}

bool RegisterAndWithdraw(uint32_t owner, uint32_t serial) {
  // A key blob: 12 header bytes, then 16 key bytes unique to owner and serial.
  Bytes blob(12 + 16, 0);
  for (int i = 0; i < 4; ++i) {
    blob[12 + i] = static_cast<uint8_t>(owner >> (8 * i));
    blob[16 + i] = static_cast<uint8_t>(serial >> (8 * i));
  }
  blob[20] = 0x5A;
  const DataBlob blobArg{static_cast<uint32_t>(blob.size()), blob.data()};
  Bytes key(16);
  DataBlob keyArg{16, key.data()};
  if (QM_ImportSymmetricKey(&blobArg, CALG_RC4, &keyArg) != ERR_OK) return false;
  if (QM_DestroyKey(&keyArg) != ERR_OK) return false;
  return QM_DestroyKey(&keyArg) == ERR_FAILED;
}

Bytes PublicBlob(const Pair& pair) {
  DataBlob query{0, nullptr};
  if (QM_ExportPublicKey(&pair.publicRef.blob, &query) != ERR_OK) return {};
  Bytes blob(query.length);
  DataBlob out{query.length, blob.data()};
  if (QM_ExportPublicKey(&pair.publicRef.blob, &out) != ERR_OK) return {};
  return blob;
}

QuietStdout::QuietStdout() {
  std::fflush(stdout);
  saved_ = dup(STDOUT_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) {
    dup2(null, STDOUT_FILENO);
    close(null);
  }
}

QuietStdout::~QuietStdout() {
  std::fflush(stdout);
  if (saved_ >= 0) {
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
}

}  // namespace marlinok::stress
