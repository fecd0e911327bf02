#include "store/store_enumeration.h"

#include <cstring>
#include <string>

#include "platform/registry.h"
#include "store/registry_layout.h"

namespace marlinok::store {

using namespace marlinok::platform;

namespace {

// Names are fetched into 50 characters, the NUL included: a longer name ends
// the enumeration.
constexpr uint32_t kNameCapacity = 50;

}  // namespace

// The list's length is the sum of (name length + 1), the NUL of the joined
// string included. The names collected before a failure stay with the caller,
// as the registry handed them out.
Status EnumerateSubkeys(const char* root, char* names, uint32_t* length) {
  RegistryKey key;
  if (OpenKey(root, key) != kErrorSuccess) return Status::StoreNotOpened;
  std::string list;
  uint32_t total = 0;
  Status result = Status::Ok;
  for (uint32_t index = 0;; ++index) {
    char name[kNameCapacity];
    uint32_t nameLength = kNameCapacity;
    const RegStatus status = EnumSubkey(key, index, name, &nameLength);
    if (status == kErrorNoMoreItems) break;
    if (status != kErrorSuccess) {
      result = Status::Refused;
      break;
    }
    if (index != 0) list += '|';
    list.append(name, nameLength);
    total += nameLength + 1;
  }
  *length = total;
  if (names != nullptr && !list.empty()) std::memcpy(names, list.c_str(), list.size() + 1);
  return result;
}

}  // namespace marlinok::store
