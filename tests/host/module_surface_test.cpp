// The built module as a host sees it: its dynamic symbol table, the exports
// through LoadLibraryA/GetProcAddress, the per-thread request variables, and
// prhost's commands.
#include <sys/wait.h>

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/kernel.h"
#include "tests/host/elf_exports.h"

namespace {
const std::string kModulePath = std::string(PR_BINARY_DIR) + "/PR_DLL.so";
const std::string kHostPath = std::string(PR_BINARY_DIR) + "/prhost";

TEST(ModuleSurface, DynamicSymbolTableHoldsExactlyTheExports) {
  std::string error;
  std::vector<DynamicSymbol> symbols = ReadDynamicSymbols(kModulePath, &error);
  ASSERT_FALSE(symbols.empty()) << error;
  std::set<std::string> exported;
  for (const DynamicSymbol& s : symbols) {
    if (s.isVersionNode) continue;
    exported.insert(s.name + (s.hidden ? "@" : "@@") + s.version);
  }
  const std::set<std::string> expected = {
      "ADD_PARTNER@@PR_DLL",     "BROWSE@@PR_DLL",      "F_BROWSE@@F",        "$GlobalRequest@@PR_DLL",
      "$GlobalResponse@@PR_DLL", "$VCRRequest@@PR_DLL", "$Lang_INI@@PR_DLL",
  };
  std::vector<std::string> missing, extra;
  std::set_difference(expected.begin(), expected.end(), exported.begin(), exported.end(), std::back_inserter(missing));
  std::set_difference(exported.begin(), exported.end(), expected.begin(), expected.end(), std::back_inserter(extra));
  EXPECT_TRUE(missing.empty()) << "missing: " << ::testing::PrintToString(missing);
  EXPECT_TRUE(extra.empty()) << "extra: " << ::testing::PrintToString(extra);
}

TEST(ModuleSurface, ElfReaderRefusesOtherFiles) {
  std::string error;
  EXPECT_TRUE(ReadDynamicSymbols(std::string(PR_SOURCE_DIR) + "/README.md", &error).empty());
  EXPECT_FALSE(error.empty());
}

class LoadedModule : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { module_ = LoadLibraryA(kModulePath.c_str()); }
  static HMODULE module_;
};
HMODULE LoadedModule::module_ = nullptr;

TEST_F(LoadedModule, EveryExportResolves) {
  ASSERT_NE(module_, nullptr) << "error " << GetLastError();
  for (const char* name : {"ADD_PARTNER", "BROWSE", "F_BROWSE@F"}) {
    EXPECT_NE(GetProcAddress(module_, name), nullptr) << name;
  }
  for (const char* name : {"$GlobalRequest", "$GlobalResponse", "$VCRRequest", "$Lang_INI"}) {
    EXPECT_NE(GetProcAddressData(module_, name), nullptr) << name;
  }
  // F_BROWSE lives in version node F only; nothing internal is reachable.
  EXPECT_EQ(GetProcAddress(module_, "F_BROWSE@PR_DLL"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(GetProcAddressData(module_, "PrThreadBlock"), nullptr);
  // Found by its module name too, in any case, and its file is the one loaded.
  EXPECT_EQ(GetModuleHandleA("pr_dll"), module_);
  EXPECT_EQ(GetModuleHandleA("PR_DLL.dll"), module_);
  char path[1024];
  ASSERT_GT(GetModuleFileNameA(module_, path, sizeof path), 0u);
  char expected[1024];
  ASSERT_NE(realpath(kModulePath.c_str(), expected), nullptr);
  char actual[1024];
  ASSERT_NE(realpath(path, actual), nullptr);
  EXPECT_STREQ(actual, expected);
}

TEST_F(LoadedModule, LangIniIsTheTwentyByteText) {
  ASSERT_NE(module_, nullptr);
  const char* text = static_cast<const char*>(GetProcAddressData(module_, "$Lang_INI"));
  ASSERT_NE(text, nullptr);
  const char expected[20] = ".\\Lang.INI";
  EXPECT_EQ(std::memcmp(text, expected, 20), 0);
}

TEST_F(LoadedModule, EachThreadHasItsOwnRequestVariables) {
  ASSERT_NE(module_, nullptr);
  const char* names[] = {"$GlobalRequest", "$GlobalResponse", "$VCRRequest"};
  int32_t* mine[3];
  for (int i = 0; i < 3; ++i) {
    mine[i] = static_cast<int32_t*>(GetProcAddressData(module_, names[i]));
    ASSERT_NE(mine[i], nullptr);
    *mine[i] = 40 + i;
  }
  // The three are distinct variables of this thread.
  EXPECT_NE(mine[0], mine[1]);
  EXPECT_NE(mine[1], mine[2]);
  int32_t seen[3] = {-1, -1, -1};
  int32_t* theirs[3] = {};
  std::thread other([&] {
    for (int i = 0; i < 3; ++i) {
      theirs[i] = static_cast<int32_t*>(GetProcAddressData(module_, names[i]));
      if (theirs[i] == nullptr) return;
      seen[i] = *theirs[i];
      *theirs[i] = 70 + i;
    }
  });
  other.join();
  for (int i = 0; i < 3; ++i) {
    EXPECT_NE(theirs[i], mine[i]) << names[i];
    EXPECT_EQ(seen[i], 0) << names[i] << " starts at 0 in a new thread";
    EXPECT_EQ(*mine[i], 40 + i) << names[i] << " unchanged by the other thread";
  }
}

TEST_F(LoadedModule, RegistersItsResourcesOnLoad) {
  ASSERT_NE(module_, nullptr);
  HMODULE listed[64];
  size_t n = std::min<size_t>(EnumResourceModules(listed, 64), 64);
  EXPECT_NE(std::find(listed, listed + n, module_), listed + n);
}

// Runs prhost with `arguments`; answers its exit code and output.
int RunHost(const std::string& arguments, std::string* output) {
  FILE* pipe = popen((kHostPath + " " + arguments + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buf[512];
  output->clear();
  while (size_t n = fread(buf, 1, sizeof buf, pipe)) output->append(buf, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Host, ExportsListsEveryExport) {
  std::string out;
  ASSERT_EQ(RunHost("exports", &out), 0) << out;
  for (const char* name : {"ADD_PARTNER", "BROWSE", "F_BROWSE@F", "$GlobalRequest", "$GlobalResponse",
                           "$VCRRequest", "$Lang_INI"}) {
    EXPECT_NE(out.find(name), std::string::npos) << name;
  }
  EXPECT_NE(out.find("\".\\Lang.INI\""), std::string::npos) << out;
  EXPECT_NE(out.find(": 0\n"), std::string::npos) << out;
}

TEST(Host, ThreadsProveSeparateVariables) {
  std::string out;
  ASSERT_EQ(RunHost("threads 8", &out), 0) << out;
  EXPECT_NE(out.find("8 of 8 threads had their own request variables"), std::string::npos) << out;
  EXPECT_EQ(out.find("WRONG"), std::string::npos) << out;
}

TEST(Host, BadCommandsAndArgumentsAreRefused) {
  std::string out;
  EXPECT_EQ(RunHost("", &out), 2);
  EXPECT_EQ(RunHost("nonsense", &out), 2);
  EXPECT_NE(out.find("unknown command"), std::string::npos);
  for (const char* bad : {"threads", "threads 0", "threads -3", "threads 12x", "threads 100000", "exports extra"}) {
    EXPECT_EQ(RunHost(bad, &out), 2) << bad;
  }
  // A module that is not there is reported, not crashed on.
  std::string missing;
  FILE* pipe = popen(("PR_DLL=/nonexistent/X.so " + kHostPath + " exports 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buf[256];
  while (size_t n = fread(buf, 1, sizeof buf, pipe)) missing.append(buf, n);
  int status = pclose(pipe);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(missing.find("cannot load the module"), std::string::npos) << missing;
}

// prhost in a scratch folder of its own, headless (every message box ends at
// once): answers the exit code and the output.
class HostInFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pr_host_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Command(const std::string& arguments) const {
    return "cd '" + dir_ + "' && PR_UI_SCRIPT=/dev/null '" + kHostPath + "' --ui=headless " + arguments + " 2>&1";
  }
  int Run(const std::string& arguments, std::string* output) const {
    FILE* pipe = popen(Command(arguments).c_str(), "r");
    if (pipe == nullptr) return -1;
    char buf[512];
    output->clear();
    while (size_t n = fread(buf, 1, sizeof buf, pipe)) output->append(buf, n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  bool FileMade() const { return std::filesystem::exists(dir_ + "/PARTNERI.TWL"); }
  std::string dir_;
};

// Numbers are taken whole or refused: 4294967297 is not partner 1, nor one
// thread; and nothing is opened or added before the refusal.
TEST_F(HostInFolder, NumbersOutOfRangeOrNotNumbersAreUsageErrors) {
  std::string out;
  for (const char* bad : {"form delete 4294967297", "form change -2147483649", "form view 12x", "form view ' 5'",
                          "form view ''", "form delete -", "add --threads 4294967297 x", "add --threads 0 x",
                          "add --threads 65 x", "add --threads", "add --threads 2x x",
                          "threads 18446744073709551617"}) {
    EXPECT_EQ(Run(bad, &out), 2) << bad << "\n" << out;
    EXPECT_FALSE(FileMade()) << bad;
  }
  // The ends of the LONG range are identifiers like any other.
  EXPECT_EQ(Run("form view -2147483648", &out), 0) << out;
  EXPECT_NE(out.find("response 2"), std::string::npos) << out;
}

// A name Windows-1250 cannot hold is refused with the character named, and
// nothing of the run is added; names it can hold (Croatian letters) are kept
// exactly.
TEST_F(HostInFolder, NamesTheFileCannotHoldAreRefused) {
  std::string out;
  EXPECT_EQ(Run("add Prvi '\xCE\xA9mega \xE6\x97\xA5\xE6\x9C\xAC'", &out), 2) << out;
  EXPECT_NE(out.find("cannot be stored"), std::string::npos) << out;
  EXPECT_NE(out.find("\"\xCE\xA9\""), std::string::npos) << out;
  EXPECT_EQ(out.find("is added"), std::string::npos) << out;
  EXPECT_FALSE(FileMade());
  EXPECT_EQ(Run("add 'bad \xFF byte'", &out), 2) << out;
  EXPECT_EQ(Run("add '\xC5\xA0ime \xC4\x8Covi\xC4\x87'", &out), 0) << out;
  EXPECT_EQ(out, "1\t\xC5\xA0ime \xC4\x8Covi\xC4\x87\n");
}

// Each identifier is printed when its add ends, not all at the end: the
// first line arrives long before the run is over.
TEST_F(HostInFolder, AddPrintsEachAcknowledgementAsItHappens) {
  std::string names;
  constexpr int kNames = 120;
  for (int i = 1; i <= kNames; ++i) names += " N" + std::to_string(i);
  const auto start = std::chrono::steady_clock::now();
  FILE* pipe = popen(Command("add" + names).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[256];
  ASSERT_NE(fgets(line, sizeof line, pipe), nullptr);
  const auto first = std::chrono::steady_clock::now() - start;
  int lines = 1;
  while (fgets(line, sizeof line, pipe)) ++lines;
  const auto total = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(pclose(pipe), 0);
  EXPECT_EQ(lines, kNames);
  EXPECT_LT(first * 3, total) << "first line after " << std::chrono::duration<double>(first).count() << " s of "
                              << std::chrono::duration<double>(total).count() << " s";
}

}  // namespace
