// prhost browse in a real terminal: tmux runs it, keys are sent as a user
// types them and the pane is read back.  Skipped where tmux is missing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

class BrowseTerminalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
    char pattern[] = "/tmp/pr_browse_tty_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    socket_ = "prbrowse" + std::to_string(getpid());
    const std::string command = Tmux() + " new-session -d -s t -x 100 -y 30 \"cd '" + dir_ + "' && '" PR_BINARY_DIR
                                "/prhost' --ui=terminal browse; sleep 60\"";
    ASSERT_EQ(std::system(command.c_str()), 0);
    started_ = true;
  }
  void TearDown() override {
    if (started_) std::system((Tmux() + " kill-server >/dev/null 2>&1").c_str());
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  std::string Tmux() const { return "tmux -L " + socket_ + " -f /dev/null"; }
  std::string Screen() { return Capture(Tmux() + " capture-pane -t t -p"); }
  void Send(const std::string& keys) { std::system((Tmux() + " send-keys -t t " + keys).c_str()); }

  // Waits up to 10 s for the screen to show (or, with `absent`, to stop
  // showing) `text`.
  bool WaitFor(const std::string& text, bool absent = false) {
    for (int i = 0; i < 200; ++i) {
      if ((Screen().find(text) == std::string::npos) == absent) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::string dir_, socket_;
  bool started_ = false;
};

TEST_F(BrowseTerminalTest, InsertSeeItListedDeleteIt) {
  ASSERT_TRUE(WaitFor("Browse Records")) << Screen();
  Send("IC");
  ASSERT_TRUE(WaitFor("Update Records...")) << Screen();
  Send("Tab");
  Send("-l 'Šime Čović'");
  ASSERT_TRUE(WaitFor("Name :       Šime Čović")) << Screen();
  Send("Enter");
  ASSERT_TRUE(WaitFor("Update Records...", true)) << Screen();
  EXPECT_TRUE(WaitFor("1 | Šime Čović")) << Screen();

  Send("DC");
  ASSERT_TRUE(WaitFor("Update Records...")) << Screen();
  Send("Enter");
  ASSERT_TRUE(WaitFor("Update Records...", true)) << Screen();
  EXPECT_TRUE(WaitFor("Šime Čović", true)) << Screen();

  // Escape closes the window the way its close box does.
  Send("Escape");
  EXPECT_TRUE(WaitFor("Partner Registry", true)) << Screen();
  // The outcome is printed on the shell's screen once the terminal is back.
  EXPECT_TRUE(WaitFor("response ")) << Screen();
}

}  // namespace
