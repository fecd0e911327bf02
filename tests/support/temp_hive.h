// A registry of the test's own. On POSIX systems: a fresh hive file in a new
// temporary folder, which MARLINOK_REGISTRY points to while the object lives;
// the folder goes with the object. On Windows the registry is the machine's
// (tests run in a throwaway Wine prefix): the object clears its scratch key
// "Software\MarlinokTests" before and after.
#ifndef MARLINOK_TESTS_SUPPORT_TEMP_HIVE_H
#define MARLINOK_TESTS_SUPPORT_TEMP_HIVE_H

#include <string>

namespace marlinok::test {

class TempHive {
 public:
  TempHive();
  ~TempHive();
  TempHive(const TempHive&) = delete;
  TempHive& operator=(const TempHive&) = delete;

  // The hive file (empty on Windows) and its folder.
  const std::string& Path() const { return path_; }
  const std::string& Folder() const { return folder_; }

  // A key path for tests to work below: "Software\MarlinokTests".
  static const char* ScratchKey() { return "Software\\MarlinokTests"; }

 private:
  std::string folder_;
  std::string path_;
  std::string savedVariable_;
  bool hadVariable_ = false;
};

}  // namespace marlinok::test

#endif
