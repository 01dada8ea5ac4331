// Windows, messages and queues: posting and filters, sends across threads,
// timers, waits that run out of script, stale handles, focus, key messages.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/platform/test_win_util.h"

namespace {

std::vector<MSG> g_seen;

LRESULT RecordingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_KEYDOWN || m == WM_CHAR || m == WM_KEYUP || m == WM_CONTEXTMENU || m == WM_USER + 1 ||
      m == WM_LBUTTONDOWN || m == WM_SYSKEYDOWN || m == WM_SYSCHAR) {
    MSG msg{h, m, w, l, 0, {0, 0}};
    if (m == WM_KEYDOWN) msg.time = (GetKeyState(VK_CONTROL) & 0x8000) ? 1 : 0;  // the key state while handling
    g_seen.push_back(msg);
  }
  if (m == WM_USER + 2) return static_cast<LRESULT>(GetCurrentThreadId());
  return DefWindowProcA(h, m, w, l);
}

class WindowTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    g_seen.clear();
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "Recording";
    wc.cbWndExtra = 16;
    RegisterClassA(&wc);
  }
  HWND Make(DWORD style, HWND parent = nullptr, int id = 0) {
    return CreateWindowExA(0, "Recording", "Win", style, 2, 2, 40, 12, parent,
                           reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), nullptr, nullptr);
  }
};

TEST_F(WindowTest, PostedMessagesKeepOrderAndFilters) {
  HWND w = Make(WS_POPUP);
  ASSERT_TRUE(w);
  PostMessageA(w, WM_USER + 1, 1, 0);
  PostMessageA(w, WM_COMMAND, 7, 0);
  PostMessageA(w, WM_USER + 1, 2, 0);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_COMMAND, WM_COMMAND, PM_NOREMOVE));
  EXPECT_EQ(m.wParam, 7u);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_COMMAND, WM_COMMAND, PM_REMOVE));
  EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_COMMAND, WM_COMMAND, PM_REMOVE));
  ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
  EXPECT_EQ(m.wParam, 1u);
  ASSERT_TRUE(GetMessageA(&m, w, 0, 0));
  EXPECT_EQ(m.wParam, 2u);
  PostQuitMessage(4);
  EXPECT_FALSE(GetMessageA(&m, nullptr, 0, 0));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 4u);
  DestroyWindow(w);
}

TEST_F(WindowTest, SendToAnotherThreadRunsThere) {
  std::atomic<HWND> made{nullptr};
  std::atomic<DWORD> tid{0};
  std::thread other([&] {
    tid = GetCurrentThreadId();
    made = Make(WS_POPUP);  // hidden: this thread waits for messages, not for the script
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
    DestroyWindow(made);
  });
  while (!made) std::this_thread::yield();
  EXPECT_EQ(static_cast<DWORD>(SendMessageA(made, WM_USER + 2, 0, 0)), tid.load());
  EXPECT_NE(tid.load(), GetCurrentThreadId());
  EXPECT_FALSE(DestroyWindow(made));  // only the owning thread destroys it
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(PostThreadMessageA(tid, WM_QUIT, 0, 0));
  other.join();
  EXPECT_FALSE(IsWindow(made));
  // A thread that ends with its windows open takes them along.
  HWND left = nullptr;
  std::thread([&] { left = Make(WS_POPUP | WS_VISIBLE); }).join();
  EXPECT_TRUE(left);
  EXPECT_FALSE(IsWindow(left));
  EXPECT_EQ(FindWindowA("Recording", nullptr), nullptr);
}

TEST_F(WindowTest, TimersRunOnVirtualTime) {
  HWND w = Make(WS_POPUP | WS_VISIBLE);
  ASSERT_EQ(SetTimer(w, 9, 60000, nullptr), 9u);  // a minute, delivered at once
  MSG m;
  ASSERT_TRUE(GetMessageA(&m, nullptr, WM_TIMER, WM_TIMER));
  EXPECT_EQ(m.hwnd, w);
  EXPECT_EQ(m.wParam, 9u);
  EXPECT_TRUE(KillTimer(w, 9));
  EXPECT_FALSE(KillTimer(w, 9));
  DestroyWindow(w);
}

TEST_F(WindowTest, WaitWithoutScriptClosesThenQuits) {
  HWND w = Make(WS_POPUP | WS_CAPTION | WS_VISIBLE);
  MSG m;
  ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
  EXPECT_EQ(m.message, WM_CLOSE);
  EXPECT_EQ(m.hwnd, w);
  DispatchMessageA(&m);  // the default procedure destroys the window
  EXPECT_FALSE(IsWindow(w));
  EXPECT_FALSE(GetMessageA(&m, nullptr, 0, 0));
  std::string log = HeadlessTranscript();
  EXPECT_TRUE(Has(log, "script exhausted: closing \"Win\"")) << log;
  EXPECT_TRUE(Has(log, "script exhausted: quitting")) << log;
}

TEST_F(WindowTest, StaleAndForeignHandlesAreRefused) {
  HWND w = Make(WS_POPUP);
  DestroyWindow(w);
  RECT r;
  for (HWND h : {w, reinterpret_cast<HWND>(0x1234), reinterpret_cast<HWND>(-1)}) {
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(SendMessageA(h, WM_USER + 2, 0, 0), 0);
    EXPECT_FALSE(PostMessageA(h, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(GetWindowRect(h, &r));
    EXPECT_FALSE(SetWindowTextA(h, "x"));
  }
  HWND v = Make(WS_POPUP);
  EXPECT_EQ(SetWindowLongPtrA(v, 8, 42), 0);
  EXPECT_EQ(GetWindowLongPtrA(v, 8), 42);
  EXPECT_EQ(GetWindowLongPtrA(v, 16), 0);  // past the class's 16 extra bytes
  EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
  EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
  EXPECT_FALSE(UnregisterClassA("Recording", nullptr));  // a window of the class exists
  DestroyWindow(v);
}

TEST_F(WindowTest, DestroyMovesFocusAndActivationBack) {
  HWND main = Make(WS_POPUP | WS_CAPTION | WS_VISIBLE);
  HWND child = Make(WS_CHILD | WS_VISIBLE, main, 5);
  EXPECT_EQ(GetDlgItem(main, 5), child);
  HWND popup = CreateWindowExA(0, "Recording", "Popup", WS_POPUP | WS_VISIBLE, 5, 5, 10, 5, main, nullptr, nullptr,
                               nullptr);
  EXPECT_EQ(GetWindow(popup, GW_OWNER), main);
  EXPECT_EQ(GetActiveWindow(), popup);
  DestroyWindow(popup);
  EXPECT_EQ(GetActiveWindow(), main);
  SetFocus(child);
  EXPECT_EQ(GetFocus(), child);
  DestroyWindow(child);
  EXPECT_EQ(GetFocus(), nullptr);
  // Destroying the owner takes its owned windows with it.
  HWND owned = CreateWindowExA(0, "Recording", "O", WS_POPUP, 0, 0, 4, 4, main, nullptr, nullptr, nullptr);
  DestroyWindow(main);
  EXPECT_FALSE(IsWindow(owned));
  EXPECT_EQ(GetActiveWindow(), nullptr);
}

TEST_F(WindowTest, KeysReachTheFocusWithStateAndExtendedBit) {
  HWND main = Make(WS_POPUP | WS_VISIBLE);
  HWND child = Make(WS_CHILD | WS_VISIBLE, main, 1);
  SetFocus(child);
  HeadlessScript("key Ctrl+Up\ntype \"š\"\nkey Apps\nkey Alt+x\nclick 5 5");
  MSG m;
  while (HeadlessPendingCommands() > 0 || PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE)) {
    if (!PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
    }
    DispatchMessageA(&m);
  }
  ASSERT_GE(g_seen.size(), 8u);
  EXPECT_EQ(g_seen[0].hwnd, child);
  EXPECT_EQ(g_seen[0].message, WM_KEYDOWN);
  EXPECT_EQ(g_seen[0].wParam, VK_UP);
  EXPECT_TRUE(g_seen[0].lParam & KF_EXTENDED_BIT);
  EXPECT_EQ(g_seen[0].time, 1u);  // Ctrl was down while the key was handled
  EXPECT_EQ(g_seen[1].message, WM_KEYUP);
  EXPECT_EQ(g_seen[2].message, WM_KEYDOWN);
  EXPECT_FALSE(g_seen[2].lParam & KF_EXTENDED_BIT);
  EXPECT_EQ(g_seen[3].message, WM_CHAR);
  EXPECT_EQ(g_seen[3].wParam, 0x9Au);  // š in Windows-1250
  bool context = false, sysChar = false, click = false;
  for (const MSG& s : g_seen) {
    context |= s.message == WM_CONTEXTMENU && s.hwnd == child;
    sysChar |= s.message == WM_SYSCHAR && s.wParam == 'x';
    click |= s.message == WM_LBUTTONDOWN && s.hwnd == child && GET_X_LPARAM(s.lParam) == 1 && GET_Y_LPARAM(s.lParam) == 1;
  }
  EXPECT_TRUE(context);
  EXPECT_TRUE(sysChar);
  EXPECT_TRUE(click);  // the child sits at (2, 2) of a frameless window at (2, 2): screen (5, 5) is its (1, 1)
  DestroyWindow(main);
}

}  // namespace

namespace {

TEST_F(WindowTest, TreeOrderTextAndGeometry) {
  HWND main = Make(WS_POPUP | WS_BORDER | WS_VISIBLE);
  HWND a = Make(WS_CHILD | WS_VISIBLE, main, 1);
  HWND b = Make(WS_CHILD | WS_VISIBLE, main, 2);
  // New children go on top: b first; HWND_BOTTOM sends b under a.
  EXPECT_EQ(GetWindow(main, GW_CHILD), b);
  EXPECT_EQ(GetWindow(b, GW_HWNDNEXT), a);
  SetWindowPos(b, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(GetWindow(main, GW_CHILD), a);
  EXPECT_EQ(GetAncestor(b, GA_ROOT), main);
  EXPECT_TRUE(IsChild(main, b));
  std::vector<HWND> seen;
  EnumChildWindows(main, [](HWND h, LPARAM p) {
    reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
    return TRUE;
  }, reinterpret_cast<LPARAM>(&seen));
  EXPECT_EQ(seen, (std::vector<HWND>{a, b}));

  SetWindowTextA(a, "abcdef");
  char small[4];
  EXPECT_EQ(GetWindowTextA(a, small, sizeof small), 3);  // cut to the buffer, NUL-terminated
  EXPECT_STREQ(small, "abc");
  EXPECT_EQ(GetWindowTextLengthA(a), 6);

  // Client coordinates: main's frame is one cell; a sits at (2, 2) inside it.
  POINT p{0, 0};
  ClientToScreen(a, &p);
  EXPECT_EQ(p.x, 2 + 1 + 2);
  EXPECT_EQ(p.y, 2 + 1 + 2);
  MoveWindow(a, 4, 0, 5, 2, TRUE);
  RECT r;
  GetWindowRect(a, &r);
  EXPECT_EQ(r.left, 2 + 1 + 4);
  EXPECT_EQ(r.right - r.left, 5);
  EXPECT_EQ(WindowFromPoint(POINT{r.left, r.top}), a);
  EXPECT_EQ(ChildWindowFromPoint(main, POINT{4, 0}), a);
  ShowWindow(a, SW_HIDE);
  EXPECT_FALSE(IsWindowVisible(a));
  EXPECT_NE(WindowFromPoint(POINT{r.left, r.top}), a);
  DestroyWindow(main);
}

TEST_F(WindowTest, PostsReachAnotherThreadsQueue) {
  std::atomic<HWND> made{nullptr};
  std::atomic<int> got{0};
  std::thread other([&] {
    made = Make(WS_POPUP);
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0)
      if (m.message == WM_COMMAND) got = static_cast<int>(m.wParam);
  });
  while (!made) std::this_thread::yield();
  ASSERT_TRUE(PostMessageA(made, WM_COMMAND, 77, 0));
  for (int i = 0; i < 500 && got == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(got, 77);
  EXPECT_EQ(SetTimer(made, 1, 10, nullptr), 0u);  // timers belong to the window's own thread
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  DWORD tid = GetWindowThreadProcessId(made, nullptr);
  PostThreadMessageA(tid, WM_QUIT, 0, 0);
  other.join();
}

}  // namespace
