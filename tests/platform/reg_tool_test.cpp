// `marlinok-tool reg`, run as scripts run it: output formats and exit statuses.
#if !defined(_WIN32) && defined(MARLINOK_TOOL)

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/temp_hive.h"

namespace marlinok::platform {
namespace {

using test::TempHive;

struct Outcome {
  int exit;
  std::string out;
  std::string err;
};

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// Runs the tool with `args`; the hive is whatever MARLINOK_REGISTRY names.
Outcome Tool(const std::vector<std::string>& args, const TempHive& hive) {
  const std::string errPath = hive.Folder() + "/stderr.txt";
  std::string command = Quoted(MARLINOK_TOOL);
  for (const std::string& arg : args) command += " " + Quoted(arg);
  command += " 2>" + Quoted(errPath);
  Outcome outcome{-1, "", ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return outcome;
  char buffer[4096];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.out.append(buffer, got);
  const int status = pclose(pipe);
  outcome.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(errPath);
  std::stringstream text;
  text << err.rdbuf();
  outcome.err = text.str();
  return outcome;
}

const char kRoot[] = "Software\\Quillmar\\SoftContainerSimulator";

class RegTool : public ::testing::Test {
 protected:
  Outcome Run(const std::vector<std::string>& args) { return Tool(args, hive_); }
  TempHive hive_;
};

TEST_F(RegTool, SetThenGetGivesTypeAndLowercaseHex) {
  ASSERT_EQ(Run({"reg", "set", kRoot, "Passwd", "REG_SZ", "31323334"}).exit, 0);
  const Outcome got = Run({"reg", "get", kRoot, "passwd"});
  EXPECT_EQ(got.exit, 0);
  EXPECT_EQ(got.out, "REG_SZ 31323334\n");
  ASSERT_EQ(Run({"reg", "set", kRoot, "Blob", "REG_BINARY", "00FFA5"}).exit, 0);
  EXPECT_EQ(Run({"reg", "get", kRoot, "Blob"}).out, "REG_BINARY 00ffa5\n");
  ASSERT_EQ(Run({"reg", "set", kRoot, "SigProperty", "REG_DWORD", "00240000"}).exit, 0);
  EXPECT_EQ(Run({"reg", "get", kRoot, "SigProperty"}).out, "REG_DWORD 00240000\n");
}

TEST_F(RegTool, OtherTypesPrintTheirNumber) {
  ASSERT_EQ(Run({"reg", "set", kRoot, "Q", "11", "0102030405060708"}).exit, 0);
  EXPECT_EQ(Run({"reg", "get", kRoot, "Q"}).out, "11 0102030405060708\n");
}

TEST_F(RegTool, ZeroByteValueHasEmptyHex) {
  ASSERT_EQ(Run({"reg", "set", kRoot, "Passwd", "REG_SZ", ""}).exit, 0);
  EXPECT_EQ(Run({"reg", "get", kRoot, "Passwd"}).out, "REG_SZ \n");
}

TEST_F(RegTool, SetCreatesMissingKeysAndTheLibrarySeesThem) {
  const std::string container = std::string(kRoot) + "\\alpha";
  ASSERT_EQ(Run({"reg", "set", container, "PukSig", "REG_BINARY", "0a0b"}).exit, 0);
  RegistryKey key;
  ASSERT_EQ(OpenKey(container.c_str(), key), kErrorSuccess);
  uint8_t data[2] = {};
  uint32_t size = sizeof data;
  uint32_t type = 0;
  ASSERT_EQ(QueryValue(key, "PukSig", &type, data, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(data[0], 0x0a);
  EXPECT_EQ(data[1], 0x0b);
}

TEST_F(RegTool, KeysListsSubkeysInEnumerationOrder) {
  for (const char* name : {"beta", "Alpha", "gamma"}) {
    ASSERT_EQ(Run({"reg", "add", std::string(kRoot) + "\\" + name}).exit, 0);
  }
  ASSERT_EQ(Run({"reg", "set", kRoot, "Passwd", "REG_SZ", "31"}).exit, 0);
  const Outcome keys = Run({"reg", "keys", kRoot});
  EXPECT_EQ(keys.exit, 0);
  EXPECT_EQ(keys.out, "Alpha\nbeta\ngamma\n");
}

TEST_F(RegTool, MissingKeyOrValueExitsTwo) {
  EXPECT_EQ(Run({"reg", "keys", "Software\\Nowhere"}).exit, 2);
  EXPECT_EQ(Run({"reg", "get", "Software\\Nowhere", "v"}).exit, 2);
  ASSERT_EQ(Run({"reg", "add", kRoot}).exit, 0);
  EXPECT_EQ(Run({"reg", "get", kRoot, "Passwd"}).exit, 2);
  EXPECT_EQ(Run({"reg", "delete", kRoot, "Passwd"}).exit, 2);
  EXPECT_EQ(Run({"reg", "delete", "Software\\Nowhere"}).exit, 2);
  EXPECT_EQ(Run({"reg", "dump", "Software\\Nowhere"}).exit, 2);
}

TEST_F(RegTool, DeleteRemovesOneValueOrTheWholeKey) {
  const std::string container = std::string(kRoot) + "\\alpha";
  ASSERT_EQ(Run({"reg", "set", container, "PukSig", "REG_BINARY", "01"}).exit, 0);
  ASSERT_EQ(Run({"reg", "set", container, "PvkSig", "REG_BINARY", "02"}).exit, 0);
  ASSERT_EQ(Run({"reg", "add", container + "\\nested\\deeper"}).exit, 0);
  EXPECT_EQ(Run({"reg", "delete", container, "PukSig"}).exit, 0);
  EXPECT_EQ(Run({"reg", "get", container, "PukSig"}).exit, 2);
  EXPECT_EQ(Run({"reg", "get", container, "PvkSig"}).out, "REG_BINARY 02\n");
  EXPECT_EQ(Run({"reg", "delete", container}).exit, 0);
  EXPECT_EQ(Run({"reg", "keys", container}).exit, 2);
  EXPECT_EQ(Run({"reg", "keys", kRoot}).out, "");
}

TEST_F(RegTool, DumpShowsTheTreeIndented) {
  const std::string container = std::string(kRoot) + "\\alpha";
  ASSERT_EQ(Run({"reg", "set", kRoot, "Passwd", "REG_SZ", "31323334"}).exit, 0);
  ASSERT_EQ(Run({"reg", "set", container, "PvkSig", "REG_BINARY", std::string(1412 * 2, 'a')}).exit,
            0);
  const Outcome dump = Run({"reg", "dump", "Software\\Quillmar"});
  EXPECT_EQ(dump.exit, 0);
  EXPECT_EQ(dump.out,
            "Software\\Quillmar\n"
            "  SoftContainerSimulator\\\n"
            "    Passwd = REG_SZ 31323334\n"
            "    alpha\\\n"
            "      PvkSig = REG_BINARY aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa... (1412 bytes)\n");
  const Outcome whole = Run({"reg", "dump"});
  EXPECT_EQ(whole.exit, 0);
  EXPECT_EQ(whole.out.rfind("HKEY_LOCAL_MACHINE\n  Software\\\n    Quillmar\\\n", 0), 0u)
      << whole.out;
}

TEST_F(RegTool, RegistryOptionChoosesTheHive) {
  const std::string other = hive_.Folder() + "/other.db";
  ASSERT_EQ(Run({"--registry", other, "reg", "add", "Software\\Elsewhere"}).exit, 0);
  EXPECT_EQ(Run({"reg", "keys", "Software\\Elsewhere"}).exit, 2);
  EXPECT_EQ(Run({"--registry=" + other, "reg", "keys", "Software"}).out, "Elsewhere\n");
}

TEST_F(RegTool, UnusableHiveExitsOneWithOneLineNamingThePath) {
  const std::string garbage = hive_.Folder() + "/garbage.db";
  std::ofstream(garbage) << std::string(2048, 'z');
  const Outcome outcome = Run({"--registry", garbage, "reg", "keys", "Software"});
  EXPECT_EQ(outcome.exit, 1);
  EXPECT_EQ(outcome.err,
            "marlinok-tool: registry " + garbage + ": the file is not an SQLite database\n");
  const std::string blocked = garbage + "/registry.db";
  const Outcome below = Run({"--registry", blocked, "reg", "add", "Software"});
  EXPECT_EQ(below.exit, 1);
  EXPECT_EQ(below.err.find("marlinok-tool: registry " + blocked + ": "), 0u) << below.err;
  EXPECT_EQ(below.err.find('\n'), below.err.size() - 1);
}

TEST_F(RegTool, UsageErrorsExit64) {
  const std::vector<std::vector<std::string>> wrong = {
      {"reg"},
      {"reg", "frobnicate"},
      {"reg", "keys"},
      {"reg", "get", kRoot},
      {"reg", "set", kRoot, "v", "REG_WHATEVER", "00"},
      {"reg", "set", kRoot, "v", "REG_BINARY", "abc"},
      {"reg", "set", kRoot, "v", "REG_BINARY", "zz"},
      {"reg", "set", kRoot, "v", "4294967296", "00"},
      {"reg", "add"},
      {"reg", "delete"},
      {"reg", "delete", ""},
      {"reg", "dump", "a", "b"},
      {"unknown-command"},
      {"--no-such-option"},
  };
  for (const auto& args : wrong) {
    const Outcome outcome = Run(args);
    EXPECT_EQ(outcome.exit, 64) << args.back();
    EXPECT_NE(outcome.err.find("usage: marlinok-tool"), std::string::npos) << args.back();
  }
  // Nothing was written by any of them.
  RegistryKey key;
  EXPECT_EQ(OpenKey(kRoot, key), kErrorFileNotFound);
}

TEST_F(RegTool, RegistryOptionWithoutCommandIsAUsageError) {
  const Outcome outcome = Run({});
  EXPECT_EQ(outcome.exit, 64);
  EXPECT_TRUE(outcome.out.empty());
}

}  // namespace
}  // namespace marlinok::platform

#endif
