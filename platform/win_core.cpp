// The window system's core: starting a backend, classes, the window tree,
// focus and activation, and the character-set helpers.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/win_internal.h"

namespace prw {

State& S() {
  static State* state = new State;  // never destroyed: threads may outlive static destruction
  return *state;
}

uint64_t Now() {
  State& s = S();
  if (s.backend && s.backend->Headless()) return s.virtualTime;
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

// ---------------------------------------------------------------- Windows-1250
// Bytes the code page leaves undefined map to C1 control values in the
// kernel's table; the window system shows them as '?'.

char32_t AnsiToChar(unsigned char c) {
  if (c < 0x80) return c;
  uint32_t u = AnsiByteToUnicode(c);
  return u >= 0x80 && u < 0xA0 ? U'?' : static_cast<char32_t>(u);
}

unsigned char CharToAnsi(char32_t c, bool* mapped) {
  if (mapped) *mapped = true;
  if (c < 0x80) return static_cast<unsigned char>(c);
  if (c >= 0xA0 || c < 0x80)
    for (int b = 0x80; b < 0x100; ++b)
      if (AnsiByteToUnicode(static_cast<unsigned char>(b)) == c) return static_cast<unsigned char>(b);
  if (mapped) *mapped = false;
  return '?';
}

void AppendUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string AnsiToUtf8String(const std::string& ansi) {
  std::string out;
  for (unsigned char c : ansi) AppendUtf8(&out, AnsiToChar(c));
  return out;
}

namespace {
// Decodes one UTF-8 sequence at s[*i]; malformed bytes give U+FFFD.
char32_t DecodeUtf8(const unsigned char* s, size_t n, size_t* i) {
  unsigned char c = s[*i];
  int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
  if (extra < 0 || *i + extra >= n + (extra == 0 ? 1 : 0)) {
    ++*i;
    return extra == 0 ? c : 0xFFFD;
  }
  char32_t v = extra == 0 ? c : c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    unsigned char d = s[*i + k];
    if ((d & 0xC0) != 0x80) {
      ++*i;
      return 0xFFFD;
    }
    v = (v << 6) | (d & 0x3F);
  }
  *i += extra + 1;
  return v;
}
}  // namespace

std::string Utf8ToAnsiString(const std::string& utf8) {
  std::string out;
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  for (size_t i = 0; i < utf8.size();) out.push_back(static_cast<char>(CharToAnsi(DecodeUtf8(s, utf8.size(), &i))));
  return out;
}

// ---------------------------------------------------------------- lookups
std::shared_ptr<Window> Find(HWND window) {
  State& s = S();
  Lock lock(s.mu);
  auto it = s.windows.find(reinterpret_cast<uintptr_t>(window));
  if (it == s.windows.end() || it->second->dead) return nullptr;
  return it->second;
}

std::shared_ptr<Window> FindOrFail(HWND window) {
  auto w = Find(window);
  if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

std::shared_ptr<ThreadState> ThreadOf(DWORD id) {
  State& s = S();
  Lock lock(s.mu);
  auto it = s.threads.find(id);
  return it == s.threads.end() ? nullptr : it->second;
}

namespace {
// When a thread ends, its windows go with it (without messages: the thread
// can no longer run their procedures) and so does its queue.
struct ThreadReaper {
  DWORD id = 0;
  ~ThreadReaper() {
    if (!id) return;
    State& s = S();
    Lock lock(s.mu);
    for (auto it = s.windows.begin(); it != s.windows.end();) {
      Window& w = *it->second;
      if (w.thread != id) {
        ++it;
        continue;
      }
      w.dead = true;
      --w.cls->windows;
      s.topLevels.erase(std::remove(s.topLevels.begin(), s.topLevels.end(), w.handle), s.topLevels.end());
      if (s.foreground == w.handle) s.foreground = nullptr;
      it = s.windows.erase(it);
    }
    s.threads.erase(id);
  }
};
thread_local ThreadReaper t_reaper;
}  // namespace

ThreadState& Current() {
  State& s = S();
  Lock lock(s.mu);
  DWORD id = GetCurrentThreadId();
  auto& slot = s.threads[id];
  if (!slot) {
    slot = std::make_shared<ThreadState>();
    slot->id = id;
    t_reaper.id = id;
  }
  return *slot;
}

HWND RootOf(HWND window) {
  State& s = S();
  Lock lock(s.mu);
  auto w = Find(window);
  while (w && (w->style & WS_CHILD) && w->parent) {
    auto p = Find(w->parent);
    if (!p) break;
    w = p;
  }
  return w ? w->handle : nullptr;
}

bool HasFrame(const Window& w) {
  return (w.style & (WS_BORDER | WS_DLGFRAME | WS_THICKFRAME)) != 0 || (w.exStyle & WS_EX_DLGMODALFRAME) != 0;
}

RECT ClientRectOf(const Window& w) {
  RECT r{0, 0, w.rect.right - w.rect.left, w.rect.bottom - w.rect.top};
  if (HasFrame(w)) {
    r.left += 1;
    r.top += 1;
    r.right -= 1;
    r.bottom -= 1;
  }
  if (w.style & WS_VSCROLL) r.right -= 1;
  if (w.style & WS_HSCROLL) r.bottom -= 1;
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

RECT ScreenWindowRect(const Window& w) {
  RECT r = w.rect;
  if ((w.style & WS_CHILD) && w.parent) {
    auto p = Find(w.parent);
    if (p) {
      RECT pc = ScreenClientRect(*p);
      r.left += pc.left;
      r.right += pc.left;
      r.top += pc.top;
      r.bottom += pc.top;
    }
  }
  return r;
}

RECT ScreenClientRect(const Window& w) {
  RECT wr = ScreenWindowRect(w);
  RECT c = ClientRectOf(w);
  return RECT{wr.left + c.left, wr.top + c.top, wr.left + c.right, wr.top + c.bottom};
}

std::string StripMnemonic(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    else if (text[i] == '&') continue;
    out.push_back(text[i]);
  }
  return out;
}

char MnemonicOf(const std::string& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] == '&') {
      ++i;
      continue;
    }
    unsigned char c = static_cast<unsigned char>(text[i + 1]);
    return static_cast<char>(c < 0x80 ? std::toupper(c) : c);
  }
  return 0;
}

std::string WindowText(HWND window) {
  auto w = Find(window);
  if (!w) return {};
  Lock lock(S().mu);
  return w->text;
}

// ---------------------------------------------------------------- start and stop
namespace {
void DestroyEverything() {
  State& s = S();
  std::vector<HWND> roots;
  {
    Lock lock(s.mu);
    roots = s.topLevels;
  }
  for (HWND h : roots) {
    auto w = Find(h);
    if (!w) continue;
    // A window of another thread cannot run its procedure here: drop it.
    if (w->thread == GetCurrentThreadId()) DestroyWindow(h);
  }
  Lock lock(s.mu);
  for (auto& [id, w] : s.windows) w->dead = true;
  s.windows.clear();
  s.topLevels.clear();
  for (auto& c : s.classes) c->windows = 0;
  for (auto& [id, t] : s.threads) {
    t->posted.clear();
    t->timers.clear();
    t->focus = t->active = t->capture = t->caretWindow = nullptr;
    t->quit = false;
    t->exhaustStage = 0;
    t->modal.clear();
  }
  s.foreground = nullptr;
  DestroyAllMenus();
  ResetClipboardAndIcons();
}

bool ParseSize(const char* text, int* columns, int* rows) {
  if (!text) return false;
  char* end = nullptr;
  long c = std::strtol(text, &end, 10);
  if (!end || (*end != 'x' && *end != 'X')) return false;
  long r = std::strtol(end + 1, &end, 10);
  if (*end || c < 20 || r < 5 || c > 1000 || r > 1000) return false;
  *columns = static_cast<int>(c);
  *rows = static_cast<int>(r);
  return true;
}
}  // namespace

bool EnsureStarted() {
  State& s = S();
  {
    Lock lock(s.mu);
    if (s.started) return true;
  }
  if (InitWindowSystem(DefaultWindowBackend(), nullptr)) return true;
  // A terminal that cannot be opened still leaves a working window system.
  return InitWindowSystem(WindowBackend::Headless, nullptr) != FALSE;
}

}  // namespace prw

using namespace prw;

WindowBackend DefaultWindowBackend() {
  const char* ui = std::getenv("PR_UI");
  if (ui && std::strcmp(ui, "headless") == 0) return WindowBackend::Headless;
  if (ui && std::strcmp(ui, "terminal") == 0) return WindowBackend::Terminal;
  return isatty(0) && isatty(1) ? WindowBackend::Terminal : WindowBackend::Headless;
}

BOOL InitWindowSystem(WindowBackend backend, const WindowSystemOptions* options) {
  State& s = S();
  ShutdownWindowSystem();
  WindowSystemOptions opts;
  if (options) {
    opts = *options;
  } else {
    ParseSize(std::getenv("PR_UI_SIZE"), &opts.columns, &opts.rows);
  }
  if (opts.columns < 20 || opts.rows < 5 || opts.columns > 1000 || opts.rows > 1000) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD error = 0;
  std::unique_ptr<Backend> b = backend == WindowBackend::Terminal ? MakeTerminalBackend(&error)
                                                                  : MakeHeadlessBackend(opts, &error);
  if (!b) {
    SetLastError(error ? error : ERROR_NOT_READY);
    return FALSE;
  }
  {
    Lock lock(s.mu);
    s.backend = std::move(b);
    s.kind = backend;
    s.started = true;
    s.virtualTime = 0;
    s.screen.Resize(s.backend->Columns(), s.backend->Rows());
    s.transcript.clear();
    s.cursor = nullptr;
    s.mouse = POINT{0, 0};
    if (!s.desktop) s.desktop = reinterpret_cast<HWND>(s.nextHandle++);
  }
  RegisterControlClasses();
  RegisterDialogClass();
  s.cursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(IDC_ARROW));
  return TRUE;
}

void ShutdownWindowSystem() {
  State& s = S();
  {
    Lock lock(s.mu);
    if (!s.started) return;
  }
  DestroyEverything();
  Lock lock(s.mu);
  s.backend.reset();
  s.started = false;
}

BOOL IsWindowSystemStarted() {
  Lock lock(S().mu);
  return S().started;
}

WindowBackend CurrentWindowBackend() {
  Lock lock(S().mu);
  return S().kind;
}

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
