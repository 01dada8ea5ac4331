// prhost browse in a real terminal: tmux runs it, keys are sent as a user
// types them and the pane is read back.  Skipped where tmux is missing.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "prhost_test_util.h"

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
  }
  void TearDown() override {
    if (started_) std::system((Tmux() + " kill-server >/dev/null 2>&1").c_str());
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  // Runs `prhost --ui=terminal COMMAND` in a terminal of the given size.
  void Start(const std::string& command, int columns = 100, int rows = 30) {
    const std::string line = Tmux() + " new-session -d -s t -x " + std::to_string(columns) + " -y " +
                             std::to_string(rows) + " \"cd '" + dir_ + "' && '" PR_BINARY_DIR
                             "/prhost' --ui=terminal " + command + "; echo prhost status \\$?; sleep 60\"";
    ASSERT_EQ(std::system(line.c_str()), 0);
    started_ = true;
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

  // Another station: prhost in a process of its own, headless, with
  // `script` as its user.  Answers its output.
  std::string Station(const std::string& args, const std::string& script) {
    const std::string scriptPath = dir_ + "/station.txt";
    std::ofstream(scriptPath) << script;
    return Capture("cd '" + dir_ + "' && PR_UI_SCRIPT='" + scriptPath + "' timeout 60 '" PR_BINARY_DIR
                   "/prhost' --ui=headless " + args + " 2>&1");
  }

  // Partners 1..count named "Partner 000001"..., in one transaction.
  void Store(int count) {
    std::vector<std::string> names;
    for (int i = 1; i <= count; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "Partner %06d", i);
      names.emplace_back(name);
    }
    pr::app::testing::StorePartners(dir_, names);
  }

  std::map<int32_t, std::string> Stored() { return pr::app::testing::StoredPartners(dir_); }

  std::string dir_, socket_;
  bool started_ = false;
};

TEST_F(BrowseTerminalTest, InsertSeeItListedDeleteIt) {
  Start("browse");
  ASSERT_TRUE(WaitFor("Browse Records")) << Screen();
  Send("IC");
  ASSERT_TRUE(WaitFor("Update Records...")) << Screen();
  Send("Tab");
  Send("-l 'Šime Čović'");
  ASSERT_TRUE(WaitFor("Name :      Šime Čović")) << Screen();
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

// A row read before another station deleted or changed its partner is read
// again before any button acts on it: Delete and Change never open the form
// on it (nor on the record the page fill read last), Insert still works, and
// the list shows what is stored now.
TEST_F(BrowseTerminalTest, StaleRowsNeverActOnAnotherPartner) {
  Store(20);
  Start("browse");
  ASSERT_TRUE(WaitFor("Partner 000012")) << Screen();
  Send("Down Down Down");  // row 4
  ASSERT_NE(Station("form delete 4", "press \"OK\"\n").find("response 1"), std::string::npos);
  Send("F4");  // Delete
  ASSERT_TRUE(WaitFor("This record was deleted by another station.")) << Screen();
  EXPECT_EQ(Screen().find("Update Records..."), std::string::npos);
  Send("Enter");
  ASSERT_TRUE(WaitFor("by another station.", true)) << Screen();
  ASSERT_TRUE(WaitFor("Partner 000004", true)) << Screen();
  ASSERT_TRUE(WaitFor("Partner 000005")) << Screen();

  // Change on the row after it (now highlighted), deleted meanwhile too.
  ASSERT_NE(Station("form delete 5", "press \"OK\"\n").find("response 1"), std::string::npos);
  Send("F3");
  ASSERT_TRUE(WaitFor("This record was deleted by another station.")) << Screen();
  EXPECT_EQ(Screen().find("Update Records..."), std::string::npos);
  Send("Enter");
  ASSERT_TRUE(WaitFor("by another station.", true)) << Screen();
  ASSERT_TRUE(WaitFor("Partner 000005", true)) << Screen();

  // Changed by another station: told so, the list shows the new name, and
  // the next Change opens on it.
  ASSERT_NE(Station("form change 6", "key Tab\nkey End\ntype \" Z\"\npress \"OK\"\n").find("response 1"),
            std::string::npos);
  Send("F3");
  ASSERT_TRUE(WaitFor("This record was changed by another station.")) << Screen();
  EXPECT_EQ(Screen().find("Update Records..."), std::string::npos);
  Send("Enter");
  ASSERT_TRUE(WaitFor("Partner 000006 Z")) << Screen();
  Send("F3");
  ASSERT_TRUE(WaitFor("Update Records...")) << Screen();
  Send("Escape");
  ASSERT_TRUE(WaitFor("Update Records...", true)) << Screen();

  // Insert on a highlighted row that is gone adds a new partner and nothing else.
  ASSERT_NE(Station("form delete 6", "press \"OK\"\n").find("response 1"), std::string::npos);
  Send("F2");
  ASSERT_TRUE(WaitFor("Update Records...")) << Screen();
  Send("Tab");
  Send("-l Novi");
  Send("Enter");
  ASSERT_TRUE(WaitFor("Update Records...", true)) << Screen();
  Send("Escape");
  ASSERT_TRUE(WaitFor("response ")) << Screen();

  std::map<int, std::string> stored = Stored();
  EXPECT_EQ(stored.size(), 18u);
  EXPECT_EQ(stored.count(4) + stored.count(5) + stored.count(6), 0u);
  EXPECT_EQ(stored[12], "Partner 000012");
  EXPECT_EQ(stored[21], "Novi");
  for (int id : {1, 2, 3, 7, 8, 20}) EXPECT_EQ(stored[id], "Partner " + std::string(6 - std::to_string(id).size(), '0') + std::to_string(id));
}

// A selector never hands its caller a partner that is gone.
TEST_F(BrowseTerminalTest, StaleRowIsNeverSelected) {
  Store(20);
  Start("select");
  ASSERT_TRUE(WaitFor("Partner 000012")) << Screen();
  Send("Down Down Down");
  ASSERT_NE(Station("form delete 4", "press \"OK\"\n").find("response 1"), std::string::npos);
  Send("F5");  // Select
  ASSERT_TRUE(WaitFor("This record was deleted by another station.")) << Screen();
  Send("Enter");
  ASSERT_TRUE(WaitFor("by another station.", true)) << Screen();
  ASSERT_TRUE(WaitFor("Partner 000004", true)) << Screen();
  Send("F5");
  ASSERT_TRUE(WaitFor("response 1")) << Screen();
  EXPECT_TRUE(WaitFor("partner 5")) << Screen();
}

// The driver error box is shown in the terminal before the program ends;
// the shell then sees prhost's one status for a halt.
TEST_F(BrowseTerminalTest, DriverErrorBoxIsShownBeforeTheHalt) {
  Store(300);
  std::filesystem::resize_file(dir_ + "/PARTNERI.TWL", 4096);
  Start("browse", 80, 24);
  ASSERT_TRUE(WaitFor("Possible data corruption in file (2172)")) << Screen();
  EXPECT_NE(Screen().find("Halt"), std::string::npos) << Screen();
  Send("Enter");
  ASSERT_TRUE(WaitFor("prhost status 3")) << Screen();
  EXPECT_NE(Screen().find("Possible data corruption in file (2172): PARTNERI.TWL"), std::string::npos) << Screen();
}

// The frame and the browse follow the terminal's size: grown, the frame
// fills the new screen; shrunk, the browse fits it with its border and
// every button in sight; started small, nothing is clipped either.
TEST_F(BrowseTerminalTest, FrameAndBrowseFollowTheTerminalSize) {
  Store(30);
  Start("browse", 70, 20);
  ASSERT_TRUE(WaitFor("Partner 000012")) << Screen();
  auto lines = [this] {
    std::vector<std::string> out;
    std::string screen = Screen(), line;
    for (char c : screen) {
      if (c == '\n') {
        out.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    return out;
  };
  auto fits = [&](int columns, int rows) {
    std::vector<std::string> shown = lines();
    if (shown.size() < static_cast<size_t>(rows)) return false;
    // The frame's top right corner in the last column, its bottom line on
    // the last row (box characters take three bytes each).
    const std::string& top = shown[0];
    return top.size() >= 3 && top.compare(top.size() - 3, 3, "\xe2\x94\x90") == 0 &&
           shown[static_cast<size_t>(rows) - 1].rfind("\xe2\x94\x94", 0) == 0 &&
           static_cast<int>(top.size()) > columns - 2;
  };
  std::system((Tmux() + " resize-window -t t -x 100 -y 30").c_str());
  bool grown = false;
  for (int i = 0; i < 100 && !grown; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(50))) grown = fits(100, 30);
  EXPECT_TRUE(grown) << Screen();

  std::system((Tmux() + " resize-window -t t -x 50 -y 15").c_str());
  ASSERT_TRUE(WaitFor("[ Close  ]")) << Screen();
  std::string small = Screen();
  EXPECT_NE(small.find("[ Insert ]"), std::string::npos) << small;
  EXPECT_NE(small.find("Browse Records"), std::string::npos) << small;
  EXPECT_NE(small.find("Partner 000001"), std::string::npos) << small;
  std::vector<std::string> shown = lines();
  ASSERT_GE(shown.size(), 15u);
  EXPECT_EQ(shown[14].rfind("\xe2\x94\x94", 0), 0u) << small;  // the bottom border
  // The keys still work at the small size: the page is the rows shown.
  Send("PageDown");
  EXPECT_TRUE(WaitFor("Partner 000001", true)) << Screen();
}

TEST_F(BrowseTerminalTest, StartedSmallShowsEveryButton) {
  Store(3);
  Start("browse", 50, 15);
  ASSERT_TRUE(WaitFor("Partner 000003")) << Screen();
  EXPECT_TRUE(WaitFor("[ Close  ]")) << Screen();
  EXPECT_NE(Screen().find("[ Insert ]"), std::string::npos) << Screen();
  EXPECT_NE(Screen().find("[ Delete ]"), std::string::npos) << Screen();
}

// A terminal program whose input is gone ends: it answers as Cancel would,
// gives the terminal back and exits, instead of waiting on an input that
// reads as nothing, forever.
TEST_F(BrowseTerminalTest, InputAtItsEndEndsTheBrowse) {
  Store(3);
  Start("browse </dev/null");
  ASSERT_TRUE(WaitFor("prhost status 0")) << Screen();
  EXPECT_NE(Screen().find("response 2"), std::string::npos) << Screen();
  EXPECT_EQ(Screen().find("Browse Records"), std::string::npos) << Screen();
}

// The terminal closed under a program that ignores the hang-up signal: its
// reads fail from then on, and it must end rather than spin on them.
TEST(BrowseTerminalHangUp, ClosedTerminalEndsTheProgram) {
  char pattern[] = "/tmp/pr_browse_hup_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  winsize size{};
  size.ws_row = 25;
  size.ws_col = 80;
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGHUP, SIG_IGN);
    setenv("TERM", "xterm", 1);
    if (chdir(dir.c_str()) == 0)
      execl(PR_BINARY_DIR "/prhost", "prhost", "--ui=terminal", "browse", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Reads what it draws until the browse is up (answering nothing).
  std::string shown;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (shown.find("Browse Records") == std::string::npos && std::chrono::steady_clock::now() < until) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[4096];
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    shown.append(buffer, static_cast<size_t>(n));
  }
  EXPECT_NE(shown.find("Browse Records"), std::string::npos);
  close(master);
  int status = 0;
  pid_t done = 0;
  for (int i = 0; i < 100 && done == 0; ++i) {
    done = waitpid(pid, &status, WNOHANG);
    if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (done == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  std::filesystem::remove_all(dir);
  ASSERT_EQ(done, pid) << "prhost still runs 5 s after its terminal closed";
  EXPECT_TRUE(WIFEXITED(status)) << status;
}

// The terminal reports the pointer's moves (no button held): resting on a
// toolbar control or the list shows its tip on the status line.  The moves
// are sent as the terminal's own mouse reports, ESC [ M with the motion code.
TEST_F(BrowseTerminalTest, MouseMovesBringUpTips) {
  Store(3);
  Start("browse", 80, 25);
  ASSERT_TRUE(WaitFor("Partner 000003")) << Screen();
  auto move = [this](int x, int y) {
    char keys[64];
    std::snprintf(keys, sizeof keys, "-H 1b 5b 4d 43 %02x %02x", 33 + x, 33 + y);
    Send(keys);
  };
  move(50, 1);  // "F6 Last"
  EXPECT_TRUE(WaitFor("Go to the Last Page")) << Screen();
  move(10, 8);  // the list
  EXPECT_TRUE(WaitFor("Browsing Records")) << Screen();
  move(79, 12);  // the frame's border
  EXPECT_TRUE(WaitFor("F1: keys")) << Screen();
  Send("Escape");
  EXPECT_TRUE(WaitFor("response 2")) << Screen();
}

// The Menu key (CSI 29 ~, as xterm and the Linux console send it) opens the
// popup from the keyboard, and Ctrl+Alt+End, which a terminal description
// may number close to it, does not.
TEST_F(BrowseTerminalTest, MenuKeyOpensThePopup) {
  Store(3);
  Start("browse", 80, 25);
  ASSERT_TRUE(WaitFor("Partner 000003")) << Screen();
  Send("M-C-End");
  Send("-H 1b 5b 32 39 7e");
  ASSERT_TRUE(WaitFor("\xe2\x94\x82   Change \xe2\x94\x82")) << Screen();
  Send("Escape");
  ASSERT_TRUE(WaitFor("\xe2\x94\x82   Change \xe2\x94\x82", true)) << Screen();
  Send("M-C-End");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Screen().find("\xe2\x94\x82   Change \xe2\x94\x82"), std::string::npos) << Screen();
  Send("-H 1b 5b 32 39 7e");
  ASSERT_TRUE(WaitFor("\xe2\x94\x82   Change \xe2\x94\x82")) << Screen();
  Send("Down Down Enter");  // Change
  EXPECT_TRUE(WaitFor("Update Records...")) << Screen();
}

}  // namespace
