// The dialog manager: templates, keyboard navigation, the modal loop and the
// headless transcript.
#include "tests/platform/test_win_util.h"

namespace {

class DialogTest : public HeadlessTest {
 protected:
  // "Question" with a text, OK (default) and, when asked, Cancel and "&Retry".
  DialogTemplate Make(bool cancel, bool retry = false) {
    DialogTemplate t(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | WS_VISIBLE, 200, 60, "Question");
    t.Item(0x82, SS_LEFT, 8, 8, 180, 8, 0xFFFF, "Go on?");
    t.Item(0x80, BS_DEFPUSHBUTTON | WS_TABSTOP, 8, 40, 50, 14, IDOK, "OK");
    if (cancel) t.Item(0x80, BS_PUSHBUTTON | WS_TABSTOP, 70, 40, 50, 14, IDCANCEL, "Cancel");
    if (retry) t.Item(0x80, BS_PUSHBUTTON | WS_TABSTOP, 130, 40, 50, 14, IDRETRY, "&Retry");
    return t;
  }
  INT_PTR Run(DialogTemplate& t, const char* script) {
    HeadlessScript(script);
    return DialogBoxIndirectParamA(nullptr, t.Get(), nullptr, EndOnCommand, 0);
  }
};

TEST_F(DialogTest, KeyboardChoosesButtons) {
  auto t = Make(true, true);
  EXPECT_EQ(Run(t, "key Enter"), IDOK);
  EXPECT_EQ(Run(t, "key Tab\nkey Enter"), IDCANCEL);  // Enter presses the focused push button
  EXPECT_EQ(Run(t, "key Shift+Tab\nkey Space"), IDRETRY);
  EXPECT_EQ(Run(t, "key Escape"), IDCANCEL);
  EXPECT_EQ(Run(t, "key Alt+R"), IDRETRY);
  EXPECT_EQ(Run(t, "key r"), IDRETRY);  // a button has the focus: the letter alone is enough
  EXPECT_EQ(Run(t, "press \"Cancel\""), IDCANCEL);
  EXPECT_EQ(HeadlessPendingCommands(), 0u);
}

TEST_F(DialogTest, EscapeWithoutCancelDoesNothing) {
  auto t = Make(false);
  EXPECT_EQ(Run(t, "key Escape\nkey Escape\npress \"OK\""), IDOK);
  std::string log = HeadlessTranscript();
  EXPECT_TRUE(Has(log, "dialog \"Question\" text \"Go on?\" buttons \"OK\" default \"OK\"")) << log;
  EXPECT_TRUE(Has(log, "pressed \"OK\"\nclosed \"Question\" result 1")) << log;
}

TEST_F(DialogTest, ExhaustedScriptEndsTheDialogWithoutAButton) {
  auto t = Make(false);
  EXPECT_EQ(Run(t, "key Tab"), 0);
  EXPECT_TRUE(Has(HeadlessTranscript(), "script exhausted: closing dialog \"Question\" without a button"));
  // The next dialog runs normally once there is input again.
  EXPECT_EQ(Run(t, "key Enter"), IDOK);
}

TEST_F(DialogTest, ClickOnAButtonAndTheScreen) {
  auto t = Make(true);
  HeadlessScript("dump");
  INT_PTR r = Run(t, "");
  EXPECT_EQ(r, 0);
  std::string log = HeadlessTranscript();
  // 200 x 60 units: 50 x 8 cells of client area, centred on the 80 x 25 screen.
  EXPECT_TRUE(Has(log, "│  Go on?")) << log;
  EXPECT_TRUE(Has(log, "»    OK     «")) << log;
  EXPECT_TRUE(Has(log, "[  Cancel  ]")) << log;
  // The dialog is 52 x 10 cells with its frame at (14, 7); Cancel sits at
  // client (18, 5) to (31, 7): a click on its label presses it.
  EXPECT_EQ(Run(t, "click 40 13"), IDCANCEL);
}

TEST_F(DialogTest, OwnerIsDisabledWhileTheDialogRuns) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "OwnerForDialog";
  RegisterClassA(&wc);
  HWND owner = CreateWindowExA(0, "OwnerForDialog", "Main", WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 60, 20,
                               nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(owner);
  static HWND s_owner;
  static BOOL s_enabledDuring;
  s_owner = owner;
  auto proc = [](HWND d, UINT m, WPARAM w, LPARAM l) -> INT_PTR {
    if (m == WM_INITDIALOG) s_enabledDuring = IsWindowEnabled(s_owner);
    return EndOnCommand(d, m, w, l);
  };
  auto t = Make(true);
  HeadlessScript("click 55 15\nkey Enter");  // a click on the disabled owner only beeps
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, t.Get(), owner, proc, 0), IDOK);
  EXPECT_FALSE(s_enabledDuring);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(GetActiveWindow(), owner);
  EXPECT_TRUE(Has(HeadlessTranscript(), "beep 0x0"));
  DestroyWindow(owner);
}

TEST_F(DialogTest, MalformedTemplatesAreRefused) {
  DialogTemplate list(WS_POPUP, 100, 40, "List");
  list.Item(0x83, 0, 0, 0, 50, 20, 5, "");  // list boxes are not offered
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, list.Get(), nullptr, EndOnCommand, 0), -1);
  DialogTemplate many(WS_POPUP, 100, 40, "Many");
  many.SetCount(5000);
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, many.Get(), nullptr, EndOnCommand, 0), -1);
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, nullptr, nullptr, EndOnCommand, 0), -1);
  EXPECT_EQ(HeadlessTranscript().find("dialog"), std::string::npos);
}

TEST_F(DialogTest, ReadOnlyEditScrollsAndCopies) {
  DialogTemplate t(WS_POPUP | WS_CAPTION | DS_MODALFRAME | WS_VISIBLE, 120, 40, "Long");
  std::string text;
  for (int i = 1; i <= 9; ++i) text += "line " + std::to_string(i) + "\r\n";
  t.Item(0x81, ES_MULTILINE | ES_READONLY | WS_TABSTOP | WS_VSCROLL, 4, 4, 100, 24, 7, text.c_str());
  t.Item(0x80, BS_DEFPUSHBUTTON | WS_TABSTOP, 4, 28, 40, 10, IDOK, "OK");
  static int s_first = -1;
  auto proc = [](HWND d, UINT m, WPARAM w, LPARAM l) -> INT_PTR {
    if (m == WM_COMMAND) s_first = static_cast<int>(SendDlgItemMessageA(d, 7, EM_GETFIRSTVISIBLELINE, 0, 0));
    return EndOnCommand(d, m, w, l);
  };
  // Three lines show; Ctrl+End goes to the last, Ctrl+A / Ctrl+C copy all;
  // typing changes nothing in a read-only edit.
  HeadlessScript("key Ctrl+End\ntype \"xyz\"\nkey Ctrl+A\nkey Ctrl+C\nkey Tab\nkey Enter");
  EXPECT_EQ(DialogBoxIndirectParamA(nullptr, t.Get(), nullptr, proc, 0), IDOK);
  EXPECT_EQ(s_first, 7);
  ASSERT_TRUE(OpenClipboard(nullptr));
  const char* clip = static_cast<const char*>(GetClipboardData(CF_TEXT));
  ASSERT_TRUE(clip);
  EXPECT_EQ(std::string(clip), text);
  CloseClipboard();
}

}  // namespace
