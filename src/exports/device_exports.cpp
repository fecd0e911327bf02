// The device exports: the PIN (QMCA_Login, QMCA_SetPin), four calls that only
// answer success, the store listings (QMCA_EnumCerstoreName,
// QMCA_EnumKeyContainerName) and the password-guarded key store
// (QMCA_ImportPrivateKey, QMCA_ExportPrivateKey).
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "exports/export_guard.h"
#include "marlinok.h"
#include "store/exportable_keys.h"
#include "store/pin.h"
#include "store/registry_layout.h"
#include "store/store_enumeration.h"

namespace {

using marlinok::Guarded;
using marlinok::Status;
using marlinok::ToInt;

constexpr int32_t kUserPin = 1;
constexpr int32_t kNoUser = 0;  // accepted at once, the registry untouched

// QMCA_SetPin succeeds with 1 and answers 0 when the token's root is missing.
int32_t SetPinResult(Status status) {
  switch (status) {
    case Status::Ok:
      return 1;
    case Status::StoreNotOpened:
      return 0;
    default:
      return ERR_FAILED;
  }
}

// An entry name is a C string whose length does not count its NUL: the NUL
// lies within the first length + 1 bytes, and nothing past it is read.
bool HasName(const DataBlob* entryName) {
  if (entryName == nullptr || entryName->data == nullptr) return false;
  const uint64_t span = uint64_t{entryName->length} + 1;
  return std::memchr(entryName->data, '\0',
                     static_cast<std::size_t>(std::min<uint64_t>(span, SIZE_MAX))) != nullptr;
}

}  // namespace

// 0 the PIN matches, -1 it differs or the root is missing, 1 no PIN stored.
extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_Login(int32_t userType, const char* pin) {
  if (userType != kUserPin) return userType == kNoUser ? ERR_OK : ERR_FAILED;
  if (pin == nullptr) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] { return ToInt(marlinok::store::CheckPin(pin)); });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_SetPin(int32_t userType, const char* pin) {
  if (userType != kUserPin) return userType == kNoUser ? 0 : ERR_FAILED;
  if (pin == nullptr) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] { return SetPinResult(marlinok::store::StorePin(pin)); });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_Logout(void) {
  return Guarded(ERR_OK, [] { return ERR_OK; });
}
extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_LockDevice(void) {
  return Guarded(ERR_OK, [] { return ERR_OK; });
}
extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_UnLock(uint32_t, uint32_t) {
  return Guarded(ERR_OK, [] { return ERR_OK; });
}
extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_Format(uint32_t, uint32_t) {
  return Guarded(ERR_OK, [] { return ERR_OK; });
}

// The listings fail with 1, and with 1011 when the root is missing.
extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_EnumCerstoreName(char* names, uint32_t* length) {
  using namespace marlinok::store;
  if (length == nullptr) return ERR_REFUSED;
  return Guarded(ERR_REFUSED,
                 [&] { return ToInt(EnumerateSubkeys(kCertificateStoreRoot, names, length)); });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_EnumKeyContainerName(char* names,
                                                                        uint32_t* length) {
  using namespace marlinok::store;
  if (length == nullptr) return ERR_REFUSED;
  return Guarded(ERR_REFUSED,
                 [&] { return ToInt(EnumerateSubkeys(kContainerRoot, names, length)); });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_ImportPrivateKey(const DataBlob* key,
                                                                    const uint8_t* password,
                                                                    uint32_t passwordLength,
                                                                    const DataBlob* entryName) {
  if (key == nullptr || (key->data == nullptr && key->length != 0)) return ERR_FAILED;
  if (password == nullptr && passwordLength != 0) return ERR_FAILED;
  if (!HasName(entryName)) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] {
    return ToInt(marlinok::store::ImportGuardedKey(key, password, passwordLength, entryName));
  });
}

// 0 handed out; -1 wrong password; 1 no such entry, or the buffer is null or
// too short (its length then holds the count).
extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_ExportPrivateKey(const DataBlob* entryName,
                                                                    const uint8_t* password,
                                                                    uint32_t passwordLength,
                                                                    DataBlob* key) {
  if (!HasName(entryName) || key == nullptr) return ERR_REFUSED;
  if (password == nullptr && passwordLength != 0) return ERR_REFUSED;
  return Guarded(ERR_REFUSED, [&] {
    return ToInt(marlinok::store::ExportGuardedKey(entryName, password, passwordLength, key));
  });
}
