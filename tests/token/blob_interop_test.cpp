// Key blobs against OpenSSL, the reference reader and writer of the CryptoAPI
// blob formats: what the token exports loads there, and what OpenSSL writes
// imports here and computes the same.
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include "platform/registry.h"
#include "rsa/rsa_test_keys.h"
#include "store/key_record_store.h"
#include "support/openssl_rsa.h"
#include "support/temp_hive.h"

namespace marlinok::rsa::test {
namespace {

using PkeyPtr = marlinok::test::PkeyPtr;

Bytes Param(const EVP_PKEY* key, const char* name) {
  BIGNUM* bn = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &bn) != 1) return {};
  Bytes out(static_cast<std::size_t>(BN_num_bytes(bn)));
  BN_bn2bin(bn, out.data());
  BN_free(bn);
  return out;
}

// The number in a record field, without leading zeros.
Bytes Number(const Bytes& record, std::size_t offset, std::size_t width) {
  std::size_t start = offset;
  while (start < offset + width && record[start] == 0) ++start;
  return Bytes(record.begin() + static_cast<long>(start),
               record.begin() + static_cast<long>(offset + width));
}

// OpenSSL's raw RSA operation (no padding): public or private.
Bytes OpenSslRaw(EVP_PKEY* key, const Bytes& input, bool privateOperation) {
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key, nullptr),
                                                                  &EVP_PKEY_CTX_free);
  const int init =
      privateOperation ? EVP_PKEY_decrypt_init(ctx.get()) : EVP_PKEY_encrypt_init(ctx.get());
  if (init != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) != 1) std::abort();
  Bytes out(input.size());
  std::size_t length = out.size();
  const int done =
      privateOperation
          ? EVP_PKEY_decrypt(ctx.get(), out.data(), &length, input.data(), input.size())
          : EVP_PKEY_encrypt(ctx.get(), out.data(), &length, input.data(), input.size());
  if (done != 1) std::abort();
  out.resize(length);
  return out;
}

// A random k-byte number below n (top byte kept below n's).
Bytes BelowModulus(const Bytes& n) {
  Bytes value(n.size());
  RAND_bytes(value.data(), static_cast<int>(value.size()));
  value[0] = static_cast<uint8_t>(value[0] % n[0]);
  return value;
}

class BlobInteropTest : public ::testing::Test {
 protected:
  void SetUp() override { (void)platform::DeleteKeyTree("Software\\Quillmar"); }
  void TearDown() override { (void)platform::DeleteKeyTree("Software\\Quillmar"); }
  marlinok::test::TempHive hive_;
};

TEST_F(BlobInteropTest, GeneratedPairsExportToBlobsOpenSslAccepts) {
  for (uint32_t bits : {512u, 1024u, 1536u, 2048u}) {
    const RecordPair& pair = GeneratedPair(bits);
    DataBlob pub{static_cast<uint32_t>(pair.publicRecord.size()),
                 const_cast<uint8_t*>(pair.publicRecord.data())};
    DataBlob priv{static_cast<uint32_t>(pair.privateRecord.size()),
                  const_cast<uint8_t*>(pair.privateRecord.data())};
    char pubPath[96], privPath[96];
    DataBlob pubRef{0, reinterpret_cast<uint8_t*>(pubPath)};
    DataBlob privRef{0, reinterpret_cast<uint8_t*>(privPath)};
    ASSERT_EQ(Status::Ok, store::StoreKeyPair("interop", 2, 1, &pub, &priv, &pubRef, &privRef));

    DataBlob blob{0, nullptr};
    ASSERT_EQ(QM_ExportPrivateKey(&privRef, nullptr, &blob, CALG_RC4), ERR_OK);
    Bytes privateBlob(blob.length);
    blob.data = privateBlob.data();
    ASSERT_EQ(QM_ExportPrivateKey(&privRef, nullptr, &blob, CALG_RC4), ERR_OK);
    const unsigned char* p = privateBlob.data();
    PkeyPtr loaded(b2i_PrivateKey(&p, static_cast<long>(privateBlob.size())), &EVP_PKEY_free);
    ASSERT_TRUE(loaded) << bits;
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> check(
        EVP_PKEY_CTX_new_from_pkey(nullptr, loaded.get(), nullptr), &EVP_PKEY_CTX_free);
    EXPECT_EQ(EVP_PKEY_check(check.get()), 1) << bits;
    const Bytes& r = pair.privateRecord;
    EXPECT_EQ(Param(loaded.get(), OSSL_PKEY_PARAM_RSA_N), Number(r, kModulusOffset, 256));
    EXPECT_EQ(Param(loaded.get(), OSSL_PKEY_PARAM_RSA_E), Number(r, kPublicExponentOffset, 256));
    EXPECT_EQ(Param(loaded.get(), OSSL_PKEY_PARAM_RSA_D), Number(r, kPrivateExponentOffset, 256));
    EXPECT_EQ(Param(loaded.get(), OSSL_PKEY_PARAM_RSA_FACTOR1), Number(r, kPrime1Offset, 128));
    EXPECT_EQ(Param(loaded.get(), OSSL_PKEY_PARAM_RSA_FACTOR2), Number(r, kPrime2Offset, 128));

    // The public blob loads too, and OpenSSL's public operation matches ours.
    blob = DataBlob{0, nullptr};
    ASSERT_EQ(QM_ExportPublicKey(&pubRef, &blob), ERR_OK);
    Bytes publicBlob(blob.length);
    blob.data = publicBlob.data();
    ASSERT_EQ(QM_ExportPublicKey(&pubRef, &blob), ERR_OK);
    p = publicBlob.data();
    PkeyPtr publicKey(b2i_PublicKey(&p, static_cast<long>(publicBlob.size())), &EVP_PKEY_free);
    ASSERT_TRUE(publicKey);
    const Bytes input = BelowModulus(Number(r, kModulusOffset, 256));
    Bytes ours(bits / 8);
    uint32_t length = 0;
    ASSERT_EQ(QM_AsymmetricVerifySign(&pubRef, ours.data(), &length, input.data(),
                                      static_cast<uint32_t>(input.size()), CALG_RSA_SIGN),
              ERR_OK);
    EXPECT_EQ(ours, OpenSslRaw(publicKey.get(), input, false)) << bits;
  }
}

TEST_F(BlobInteropTest, OpenSslPrivateBlobImportsAndComputesAsOpenSslDoes) {
  for (uint32_t bits : {1024u, 2048u}) {
    PkeyPtr key = marlinok::test::GenerateRsaKey(bits);
    Bytes blob = marlinok::test::OpenSslKeyBlob(key.get(), true);
    DataBlob in{static_cast<uint32_t>(blob.size()), blob.data()};
    char pubPath[96], privPath[96];
    DataBlob pubRef{0, reinterpret_cast<uint8_t*>(pubPath)};
    DataBlob privRef{0, reinterpret_cast<uint8_t*>(privPath)};
    ASSERT_EQ(QM_ImportPrivateKey("imported", &in, 1, &pubRef, &privRef), ERR_OK);
    const Bytes n = Param(key.get(), OSSL_PKEY_PARAM_RSA_N);
    for (int i = 0; i < 20; ++i) {
      const Bytes input = BelowModulus(n);
      Bytes ours(n.size());
      uint32_t length = 0;
      ASSERT_EQ(QM_AsymmetricDecrypt(&privRef, 0, 0, ours.data(), &length, input.data(),
                                     static_cast<uint32_t>(input.size()), CALG_RSA_KEYX),
                ERR_OK);
      EXPECT_EQ(ours, OpenSslRaw(key.get(), input, true)) << bits << " input " << i;
    }
  }
}

TEST_F(BlobInteropTest, OpenSslPublicBlobImportsAndEncryptsAsOpenSslDoes) {
  PkeyPtr key = marlinok::test::GenerateRsaKey(2048);
  Bytes blob = marlinok::test::OpenSslKeyBlob(key.get(), false);
  DataBlob in{static_cast<uint32_t>(blob.size()), blob.data()};
  Bytes record(516);
  DataBlob out{516, record.data()};
  ASSERT_EQ(QM_ImportPublicKey(&in, 1, &out), ERR_OK);
  const Bytes input = BelowModulus(Param(key.get(), OSSL_PKEY_PARAM_RSA_N));
  DataBlob direct{0, record.data()};  // a direct record: its length is not read
  Bytes ours(256);
  uint32_t length = 0;
  ASSERT_EQ(QM_AsymmetricEncrypt(&direct, 0, 0, ours.data(), &length, input.data(),
                                 static_cast<uint32_t>(input.size()), CALG_RSA_KEYX),
            ERR_OK);
  EXPECT_EQ(ours, OpenSslRaw(key.get(), input, false));
  EXPECT_EQ(QM_DestroyKey(&out), ERR_OK);
}

}  // namespace
}  // namespace marlinok::rsa::test
