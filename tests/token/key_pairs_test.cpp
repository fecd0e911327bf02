#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "marlinok.h"
#include "rsa/key_record.h"
#include "rsa/rsa_test_keys.h"
#include "store/store_fixture.h"

namespace marlinok::rsa {
namespace {

using test::Bytes;

class GenAsymmetricKeyTest : public store::StoreTest {
 protected:
  // References with buffers of the queried size.
  struct References {
    std::vector<uint8_t> publicPath = std::vector<uint8_t>(128, 0xA5);
    std::vector<uint8_t> privatePath = std::vector<uint8_t>(128, 0xA5);
    DataBlob publicRef{0, publicPath.data()};
    DataBlob privateRef{0, privatePath.data()};
  };

  static Bytes Value(const std::string& container, const char* name) {
    uint32_t type = 0;
    std::vector<uint8_t> bytes;
    if (!ReadValue(Container(container), name, &type, &bytes)) return {};
    return bytes;
  }
};

TEST_F(GenAsymmetricKeyTest, SizeQueryReportsReferenceLengthsAndStoresNothing) {
  for (uint32_t pairType : {1u, 2u, 0u}) {
    DataBlob publicRef{0, nullptr};
    uint8_t buffer[64];
    DataBlob privateRef{0, buffer};
    EXPECT_EQ(QM_GenAsymmetricKey("alpha", &publicRef, &privateRef, 1024, 1, pairType), ERR_OK);
    EXPECT_EQ(publicRef.length, 54u);
    EXPECT_EQ(privateRef.length, 54u);
  }
  EXPECT_FALSE(KeyExists(Container("alpha")));
}

TEST_F(GenAsymmetricKeyTest, StoresSignaturePair) {
  References refs;
  ASSERT_EQ(QM_GenAsymmetricKey("alpha", &refs.publicRef, &refs.privateRef, 1024, 1, 2), ERR_OK);
  EXPECT_EQ(refs.publicRef.length, 54u);
  EXPECT_EQ(refs.privateRef.length, 54u);
  EXPECT_EQ(Text(refs.publicRef), "Software\\Quillmar\\SoftContainerSimulator\\alpha\\PukSig");
  EXPECT_EQ(Text(refs.privateRef), "Software\\Quillmar\\SoftContainerSimulator\\alpha\\PvkSig");
  const Bytes pub = Value("alpha", "PukSig");
  const Bytes priv = Value("alpha", "PvkSig");
  ASSERT_EQ(pub.size(), kPublicRecordBytes);
  ASSERT_EQ(priv.size(), kPrivateRecordBytes);
  EXPECT_EQ(0, std::memcmp(pub.data(), priv.data(), pub.size()));
  EXPECT_EQ(ReadModulusBits(pub.data()), 1024u);
  EXPECT_EQ(Value("alpha", "SigProperty"), (Bytes{0x00, 0x24, 0x00, 0x00}));
  EXPECT_EQ(Value("alpha", "SigExport"), (Bytes{1, 0, 0, 0}));
  EXPECT_TRUE(Value("alpha", "PukExh").empty());
}

TEST_F(GenAsymmetricKeyTest, PairTypeThreeStoresTheExchangePair) {
  References refs;
  ASSERT_EQ(QM_GenAsymmetricKey("beta", &refs.publicRef, &refs.privateRef, 512, 0, 3), ERR_OK);
  EXPECT_EQ(Text(refs.privateRef), "Software\\Quillmar\\SoftContainerSimulator\\beta\\PvkExh");
  EXPECT_EQ(Value("beta", "PvkExh").size(), kPrivateRecordBytes);
  EXPECT_EQ(Value("beta", "ExExport"), (Bytes{0, 0, 0, 0}));
  EXPECT_TRUE(Value("beta", "PvkSig").empty());
}

TEST_F(GenAsymmetricKeyTest, PairTypeWithoutKindFailsButCreatesTheContainer) {
  for (uint32_t pairType : {0u, 4u}) {
    References refs;
    EXPECT_EQ(QM_GenAsymmetricKey("gamma", &refs.publicRef, &refs.privateRef, 512, 1, pairType),
              ERR_FAILED);
    EXPECT_EQ(refs.publicRef.length, 0u);
    EXPECT_EQ(refs.publicPath, std::vector<uint8_t>(128, 0xA5));
  }
  EXPECT_TRUE(KeyExists(Container("gamma")));
  EXPECT_TRUE(Value("gamma", "PvkExh").empty());
  EXPECT_TRUE(Value("gamma", "PvkSig").empty());
}

TEST_F(GenAsymmetricKeyTest, RefusedLengthStoresNothingAndKeepsTheStoredPair) {
  References first;
  ASSERT_EQ(QM_GenAsymmetricKey("alpha", &first.publicRef, &first.privateRef, 512, 1, 1), ERR_OK);
  const Bytes stored = Value("alpha", "PvkExh");
  for (uint32_t bits : {507u, 2049u, 0u}) {
    References refs;
    EXPECT_EQ(QM_GenAsymmetricKey("alpha", &refs.publicRef, &refs.privateRef, bits, 1, 1),
              ERR_FAILED);
    EXPECT_EQ(refs.privateRef.length, 0u);
    EXPECT_EQ(refs.privatePath, std::vector<uint8_t>(128, 0xA5));
  }
  EXPECT_EQ(Value("alpha", "PvkExh"), stored);
}

TEST_F(GenAsymmetricKeyTest, RefusedLengthDoesNotCreateTheContainer) {
  References refs;
  EXPECT_EQ(QM_GenAsymmetricKey("delta", &refs.publicRef, &refs.privateRef, 507, 1, 2), ERR_FAILED);
  EXPECT_FALSE(KeyExists(Container("delta")));
}

TEST_F(GenAsymmetricKeyTest, RefusesEmptyBackslashAndNullArguments) {
  References refs;
  EXPECT_EQ(QM_GenAsymmetricKey("", &refs.publicRef, &refs.privateRef, 512, 1, 2), ERR_FAILED);
  EXPECT_EQ(QM_GenAsymmetricKey("a\\b", &refs.publicRef, &refs.privateRef, 512, 1, 2), ERR_FAILED);
  EXPECT_EQ(QM_GenAsymmetricKey(nullptr, &refs.publicRef, &refs.privateRef, 512, 1, 2), ERR_FAILED);
  EXPECT_EQ(QM_GenAsymmetricKey("alpha", nullptr, &refs.privateRef, 512, 1, 2), ERR_FAILED);
  EXPECT_EQ(QM_GenAsymmetricKey("alpha", &refs.publicRef, nullptr, 512, 1, 2), ERR_FAILED);
  EXPECT_EQ(refs.publicRef.length, 0u);
  EXPECT_FALSE(KeyExists(Container("a")));
  EXPECT_FALSE(KeyExists("Software\\Quillmar\\SoftContainerSimulator"));
}

TEST_F(GenAsymmetricKeyTest, SecondGenerationReplacesOnlyItsKind) {
  References sig, ex, again;
  ASSERT_EQ(QM_GenAsymmetricKey("alpha", &sig.publicRef, &sig.privateRef, 512, 1, 2), ERR_OK);
  ASSERT_EQ(QM_GenAsymmetricKey("alpha", &ex.publicRef, &ex.privateRef, 512, 1, 1), ERR_OK);
  const Bytes exchange = Value("alpha", "PvkExh");
  const Bytes signature = Value("alpha", "PvkSig");
  ASSERT_EQ(QM_GenAsymmetricKey("alpha", &again.publicRef, &again.privateRef, 512, 1, 2), ERR_OK);
  EXPECT_EQ(Value("alpha", "PvkExh"), exchange);
  EXPECT_NE(Value("alpha", "PvkSig"), signature);
}

}  // namespace
}  // namespace marlinok::rsa
