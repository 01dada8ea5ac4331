// The standard controls driven by keys and clicks: editing in "Edit",
// "Button" states and notifications, the dialog manager's default button.
#include <string>

#include "tests/platform/test_win_util.h"

namespace {

class ControlTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    WNDCLASSA wc{};
    wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
      if (m == WM_COMMAND) commands_.push_back(LOWORD(w));
      return DefWindowProcA(h, m, w, l);
    };
    wc.lpszClassName = "ControlHost";
    RegisterClassA(&wc);
    host_ = CreateWindowExA(0, "ControlHost", "Host", WS_POPUP | WS_VISIBLE, 0, 0, 40, 10, nullptr, nullptr, nullptr,
                            nullptr);
    commands_.clear();
  }
  void TearDown() override {
    DestroyWindow(host_);
    HeadlessTest::TearDown();
  }
  // Runs the script through the calling thread's queue until it is used up.
  void Pump(const char* script) {
    HeadlessScript(script);
    MSG m;
    while (HeadlessPendingCommands() > 0 || PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE) && !GetMessageA(&m, nullptr, 0, 0)) break;
      DispatchMessageA(&m);
    }
  }
  HWND Edit(DWORD style, const char* text) {
    HWND e = CreateWindowExA(0, "Edit", text, WS_CHILD | WS_VISIBLE | style, 1, 1, 20, 1, host_,
                             reinterpret_cast<HMENU>(10), nullptr, nullptr);
    SetFocus(e);
    return e;
  }
  static std::string Text(HWND h) {
    char buf[256];
    GetWindowTextA(h, buf, sizeof buf);
    return buf;
  }
  HWND host_ = nullptr;
  static inline std::vector<int> commands_;
};

TEST_F(ControlTest, EditTypingSelectionAndClipboard) {
  HWND e = Edit(0, "");
  Pump("type \"Zvirka\"\nkey Backspace\nkey Home\nkey Delete\ntype \"Q\"");
  EXPECT_EQ(Text(e), "Qvirk");
  EXPECT_TRUE(SendMessageA(e, EM_GETMODIFY, 0, 0));
  // Shift+End selects to the end; Ctrl+X cuts it; Ctrl+V puts it back twice.
  Pump("key Home\nkey Right\nkey Shift+End\nkey Ctrl+X");
  EXPECT_EQ(Text(e), "Q");
  Pump("key Ctrl+V\nkey Ctrl+V");
  EXPECT_EQ(Text(e), "Qvirkvirk");
  DWORD a = 0, b = 0;
  SendMessageA(e, EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
  EXPECT_EQ(a, 9u);
  EXPECT_EQ(b, 9u);
  // Ctrl+Left moves over a word; the limit refuses with a beep.
  SendMessageA(e, EM_LIMITTEXT, 9, 0);
  Pump("type \"x\"");
  EXPECT_EQ(Text(e), "Qvirkvirk");
  EXPECT_TRUE(Has(HeadlessTranscript(), "beep 0x0"));
  SendMessageA(e, EM_UNDO, 0, 0);
  EXPECT_EQ(Text(e), "");  // the text it had when it was created
}

TEST_F(ControlTest, EditStylesRestrictWhatHappens) {
  HWND upper = Edit(ES_UPPERCASE, "");
  Pump("type \"abc\"");
  EXPECT_EQ(Text(upper), "ABC");
  DestroyWindow(upper);
  HWND ro = Edit(ES_READONLY, "fixed");
  Pump("type \"zz\"\nkey Backspace\nkey Delete\nkey Ctrl+V");
  EXPECT_EQ(Text(ro), "fixed");
  DestroyWindow(ro);
  // Nothing is copied out of a password edit.
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  SetClipboardData(CF_TEXT, const_cast<char*>("before"));
  CloseClipboard();
  HWND pw = Edit(ES_PASSWORD, "secret");
  Pump("key Ctrl+A\nkey Ctrl+C\nkey Ctrl+X");
  EXPECT_EQ(Text(pw), "secret");
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_STREQ(static_cast<const char*>(GetClipboardData(CF_TEXT)), "before");
  CloseClipboard();
  EXPECT_TRUE(Has(HeadlessScreenText(), "******"));
}

TEST_F(ControlTest, ButtonsNotifyTheirParent) {
  HWND push = CreateWindowExA(0, "Button", "&Go", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 1, 1, 10, 1, host_,
                              reinterpret_cast<HMENU>(21), nullptr, nullptr);
  HWND check = CreateWindowExA(0, "Button", "Flag", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 1, 3, 10, 1, host_,
                               reinterpret_cast<HMENU>(22), nullptr, nullptr);
  HWND off = CreateWindowExA(0, "Button", "Off", WS_CHILD | WS_VISIBLE | WS_DISABLED, 1, 5, 10, 1, host_,
                             reinterpret_cast<HMENU>(23), nullptr, nullptr);
  ASSERT_TRUE(push && check && off);
  Pump("press \"Go\"\nclick 3 3\nclick 3 5\nclick 3 1");  // "Off" is disabled: its click goes to the host
  SetFocus(push);
  Pump("key Space");
  EXPECT_EQ(commands_, (std::vector<int>{21, 22, 21, 21}));
  EXPECT_EQ(SendMessageA(check, BM_GETCHECK, 0, 0), static_cast<LRESULT>(BST_CHECKED));
  EXPECT_TRUE(Has(HeadlessScreenText(), "[x] Flag"));
  SendMessageA(push, BM_CLICK, 0, 0);
  EXPECT_EQ(commands_.back(), 21);
}

TEST_F(ControlTest, DialogDefaultFollowsTheFocusedButton) {
  DialogTemplate t(WS_POPUP | WS_CAPTION | DS_MODALFRAME | WS_VISIBLE, 160, 40, "Def");
  t.Item(0x81, WS_TABSTOP, 4, 4, 100, 8, 5, "");
  t.Item(0x80, BS_DEFPUSHBUTTON | WS_TABSTOP, 4, 20, 40, 14, IDOK, "OK");
  t.Item(0x80, BS_PUSHBUTTON | WS_TABSTOP, 50, 20, 40, 14, 7, "Other");
  t.Item(0x80, BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, 96, 20, 40, 14, 8, "Off");
  // From the edit, Enter presses the default button; Tab past the last stop wraps.
  HeadlessScript("type \"abc\"\nkey Enter");
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, t.Get(), nullptr, EndOnCommand, 0), IDOK);
  HeadlessScript("key Tab\nkey Tab\nkey Tab\nkey Tab\nkey Enter");  // edit, OK, Other, (Off skipped) edit, OK
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, t.Get(), nullptr, EndOnCommand, 0), IDOK);
  HeadlessScript("key Tab\nkey Right\nkey Enter");  // arrows move between buttons
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, t.Get(), nullptr, EndOnCommand, 0), 7);
  // DM_SETDEFID moves the default; a disabled default only beeps.
  static int s_def;
  s_def = 8;
  auto proc = [](HWND d, UINT m, WPARAM w, LPARAM l) -> INT_PTR {
    if (m == WM_INITDIALOG) SendMessageA(d, DM_SETDEFID, static_cast<WPARAM>(s_def), 0);
    return EndOnCommand(d, m, w, l);
  };
  HeadlessScript("key Enter\npress \"Other\"");
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, t.Get(), nullptr, proc, 0), 7);
  EXPECT_TRUE(Has(HeadlessTranscript(), "beep 0x0"));
}

}  // namespace
