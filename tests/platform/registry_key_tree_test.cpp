// ReadKeyTree: a key and its subkeys to a depth, with their values, the
// bytes only of the values the filter wants.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/registry.h"
#include "support/temp_hive.h"

namespace marlinok::platform {
namespace {

using test::TempHive;

std::string Below(const char* relative) {
  return std::string(TempHive::ScratchKey()) + "\\" + relative;
}

void Write(const std::string& path, const char* name, const std::string& bytes) {
  RegistryKey key;
  ASSERT_EQ(CreateKey(path.c_str(), key, nullptr), kErrorSuccess);
  ASSERT_EQ(SetValue(key, name, kRegBinary, reinterpret_cast<const uint8_t*>(bytes.data()),
                     static_cast<uint32_t>(bytes.size())),
            kErrorSuccess);
}

bool WantsPublic(const std::string& name) { return name.rfind("Pub", 0) == 0; }

TEST(ReadKeyTree, ReadsKeysToTheDepthWithTheWantedBytes) {
  TempHive hive;
  Write(Below("tree"), "PubRoot", "r");
  Write(Below("tree\\a"), "PubA", "alpha");
  Write(Below("tree\\a"), "Secret", "hidden");
  Write(Below("tree\\b"), "PubB", "");
  Write(Below("tree\\a\\deep"), "PubDeep", "d");
  Write(Below("tree\\a\\deep\\deeper"), "PubDeeper", "x");

  std::vector<TreeKey> keys;
  ASSERT_EQ(ReadKeyTree(Below("tree").c_str(), 2, WantsPublic, keys), kErrorSuccess);
  std::map<std::string, std::map<std::string, TreeValue>> byPath;
  for (const TreeKey& key : keys)
    for (const TreeValue& value : key.values) byPath[key.path][value.name] = value;
  ASSERT_EQ(keys.size(), 4u);  // tree, a, b, a\deep; not a\deep\deeper
  EXPECT_EQ(byPath.count("a\\deep\\deeper"), 0u);
  EXPECT_EQ(byPath[""]["PubRoot"].data, std::vector<uint8_t>{'r'});
  EXPECT_EQ(byPath["a"]["PubA"].data, (std::vector<uint8_t>{'a', 'l', 'p', 'h', 'a'}));
  EXPECT_EQ(byPath["a"]["PubA"].type, kRegBinary);
  // Unwanted bytes are not read, but their size is told.
  EXPECT_TRUE(byPath["a"]["Secret"].data.empty());
  EXPECT_EQ(byPath["a"]["Secret"].size, 6u);
  EXPECT_EQ(byPath["b"]["PubB"].size, 0u);
  EXPECT_EQ(byPath["a\\deep"]["PubDeep"].data, std::vector<uint8_t>{'d'});

  ASSERT_EQ(ReadKeyTree(Below("tree").c_str(), 0, nullptr, keys), kErrorSuccess);
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].path, "");
  ASSERT_EQ(keys[0].values.size(), 1u);
  EXPECT_TRUE(keys[0].values[0].data.empty());
}

TEST(ReadKeyTree, AMissingKeyIsNotFound) {
  TempHive hive;
  std::vector<TreeKey> keys;
  EXPECT_EQ(ReadKeyTree(Below("absent").c_str(), 1, nullptr, keys), kErrorFileNotFound);
}

}  // namespace
}  // namespace marlinok::platform
