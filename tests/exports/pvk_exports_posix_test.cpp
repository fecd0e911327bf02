// The PVK calls are the sibling library's own: arguments and results pass
// through unchanged.
#include <gtest/gtest.h>

#include "marlinok.h"

namespace {

TEST(PvkForwardTest, CallsReachTheSiblingLibrary) {
  EXPECT_EQ(QM_EnablePVK(), 0);
  EXPECT_EQ(QM_IsPVKEnabeled(), 1);
  EXPECT_EQ(QM_DisabelPVK(), 0);
  EXPECT_EQ(QM_IsPVKEnabeled(), 0);
  uint8_t bytes[5] = {1, 2, 3, 4, 5};
  DataBlob blob{5, bytes};
  EXPECT_EQ(QM_SetPVKEnabelData(&blob), 5);
  EXPECT_EQ(QM_SetPVKEnabelData(nullptr), 7);
}

}  // namespace
