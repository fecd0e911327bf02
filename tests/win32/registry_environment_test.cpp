// What the Win32 registry backend relies on in the test environment: HKEY_LOCAL_MACHINE is
// writable with KEY_ALL_ACCESS (a throwaway Wine prefix, or an elevated Windows session), and
// the advapi32 calls behave as the backend expects. Each test works below its own key and
// removes it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

namespace marlinok::test {
namespace {

constexpr const char* kScratch = "Software\\MarlinokTestScratch";

class RegistryEnvironment : public ::testing::Test {
 protected:
  void TearDown() override { DeleteTree(kScratch); }

  static void DeleteTree(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
      return;
    char name[256];
    DWORD length = sizeof name;
    while (RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS) {
      DeleteTree(path + "\\" + name);
      length = sizeof name;
    }
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
  }

  static HKEY Create(const std::string& path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << path;
    return key;
  }
};

TEST_F(RegistryEnvironment, LocalMachineIsWritable) {
  HKEY key = Create(kScratch);
  ASSERT_NE(key, nullptr);
  const BYTE value[] = {1, 2, 3, 0, 5};
  EXPECT_EQ(RegSetValueExA(key, "Bytes", 0, REG_BINARY, value, sizeof value), ERROR_SUCCESS);
  BYTE read[8] = {};
  DWORD type = 0, length = sizeof read;
  EXPECT_EQ(RegQueryValueExA(key, "Bytes", nullptr, &type, read, &length), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(length, sizeof value);
  EXPECT_EQ(0, std::memcmp(read, value, sizeof value));
  RegCloseKey(key);
}

// A query with a short buffer reports the size it needs and ERROR_MORE_DATA.
TEST_F(RegistryEnvironment, ShortBufferReportsTheSizeNeeded) {
  HKEY key = Create(kScratch);
  ASSERT_NE(key, nullptr);
  const BYTE value[40] = {};
  ASSERT_EQ(RegSetValueExA(key, "Pool", 0, REG_BINARY, value, sizeof value), ERROR_SUCCESS);
  BYTE read[8];
  DWORD length = sizeof read;
  EXPECT_EQ(RegQueryValueExA(key, "Pool", nullptr, nullptr, read, &length), ERROR_MORE_DATA);
  EXPECT_EQ(length, sizeof value);
  RegCloseKey(key);
}

// RegDeleteKeyA removes only a key without subkeys.
TEST_F(RegistryEnvironment, DeleteRefusesAKeyWithSubkeys) {
  HKEY parent = Create(kScratch);
  HKEY child = Create(std::string(kScratch) + "\\alpha");
  ASSERT_NE(parent, nullptr);
  ASSERT_NE(child, nullptr);
  RegCloseKey(child);
  RegCloseKey(parent);
  EXPECT_NE(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScratch), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kScratch) + "\\alpha").c_str()),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kScratch), ERROR_SUCCESS);
}

// Key and value names match without regard to case.
TEST_F(RegistryEnvironment, NamesIgnoreCase) {
  HKEY key = Create(std::string(kScratch) + "\\Alpha");
  ASSERT_NE(key, nullptr);
  const BYTE one = 1;
  ASSERT_EQ(RegSetValueExA(key, "PukSig", 0, REG_BINARY, &one, 1), ERROR_SUCCESS);
  RegCloseKey(key);
  HKEY again = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kScratch) + "\\ALPHA").c_str(), 0,
                          KEY_ALL_ACCESS, &again),
            ERROR_SUCCESS);
  DWORD length = 0;
  EXPECT_EQ(RegQueryValueExA(again, "puksig", nullptr, nullptr, nullptr, &length), ERROR_SUCCESS);
  EXPECT_EQ(length, 1u);
  RegCloseKey(again);
}

}  // namespace
}  // namespace marlinok::test
