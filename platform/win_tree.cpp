// The window tree: parents, owners, siblings, enumeration, finding windows,
// and the data a window carries (long values, its text).
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "platform/win_internal.h"

using namespace prw;

BOOL IsWindow(HWND window) { return Find(window) != nullptr; }

BOOL IsChild(HWND parent, HWND window) {
  auto w = Find(window);
  while (w && (w->style & WS_CHILD) && w->parent) {
    if (w->parent == parent) return TRUE;
    w = Find(w->parent);
  }
  return FALSE;
}

HWND GetParent(HWND window) {
  auto w = FindOrFail(window);
  if (!w) return nullptr;
  return (w->style & WS_CHILD) ? w->parent : w->owner;
}

HWND GetDesktopWindow() {
  EnsureStarted();
  Lock lock(S().mu);
  return S().desktop;
}

HWND GetWindow(HWND window, UINT relation) {
  State& s = S();
  auto w = FindOrFail(window);
  if (!w) return nullptr;
  Lock lock(s.mu);
  if (relation == GW_OWNER) return (w->style & WS_CHILD) ? nullptr : w->owner;
  if (relation == GW_CHILD) return w->children.empty() ? nullptr : w->children.front();
  const std::vector<HWND>* list = &s.topLevels;
  std::shared_ptr<Window> p;
  if ((w->style & WS_CHILD) && w->parent) {
    p = Find(w->parent);
    if (!p) return nullptr;
    list = &p->children;
  }
  auto it = std::find(list->begin(), list->end(), window);
  if (it == list->end()) return nullptr;
  switch (relation) {
    case GW_HWNDFIRST: return list->front();
    case GW_HWNDLAST: return list->back();
    case GW_HWNDNEXT: return it + 1 == list->end() ? nullptr : *(it + 1);
    case GW_HWNDPREV: return it == list->begin() ? nullptr : *(it - 1);
    default: SetLastError(ERROR_INVALID_PARAMETER); return nullptr;
  }
}

HWND GetAncestor(HWND window, UINT flags) {
  auto w = FindOrFail(window);
  if (!w) return nullptr;
  if (flags == GA_PARENT) return (w->style & WS_CHILD) ? w->parent : GetDesktopWindow();
  HWND root = RootOf(window);
  if (flags == GA_ROOT) return root;
  HWND h = root;
  for (int guard = 0; guard < 1000; ++guard) {
    auto r = Find(h);
    if (!r || !r->owner) break;
    h = r->owner;
  }
  return h;
}

namespace {
bool EnumDescendants(HWND parent, WNDENUMPROC callback, LPARAM param) {
  std::vector<HWND> kids;
  if (auto p = Find(parent)) {
    Lock lock(S().mu);
    kids = p->children;
  }
  for (HWND k : kids) {
    if (!IsWindow(k)) continue;
    if (!callback(k, param)) return false;
    if (!EnumDescendants(k, callback, param)) return false;
  }
  return true;
}
}  // namespace

BOOL EnumChildWindows(HWND parent, WNDENUMPROC callback, LPARAM param) {
  if (!callback || !FindOrFail(parent)) return FALSE;
  EnumDescendants(parent, callback, param);
  return TRUE;
}

BOOL EnumThreadWindows(DWORD threadId, WNDENUMPROC callback, LPARAM param) {
  if (!callback) return FALSE;
  std::vector<HWND> list;
  {
    Lock lock(S().mu);
    for (HWND h : S().topLevels) {
      auto w = Find(h);
      if (w && w->thread == threadId) list.push_back(h);
    }
  }
  for (HWND h : list)
    if (IsWindow(h) && !callback(h, param)) break;
  return !list.empty();
}

DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) {
  auto w = FindOrFail(window);
  if (!w) return 0;
  if (processId) *processId = GetCurrentProcessId();
  return w->thread;
}

HWND FindWindowA(const char* className, const char* windowName) {
  Lock lock(S().mu);
  for (HWND h : S().topLevels) {
    auto w = Find(h);
    if (!w) continue;
    if (className && strcasecmp(w->cls->name.c_str(), className) != 0) continue;
    if (windowName && w->text != windowName) continue;
    return h;
  }
  return nullptr;
}

// ---------------------------------------------------------------- window data
LONG_PTR GetWindowLongPtrA(HWND window, int index) {
  auto w = FindOrFail(window);
  if (!w) return 0;
  Lock lock(S().mu);
  if (w->dialog && index >= 0 && index <= DWLP_USER && index % 8 == 0) {
    if (index == DWLP_MSGRESULT) return w->dialog->msgResult;
    if (index == DWLP_DLGPROC) return reinterpret_cast<LONG_PTR>(w->dialog->proc);
    return w->dialog->user;
  }
  switch (index) {
    case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE: return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_HWNDPARENT: return reinterpret_cast<LONG_PTR>((w->style & WS_CHILD) ? w->parent : w->owner);
    case GWLP_ID: return static_cast<LONG_PTR>(w->id);
    case GWL_STYLE: return static_cast<LONG_PTR>(static_cast<LONG>(w->style));
    case GWL_EXSTYLE: return static_cast<LONG_PTR>(w->exStyle);
    case GWLP_USERDATA: return w->userData;
    default: break;
  }
  if (index >= 0 && index % 8 == 0 && static_cast<size_t>(index / 8) < w->extra.size()) return w->extra[index / 8];
  SetLastError(ERROR_INVALID_INDEX);
  return 0;
}

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
  auto w = FindOrFail(window);
  if (!w) return 0;
  Lock lock(S().mu);
  LONG_PTR old = 0;
  if (w->dialog && index >= 0 && index <= DWLP_USER && index % 8 == 0) {
    if (index == DWLP_MSGRESULT) std::swap(old, w->dialog->msgResult), w->dialog->msgResult = value;
    else if (index == DWLP_DLGPROC) old = reinterpret_cast<LONG_PTR>(w->dialog->proc), w->dialog->proc = reinterpret_cast<DLGPROC>(value);
    else old = w->dialog->user, w->dialog->user = value;
    return old;
  }
  switch (index) {
    case GWLP_WNDPROC:
      old = reinterpret_cast<LONG_PTR>(w->proc);
      if (value) w->proc = reinterpret_cast<WNDPROC>(value);
      return old;
    case GWLP_ID: old = static_cast<LONG_PTR>(w->id); w->id = static_cast<UINT_PTR>(value); return old;
    case GWLP_HWNDPARENT:
      old = reinterpret_cast<LONG_PTR>(w->owner);
      if (!(w->style & WS_CHILD)) w->owner = reinterpret_cast<HWND>(value);
      return old;
    case GWL_STYLE:
      old = static_cast<LONG_PTR>(static_cast<LONG>(w->style));
      w->style = static_cast<DWORD>(value);
      InvalidateTree(window);
      if (!(w->style & WS_CHILD)) InvalidateAll();
      return old;
    case GWL_EXSTYLE: old = w->exStyle; w->exStyle = static_cast<DWORD>(value); return old;
    case GWLP_USERDATA: old = w->userData; w->userData = value; return old;
    case GWLP_HINSTANCE: old = reinterpret_cast<LONG_PTR>(w->instance); w->instance = reinterpret_cast<HINSTANCE>(value); return old;
    default: break;
  }
  if (index >= 0 && index % 8 == 0 && static_cast<size_t>(index / 8) < w->extra.size()) {
    old = w->extra[index / 8];
    w->extra[index / 8] = value;
    return old;
  }
  SetLastError(ERROR_INVALID_INDEX);
  return 0;
}

int GetWindowTextA(HWND window, char* text, int maxCount) {
  if (!text || maxCount <= 0) return 0;
  text[0] = 0;
  if (!FindOrFail(window)) return 0;
  return static_cast<int>(SendMessageA(window, WM_GETTEXT, maxCount, reinterpret_cast<LPARAM>(text)));
}

int GetWindowTextLengthA(HWND window) {
  if (!FindOrFail(window)) return 0;
  return static_cast<int>(SendMessageA(window, WM_GETTEXTLENGTH, 0, 0));
}

BOOL SetWindowTextA(HWND window, const char* text) {
  if (!FindOrFail(window)) return FALSE;
  return SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")) ? TRUE : FALSE;
}
