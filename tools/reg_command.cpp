// `marlinok-tool reg`: read and change the registry the token keeps its state
// in. Key paths are relative to HKEY_LOCAL_MACHINE and backslash-separated.
// Scripts rely on the output formats:
//   keys KEYPATH             subkey names, one a line, in enumeration order
//   get KEYPATH NAME         "TYPE HEX": REG_SZ, REG_BINARY, REG_DWORD or the type
//                            number; the raw bytes in lowercase hex (empty for 0 bytes)
//   set KEYPATH NAME TYPE HEX, add KEYPATH, delete KEYPATH [NAME]: no output
//   dump [KEYPATH]           the tree, indented, values with type and a short hex
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "hive.h"
#include "platform/registry.h"

namespace marlinok::tool {
namespace {

namespace reg = marlinok::platform;

constexpr size_t kDumpHexBytes = 16;  // a dump shows this many bytes of a value

const char* TypeName(uint32_t type) {
  switch (type) {
    case reg::kRegSz:
      return "REG_SZ";
    case reg::kRegBinary:
      return "REG_BINARY";
    case reg::kRegDword:
      return "REG_DWORD";
    default:
      return nullptr;
  }
}

std::string TypeText(uint32_t type) {
  const char* name = TypeName(type);
  return name != nullptr ? name : std::to_string(type);
}

bool ParseType(const char* text, uint32_t& type) {
  for (uint32_t known : {reg::kRegSz, reg::kRegBinary, reg::kRegDword}) {
    if (std::strcmp(text, TypeName(known)) == 0) {
      type = known;
      return true;
    }
  }
  if (*text < '0' || *text > '9') return false;
  char* end = nullptr;
  const unsigned long long number = std::strtoull(text, &end, 10);
  if (*end != '\0' || number > 0xffffffffull) return false;
  type = static_cast<uint32_t>(number);
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex(const char* text, std::vector<uint8_t>& bytes) {
  const size_t length = std::strlen(text);
  if (length % 2 != 0) return false;
  bytes.clear();
  for (size_t i = 0; i < length; i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

std::string Join(const std::string& path, const std::string& name) {
  return path.empty() ? name : path + "\\" + name;
}

int RegUsageError(const std::string& why) { return UsageError(kRegCommand, why); }

int RegistryError(const char* what, const std::string& path, reg::RegStatus status) {
  std::fprintf(stderr, "marlinok-tool: reg %s %s: registry error %u\n", what, path.c_str(),
               static_cast<unsigned>(status));
  return kExitFailed;
}

int Missing(const char* what, const std::string& path) {
  std::fprintf(stderr, "marlinok-tool: no such %s: %s\n", what, path.c_str());
  return kExitMissing;
}

// Opens a key; prints why not and gives the exit status when it cannot.
int Open(const char* command, const std::string& path, reg::RegistryKey& key) {
  const reg::RegStatus status = reg::OpenKey(path.c_str(), key);
  if (status == reg::kErrorFileNotFound) return Missing("key", path);
  if (status != reg::kErrorSuccess) return RegistryError(command, path, status);
  return kExitOk;
}

// The value's type and bytes, read again if it grows between size and read.
reg::RegStatus ReadValue(const reg::RegistryKey& key, const char* name, uint32_t& type,
                         std::vector<uint8_t>& data) {
  for (;;) {
    uint32_t size = 0;
    reg::RegStatus status = reg::QueryValue(key, name, &type, nullptr, &size);
    if (status != reg::kErrorSuccess) return status;
    data.assign(size + 1, 0);  // never a null buffer, even for 0 bytes
    size = static_cast<uint32_t>(data.size());
    status = reg::QueryValue(key, name, &type, data.data(), &size);
    if (status == reg::kErrorMoreData) continue;
    if (status != reg::kErrorSuccess) return status;
    data.resize(size);
    return reg::kErrorSuccess;
  }
}

int Keys(const std::string& path) {
  reg::RegistryKey key;
  if (const int failed = Open("keys", path, key)) return failed;
  std::vector<std::string> names;
  const reg::RegStatus status = SubkeyNames(key, names);
  if (status != reg::kErrorSuccess) return RegistryError("keys", path, status);
  for (const std::string& name : names) std::printf("%s\n", name.c_str());
  return kExitOk;
}

int Get(const std::string& path, const char* name) {
  reg::RegistryKey key;
  if (const int failed = Open("get", path, key)) return failed;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  const reg::RegStatus status = ReadValue(key, name, type, data);
  if (status == reg::kErrorFileNotFound) return Missing("value", Join(path, name));
  if (status != reg::kErrorSuccess) return RegistryError("get", path, status);
  std::printf("%s %s\n", TypeText(type).c_str(), Hex(data.data(), data.size()).c_str());
  return kExitOk;
}

int Set(const std::string& path, const char* name, uint32_t type,
        const std::vector<uint8_t>& data) {
  reg::RegistryKey key;
  reg::RegStatus status = reg::CreateKey(path.c_str(), key, nullptr);
  if (status != reg::kErrorSuccess) return RegistryError("set", path, status);
  status = reg::SetValue(key, name, type, data.data(), static_cast<uint32_t>(data.size()));
  if (status != reg::kErrorSuccess) return RegistryError("set", path, status);
  return kExitOk;
}

int Add(const std::string& path) {
  reg::RegistryKey key;
  const reg::RegStatus status = reg::CreateKey(path.c_str(), key, nullptr);
  if (status != reg::kErrorSuccess) return RegistryError("add", path, status);
  return kExitOk;
}

int Delete(const std::string& path, const char* name) {
  if (name != nullptr) {
    reg::RegistryKey key;
    if (const int failed = Open("delete", path, key)) return failed;
    const reg::RegStatus status = reg::DeleteValue(key, name);
    if (status == reg::kErrorFileNotFound) return Missing("value", Join(path, name));
    if (status != reg::kErrorSuccess) return RegistryError("delete", path, status);
    return kExitOk;
  }
  const reg::RegStatus status = reg::DeleteKeyTree(path);
  if (status == reg::kErrorFileNotFound) return Missing("key", path);
  if (status != reg::kErrorSuccess) return RegistryError("delete", path, status);
  return kExitOk;
}

// Prints the values, then the subkeys, of the key at `path`, `depth` levels in.
reg::RegStatus DumpKey(const std::string& path, int depth) {
  reg::RegistryKey key;
  reg::RegStatus status = reg::OpenKey(path.c_str(), key);
  if (status != reg::kErrorSuccess) return status;
  const std::string indent(static_cast<size_t>(depth) * 2, ' ');
  std::string name;
  for (uint32_t index = 0; (status = reg::EnumValueName(key, index, name)) == reg::kErrorSuccess;
       ++index) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    status = ReadValue(key, name.c_str(), type, data);
    if (status != reg::kErrorSuccess) return status;
    const size_t shown = data.size() < kDumpHexBytes ? data.size() : kDumpHexBytes;
    std::string bytes = Hex(data.data(), shown);
    if (shown < data.size()) bytes += "... (" + std::to_string(data.size()) + " bytes)";
    if (data.empty()) bytes = "(0 bytes)";
    std::printf("%s%s = %s %s\n", indent.c_str(), name.empty() ? "(default)" : name.c_str(),
                TypeText(type).c_str(), bytes.c_str());
  }
  if (status != reg::kErrorNoMoreItems) return status;
  std::vector<std::string> names;
  status = SubkeyNames(key, names);
  if (status != reg::kErrorSuccess) return status;
  key.Close();
  for (const std::string& child : names) {
    std::printf("%s%s\\\n", indent.c_str(), child.c_str());
    status = DumpKey(Join(path, child), depth + 1);
    // A subkey that another writer removed meanwhile is simply not shown.
    if (status != reg::kErrorSuccess && status != reg::kErrorFileNotFound) return status;
  }
  return reg::kErrorSuccess;
}

int Dump(const std::string& path) {
  {
    reg::RegistryKey key;
    if (const int failed = Open("dump", path, key)) return failed;
  }
  std::printf("%s\n", path.empty() ? "HKEY_LOCAL_MACHINE" : path.c_str());
  const reg::RegStatus status = DumpKey(path, 1);
  if (status != reg::kErrorSuccess) return RegistryError("dump", path, status);
  return kExitOk;
}

int RunRegCommand(int argc, char** argv) {
  if (argc < 2) return RegUsageError("a subcommand is needed");
  const std::string command = argv[1];
  const int operands = argc - 2;
  char** operand = argv + 2;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  // Every usage error is found before the registry is touched.
  if (command == "keys" || command == "add") {
    if (operands != 1) return RegUsageError("wrong number of arguments");
  } else if (command == "get") {
    if (operands != 2) return RegUsageError("wrong number of arguments");
  } else if (command == "set") {
    // A missing HEX (an empty shell variable) is the 0-byte value.
    if (operands != 3 && operands != 4) return RegUsageError("wrong number of arguments");
    if (!ParseType(operand[2], type))
      return RegUsageError("TYPE is REG_SZ, REG_BINARY, REG_DWORD or a number");
    if (!ParseHex(operands == 4 ? operand[3] : "", data)) {
      return RegUsageError("HEX must be an even number of hex digits");
    }
  } else if (command == "delete") {
    if (operands != 1 && operands != 2) return RegUsageError("wrong number of arguments");
    if (operand[0][0] == '\0' && operands == 1) {
      return RegUsageError("HKEY_LOCAL_MACHINE itself cannot be deleted");
    }
  } else if (command == "dump") {
    if (operands > 1) return RegUsageError("wrong number of arguments");
  } else {
    return RegUsageError("unknown subcommand " + command);
  }
  if (const int failed = RequireRegistry()) return failed;
  const std::string path = operands > 0 ? operand[0] : "";
  if (command == "keys") return Keys(path);
  if (command == "get") return Get(path, operand[1]);
  if (command == "set") return Set(path, operand[1], type, data);
  if (command == "add") return Add(path);
  if (command == "delete") return Delete(path, operands == 2 ? operand[1] : nullptr);
  return Dump(path);
}

int RunReg(const Args& args) {
  std::vector<char*> argv{const_cast<char*>("reg")};
  for (const std::string& arg : args.operands) argv.push_back(const_cast<char*>(arg.c_str()));
  return RunRegCommand(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

const Command kRegCommand{
    "reg",
    "read and change the registry the token keeps its state in",
    "keys KEYPATH | get KEYPATH NAME | set KEYPATH NAME TYPE [HEX] | add KEYPATH |\n"
    "       delete KEYPATH [NAME] | dump [KEYPATH]\n"
    "  example: marlinok-tool reg dump 'Software\\Quillmar'",
    RunReg,
    {},
    true};

}  // namespace marlinok::tool
