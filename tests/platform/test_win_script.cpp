// The headless script: parsing, errors, dumps and expectations, script and
// transcript files, and the choice of backend.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/platform/temp_dir.h"
#include "tests/platform/test_win_util.h"

namespace {

LRESULT QuitOnDestroy(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(h, m, w, l);
}

class ScriptTest : public HeadlessTest {
 protected:
  // Runs a plain window's message loop until it is closed or the script ends.
  void Loop() {
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
  }
  HWND Window() {
    return CreateWindowExA(0, WC_DIALOG, "Plain", WS_POPUP | WS_CAPTION | WS_VISIBLE, 10, 5, 30, 6, nullptr, nullptr,
                           nullptr, nullptr);
  }
};

TEST_F(ScriptTest, BadLinesAreReportedAndSkipped) {
  HeadlessScript("# a comment\n\n  key Enter  \nkey Hyper+X\nkey Enter x0\nclick 1\ntype unquoted\n"
                 "menu\nfly away\nwait -5\nkey F25\nkey F12 x2\nmouse 3 4");
  std::string log = HeadlessTranscript();
  for (int line : {4, 5, 6, 7, 8, 9, 10, 11})
    EXPECT_TRUE(Has(log, "script error: line " + std::to_string(line) + ":")) << line << "\n" << log;
  EXPECT_FALSE(Has(log, "line 3:"));
  EXPECT_FALSE(Has(log, "line 12:"));
  EXPECT_EQ(HeadlessPendingCommands(), 1u + 2u + 1u);  // Enter, F12 twice, the mouse move
  HeadlessClearScript();
  EXPECT_EQ(HeadlessPendingCommands(), 0u);
}

TEST_F(ScriptTest, DumpExpectAndMouseMoves) {
  HWND w = Window();
  ASSERT_TRUE(w);
  HeadlessScript("mouse 12 7\nexpect \"Plain\"\nexpect \"Absent\"\ndump");
  Loop();
  std::string log = HeadlessTranscript();
  EXPECT_FALSE(Has(log, "expect failed: Plain")) << log;
  EXPECT_TRUE(Has(log, "expect failed: Absent")) << log;
  EXPECT_TRUE(Has(log, "screen 80x25\n| \n")) << log;  // the first row is empty desktop
  EXPECT_TRUE(Has(log, "\n| " + std::string(10, ' ') + "┌" + std::string(11, ' ') + "Plain")) << log;
  POINT p;
  GetCursorPos(&p);
  EXPECT_EQ(p.x, 12);
  EXPECT_EQ(p.y, 7);
}

TEST_F(ScriptTest, FilesFromTheEnvironment) {
  TempDir dir;
  std::string script = dir.File("in.txt"), transcript = dir.File("out.txt");
  std::ofstream(script) << "key Alt+F4\n";
  setenv("PR_UI_SCRIPT", script.c_str(), 1);
  setenv("PR_UI_TRANSCRIPT", transcript.c_str(), 1);
  setenv("PR_UI_SIZE", "100x30", 1);
  ASSERT_TRUE(InitWindowSystem(WindowBackend::Headless, nullptr));
  unsetenv("PR_UI_SCRIPT");
  unsetenv("PR_UI_TRANSCRIPT");
  unsetenv("PR_UI_SIZE");
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 100);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 30);
  WNDCLASSA wc{};
  wc.lpfnWndProc = QuitOnDestroy;
  wc.lpszClassName = "EnvWindow";
  RegisterClassA(&wc);
  HWND w = CreateWindowExA(0, "EnvWindow", "Env", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 0, 0, 20, 5, nullptr,
                           nullptr, nullptr, nullptr);
  ASSERT_TRUE(w);
  MessageBeep(0);
  Loop();  // Alt+F4 closes the window (WM_SYSCOMMAND SC_CLOSE, WM_CLOSE)
  EXPECT_FALSE(IsWindow(w));
  std::stringstream written;
  written << std::ifstream(transcript).rdbuf();
  EXPECT_TRUE(Has(written.str(), "beep 0x0\n")) << written.str();

  WindowSystemOptions missing;
  std::string none = dir.File("none.txt");
  missing.scriptPath = none.c_str();
  EXPECT_FALSE(InitWindowSystem(WindowBackend::Headless, &missing));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  WindowSystemOptions tiny;
  tiny.columns = 3;
  EXPECT_FALSE(InitWindowSystem(WindowBackend::Headless, &tiny));
  setenv("PR_UI", "headless", 1);
  EXPECT_EQ(DefaultWindowBackend(), WindowBackend::Headless);
  setenv("PR_UI", "terminal", 1);
  EXPECT_EQ(DefaultWindowBackend(), WindowBackend::Terminal);
  unsetenv("PR_UI");
}

TEST_F(ScriptTest, CloseBoxAndScrollBarTakeClicks) {
  static int s_scroll[4];
  WNDCLASSA wc{};
  wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m == WM_VSCROLL && LOWORD(w) < 4) ++s_scroll[LOWORD(w)];
    return QuitOnDestroy(h, m, w, l);
  };
  wc.lpszClassName = "Scrolled";
  RegisterClassA(&wc);
  HWND w = CreateWindowExA(0, "Scrolled", "S", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VSCROLL | WS_VISIBLE, 0, 0, 20,
                           10, nullptr, nullptr, nullptr, nullptr);
  SCROLLINFO si{sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS, 0, 99, 10, 0, 0};
  SetScrollInfo(w, SB_VERT, &si, TRUE);
  RECT client;
  GetClientRect(w, &client);
  EXPECT_EQ(client.right, 17);  // frame 2, bar 1
  // The bar is column 18, rows 1 to 8: arrows at both ends, the thumb at the top.
  HeadlessScript("click 18 1\nclick 18 8\nclick 18 6\ndump\nclick 17 0");
  Loop();
  EXPECT_EQ(s_scroll[SB_LINEUP], 1);
  EXPECT_EQ(s_scroll[SB_LINEDOWN], 1);
  EXPECT_EQ(s_scroll[SB_PAGEDOWN], 1);
  EXPECT_FALSE(IsWindow(w));  // the close box
  std::string log = HeadlessTranscript();
  EXPECT_TRUE(Has(log, "[×]┐")) << log;
  EXPECT_TRUE(Has(log, "▲│")) << log;
}

}  // namespace
