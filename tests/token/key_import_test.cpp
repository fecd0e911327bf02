#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstring>
#include <map>

#include "platform/registry.h"
#include "support/openssl_rsa.h"
#include "support/temp_hive.h"
#include "token/key_table.h"

namespace marlinok::rsa {
namespace {

using test::Bytes;
using test::ToHex;

void SetBits(Bytes& blob, uint32_t bits) {
  for (int i = 0; i < 4; ++i) blob[12 + i] = static_cast<uint8_t>(bits >> (8 * i));
}

class KeyImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    (void)platform::DeleteKeyTree("Software\\Quillmar");
    registered_ = token::GlobalKeyTable().Size();
  }
  void TearDown() override { (void)platform::DeleteKeyTree("Software\\Quillmar"); }
  std::size_t Registered() const { return token::GlobalKeyTable().Size() - registered_; }

  static Bytes StoredValue(const std::string& container, const char* name) {
    platform::RegistryKey key;
    const std::string path = "Software\\Quillmar\\SoftContainerSimulator\\" + container;
    if (platform::OpenKey(path.c_str(), key) != platform::kErrorSuccess) return {};
    uint32_t size = 0;
    if (platform::QueryValue(key, name, nullptr, nullptr, &size) != platform::kErrorSuccess)
      return {};
    Bytes out(size);
    (void)platform::QueryValue(key, name, nullptr, out.data(), &size);
    return out;
  }
  static int32_t ImportPrivate(const char* container, Bytes blob, uint32_t pairType,
                               std::string* privateRef = nullptr) {
    char pub[128], priv[128];
    DataBlob publicRef{0, reinterpret_cast<uint8_t*>(pub)};
    DataBlob privateRefBlob{0, reinterpret_cast<uint8_t*>(priv)};
    DataBlob in{static_cast<uint32_t>(blob.size()), blob.data()};
    const int32_t status =
        QM_ImportPrivateKey(container, &in, pairType, &publicRef, &privateRefBlob);
    if (status == ERR_OK && privateRef != nullptr) *privateRef = priv;
    return status;
  }

  test::TempHive hive_;
  std::size_t registered_ = 0;
};

TEST_F(KeyImportTest, PublicBlobBecomesTheRecordAndIsRegistered) {
  for (uint32_t bits : {512u, 1024u, 2048u}) {
    const test::RsaNumbers numbers = test::NumbersOf(test::SharedRsaKey(bits));
    Bytes blob = test::OpenSslKeyBlob(test::SharedRsaKey(bits), false);
    DataBlob in{static_cast<uint32_t>(blob.size()), blob.data()};
    Bytes record(600, 0xA5);
    DataBlob out{600, record.data()};
    ASSERT_EQ(QM_ImportPublicKey(&in, 1, &out), ERR_OK) << bits;
    EXPECT_EQ(out.length, 600u) << "the length is left as given";
    EXPECT_EQ(Bytes(record.begin(), record.begin() + 516), test::PublicRecordOf(numbers));
    EXPECT_EQ(record[516], 0xA5);
    EXPECT_EQ(Registered(), 1u);
    EXPECT_EQ(QM_DestroyKey(&out), ERR_OK);
  }
}

TEST_F(KeyImportTest, PublicImportRefusals) {
  Bytes good = test::OpenSslKeyBlob(test::SharedRsaKey(1024), false);
  Bytes record(516, 0xA5);
  DataBlob out{516, record.data()};
  DataBlob shortOut{515, record.data()};
  DataBlob nullOut{516, nullptr};
  DataBlob in{static_cast<uint32_t>(good.size()), good.data()};
  DataBlob nullData{148, nullptr};
  DataBlob oneShort{static_cast<uint32_t>(good.size() - 1), good.data()};
  Bytes oddBits = good;
  SetBits(oddBits, 1020);
  DataBlob odd{static_cast<uint32_t>(oddBits.size()), oddBits.data()};
  Bytes hugeBits(20 + 257, 0);
  SetBits(hugeBits, 2056);
  DataBlob huge{static_cast<uint32_t>(hugeBits.size()), hugeBits.data()};
  struct Case {
    const char* name;
    const DataBlob* blob;
    uint32_t kind;
    DataBlob* output;
  };
  const Case cases[] = {
      {"kind 0", &in, 0, &out},
      {"output 515 bytes", &in, 1, &shortOut},
      {"null output data", &in, 1, &nullOut},
      {"null output", &in, 1, nullptr},
      {"null blob", nullptr, 1, &out},
      {"null blob data", &nullData, 1, &out},
      {"blob a byte short", &oneShort, 1, &out},
      {"bits not whole bytes", &odd, 1, &out},
      {"bits over 2048", &huge, 1, &out},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(QM_ImportPublicKey(c.blob, c.kind, c.output), ERR_FAILED) << c.name;
    EXPECT_EQ(record, Bytes(516, 0xA5)) << c.name;
  }
  EXPECT_EQ(Registered(), 0u);
}

TEST_F(KeyImportTest, PrivateBlobFromOpenSslIsStoredAndExportsBackIdentically) {
  for (uint32_t bits : {512u, 1024u, 2048u}) {
    const test::RsaNumbers numbers = test::NumbersOf(test::SharedRsaKey(bits));
    const Bytes blob = test::OpenSslKeyBlob(test::SharedRsaKey(bits), true);
    std::string privateRef;
    ASSERT_EQ(ImportPrivate("alpha", blob, 1, &privateRef), ERR_OK) << bits;
    EXPECT_EQ(StoredValue("alpha", "PvkExh"), test::PrivateRecordOf(numbers));
    EXPECT_EQ(StoredValue("alpha", "PukExh"), test::PublicRecordOf(numbers));
    EXPECT_EQ(StoredValue("alpha", "ExExport"), (Bytes{1, 0, 0, 0})) << "always exportable";

    DataBlob ref{static_cast<uint32_t>(privateRef.size() + 1),
                 reinterpret_cast<uint8_t*>(&privateRef[0])};
    Bytes exported(blob.size());
    DataBlob out{static_cast<uint32_t>(exported.size()), exported.data()};
    ASSERT_EQ(QM_ExportPrivateKey(&ref, nullptr, &out, CALG_RC4), ERR_OK);
    EXPECT_EQ(exported, blob) << bits;
  }
}

TEST_F(KeyImportTest, PrivateImportRefusalsStoreNothing) {
  const Bytes good = test::OpenSslKeyBlob(test::SharedRsaKey(1024), true);
  Bytes b1032 = good, b1000 = good, b2056(20 + 2 * 257 + 5 * 128 + 8, 0);
  SetBits(b1032, 1032);
  SetBits(b1000, 1000);
  SetBits(b2056, 2056);
  Bytes oneShort(good.begin(), good.end() - 1);
  for (const Bytes* blob : {&b1032, &b1000, &b2056, &oneShort})
    EXPECT_EQ(ImportPrivate("alpha", *blob, 1), ERR_FAILED);
  EXPECT_EQ(ImportPrivate("", good, 1), ERR_FAILED);
  EXPECT_EQ(ImportPrivate("a\\b", good, 1), ERR_FAILED);
  EXPECT_EQ(ImportPrivate(nullptr, good, 1), ERR_FAILED);
  platform::RegistryKey root;
  EXPECT_NE(platform::OpenKey("Software\\Quillmar\\SoftContainerSimulator", root),
            platform::kErrorSuccess)
      << "no container key was created";

  Bytes copy = good;
  DataBlob in{static_cast<uint32_t>(copy.size()), copy.data()};
  DataBlob ref{0, nullptr};
  EXPECT_EQ(QM_ImportPrivateKey("alpha", nullptr, 1, &ref, &ref), ERR_FAILED);
  EXPECT_EQ(QM_ImportPrivateKey("alpha", &in, 1, nullptr, &ref), ERR_FAILED);
  EXPECT_EQ(ImportPrivate("alpha", good, 0), ERR_FAILED) << "no kind selected";
  EXPECT_TRUE(StoredValue("alpha", "PvkExh").empty());
}

TEST_F(KeyImportTest, PlainSymmetricBlobNeedsTheExactLength) {
  Bytes keyBytes(24);
  for (int i = 0; i < 24; ++i) keyBytes[i] = static_cast<uint8_t>(0x10 + i);
  DataBlob key{24, keyBytes.data()};
  Bytes out(40, 0xA5);
  DataBlob blob{40, out.data()};
  ASSERT_EQ(QM_ExportSymmetricKey(&key, nullptr, &blob, CALG_3DES), ERR_OK);
  EXPECT_EQ(blob.length, 36u);
  EXPECT_EQ(out, Bytes(40, 0xA5)) << "a larger buffer is only told the length";
  ASSERT_EQ(QM_ExportSymmetricKey(&key, nullptr, &blob, CALG_3DES), ERR_OK);
  EXPECT_EQ(ToHex(out.data(), 12), "010200000366000000000000");
  EXPECT_EQ(Bytes(out.begin() + 12, out.begin() + 36), keyBytes);

  // The plain blob imports back unchanged.
  Bytes back(24);
  DataBlob imported{0, back.data()};
  ASSERT_EQ(QM_ImportSymmetricKey(&blob, CALG_3DES, &imported), ERR_OK);
  EXPECT_EQ(back, keyBytes);
  EXPECT_EQ(QM_DestroyKey(&imported), ERR_OK);
}

TEST_F(KeyImportTest, WrappedSymmetricKeyUnwrapsWithOpenSsl) {
  const test::RsaNumbers numbers = test::NumbersOf(test::SharedRsaKey(1024));
  Bytes record = test::PublicRecordOf(numbers);
  DataBlob wrap{0, record.data()};  // a direct record: its length is not read
  Bytes keyBytes = test::FromHex("00112233445566778899aabbccddeeff");
  DataBlob key{16, keyBytes.data()};
  DataBlob query{0, nullptr};
  ASSERT_EQ(QM_ExportSymmetricKey(&key, &wrap, &query, CALG_RC4), ERR_OK);
  EXPECT_EQ(query.length, 140u);
  Bytes out(140);
  DataBlob blob{140, out.data()};
  ASSERT_EQ(QM_ExportSymmetricKey(&key, &wrap, &blob, CALG_RC4), ERR_OK);
  EXPECT_EQ(ToHex(out.data(), 12),
            "0102000001680000"
            "00a40000");

  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
      EVP_PKEY_CTX_new(test::SharedRsaKey(1024), nullptr), &EVP_PKEY_CTX_free);
  ASSERT_EQ(EVP_PKEY_decrypt_init(ctx.get()), 1);
  ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING), 1);
  Bytes block(128);
  size_t blockLength = block.size();
  ASSERT_EQ(EVP_PKEY_decrypt(ctx.get(), block.data(), &blockLength, out.data() + 12, 128), 1);
  ASSERT_EQ(blockLength, 128u);
  EXPECT_EQ(block[0], 0x00);
  EXPECT_EQ(block[1], 0x02);
  for (int i = 2; i < 111; ++i) EXPECT_NE(block[i], 0) << i;
  EXPECT_EQ(block[111], 0x00);
  EXPECT_EQ(Bytes(block.begin() + 112, block.end()), keyBytes);
}

TEST_F(KeyImportTest, WrappingRefusals) {
  const test::RsaNumbers numbers = test::NumbersOf(test::SharedRsaKey(512));
  Bytes record = test::PublicRecordOf(numbers);
  DataBlob wrap{516, record.data()};
  Bytes keyBytes(54, 0x42);
  Bytes out(100, 0xA5);
  DataBlob blob{100, out.data()};
  DataBlob tooLong{54, keyBytes.data()};
  EXPECT_EQ(QM_ExportSymmetricKey(&tooLong, &wrap, &blob, CALG_RC4), ERR_FAILED);
  EXPECT_EQ(blob.length, 100u);
  EXPECT_EQ(out, Bytes(100, 0xA5));
  DataBlob limit{53, keyBytes.data()};
  EXPECT_EQ(QM_ExportSymmetricKey(&limit, &wrap, &blob, CALG_RC4), ERR_OK);
  EXPECT_EQ(blob.length, 76u);

  DataBlob empty{0, keyBytes.data()};
  DataBlob nullRecord{516, nullptr};
  EXPECT_EQ(QM_ExportSymmetricKey(&empty, &wrap, &blob, CALG_RC4), ERR_FAILED);
  EXPECT_EQ(QM_ExportSymmetricKey(&limit, &nullRecord, &blob, CALG_RC4), ERR_FAILED);
  EXPECT_EQ(QM_ExportSymmetricKey(nullptr, nullptr, &blob, CALG_RC4), ERR_FAILED);
  EXPECT_EQ(QM_ExportSymmetricKey(&limit, nullptr, nullptr, CALG_RC4), ERR_FAILED);
}

TEST(SupportedAlgorithmsTest, CapacityRules) {
  uint32_t ids[10];
  std::fill(std::begin(ids), std::end(ids), 0xA5A5A5A5u);
  uint32_t count = 5;
  EXPECT_EQ(QM_GetSupportedAlgId(ids, &count), ERR_OK);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(ids[0], 0xA5A5A5A5u);
  count = 10;
  EXPECT_EQ(QM_GetSupportedAlgId(ids, &count), ERR_OK);
  EXPECT_EQ(count, 6u);
  const uint32_t expected[] = {0x8003, 0x8004, 0x2400, 0xA400, 0x6603, 0x6801};
  EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), ids));
  EXPECT_EQ(ids[6], 0xA5A5A5A5u);
  count = 6;
  EXPECT_EQ(QM_GetSupportedAlgId(nullptr, &count), ERR_OK);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(QM_GetSupportedAlgId(ids, nullptr), ERR_FAILED);
}

}  // namespace
}  // namespace marlinok::rsa
