#include "support/temp_hive.h"

#include <cstdlib>
#include <string>

#include "platform/registry.h"

#ifndef _WIN32
#include <dirent.h>
#include <unistd.h>
#endif

namespace marlinok::test {

#ifdef _WIN32

TempHive::TempHive() { (void)platform::DeleteKeyTree(ScratchKey()); }
TempHive::~TempHive() { (void)platform::DeleteKeyTree(ScratchKey()); }

#else

namespace {

// Removes a folder with the files in it (a hive leaves at most its -wal and
// -shm files next to it; tests may add their own).
void RemoveFolder(const std::string& folder) {
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "/" + name;
      if (unlink(path.c_str()) != 0) RemoveFolder(path);
    }
    closedir(dir);
  }
  rmdir(folder.c_str());
}

}  // namespace

TempHive::TempHive() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/marlinok-hive-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) std::abort();
  folder_ = pattern;
  path_ = folder_ + "/registry.db";
  if (const char* previous = std::getenv("MARLINOK_REGISTRY")) {
    hadVariable_ = true;
    savedVariable_ = previous;
  }
  setenv("MARLINOK_REGISTRY", path_.c_str(), 1);
  platform::ResetRegistryForTesting();
}

TempHive::~TempHive() {
  platform::ResetRegistryForTesting();
  if (hadVariable_) {
    setenv("MARLINOK_REGISTRY", savedVariable_.c_str(), 1);
  } else {
    unsetenv("MARLINOK_REGISTRY");
  }
  RemoveFolder(folder_);
}

#endif

}  // namespace marlinok::test
