// The four PVK exports of marlinok.dll are forwarders: a caller lands in Holdfast.dll's own
// functions, with its arguments and results untouched.
#include <gtest/gtest.h>

#include <vector>

#include "loaded_library.h"
#include "marlinok.h"

namespace marlinok::test {
namespace {

using NoArgument = int32_t(MARLINOK_CALL*)();
using SetData = int32_t(MARLINOK_CALL*)(const DataBlob*);
using GetData = int32_t(MARLINOK_CALL*)(uint8_t*, uint32_t*);

class PvkForward : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(marlinok_.module(), nullptr) << "marlinok.dll: " << GetLastError();
    ASSERT_NE(holdfast_.module(), nullptr) << "Holdfast.dll: " << GetLastError();
    // A known state whatever an earlier test left behind.
    ASSERT_EQ(marlinok_.Function<NoArgument>("QM_DisabelPVK")(), ERR_OK);
  }

  std::vector<uint8_t> HeldData() const {
    auto get = holdfast_.Function<GetData>("StandIn_GetPVKEnabelData");
    uint32_t length = 0;
    EXPECT_EQ(get(nullptr, &length), ERR_OK);
    std::vector<uint8_t> data(length);
    EXPECT_EQ(get(data.data(), &length), ERR_OK);
    return data;
  }

  LoadedLibrary marlinok_{"marlinok.dll"};
  LoadedLibrary holdfast_{"Holdfast.dll"};
};

TEST_F(PvkForward, EachNameLeadsToHoldfastsOwnFunction) {
  for (const char* name :
       {"QM_EnablePVK", "QM_DisabelPVK", "QM_IsPVKEnabeled", "QM_SetPVKEnabelData"}) {
    void* forwarded = marlinok_.Find(name);
    EXPECT_NE(forwarded, nullptr) << name;
    EXPECT_EQ(forwarded, holdfast_.Find(name)) << name;
  }
}

TEST_F(PvkForward, EnableAndDisableReachHoldfast) {
  auto isEnabled = marlinok_.Function<NoArgument>("QM_IsPVKEnabeled");
  EXPECT_EQ(isEnabled(), 0);
  EXPECT_EQ(marlinok_.Function<NoArgument>("QM_EnablePVK")(), ERR_OK);
  EXPECT_EQ(isEnabled(), 1);
  EXPECT_EQ(holdfast_.Function<NoArgument>("QM_IsPVKEnabeled")(), 1);
  EXPECT_EQ(marlinok_.Function<NoArgument>("QM_DisabelPVK")(), ERR_OK);
  EXPECT_EQ(isEnabled(), 0);
}

TEST_F(PvkForward, DataArrivesUnchanged) {
  uint8_t bytes[] = {0x00, 0x01, 0xA5, 0xFF, 0x7E};
  DataBlob blob{sizeof bytes, bytes};
  EXPECT_EQ(marlinok_.Function<SetData>("QM_SetPVKEnabelData")(&blob), ERR_OK);
  EXPECT_EQ(HeldData(), std::vector<uint8_t>(bytes, bytes + sizeof bytes));
}

// Holdfast's own refusal comes back as it is.
TEST_F(PvkForward, HoldfastsRefusalPassesThrough) {
  EXPECT_EQ(marlinok_.Function<SetData>("QM_SetPVKEnabelData")(nullptr), ERR_FAILED);
}

}  // namespace
}  // namespace marlinok::test
