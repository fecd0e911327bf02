#include "store/key_record_store.h"

#include <cstring>

#include "platform/registry.h"
#include "store/registry_layout.h"
#include "store/store_fixture.h"
#include "support/backend.h"

namespace marlinok::store {
namespace {

class KeyRecordStoreTest : public StoreTest {
 protected:
  KeyRecordStoreTest() : publicBytes_(516, 0x11), privateBytes_(1412, 0x22) {
    publicRecord_ = DataBlob{516, publicBytes_.data()};
    privateRecord_ = DataBlob{1412, privateBytes_.data()};
  }
  std::vector<uint8_t> publicBytes_, privateBytes_;
  DataBlob publicRecord_, privateRecord_;
};

TEST_F(KeyRecordStoreTest, StoresSignaturePairAndHandsOutReferences) {
  char pub[64], priv[64];
  DataBlob publicRef{0, reinterpret_cast<uint8_t*>(pub)};
  DataBlob privateRef{0, reinterpret_cast<uint8_t*>(priv)};
  ASSERT_EQ(Status::Ok,
            StoreKeyPair("alpha", 2, 1, &publicRecord_, &privateRecord_, &publicRef, &privateRef));
  EXPECT_EQ(publicRef.length, 54u);
  EXPECT_EQ(privateRef.length, 54u);
  EXPECT_STREQ(pub, "Software\\Quillmar\\SoftContainerSimulator\\alpha\\PukSig");
  EXPECT_STREQ(priv, "Software\\Quillmar\\SoftContainerSimulator\\alpha\\PvkSig");

  uint32_t type = 0;
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadValue(Container("alpha"), "PvkSig", &type, &bytes));
  EXPECT_EQ(type, platform::kRegBinary);
  EXPECT_EQ(bytes, privateBytes_);
  ASSERT_TRUE(ReadValue(Container("alpha"), "SigProperty", &type, &bytes));
  EXPECT_EQ(type, platform::kRegDword);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x00, 0x24, 0, 0}));
  ASSERT_TRUE(ReadValue(Container("alpha"), "SigExport", &type, &bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 0, 0, 0}));
  EXPECT_FALSE(ReadValue(Container("alpha"), "PukExh", &type, &bytes));

  SecretBuffer record;
  ASSERT_EQ(ReadKeyRecord(&publicRef, &record), Status::Ok);
  ASSERT_EQ(record.size(), 516u);
  EXPECT_EQ(0, std::memcmp(record.data(), publicBytes_.data(), 516));
  ASSERT_EQ(ReadKeyRecord(&privateRef, &record), Status::Ok);
  EXPECT_EQ(record.size(), 1412u);
}

TEST_F(KeyRecordStoreTest, PairTypeBitsChooseTheKind) {
  struct Case {
    uint32_t pairType;
    bool stored;
    const char* privateValue;
  };
  const Case cases[] = {{1, true, "PvkExh"},
                        {2, true, "PvkSig"},
                        {3, true, "PvkExh"},
                        {0, false, nullptr},
                        {4, false, nullptr}};
  for (const Case& c : cases) {
    const std::string name = "kind" + std::to_string(c.pairType);
    DataBlob publicRef{7, nullptr}, privateRef{7, nullptr};
    EXPECT_EQ(StoreKeyPair(name.c_str(), c.pairType, 1, &publicRecord_, &privateRecord_, &publicRef,
                           &privateRef) == Status::Ok,
              c.stored)
        << c.pairType;
    EXPECT_TRUE(KeyExists(Container(name))) << "the container key is created in any case";
    uint32_t type = 0;
    std::vector<uint8_t> bytes;
    if (c.stored) {
      EXPECT_TRUE(ReadValue(Container(name), c.privateValue, &type, &bytes));
      EXPECT_EQ(publicRef.length, 49u + name.size());
      if (c.pairType == 3) {
        EXPECT_FALSE(ReadValue(Container(name), "PvkSig", &type, &bytes));
      }
    } else {
      EXPECT_EQ(publicRef.length, 7u);
      EXPECT_FALSE(ReadValue(Container(name), "PvkSig", &type, &bytes));
      EXPECT_FALSE(ReadValue(Container(name), "PvkExh", &type, &bytes));
    }
  }
}

TEST_F(KeyRecordStoreTest, OnlyBitZeroOfExportableCounts) {
  DataBlob publicRef{0, nullptr}, privateRef{0, nullptr};
  ASSERT_EQ(Status::Ok,
            StoreKeyPair("beta", 1, 2, &publicRecord_, &privateRecord_, &publicRef, &privateRef));
  uint32_t type = 0;
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadValue(Container("beta"), "ExExport", &type, &bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0, 0, 0, 0}));
  ASSERT_TRUE(ReadValue(Container("beta"), "ExProperty", &type, &bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x00, 0xA4, 0, 0}));
}

TEST_F(KeyRecordStoreTest, ReadRefusesMissingEmptyAndMalformed) {
  WriteValue(Container("gamma"), "PukSig", platform::kRegBinary, {});
  std::string missing = Container("gamma") + "\\PvkSig";
  std::string empty = Container("gamma") + "\\PukSig";
  std::string noContainer = Container("nobody") + "\\PukSig";
  std::string unterminated = Container("gamma") + "\\PukSig";
  DataBlob refs[] = {
      {static_cast<uint32_t>(missing.size() + 1), reinterpret_cast<uint8_t*>(missing.data())},
      {static_cast<uint32_t>(empty.size() + 1), reinterpret_cast<uint8_t*>(empty.data())},
      {static_cast<uint32_t>(noContainer.size() + 1),
       reinterpret_cast<uint8_t*>(noContainer.data())},
      {static_cast<uint32_t>(unterminated.size()), reinterpret_cast<uint8_t*>(unterminated.data())},
  };
  for (const DataBlob& ref : refs) {
    SecretBuffer record(3);
    EXPECT_EQ(ReadKeyRecord(&ref, &record), Status::Failed);
    EXPECT_EQ(record.size(), 3u) << "unchanged on failure";
  }
}

TEST_F(KeyRecordStoreTest, SecondStoreOfAKindReplacesOnlyThatKind) {
  DataBlob publicRef{0, nullptr}, privateRef{0, nullptr};
  ASSERT_EQ(Status::Ok,
            StoreKeyPair("delta", 1, 1, &publicRecord_, &privateRecord_, &publicRef, &privateRef));
  ASSERT_EQ(Status::Ok,
            StoreKeyPair("delta", 2, 1, &publicRecord_, &privateRecord_, &publicRef, &privateRef));
  std::vector<uint8_t> newer(1412, 0x33);
  DataBlob newerRecord{1412, newer.data()};
  ASSERT_EQ(Status::Ok,
            StoreKeyPair("delta", 2, 1, &publicRecord_, &newerRecord, &publicRef, &privateRef));
  uint32_t type = 0;
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadValue(Container("delta"), "PvkSig", &type, &bytes));
  EXPECT_EQ(bytes, newer);
  ASSERT_TRUE(ReadValue(Container("delta"), "PvkExh", &type, &bytes));
  EXPECT_EQ(bytes, privateBytes_);
}

// A write that fails part-way through a pair (the disk full at its second
// value) leaves all four values of the pair already there, and the
// references, as they were.
TEST_F(KeyRecordStoreTest, PairWriteFailingPartWayKeepsTheOldPairWhole) {
  if (test::kWin32Backend) GTEST_SKIP() << "advapi32 writes the values one by one";
  DataBlob publicRef{0, nullptr}, privateRef{0, nullptr};
  ASSERT_EQ(Status::Ok,
            StoreKeyPair("gamma", 2, 1, &publicRecord_, &privateRecord_, &publicRef, &privateRef));
  const char* names[] = {"PvkSig", "PukSig", "SigProperty", "SigExport"};
  std::vector<uint8_t> before[4];
  for (int i = 0; i < 4; ++i)
    ASSERT_TRUE(ReadValue(Container("gamma"), names[i], nullptr, &before[i]));

  std::vector<uint8_t> newerPublic(516, 0x44), newerPrivate(1412, 0x55);
  DataBlob newerPublicRecord{516, newerPublic.data()},
      newerPrivateRecord{1412, newerPrivate.data()};
  char pub[64] = "untouched", priv[64] = "untouched";
  DataBlob newPublicRef{3, reinterpret_cast<uint8_t*>(pub)};
  DataBlob newPrivateRef{3, reinterpret_cast<uint8_t*>(priv)};
  platform::FailValueWritesForTesting(1);
  const Status stored = StoreKeyPair("gamma", 2, 0, &newerPublicRecord, &newerPrivateRecord,
                                     &newPublicRef, &newPrivateRef);
  platform::FailValueWritesForTesting(-1);
  EXPECT_EQ(stored, Status::Failed);
  EXPECT_EQ(newPublicRef.length, 3u);
  EXPECT_STREQ(pub, "untouched");
  EXPECT_STREQ(priv, "untouched");
  for (int i = 0; i < 4; ++i) {
    std::vector<uint8_t> after;
    ASSERT_TRUE(ReadValue(Container("gamma"), names[i], nullptr, &after));
    EXPECT_EQ(after, before[i]) << names[i];
  }
}

}  // namespace
}  // namespace marlinok::store
