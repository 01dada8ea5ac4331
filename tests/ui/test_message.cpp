// The message dialog, and the stop and halt boxes, shown headless.
#include "ui/message.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "files/errors.h"

namespace {

using pr::ui::Message;

class MessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowSystemOptions options;
    ASSERT_TRUE(InitWindowSystem(WindowBackend::Headless, &options));
  }
  void TearDown() override {
    ShutdownWindowSystem();
    pr::ui::SetMessageFunction(nullptr);
    pr::files::ClearMessageOverrides();
  }
  static std::string Log() { return HeadlessTranscript(); }
  static bool Has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }
};

// Windows-1250 of "Greška" and "Ne moš brisat Zvirku, čovječe!".
const char kGreska[] = "Gre\x9A" "ka";
const char kRefusal[] = "Ne mo\x9A brisat Zvirku, \xE8ovje\xE8" "e!";
const char kStopIcon[] = "\xFF\x01\x02\x7F";

TEST_F(MessageTest, RefusalShowsStopIconOneLineAndOk) {
  HeadlessScript("dump\npress \"OK\"");
  EXPECT_EQ(Message(kRefusal, kGreska, std::string_view(kStopIcon, 4), "", 0, 0), 1);
  std::string log = Log();
  EXPECT_TRUE(Has(log, "dialog \"Greška\" icon (X) text \"Ne moš brisat Zvirku, čovječe!\" buttons \"OK\" default \"OK\""))
      << log;
  EXPECT_TRUE(Has(log, "(X)  Ne moš brisat Zvirku, čovječe!")) << log;  // icon mark beside the one line
  EXPECT_TRUE(Has(log, "closed \"Greška\" result 1")) << log;
}

TEST_F(MessageTest, StandardButtonsInTableOrderWithDefault) {
  // 3 = OK + Yes: OK left of Yes, Yes the default; Enter presses it.
  HeadlessScript("dump\nkey Enter");
  EXPECT_EQ(Message("Sure?", "Q", "", "3", 2, 0), 2);
  std::string log = Log();
  EXPECT_TRUE(Has(log, "buttons \"OK\" \"&Yes\" default \"&Yes\"")) << log;
  size_t ok = log.find("[    OK     ]"), yes = log.find("»    Yes    «");
  ASSERT_NE(ok, std::string::npos) << log;
  ASSERT_NE(yes, std::string::npos) << log;
  EXPECT_LT(ok, yes);
  // A default that is not shown leaves the first button the default; a
  // default with several bits takes the lowest one.
  HeadlessScript("key Enter");
  EXPECT_EQ(Message("x", "Q", "", "12", 64, 0), 4);
  HeadlessScript("key Enter");
  EXPECT_EQ(Message("x", "Q", "", "12", 8 + 4, 0), 4);
  HeadlessScript("key Enter");
  EXPECT_EQ(Message("x", "Q", "", "0", 0, 0), 1);  // a sum of 0 is OK alone
}

TEST_F(MessageTest, CustomButtons) {
  // Empty items are skipped, a default outside 1..count is 1, the result is the position.
  HeadlessScript("key Enter");
  EXPECT_EQ(Message("t", "C", "", "|&Save||&Drop|", 5, 0), 1);
  EXPECT_TRUE(Has(Log(), "buttons \"&Save\" \"&Drop\" default \"&Save\"")) << Log();
  HeadlessScript("press \"Drop\"");
  EXPECT_EQ(Message("t", "C", "", "|&Save||&Drop|", 5, 0), 2);
  // Standard captions become standard buttons but still answer their position.
  HeadlessScript("press \"No\"");
  EXPECT_EQ(Message("t", "C", "", "&Yes|&No", 1, 0), 2);
  HeadlessScript("key Escape\nkey Alt+N");  // no Cancel among them: Escape does nothing
  EXPECT_EQ(Message("t", "C", "", "&Yes|&No", 1, 0), 2);
  HeadlessScript("key Escape");
  EXPECT_EQ(Message("t", "C", "", "&Go|Cancel", 1, 0), 2);  // Cancel's position
}

TEST_F(MessageTest, AtMostEightCustomButtons) {
  HeadlessScript("press \"B8\"");
  EXPECT_EQ(Message("t", "C", "", "B1|B2|B3|B4|B5|B6|B7|B8|B9|B10", 1, 0), 8);
  std::string log = Log();
  EXPECT_TRUE(Has(log, "\"B7\" \"B8\" default")) << log;
  EXPECT_FALSE(Has(log, "\"B9\"")) << log;
  HeadlessScript("press \"B9\"");  // not shown: the script says so and the box ends without a button
  EXPECT_EQ(Message("t", "C", "", "B1|B2|B3|B4|B5|B6|B7|B8|B9|B10", 1, 0), 0);
  EXPECT_TRUE(Has(Log(), "script error: no control \"B9\""));
}

TEST_F(MessageTest, VerticalBarStartsANewLine) {
  HeadlessScript("dump\nkey Enter");
  EXPECT_EQ(Message("first line|second line", "Two", "", "", 0, 0), 1);
  std::string log = Log();
  EXPECT_TRUE(Has(log, "text \"first line\\nsecond line\"")) << log;
  size_t first = log.find("│  first line"), second = log.find("│  second line");
  ASSERT_NE(first, std::string::npos) << log;
  ASSERT_NE(second, std::string::npos) << log;
  auto row = [&](size_t pos) { return std::count(log.begin(), log.begin() + static_cast<long>(pos), '\n'); };
  EXPECT_EQ(row(second), row(first) + 1);
}

TEST_F(MessageTest, EscapeOnlyWithCancel) {
  HeadlessScript("key Escape");
  EXPECT_EQ(Message("t", "C", "", "65", 1, 0), 64);  // OK + Cancel: Escape answers Cancel's value
  HeadlessScript("key Escape");
  EXPECT_EQ(Message("t", "C", "", "6", 2, 0), 0);  // Yes + No: Escape does nothing, the script runs out
  EXPECT_TRUE(Has(Log(), "script exhausted: closing dialog \"C\" without a button"));
}

TEST_F(MessageTest, LayoutFollowsTheMetrics) {
  // 80 x 25 screen: text limit 50 cells; "abc" measures 3 + 10; with the
  // margins 2 the block is 17 x 6; one button of 13 x 2 below a gap of 1.
  static RECT s_rect;
  static RECT s_button;
  HWND found = nullptr;
  struct Probe {
    static BOOL Enum(HWND h, LPARAM p) {
      char cls[16];
      GetClassNameA(h, cls, sizeof cls);
      if (std::string(cls) == "#32770") *reinterpret_cast<HWND*>(p) = h;
      return TRUE;
    }
  };
  // Measure while the box is up, from a timer of the box's own thread.
  static HWND* s_found = &found;
  UINT_PTR timer = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(GetCurrentThreadId(), Probe::Enum, reinterpret_cast<LPARAM>(s_found));
    if (*s_found) {
      GetClientRect(*s_found, &s_rect);
      GetWindowRect(GetDlgItem(*s_found, IDOK), &s_button);
    }
  });
  HeadlessScript("wait 20\nkey Enter");
  EXPECT_EQ(Message("abc", "L", "", "", 0, 0), 1);
  KillTimer(nullptr, timer);
  ASSERT_TRUE(found);
  EXPECT_EQ(s_rect.right, 17);
  EXPECT_EQ(s_rect.bottom, 6 + 1 + 2);
  EXPECT_EQ(s_button.right - s_button.left, 13);
  EXPECT_EQ(s_button.bottom - s_button.top, 2);
}

TEST_F(MessageTest, OverridesReplaceStandardCaptions) {
  pr::files::AddMessageOverride(0x7F00 + IDYES, "&Da");
  HeadlessScript("press \"Da\"");
  EXPECT_EQ(Message("t", "C", "", "6", 2, 0), 2);
  EXPECT_TRUE(Has(Log(), "buttons \"&Da\" \"&No\"")) << Log();
}

TEST_F(MessageTest, IconFlagsAndReplacementFunction) {
  HeadlessScript("key Enter");
  Message("q", "C", "", "", 0, 0x20);
  EXPECT_TRUE(Has(Log(), "icon (?)"));
  HeadlessScript("key Enter");
  Message("q", "C", "no-such-icon.ico[2]", "", 0, 0x40);  // a missing file leaves the icon out
  EXPECT_TRUE(Has(Log(), "dialog \"C\" text \"q\"")) << Log();
  static std::string s_seen;
  pr::ui::SetMessageFunction([](std::string_view text, std::string_view caption, std::string_view,
                                std::string_view buttons, int def, int) {
    s_seen = std::string(text) + "/" + std::string(caption) + "/" + std::string(buttons) + "/" + std::to_string(def);
    return 77;
  });
  HeadlessClearTranscript();
  EXPECT_EQ(Message("a|b", "Cap", "", "3", 2, 0), 77);
  EXPECT_EQ(s_seen, "a|b/Cap/3/2");
  EXPECT_EQ(Log(), "");  // nothing shown
}

TEST_F(MessageTest, FocusComesBack) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "MessageFocusOwner";
  RegisterClassA(&wc);
  HWND main = CreateWindowExA(0, "MessageFocusOwner", "Main", WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 70, 20,
                              nullptr, nullptr, nullptr, nullptr);
  HWND edit = CreateWindowExA(0, "Edit", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 2, 2, 20, 1, main, nullptr, nullptr,
                              nullptr);
  SetFocus(edit);
  EXPECT_EQ(pr::ui::MessageOwner(), main);
  HeadlessScript("key Enter");
  EXPECT_EQ(Message("t", "C", "", "", 0, 0), 1);
  EXPECT_EQ(GetFocus(), edit);
  EXPECT_TRUE(IsWindowEnabled(main));
  DestroyWindow(main);
}

TEST_F(MessageTest, SelectableTextScrollsWhenTallerThanHalfTheScreen) {
  std::string text;
  for (int i = 1; i <= 30; ++i) text += "row " + std::to_string(i) + "|";
  static LONG s_height = 0;
  static LONG_PTR s_style = 0;
  static HWND s_found = nullptr;
  UINT_PTR timer = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) {
    HWND dialog = GetActiveWindow();
    HWND edit = GetWindow(dialog, GW_CHILD);
    for (; edit; edit = GetWindow(edit, GW_HWNDNEXT)) {
      char cls[16];
      GetClassNameA(edit, cls, sizeof cls);
      if (std::string(cls) == "Edit") break;
    }
    if (!edit) return;
    s_found = edit;
    RECT r;
    GetWindowRect(edit, &r);
    s_height = r.bottom - r.top;
    s_style = GetWindowLongPtrA(edit, GWL_STYLE);
  });
  HeadlessScript("wait 20\nkey Ctrl+End\nkey Enter");  // the edit scrolls; Enter still presses OK
  EXPECT_EQ(Message(text, "Long", "", "", 0, pr::ui::kMessageSelectable), 1);
  KillTimer(nullptr, timer);
  ASSERT_TRUE(s_found);
  EXPECT_EQ(s_height, 25 / 2);
  EXPECT_TRUE(s_style & ES_READONLY);
  EXPECT_TRUE(s_style & WS_VSCROLL);
}

// Every box can be closed and shows its text: separators alone give the
// OK button; a text too long for a template string is cut with a visible
// mark; one too tall for the screen scrolls in a box that fits it.
TEST_F(MessageTest, BoxesAlwaysShowTheirTextAndCanBeClosed) {
  for (const char* buttons : {"|", "||", "|||"}) {
    HeadlessClearTranscript();
    HeadlessScript("press \"OK\"");
    EXPECT_EQ(Message("t", "Bars", "", buttons, 0, 0), 1) << buttons;
    EXPECT_TRUE(Has(Log(), "buttons \"OK\" default \"OK\"")) << Log();
  }

  static RECT s_dialog;
  static HWND s_found = nullptr;
  s_found = nullptr;
  UINT_PTR timer = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) {
    if (HWND dialog = GetActiveWindow()) {
      s_found = dialog;
      GetWindowRect(dialog, &s_dialog);
    }
  });
  // 5,000 lines: over the 16-bit height of the template; 40,000 lines and
  // 70,000 characters on one line: over what a template string holds.
  std::string lines5k, lines40k;
  for (int i = 1; i <= 5000; ++i) lines5k += "line " + std::to_string(i) + "|";
  for (int i = 1; i <= 40000; ++i) lines40k += "x|";
  const std::string oneLine(70000, 'w');
  for (const std::string* text : std::initializer_list<const std::string*>{&lines5k, &lines40k, &oneLine}) {
    HeadlessClearTranscript();
    s_found = nullptr;
    HeadlessScript("wait 20\nkey Ctrl+End\npress \"OK\"");
    EXPECT_EQ(Message(*text, "Long", "", "", 0, 0), 1) << text->size();
    const std::string log = Log();
    EXPECT_TRUE(Has(log, "dialog \"Long\" text \"")) << log.substr(0, 300);
    EXPECT_TRUE(Has(log, "closed \"Long\" result 1")) << log.substr(0, 300);
    ASSERT_TRUE(s_found);
    EXPECT_LE(s_dialog.bottom - s_dialog.top, 25);
    EXPECT_GE(s_dialog.top, 0);
  }
  KillTimer(nullptr, timer);
  // The cut texts say so; the 5,000 lines fit whole.
  HeadlessClearTranscript();
  HeadlessScript("press \"OK\"");
  Message(lines40k, "Cut", "", "", 0, 0);
  EXPECT_TRUE(Has(Log(), "x\\nx\\n[...]\"")) << Log().substr(Log().size() - 200);
  HeadlessClearTranscript();
  HeadlessScript("press \"OK\"");
  Message(lines5k, "Whole", "", "", 0, 0);
  EXPECT_TRUE(Has(Log(), "line 4999\\nline 5000\\n\"")) << Log().substr(0, 200);
}

// When no button is the default the first one's ID is the dialog's default
// ID, but no button is drawn as the default; "OK|OK" has one default button.
TEST_F(MessageTest, OneDefaultStyledButtonAtMost) {
  static int s_styled = -1;
  UINT_PTR timer = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) {
    HWND dialog = GetActiveWindow();
    if (!dialog || s_styled >= 0) return;
    int styled = 0;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      char cls[16];
      GetClassNameA(c, cls, sizeof cls);
      if (std::string(cls) == "Button" && (GetWindowLongPtrA(c, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
        ++styled;
    }
    s_styled = styled;
  });
  s_styled = -1;
  HeadlessScript("wait 20\npress \"OK\"");
  EXPECT_EQ(Message("t", "Twice", "", "OK|OK", 0, 0), 1);
  EXPECT_EQ(s_styled, 1);
  // In the template itself: one default-styled button for "OK|OK", none
  // when no button is the default (Yes/No with default OK), although the
  // first button's ID is then the default ID.
  int defaultId = 0;
  auto styled = [](const std::vector<pr::ui::MessageButtonInfo>& buttons) {
    std::string marks;
    for (const auto& b : buttons) marks += b.defaultStyle ? 'D' : '-';
    return marks;
  };
  EXPECT_EQ(styled(pr::ui::MessageButtons("OK|OK", 0, &defaultId)), "D-");
  EXPECT_EQ(defaultId, IDOK);
  EXPECT_EQ(styled(pr::ui::MessageButtons("6", 1, &defaultId)), "--");
  EXPECT_EQ(defaultId, IDYES);
  EXPECT_EQ(styled(pr::ui::MessageButtons("6", 4, &defaultId)), "-D");
  EXPECT_EQ(defaultId, IDNO);
  EXPECT_EQ(styled(pr::ui::MessageButtons("&Go|&Stop", 9, &defaultId)), "D-");
  EXPECT_EQ(styled(pr::ui::MessageButtons("||", 0, &defaultId)), "D");
  EXPECT_EQ(defaultId, IDOK);
  // Yes and No with default 0 on the screen: Yes's ID is the default ID (Yes
  // has the focus, so it looks like the default button while it has it).
  HeadlessClearTranscript();
  HeadlessScript("press \"No\"");
  EXPECT_EQ(Message("t", "None", "", "6", 0, 0), 4);
  EXPECT_TRUE(Has(Log(), "buttons \"&Yes\" \"&No\" default \"&Yes\"")) << Log();
  KillTimer(nullptr, timer);
}

TEST_F(MessageTest, IconResourceOfTheCurrentModuleAndFallbackOwner) {
  static const char kIcon[] = "icon bytes";
  HMODULE self = ModuleFromAddress(reinterpret_cast<const void*>(&kIcon));
  RegisterResource(self, "ICON", "WARN_ICO", LANG_EN_US, kIcon, sizeof kIcon);
  HeadlessScript("key Enter");
  EXPECT_EQ(Message("t", "C", "~warn.ico", "", 0, 0), 1);
  EXPECT_TRUE(Has(Log(), "dialog \"C\" icon [*] text")) << Log();
  HeadlessScript("key Enter");
  EXPECT_EQ(Message("t", "D", "~nothing", "", 0, 0x10), 1);  // not found: no icon, the style flag is not used
  EXPECT_TRUE(Has(Log(), "dialog \"D\" text")) << Log();
  UnregisterModuleResources(self);

  // Without an active window the fallback owner is used while it lives.
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "FallbackOwner";
  RegisterClassA(&wc);
  HWND fallback = CreateWindowExA(0, "FallbackOwner", "F", WS_POPUP, 0, 0, 10, 5, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(GetActiveWindow(), nullptr);
  pr::ui::SetMessageFallbackOwner(fallback);
  EXPECT_EQ(pr::ui::MessageOwner(), fallback);
  DestroyWindow(fallback);
  EXPECT_EQ(pr::ui::MessageOwner(), GetDesktopWindow());
  pr::ui::SetMessageFallbackOwner(nullptr);
}

TEST_F(MessageTest, BoxOverAnOwnerThatRunsOutOfScript) {
  // A box raised from a window's own message loop: when the script ends the
  // box ends first (0), then the window is asked to close.
  WNDCLASSA wc{};
  wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m == WM_USER) return Message("inner", "Inner", "", "3", 1, 0);
    if (m == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(h, m, w, l);
  };
  wc.lpszClassName = "LoopOwner";
  RegisterClassA(&wc);
  HWND main = CreateWindowExA(0, "LoopOwner", "Main", WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 70, 20, nullptr,
                              nullptr, nullptr, nullptr);
  EXPECT_EQ(SendMessageA(main, WM_USER, 0, 0), 0);
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
  EXPECT_FALSE(IsWindow(main));
  std::string log = Log();
  size_t inner = log.find("closing dialog \"Inner\""), outer = log.find("script exhausted: closing \"Main\"");
  ASSERT_NE(inner, std::string::npos) << log;
  ASSERT_NE(outer, std::string::npos) << log;
  EXPECT_LT(inner, outer);
}

// ---------------------------------------------------------------- stop and halt, in child processes
class StopHaltTest : public MessageTest {
 protected:
  std::string transcriptPath_;
  void SetUp() override {
    char pattern[] = "/tmp/pr-message-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    dir_ = pattern;
    transcriptPath_ = dir_ + "/transcript.txt";
    WindowSystemOptions options;
    options.transcriptPath = transcriptPath_.c_str();
    ASSERT_TRUE(InitWindowSystem(WindowBackend::Headless, &options));
  }
  void TearDown() override {
    MessageTest::TearDown();
    std::remove(transcriptPath_.c_str());
    rmdir(dir_.c_str());
  }
  std::string FileLog() {
    std::ifstream in(transcriptPath_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string dir_;
};

TEST_F(StopHaltTest, StopIgnoreReturnsAndAbortEndsWithZero) {
  HeadlessScript("press \"Ignore\"");
  pr::ui::Stop("Disk full. ", true);
  std::string log = Log();
  EXPECT_TRUE(Has(log, "dialog \"Stop\" icon (X) text \"Disk full. Exit?\" buttons \"&Abort\" \"&Ignore\" default "
                       "\"&Abort\""))
      << log;
  EXPECT_FALSE(pr::ui::IsHalting());
  EXPECT_EXIT(
      {
        HeadlessScript("key Enter");
        pr::ui::Stop("Broken", false);
        std::exit(5);  // not reached: Abort ends the process
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_TRUE(Has(FileLog(), "text \"Broken\" buttons")) << FileLog();
}

TEST_F(StopHaltTest, HaltWithAndWithoutText) {
  EXPECT_EXIT(
      {
        HeadlessScript("press \"OK\"");
        pr::ui::Halt(3, "Cannot go on");
      },
      ::testing::ExitedWithCode(3), "");
  std::string log = FileLog();
  EXPECT_TRUE(Has(log, "dialog \"Halt\" icon (X) text \"Cannot go on\" buttons \"OK\" default \"OK\"")) << log;
  EXPECT_TRUE(Has(log, "pressed \"OK\"")) << log;
  std::remove(transcriptPath_.c_str());
  EXPECT_EXIT(pr::ui::Halt(7), ::testing::ExitedWithCode(7), "");
  EXPECT_EQ(FileLog(), "");  // no box at all
}

}  // namespace
