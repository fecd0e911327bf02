// A fresh, empty registry for each store test, and helpers to look inside it.
#ifndef MARLINOK_TESTS_STORE_STORE_FIXTURE_H
#define MARLINOK_TESTS_STORE_STORE_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "marlinok.h"
#include "platform/registry.h"
#include "support/temp_hive.h"

namespace marlinok::store {

class StoreTest : public ::testing::Test {
 protected:
  // A fresh hive is empty; a real registry may hold an earlier test's keys.
  void SetUp() override { (void)platform::DeleteKeyTree("Software\\Quillmar"); }
  void TearDown() override { (void)platform::DeleteKeyTree("Software\\Quillmar"); }

  // The value's type and bytes; false when the key or the value is missing.
  static bool ReadValue(const std::string& keyPath, const char* name, uint32_t* type,
                        std::vector<uint8_t>* bytes) {
    platform::RegistryKey key;
    if (platform::OpenKey(keyPath.c_str(), key) != platform::kErrorSuccess) return false;
    uint32_t size = 0;
    if (platform::QueryValue(key, name, type, nullptr, &size) != platform::kErrorSuccess)
      return false;
    bytes->assign(size, 0);
    return platform::QueryValue(key, name, type, bytes->data(), &size) == platform::kErrorSuccess;
  }

  static bool KeyExists(const std::string& keyPath) {
    platform::RegistryKey key;
    return platform::OpenKey(keyPath.c_str(), key) == platform::kErrorSuccess;
  }

  static void WriteValue(const std::string& keyPath, const char* name, uint32_t type,
                         const std::vector<uint8_t>& bytes) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::CreateKey(keyPath.c_str(), key, nullptr), platform::kErrorSuccess);
    ASSERT_EQ(
        platform::SetValue(key, name, type, bytes.data(), static_cast<uint32_t>(bytes.size())),
        platform::kErrorSuccess);
  }

  static std::string Container(const std::string& name) {
    return "Software\\Quillmar\\SoftContainerSimulator\\" + name;
  }

  static std::string Text(const DataBlob& blob) {
    return std::string(reinterpret_cast<const char*>(blob.data));
  }

  test::TempHive hive_;
};

}  // namespace marlinok::store

#endif
