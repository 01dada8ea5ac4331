// prrc, the resource compiler: texts, errors and the raw resources it writes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct CompileRun {
  int status;
  std::string output;
};

class ResourceCompiler : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/prrc-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  CompileRun Compile(const std::string& declaration) {
    std::ofstream(dir_ + "/in.wnd") << declaration;
    std::string cmd = std::string(PR_BINARY_DIR) + "/prrc --cpp " + dir_ + "/out.cpp --bin " + dir_ + " " + dir_ +
                      "/in.wnd 2>&1";
    CompileRun run{-1, {}};
    FILE* pipe = popen(cmd.c_str(), "r");
    if (pipe == nullptr) return run;
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, pipe)) run.output.append(buf, n);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

  std::string Read(const std::string& name) {
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::string dir_;
};

TEST_F(ResourceCompiler, TextsAreStoredInWindows1250) {
  CompileRun run = Compile(
      "resource \"PR_DLL$PR_T1\"\n"
      "window \"W\" title \"Greška\" # a comment\n"
      "  prompt \"?P\" text \"Ne moš brisat Zvirku, čovječe!\" at 1 2\n"
      "  button \"?B\" text \"\\x8A\" options 0x03\n"
      "end\n");
  ASSERT_EQ(run.status, 0) << run.output;
  std::string rsc = Read("PR_T1_RSC.rsc");
  EXPECT_EQ(rsc.substr(0, 13), std::string("PR_DLL$PR_T1\0", 13));
  EXPECT_NE(rsc.find("Gre\x9A" "ka"), std::string::npos);
  EXPECT_NE(rsc.find("Ne mo\x9A brisat Zvirku, \xE8ovje\xE8" "e!"), std::string::npos);
  EXPECT_NE(rsc.find(std::string("\x8A\0", 2)), std::string::npos);
  EXPECT_NE(Read("out.cpp").find("\"PR_T1_RSC\""), std::string::npos);
}

TEST_F(ResourceCompiler, ErrorsNameTheLineAndWriteNothing) {
  struct Case {
    const char* body;
    const char* message;
  } cases[] = {
      {"window \"W\"\n  button \"?B\" colour 3\nend\n", "in.wnd:3: \"colour\" is not an attribute of button"},
      {"window \"W\"\n  button \"?B\" options 300\nend\n", "in.wnd:3: number out of range for options"},
      {"window \"W\" title \"Жук\"\nend\n", "in.wnd:2: text is not valid UTF-8"},
      {"window \"W\" title \"open\nend\n", "in.wnd:2: unterminated text"},
      {"window \"W\" size 1 2 size 3 4\nend\n", "in.wnd:2: \"size\" given twice"},
      {"window \"W\"\n  slider \"?S\"\nend\n", "in.wnd:3: \"slider\" is not an attribute of window nor a control kind"},
      {"window \"W\" title \"\\x00\"\nend\n", "in.wnd:2: a text cannot hold a NUL byte"},
      {"", "in.wnd:2: a resource needs at least one window"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir_ + "/out.cpp");
    CompileRun run = Compile(std::string("resource \"PR_DLL$PR_T2\"\n") + c.body);
    EXPECT_EQ(run.status, 1) << c.body;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/out.cpp")) << c.body;
  }
}

}  // namespace
