// OpenSSL's EVP ciphers as the reference the engine is compared against. DES
// and RC4 live in OpenSSL 3's legacy provider, which is loaded once, next to
// the default one.
#ifndef MARLINOK_TESTS_SUPPORT_EVP_ORACLE_H
#define MARLINOK_TESTS_SUPPORT_EVP_ORACLE_H

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdlib>
#include <memory>

#include "support/hex.h"

namespace marlinok::test {

// Both providers stay loaded until the test program ends, then are unloaded
// so that the leak checker sees nothing of them.
class LoadedProviders {
 public:
  LoadedProviders()
      : legacy_(OSSL_PROVIDER_load(nullptr, "legacy")),
        default_(OSSL_PROVIDER_load(nullptr, "default")) {
    if (legacy_ == nullptr || default_ == nullptr) std::abort();
  }
  ~LoadedProviders() {
    OSSL_PROVIDER_unload(default_);
    OSSL_PROVIDER_unload(legacy_);
  }
  LoadedProviders(const LoadedProviders&) = delete;
  LoadedProviders& operator=(const LoadedProviders&) = delete;

 private:
  OSSL_PROVIDER* legacy_;
  OSSL_PROVIDER* default_;
};

inline void LoadLegacyProvider() { static const LoadedProviders providers; }

// `cipher` over `data` with an all-zero initialisation vector and no padding;
// the key length is set from `key` (RC4 takes any).
inline Bytes EvpCrypt(const char* cipherName, const Bytes& key, const Bytes& data, bool encrypt) {
  LoadLegacyProvider();
  std::unique_ptr<EVP_CIPHER, decltype(&EVP_CIPHER_free)> cipher(
      EVP_CIPHER_fetch(nullptr, cipherName, nullptr), &EVP_CIPHER_free);
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      &EVP_CIPHER_CTX_free);
  if (!cipher || !ctx) std::abort();
  const unsigned char iv[8] = {};
  const int enc = encrypt ? 1 : 0;
  if (EVP_CipherInit_ex2(ctx.get(), cipher.get(), nullptr, nullptr, enc, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(key.size())) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
      EVP_CipherInit_ex2(ctx.get(), nullptr, key.data(), iv, enc, nullptr) != 1)
    std::abort();
  Bytes out(data.size() + 16);
  int produced = 0;
  int last = 0;
  if (EVP_CipherUpdate(ctx.get(), out.data(), &produced, data.data(),
                       static_cast<int>(data.size())) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), out.data() + produced, &last) != 1)
    std::abort();
  out.resize(static_cast<std::size_t>(produced + last));
  return out;
}

}  // namespace marlinok::test

#endif
