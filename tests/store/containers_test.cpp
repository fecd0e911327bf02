#include <cstring>

#include "store/key_record_store.h"
#include "store/store_fixture.h"

namespace marlinok::store {
namespace {

class ContainerCallsTest : public StoreTest {
 protected:
  void PlantPair(const char* name, uint32_t pairType) {
    std::vector<uint8_t> pub(516, 1), priv(1412, 2);
    DataBlob publicRecord{516, pub.data()}, privateRecord{1412, priv.data()};
    DataBlob a{0, nullptr}, b{0, nullptr};
    ASSERT_EQ(Status::Ok, StoreKeyPair(name, pairType, 1, &publicRecord, &privateRecord, &a, &b));
  }
};

TEST_F(ContainerCallsTest, CreateTwiceFailsTheSecondTime) {
  EXPECT_EQ(QM_CreateContainer("alpha"), ERR_OK);
  EXPECT_EQ(QM_CreateContainer("alpha"), ERR_FAILED);
  EXPECT_EQ(QM_CreateContainer("ALPHA"), ERR_FAILED) << "names compare without case";
  EXPECT_TRUE(KeyExists(Container("alpha")));
}

TEST_F(ContainerCallsTest, DestroyThenCreateAgain) {
  ASSERT_EQ(QM_CreateContainer("alpha"), ERR_OK);
  PlantPair("alpha", 2);
  EXPECT_EQ(QM_DestroyContainer("alpha"), ERR_OK);
  DataBlob refs[4] = {};
  EXPECT_EQ(QM_FindContainerAndKeypair("alpha", &refs[0], &refs[1], &refs[2], &refs[3]),
            ERR_FAILED);
  EXPECT_EQ(QM_DestroyContainer("alpha"), ERR_FAILED);
  EXPECT_EQ(QM_CreateContainer("alpha"), ERR_OK);
}

TEST_F(ContainerCallsTest, FindReportsOnlyCompletePairs) {
  ASSERT_EQ(QM_CreateContainer("empty"), ERR_OK);
  DataBlob refs[4] = {{9, nullptr}, {9, nullptr}, {9, nullptr}, {9, nullptr}};
  EXPECT_EQ(QM_FindContainerAndKeypair("empty", &refs[0], &refs[1], &refs[2], &refs[3]),
            ERR_FAILED);
  for (const DataBlob& ref : refs) EXPECT_EQ(ref.length, 9u);

  PlantPair("alpha", 2);
  char sigPub[64], sigPriv[64];
  DataBlob sigPublic{0, reinterpret_cast<uint8_t*>(sigPub)};
  DataBlob sigPrivate{0, reinterpret_cast<uint8_t*>(sigPriv)};
  DataBlob exPublic{0, nullptr}, exPrivate{0, nullptr};
  ASSERT_EQ(QM_FindContainerAndKeypair("alpha", &sigPublic, &sigPrivate, &exPublic, &exPrivate),
            ERR_OK);
  EXPECT_EQ(sigPublic.length, 54u);
  EXPECT_STREQ(sigPub, "Software\\Quillmar\\SoftContainerSimulator\\alpha\\PukSig");
  EXPECT_STREQ(sigPriv, "Software\\Quillmar\\SoftContainerSimulator\\alpha\\PvkSig");
  EXPECT_EQ(exPublic.length, 0u);
  EXPECT_EQ(exPrivate.length, 0u);
}

TEST_F(ContainerCallsTest, ExchangePairWithMissingOrEmptyPrivateValueIsAbsent) {
  WriteValue(Container("half"), "PukExh", platform::kRegBinary, std::vector<uint8_t>(516, 1));
  DataBlob refs[4] = {};
  EXPECT_EQ(QM_FindContainerAndKeypair("half", &refs[0], &refs[1], &refs[2], &refs[3]), ERR_FAILED);
  WriteValue(Container("half"), "PvkExh", platform::kRegBinary, {});
  EXPECT_EQ(QM_FindContainerAndKeypair("half", &refs[0], &refs[1], &refs[2], &refs[3]), ERR_FAILED);
  WriteValue(Container("half"), "PvkExh", platform::kRegBinary, std::vector<uint8_t>(1412, 2));
  EXPECT_EQ(QM_FindContainerAndKeypair("half", &refs[0], &refs[1], &refs[2], &refs[3]), ERR_OK);
  EXPECT_EQ(refs[2].length, 53u);
  EXPECT_EQ(refs[0].length, 0u);
}

TEST_F(ContainerCallsTest, NamesThatWouldEscapeTheContainerAreRefused) {
  ASSERT_EQ(QM_CreateContainer("alpha"), ERR_OK);
  QMCA_SetPin(1, "1234");
  DataBlob refs[4] = {};
  for (const char* name : {"", "alpha\\nested", "\\", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(QM_CreateContainer(name), ERR_FAILED);
    EXPECT_EQ(QM_FindContainerAndKeypair(name, &refs[0], &refs[1], &refs[2], &refs[3]), ERR_FAILED);
    EXPECT_EQ(QM_DestroyContainer(name), ERR_FAILED);
  }
  EXPECT_FALSE(KeyExists(Container("alpha\\nested")));
  EXPECT_EQ(QMCA_Login(1, "1234"), ERR_OK) << "the root and its PIN survive";
}

TEST_F(ContainerCallsTest, FindRefusesNullReferenceOfAPresentPair) {
  PlantPair("alpha", 1);
  DataBlob a{0, nullptr}, b{0, nullptr};
  EXPECT_EQ(QM_FindContainerAndKeypair("alpha", &a, &b, nullptr, &b), ERR_FAILED);
  EXPECT_EQ(QM_FindContainerAndKeypair("alpha", nullptr, nullptr, &a, &b), ERR_OK);
}

}  // namespace
}  // namespace marlinok::store
