// Window classes, and creating and destroying windows.
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "platform/win_internal.h"

using namespace prw;

// ---------------------------------------------------------------- classes
namespace {
std::shared_ptr<WindowClass> FindClass(const char* name) {
  State& s = S();
  if (!name) return nullptr;
  if (IS_INTRESOURCE(name)) {
    ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
    for (auto& c : s.classes)
      if (c->atom == atom) return c;
    return nullptr;
  }
  for (auto& c : s.classes)
    if (strcasecmp(c->name.c_str(), name) == 0) return c;
  return nullptr;
}
}  // namespace

ATOM RegisterClassA(const WNDCLASSA* wc) {
  if (!wc || !wc->lpszClassName || IS_INTRESOURCE(wc->lpszClassName) || !wc->lpfnWndProc || wc->cbWndExtra < 0 ||
      wc->cbWndExtra > 4096 || !*wc->lpszClassName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  State& s = S();
  if (!EnsureStarted()) return 0;
  Lock lock(s.mu);
  if (FindClass(wc->lpszClassName)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  auto c = std::make_shared<WindowClass>();
  c->name = wc->lpszClassName;
  c->atom = s.nextAtom++;
  c->style = wc->style;
  c->proc = wc->lpfnWndProc;
  c->cbWndExtra = wc->cbWndExtra;
  c->instance = wc->hInstance;
  c->icon = wc->hIcon;
  c->cursor = wc->hCursor;
  c->background = wc->hbrBackground;
  s.classes.push_back(c);
  return c->atom;
}

BOOL UnregisterClassA(const char* className, HINSTANCE) {
  State& s = S();
  Lock lock(s.mu);
  auto c = FindClass(className);
  if (!c) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return FALSE;
  }
  if (c->windows > 0) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return FALSE;
  }
  s.classes.erase(std::find(s.classes.begin(), s.classes.end(), c));
  return TRUE;
}

BOOL GetClassInfoA(HINSTANCE, const char* className, WNDCLASSA* wc) {
  if (!EnsureStarted()) return FALSE;
  Lock lock(S().mu);
  auto c = FindClass(className);
  if (!c || !wc) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return FALSE;
  }
  *wc = WNDCLASSA{c->style, c->proc, 0, c->cbWndExtra, c->instance, c->icon, c->cursor, c->background, nullptr,
                  className};
  return TRUE;
}

int GetClassNameA(HWND window, char* className, int maxCount) {
  auto w = FindOrFail(window);
  if (!w || !className || maxCount <= 0) return 0;
  int n = std::min<int>(static_cast<int>(w->cls->name.size()), maxCount - 1);
  std::memcpy(className, w->cls->name.data(), n);
  className[n] = 0;
  return n;
}

// ---------------------------------------------------------------- creating and destroying
HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  if (!EnsureStarted()) return nullptr;
  State& s = S();
  Current();  // the thread gets its queue with its first window
  std::shared_ptr<Window> w = std::make_shared<Window>();
  {
    Lock lock(s.mu);
    auto c = FindClass(className);
    if (!c) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    std::shared_ptr<Window> p;
    if (parent && parent != s.desktop) {
      p = Find(parent);
      if (!p) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
      }
    }
    if ((style & WS_CHILD) && !p) {
      SetLastError(ERROR_INVALID_PARAMETER);  // a child needs a parent
      return nullptr;
    }
    w->handle = reinterpret_cast<HWND>(s.nextHandle++);
    w->cls = c;
    w->proc = c->proc;
    w->style = style;
    w->exStyle = exStyle;
    if (windowName && !IS_INTRESOURCE(windowName)) w->text = windowName;
    w->instance = instance;
    w->thread = GetCurrentThreadId();
    w->extra.assign(static_cast<size_t>((c->cbWndExtra + 7) / 8), 0);
    w->font = nullptr;
    if (style & WS_CHILD) {
      w->parent = p->handle;
      w->id = reinterpret_cast<UINT_PTR>(menu);
      p->children.insert(p->children.begin(), w->handle);
    } else {
      // The owner of a top-level window is the root of the window given.
      if (p) w->owner = RootOf(p->handle);
      s.topLevels.insert(s.topLevels.begin(), w->handle);
    }
    int sw = s.screen.width, sh = s.screen.height;
    if (width == CW_USEDEFAULT) width = sw / 2;
    if (height == CW_USEDEFAULT) height = sh / 2;
    if (x == CW_USEDEFAULT) x = (style & WS_CHILD) ? 0 : (sw - width) / 2;
    if (y == CW_USEDEFAULT) y = (style & WS_CHILD) ? 0 : (sh - height) / 2;
    width = std::clamp(width, 0, 10000);
    height = std::clamp(height, 0, 10000);
    w->rect = RECT{x, y, x + width, y + height};
    if (!(style & WS_CHILD)) w->surface.Resize(width, height);
    ++c->windows;
    s.windows[reinterpret_cast<uintptr_t>(w->handle)] = w;
  }
  HWND h = w->handle;
  CREATESTRUCTA cs{param, instance, menu, parent, height, width, y, x, static_cast<LONG>(style), windowName,
                   className, exStyle};
  if (!SendMessageA(h, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
    DestroyWindow(h);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (SendMessageA(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(h);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!IsWindow(h)) return nullptr;
  SendMessageA(h, WM_SIZE, SIZE_RESTORED, MAKELPARAM(static_cast<WORD>(width), static_cast<WORD>(height)));
  InvalidateTree(h);
  if ((style & WS_VISIBLE) && !(style & WS_CHILD)) {
    SendMessageA(h, WM_SHOWWINDOW, TRUE, 0);
    SetActiveWindow(h);
  }
  return h;
}

namespace {
void CollectOwned(HWND owner, std::vector<HWND>* out) {
  State& s = S();
  for (HWND h : s.topLevels) {
    auto w = Find(h);
    if (w && w->owner == owner) out->push_back(h);
  }
}

void SendDestroy(HWND h) {
  SendMessageA(h, WM_DESTROY, 0, 0);
  std::vector<HWND> kids;
  if (auto w = Find(h)) {
    Lock lock(S().mu);
    kids = w->children;
  }
  for (HWND k : kids) SendDestroy(k);
}

// WM_NCDESTROY goes to the children first, then to the window.
void SendNcDestroy(HWND h) {
  std::vector<HWND> kids;
  if (auto w = Find(h)) {
    Lock lock(S().mu);
    kids = w->children;
  }
  for (HWND k : kids) SendNcDestroy(k);
  SendMessageA(h, WM_NCDESTROY, 0, 0);
}

void Unlink(HWND h) {
  State& s = S();
  Lock lock(s.mu);
  auto it = s.windows.find(reinterpret_cast<uintptr_t>(h));
  if (it == s.windows.end()) return;
  std::shared_ptr<Window> w = it->second;
  for (HWND k : std::vector<HWND>(w->children)) Unlink(k);
  w->dead = true;
  --w->cls->windows;
  if (w->parent) {
    if (auto p = Find(w->parent)) {
      auto& c = p->children;
      c.erase(std::remove(c.begin(), c.end(), h), c.end());
    }
  }
  s.topLevels.erase(std::remove(s.topLevels.begin(), s.topLevels.end(), h), s.topLevels.end());
  for (auto& [id, t] : s.threads) {
    if (t->focus == h) t->focus = nullptr;
    if (t->capture == h) t->capture = nullptr;
    if (t->caretWindow == h) t->caretWindow = nullptr;
    if (t->active == h) t->active = nullptr;
    std::erase_if(t->timers, [h](const Timer& tm) { return tm.window == h; });
  }
  if (s.foreground == h) s.foreground = nullptr;
  s.windows.erase(it);
}
}  // namespace

BOOL DestroyWindow(HWND window) {
  State& s = S();
  auto w = FindOrFail(window);
  if (!w) return FALSE;
  if (w->thread != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (w->destroying) return TRUE;
  w->destroying = true;
  // Owned windows go first.
  std::vector<HWND> owned;
  {
    Lock lock(s.mu);
    CollectOwned(window, &owned);
  }
  for (HWND o : owned) DestroyWindow(o);
  bool wasActive = Current().active == window;
  HWND owner = w->owner;
  bool child = (w->style & WS_CHILD) != 0;
  HWND parent = w->parent;
  // Move the focus off the dying tree before WM_DESTROY.
  {
    HWND f = GetFocus();
    if (f && (f == window || IsChild(window, f))) {
      ThreadState& t = Current();
      Lock lock(s.mu);
      t.focus = nullptr;
    }
  }
  SendDestroy(window);
  SendNcDestroy(window);
  {
    Lock lock(s.mu);
    if (w->systemMenu) {
      HMENU m = w->systemMenu;
      w->systemMenu = nullptr;
      lock.unlock();
      DestroyMenu(m);
    }
  }
  Unlink(window);
  if (child) {
    if (parent) InvalidateTree(parent);
  } else {
    InvalidateAll();
    if (wasActive) {
      // Activation goes to the owner, else to the topmost visible window of the thread.
      HWND next = nullptr;
      if (owner && IsWindow(owner) && IsWindowVisible(owner) && IsWindowEnabled(owner)) next = owner;
      if (!next) {
        Lock lock(s.mu);
        for (HWND h : s.topLevels) {
          auto o = Find(h);
          if (o && o->thread == GetCurrentThreadId() && (o->style & WS_VISIBLE) && !(o->style & WS_DISABLED)) {
            next = h;
            break;
          }
        }
      }
      if (next) SetActiveWindow(next);
    }
  }
  return TRUE;
}
