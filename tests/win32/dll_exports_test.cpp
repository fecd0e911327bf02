// The export table of marlinok.dll as a Windows program sees it: 36 plain names at fixed
// ordinals, nothing else, and the library usable at once on any thread.
#include <gtest/gtest.h>

#include <thread>

#include "loaded_library.h"
#include "marlinok.h"

namespace marlinok::test {
namespace {

struct Export {
  uint16_t ordinal;
  const char* name;
  uint32_t argumentBytes;  // stdcall argument bytes: the decoration a 32-bit image must not show
};

constexpr Export kExports[] = {
    {1, "QMCA_EnumCerstoreName", 8},
    {2, "QMCA_EnumKeyContainerName", 8},
    {3, "QMCA_ExportPrivateKey", 16},
    {4, "QMCA_Format", 8},
    {5, "QMCA_ImportPrivateKey", 16},
    {6, "QMCA_LockDevice", 0},
    {7, "QMCA_Login", 8},
    {8, "QMCA_Logout", 0},
    {9, "QMCA_SetPin", 8},
    {10, "QMCA_UnLock", 8},
    {11, "QM_AsymmetricDecrypt", 32},
    {12, "QM_AsymmetricEncrypt", 32},
    {13, "QM_AsymmetricSignData", 24},
    {14, "QM_AsymmetricVerifySign", 24},
    {15, "QM_CreateContainer", 4},
    {16, "QM_DestroyContainer", 4},
    {17, "QM_DestroyKey", 4},
    {18, "QM_Digest", 20},
    {19, "QM_DisabelPVK", 0},
    {20, "QM_EnablePVK", 0},
    {21, "QM_ExportPrivateKey", 16},
    {22, "QM_ExportPublicKey", 8},
    {23, "QM_ExportSymmetricKey", 16},
    {24, "QM_FindContainerAndKeypair", 20},
    {25, "QM_GenAsymmetricKey", 24},
    {26, "QM_GenRandom", 4},
    {27, "QM_GenSymmetricKey", 12},
    {28, "QM_GetKeyProperty", 16},
    {29, "QM_GetSupportedAlgId", 8},
    {30, "QM_ImportPrivateKey", 20},
    {31, "QM_ImportPublicKey", 12},
    {32, "QM_ImportSymmetricKey", 12},
    {33, "QM_IsPVKEnabeled", 0},
    {34, "QM_SetPVKEnabelData", 4},
    {35, "QM_SymmetricEncrypt", 36},
    {36, "QM_SymmetryDecrypt", 36},
};

TEST(DllExports, LoadingSucceeds) {
  LoadedLibrary library("marlinok.dll");
  ASSERT_NE(library.module(), nullptr) << "LoadLibrary failed: " << GetLastError();
}

TEST(DllExports, EveryNameResolvesToTheAddressOfItsOrdinal) {
  LoadedLibrary library("marlinok.dll");
  ASSERT_NE(library.module(), nullptr);
  for (const Export& e : kExports) {
    void* byName = library.Find(e.name);
    EXPECT_NE(byName, nullptr) << e.name;
    EXPECT_EQ(byName, library.Find(e.ordinal)) << e.name << " @" << e.ordinal;
  }
}

TEST(DllExports, NoOrdinalBeyondTheTable) {
  LoadedLibrary library("marlinok.dll");
  ASSERT_NE(library.module(), nullptr);
  EXPECT_EQ(library.Find(static_cast<uint16_t>(37)), nullptr);
}

TEST(DllExports, NoDecoratedNames) {
  LoadedLibrary library("marlinok.dll");
  ASSERT_NE(library.module(), nullptr);
  for (const Export& e : kExports) {
    const std::string plain = e.name;
    const std::string suffix = "@" + std::to_string(e.argumentBytes);
    EXPECT_EQ(library.Find((plain + suffix).c_str()), nullptr) << plain + suffix;
    EXPECT_EQ(library.Find(("_" + plain + suffix).c_str()), nullptr) << "_" + plain + suffix;
    EXPECT_EQ(library.Find(("_" + plain).c_str()), nullptr) << "_" + plain;
  }
}

// Process attach has run by the time LoadLibrary returns: a thread the library has never seen
// can call straight away.
TEST(DllExports, CallOnAFreshThreadWorks) {
  LoadedLibrary library("marlinok.dll");
  ASSERT_NE(library.module(), nullptr);
  auto genRandom = library.Function<int32_t(MARLINOK_CALL*)(DataBlob*)>("QM_GenRandom");
  ASSERT_NE(genRandom, nullptr);
  int32_t status = ERR_FAILED;
  uint8_t bytes[16] = {};
  std::thread caller([&] {
    DataBlob blob{sizeof bytes, bytes};
    status = genRandom(&blob);
  });
  caller.join();
  EXPECT_EQ(status, ERR_OK);
}

TEST(DllExports, LoadsAgainAfterUnloading) {
  for (int round = 0; round < 3; ++round) {
    LoadedLibrary library("marlinok.dll");
    ASSERT_NE(library.module(), nullptr) << "round " << round;
    EXPECT_NE(library.Find("QM_Digest"), nullptr);
  }
}

}  // namespace
}  // namespace marlinok::test
