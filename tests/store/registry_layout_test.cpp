#include "store/registry_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace marlinok::store {
namespace {

DataBlob TextBlob(std::string& text, uint32_t length) {
  return DataBlob{length, reinterpret_cast<uint8_t*>(text.data())};
}

TEST(RegistryLayoutTest, ReferenceForAlphaIsFiftyFourBytes) {
  EXPECT_EQ(KeyReferenceLength("alpha"), 54u);
  char buffer[64];
  std::memset(buffer, 0x7f, sizeof buffer);
  DataBlob ref{0, reinterpret_cast<uint8_t*>(buffer)};
  FillKeyReference(&ref, ContainerPath("alpha"), kSignaturePair.publicRecord);
  EXPECT_EQ(ref.length, 54u);
  EXPECT_STREQ(buffer, "Software\\Quillmar\\SoftContainerSimulator\\alpha\\PukSig");
  EXPECT_EQ(buffer[54], 0x7f);

  DataBlob lengthOnly{0, nullptr};
  FillKeyReference(&lengthOnly, ContainerPath("alpha"), kExchangePair.privateRecord);
  EXPECT_EQ(lengthOnly.length, 54u);
}

TEST(RegistryLayoutTest, ContainerNamesThatWouldEscapeTheirKeyAreRefused) {
  EXPECT_TRUE(IsValidContainerName("alpha"));
  EXPECT_TRUE(IsValidContainerName("a b|c"));
  EXPECT_FALSE(IsValidContainerName(""));
  EXPECT_FALSE(IsValidContainerName(nullptr));
  EXPECT_FALSE(IsValidContainerName("alpha\\beta"));
  EXPECT_FALSE(IsValidContainerName("\\"));
}

TEST(RegistryLayoutTest, SplitsAtTheLastBackslash) {
  std::string text = "Software\\Quillmar\\SoftContainerSimulator\\alpha\\PvkExh";
  text.push_back('\0');
  DataBlob ref = TextBlob(text, static_cast<uint32_t>(text.size()));
  SplitReference split;
  ASSERT_EQ(SplitKeyReference(&ref, &split), Status::Ok);
  EXPECT_EQ(split.keyPath, "Software\\Quillmar\\SoftContainerSimulator\\alpha");
  EXPECT_EQ(split.valueName, "PvkExh");
}

TEST(RegistryLayoutTest, SplitRefusesMalformedReferences) {
  SplitReference split;
  std::string noBackslash = std::string("PukSig") + '\0';
  std::string unterminated = "Software\\Quillmar\\x\\PukSig";
  std::string terminatedLate = std::string("Software\\x\\PukSig") + '\0';
  DataBlob cases[] = {
      TextBlob(noBackslash, static_cast<uint32_t>(noBackslash.size())),
      TextBlob(unterminated, static_cast<uint32_t>(unterminated.size())),
      TextBlob(terminatedLate, 5),  // the NUL lies past the stated length
      DataBlob{10, nullptr},
  };
  for (const DataBlob& ref : cases) EXPECT_EQ(SplitKeyReference(&ref, &split), Status::Failed);
  EXPECT_EQ(SplitKeyReference(nullptr, &split), Status::Failed);
}

}  // namespace
}  // namespace marlinok::store
