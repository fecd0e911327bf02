#include "store/store_enumeration.h"

#include <cstring>
#include <string>
#include <vector>

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
  // One snapshot of the names: listed one by one, a name could be skipped
  // while other processes delete containers before it.
  std::vector<std::string> subkeys;
  std::string list;
  uint32_t total = 0;
  Status result = EnumSubkeyNames(key, subkeys) == kErrorSuccess ? Status::Ok : Status::Refused;
  for (const std::string& name : subkeys) {
    if (name.size() >= kNameCapacity) {
      result = Status::Refused;
      break;
    }
    if (total != 0) list += '|';
    list += name;
    total += static_cast<uint32_t>(name.size()) + 1;
  }
  *length = total;
  if (names != nullptr && !list.empty()) std::memcpy(names, list.c_str(), list.size() + 1);
  return result;
}

}  // namespace marlinok::store
