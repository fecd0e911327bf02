#include "support/openssl_rsa.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstdlib>
#include <cstring>
#include <map>

namespace marlinok::test {
namespace {

Bytes Param(const EVP_PKEY* key, const char* name) {
  BIGNUM* bn = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &bn) != 1) std::abort();
  Bytes out(static_cast<std::size_t>(BN_num_bytes(bn)));
  BN_bn2bin(bn, out.data());
  BN_free(bn);
  return out;
}

void PutField(Bytes& record, std::size_t offset, std::size_t width, const Bytes& number) {
  if (number.size() > width) std::abort();
  std::memcpy(record.data() + offset + width - number.size(), number.data(), number.size());
}

}  // namespace

PkeyPtr GenerateRsaKey(uint32_t bits) {
  PkeyPtr key(EVP_RSA_gen(bits), &EVP_PKEY_free);
  if (!key) std::abort();
  return key;
}

EVP_PKEY* SharedRsaKey(uint32_t bits) {
  static std::map<uint32_t, PkeyPtr> keys;
  auto it = keys.find(bits);
  if (it == keys.end()) it = keys.emplace(bits, GenerateRsaKey(bits)).first;
  return it->second.get();
}

Bytes OpenSslKeyBlob(const EVP_PKEY* key, bool privateBlob) {
  BIO* bio = BIO_new(BIO_s_mem());
  const int written = privateBlob ? i2b_PrivateKey_bio(bio, key) : i2b_PublicKey_bio(bio, key);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  Bytes out(data, data + (written > 0 ? size : 0));
  BIO_free(bio);
  return out;
}

RsaNumbers NumbersOf(const EVP_PKEY* key) {
  RsaNumbers k;
  k.bits = static_cast<uint32_t>(EVP_PKEY_get_bits(key));
  k.n = Param(key, OSSL_PKEY_PARAM_RSA_N);
  k.e = Param(key, OSSL_PKEY_PARAM_RSA_E);
  k.d = Param(key, OSSL_PKEY_PARAM_RSA_D);
  k.p = Param(key, OSSL_PKEY_PARAM_RSA_FACTOR1);
  k.q = Param(key, OSSL_PKEY_PARAM_RSA_FACTOR2);
  k.dp = Param(key, OSSL_PKEY_PARAM_RSA_EXPONENT1);
  k.dq = Param(key, OSSL_PKEY_PARAM_RSA_EXPONENT2);
  k.qinv = Param(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
  return k;
}

Bytes PublicRecordOf(const RsaNumbers& key) {
  Bytes record(516, 0);
  for (int i = 0; i < 4; ++i) record[i] = static_cast<uint8_t>(key.bits >> (8 * i));
  PutField(record, 4, 256, key.n);
  PutField(record, 260, 256, key.e);
  return record;
}

Bytes PrivateRecordOf(const RsaNumbers& key) {
  Bytes record = PublicRecordOf(key);
  record.resize(1412, 0);
  PutField(record, 516, 256, key.d);
  PutField(record, 772, 128, key.p);
  PutField(record, 900, 128, key.q);
  PutField(record, 1028, 128, key.dp);
  PutField(record, 1156, 128, key.dq);
  PutField(record, 1284, 128, key.qinv);
  return record;
}

}  // namespace marlinok::test
