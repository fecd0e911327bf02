// Unloading the shared library gives back the hive connection it opened:
// nothing of the hive stays open in the process after dlclose.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "marlinok.h"
#include "support/temp_hive.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace marlinok::stress {
namespace {

// Open descriptors of this process that lead into `folder`.
int DescriptorsInto(const std::string& folder) {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(dir)) {
      const std::string link = std::string("/proc/self/fd/") + entry->d_name;
      char target[PATH_MAX] = {};
      const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
      if (n > 0 && std::string(target, static_cast<std::size_t>(n)).rfind(folder, 0) == 0) ++count;
    }
    closedir(dir);
  }
  return count;
}

TEST(LibraryUnload, ClosesTheHiveConnection) {
  test::TempHive hive;
#if defined(__SANITIZE_ADDRESS__)
  // The three library locks live as long as the library is mapped and are
  // never deleted, by design: after dlclose the leak checker would count them.
  __lsan::ScopedDisabler locksAreKept;
#endif
  void* library = dlopen(MARLINOK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  using CreateContainer = int32_t (*)(const char*);
  auto create = reinterpret_cast<CreateContainer>(dlsym(library, "QM_CreateContainer"));
  ASSERT_NE(create, nullptr);
  ASSERT_EQ(create("unload"), ERR_OK);
  EXPECT_GT(DescriptorsInto(hive.Folder()), 0);  // the hive is open while loaded
  ASSERT_EQ(dlclose(library), 0);
  EXPECT_EQ(DescriptorsInto(hive.Folder()), 0);
}

}  // namespace
}  // namespace marlinok::stress
