// Messages: sending (also across threads), posting, the per-thread queue,
// timers, the default window procedure, and turning backend input into
// keyboard and mouse messages.
#include <algorithm>
#include <cstring>

#include "platform/win_internal.h"

namespace prw {
namespace {

LRESULT CallProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc;
  {
    auto w = Find(window);
    if (!w) return 0;
    Lock lock(S().mu);
    proc = w->proc;
  }
  return proc ? proc(window, message, wParam, lParam) : 0;
}

// Runs messages that other threads sent to this thread's windows.
bool ServeSent(ThreadState& t) {
  State& s = S();
  bool any = false;
  for (;;) {
    std::shared_ptr<SentMessage> m;
    {
      Lock lock(s.mu);
      if (t.sent.empty()) return any;
      m = t.sent.front();
      t.sent.pop_front();
    }
    LRESULT r = CallProc(m->window, m->message, m->wParam, m->lParam);
    {
      Lock lock(s.mu);
      m->result = r;
      m->done = true;
    }
    s.cv.notify_all();
    any = true;
  }
}

bool Matches(const MSG& m, HWND window, UINT lo, UINT hi) {
  if (window && m.hwnd != window && !IsChild(window, m.hwnd)) return false;
  if (lo == 0 && hi == 0) return true;
  return m.message >= lo && m.message <= hi;
}

uint32_t g_toggles = kNum | kInsert;  // lock keys: Num Lock and Insert on, as a keyboard starts

void SetKeyState(ThreadState& t, uint32_t mods) {
  Lock lock(S().mu);
  t.keyDown = mods | g_toggles;
}

bool IsExtendedKey(UINT vk) {
  switch (vk) {
    case VK_PRIOR: case VK_NEXT: case VK_END: case VK_HOME: case VK_LEFT: case VK_UP: case VK_RIGHT:
    case VK_DOWN: case VK_INSERT: case VK_DELETE: case VK_APPS:
      return true;
    default:
      return false;
  }
}

void PostInput(HWND target, UINT message, WPARAM wParam, LPARAM lParam) {
  auto w = Find(target);
  if (!w) return;
  auto t = ThreadOf(w->thread);
  if (!t) return;
  State& s = S();
  Lock lock(s.mu);
  MSG m{target, message, wParam, lParam, static_cast<DWORD>(Now()), s.mouse};
  t->posted.push_back(m);
  s.cv.notify_all();
}

HWND KeyboardTarget() {
  ThreadState& t = Current();
  Lock lock(S().mu);
  if (t.focus && Find(t.focus)) return t.focus;
  if (t.active && Find(t.active)) return t.active;
  HWND fg = S().foreground;
  if (auto w = Find(fg)) {
    auto owner = ThreadOf(w->thread);
    if (owner && owner->focus && Find(owner->focus)) return owner->focus;
    return fg;
  }
  return nullptr;
}

// The first visible, enabled control (topmost window first) whose text
// without mnemonics equals `text`.
HWND FindControlByText(HWND parent, const std::string& text) {
  auto p = Find(parent);
  if (!p) return nullptr;
  std::vector<HWND> kids;
  {
    Lock lock(S().mu);
    kids = p->children;
  }
  for (HWND k : kids) {
    auto c = Find(k);
    if (!c || !(c->style & WS_VISIBLE)) continue;
    if (!(c->style & WS_DISABLED) && StripMnemonic(c->text) == text) return k;
    if (HWND d = FindControlByText(k, text)) return d;
  }
  return nullptr;
}

void MouseMessage(UINT message, POINT screen) {
  State& s = S();
  {
    Lock lock(s.mu);
    s.mouse = screen;
  }
  ThreadState& t = Current();
  HWND target;
  {
    Lock lock(s.mu);
    target = t.capture;
  }
  if (!target) target = WindowFromPoint(screen);
  if (!target) return;
  // Clicks on a disabled control go to its parent; on a disabled top-level
  // window (the owner of a modal dialog) they only beep.
  while (target && !IsWindowEnabled(target)) {
    auto w = Find(target);
    if (!w || !(w->style & WS_CHILD)) {
      if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN) MessageBeep(0);
      return;
    }
    target = w->parent;
  }
  auto w = Find(target);
  if (!w) return;
  HWND root = RootOf(target);
  if ((message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN) &&
      w->thread == GetCurrentThreadId() && GetActiveWindow() != root)
    SetActiveWindow(root);
  RECT client;
  RECT whole;
  {
    Lock lock(s.mu);
    client = ScreenClientRect(*w);
    whole = ScreenWindowRect(*w);
  }
  // The vertical scroll bar column of a WS_VSCROLL window.
  bool onBar = (w->style & WS_VSCROLL) && screen.x == client.right && screen.y >= client.top &&
               screen.y < client.bottom && t.capture != target;
  if (onBar) {
    if (message != WM_LBUTTONDOWN) return;
    int h = client.bottom - client.top;
    int y = screen.y - client.top;
    SCROLLINFO si{sizeof si, SIF_ALL, 0, 0, 0, 0, 0};
    GetScrollInfo(target, SB_VERT, &si);
    int range = std::max(1, si.nMax - si.nMin - static_cast<int>(si.nPage ? si.nPage - 1 : 0));
    int thumb = h > 2 ? 1 + static_cast<int>((static_cast<int64_t>(si.nPos - si.nMin) * (h - 3)) / range) : 0;
    WORD code = y == 0 ? SB_LINEUP : y == h - 1 ? SB_LINEDOWN : y < thumb ? SB_PAGEUP : y > thumb ? SB_PAGEDOWN
                                                                                                     : SB_THUMBPOSITION;
    PostInput(target, WM_VSCROLL, MAKEWPARAM(code, static_cast<WORD>(si.nPos)), 0);
    return;
  }
  bool inClient = screen.x >= client.left && screen.x < client.right && screen.y >= client.top &&
                  screen.y < client.bottom;
  bool inWindow = screen.x >= whole.left && screen.x < whole.right && screen.y >= whole.top &&
                  screen.y < whole.bottom;
  if (!inClient && !(t.capture == target)) {
    if (message == WM_MOUSEMOVE) {
      PostInput(target, WM_NCMOUSEMOVE, HTBORDER, MAKELPARAM(static_cast<WORD>(screen.x), static_cast<WORD>(screen.y)));
      return;
    }
    // Frames and captions take no clicks, except the close box.
    if (inWindow && message == WM_LBUTTONUP && !(w->style & WS_CHILD) && screen.y == whole.top &&
        screen.x >= whole.right - 4 && screen.x < whole.right - 1) {
      bool close;
      {
        Lock lock(s.mu);
        close = HasCloseBox(*w);
      }
      if (close) PostInput(target, WM_SYSCOMMAND, SC_CLOSE, MAKELPARAM(static_cast<WORD>(screen.x), static_cast<WORD>(screen.y)));
    }
    return;
  }
  WPARAM keys = 0;
  {
    Lock lock(s.mu);
    if (t.keyDown & kShift) keys |= MK_SHIFT;
    if (t.keyDown & kCtrl) keys |= MK_CONTROL;
  }
  if (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK) keys |= MK_LBUTTON;
  if (message == WM_RBUTTONDOWN || message == WM_RBUTTONDBLCLK) keys |= MK_RBUTTON;
  if (message == WM_LBUTTONDBLCLK || message == WM_RBUTTONDBLCLK || message == WM_MBUTTONDBLCLK) {
    if (!(w->cls->style & CS_DBLCLKS)) message -= 2;  // *DBLCLK -> *DOWN
  }
  int x = screen.x - client.left, y = screen.y - client.top;
  PostInput(target, message, keys, MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
  if (message == WM_RBUTTONUP) {
    PostInput(target, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(target),
              MAKELPARAM(static_cast<WORD>(screen.x), static_cast<WORD>(screen.y)));
  }
}

}  // namespace

bool ReadInput(InputEvent* event, int timeoutMs) {
  State& s = S();
  Backend* b;
  {
    Lock lock(s.mu);
    if (!s.backend || s.inputBusy) return false;
    s.inputBusy = true;
    b = s.backend.get();
  }
  bool got = b->ReadInput(event, timeoutMs);
  {
    Lock lock(s.mu);
    s.inputBusy = false;
  }
  s.cv.notify_all();
  if (got && event->kind != InputEvent::kExhausted) Current().exhaustStage = 0;
  return got;
}

void RouteInput(const InputEvent& e) {
  State& s = S();
  ThreadState& t = Current();
  switch (e.kind) {
    case InputEvent::kKey: {
      SetKeyState(t, e.mods);
      HWND target = KeyboardTarget();
      if (!target) return;
      bool alt = (e.mods & kAlt) != 0;
      LPARAM lp = 1 | (IsExtendedKey(e.vk) ? KF_EXTENDED_BIT : 0) | (alt ? KF_ALTDOWN_BIT : 0);
      PostInput(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, e.vk, lp);
      if (e.ch) PostInput(target, alt ? WM_SYSCHAR : WM_CHAR, e.ch, lp);
      PostInput(target, alt ? WM_SYSKEYUP : WM_KEYUP, e.vk, lp | KF_UP_BIT | (1 << 30));
      if (e.vk == VK_APPS && !alt)
        PostInput(target, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(target), static_cast<LPARAM>(-1));
      return;
    }
    case InputEvent::kMouse:
      SetKeyState(t, e.mods);
      MouseMessage(e.message, POINT{e.x, e.y});
      return;
    case InputEvent::kMove:
      // The window under the pointer hears of it (a status line shows the
      // tip of the control the mouse rests on).
      MouseMessage(WM_MOUSEMOVE, POINT{e.x, e.y});
      return;
    case InputEvent::kPress: {
      std::vector<HWND> roots;
      {
        Lock lock(s.mu);
        roots = s.topLevels;
      }
      for (HWND r : roots) {
        if (!IsWindowVisible(r)) continue;
        HWND c = FindControlByText(r, e.text);
        if (!c) continue;
        RECT rc;
        GetWindowRect(c, &rc);
        POINT p{rc.left + (rc.right - rc.left) / 2, rc.top + (rc.bottom - rc.top - 1) / 2};
        MouseMessage(WM_LBUTTONDOWN, p);
        MouseMessage(WM_LBUTTONUP, p);
        return;
      }
      Record("script error: no control " + Quote(Utf8ToAnsiString(e.text)));
      return;
    }
    case InputEvent::kMenu:
    case InputEvent::kMenuCancel:
      Record("script error: no menu is open");
      return;
    case InputEvent::kDump:
    case InputEvent::kWait:
    case InputEvent::kResize:
    case InputEvent::kExhausted:
    case InputEvent::kNone:
      return;
  }
}

}  // namespace prw

using namespace prw;

// ---------------------------------------------------------------- sending and posting
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  State& s = S();
  auto w = FindOrFail(window);
  if (!w) return 0;
  DWORD self = GetCurrentThreadId();
  if (w->thread == self) return CallProc(window, message, wParam, lParam);
  auto target = ThreadOf(w->thread);
  if (!target) return 0;
  auto m = std::make_shared<SentMessage>(SentMessage{window, message, wParam, lParam});
  ThreadState& me = Current();
  Lock lock(s.mu);
  target->sent.push_back(m);
  s.cv.notify_all();
  if (s.backend) s.backend->Wake();
  while (!m->done) {
    if (!me.sent.empty()) {
      lock.unlock();
      ServeSent(me);
      lock.lock();
      continue;
    }
    if (!Find(window)) return 0;
    s.cv.wait_for(lock, std::chrono::milliseconds(50));
  }
  return m->result;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  State& s = S();
  if (!EnsureStarted()) return FALSE;
  std::shared_ptr<ThreadState> t;
  if (!window) {
    Current();
    t = ThreadOf(GetCurrentThreadId());
  } else {
    auto w = FindOrFail(window);
    if (!w) return FALSE;
    t = ThreadOf(w->thread);
    if (!t) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
  }
  {
    Lock lock(s.mu);
    t->posted.push_back(MSG{window, message, wParam, lParam, static_cast<DWORD>(Now()), s.mouse});
    if (s.backend) s.backend->Wake();
  }
  s.cv.notify_all();
  return TRUE;
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  State& s = S();
  auto t = ThreadOf(threadId);
  if (!t) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  {
    Lock lock(s.mu);
    t->posted.push_back(MSG{nullptr, message, wParam, lParam, static_cast<DWORD>(Now()), s.mouse});
    if (s.backend) s.backend->Wake();
  }
  s.cv.notify_all();
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  ThreadState& t = Current();
  Lock lock(S().mu);
  t.quit = true;
  t.quitCode = exitCode;
}

// ---------------------------------------------------------------- the queue
namespace {

enum class Take { kRemove, kKeep };

// One look at the thread's sources, in Windows order.  True with *msg filled
// when a message is available.
bool LookOnce(ThreadState& t, MSG* msg, HWND window, UINT lo, UINT hi, Take take) {
  State& s = S();
  ServeSent(t);
  {
    Lock lock(s.mu);
    for (auto it = t.posted.begin(); it != t.posted.end(); ++it) {
      if (!Matches(*it, window, lo, hi)) continue;
      *msg = *it;
      if (take == Take::kRemove) t.posted.erase(it);
      t.lastTime = msg->time;
      t.lastPos = msg->pt;
      return true;
    }
    if (t.quit && (lo == 0 || (WM_QUIT >= lo && WM_QUIT <= hi))) {
      *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(t.quitCode), 0, static_cast<DWORD>(Now()), s.mouse};
      if (take == Take::kRemove) t.quit = false;
      return true;
    }
  }
  // Windows that need painting are painted right here, before timers.
  if (lo == 0 || (WM_PAINT >= lo && WM_PAINT <= hi)) PaintThreadWindows();
  if (lo == 0 || (WM_TIMER >= lo && WM_TIMER <= hi)) {
    Lock lock(s.mu);
    uint64_t now = Now();
    for (auto& tm : t.timers) {
      if (tm.due > now) continue;
      if (window && tm.window != window && !IsChild(window, tm.window)) continue;
      *msg = MSG{tm.window, WM_TIMER, tm.id, reinterpret_cast<LPARAM>(tm.proc), static_cast<DWORD>(now), s.mouse};
      if (take == Take::kRemove) tm.due = now + std::max<UINT>(tm.elapse, 1);
      return true;
    }
  }
  return false;
}

// The headless script has run out while the thread waits: end the innermost
// modal loop, else close the active window, else quit.  Never blocks.
void Exhausted(ThreadState& t) {
  State& s = S();
  ModalFrame* frame = nullptr;
  HWND active;
  int stage;
  {
    Lock lock(s.mu);
    for (auto it = t.modal.rbegin(); it != t.modal.rend(); ++it)
      if (!(*it)->abandoned) {
        frame = *it;
        break;
      }
    active = t.active;
    stage = t.exhaustStage;
  }
  if (frame) {
    frame->abandoned = true;
    if (frame->dialog) {
      Record("script exhausted: closing dialog " + Quote(WindowText(frame->dialog)) + " without a button");
      EndDialog(frame->dialog, 0);
    }
    PostMessageA(nullptr, WM_NULL, 0, 0);
    return;
  }
  if (stage == 0 && active && IsWindow(active)) {
    Record("script exhausted: closing " + Quote(WindowText(active)));
    t.exhaustStage = 1;
    PostMessageA(active, WM_CLOSE, 0, 0);
    return;
  }
  Record("script exhausted: quitting");
  t.exhaustStage = 2;
  PostQuitMessage(0);
}

// Whether the thread has something on the screen that input is meant for.
bool WaitsForUser(ThreadState& t) {
  State& s = S();
  Lock lock(s.mu);
  if (!t.modal.empty()) return true;
  for (HWND h : s.topLevels) {
    auto w = Find(h);
    if (w && w->thread == t.id && (w->style & WS_VISIBLE)) return true;
  }
  return false;
}

// Blocks until something arrives for the thread, or until the next timer.
void WaitForSomething(ThreadState& t) {
  State& s = S();
  uint64_t nextTimer = UINT64_MAX;
  {
    Lock lock(s.mu);
    for (auto& tm : t.timers) nextTimer = std::min(nextTimer, tm.due);
  }
  ComposeAndPresent();
  bool headless;
  {
    Lock lock(s.mu);
    headless = s.backend && s.backend->Headless();
  }
  InputEvent e;
  if (headless && !WaitsForUser(t)) {
    // A thread without visible windows waits for other threads, not for the
    // script; after about two seconds of nothing it is told to quit.
    static thread_local int idle = 0;
    if (nextTimer != UINT64_MAX) {
      Lock lock(s.mu);
      s.virtualTime = std::max(s.virtualTime, nextTimer);
      return;
    }
    Lock lock(s.mu);
    if (t.posted.empty() && t.sent.empty() && !t.quit) s.cv.wait_for(lock, std::chrono::milliseconds(20));
    if (t.posted.empty() && t.sent.empty() && !t.quit && (t.exhaustStage > 0 || ++idle > 100)) {
      idle = 0;
      lock.unlock();
      Exhausted(t);
    } else if (!t.posted.empty() || !t.sent.empty()) {
      idle = 0;
    }
    return;
  }
  if (headless) {
    if (ReadInput(&e, 0)) {
      if (e.kind == InputEvent::kExhausted) {
        // Timers keep running on virtual time for a while before the wait
        // counts as a dead end.
        static thread_local int idleTicks = 0;
        if (nextTimer != UINT64_MAX && idleTicks < 1000) {
          ++idleTicks;
          Lock lock(s.mu);
          s.virtualTime = std::max(s.virtualTime, nextTimer);
          return;
        }
        idleTicks = 0;
        Exhausted(t);
        return;
      }
      if (e.kind == InputEvent::kWait) {
        Lock lock(s.mu);
        s.virtualTime += static_cast<uint64_t>(std::max(0, e.number));
        return;
      }
      if (e.kind == InputEvent::kDump) return;  // the backend recorded the screen
      RouteInput(e);
      return;
    }
    // Another thread reads the script: wait for it.
    Lock lock(s.mu);
    s.cv.wait_for(lock, std::chrono::milliseconds(20));
    return;
  }
  int timeout = 100;
  if (nextTimer != UINT64_MAX) {
    uint64_t now = Now();
    timeout = nextTimer <= now ? 0 : static_cast<int>(std::min<uint64_t>(nextTimer - now, 100));
  }
  if (ReadInput(&e, timeout)) {
    if (e.kind == InputEvent::kExhausted) {
      // The terminal's input is gone: nobody can answer any more, so each
      // wait closes what is open, as Cancel or the close box would, until
      // the program has ended.
      Exhausted(t);
    } else if (e.kind == InputEvent::kResize) {
      Lock lock(s.mu);
      s.screen.Resize(s.backend->Columns(), s.backend->Rows());
      lock.unlock();
      InvalidateAll();
    } else {
      RouteInput(e);
    }
    return;
  }
  Lock lock(s.mu);
  if (t.posted.empty() && t.sent.empty()) s.cv.wait_for(lock, std::chrono::milliseconds(timeout > 0 ? 1 : 0));
}

}  // namespace

BOOL GetMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax) {
  if (!msg || !EnsureStarted()) return -1;
  if (window && !FindOrFail(window)) return -1;
  ThreadState& t = Current();
  for (;;) {
    if (LookOnce(t, msg, window, filterMin, filterMax, Take::kRemove)) return msg->message == WM_QUIT ? FALSE : TRUE;
    if (window && !IsWindow(window)) return -1;
    WaitForSomething(t);
  }
}

BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  if (!msg || !EnsureStarted()) return FALSE;
  ThreadState& t = Current();
  Take take = (removeFlags & PM_REMOVE) ? Take::kRemove : Take::kKeep;
  if (LookOnce(t, msg, window, filterMin, filterMax, take)) return TRUE;
  // Pull in input that is already waiting, without blocking.
  State& s = S();
  bool headless;
  {
    Lock lock(s.mu);
    headless = s.backend && s.backend->Headless();
  }
  if (!headless) {
    InputEvent e;
    ComposeAndPresent();
    if (ReadInput(&e, 0)) {
      RouteInput(e);
      return LookOnce(t, msg, window, filterMin, filterMax, take) ? TRUE : FALSE;
    }
  }
  return FALSE;
}

BOOL WaitMessage() {
  if (!EnsureStarted()) return FALSE;
  ThreadState& t = Current();
  MSG m;
  while (!LookOnce(t, &m, nullptr, 0, 0, Take::kKeep)) WaitForSomething(t);
  return TRUE;
}

BOOL TranslateMessage(const MSG* msg) {
  return msg && (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) ? TRUE : FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
    proc(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
    return 0;
  }
  if (!msg->hwnd) return 0;
  auto w = Find(msg->hwnd);
  if (!w) return 0;
  if (w->thread != GetCurrentThreadId()) return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
  return CallProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT CallWindowProcA(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(window, message, wParam, lParam) : 0;
}

DWORD GetMessageTime() {
  ThreadState& t = Current();
  Lock lock(S().mu);
  return t.lastTime;
}

LONG GetMessagePos() {
  ThreadState& t = Current();
  Lock lock(S().mu);
  return MAKELONG(static_cast<WORD>(t.lastPos.x), static_cast<WORD>(t.lastPos.y));
}

SHORT GetKeyState(int virtualKey) {
  ThreadState& t = Current();
  uint32_t k;
  {
    Lock lock(S().mu);
    k = t.keyDown;
  }
  auto down = [](bool b) { return static_cast<SHORT>(b ? 0x8000 : 0); };
  switch (virtualKey) {
    case VK_SHIFT: return down(k & kShift);
    case VK_CONTROL: return down(k & kCtrl);
    case VK_MENU: return down(k & kAlt);
    case VK_CAPITAL: return static_cast<SHORT>((k & kCaps) ? 1 : 0);
    case VK_NUMLOCK: return static_cast<SHORT>((k & kNum) ? 1 : 0);
    case VK_SCROLL: return static_cast<SHORT>((k & kScroll) ? 1 : 0);
    case VK_INSERT: return static_cast<SHORT>((k & kInsert) ? 1 : 0);
    default: return 0;
  }
}

SHORT GetAsyncKeyState(int virtualKey) { return GetKeyState(virtualKey); }

// ---------------------------------------------------------------- timers
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc) {
  if (!EnsureStarted()) return 0;
  if (window) {
    auto w = FindOrFail(window);
    if (!w) return 0;
    if (w->thread != GetCurrentThreadId()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    }
  }
  ThreadState& t = Current();
  Lock lock(S().mu);
  if (!window) id = t.nextTimerId++;
  elapse = std::clamp<UINT>(elapse, 10, 0x7FFFFFFF);
  for (auto& tm : t.timers)
    if (tm.window == window && tm.id == id) {
      tm.elapse = elapse;
      tm.proc = proc;
      tm.due = Now() + elapse;
      return window ? 1 : id;
    }
  t.timers.push_back(Timer{window, id, elapse, proc, Now() + elapse});
  return window ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  ThreadState& t = Current();
  Lock lock(S().mu);
  auto before = t.timers.size();
  std::erase_if(t.timers, [&](const Timer& tm) { return tm.window == window && tm.id == id; });
  if (before == t.timers.size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

// ---------------------------------------------------------------- the default procedure
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto w = Find(window);
  if (!w) return 0;
  State& s = S();
  switch (message) {
    case WM_NCCREATE: return TRUE;
    case WM_SETTEXT: {
      const char* text = reinterpret_cast<const char*>(lParam);
      {
        Lock lock(s.mu);
        w->text = text ? std::string(text, strnlen(text, 65535)) : std::string();
      }
      InvalidateTree(window);
      if (!(w->style & WS_CHILD)) InvalidateAll();
      return TRUE;
    }
    case WM_GETTEXT: {
      char* out = reinterpret_cast<char*>(lParam);
      if (!out || wParam == 0) return 0;
      Lock lock(s.mu);
      size_t n = std::min(w->text.size(), static_cast<size_t>(wParam) - 1);
      std::memcpy(out, w->text.data(), n);
      out[n] = 0;
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH: {
      Lock lock(s.mu);
      return static_cast<LRESULT>(w->text.size());
    }
    case WM_SETFONT: {
      Lock lock(s.mu);
      w->font = reinterpret_cast<HFONT>(wParam);
      return 0;
    }
    case WM_GETFONT: {
      Lock lock(s.mu);
      return reinterpret_cast<LRESULT>(w->font);
    }
    case WM_SETICON: {
      Lock lock(s.mu);
      auto old = w->icon;
      w->icon = reinterpret_cast<HICON>(lParam);
      return reinterpret_cast<LRESULT>(old);
    }
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(window, &ps);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_ERASEBKGND: {
      HBRUSH b;
      {
        Lock lock(s.mu);
        b = w->cls->background;
      }
      if (!b) return 0;
      RECT r;
      GetClientRect(window, &r);
      FillRect(reinterpret_cast<HDC>(wParam), &r, BackgroundBrush(b));
      return 1;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) {
        HWND f = GetFocus();
        if (!f || (f != window && !IsChild(window, f))) SetFocus(window);
      }
      return 0;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      bool edit = message == WM_CTLCOLOREDIT || message == WM_CTLCOLORLISTBOX;
      SetTextColor(dc, GetSysColor(edit ? COLOR_WINDOWTEXT : COLOR_BTNTEXT));
      SetBkColor(dc, GetSysColor(edit ? COLOR_WINDOW : COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(edit ? COLOR_WINDOW : COLOR_BTNFACE));
    }
    case WM_SETCURSOR: return FALSE;
    case WM_MOUSEACTIVATE: return 1;
    case WM_NCHITTEST: return HTCLIENT;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_SYSKEYDOWN:
      if (wParam == VK_F1 + 3 && (GetKeyState(VK_MENU) & 0x8000)) {  // Alt+F4
        PostMessageA(RootOf(window), WM_SYSCOMMAND, SC_CLOSE, 0);
      }
      return 0;
    case WM_CONTEXTMENU:
      // Unhandled context menus bubble up to the parent.
      if ((w->style & WS_CHILD) && w->parent) return SendMessageA(w->parent, message, wParam, lParam);
      return 0;
    default: return 0;
  }
}
