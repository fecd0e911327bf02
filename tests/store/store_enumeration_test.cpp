#include <cstring>

#include "store/store_fixture.h"

namespace marlinok::store {
namespace {

class StoreEnumerationTest : public StoreTest {
 protected:
  // Size call, then fill call into a buffer of exactly that size.
  int32_t List(int32_t(MARLINOK_CALL* call)(char*, uint32_t*), std::string* names) {
    uint32_t length = 12345;
    int32_t status = call(nullptr, &length);
    if (status != ERR_OK) return status;
    std::vector<char> buffer(length + 1, '#');
    uint32_t filled = 0;
    status = call(buffer.data(), &filled);
    EXPECT_EQ(filled, length);
    EXPECT_EQ(buffer[length], '#') << "nothing written past the reported length";
    *names = length == 0 ? "" : std::string(buffer.data());
    return status;
  }
};

TEST_F(StoreEnumerationTest, ContainersJoinedInRegistryOrder) {
  for (const char* name : {"beta", "alpha", "Gamma"}) ASSERT_EQ(QM_CreateContainer(name), ERR_OK);
  ASSERT_EQ(QMCA_SetPin(1, "1234"), 1);  // a value, never listed
  std::string names;
  ASSERT_EQ(List(&QMCA_EnumKeyContainerName, &names), ERR_OK);
  EXPECT_EQ(names, "alpha|beta|Gamma");
}

TEST_F(StoreEnumerationTest, TwoContainersGiveLengthEleven) {
  ASSERT_EQ(QM_CreateContainer("alpha"), ERR_OK);
  ASSERT_EQ(QM_CreateContainer("beta"), ERR_OK);
  uint32_t length = 0;
  ASSERT_EQ(QMCA_EnumKeyContainerName(nullptr, &length), ERR_OK);
  EXPECT_EQ(length, 11u);
  char buffer[11];
  ASSERT_EQ(QMCA_EnumKeyContainerName(buffer, &length), ERR_OK);
  EXPECT_EQ(std::string(buffer, 11), std::string("alpha|beta\0", 11));
}

TEST_F(StoreEnumerationTest, EmptyRootGivesZeroAndWritesNothing) {
  ASSERT_EQ(QM_CreateContainer("alpha"), ERR_OK);
  ASSERT_EQ(QM_DestroyContainer("alpha"), ERR_OK);
  char buffer[4] = {'#', '#', '#', '#'};
  uint32_t length = 99;
  ASSERT_EQ(QMCA_EnumKeyContainerName(buffer, &length), ERR_OK);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(buffer[0], '#');
}

TEST_F(StoreEnumerationTest, NameOfFiftyCharactersEndsTheList) {
  const std::string name49(49, 'm');
  const std::string name50(50, 'z');  // sorts last
  ASSERT_EQ(QM_CreateContainer("alpha"), ERR_OK);
  ASSERT_EQ(QM_CreateContainer(name49.c_str()), ERR_OK);
  uint32_t length = 0;
  ASSERT_EQ(QMCA_EnumKeyContainerName(nullptr, &length), ERR_OK);
  EXPECT_EQ(length, 6u + 50u);

  ASSERT_EQ(QM_CreateContainer(name50.c_str()), ERR_OK);
  std::vector<char> buffer(200, '#');
  EXPECT_EQ(QMCA_EnumKeyContainerName(buffer.data(), &length), ERR_REFUSED);
  EXPECT_EQ(length, 56u) << "the names before the long one are kept";
  EXPECT_EQ(std::string(buffer.data()), "alpha|" + name49);
}

TEST_F(StoreEnumerationTest, MissingRootsAnswer1011AndLeaveLengthAlone) {
  uint32_t length = 77;
  EXPECT_EQ(QMCA_EnumCerstoreName(nullptr, &length), ERR_STORE_NOT_OPENED);
  EXPECT_EQ(length, 77u);
  EXPECT_EQ(QMCA_EnumKeyContainerName(nullptr, &length), ERR_STORE_NOT_OPENED);
  EXPECT_EQ(length, 77u);
  EXPECT_EQ(QMCA_EnumKeyContainerName(nullptr, nullptr), ERR_REFUSED);
}

TEST_F(StoreEnumerationTest, CertificateStoresAreListedFromTheirOwnRoot) {
  WriteValue("Software\\Quillmar\\SoftStoreSimulator\\My", "x", platform::kRegDword, {0, 0, 0, 0});
  WriteValue("Software\\Quillmar\\SoftStoreSimulator\\Root", "x", platform::kRegDword,
             {0, 0, 0, 0});
  std::string names;
  ASSERT_EQ(List(&QMCA_EnumCerstoreName, &names), ERR_OK);
  EXPECT_EQ(names, "My|Root");
}

}  // namespace
}  // namespace marlinok::store
