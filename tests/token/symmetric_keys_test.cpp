#include <gtest/gtest.h>

#include <cstring>

#include "marlinok.h"
#include "support/hex.h"
#include "token/key_table.h"

namespace marlinok::token {
namespace {

using test::ToHex;

// Each test leaves the library-wide table as it found it.
class SymmetricKeyCallsTest : public ::testing::Test {
 protected:
  void SetUp() override { before_ = GlobalKeyTable().Size(); }
  std::size_t Registered() const { return GlobalKeyTable().Size() - before_; }
  void Withdraw(DataBlob* key) {
    while (Registered() > 0 && QM_DestroyKey(key) == ERR_OK) {
    }
  }

 private:
  std::size_t before_ = 0;
};

TEST_F(SymmetricKeyCallsTest, TripleDesWritesTwentyFourBytesAndKeepsLength) {
  uint8_t bytes[32];
  std::memset(bytes, 0xA5, sizeof bytes);
  DataBlob key{16, bytes};
  ASSERT_EQ(QM_GenSymmetricKey(CALG_3DES, &key, 0), ERR_OK);
  EXPECT_EQ(key.length, 16u);
  EXPECT_EQ(bytes[24], 0xA5);
  EXPECT_NE(ToHex(bytes, 24), std::string(48, 'a'));
  // The three parts are drawn at different clock readings.
  EXPECT_NE(0, std::memcmp(bytes, bytes + 8, 8));
  EXPECT_NE(0, std::memcmp(bytes + 8, bytes + 16, 8));
  EXPECT_EQ(Registered(), 1u);
  EXPECT_EQ(QM_DestroyKey(&key), ERR_OK);
  EXPECT_EQ(QM_DestroyKey(&key), ERR_FAILED);
}

TEST_F(SymmetricKeyCallsTest, Rc4FillsExactlyTheAskedLength) {
  uint8_t bytes[8];
  std::memset(bytes, 0xA5, sizeof bytes);
  DataBlob key{5, bytes};
  ASSERT_EQ(QM_GenSymmetricKey(CALG_RC4, &key, 0), ERR_OK);
  EXPECT_EQ(bytes[5], 0xA5);
  EXPECT_EQ(Registered(), 1u);
  DataBlob same{5, bytes};
  EXPECT_EQ(QM_DestroyKey(&same), ERR_OK);
}

TEST_F(SymmetricKeyCallsTest, GenerationRefusals) {
  uint8_t bytes[32];
  std::memset(bytes, 0xA5, sizeof bytes);
  struct Case {
    const char* name;
    uint32_t algId;
    uint32_t length;
  };
  const Case cases[] = {
      {"DES cannot be generated", CALG_DES, 8},
      {"unknown algorithm", 0x1234, 16},
      {"RC4 of zero bytes", CALG_RC4, 0},
      {"RC4 over the generator's 16 bytes", CALG_RC4, 17},
  };
  for (const Case& c : cases) {
    DataBlob key{c.length, bytes};
    EXPECT_EQ(QM_GenSymmetricKey(c.algId, &key, 0), ERR_FAILED) << c.name;
    EXPECT_EQ(key.length, c.length) << c.name;
  }
  for (uint8_t b : bytes) ASSERT_EQ(b, 0xA5);
  EXPECT_EQ(QM_GenSymmetricKey(CALG_RC4, nullptr, 0), ERR_FAILED);
  DataBlob nullData{8, nullptr};
  EXPECT_EQ(QM_GenSymmetricKey(CALG_3DES, &nullData, 0), ERR_FAILED);
  EXPECT_EQ(Registered(), 0u);
}

TEST_F(SymmetricKeyCallsTest, ImportCopiesBytesAfterTheHeader) {
  uint8_t blobBytes[12 + 5];
  std::memset(blobBytes, 0xEE, 12);  // the header is never examined
  for (int i = 0; i < 5; ++i) blobBytes[12 + i] = static_cast<uint8_t>(i + 1);
  DataBlob blob{sizeof blobBytes, blobBytes};

  DataBlob query{0, nullptr};
  ASSERT_EQ(QM_ImportSymmetricKey(&blob, CALG_3DES, &query), ERR_OK);
  EXPECT_EQ(query.length, 5u);
  EXPECT_EQ(Registered(), 0u);

  uint8_t keyBytes[8];
  std::memset(keyBytes, 0xA5, sizeof keyBytes);
  DataBlob key{0, keyBytes};
  ASSERT_EQ(QM_ImportSymmetricKey(&blob, CALG_3DES, &key), ERR_OK);
  EXPECT_EQ(key.length, 5u);
  EXPECT_EQ(ToHex(keyBytes, 8), "0102030405a5a5a5");
  EXPECT_EQ(Registered(), 1u);
  Withdraw(&key);
}

TEST_F(SymmetricKeyCallsTest, ImportOfThirteenByteBlobGivesOneByteKey) {
  uint8_t blobBytes[13] = {};
  blobBytes[12] = 0x42;
  DataBlob blob{13, blobBytes};
  uint8_t out = 0;
  DataBlob key{0, &out};
  ASSERT_EQ(QM_ImportSymmetricKey(&blob, CALG_RC4, &key), ERR_OK);
  EXPECT_EQ(key.length, 1u);
  EXPECT_EQ(out, 0x42);
  Withdraw(&key);
}

TEST_F(SymmetricKeyCallsTest, ImportRefusals) {
  uint8_t blobBytes[20] = {};
  uint8_t out[8];
  std::memset(out, 0xA5, sizeof out);
  DataBlob key{3, out};
  DataBlob twelve{12, blobBytes};
  DataBlob nullData{20, nullptr};
  DataBlob good{20, blobBytes};
  EXPECT_EQ(QM_ImportSymmetricKey(&twelve, CALG_RC4, &key), ERR_REFUSED);
  EXPECT_EQ(QM_ImportSymmetricKey(nullptr, CALG_RC4, &key), ERR_REFUSED);
  EXPECT_EQ(QM_ImportSymmetricKey(&nullData, CALG_RC4, &key), ERR_REFUSED);
  EXPECT_EQ(QM_ImportSymmetricKey(&good, CALG_DES, &key), ERR_REFUSED);
  EXPECT_EQ(QM_ImportSymmetricKey(&good, CALG_RC4, nullptr), ERR_REFUSED);
  EXPECT_EQ(key.length, 3u);
  for (uint8_t b : out) EXPECT_EQ(b, 0xA5);
  EXPECT_EQ(Registered(), 0u);
}

TEST_F(SymmetricKeyCallsTest, DestroyKeyRefusesNullAndUnknownKeys) {
  EXPECT_EQ(QM_DestroyKey(nullptr), ERR_FAILED);
  uint8_t never[8] = {0xde, 0xad, 0xbe, 0xef, 1, 2, 3, 4};
  DataBlob key{8, never};
  EXPECT_EQ(QM_DestroyKey(&key), ERR_FAILED);
}

}  // namespace
}  // namespace marlinok::token
