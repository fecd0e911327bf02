// The device calls: the token's one PIN, kept as the REG_SZ value Passwd of
// the container root, and four calls that only answer success. No log-in
// state is kept: no other call asks for one.
#include <cstring>

#include "core/secret_buffer.h"
#include "frame/export_guard.h"
#include "marlinok.h"
#include "platform/registry.h"
#include "store/registry_layout.h"

namespace marlinok::store {
namespace {

using namespace marlinok::platform;

constexpr int32_t kUserPin = 1;
constexpr int32_t kNoUser = 0;  // accepted at once, the registry untouched

// 0 the PIN matches, -1 it differs or the root is missing, 1 no PIN stored.
int32_t Login(const char* pin) {
  RegistryKey root;
  if (OpenKey(kContainerRoot, root) != kErrorSuccess) return ERR_FAILED;
  uint32_t size = 0;
  if (QueryValue(root, kPinValue, nullptr, nullptr, &size) != kErrorSuccess || size == 0)
    return ERR_REFUSED;
  SecretBuffer stored(size);
  uint32_t read = size;
  if (QueryValue(root, kPinValue, nullptr, stored.data(), &read) != kErrorSuccess)
    return ERR_REFUSED;
  // The stored PIN ends at its first NUL or at the end of the value.
  const auto* end = static_cast<const uint8_t*>(std::memchr(stored.data(), 0, read));
  const std::size_t storedLength =
      end != nullptr ? static_cast<std::size_t>(end - stored.data()) : read;
  const std::size_t givenLength = std::strlen(pin);
  return storedLength == givenLength && std::memcmp(stored.data(), pin, givenLength) == 0
             ? ERR_OK
             : ERR_FAILED;
}

// 1 stored, 0 the root key does not exist (it is not created here), -1 the
// write was refused.
int32_t SetPin(const char* pin) {
  RegistryKey root;
  if (OpenKey(kContainerRoot, root) != kErrorSuccess) return 0;
  const auto length = static_cast<uint32_t>(std::strlen(pin));
  if (SetValue(root, kPinValue, kRegSz, reinterpret_cast<const uint8_t*>(pin), length) !=
      kErrorSuccess)
    return ERR_FAILED;
  return 1;
}

}  // namespace
}  // namespace marlinok::store

using marlinok::Guarded;

extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_Login(int32_t userType, const char* pin) {
  using namespace marlinok::store;
  if (userType != kUserPin) return userType == kNoUser ? ERR_OK : ERR_FAILED;
  if (pin == nullptr) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] { return Login(pin); });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_SetPin(int32_t userType, const char* pin) {
  using namespace marlinok::store;
  if (userType != kUserPin) return userType == kNoUser ? 0 : ERR_FAILED;
  if (pin == nullptr) return ERR_FAILED;
  return Guarded(ERR_FAILED, [&] { return SetPin(pin); });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_Logout(void) { return ERR_OK; }
extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_LockDevice(void) { return ERR_OK; }
extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_UnLock(uint32_t, uint32_t) { return ERR_OK; }
extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_Format(uint32_t, uint32_t) { return ERR_OK; }
