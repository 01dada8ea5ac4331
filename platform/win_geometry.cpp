// Visibility, the enabled state, position and size, coordinates, and which
// window lies under a point.
#include <algorithm>

#include "platform/win_internal.h"

using namespace prw;

// ---------------------------------------------------------------- visibility, enabled state, geometry
BOOL ShowWindow(HWND window, int command) {
  auto w = FindOrFail(window);
  if (!w) return FALSE;
  bool was = (w->style & WS_VISIBLE) != 0;
  bool show = command != SW_HIDE;
  if (was != show) {
    {
      Lock lock(S().mu);
      if (show) w->style |= WS_VISIBLE;
      else w->style &= ~WS_VISIBLE;
    }
    SendMessageA(window, WM_SHOWWINDOW, show, 0);
    if (w->style & WS_CHILD) {
      InvalidateTree(window);
    } else {
      InvalidateAll();
    }
    if (!show) {
      HWND f = GetFocus();
      if (f && (f == window || IsChild(window, f))) {
        Lock lock(S().mu);
        Current().focus = nullptr;
      }
      if (!(w->style & WS_CHILD) && GetActiveWindow() == window && w->owner) SetActiveWindow(w->owner);
    }
  }
  if (show && !(w->style & WS_CHILD) && command != SW_SHOWNA && command != SW_MINIMIZE) SetActiveWindow(window);
  return was ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window) {
  auto w = Find(window);
  while (w) {
    if (!(w->style & WS_VISIBLE)) return FALSE;
    if (!(w->style & WS_CHILD) || !w->parent) return TRUE;
    w = Find(w->parent);
  }
  return FALSE;
}

BOOL EnableWindow(HWND window, BOOL enable) {
  auto w = FindOrFail(window);
  if (!w) return FALSE;
  bool wasDisabled = (w->style & WS_DISABLED) != 0;
  if (wasDisabled == !enable) return wasDisabled;
  {
    Lock lock(S().mu);
    if (enable) w->style &= ~WS_DISABLED;
    else w->style |= WS_DISABLED;
  }
  if (!enable) {
    HWND f = GetFocus();
    if (f && (f == window || IsChild(window, f))) SetFocus(nullptr);
  }
  SendMessageA(window, WM_ENABLE, enable ? TRUE : FALSE, 0);
  InvalidateTree(window);
  return wasDisabled;
}

BOOL IsWindowEnabled(HWND window) {
  auto w = Find(window);
  return w && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}

BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  State& s = S();
  auto w = FindOrFail(window);
  if (!w) return FALSE;
  bool moved = false, sized = false;
  {
    Lock lock(s.mu);
    RECT r = w->rect;
    if (!(flags & SWP_NOMOVE)) {
      moved = x != r.left || y != r.top;
      r.right = x + (r.right - r.left);
      r.bottom = y + (r.bottom - r.top);
      r.left = x;
      r.top = y;
    }
    if (!(flags & SWP_NOSIZE)) {
      cx = std::clamp(cx, 0, 10000);
      cy = std::clamp(cy, 0, 10000);
      sized = cx != r.right - r.left || cy != r.bottom - r.top;
      r.right = r.left + cx;
      r.bottom = r.top + cy;
    }
    w->rect = r;
    if (!(w->style & WS_CHILD) && sized) w->surface.Resize(r.right - r.left, r.bottom - r.top);
    if (!(flags & SWP_NOZORDER)) {
      std::vector<HWND>* list = &s.topLevels;
      std::shared_ptr<Window> p;
      if ((w->style & WS_CHILD) && w->parent && (p = Find(w->parent))) list = &p->children;
      list->erase(std::remove(list->begin(), list->end(), window), list->end());
      if (insertAfter == HWND_BOTTOM) {
        list->push_back(window);
      } else if (insertAfter == HWND_TOP || insertAfter == HWND_TOPMOST) {
        list->insert(list->begin(), window);
        if (insertAfter == HWND_TOPMOST) w->exStyle |= WS_EX_TOPMOST;
      } else {
        auto it = std::find(list->begin(), list->end(), insertAfter);
        list->insert(it == list->end() ? list->begin() : it + 1, window);
      }
    }
    if (flags & SWP_SHOWWINDOW) w->style |= WS_VISIBLE;
    if (flags & SWP_HIDEWINDOW) w->style &= ~WS_VISIBLE;
  }
  RECT r = w->rect;
  if (moved) SendMessageA(window, WM_MOVE, 0, MAKELPARAM(static_cast<WORD>(r.left), static_cast<WORD>(r.top)));
  if (sized)
    SendMessageA(window, WM_SIZE, SIZE_RESTORED,
                 MAKELPARAM(static_cast<WORD>(r.right - r.left), static_cast<WORD>(r.bottom - r.top)));
  if (w->style & WS_CHILD) {
    if (w->parent) InvalidateTree(w->parent);
  } else {
    InvalidateTree(window);
    InvalidateAll();
  }
  return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL) {
  return SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL BringWindowToTop(HWND window) {
  return SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

BOOL GetWindowRect(HWND window, RECT* rect) {
  auto w = FindOrFail(window);
  if (!w || !rect) return FALSE;
  Lock lock(S().mu);
  *rect = ScreenWindowRect(*w);
  return TRUE;
}

BOOL GetClientRect(HWND window, RECT* rect) {
  auto w = FindOrFail(window);
  if (!w || !rect) return FALSE;
  Lock lock(S().mu);
  RECT c = ClientRectOf(*w);
  *rect = RECT{0, 0, c.right - c.left, c.bottom - c.top};
  return TRUE;
}

BOOL ClientToScreen(HWND window, POINT* point) {
  auto w = FindOrFail(window);
  if (!w || !point) return FALSE;
  Lock lock(S().mu);
  RECT c = ScreenClientRect(*w);
  point->x += c.left;
  point->y += c.top;
  return TRUE;
}

BOOL ScreenToClient(HWND window, POINT* point) {
  auto w = FindOrFail(window);
  if (!w || !point) return FALSE;
  Lock lock(S().mu);
  RECT c = ScreenClientRect(*w);
  point->x -= c.left;
  point->y -= c.top;
  return TRUE;
}

int MapWindowPoints(HWND from, HWND to, POINT* points, UINT count) {
  POINT origin{0, 0};
  if (from && from != GetDesktopWindow() && !ClientToScreen(from, &origin)) return 0;
  POINT target{0, 0};
  if (to && to != GetDesktopWindow() && !ClientToScreen(to, &target)) return 0;
  LONG dx = origin.x - target.x, dy = origin.y - target.y;
  for (UINT i = 0; points && i < count; ++i) {
    points[i].x += dx;
    points[i].y += dy;
  }
  return MAKELONG(static_cast<WORD>(dx), static_cast<WORD>(dy));
}

BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL, DWORD exStyle) {
  if (!rect) return FALSE;
  if ((style & (WS_BORDER | WS_DLGFRAME | WS_THICKFRAME)) || (exStyle & WS_EX_DLGMODALFRAME)) {
    rect->left -= 1;
    rect->top -= 1;
    rect->right += 1;
    rect->bottom += 1;
  }
  if (style & WS_VSCROLL) rect->right += 1;
  if (style & WS_HSCROLL) rect->bottom += 1;
  return TRUE;
}

namespace {
HWND ChildAt(const std::shared_ptr<Window>& parent, POINT screen) {
  for (HWND k : parent->children) {
    auto c = Find(k);
    if (!c || !(c->style & WS_VISIBLE)) continue;
    RECT r = ScreenWindowRect(*c);
    if (screen.x >= r.left && screen.x < r.right && screen.y >= r.top && screen.y < r.bottom) {
      HWND deeper = ChildAt(c, screen);
      return deeper ? deeper : k;
    }
  }
  return nullptr;
}
}  // namespace

HWND WindowFromPoint(POINT point) {
  Lock lock(S().mu);
  for (HWND h : S().topLevels) {
    auto w = Find(h);
    if (!w || !(w->style & WS_VISIBLE)) continue;
    RECT r = w->rect;
    if (point.x >= r.left && point.x < r.right && point.y >= r.top && point.y < r.bottom) {
      HWND c = ChildAt(w, point);
      return c ? c : h;
    }
  }
  return nullptr;
}

HWND ChildWindowFromPoint(HWND parent, POINT clientPoint) {
  auto p = FindOrFail(parent);
  if (!p) return nullptr;
  Lock lock(S().mu);
  RECT c = ScreenClientRect(*p);
  POINT screen{clientPoint.x + c.left, clientPoint.y + c.top};
  for (HWND k : p->children) {
    auto w = Find(k);
    if (!w) continue;
    RECT r = ScreenWindowRect(*w);
    if (screen.x >= r.left && screen.x < r.right && screen.y >= r.top && screen.y < r.bottom) return k;
  }
  RECT wr = ScreenWindowRect(*p);
  if (screen.x >= wr.left && screen.x < wr.right && screen.y >= wr.top && screen.y < wr.bottom) return parent;
  return nullptr;
}
