#include "store/pin.h"

#include <cstring>

#include "core/secret_buffer.h"
#include "platform/registry.h"
#include "store/registry_layout.h"

namespace marlinok::store {

using namespace marlinok::platform;

Status CheckPin(const char* pin) {
  RegistryKey root;
  if (OpenKey(kContainerRoot, root) != kErrorSuccess) return Status::Failed;
  uint32_t size = 0;
  if (QueryValue(root, kPinValue, nullptr, nullptr, &size) != kErrorSuccess || size == 0)
    return Status::Refused;
  SecretBuffer stored(size);
  uint32_t read = size;
  if (QueryValue(root, kPinValue, nullptr, stored.data(), &read) != kErrorSuccess)
    return Status::Refused;
  const auto* end = static_cast<const uint8_t*>(std::memchr(stored.data(), 0, read));
  const std::size_t storedLength =
      end != nullptr ? static_cast<std::size_t>(end - stored.data()) : read;
  const std::size_t givenLength = std::strlen(pin);
  return storedLength == givenLength && std::memcmp(stored.data(), pin, givenLength) == 0
             ? Status::Ok
             : Status::Failed;
}

Status StorePin(const char* pin) {
  RegistryKey root;
  if (OpenKey(kContainerRoot, root) != kErrorSuccess) return Status::StoreNotOpened;
  const auto length = static_cast<uint32_t>(std::strlen(pin));
  if (SetValue(root, kPinValue, kRegSz, reinterpret_cast<const uint8_t*>(pin), length) !=
      kErrorSuccess)
    return Status::Failed;
  return Status::Ok;
}

}  // namespace marlinok::store
