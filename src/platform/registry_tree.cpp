// Deleting a key with everything below it, out of the plain registry calls, so
// that it behaves the same over every backend.
#include "platform/registry.h"

namespace marlinok::platform {

RegStatus DeleteKeyTree(const std::string& path) {
  RegistryKey key;
  RegStatus status = OpenKey(path.c_str(), key);
  if (status != kErrorSuccess) return status;
  const std::string prefix = path.empty() ? std::string() : path + "\\";
  // Always take subkey 0: each pass removes it, so the next one moves up.
  for (;;) {
    char name[kMaxKeyNameLength + 1];
    uint32_t length = sizeof name;
    status = EnumSubkey(key, 0, name, &length);
    if (status == kErrorNoMoreItems) break;
    if (status != kErrorSuccess) return status;
    status = DeleteKeyTree(prefix + std::string(name, length));
    // A subkey that another writer removed meanwhile is as good as deleted.
    if (status != kErrorSuccess && status != kErrorFileNotFound) return status;
  }
  key.Close();
  return DeleteKey(path.c_str());
}

}  // namespace marlinok::platform
