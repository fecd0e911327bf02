// What the store relies on from the registry, checked through the platform
// layer only, so that the same file runs against the hive here and against
// advapi32 on Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/hex.h"
#include "support/temp_hive.h"

namespace marlinok::platform {
namespace {

using test::Bytes;
using test::TempHive;

class RegistrySemantics : public ::testing::Test {
 protected:
  // A path below the test's scratch key.
  static std::string At(const std::string& relative) {
    return std::string(TempHive::ScratchKey()) + "\\" + relative;
  }

  static RegistryKey Create(const std::string& path) {
    RegistryKey key;
    uint32_t disposition = 0;
    EXPECT_EQ(CreateKey(path.c_str(), key, &disposition), kErrorSuccess) << path;
    return key;
  }

  static std::vector<std::string> Subkeys(const std::string& path) {
    RegistryKey key;
    EXPECT_EQ(OpenKey(path.c_str(), key), kErrorSuccess) << path;
    std::vector<std::string> names;
    for (uint32_t index = 0;; ++index) {
      char name[kMaxKeyNameLength + 1];
      uint32_t length = sizeof name;
      const RegStatus status = EnumSubkey(key, index, name, &length);
      if (status == kErrorNoMoreItems) break;
      EXPECT_EQ(status, kErrorSuccess);
      if (status != kErrorSuccess) break;
      names.emplace_back(name, length);
    }
    return names;
  }

  static Bytes Read(const RegistryKey& key, const char* name, uint32_t* type = nullptr) {
    uint32_t size = 0;
    EXPECT_EQ(QueryValue(key, name, nullptr, nullptr, &size), kErrorSuccess) << name;
    Bytes data(size + 1, 0xa5);  // one spare byte: a string type may report more on Windows
    uint32_t capacity = static_cast<uint32_t>(data.size());
    EXPECT_EQ(QueryValue(key, name, type, data.data(), &capacity), kErrorSuccess) << name;
    data.resize(capacity);
    return data;
  }

  static void Write(const RegistryKey& key, const char* name, uint32_t type, const Bytes& data) {
    ASSERT_EQ(SetValue(key, name, type, data.data(), static_cast<uint32_t>(data.size())),
              kErrorSuccess)
        << name;
  }

  TempHive hive_;
};

// ---- create and open ------------------------------------------------------------------------

TEST_F(RegistrySemantics, CreateReportsNewKeyThenExistingKey) {
  RegistryKey first;
  uint32_t disposition = 0;
  ASSERT_EQ(CreateKey(At("alpha").c_str(), first, &disposition), kErrorSuccess);
  EXPECT_TRUE(first.IsOpen());
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  RegistryKey second;
  ASSERT_EQ(CreateKey(At("alpha").c_str(), second, &disposition), kErrorSuccess);
  EXPECT_EQ(disposition, kRegOpenedExistingKey);
}

TEST_F(RegistrySemantics, CreateMakesMissingParents) {
  RegistryKey key;
  uint32_t disposition = 0;
  ASSERT_EQ(CreateKey(At("one\\two\\three").c_str(), key, &disposition), kErrorSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  RegistryKey parent;
  EXPECT_EQ(OpenKey(At("one").c_str(), parent), kErrorSuccess);
  EXPECT_EQ(OpenKey(At("one\\two").c_str(), parent), kErrorSuccess);
  EXPECT_EQ(Subkeys(At("one\\two")), std::vector<std::string>{"three"});
}

TEST_F(RegistrySemantics, CreateOfExistingKeyBelowNewParentsReportsOnlyTheLastKey) {
  Create(At("p"));
  RegistryKey key;
  uint32_t disposition = 0;
  ASSERT_EQ(CreateKey(At("p\\q").c_str(), key, &disposition), kErrorSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
}

TEST_F(RegistrySemantics, DispositionMayBeOmitted) {
  RegistryKey key;
  EXPECT_EQ(CreateKey(At("nodisposition").c_str(), key, nullptr), kErrorSuccess);
  EXPECT_TRUE(key.IsOpen());
}

TEST_F(RegistrySemantics, OpenOfMissingKeyIsFileNotFoundAndLeavesHandleClosed) {
  RegistryKey key;
  EXPECT_EQ(OpenKey(At("missing").c_str(), key), kErrorFileNotFound);
  EXPECT_FALSE(key.IsOpen());
}

TEST_F(RegistrySemantics, OpenDoesNotCreate) {
  RegistryKey key;
  EXPECT_EQ(OpenKey(At("never\\made").c_str(), key), kErrorFileNotFound);
  EXPECT_EQ(OpenKey(At("never").c_str(), key), kErrorFileNotFound);
}

TEST_F(RegistrySemantics, OpenOfExistingKeyGivesAWorkingHandle) {
  Write(Create(At("opened")), "v", kRegDword, {1, 0, 0, 0});
  RegistryKey key;
  ASSERT_EQ(OpenKey(At("opened").c_str(), key), kErrorSuccess);
  EXPECT_EQ(Read(key, "v"), (Bytes{1, 0, 0, 0}));
}

// ---- values ---------------------------------------------------------------------------------

struct TypedValue {
  const char* name;
  uint32_t type;
  Bytes data;
};

TEST_F(RegistrySemantics, ValuesOfEveryTypeKeepTypeAndBytes) {
  const std::vector<TypedValue> values = {
      {"none", kRegNone, {0x01, 0x02}},
      {"string", kRegSz, test::FromText("1234")},  // no NUL: stored as given
      {"terminated", kRegSz, test::FromText(std::string("pin\0", 4))},
      {"expand", kRegExpandSz, test::FromText(std::string("%TEMP%\0", 7))},
      {"binary", kRegBinary, test::FromHex("00 ff 10 80 7f")},
      {"dword", kRegDword, test::FromHex("00 a4 00 00")},
      {"multi", kRegMultiSz, test::FromText(std::string("a\0bc\0\0", 6))},
      {"qword", kRegQword, test::FromHex("01 02 03 04 05 06 07 08")},
  };
  const RegistryKey key = Create(At("types"));
  for (const TypedValue& v : values) Write(key, v.name, v.type, v.data);
  for (const TypedValue& v : values) {
    uint32_t type = 0xdeadbeef;
    EXPECT_EQ(Read(key, v.name, &type), v.data) << v.name;
    EXPECT_EQ(type, v.type) << v.name;
  }
}

TEST_F(RegistrySemantics, BinaryValueKeepsEveryByteValue) {
  Bytes all(256);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i);
  Bytes record(1412);
  for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i * 7 + 3);
  const RegistryKey key = Create(At("bytes"));
  Write(key, "all", kRegBinary, all);
  Write(key, "PvkSig", kRegBinary, record);
  EXPECT_EQ(Read(key, "all"), all);
  EXPECT_EQ(Read(key, "PvkSig"), record);
}

TEST_F(RegistrySemantics, ZeroByteValuesExist) {
  const RegistryKey key = Create(At("empty"));
  ASSERT_EQ(SetValue(key, "bin", kRegBinary, nullptr, 0), kErrorSuccess);
  const uint8_t unused = 0x11;
  ASSERT_EQ(SetValue(key, "Passwd", kRegSz, &unused, 0), kErrorSuccess);
  for (const char* name : {"bin", "Passwd"}) {
    uint32_t type = 0;
    uint32_t size = 77;
    ASSERT_EQ(QueryValue(key, name, &type, nullptr, &size), kErrorSuccess) << name;
    EXPECT_EQ(size, 0u) << name;
    EXPECT_EQ(type, std::strcmp(name, "bin") == 0 ? kRegBinary : kRegSz);
    Bytes buffer(8, 0xa5);
    size = 8;
    ASSERT_EQ(QueryValue(key, name, nullptr, buffer.data(), &size), kErrorSuccess) << name;
    EXPECT_EQ(size, 0u);
  }
}

TEST_F(RegistrySemantics, SizeQueryWithNullBufferReportsByteCount) {
  const RegistryKey key = Create(At("size"));
  Write(key, "PukSig", kRegBinary, Bytes(516, 0x42));
  uint32_t type = 0;
  uint32_t size = 0;
  ASSERT_EQ(QueryValue(key, "PukSig", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(size, 516u);
  EXPECT_EQ(type, kRegBinary);
  // The size given with a null buffer is not consulted.
  size = 3;
  ASSERT_EQ(QueryValue(key, "PukSig", nullptr, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(size, 516u);
}

TEST_F(RegistrySemantics, StringSizeQueryCountsOnlyTheGivenBytes) {
  const RegistryKey key = Create(At("string"));
  Write(key, "Passwd", kRegSz, test::FromText("secret"));
  uint32_t size = 0;
  ASSERT_EQ(QueryValue(key, "Passwd", nullptr, nullptr, &size), kErrorSuccess);
#ifdef _WIN32
  EXPECT_GE(size, 6u);  // advapi32 may answer the ANSI form's upper bound
#else
  EXPECT_EQ(size, 6u);
#endif
  EXPECT_EQ(Read(key, "Passwd"), test::FromText("secret"));
}

// advapi32 on its own would also store a NUL that follows the data in memory; the layer
// stores exactly the bytes given (the PIN is written without its NUL from a C string).
TEST_F(RegistrySemantics, StringFollowedByNulInMemoryKeepsExactlyTheGivenBytes) {
  const RegistryKey key = Create(At("exactstring"));
  const char pin[] = "1234";
  ASSERT_EQ(SetValue(key, "Passwd", kRegSz, reinterpret_cast<const uint8_t*>(pin), 4),
            kErrorSuccess);
  EXPECT_EQ(Read(key, "Passwd"), test::FromText("1234"));
  const char counted[] = "5678";
  ASSERT_EQ(SetValue(key, "Counted", kRegSz, reinterpret_cast<const uint8_t*>(counted), 5),
            kErrorSuccess);
  EXPECT_EQ(Read(key, "Counted"), Bytes({'5', '6', '7', '8', 0}));
}

TEST_F(RegistrySemantics, ShortBufferGivesMoreDataWithTheNeededSize) {
  const RegistryKey key = Create(At("short"));
  const Bytes record(1412, 0x5c);
  Write(key, "PvkExh", kRegBinary, record);
  Bytes buffer(1411, 0xa5);
  uint32_t size = 1411;
  EXPECT_EQ(QueryValue(key, "PvkExh", nullptr, buffer.data(), &size), kErrorMoreData);
  EXPECT_EQ(size, 1412u);
#ifndef _WIN32
  EXPECT_EQ(buffer, Bytes(1411, 0xa5));  // the hive writes nothing on failure
#endif
}

TEST_F(RegistrySemantics, ExactAndLargerBuffersReceiveTheBytes) {
  const RegistryKey key = Create(At("exact"));
  const Bytes data = test::FromHex("0102030405");
  Write(key, "v", kRegBinary, data);
  Bytes exact(5, 0);
  uint32_t size = 5;
  ASSERT_EQ(QueryValue(key, "v", nullptr, exact.data(), &size), kErrorSuccess);
  EXPECT_EQ(exact, data);
  Bytes larger(9, 0xa5);
  size = 9;
  ASSERT_EQ(QueryValue(key, "v", nullptr, larger.data(), &size), kErrorSuccess);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(larger, test::FromHex("0102030405 a5a5a5a5"));
}

TEST_F(RegistrySemantics, BufferWithoutSizeIsInvalidParameter) {
  const RegistryKey key = Create(At("nosize"));
  Write(key, "v", kRegBinary, {1});
  uint8_t byte = 0;
  EXPECT_EQ(QueryValue(key, "v", nullptr, &byte, nullptr), kErrorInvalidParameter);
}

TEST_F(RegistrySemantics, MissingValueIsFileNotFound) {
  const RegistryKey key = Create(At("novalue"));
  uint32_t size = 9;
  EXPECT_EQ(QueryValue(key, "PukExh", nullptr, nullptr, &size), kErrorFileNotFound);
  EXPECT_EQ(size, 9u);
}

TEST_F(RegistrySemantics, SecondWriteReplacesTypeAndBytes) {
  const RegistryKey key = Create(At("overwrite"));
  Write(key, "v", kRegBinary, Bytes(1412, 1));
  Write(key, "v", kRegDword, {4, 3, 2, 1});
  uint32_t type = 0;
  EXPECT_EQ(Read(key, "v", &type), (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(type, kRegDword);
  Write(key, "v", kRegBinary, {});
  EXPECT_EQ(Read(key, "v", &type), Bytes{});
}

TEST_F(RegistrySemantics, NullAndEmptyNameAreTheDefaultValue) {
  const RegistryKey key = Create(At("default"));
  Write(key, nullptr, kRegBinary, {9, 9});
  EXPECT_EQ(Read(key, ""), (Bytes{9, 9}));
}

TEST_F(RegistrySemantics, ValuesOfOneKeyAreNotSeenFromAnother) {
  Write(Create(At("left")), "v", kRegBinary, {1});
  const RegistryKey right = Create(At("right"));
  uint32_t size = 0;
  EXPECT_EQ(QueryValue(right, "v", nullptr, nullptr, &size), kErrorFileNotFound);
}

TEST_F(RegistrySemantics, DeletedValueIsGoneAndMissingOneIsFileNotFound) {
  const RegistryKey key = Create(At("dv"));
  Write(key, "v", kRegBinary, {1});
  ASSERT_EQ(DeleteValue(key, "V"), kErrorSuccess);
  uint32_t size = 0;
  EXPECT_EQ(QueryValue(key, "v", nullptr, nullptr, &size), kErrorFileNotFound);
  EXPECT_EQ(DeleteValue(key, "v"), kErrorFileNotFound);
}

TEST_F(RegistrySemantics, ValueNamesEnumerate) {
  const RegistryKey key = Create(At("valuenames"));
  Write(key, "PvkSig", kRegBinary, {1});
  Write(key, "SigExport", kRegDword, {1, 0, 0, 0});
  std::vector<std::string> names;
  std::string name;
  for (uint32_t i = 0; EnumValueName(key, i, name) == kErrorSuccess; ++i) names.push_back(name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"PvkSig", "SigExport"}));
  EXPECT_EQ(EnumValueName(key, 2, name), kErrorNoMoreItems);
}

// ---- enumeration ----------------------------------------------------------------------------

TEST_F(RegistrySemantics, SubkeysEnumerateInCaseInsensitiveOrder) {
  for (const char* name : {"Gamma", "alpha", "delta", "Beta", "9", "10", "alphabet"}) {
    Create(At("order\\" + std::string(name)));
  }
  EXPECT_EQ(Subkeys(At("order")),
            (std::vector<std::string>{"10", "9", "alpha", "alphabet", "Beta", "delta", "Gamma"}));
}

TEST_F(RegistrySemantics, EnumerationListsDirectSubkeysOnlyAndNoValues) {
  const RegistryKey key = Create(At("direct"));
  Write(key, "Passwd", kRegSz, test::FromText("1234"));
  Create(At("direct\\child\\grandchild"));
  EXPECT_EQ(Subkeys(At("direct")), std::vector<std::string>{"child"});
}

TEST_F(RegistrySemantics, EmptyKeyEnumeratesNothing) {
  const RegistryKey key = Create(At("nokids"));
  char name[50];
  uint32_t length = sizeof name;
  EXPECT_EQ(EnumSubkey(key, 0, name, &length), kErrorNoMoreItems);
}

TEST_F(RegistrySemantics, NameLongerThanCapacityGivesMoreData) {
  const std::string name49(49, 'a');
  const std::string name50(50, 'b');
  Create(At("capacity\\" + name49));
  Create(At("capacity\\" + name50));
  RegistryKey key;
  ASSERT_EQ(OpenKey(At("capacity").c_str(), key), kErrorSuccess);
  char buffer[64];
  uint32_t length = 50;
  ASSERT_EQ(EnumSubkey(key, 0, buffer, &length), kErrorSuccess);
  EXPECT_EQ(length, 49u);
  EXPECT_EQ(std::string(buffer), name49);
  std::memset(buffer, 0xa5, sizeof buffer);
  length = 50;
  EXPECT_EQ(EnumSubkey(key, 1, buffer, &length), kErrorMoreData);
  EXPECT_EQ(static_cast<uint8_t>(buffer[0]), 0xa5);  // nothing copied on failure
  length = 51;
  ASSERT_EQ(EnumSubkey(key, 1, buffer, &length), kErrorSuccess);
  EXPECT_EQ(std::string(buffer, length), name50);
  length = 50;
  EXPECT_EQ(EnumSubkey(key, 2, buffer, &length), kErrorNoMoreItems);
}

// ---- delete ---------------------------------------------------------------------------------

TEST_F(RegistrySemantics, DeleteKeyRemovesItsValues) {
  Write(Create(At("doomed")), "PvkSig", kRegBinary, Bytes(1412, 7));
  ASSERT_EQ(DeleteKey(At("doomed").c_str()), kErrorSuccess);
  RegistryKey key;
  EXPECT_EQ(OpenKey(At("doomed").c_str(), key), kErrorFileNotFound);
  uint32_t disposition = 0;
  ASSERT_EQ(CreateKey(At("doomed").c_str(), key, &disposition), kErrorSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  uint32_t size = 0;
  EXPECT_EQ(QueryValue(key, "PvkSig", nullptr, nullptr, &size), kErrorFileNotFound);
}

TEST_F(RegistrySemantics, DeleteOfKeyWithSubkeysIsAccessDeniedAndChangesNothing) {
  Write(Create(At("parent")), "v", kRegBinary, {1});
  Create(At("parent\\child"));
  EXPECT_EQ(DeleteKey(At("parent").c_str()), kErrorAccessDenied);
  RegistryKey key;
  ASSERT_EQ(OpenKey(At("parent").c_str(), key), kErrorSuccess);
  EXPECT_EQ(Read(key, "v"), Bytes{1});
  EXPECT_EQ(Subkeys(At("parent")), std::vector<std::string>{"child"});
}

TEST_F(RegistrySemantics, DeleteOfMissingKeyIsFileNotFound) {
  EXPECT_EQ(DeleteKey(At("ghost").c_str()), kErrorFileNotFound);
}

TEST_F(RegistrySemantics, DeleteLeavesSiblingsAlone) {
  Create(At("siblings\\alpha"));
  Create(At("siblings\\beta"));
  ASSERT_EQ(DeleteKey(At("siblings\\alpha").c_str()), kErrorSuccess);
  EXPECT_EQ(Subkeys(At("siblings")), std::vector<std::string>{"beta"});
}

TEST_F(RegistrySemantics, HandleToDeletedKeyReportsKeyDeleted) {
  const RegistryKey key = Create(At("vanishing"));
  ASSERT_EQ(DeleteKey(At("vanishing").c_str()), kErrorSuccess);
  uint32_t size = 0;
  EXPECT_EQ(QueryValue(key, "v", nullptr, nullptr, &size), kErrorKeyDeleted);
  const uint8_t byte = 1;
  EXPECT_EQ(SetValue(key, "v", kRegBinary, &byte, 1), kErrorKeyDeleted);
  char name[50];
  uint32_t length = sizeof name;
  EXPECT_EQ(EnumSubkey(key, 0, name, &length), kErrorKeyDeleted);
}

TEST_F(RegistrySemantics, DeleteKeyTreeRemovesEverythingBelow) {
  Write(Create(At("tree\\a\\b")), "v", kRegBinary, {1});
  Create(At("tree\\c"));
  Create(At("keep"));
  ASSERT_EQ(DeleteKeyTree(At("tree")), kErrorSuccess);
  RegistryKey key;
  EXPECT_EQ(OpenKey(At("tree").c_str(), key), kErrorFileNotFound);
  EXPECT_EQ(OpenKey(At("keep").c_str(), key), kErrorSuccess);
  EXPECT_EQ(DeleteKeyTree(At("tree")), kErrorFileNotFound);
}

// ---- case -----------------------------------------------------------------------------------

TEST_F(RegistrySemantics, KeyNamesAreCaseInsensitive) {
  Create(At("Container"));
  RegistryKey key;
  EXPECT_EQ(OpenKey(At("CONTAINER").c_str(), key), kErrorSuccess);
  uint32_t disposition = 0;
  ASSERT_EQ(CreateKey(At("container").c_str(), key, &disposition), kErrorSuccess);
  EXPECT_EQ(disposition, kRegOpenedExistingKey);
  EXPECT_EQ(DeleteKey(At("cOnTaInEr").c_str()), kErrorSuccess);
}

TEST_F(RegistrySemantics, KeyNamesKeepTheirFirstCase) {
  Create(At("names\\MixedCase"));
  Create(At("NAMES\\mixedcase\\Child"));
  EXPECT_EQ(Subkeys(At("names")), std::vector<std::string>{"MixedCase"});
  EXPECT_EQ(Subkeys(At("Names\\MIXEDCASE")), std::vector<std::string>{"Child"});
}

TEST_F(RegistrySemantics, ValueNamesAreCaseInsensitiveAndKeepTheirFirstCase) {
  const RegistryKey key = Create(At("valuecase"));
  Write(key, "Passwd", kRegSz, test::FromText("1234"));
  EXPECT_EQ(Read(key, "PASSWD"), test::FromText("1234"));
  Write(key, "passwd", kRegSz, test::FromText("5678"));
  EXPECT_EQ(Read(key, "Passwd"), test::FromText("5678"));
  std::string name;
  ASSERT_EQ(EnumValueName(key, 0, name), kErrorSuccess);
  EXPECT_EQ(name, "Passwd");
  EXPECT_EQ(EnumValueName(key, 1, name), kErrorNoMoreItems);
}

// ---- handles --------------------------------------------------------------------------------

TEST_F(RegistrySemantics, ClosedHandleIsInvalid) {
  RegistryKey key = Create(At("closing"));
  key.Close();
  EXPECT_FALSE(key.IsOpen());
  key.Close();  // twice is harmless
  uint32_t size = 0;
  EXPECT_EQ(QueryValue(key, "v", nullptr, nullptr, &size), kErrorInvalidHandle);
  const uint8_t byte = 0;
  EXPECT_EQ(SetValue(key, "v", kRegBinary, &byte, 1), kErrorInvalidHandle);
}

TEST_F(RegistrySemantics, MovedHandleTravelsAndLeavesTheSourceClosed) {
  RegistryKey source = Create(At("moving"));
  RegistryKey target = std::move(source);
  EXPECT_FALSE(
      source.IsOpen());  // NOLINT(bugprone-use-after-move): the moved-from state is the point
  ASSERT_TRUE(target.IsOpen());
  Write(target, "v", kRegBinary, {5});
  RegistryKey other = Create(At("other"));
  other = std::move(target);
  EXPECT_EQ(Read(other, "v"), Bytes{5});
}

}  // namespace
}  // namespace marlinok::platform
