// The installed module as another host program uses it: `cmake --install`
// into a scratch prefix, the example host built with cc against the
// installed header and pkg-config file, and both it and the installed
// prhost run from there.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <type_traits>

#include "include/pr_dll.h"

namespace {

// The header's declarations have the exported types.
static_assert(std::is_same_v<decltype(ADD_PARTNER), int32_t(const char*)>);
static_assert(std::is_same_v<decltype(BROWSE), void()>);
static_assert(std::is_same_v<decltype(F_BROWSE), void()>);
static_assert(std::is_same_v<decltype(PR_GlobalRequest), int32_t>);
static_assert(std::is_same_v<decltype(PR_GlobalResponse), int32_t>);
static_assert(std::is_same_v<decltype(PR_VCRRequest), int32_t>);
static_assert(sizeof PR_Lang_INI == 20);
static_assert(PR_INSERT_REQUEST == 1 && PR_CHANGE_REQUEST == 2 && PR_DELETE_REQUEST == 3 &&
              PR_SELECT_REQUEST == 4 && PR_VIEW_REQUEST == 6);
static_assert(PR_COMPLETED_RESPONSE == 1 && PR_CANCELLED_RESPONSE == 2);

namespace fs = std::filesystem;

// A sanitized build installs sanitized libraries: the example is built the
// same way so that it loads them.
// Under the sanitizer, dlopen runs from the sanitizer's runtime, so the
// platform library's own run path does not lead prhost to the module: the
// loader is told the library folder instead.
#ifdef PR_SANITIZED
constexpr char kExtraFlags[] = " -fsanitize=address,undefined";
constexpr bool kLoaderNeedsPath = true;
#else
constexpr char kExtraFlags[] = "";
constexpr bool kLoaderNeedsPath = false;
#endif

// Runs a shell command; its output (stdout and stderr) and exit status.
int Shell(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Install, ExampleHostBuildsAgainstTheInstalledHeaderAndAddsPartners) {
  char pattern[] = "/tmp/pr_install_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string root = pattern, prefix = root + "/prefix", work = root + "/work";
  struct Cleanup {
    std::string path;
    ~Cleanup() { fs::remove_all(path); }
  } cleanup{root};
  fs::create_directories(work);
  std::string out;
  ASSERT_EQ(Shell("'" PR_CMAKE "' --install '" PR_BINARY_DIR "' --prefix '" + prefix + "'", &out), 0) << out;

  // Everything in its usual place; the pkg-config file tells where the rest is.
  for (const char* file : {"bin/prhost", "bin/twl", "include/pr_dll.h"})
    EXPECT_TRUE(fs::exists(prefix + "/" + file)) << file << "\n" << out;
  std::string pcDir;
  for (const auto& entry : fs::recursive_directory_iterator(prefix))
    if (entry.path().filename() == "pr_dll.pc") pcDir = entry.path().parent_path();
  ASSERT_FALSE(pcDir.empty()) << out;
  const std::string pkg = "PKG_CONFIG_PATH='" + pcDir + "' pkg-config ";
  ASSERT_EQ(Shell(pkg + "--variable=libdir pr_dll", &out), 0) << out;
  const std::string libdir = fs::canonical(out.substr(0, out.find_last_not_of("\n ") + 1));
  for (const char* file : {"PR_DLL.so", "libpr_platform.so"})
    EXPECT_TRUE(fs::exists(libdir + "/" + file)) << file;

  const std::string host = work + "/add_partner";
  ASSERT_EQ(Shell("cc -std=c11 -Wall -Wextra -Werror -o '" + host + "' '" PR_SOURCE_DIR "/examples/add_partner.c' $(" +
                    pkg + "--cflags --libs pr_dll) -Wl,-rpath,'" + libdir + "'" + kExtraFlags,
                &out),
            0)
      << out;
  // Away from the build tree: only the installed files can be found.
  const std::string env = "cd '" + work + "' && PR_UI=headless PR_UI_TRANSCRIPT='" + work + "/transcript.txt' ";
  ASSERT_EQ(Shell(env + "timeout 60 '" + host + "' Ana 'Ben d.o.o.'", &out), 0) << out;
  EXPECT_EQ(out, "1\tAna\n2\tBen d.o.o.\nLang_INI .\\Lang.INI\n");
  const std::string loader = kLoaderNeedsPath ? "LD_LIBRARY_PATH='" + libdir + "' " : "";
  ASSERT_EQ(Shell(env + loader + "timeout 60 '" + prefix + "/bin/prhost' --ui=headless add Cvita", &out), 0) << out;
  EXPECT_NE(out.find("3\tCvita"), std::string::npos) << out;
  ASSERT_EQ(Shell("cd '" + work + "' && '" + prefix + "/bin/twl' verify PARTNERI.TWL", &out), 0) << out;
}

}  // namespace
