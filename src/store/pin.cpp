#include "store/pin.h"

#include <cstring>

#include "core/constant_time.h"
#include "core/secret_buffer.h"
#include "platform/registry.h"
#include "store/registry_layout.h"
#include "store/value_reader.h"

namespace marlinok::store {

using namespace marlinok::platform;

Status CheckPin(const char* pin) {
  RegistryKey root;
  if (OpenKey(kContainerRoot, root) != kErrorSuccess) return Status::Failed;
  SecretBuffer stored;
  if (ReadWholeValue(root, kPinValue, &stored) != kErrorSuccess || stored.size() == 0)
    return Status::Refused;
  const auto* end = static_cast<const uint8_t*>(std::memchr(stored.data(), 0, stored.size()));
  const std::size_t storedLength =
      end != nullptr ? static_cast<std::size_t>(end - stored.data()) : stored.size();
  const std::size_t givenLength = std::strlen(pin);
  return storedLength == givenLength &&
                 EqualInConstantTime(stored.data(), reinterpret_cast<const uint8_t*>(pin),
                                     givenLength)
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
