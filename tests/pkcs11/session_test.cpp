// The general calls: the function list, C_Initialize's arguments, the slot
// and the token, sessions, login, randomness, and the answers of a
// finalized module and of bad handles and arguments.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>

#include "pkcs11/module_fixture.h"
#include "platform/registry.h"
#include "store/pin.h"

namespace marlinok::test {
namespace {

CK_UTF8CHAR_PTR Text(const char* text) {
  return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(text));
}

using SessionTest = ModuleTest;

TEST(Pkcs11FunctionList, HoldsEveryFunctionOfVersion240) {
  CK_FUNCTION_LIST* list = Module();
  EXPECT_EQ(list->version.major, 2);
  EXPECT_EQ(list->version.minor, 40);
  // Every member after the version is a function pointer.
  const auto* functions = reinterpret_cast<void* const*>(&list->C_Initialize);
  const std::size_t count =
      (sizeof *list - offsetof(CK_FUNCTION_LIST, C_Initialize)) / sizeof(void*);
  EXPECT_EQ(count, 68u);
  for (std::size_t i = 0; i < count; ++i) EXPECT_NE(functions[i], nullptr) << i;
}

struct MutexCounts {
  std::atomic<int> created{0}, locked{0}, unlocked{0}, destroyed{0};
};
MutexCounts gCounts;

CK_RV CountCreate(CK_VOID_PTR_PTR mutex) {
  ++gCounts.created;
  *mutex = new std::mutex();
  return CKR_OK;
}
CK_RV CountDestroy(CK_VOID_PTR mutex) {
  ++gCounts.destroyed;
  delete static_cast<std::mutex*>(mutex);
  return CKR_OK;
}
CK_RV CountLock(CK_VOID_PTR mutex) {
  ++gCounts.locked;
  static_cast<std::mutex*>(mutex)->lock();
  return CKR_OK;
}
CK_RV CountUnlock(CK_VOID_PTR mutex) {
  ++gCounts.unlocked;
  static_cast<std::mutex*>(mutex)->unlock();
  return CKR_OK;
}

TEST(Pkcs11Initialize, ArgumentsAsTheStandardSays) {
  TempHive hive;
  CK_FUNCTION_LIST* p11 = Module();
  int reserved = 0;
  struct Case {
    const char* what;
    CK_C_INITIALIZE_ARGS args;
    CK_RV expected;
  } cases[] = {
      {"reserved pointer set",
       {nullptr, nullptr, nullptr, nullptr, 0, &reserved},
       CKR_ARGUMENTS_BAD},
      {"some mutex callbacks only",
       {CountCreate, nullptr, CountLock, nullptr, 0, nullptr},
       CKR_ARGUMENTS_BAD},
      {"no callbacks, OS locking",
       {nullptr, nullptr, nullptr, nullptr, CKF_OS_LOCKING_OK, nullptr},
       CKR_OK},
      {"callbacks and OS locking",
       {CountCreate, CountDestroy, CountLock, CountUnlock, CKF_OS_LOCKING_OK, nullptr},
       CKR_OK},
      {"no threads made",
       {nullptr, nullptr, nullptr, nullptr, CKF_LIBRARY_CANT_CREATE_OS_THREADS, nullptr},
       CKR_OK},
  };
  for (Case& c : cases) {
    EXPECT_EQ(p11->C_Initialize(&c.args), c.expected) << c.what;
    if (c.expected == CKR_OK) {
      EXPECT_EQ(p11->C_Finalize(nullptr), CKR_OK) << c.what;
    }
  }
  EXPECT_EQ(p11->C_Initialize(nullptr), CKR_OK);
  EXPECT_EQ(p11->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
  EXPECT_EQ(p11->C_Finalize(&reserved), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_Finalize(nullptr), CKR_OK);
  EXPECT_EQ(p11->C_Finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
}

TEST(Pkcs11Initialize, UsesTheApplicationsMutexCallbacks) {
  TempHive hive;
  CK_FUNCTION_LIST* p11 = Module();
  CK_C_INITIALIZE_ARGS args{CountCreate, CountDestroy, CountLock, CountUnlock, 0, nullptr};
  gCounts.created = gCounts.locked = gCounts.unlocked = gCounts.destroyed = 0;
  ASSERT_EQ(p11->C_Initialize(&args), CKR_OK);
  CK_SESSION_HANDLE session;
  ASSERT_EQ(p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session), CKR_OK);
  EXPECT_EQ(p11->C_CloseSession(session), CKR_OK);
  EXPECT_EQ(p11->C_Finalize(nullptr), CKR_OK);
  EXPECT_EQ(gCounts.created, 1);
  EXPECT_GT(gCounts.locked, 0);
  EXPECT_EQ(gCounts.locked, gCounts.unlocked);
  EXPECT_EQ(gCounts.destroyed, 1);
}

TEST(Pkcs11Initialize, EveryCallOfAFinalizedModuleAnswersNotInitialized) {
  CK_FUNCTION_LIST* p11 = Module();
  CK_INFO info;
  CK_ULONG count = 0;
  CK_SESSION_HANDLE session;
  CK_BYTE buffer[16];
  EXPECT_EQ(p11->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_GetSlotList(CK_FALSE, nullptr, &count), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session),
            CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_CloseSession(1), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_Login(1, CKU_USER, Text(kPin), 4), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_GenerateRandom(1, buffer, sizeof buffer), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_FindObjectsInit(1, nullptr, 0), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_SignInit(1, nullptr, 1), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_WaitForSlotEvent(0, nullptr, nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
}

TEST_F(SessionTest, HandlesFromBeforeFinalizeNameNothing) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const auto [privateKey, publicKey] = GeneratePair(session, 512, "kept", {});
  ASSERT_EQ(p11()->C_Finalize(nullptr), CKR_OK);
  ASSERT_EQ(p11()->C_Initialize(nullptr), CKR_OK);
  const CK_SESSION_HANDLE next = Open(false);
  EXPECT_NE(next, session);
  CK_SESSION_INFO info;
  EXPECT_EQ(p11()->C_GetSessionInfo(session, &info), CKR_SESSION_HANDLE_INVALID);
  CK_ATTRIBUTE label{CKA_LABEL, nullptr, 0};
  EXPECT_EQ(p11()->C_GetAttributeValue(next, publicKey, &label, 1), CKR_OBJECT_HANDLE_INVALID);
  // A search hands out new handles.
  const auto found = Find(next, {});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_NE(found[0], publicKey);
  EXPECT_NE(found[0], privateKey);
}

TEST_F(SessionTest, AChildProcessStartsWithAModuleOfItsOwn) {
  const CK_SESSION_HANDLE session = Open(false);
  const pid_t child = fork();
  if (child == 0) {
    // The parent's initialization and sessions are not the child's.
    CK_SESSION_INFO info;
    const bool parentsGone =
        p11()->C_GetSessionInfo(session, &info) == CKR_CRYPTOKI_NOT_INITIALIZED;
    const bool initialized = p11()->C_Initialize(nullptr) == CKR_OK;
    CK_SESSION_HANDLE own;
    const bool opened =
        p11()->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &own) == CKR_OK;
    _exit(parentsGone && initialized && opened ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  CK_SESSION_INFO info;
  EXPECT_EQ(p11()->C_GetSessionInfo(session, &info), CKR_OK);
}

TEST_F(SessionTest, OneSlotWithATokenThatClaimsNoHardware) {
  CK_ULONG count = 0;
  EXPECT_EQ(p11()->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
  EXPECT_EQ(count, 1u);
  CK_SLOT_ID slots[2] = {99, 99};
  count = 0;
  EXPECT_EQ(p11()->C_GetSlotList(CK_TRUE, slots, &count), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(p11()->C_GetSlotList(CK_TRUE, slots, &count), CKR_OK);
  EXPECT_EQ(slots[0], 0u);
  EXPECT_EQ(p11()->C_GetSlotList(CK_TRUE, slots, nullptr), CKR_ARGUMENTS_BAD);

  CK_SLOT_INFO slot;
  ASSERT_EQ(p11()->C_GetSlotInfo(0, &slot), CKR_OK);
  EXPECT_EQ(slot.flags, static_cast<CK_FLAGS>(CKF_TOKEN_PRESENT));
  EXPECT_EQ(p11()->C_GetSlotInfo(1, &slot), CKR_SLOT_ID_INVALID);

  CK_TOKEN_INFO token;
  ASSERT_EQ(p11()->C_GetTokenInfo(0, &token), CKR_OK);
  EXPECT_EQ(token.flags,
            static_cast<CK_FLAGS>(CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED));
  EXPECT_EQ(p11()->C_GetTokenInfo(5, &token), CKR_SLOT_ID_INVALID);
  EXPECT_EQ(p11()->C_GetTokenInfo(0, nullptr), CKR_ARGUMENTS_BAD);

  CK_INFO info;
  ASSERT_EQ(p11()->C_GetInfo(&info), CKR_OK);
  EXPECT_EQ(info.cryptokiVersion.major, 2);
  EXPECT_EQ(info.cryptokiVersion.minor, 40);
}

TEST_F(SessionTest, TheSerialIsStableForAHiveAndTheSessionCountsAreTrue) {
  CK_TOKEN_INFO first, second;
  ASSERT_EQ(p11()->C_GetTokenInfo(0, &first), CKR_OK);
  Open(true);
  Open(false);
  ASSERT_EQ(p11()->C_Finalize(nullptr), CKR_OK);
  ASSERT_EQ(p11()->C_Initialize(nullptr), CKR_OK);
  const CK_SESSION_HANDLE rw = Open(true);
  Open(false);
  Open(false);
  ASSERT_EQ(p11()->C_GetTokenInfo(0, &second), CKR_OK);
  EXPECT_EQ(std::memcmp(first.serialNumber, second.serialNumber, sizeof first.serialNumber), 0);
  EXPECT_EQ(second.ulSessionCount, 3u);
  EXPECT_EQ(second.ulRwSessionCount, 1u);
  EXPECT_EQ(p11()->C_CloseSession(rw), CKR_OK);
  ASSERT_EQ(p11()->C_GetTokenInfo(0, &second), CKR_OK);
  EXPECT_EQ(second.ulRwSessionCount, 0u);
}

TEST_F(SessionTest, SessionsOpenCloseAndReportTheirState) {
  CK_SESSION_HANDLE session;
  EXPECT_EQ(p11()->C_OpenSession(0, 0, nullptr, nullptr, &session),
            CKR_SESSION_PARALLEL_NOT_SUPPORTED);
  EXPECT_EQ(p11()->C_OpenSession(3, CKF_SERIAL_SESSION, nullptr, nullptr, &session),
            CKR_SLOT_ID_INVALID);
  EXPECT_EQ(p11()->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, nullptr),
            CKR_ARGUMENTS_BAD);
  const CK_SESSION_HANDLE ro = Open(false);
  const CK_SESSION_HANDLE rw = Open(true);
  EXPECT_NE(ro, rw);
  CK_SESSION_INFO info;
  ASSERT_EQ(p11()->C_GetSessionInfo(ro, &info), CKR_OK);
  EXPECT_EQ(info.state, static_cast<CK_STATE>(CKS_RO_PUBLIC_SESSION));
  EXPECT_EQ(info.flags, static_cast<CK_FLAGS>(CKF_SERIAL_SESSION));
  ASSERT_EQ(p11()->C_GetSessionInfo(rw, &info), CKR_OK);
  EXPECT_EQ(info.state, static_cast<CK_STATE>(CKS_RW_PUBLIC_SESSION));
  EXPECT_EQ(p11()->C_GetSessionInfo(rw, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11()->C_GetSessionInfo(rw + ro + 100, &info), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(p11()->C_CloseSession(ro), CKR_OK);
  EXPECT_EQ(p11()->C_CloseSession(ro), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(p11()->C_GetSessionInfo(ro, &info), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(p11()->C_CloseAllSessions(0), CKR_OK);
  EXPECT_EQ(p11()->C_GetSessionInfo(rw, &info), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(p11()->C_CloseAllSessions(1), CKR_SLOT_ID_INVALID);
}

TEST_F(SessionTest, LoginWithoutAStoredPinAnswersPinNotInitialized) {
  const CK_SESSION_HANDLE session = Open(false);
  EXPECT_EQ(p11()->C_Login(session, CKU_USER, Text(kPin), 4), CKR_USER_PIN_NOT_INITIALIZED);
  EXPECT_EQ(p11()->C_SetPIN(session, nullptr, 0, Text(kPin), 4), CKR_SESSION_READ_ONLY);
}

TEST_F(SessionTest, SetPinStoresThePinTheTokenChecks) {
  const CK_SESSION_HANDLE session = Open(true);
  EXPECT_EQ(p11()->C_SetPIN(session, nullptr, 0, Text(""), 0), CKR_PIN_LEN_RANGE);
  EXPECT_EQ(p11()->C_SetPIN(session, nullptr, 0, Text("a\nb"), 3), CKR_PIN_INVALID);
  ASSERT_EQ(p11()->C_SetPIN(session, nullptr, 0, Text(kPin), 4), CKR_OK);
  // The same PIN the 36-call interface and the tool check.
  platform::ResetRegistryForTesting();
  EXPECT_EQ(store::CheckPin(kPin), Status::Ok);
  CK_TOKEN_INFO token;
  ASSERT_EQ(p11()->C_GetTokenInfo(0, &token), CKR_OK);
  EXPECT_NE(token.flags & CKF_USER_PIN_INITIALIZED, 0u);
  // Changing it needs the old one.
  EXPECT_EQ(p11()->C_SetPIN(session, Text("0000"), 4, Text("5678"), 4), CKR_PIN_INCORRECT);
  EXPECT_EQ(p11()->C_SetPIN(session, Text(kPin), 4, Text("5678"), 4), CKR_OK);
  EXPECT_EQ(p11()->C_Login(session, CKU_USER, Text(kPin), 4), CKR_PIN_INCORRECT);
  EXPECT_EQ(p11()->C_Login(session, CKU_USER, Text("5678"), 4), CKR_OK);
}

TEST_F(SessionTest, LoginRulesFollowTheStandard) {
  const CK_SESSION_HANDLE first = OpenWithLogin();
  const CK_SESSION_HANDLE second = Open(false);
  CK_SESSION_INFO info;
  // Login state is the application's: every session sees it.
  ASSERT_EQ(p11()->C_GetSessionInfo(second, &info), CKR_OK);
  EXPECT_EQ(info.state, static_cast<CK_STATE>(CKS_RO_USER_FUNCTIONS));
  ASSERT_EQ(p11()->C_GetSessionInfo(first, &info), CKR_OK);
  EXPECT_EQ(info.state, static_cast<CK_STATE>(CKS_RW_USER_FUNCTIONS));
  EXPECT_EQ(p11()->C_Login(second, CKU_USER, Text(kPin), 4), CKR_USER_ALREADY_LOGGED_IN);
  EXPECT_EQ(p11()->C_Login(second, CKU_SO, Text(kPin), 4), CKR_PIN_INCORRECT);
  EXPECT_EQ(p11()->C_Login(second, 7, Text(kPin), 4), CKR_USER_TYPE_INVALID);
  EXPECT_EQ(p11()->C_Login(second, CKU_USER, nullptr, 4), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11()->C_Logout(second), CKR_OK);
  EXPECT_EQ(p11()->C_Logout(second), CKR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(p11()->C_Login(second, CKU_USER, Text("12345"), 5), CKR_PIN_INCORRECT);
  // Closing the last session ends the login.
  EXPECT_EQ(p11()->C_Login(second, CKU_USER, Text(kPin), 4), CKR_OK);
  EXPECT_EQ(p11()->C_CloseSession(first), CKR_OK);
  EXPECT_EQ(p11()->C_CloseSession(second), CKR_OK);
  const CK_SESSION_HANDLE third = Open(false);
  ASSERT_EQ(p11()->C_GetSessionInfo(third, &info), CKR_OK);
  EXPECT_EQ(info.state, static_cast<CK_STATE>(CKS_RO_PUBLIC_SESSION));
}

TEST_F(SessionTest, NoSecurityOfficer) {
  const CK_SESSION_HANDLE session = Open(true);
  EXPECT_EQ(p11()->C_InitPIN(session, Text(kPin), 4), CKR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(p11()->C_InitToken(0, Text(kPin), 4, Text("label")), CKR_SESSION_EXISTS);
  ASSERT_EQ(p11()->C_CloseSession(session), CKR_OK);
  EXPECT_EQ(p11()->C_InitToken(0, Text(kPin), 4, Text("label")), CKR_PIN_INCORRECT);
}

TEST_F(SessionTest, RandomComesFromTheSystemAndChecksItsArguments) {
  const CK_SESSION_HANDLE session = Open(false);
  Bytes a(64), b(64);
  ASSERT_EQ(p11()->C_GenerateRandom(session, a.data(), a.size()), CKR_OK);
  ASSERT_EQ(p11()->C_GenerateRandom(session, b.data(), b.size()), CKR_OK);
  EXPECT_NE(a, b);
  EXPECT_NE(a, Bytes(64, 0));
  EXPECT_EQ(p11()->C_GenerateRandom(session, nullptr, 0), CKR_OK);
  EXPECT_EQ(p11()->C_GenerateRandom(session, nullptr, 8), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11()->C_GenerateRandom(session + 50, a.data(), 8), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(p11()->C_SeedRandom(session, a.data(), 8), CKR_RANDOM_SEED_NOT_SUPPORTED);
}

TEST_F(SessionTest, TheMechanismListTellsTheTruth) {
  CK_ULONG count = 0;
  ASSERT_EQ(p11()->C_GetMechanismList(0, nullptr, &count), CKR_OK);
  std::vector<CK_MECHANISM_TYPE> list(count);
  ASSERT_EQ(p11()->C_GetMechanismList(0, list.data(), &count), CKR_OK);
  struct Expected {
    CK_MECHANISM_TYPE type;
    CK_ULONG minKey, maxKey;
    CK_FLAGS flags;
  } const expected[] = {
      {CKM_RSA_PKCS_KEY_PAIR_GEN, 508, 2048, CKF_GENERATE_KEY_PAIR},
      {CKM_RSA_PKCS, 508, 2048,
       CKF_ENCRYPT | CKF_DECRYPT | CKF_SIGN | CKF_VERIFY | CKF_WRAP | CKF_UNWRAP},
      {CKM_RSA_X_509, 508, 2048, CKF_ENCRYPT | CKF_DECRYPT | CKF_SIGN | CKF_VERIFY},
      {CKM_RSA_PKCS_OAEP, 508, 2048, CKF_ENCRYPT | CKF_DECRYPT},
      {CKM_RSA_PKCS_PSS, 508, 2048, CKF_SIGN | CKF_VERIFY},
      {CKM_MD5_RSA_PKCS, 508, 2048, CKF_SIGN | CKF_VERIFY},
      {CKM_SHA1_RSA_PKCS, 508, 2048, CKF_SIGN | CKF_VERIFY},
      {CKM_SHA256_RSA_PKCS, 508, 2048, CKF_SIGN | CKF_VERIFY},
      {CKM_SHA384_RSA_PKCS, 508, 2048, CKF_SIGN | CKF_VERIFY},
      {CKM_SHA512_RSA_PKCS, 508, 2048, CKF_SIGN | CKF_VERIFY},
      {CKM_SHA256_RSA_PKCS_PSS, 508, 2048, CKF_SIGN | CKF_VERIFY},
      {CKM_SHA384_RSA_PKCS_PSS, 508, 2048, CKF_SIGN | CKF_VERIFY},
      {CKM_SHA512_RSA_PKCS_PSS, 508, 2048, CKF_SIGN | CKF_VERIFY},
      {CKM_MD5, 0, 0, CKF_DIGEST},
      {CKM_SHA_1, 0, 0, CKF_DIGEST},
      {CKM_SHA256, 0, 0, CKF_DIGEST},
      {CKM_SHA384, 0, 0, CKF_DIGEST},
      {CKM_SHA512, 0, 0, CKF_DIGEST},
      {CKM_DES3_KEY_GEN, 24, 24, CKF_GENERATE},
      {CKM_DES3_ECB, 24, 24, CKF_ENCRYPT | CKF_DECRYPT},
      {CKM_DES3_CBC, 24, 24, CKF_ENCRYPT | CKF_DECRYPT},
      {CKM_DES3_CBC_PAD, 24, 24, CKF_ENCRYPT | CKF_DECRYPT},
      {CKM_RC4_KEY_GEN, 8, 2048, CKF_GENERATE},
      {CKM_RC4, 8, 2048, CKF_ENCRYPT | CKF_DECRYPT},
  };
  for (const Expected& e : expected) {
    EXPECT_NE(std::find(list.begin(), list.end(), e.type), list.end()) << std::hex << e.type;
    CK_MECHANISM_INFO info;
    ASSERT_EQ(p11()->C_GetMechanismInfo(0, e.type, &info), CKR_OK) << std::hex << e.type;
    EXPECT_EQ(info.ulMinKeySize, e.minKey) << std::hex << e.type;
    EXPECT_EQ(info.ulMaxKeySize, e.maxKey) << std::hex << e.type;
    EXPECT_EQ(info.flags, e.flags) << std::hex << e.type;
  }
  CK_MECHANISM_INFO info;
  EXPECT_EQ(p11()->C_GetMechanismInfo(0, CKM_AES_CBC, &info), CKR_MECHANISM_INVALID);
  EXPECT_EQ(p11()->C_GetMechanismInfo(0, CKM_RSA_PKCS, nullptr), CKR_ARGUMENTS_BAD);
  count = 1;
  EXPECT_EQ(p11()->C_GetMechanismList(0, list.data(), &count), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, list.size());
}

TEST_F(SessionTest, NullArgumentsAreRefusedNeverFollowed) {
  const CK_SESSION_HANDLE session = OpenWithLogin();
  const auto pair = GeneratePair(session, 512, "args", {});
  const CK_OBJECT_HANDLE privateKey = pair.first, publicKey = pair.second;
  CK_MECHANISM sha1{CKM_SHA_1, nullptr, 0};
  CK_MECHANISM rsa{CKM_RSA_PKCS, nullptr, 0};
  CK_MECHANISM generate{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
  CK_BYTE data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  CK_OBJECT_HANDLE object;
  CK_ULONG count;
  struct Case {
    const char* call;
    std::function<CK_RV()> run;
  } const cases[] = {
      {"C_GetInfo", [&] { return p11()->C_GetInfo(nullptr); }},
      {"C_GetSlotInfo", [&] { return p11()->C_GetSlotInfo(0, nullptr); }},
      {"C_GetMechanismList", [&] { return p11()->C_GetMechanismList(0, nullptr, nullptr); }},
      {"C_GetSessionInfo", [&] { return p11()->C_GetSessionInfo(session, nullptr); }},
      {"C_CreateObject template",
       [&] { return p11()->C_CreateObject(session, nullptr, 2, &object); }},
      {"C_CreateObject handle",
       [&] { return p11()->C_CreateObject(session, nullptr, 0, nullptr); }},
      {"C_GetAttributeValue",
       [&] { return p11()->C_GetAttributeValue(session, publicKey, nullptr, 1); }},
      {"C_SetAttributeValue",
       [&] { return p11()->C_SetAttributeValue(session, publicKey, nullptr, 1); }},
      {"C_GetObjectSize", [&] { return p11()->C_GetObjectSize(session, publicKey, nullptr); }},
      {"C_FindObjectsInit", [&] { return p11()->C_FindObjectsInit(session, nullptr, 3); }},
      {"C_DigestInit", [&] { return p11()->C_DigestInit(session, nullptr); }},
      {"C_EncryptInit", [&] { return p11()->C_EncryptInit(session, nullptr, publicKey); }},
      {"C_DecryptInit", [&] { return p11()->C_DecryptInit(session, nullptr, privateKey); }},
      {"C_VerifyInit", [&] { return p11()->C_VerifyInit(session, nullptr, publicKey); }},
      {"C_GenerateKey",
       [&] { return p11()->C_GenerateKey(session, nullptr, nullptr, 0, &object); }},
      {"C_GenerateKeyPair",
       [&] {
         return p11()->C_GenerateKeyPair(session, &generate, nullptr, 0, nullptr, 0, nullptr,
                                         &object);
       }},
      {"C_WrapKey",
       [&] { return p11()->C_WrapKey(session, &rsa, publicKey, privateKey, data, nullptr); }},
      {"C_UnwrapKey",
       [&] {
         return p11()->C_UnwrapKey(session, &rsa, privateKey, nullptr, 8, nullptr, 0, &object);
       }},
      {"C_SetPIN", [&] { return p11()->C_SetPIN(session, nullptr, 4, nullptr, 4); }},
      {"C_Digest length",
       [&] {
         EXPECT_EQ(p11()->C_DigestInit(session, &sha1), CKR_OK);
         return p11()->C_Digest(session, data, 8, data, nullptr);
       }},
      {"C_Digest data",
       [&] {
         EXPECT_EQ(p11()->C_DigestInit(session, &sha1), CKR_OK);
         return p11()->C_Digest(session, nullptr, 8, data, &count);
       }},
      {"C_Verify signature",
       [&] {
         EXPECT_EQ(p11()->C_VerifyInit(session, &rsa, publicKey), CKR_OK);
         return p11()->C_Verify(session, data, 8, nullptr, 64);
       }},
  };
  for (const Case& c : cases) EXPECT_EQ(c.run(), CKR_ARGUMENTS_BAD) << c.call;
  EXPECT_EQ(p11()->C_GetFunctionList(nullptr), CKR_ARGUMENTS_BAD);
}

TEST_F(SessionTest, OperationsWithoutInitAnswerNotInitialized) {
  const CK_SESSION_HANDLE session = Open(false);
  CK_BYTE data[8] = {}, out[512];
  CK_ULONG length = sizeof out;
  EXPECT_EQ(p11()->C_Sign(session, data, 8, out, &length), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(p11()->C_SignUpdate(session, data, 8), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(p11()->C_Verify(session, data, 8, out, 8), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(p11()->C_Encrypt(session, data, 8, out, &length), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(p11()->C_Decrypt(session, data, 8, out, &length), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(p11()->C_DigestFinal(session, out, &length), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(p11()->C_FindObjects(session, nullptr, 0, &length), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(p11()->C_FindObjectsFinal(session), CKR_OPERATION_NOT_INITIALIZED);
  CK_MECHANISM mechanism{CKM_SHA256_RSA_PKCS, nullptr, 0};
  EXPECT_EQ(p11()->C_SignInit(session, &mechanism, 12345), CKR_KEY_HANDLE_INVALID);
  EXPECT_EQ(p11()->C_SignInit(session, nullptr, 12345), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11()->C_SignInit(session + 99, &mechanism, 12345), CKR_SESSION_HANDLE_INVALID);
  mechanism.mechanism = CKM_AES_ECB;
  EXPECT_EQ(p11()->C_SignInit(session, &mechanism, 12345), CKR_MECHANISM_INVALID);
}

}  // namespace
}  // namespace marlinok::test
