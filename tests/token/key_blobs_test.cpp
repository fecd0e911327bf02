#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/pem.h>

#include <cstring>
#include <map>

#include "store/key_record_store.h"
#include "store/store_fixture.h"
#include "support/evp_oracle.h"
#include "support/openssl_rsa.h"

namespace marlinok::store {
namespace {

using test::Bytes;
using test::ToHex;

const test::RsaNumbers& KeyOfSize(uint32_t bits) {
  static std::map<uint32_t, test::RsaNumbers> numbers;
  auto it = numbers.find(bits);
  if (it == numbers.end())
    it = numbers.emplace(bits, test::NumbersOf(test::SharedRsaKey(bits))).first;
  return it->second;
}

Bytes Reversed(Bytes b) {
  std::reverse(b.begin(), b.end());
  return b;
}

// The number as `width` little-endian bytes.
Bytes LittleEndian(const Bytes& number, std::size_t width) {
  Bytes out = Reversed(number);
  out.resize(width, 0);
  return out;
}

class KeyExportTest : public StoreTest {
 protected:
  // Plants the records of `key` as pair `pairType` of `container` and returns
  // the references: {public, private}.
  std::pair<std::string, std::string> Plant(const char* container, uint32_t pairType,
                                            const Bytes& publicRecord, const Bytes& privateRecord) {
    DataBlob pub{static_cast<uint32_t>(publicRecord.size()),
                 const_cast<uint8_t*>(publicRecord.data())};
    DataBlob priv{static_cast<uint32_t>(privateRecord.size()),
                  const_cast<uint8_t*>(privateRecord.data())};
    char pubRef[128], privRef[128];
    DataBlob a{0, reinterpret_cast<uint8_t*>(pubRef)}, b{0, reinterpret_cast<uint8_t*>(privRef)};
    EXPECT_EQ(Status::Ok, StoreKeyPair(container, pairType, 1, &pub, &priv, &a, &b));
    return {pubRef, privRef};
  }
  std::pair<std::string, std::string> Plant(const char* container, uint32_t pairType,
                                            const test::RsaNumbers& key) {
    return Plant(container, pairType, test::PublicRecordOf(key), test::PrivateRecordOf(key));
  }
  static DataBlob Ref(std::string& path) {
    return DataBlob{static_cast<uint32_t>(path.size() + 1), reinterpret_cast<uint8_t*>(&path[0])};
  }
  static Bytes ExportPublic(std::string ref, int32_t* status) {
    DataBlob keyRef = Ref(ref);
    DataBlob blob{0, nullptr};
    *status = QM_ExportPublicKey(&keyRef, &blob);
    if (*status != ERR_OK) return {};
    Bytes out(blob.length);
    blob.data = out.data();
    *status = QM_ExportPublicKey(&keyRef, &blob);
    return out;
  }
  static Bytes ExportPrivate(std::string ref, DataBlob* wrapKey, uint32_t algId, int32_t* status) {
    DataBlob keyRef = Ref(ref);
    DataBlob blob{0, nullptr};
    *status = QM_ExportPrivateKey(&keyRef, wrapKey, &blob, algId);
    if (*status != ERR_OK) return {};
    Bytes out(blob.length, 0xA5);
    blob.data = out.data();
    *status = QM_ExportPrivateKey(&keyRef, wrapKey, &blob, algId);
    out.resize(blob.length);
    return out;
  }
  static Bytes PlainBlobOf(const test::RsaNumbers& key, uint32_t algId) {
    const std::size_t b8 = key.bits / 8, b16 = key.bits / 16;
    Bytes blob = {7, 2, 0, 0};
    Bytes alg = LittleEndian({static_cast<uint8_t>(algId >> 8), static_cast<uint8_t>(algId)}, 4);
    blob.insert(blob.end(), alg.begin(), alg.end());
    for (uint8_t b : {0x52, 0x53, 0x41, 0x32}) blob.push_back(b);
    Bytes bits =
        LittleEndian({static_cast<uint8_t>(key.bits >> 8), static_cast<uint8_t>(key.bits)}, 4);
    blob.insert(blob.end(), bits.begin(), bits.end());
    for (const Bytes& part :
         {LittleEndian(key.e, 4), LittleEndian(key.n, b8), LittleEndian(key.p, b16),
          LittleEndian(key.q, b16), LittleEndian(key.dp, b16), LittleEndian(key.dq, b16),
          LittleEndian(key.qinv, b16), LittleEndian(key.d, b8)})
      blob.insert(blob.end(), part.begin(), part.end());
    return blob;
  }
};

TEST_F(KeyExportTest, PublicBlobOfA1024BitSignaturePair) {
  const test::RsaNumbers& key = KeyOfSize(1024);
  auto [pubRef, privRef] = Plant("alpha", 2, key);
  int32_t status = 0;
  const Bytes blob = ExportPublic(pubRef, &status);
  ASSERT_EQ(status, ERR_OK);
  ASSERT_EQ(blob.size(), 148u);
  EXPECT_EQ(ToHex(blob.data(), 20), "0602000000240000525341310004000001000100");
  EXPECT_EQ(Bytes(blob.begin() + 20, blob.end()), Reversed(key.n));
  EXPECT_EQ(ExportPublic(privRef, &status), blob) << "the private record's public prefix";
}

TEST_F(KeyExportTest, PublicBlobsLoadInOpenSsl) {
  for (uint32_t bits : {512u, 1024u, 2048u}) {
    const test::RsaNumbers& key = KeyOfSize(bits);
    auto refs = Plant("alpha", 1, key);
    int32_t status = 0;
    const Bytes blob = ExportPublic(refs.first, &status);
    ASSERT_EQ(status, ERR_OK);
    EXPECT_EQ(blob[5], 0xA4) << "exchange pair";
    const unsigned char* p = blob.data();
    test::PkeyPtr loaded(b2i_PublicKey(&p, static_cast<long>(blob.size())), &EVP_PKEY_free);
    ASSERT_TRUE(loaded) << bits;
    BIGNUM* n = nullptr;
    ASSERT_EQ(EVP_PKEY_get_bn_param(loaded.get(), OSSL_PKEY_PARAM_RSA_N, &n), 1);
    Bytes nBytes(static_cast<std::size_t>(BN_num_bytes(n)));
    BN_bn2bin(n, nBytes.data());
    BN_free(n);
    EXPECT_EQ(nBytes, key.n) << bits;
  }
}

TEST_F(KeyExportTest, PrivateBlobSizeAnswers) {
  auto refs = Plant("alpha", 1, KeyOfSize(1024));
  uint8_t keyBytes[24] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  DataBlob wrapKey{24, keyBytes};
  struct Case {
    DataBlob* wrap;
    uint32_t algId;
    uint32_t expected;
  };
  const Case cases[] = {{nullptr, CALG_RC4, 596},
                        {nullptr, 0x1234, 596},
                        {nullptr, CALG_3DES, 600},
                        {&wrapKey, CALG_RC4, 596},
                        {&wrapKey, CALG_3DES, 600}};
  for (const Case& c : cases) {
    DataBlob ref = Ref(refs.second);
    DataBlob blob{0, nullptr};
    EXPECT_EQ(QM_ExportPrivateKey(&ref, c.wrap, &blob, c.algId), ERR_OK);
    EXPECT_EQ(blob.length, c.expected) << c.algId;
  }
}

TEST_F(KeyExportTest, PlainPrivateBlobsAreExactAndLoadInOpenSsl) {
  for (uint32_t bits : {512u, 1024u, 1536u, 2048u}) {
    const test::RsaNumbers& key = KeyOfSize(bits);
    auto refs = Plant("beta", 1, key);
    int32_t status = 0;
    const Bytes blob = ExportPrivate(refs.second, nullptr, CALG_RC4, &status);
    ASSERT_EQ(status, ERR_OK);
    EXPECT_EQ(blob, PlainBlobOf(key, CALG_RSA_KEYX)) << bits;
    const unsigned char* p = blob.data();
    test::PkeyPtr loaded(b2i_PrivateKey(&p, static_cast<long>(blob.size())), &EVP_PKEY_free);
    ASSERT_TRUE(loaded) << bits;
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new_from_pkey(nullptr, loaded.get(), nullptr), &EVP_PKEY_CTX_free);
    EXPECT_EQ(EVP_PKEY_check(ctx.get()), 1) << bits;
    const test::RsaNumbers back = test::NumbersOf(loaded.get());
    EXPECT_EQ(back.d, key.d);
    EXPECT_EQ(back.p, key.p);
    EXPECT_EQ(back.q, key.q);
  }
}

TEST_F(KeyExportTest, UnwrappedBlobKeepsTheCallersLengthAndClearsTheRest) {
  auto refs = Plant("alpha", 2, KeyOfSize(1024));
  DataBlob ref = Ref(refs.second);
  Bytes buffer(700, 0xA5);
  DataBlob blob{700, buffer.data()};
  ASSERT_EQ(QM_ExportPrivateKey(&ref, nullptr, &blob, CALG_RC4), ERR_OK);
  EXPECT_EQ(blob.length, 700u);
  EXPECT_EQ(ToHex(buffer.data(), 12), "070200000024000052534132");
  EXPECT_EQ(Bytes(buffer.begin() + 596, buffer.end()), Bytes(104, 0));
}

TEST_F(KeyExportTest, TripleDesWrappedBlobDecryptsToPlainBlobAndPadding) {
  const test::RsaNumbers& key = KeyOfSize(1024);
  auto refs = Plant("alpha", 1, key);
  Bytes keyBytes = test::FromHex("0123456789abcdeffedcba987654321089abcdef01234567");
  DataBlob wrapKey{24, keyBytes.data()};
  int32_t status = 0;
  const Bytes blob = ExportPrivate(refs.second, &wrapKey, CALG_3DES, &status);
  ASSERT_EQ(status, ERR_OK);
  ASSERT_EQ(blob.size(), 600u);
  const Bytes plain = PlainBlobOf(key, CALG_RSA_KEYX);
  EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 8), Bytes(plain.begin(), plain.begin() + 8));
  Bytes expected(plain.begin() + 8, plain.end());
  expected.insert(expected.end(), 4, 4);
  EXPECT_EQ(test::EvpCrypt("DES-EDE3-CBC", keyBytes, Bytes(blob.begin() + 8, blob.end()), false),
            expected);
}

TEST_F(KeyExportTest, Rc4WrappedBlobDecryptsToPlainBlob) {
  const test::RsaNumbers& key = KeyOfSize(1024);
  auto refs = Plant("alpha", 2, key);
  Bytes keyBytes = test::FromHex("00112233445566778899aabbccddeeff");
  DataBlob wrapKey{16, keyBytes.data()};
  int32_t status = 0;
  const Bytes blob = ExportPrivate(refs.second, &wrapKey, CALG_RC4, &status);
  ASSERT_EQ(status, ERR_OK);
  ASSERT_EQ(blob.size(), 596u);
  const Bytes plain = PlainBlobOf(key, CALG_RSA_SIGN);
  EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 8), Bytes(plain.begin(), plain.begin() + 8));
  EXPECT_EQ(test::EvpCrypt("RC4", keyBytes, Bytes(blob.begin() + 8, blob.end()), false),
            Bytes(plain.begin() + 8, plain.end()));
}

TEST_F(KeyExportTest, WrappingWithDesIsRefusedWithThePlainBlob) {
  const test::RsaNumbers& key = KeyOfSize(1024);
  auto refs = Plant("alpha", 1, key);
  Bytes keyBytes(8, 0x3c);
  DataBlob wrapKey{8, keyBytes.data()};
  DataBlob ref = Ref(refs.second);
  Bytes buffer(596);
  DataBlob blob{596, buffer.data()};
  EXPECT_EQ(QM_ExportPrivateKey(&ref, &wrapKey, &blob, CALG_DES), ERR_REFUSED);
  EXPECT_EQ(blob.length, 596u);
  EXPECT_EQ(buffer, PlainBlobOf(key, CALG_RSA_KEYX));
}

TEST_F(KeyExportTest, FailedWrappingHandsOutNothing) {
  auto refs = Plant("alpha", 1, KeyOfSize(1024));
  Bytes weak = test::FromHex("0101010101010101fefefefefefefefe0101010101010101");
  DataBlob wrapKey{24, weak.data()};
  DataBlob ref = Ref(refs.second);
  Bytes buffer(600, 0xA5);
  DataBlob blob{600, buffer.data()};
  EXPECT_EQ(QM_ExportPrivateKey(&ref, &wrapKey, &blob, CALG_3DES), ERR_WRAP_FAILED);
  EXPECT_EQ(blob.length, 600u);
  EXPECT_EQ(buffer, Bytes(600, 0xA5));
}

TEST_F(KeyExportTest, LengthsTheBlobsCannotHoldAreRefused) {
  // A 1000-bit modulus is a multiple of 8 but not of 16; 1001 is neither.
  for (uint32_t bits : {1000u, 1001u}) {
    Bytes priv = test::PrivateRecordOf(KeyOfSize(1024));
    for (int i = 0; i < 4; ++i) priv[i] = static_cast<uint8_t>(bits >> (8 * i));
    Bytes pub(priv.begin(), priv.begin() + 516);
    auto refs = Plant("odd", 1, pub, priv);
    int32_t status = 0;
    ExportPublic(refs.first, &status);
    EXPECT_EQ(status, bits % 8 == 0 ? ERR_OK : ERR_FAILED) << bits;
    DataBlob ref = Ref(refs.second);
    Bytes buffer(700, 0xA5);
    DataBlob blob{700, buffer.data()};
    EXPECT_EQ(QM_ExportPrivateKey(&ref, nullptr, &blob, CALG_RC4), ERR_REFUSED) << bits;
    EXPECT_EQ(buffer, Bytes(700, 0xA5));
  }
}

TEST_F(KeyExportTest, ShortOrMissingRecordsAreRefused) {
  Bytes tiny(10, 1);
  auto refs = Plant("short", 2, tiny, tiny);
  int32_t status = 0;
  ExportPublic(refs.first, &status);
  EXPECT_EQ(status, ERR_FAILED);
  ExportPrivate(refs.second, nullptr, CALG_RC4, &status);
  EXPECT_EQ(status, ERR_REFUSED);
  std::string missing = Container("nobody") + "\\PukSig";
  ExportPublic(missing, &status);
  EXPECT_EQ(status, ERR_FAILED);
  // A public record through the private export path is too short too.
  auto full = Plant("alpha", 2, KeyOfSize(512));
  ExportPrivate(full.first, nullptr, CALG_RC4, &status);
  EXPECT_EQ(status, ERR_REFUSED);
}

TEST_F(KeyExportTest, KeyProperties) {
  auto exchange = Plant("alpha", 1, KeyOfSize(2048));
  DataBlob ref = Ref(exchange.second);
  struct Case {
    uint32_t param;
    const char* expected;
  };
  const Case cases[] = {{KP_PADDING, "01000000"},
                        {KP_PERMISSIONS, "07000000"},
                        {KP_ALGID, "00a40000"},
                        {KP_BLOCKLEN, "00080000"}};
  for (const Case& c : cases) {
    uint8_t value[8];
    std::memset(value, 0xA5, sizeof value);
    uint32_t length = 8;
    ASSERT_EQ(QM_GetKeyProperty(&ref, c.param, value, &length), ERR_OK) << c.param;
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(ToHex(value, 5), std::string(c.expected) + "a5") << c.param;
  }
  uint8_t value[4] = {0xA5, 0xA5, 0xA5, 0xA5};
  uint32_t length = 3;
  EXPECT_EQ(QM_GetKeyProperty(&ref, KP_ALGID, value, &length), ERR_OK);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(value[0], 0xA5);
  for (uint32_t param : {0u, 4u, 5u, 9u}) {
    length = 4;
    EXPECT_EQ(QM_GetKeyProperty(&ref, param, value, &length), ERR_FAILED);
    EXPECT_EQ(length, 4u);
  }
  EXPECT_EQ(QM_GetKeyProperty(&ref, KP_BLOCKLEN, value, nullptr), ERR_FAILED);
}

TEST_F(KeyExportTest, AlgorithmComesFromTheValueNameAndBlockLengthNeedsARecord) {
  std::string both = Container("x") + "\\PukExhPvkSig";
  std::string neither = Container("x") + "\\Other";
  DataBlob bothRef = Ref(both), neitherRef = Ref(neither);
  uint8_t value[4];
  uint32_t length = 4;
  ASSERT_EQ(QM_GetKeyProperty(&bothRef, KP_ALGID, value, &length), ERR_OK);
  EXPECT_EQ(ToHex(value, 4), "00240000");
  ASSERT_EQ(QM_GetKeyProperty(&neitherRef, KP_ALGID, value, &length), ERR_OK);
  EXPECT_EQ(ToHex(value, 4), "00000000");
  std::memset(value, 0xA5, 4);
  EXPECT_EQ(QM_GetKeyProperty(&bothRef, KP_BLOCKLEN, value, &length), ERR_FAILED);
  EXPECT_EQ(ToHex(value, 4), "a5a5a5a5");
}

}  // namespace
}  // namespace marlinok::store
