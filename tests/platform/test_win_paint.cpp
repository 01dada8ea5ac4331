// Painting and the services around it: DrawTextA layout, the screen in
// cells with Windows-1250 text and colours, dialog units, clipboard, caret,
// cursors, icon files, metrics and code pages.
#include <fstream>
#include <string>

#include "tests/platform/temp_dir.h"
#include "tests/platform/test_win_util.h"

namespace {

class PaintTest : public HeadlessTest {};

RECT Measure(const char* text, int width, UINT format) {
  RECT r{0, 0, width, 0};
  DrawTextA(nullptr, text, -1, &r, format | DT_CALCRECT);
  return r;
}

TEST_F(PaintTest, DrawTextMeasuresLikeTheLayoutNeeds) {
  struct Case {
    const char* text;
    int width;
    UINT format;
    LONG right, bottom;
  } cases[] = {
      {"aaa bbb ccc", 7, DT_WORDBREAK, 7, 2},          // "aaa bbb" / "ccc"
      {"aaa bbb ccc", 100, DT_WORDBREAK, 11, 1},       //
      {"abcdefghij", 4, DT_WORDBREAK, 4, 3},           // a word longer than the width is broken
      {"one\r\ntwo\nthree", 100, 0, 5, 3},             // CR LF and LF break lines
      {"a\tb", 100, DT_EXPANDTABS, 9, 1},              // tab to the next multiple of 8
      {"&Yes", 100, 0, 3, 1},                          // "&" marks a mnemonic
      {"&Yes", 100, DT_NOPREFIX, 4, 1},                // shown as written
      {"a&&b", 100, 0, 3, 1},                          // "&&" draws one "&"
      {"", 100, DT_WORDBREAK, 0, 0},
      {"x|y", 100, DT_SINGLELINE, 3, 1},
  };
  for (const Case& c : cases) {
    RECT r = Measure(c.text, c.width, c.format);
    EXPECT_EQ(r.right, c.right) << c.text;
    EXPECT_EQ(r.bottom, c.bottom) << c.text;
  }
}

TEST_F(PaintTest, DialogUnitsRoundUpToCells) {
  RECT r{1, 1, 5, 9};
  ASSERT_TRUE(MapDialogRect(nullptr, &r));
  EXPECT_EQ(r.left, 1);
  EXPECT_EQ(r.top, 1);
  EXPECT_EQ(r.right, 2);
  EXPECT_EQ(r.bottom, 2);
  RECT n{-3, -9, 200, 45};
  MapDialogRect(nullptr, &n);
  EXPECT_EQ(n.left, 0);
  EXPECT_EQ(n.top, -1);
  EXPECT_EQ(n.right, 50);
  EXPECT_EQ(n.bottom, 6);
}

TEST_F(PaintTest, ScreenShowsFramesCaptionsAndWindows1250) {
  HWND w = CreateWindowExA(0, WC_DIALOG, "Gre\x9Aka", WS_POPUP | WS_CAPTION | WS_VISIBLE, 5, 3, 30, 6, nullptr,
                           nullptr, nullptr, nullptr);
  ASSERT_TRUE(w);
  HWND s = CreateWindowExA(0, "Static", "\xE8ovje\xE8" "e", WS_CHILD | WS_VISIBLE, 1, 1, 20, 1, w, nullptr, nullptr,
                           nullptr);
  ASSERT_TRUE(s);
  std::string screen = HeadlessScreenText();
  EXPECT_TRUE(Has(screen, "     ┌")) << screen;
  EXPECT_TRUE(Has(screen, "Greška")) << screen;
  EXPECT_TRUE(Has(screen, "│ čovječe")) << screen;
  ScreenCell cell;
  ASSERT_TRUE(HeadlessCellAt(6, 3, &cell));  // the caption line of the active window
  EXPECT_EQ(cell.background, GetSysColor(COLOR_ACTIVECAPTION));
  ASSERT_TRUE(HeadlessCellAt(7, 5, &cell));
  EXPECT_EQ(cell.text, "č");
  EXPECT_EQ(cell.background, GetSysColor(COLOR_BTNFACE));
  // A second window on top hides the first where they overlap.
  HWND top = CreateWindowExA(0, WC_DIALOG, "Top", WS_POPUP | WS_VISIBLE | WS_BORDER, 0, 4, 12, 3, nullptr, nullptr,
                             nullptr, nullptr);
  ASSERT_TRUE(HeadlessCellAt(7, 5, &cell));
  EXPECT_EQ(cell.text, " ");
  ASSERT_TRUE(HeadlessCellAt(6, 3, &cell));
  EXPECT_EQ(cell.background, GetSysColor(COLOR_INACTIVECAPTION));  // no longer active
  DestroyWindow(top);
  ASSERT_TRUE(HeadlessCellAt(7, 5, &cell));
  EXPECT_EQ(cell.text, "č");
  DestroyWindow(w);
  EXPECT_FALSE(Has(HeadlessScreenText(), "Greška"));
}

TEST_F(PaintTest, ClipboardNeedsOpeningAndCopiesText) {
  EXPECT_FALSE(SetClipboardData(CF_TEXT, const_cast<char*>("x")));
  EXPECT_EQ(GetLastError(), ERROR_CLIPBOARD_NOT_OPEN);
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_TRUE(EmptyClipboard());
  char text[] = "kopija";
  ASSERT_TRUE(SetClipboardData(CF_TEXT, text));
  text[0] = 'X';  // the clipboard has its own copy
  EXPECT_STREQ(static_cast<const char*>(GetClipboardData(CF_TEXT)), "kopija");
  EXPECT_TRUE(CloseClipboard());
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_TEXT));
  EXPECT_FALSE(CloseClipboard());
}

TEST_F(PaintTest, CursorsIconsAndIconFiles) {
  HCURSOR wait = LoadCursorA(nullptr, MAKEINTRESOURCEA(IDC_WAIT));
  EXPECT_EQ(IconStandardNumber(wait), 32514u);
  HCURSOR old = SetCursor(wait);
  EXPECT_EQ(IconStandardNumber(old), static_cast<UINT>(IDC_ARROW));
  EXPECT_EQ(GetCursor(), wait);
  EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(12345)), nullptr);
  EXPECT_STREQ(IconMark(LoadIconA(nullptr, MAKEINTRESOURCEA(IDI_EXCLAMATION))), "(!)");

  TempDir dir;
  auto write = [&](const char* name, const std::string& bytes) {
    std::ofstream(dir.File(name), std::ios::binary) << bytes;
    return dir.File(name);
  };
  // A directory of one 16 x 16 entry whose 40 bytes follow it.
  std::string good("\0\0\1\0\1\0", 6);
  good += std::string("\x10\x10\0\0\1\0\x20\0", 8) + std::string("\x28\0\0\0\x16\0\0\0", 8) + std::string(40, 'x');
  HICON icon = LoadIconFromFileA(write("good.ico", good).c_str(), 0);
  EXPECT_TRUE(icon);
  EXPECT_STREQ(IconMark(icon), "[*]");
  EXPECT_TRUE(DestroyIcon(icon));
  EXPECT_FALSE(DestroyIcon(icon));
  EXPECT_FALSE(LoadIconFromFileA(dir.File("good.ico").c_str(), 1));  // no second entry
  std::string past = good;
  past[14] = '\x7F';  // the image would reach past the end of the file
  EXPECT_FALSE(LoadIconFromFileA(write("past.ico", past).c_str(), 0));
  EXPECT_FALSE(LoadIconFromFileA(write("garbage.ico", "GIF89a not an icon").c_str(), 0));
  EXPECT_FALSE(LoadIconFromFileA(write("short.ico", std::string("\0\0\1\0", 4)).c_str(), 0));
  EXPECT_FALSE(LoadIconFromFileA(dir.File("missing.ico").c_str(), 0));
}

TEST_F(PaintTest, MetricsCaretBeepAndCodePages) {
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 80);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 25);
  RECT work;
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
  EXPECT_EQ(work.right, 80);
  EXPECT_EQ(work.bottom, 25);
  EXPECT_FALSE(SystemParametersInfoA(0x1234, 0, &work, 0));

  HWND w = CreateWindowExA(0, "Edit", "abc", WS_POPUP | WS_VISIBLE, 0, 0, 10, 1, nullptr, nullptr, nullptr, nullptr);
  SetFocus(w);
  SendMessageA(w, EM_SETSEL, 2, 2);
  POINT caret;
  ASSERT_TRUE(GetCaretPos(&caret));
  EXPECT_EQ(caret.x, 2);
  DestroyWindow(w);

  MessageBeep(MB_ICONEXCLAMATION);
  EXPECT_TRUE(Has(HeadlessTranscript(), "beep 0x30"));

  const char ansi[] = "\xE8\xE6\x9E\x9A\xF0";  // čćžšđ
  WCHAR wide[8];
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, ansi, 5, wide, 8), 5);
  EXPECT_EQ(wide[0], 0x10D);
  EXPECT_EQ(wide[4], 0x111);
  char back[8];
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, 5, back, 8, nullptr, nullptr), 5);
  EXPECT_EQ(std::string(back, 5), ansi);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, ansi, 5, wide, 2), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  WCHAR euro[] = {0x20AC, 0x4E2D, 0};  // € maps, 中 does not
  BOOL defaulted = FALSE;
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, euro, -1, back, 8, nullptr, &defaulted), 3);
  EXPECT_EQ(back[0], '\x80');
  EXPECT_EQ(back[1], '?');
  EXPECT_TRUE(defaulted);
}

}  // namespace
