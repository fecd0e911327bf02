#include <cstring>

#include "platform/registry.h"
#include "store/store_fixture.h"
#include "support/backend.h"

namespace marlinok::store {
namespace {

class ExportableKeysTest : public StoreTest {
 protected:
  int32_t Import(const std::string& name, const std::vector<uint8_t>& key,
                 const std::string& password, uint32_t passwordLength) {
    DataBlob keyBlob{static_cast<uint32_t>(key.size()), const_cast<uint8_t*>(key.data())};
    DataBlob entry{static_cast<uint32_t>(name.size()),
                   reinterpret_cast<uint8_t*>(const_cast<char*>(name.c_str()))};
    return QMCA_ImportPrivateKey(&keyBlob, reinterpret_cast<const uint8_t*>(password.c_str()),
                                 passwordLength, &entry);
  }
  int32_t Export(const std::string& name, const std::string& password, uint32_t passwordLength,
                 DataBlob* key) {
    DataBlob entry{static_cast<uint32_t>(name.size()),
                   reinterpret_cast<uint8_t*>(const_cast<char*>(name.c_str()))};
    return QMCA_ExportPrivateKey(&entry, reinterpret_cast<const uint8_t*>(password.c_str()),
                                 passwordLength, key);
  }
  const std::vector<uint8_t> key_{1, 2, 3, 4, 5, 6, 7};
};

TEST_F(ExportableKeysTest, PasswordCountedWithItsNulIsPresentedWithout) {
  ASSERT_EQ(Import("k1", key_, "hunter2", 8), ERR_OK);
  uint8_t out[16];
  std::memset(out, 0xA5, sizeof out);
  DataBlob key{sizeof out, out};
  ASSERT_EQ(Export("k1", "hunter2", 7, &key), ERR_OK);
  EXPECT_EQ(key.length, 7u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 7), key_);
  EXPECT_EQ(out[7], 0xA5);

  struct Case {
    const char* password;
    uint32_t length;
  };
  const Case refused[] = {{"hunter2", 8}, {"hunter", 6}, {"hunter3", 7}, {"Hunter2", 7}};
  for (const Case& c : refused) {
    DataBlob probe{sizeof out, out};
    EXPECT_EQ(Export("k1", c.password, c.length, &probe), ERR_FAILED) << c.password << c.length;
    EXPECT_EQ(probe.length, sizeof out);
  }
}

TEST_F(ExportableKeysTest, PasswordCountedWithoutNulMatchesOneCharacterLess) {
  ASSERT_EQ(Import("k2", key_, "abcd", 4), ERR_OK);
  DataBlob key{0, nullptr};
  EXPECT_EQ(Export("k2", "abcd", 4, &key), ERR_FAILED);
  EXPECT_EQ(Export("k2", "abc", 3, &key), ERR_OK);
  EXPECT_EQ(key.length, 7u);
}

TEST_F(ExportableKeysTest, SizeQueryAndShortBuffer) {
  ASSERT_EQ(Import("k3", key_, "pw", 3), ERR_OK);
  DataBlob query{0, nullptr};
  ASSERT_EQ(Export("k3", "pw", 2, &query), ERR_OK);
  EXPECT_EQ(query.length, 7u);
  uint8_t out[6];
  DataBlob shortKey{6, out};
  EXPECT_EQ(Export("k3", "pw", 2, &shortKey), ERR_REFUSED);
  EXPECT_EQ(shortKey.length, 7u);
}

TEST_F(ExportableKeysTest, UnknownNameAndMissingPassword) {
  DataBlob key{0, nullptr};
  EXPECT_EQ(Export("never", "pw", 2, &key), ERR_REFUSED);
  WriteValue("Software\\Quillmar\\ExportableKey\\nopw", "Pvk", platform::kRegBinary, key_);
  EXPECT_EQ(Export("nopw", "", 0, &key), ERR_REFUSED);
}

TEST_F(ExportableKeysTest, SecondImportReplacesBothValues) {
  ASSERT_EQ(Import("k4", key_, "old", 4), ERR_OK);
  const std::vector<uint8_t> newer{9, 9};
  ASSERT_EQ(Import("k4", newer, "new", 4), ERR_OK);
  uint8_t out[8];
  DataBlob key{sizeof out, out};
  EXPECT_EQ(Export("k4", "old", 3, &key), ERR_FAILED);
  ASSERT_EQ(Export("k4", "new", 3, &key), ERR_OK);
  EXPECT_EQ(std::vector<uint8_t>(out, out + key.length), newer);
}

// The stated length counts the name's characters: its NUL must come within
// length + 1 bytes, or the name is refused before anything past it is read.
TEST_F(ExportableKeysTest, NameWhoseNulLiesPastItsLengthIsRefused) {
  std::string name = "entry";  // NUL at index 5
  std::vector<uint8_t> keyBytes(key_);
  DataBlob keyBlob{static_cast<uint32_t>(keyBytes.size()), keyBytes.data()};
  const auto* password = reinterpret_cast<const uint8_t*>("pw");
  DataBlob tooShort{4, reinterpret_cast<uint8_t*>(name.data())};
  EXPECT_EQ(QMCA_ImportPrivateKey(&keyBlob, password, 3, &tooShort), ERR_FAILED);
  EXPECT_FALSE(KeyExists("Software\\Quillmar\\ExportableKey\\entry"));
  DataBlob out{0, nullptr};
  EXPECT_EQ(QMCA_ExportPrivateKey(&tooShort, password, 2, &out), ERR_REFUSED);

  DataBlob exact{5, reinterpret_cast<uint8_t*>(name.data())};
  ASSERT_EQ(QMCA_ImportPrivateKey(&keyBlob, password, 3, &exact), ERR_OK);
  EXPECT_EQ(QMCA_ExportPrivateKey(&exact, password, 2, &out), ERR_OK);
  EXPECT_EQ(out.length, keyBytes.size());
}

TEST_F(ExportableKeysTest, NullArgumentsAreRefused) {
  DataBlob key{0, nullptr};
  DataBlob nullName{4, nullptr};
  std::vector<uint8_t> keyBytes(key_);
  DataBlob keyBlob{7, keyBytes.data()};
  EXPECT_EQ(QMCA_ImportPrivateKey(nullptr, nullptr, 0, &nullName), ERR_FAILED);
  EXPECT_EQ(QMCA_ImportPrivateKey(&keyBlob, nullptr, 3, &nullName), ERR_FAILED);
  EXPECT_EQ(QMCA_ImportPrivateKey(&keyBlob, nullptr, 0, nullptr), ERR_FAILED);
  EXPECT_EQ(QMCA_ExportPrivateKey(nullptr, nullptr, 0, &key), ERR_REFUSED);
  EXPECT_EQ(QMCA_ExportPrivateKey(&nullName, nullptr, 0, &key), ERR_REFUSED);
  EXPECT_EQ(Export("x", "", 0, nullptr), ERR_REFUSED);
}

// An import whose password cannot be written (the disk full at its second
// value) leaves the entry's key and password as they were: never a new key
// under the old password.
TEST_F(ExportableKeysTest, FailedImportLeavesTheEntryAsItWas) {
  if (test::kWin32Backend) GTEST_SKIP() << "advapi32 writes the values one by one";
  ASSERT_EQ(Import("k5", key_, "old", 4), ERR_OK);
  platform::FailValueWritesForTesting(1);
  const int32_t imported = Import("k5", {9, 9, 9}, "new", 4);
  platform::FailValueWritesForTesting(-1);
  EXPECT_EQ(imported, ERR_FAILED);
  uint8_t out[16];
  DataBlob key{sizeof out, out};
  ASSERT_EQ(Export("k5", "old", 3, &key), ERR_OK);
  EXPECT_EQ(std::vector<uint8_t>(out, out + key.length), key_);
}

}  // namespace
}  // namespace marlinok::store
