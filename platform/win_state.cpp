// The window system's shared state: the process-wide window table and the
// per-thread states, handle lookups, a window's place on the screen, the
// clock, and mnemonics of control texts.
#include <algorithm>
#include <chrono>

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

}  // namespace prw
