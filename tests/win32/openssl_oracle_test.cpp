// The cross-built libcrypto serves the tests as an oracle the way the system one does on Linux:
// single DES and RC4 live in the legacy provider, which this build carries built in, so a test
// that loads "legacy" finds them through EVP.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstring>
#include <memory>

namespace marlinok::test {
namespace {

struct ProviderUnload {
  void operator()(OSSL_PROVIDER* p) const { OSSL_PROVIDER_unload(p); }
};
struct CipherFree {
  void operator()(EVP_CIPHER* c) const { EVP_CIPHER_free(c); }
};
using Provider = std::unique_ptr<OSSL_PROVIDER, ProviderUnload>;
using Cipher = std::unique_ptr<EVP_CIPHER, CipherFree>;

TEST(OpenSslOracle, LegacyCiphersAreReachable) {
  Provider legacy(OSSL_PROVIDER_load(nullptr, "legacy"));
  Provider standard(OSSL_PROVIDER_load(nullptr, "default"));
  ASSERT_NE(legacy, nullptr);
  ASSERT_NE(standard, nullptr);
  for (const char* name : {"DES-ECB", "DES-CBC", "DES-CFB", "DES-OFB", "RC4", "DES-EDE3-CBC"}) {
    Cipher cipher(EVP_CIPHER_fetch(nullptr, name, nullptr));
    EXPECT_NE(cipher, nullptr) << name;
  }
}

// FIPS 81 / the classic DES test: key 0123456789ABCDEF, "Now is t" -> 3FA40E8A984D4815.
TEST(OpenSslOracle, DesEcbKnownAnswer) {
  Provider legacy(OSSL_PROVIDER_load(nullptr, "legacy"));
  ASSERT_NE(legacy, nullptr);
  Cipher cipher(EVP_CIPHER_fetch(nullptr, "DES-ECB", nullptr));
  ASSERT_NE(cipher, nullptr);
  const unsigned char key[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  const unsigned char plain[8] = {'N', 'o', 'w', ' ', 'i', 's', ' ', 't'};
  const unsigned char expected[8] = {0x3F, 0xA4, 0x0E, 0x8A, 0x98, 0x4D, 0x48, 0x15};
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      &EVP_CIPHER_CTX_free);
  ASSERT_EQ(EVP_EncryptInit_ex2(ctx.get(), cipher.get(), key, nullptr, nullptr), 1);
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  unsigned char out[16];
  int length = 0;
  ASSERT_EQ(EVP_EncryptUpdate(ctx.get(), out, &length, plain, sizeof plain), 1);
  ASSERT_EQ(length, 8);
  EXPECT_EQ(0, std::memcmp(out, expected, sizeof expected));
}

}  // namespace
}  // namespace marlinok::test
