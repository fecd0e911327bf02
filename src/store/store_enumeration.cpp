// Listing the certificate stores and the containers as one "|"-joined string.
#include <cstring>
#include <string>

#include "frame/export_guard.h"
#include "marlinok.h"
#include "platform/registry.h"
#include "store/registry_layout.h"

namespace marlinok::store {
namespace {

using namespace marlinok::platform;

// Names are fetched into 50 characters, the NUL included: a longer name ends
// the enumeration.
constexpr uint32_t kNameCapacity = 50;

// The list's length is the sum of (name length + 1), the NUL of the joined
// string included. The names collected before a failure stay with the caller,
// as the registry handed them out.
int32_t EnumerateSubkeys(const char* root, char* names, uint32_t* length) {
  RegistryKey key;
  if (OpenKey(root, key) != kErrorSuccess) return ERR_STORE_NOT_OPENED;
  std::string list;
  uint32_t total = 0;
  int32_t result = ERR_OK;
  for (uint32_t index = 0;; ++index) {
    char name[kNameCapacity];
    uint32_t nameLength = kNameCapacity;
    const RegStatus status = EnumSubkey(key, index, name, &nameLength);
    if (status == kErrorNoMoreItems) break;
    if (status != kErrorSuccess) {
      result = ERR_REFUSED;
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

}  // namespace
}  // namespace marlinok::store

extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_EnumCerstoreName(char* names, uint32_t* length) {
  using namespace marlinok::store;
  if (length == nullptr) return ERR_REFUSED;
  return marlinok::Guarded(ERR_REFUSED,
                           [&] { return EnumerateSubkeys(kCertificateStoreRoot, names, length); });
}

extern "C" MARLINOK_API int32_t MARLINOK_CALL QMCA_EnumKeyContainerName(char* names,
                                                                        uint32_t* length) {
  using namespace marlinok::store;
  if (length == nullptr) return ERR_REFUSED;
  return marlinok::Guarded(ERR_REFUSED,
                           [&] { return EnumerateSubkeys(kContainerRoot, names, length); });
}
