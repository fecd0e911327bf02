// The registry's stamp: equal while nothing is written, different after a
// write of this process or of another one.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/registry.h"
#include "support/temp_hive.h"

namespace marlinok::platform {
namespace {

using test::TempHive;

RegistryStamp Stamp() {
  RegistryStamp stamp;
  EXPECT_TRUE(ReadRegistryStamp(stamp));
  return stamp;
}

void WriteValue(const char* name) {
  RegistryKey key;
  ASSERT_EQ(CreateKey(TempHive::ScratchKey(), key, nullptr), kErrorSuccess);
  const uint8_t byte = 1;
  ASSERT_EQ(SetValue(key, name, kRegBinary, &byte, 1), kErrorSuccess);
}

TEST(RegistryStamp, StaysWhileNothingIsWritten) {
  TempHive hive;
  WriteValue("first");
  const RegistryStamp before = Stamp();
  RegistryKey key;
  ASSERT_EQ(OpenKey(TempHive::ScratchKey(), key), kErrorSuccess);
  uint32_t size = 0;
  ASSERT_EQ(QueryValue(key, "first", nullptr, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(Stamp(), before);
}

TEST(RegistryStamp, ChangesWithAWriteOfThisProcess) {
  TempHive hive;
  WriteValue("first");
  const RegistryStamp before = Stamp();
  WriteValue("second");
  EXPECT_NE(Stamp(), before);
}

TEST(RegistryStamp, ChangesWithAWriteOfAnotherProcess) {
  TempHive hive;
  WriteValue("first");
  const RegistryStamp before = Stamp();
  const pid_t child = fork();
  if (child == 0) {
    ResetRegistryForTesting();
    RegistryKey key;
    const uint8_t byte = 2;
    const bool written = CreateKey(TempHive::ScratchKey(), key, nullptr) == kErrorSuccess &&
                         SetValue(key, "child", kRegBinary, &byte, 1) == kErrorSuccess;
    _exit(written ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(Stamp(), before);
}

TEST(RegistryStamp, DiffersBetweenHives) {
  TempHive first;
  WriteValue("value");
  const RegistryStamp before = Stamp();
  TempHive second;
  WriteValue("value");
  EXPECT_NE(Stamp(), before);
}

}  // namespace
}  // namespace marlinok::platform
