#include "hive.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.h"

namespace marlinok::tool {
namespace {

namespace reg = marlinok::platform;

constexpr char kContainerRoot[] = "Software\\Quillmar\\SoftContainerSimulator";

// Why the hive at `location` cannot be used, as plainly as the file shows it;
// the registry layer's own words otherwise.
std::string Explain(const std::string& location, reg::RegStatus status,
                    const std::string& problem) {
#ifndef _WIN32
  struct stat info {};
  if (!location.empty() && stat(location.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return "it is a folder, not a hive file";
    if (!S_ISREG(info.st_mode)) return "it is not a regular file";
    if (access(location.c_str(), R_OK | W_OK) != 0) {
      if (errno == EROFS) return "it is on a read-only file system";
      return std::string("it cannot be read and written: ") + std::strerror(errno);
    }
    const std::size_t slash = location.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : location.substr(0, slash == 0 ? 1 : slash);
    if (access(folder.c_str(), W_OK) != 0)
      return "its folder cannot be written (the hive keeps its journal there): " +
             std::string(std::strerror(errno));
  }
#else
  (void)location;
#endif
  // An SQLite message lost on the way reads "not an error".
  if (!problem.empty() && problem != "not an error") return problem;
  switch (status) {
    case reg::kErrorBadDb:
      return "the file is damaged or is not a hive";
    case reg::kErrorAccessDenied:
      return "access denied";
    case reg::kErrorNotEnoughMemory:
      return "out of memory";
    default:
      return "the hive cannot be opened (registry error " + std::to_string(status) + ")";
  }
}

}  // namespace

int RequireRegistry() {
#ifndef _WIN32
  const char* named = std::getenv("MARLINOK_REGISTRY");
  if (named != nullptr && named[0] == '\0') {
    std::fputs(
        "marlinok-tool: MARLINOK_REGISTRY is empty: name a hive file, or unset it for the "
        "default hive\n",
        stderr);
    return kExitUsage;
  }
#endif
  std::string location, problem;
  const reg::RegStatus status = reg::ProbeRegistry(location, problem);
  if (status == reg::kErrorSuccess) return kExitOk;
  std::fprintf(stderr, "marlinok-tool: registry %s: %s\n", Printable(location).c_str(),
               Printable(Explain(location, status, problem)).c_str());
  return kExitFailed;
}

reg::RegStatus SubkeyNames(const reg::RegistryKey& key, std::vector<std::string>& names) {
  names.clear();
  for (uint32_t index = 0;; ++index) {
    char name[reg::kMaxKeyNameLength + 1];
    uint32_t length = sizeof name;
    const reg::RegStatus status = reg::EnumSubkey(key, index, name, &length);
    if (status == reg::kErrorNoMoreItems) return reg::kErrorSuccess;
    if (status != reg::kErrorSuccess) return status;
    names.emplace_back(name, length);
  }
}

bool ContainerNames(std::vector<std::string>* names, std::string* error) {
  names->clear();
  reg::RegistryKey root;
  reg::RegStatus status = reg::OpenKey(kContainerRoot, root);
  if (status == reg::kErrorFileNotFound) return true;  // no container was ever made
  if (status == reg::kErrorSuccess) status = SubkeyNames(root, *names);
  if (status != reg::kErrorSuccess) {
    *error = "cannot list the containers: registry error " + std::to_string(status);
    return false;
  }
  return true;
}

bool PairExportable(const std::string& privateRef, bool exchange, std::string* reason) {
  const std::size_t slash = privateRef.rfind('\\');
  const std::string container = privateRef.substr(0, slash == std::string::npos ? 0 : slash);
  const char* flag = exchange ? "ExExport" : "SigExport";
  reg::RegistryKey key;
  uint8_t value[4] = {};
  uint32_t size = sizeof value;
  uint32_t type = 0;
  reg::RegStatus status = reg::OpenKey(container.c_str(), key);
  if (status == reg::kErrorSuccess) status = reg::QueryValue(key, flag, &type, value, &size);
  if (status == reg::kErrorFileNotFound || status == reg::kErrorMoreData ||
      (status == reg::kErrorSuccess && (type != reg::kRegDword || size != sizeof value))) {
    *reason = std::string("the pair has no valid ") + flag + " flag: it is not exportable";
    return false;
  }
  if (status != reg::kErrorSuccess) {
    *reason = std::string("cannot read the pair's ") + flag + " flag: registry error " +
              std::to_string(status);
    return false;
  }
  if ((value[0] & 1) == 0) {
    *reason = "the pair was made non-exportable (genkey without --exportable)";
    return false;
  }
  return true;
}

}  // namespace marlinok::tool
