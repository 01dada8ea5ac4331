// A message box in a real terminal: tmux runs a program that shows one box,
// the screen is read back, and a key press chooses a button.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

std::string Capture(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(MessageTerminal, BoxIsDrawnAndAKeyChoosesAButton) {
  if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  char dir[] = "/tmp/pr-msgterm-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  std::string out = std::string(dir) + "/result.txt";
  std::string socket = "pr-msgterm-" + std::to_string(getpid());
  std::string tmux = "tmux -u -L " + socket + " ";
  std::string program = std::string(PR_BINARY_DIR) + "/pr_message_box";
  ASSERT_EQ(access(program.c_str(), X_OK), 0) << program;
  ASSERT_EQ(std::system((tmux + "new-session -d -x 100 -y 30 'env LANG=C.UTF-8 TERM=screen " + program + " " + out +
                         "' 2>/dev/null")
                            .c_str()),
            0);
  std::string screen;
  for (int i = 0; i < 100; ++i) {
    screen = Capture(tmux + "capture-pane -p 2>/dev/null");
    if (screen.find("[    No     ]") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_NE(screen.find("Greška"), std::string::npos) << screen;
  EXPECT_NE(screen.find("(X)  Ne moš brisat Zvirku, čovječe!"), std::string::npos) << screen;
  EXPECT_NE(screen.find("»    Yes    «  [    No     ]"), std::string::npos) << screen;
  // "n" is the mnemonic of "&No", the second custom button.
  std::system((tmux + "send-keys n 2>/dev/null").c_str());
  std::string result;
  for (int i = 0; i < 100 && result.empty(); ++i) {
    result = ReadFile(out);
    if (result.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::system((tmux + "kill-server 2>/dev/null").c_str());
  EXPECT_EQ(result, "result 2\n");
  std::remove(out.c_str());
  rmdir(dir);
}

}  // namespace
