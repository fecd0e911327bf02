#include <atomic>
#include <thread>
#include <vector>

#include "store/store_fixture.h"

namespace marlinok::store {
namespace {

class DeviceCallsTest : public StoreTest {
 protected:
  const std::string root_ = "Software\\Quillmar\\SoftContainerSimulator";
};

TEST_F(DeviceCallsTest, SetPinNeedsTheRootKey) {
  EXPECT_EQ(QMCA_SetPin(1, "1234"), 0);
  EXPECT_FALSE(KeyExists(root_));
  ASSERT_EQ(QM_CreateContainer("alpha"), ERR_OK);
  EXPECT_EQ(QMCA_SetPin(1, "1234"), 1);
  uint32_t type = 0;
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadValue(root_, "Passwd", &type, &bytes));
  EXPECT_EQ(type, platform::kRegSz);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{'1', '2', '3', '4'})) << "stored without a NUL";
}

TEST_F(DeviceCallsTest, LoginComparesExactly) {
  ASSERT_EQ(QM_CreateContainer("alpha"), ERR_OK);
  EXPECT_EQ(QMCA_Login(1, "1234"), ERR_REFUSED) << "no PIN stored yet";
  ASSERT_EQ(QMCA_SetPin(1, "s3cret"), 1);
  struct Case {
    const char* pin;
    int32_t expected;
  };
  const Case cases[] = {{"s3cret", ERR_OK},     {"s3cre", ERR_FAILED}, {"s3crett", ERR_FAILED},
                        {"S3cret", ERR_FAILED}, {"", ERR_FAILED},      {"s3crex", ERR_FAILED}};
  for (const Case& c : cases) EXPECT_EQ(QMCA_Login(1, c.pin), c.expected) << c.pin;
}

TEST_F(DeviceCallsTest, StoredPinEndsAtItsFirstNul) {
  WriteValue(root_, "Passwd", platform::kRegSz, {'a', 'b', 0, 'c'});
  EXPECT_EQ(QMCA_Login(1, "ab"), ERR_OK);
  EXPECT_EQ(QMCA_Login(1, "ab c"), ERR_FAILED);
}

TEST_F(DeviceCallsTest, EmptyPinCountsAsNoPin) {
  ASSERT_EQ(QM_CreateContainer("alpha"), ERR_OK);
  ASSERT_EQ(QMCA_SetPin(1, ""), 1);
  EXPECT_EQ(QMCA_Login(1, ""), ERR_REFUSED);
}

TEST_F(DeviceCallsTest, UserTypesOtherThanOne) {
  EXPECT_EQ(QMCA_Login(0, "anything"), ERR_OK);
  EXPECT_EQ(QMCA_Login(0, nullptr), ERR_OK);
  EXPECT_EQ(QMCA_Login(2, "x"), ERR_FAILED);
  EXPECT_EQ(QMCA_Login(-1, "x"), ERR_FAILED);
  EXPECT_EQ(QMCA_Login(1, "x"), ERR_FAILED) << "no root key";
  ASSERT_EQ(QM_CreateContainer("alpha"), ERR_OK);
  EXPECT_EQ(QMCA_SetPin(0, "x"), 0);
  EXPECT_EQ(QMCA_SetPin(2, "x"), ERR_FAILED);
  uint32_t type = 0;
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(ReadValue(root_, "Passwd", &type, &bytes));
  EXPECT_EQ(QMCA_SetPin(1, nullptr), ERR_FAILED);
  EXPECT_EQ(QMCA_Login(1, nullptr), ERR_FAILED);
}

TEST_F(DeviceCallsTest, TheOtherDeviceCallsChangeNothing) {
  ASSERT_EQ(QM_CreateContainer("alpha"), ERR_OK);
  ASSERT_EQ(QMCA_SetPin(1, "pin"), 1);
  EXPECT_EQ(QMCA_Logout(), ERR_OK);
  EXPECT_EQ(QMCA_LockDevice(), ERR_OK);
  EXPECT_EQ(QMCA_UnLock(1, 2), ERR_OK);
  EXPECT_EQ(QMCA_Format(3, 4), ERR_OK);
  EXPECT_TRUE(KeyExists(Container("alpha")));
  EXPECT_EQ(QMCA_Login(1, "pin"), ERR_OK);
}

// While other threads change the PIN between a short and a long one, a
// log-in sees one of the two and answers match or mismatch, never "no PIN".
TEST_F(DeviceCallsTest, LoginWhileThePinChangesNeverSaysNoPin) {
  ASSERT_EQ(QM_CreateContainer("alpha"), ERR_OK);
  ASSERT_EQ(QMCA_SetPin(1, "12"), 1);
  std::atomic<bool> stop{false};
  std::vector<std::thread> writers;
  for (int w = 0; w < 2; ++w) {
    writers.emplace_back([&stop, w] {
      for (int i = 0; !stop.load(); ++i)
        (void)QMCA_SetPin(1, (i + w) % 2 == 0 ? "12" : "1234567890123456789012345678901234567890");
    });
  }
  int missing = 0;
  for (int i = 0; i < 5000; ++i) {
    const int32_t answer = QMCA_Login(1, "12");
    if (answer == ERR_REFUSED) ++missing;
    ASSERT_TRUE(answer == ERR_OK || answer == ERR_FAILED || answer == ERR_REFUSED);
  }
  stop = true;
  for (std::thread& writer : writers) writer.join();
  EXPECT_EQ(missing, 0);
}

}  // namespace
}  // namespace marlinok::store
