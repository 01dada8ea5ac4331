// The built module as a host sees it: its dynamic symbol table, the exports
// through LoadLibraryA/GetProcAddress, the per-thread request variables, and
// prhost's commands.
#include <sys/wait.h>

#include <stdlib.h>

#include <algorithm>
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
}  // namespace
