// Keyboard focus, activation, the foreground window and mouse capture.
#include <algorithm>

#include "platform/win_internal.h"

using namespace prw;

// ---------------------------------------------------------------- focus and activation
HWND SetFocus(HWND window) {
  State& s = S();
  ThreadState& t = Current();
  HWND old;
  {
    Lock lock(s.mu);
    old = t.focus;
  }
  if (window) {
    auto w = FindOrFail(window);
    if (!w) return nullptr;
    if (w->thread != GetCurrentThreadId()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    if (window == old) return old;
    HWND root = RootOf(window);
    if (GetActiveWindow() != root) {
      SetActiveWindow(root);
      Lock lock(s.mu);
      old = t.focus;
      if (old == window) return old;
    }
  }
  {
    Lock lock(s.mu);
    t.focus = window;
  }
  if (old && IsWindow(old)) {
    SendMessageA(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(window), 0);
    InvalidateTree(old);
  }
  if (window && IsWindow(window)) {
    SendMessageA(window, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    InvalidateTree(window);
  }
  return old;
}

HWND GetFocus() {
  ThreadState& t = Current();
  Lock lock(S().mu);
  return t.focus;
}

HWND SetActiveWindow(HWND window) {
  State& s = S();
  ThreadState& t = Current();
  HWND old;
  {
    Lock lock(s.mu);
    old = t.active;
  }
  if (window) {
    auto w = FindOrFail(window);
    if (!w) return nullptr;
    if (w->style & WS_CHILD) window = RootOf(window);
    w = Find(window);
    if (!w || w->thread != GetCurrentThreadId()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
  }
  {
    Lock lock(s.mu);
    t.active = window;
    if (window) {
      s.foreground = window;
      // The window comes to the top with the windows it owns above it.
      std::vector<HWND> order{window};
      for (size_t i = 0; i < order.size(); ++i)
        for (HWND h : s.topLevels) {
          auto o = Find(h);
          if (o && o->owner == order[i] && std::find(order.begin(), order.end(), h) == order.end())
            order.push_back(h);
        }
      for (auto it = order.begin(); it != order.end(); ++it) {
        s.topLevels.erase(std::remove(s.topLevels.begin(), s.topLevels.end(), *it), s.topLevels.end());
      }
      // Owned windows end up above their owners: insert in reverse.
      for (auto it = order.rbegin(); it != order.rend(); ++it) s.topLevels.insert(s.topLevels.begin(), *it);
      // Topmost windows stay above the others.
      std::stable_partition(s.topLevels.begin(), s.topLevels.end(), [](HWND h) {
        auto o = Find(h);
        return o && (o->exStyle & WS_EX_TOPMOST);
      });
    }
  }
  if (old == window) return old;
  if (old && IsWindow(old)) {
    SendMessageA(old, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), reinterpret_cast<LPARAM>(window));
    InvalidateTree(old);
  }
  if (window) {
    SendMessageA(window, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), reinterpret_cast<LPARAM>(old));
    InvalidateTree(window);
  }
  InvalidateAll();
  return old;
}

HWND GetActiveWindow() {
  ThreadState& t = Current();
  Lock lock(S().mu);
  return t.active;
}

BOOL SetForegroundWindow(HWND window) {
  auto w = FindOrFail(window);
  if (!w) return FALSE;
  if (w->thread == GetCurrentThreadId()) {
    SetActiveWindow(window);
  } else {
    Lock lock(S().mu);
    S().foreground = RootOf(window);
  }
  return TRUE;
}

HWND GetForegroundWindow() {
  Lock lock(S().mu);
  HWND f = S().foreground;
  return Find(f) ? f : nullptr;
}

HWND SetCapture(HWND window) {
  ThreadState& t = Current();
  if (window && !FindOrFail(window)) return nullptr;
  Lock lock(S().mu);
  HWND old = t.capture;
  t.capture = window;
  return old;
}

BOOL ReleaseCapture() {
  ThreadState& t = Current();
  HWND old;
  {
    Lock lock(S().mu);
    old = t.capture;
    t.capture = nullptr;
  }
  if (old && IsWindow(old)) SendMessageA(old, WM_CAPTURECHANGED, 0, 0);
  return TRUE;
}

HWND GetCapture() {
  ThreadState& t = Current();
  Lock lock(S().mu);
  return t.capture;
}
