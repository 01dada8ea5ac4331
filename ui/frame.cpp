#include "ui/frame.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <vector>

#include "ui/event_codes.h"
#include "ui/event_loop.h"
#include "ui/window.h"
#include "ui/window_internal.h"

namespace pr::ui {
namespace {

constexpr size_t kCount = kLastToolbarControl - kFirstToolbarControl + 1;

struct ToolbarSlot {
  const char* label;
  uint32_t shortcut;  // key code
  const char* shortcutName;
};

// What each control does for the module's windows, and its key.  F1 stays
// the help key of the windows themselves: control 2012 presses it.
constexpr std::array<ToolbarSlot, kCount> kSlots = {{
    {"Insert", VK_F1 + 1, "F2"},
    {"Change", VK_F1 + 2, "F3"},
    {"Delete", VK_F1 + 3, "F4"},
    {"Select", VK_F1 + 4, "F5"},
    {"Last", VK_F1 + 5, "F6"},
    {"First", VK_F1 + 6, "F7"},
    {"PgDn", VK_F1 + 7, "F8"},
    {"PgUp", VK_F1 + 8, "F9"},
    {"Next", VK_F1 + 9, "F10"},
    {"Prior", VK_F1 + 10, "F11"},
    {"Locate", VK_F1 + 11, "F12"},
    {"Ditto", (VK_F1 + 1) | key::Shift, "S-F2"},
    {"Help", static_cast<uint32_t>(VK_F1) | key::Shift, "S-F1"},
}};

struct State {
  std::mutex mutex;
  std::array<bool, kCount> enabled;
  std::array<std::string, kCount> tips;
  std::string status;
  std::string tip;  // shown instead of the status while the mouse rests on a control that has one
  State() { enabled.fill(true); }
};
State& Toolbar() {
  static State state;
  return state;
}

std::atomic<HWND> g_frame{nullptr};
std::array<std::atomic<HWND>, kCount> g_buttons{};
std::atomic<HWND> g_status{nullptr};

constexpr char kFrameClass[] = "VelFrame";

size_t Slot(int32_t number) { return static_cast<size_t>(number - kFirstToolbarControl); }

// Lays out the toolbar rows from the top and the status line on the last
// row of a frame `width` cells wide and `height` high; answers the rows the
// toolbar takes.
int LayOut(int width, int height) {
  int x = 0, y = 0;
  for (int32_t number = kFirstToolbarControl; number <= kLastToolbarControl; ++number) {
    HWND button = g_buttons[Slot(number)].load();
    const int w = static_cast<int>(ToolbarCaption(number).size()) + 2;
    if (x > 0 && x + w > width) {
      x = 0;
      ++y;
    }
    if (button != nullptr) SetWindowPos(button, nullptr, x, y, w, 1, SWP_NOZORDER | SWP_NOACTIVATE);
    x += w + 1;
  }
  if (HWND status = g_status.load())
    SetWindowPos(status, nullptr, 0, std::max(height - 1, y + 1), std::max(1, width), 1, SWP_NOZORDER | SWP_NOACTIVATE);
  return y + 1;
}

// The frame covers the screen: when the terminal changed size it takes the
// new size, lays its toolbar and status line out again, and every window of
// the module on its thread is fitted to the screen and told (EVENT:Sized,
// which the browse and the form answer by reading their page again).
void FollowScreen(HWND frame) {
  static thread_local bool following = false;
  if (following) return;
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  RECT r{};
  GetWindowRect(frame, &r);
  if (width <= 0 || height <= 0 || (r.right - r.left == width && r.bottom - r.top == height)) return;
  following = true;
  SetWindowPos(frame, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client{};
  GetClientRect(frame, &client);
  LayOut(client.right, client.bottom);
  std::vector<Window*> windows;
  if (WindowContext* context = CurrentWindowContext(false)) {
    std::lock_guard lock(EngineMutex());
    windows = context->windows;
  }
  for (Window* window : windows) {
    if (window == nullptr || !window->IsOpen()) continue;
    window->FitToScreen();
    window->Enqueue({kEventBase + event::Sized});
  }
  InvalidateRect(frame, nullptr, TRUE);
  following = false;
}

LRESULT FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT || message == WM_ERASEBKGND || message == WM_NCPAINT) FollowScreen(hwnd);
  switch (message) {
    case WM_COMMAND: {
      auto number = static_cast<int32_t>(LOWORD(wParam));
      if (HIWORD(wParam) == BN_CLICKED && IsToolbarControl(number) && IsToolbarControlEnabled(number))
        Post(event::Accepted, number);
      return 0;
    }
    case WM_CLOSE:
      // The frame goes with the host; the module's windows are closed by
      // their procedures.
      return 0;
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

}  // namespace

HWND HostFrameWindowHandle() { return g_frame.load(); }
HWND HostFrameWindow() { return g_frame.load(); }

std::string ToolbarCaption(int32_t number) {
  if (!IsToolbarControl(number)) return {};
  const ToolbarSlot& slot = kSlots[Slot(number)];
  return std::string(slot.shortcutName) + " " + slot.label;
}

HWND OpenHostFrame(const char* title) {
  if (HWND open = g_frame.load(); open != nullptr && IsWindow(open)) return open;
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &FrameProc;
    wc.lpszClassName = kFrameClass;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_BACKGROUND + 1));
    RegisterClassA(&wc);
  });
  int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  HWND frame = CreateWindowExA(0, kFrameClass, title, WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN, 0, 0, width,
                               height, nullptr, nullptr, nullptr, nullptr);
  if (frame == nullptr) return nullptr;
  RECT client;
  GetClientRect(frame, &client);
  // One row of buttons, wrapped onto the next row when the screen is narrow,
  // and the status line on the frame's last row.
  for (int32_t number = kFirstToolbarControl; number <= kLastToolbarControl; ++number) {
    std::string caption = ToolbarCaption(number);
    HWND button = CreateWindowExA(0, "Button", caption.c_str(), WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0,
                                  static_cast<int>(caption.size()) + 2, 1, frame,
                                  reinterpret_cast<HMENU>(static_cast<intptr_t>(number)), nullptr, nullptr);
    g_buttons[Slot(number)].store(button);
  }
  HWND status = CreateWindowExA(0, "Static", StatusText().c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0,
                                0, std::max<LONG>(1, client.right), 1, frame, nullptr, nullptr, nullptr);
  g_status.store(status);
  LayOut(client.right, client.bottom);
  g_frame.store(frame);
  RedisplayToolbar();
  ShowWindow(frame, SW_SHOW);
  return frame;
}

void CloseHostFrame() {
  HWND frame = g_frame.exchange(nullptr);
  for (auto& b : g_buttons) b.store(nullptr);
  g_status.store(nullptr);
  if (frame != nullptr && IsWindow(frame)) DestroyWindow(frame);
}

namespace {
// Puts the tip, or the status when no tip is up, on the status line.
void ShowStatusLine() {
  std::string text;
  {
    std::lock_guard lock(Toolbar().mutex);
    text = Toolbar().tip.empty() ? Toolbar().status : Toolbar().tip;
  }
  if (HWND status = g_status.load(); status != nullptr && IsWindow(status)) {
    SetWindowTextA(status, text.c_str());
    InvalidateRect(status, nullptr, TRUE);
  }
}
}  // namespace

void SetStatusText(std::string_view text) {
  {
    std::lock_guard lock(Toolbar().mutex);
    if (Toolbar().status == text && Toolbar().tip.empty()) return;
    Toolbar().status = std::string(text);
    // What the window says now is newer than the tip the mouse brought up.
    Toolbar().tip.clear();
  }
  ShowStatusLine();
}

void ShowTipUnderMouse(const Window* window, HWND over) {
  std::string tip;
  for (int32_t number = kFirstToolbarControl; number <= kLastToolbarControl && over != nullptr; ++number)
    if (g_buttons[Slot(number)].load() == over) tip = ToolbarTip(number);
  if (tip.empty() && window != nullptr && over != nullptr)
    if (const Control* control = window->ControlByHwnd(over)) tip = control->tip;
  {
    std::lock_guard lock(Toolbar().mutex);
    if (Toolbar().tip == tip) return;
    Toolbar().tip = std::move(tip);
  }
  ShowStatusLine();
}

std::string StatusText() {
  std::lock_guard lock(Toolbar().mutex);
  return Toolbar().status;
}

bool EnableToolbarControl(int32_t number, bool enable) {
  if (!IsToolbarControl(number)) return false;
  std::lock_guard lock(Toolbar().mutex);
  Toolbar().enabled[Slot(number)] = enable;
  return true;
}

bool IsToolbarControlEnabled(int32_t number) {
  if (!IsToolbarControl(number)) return false;
  std::lock_guard lock(Toolbar().mutex);
  return Toolbar().enabled[Slot(number)];
}

bool SetToolbarTip(int32_t number, std::string_view tip) {
  if (!IsToolbarControl(number)) return false;
  std::lock_guard lock(Toolbar().mutex);
  Toolbar().tips[Slot(number)] = std::string(tip);
  return true;
}

std::string ToolbarTip(int32_t number) {
  if (!IsToolbarControl(number)) return {};
  std::lock_guard lock(Toolbar().mutex);
  return Toolbar().tips[Slot(number)];
}

void RedisplayToolbar(int32_t first, int32_t last) {
  if (g_frame.load() == nullptr) return;
  for (int32_t number = std::max(first, kFirstToolbarControl); number <= std::min(last, kLastToolbarControl);
       ++number) {
    HWND button = g_buttons[Slot(number)].load();
    if (button == nullptr) continue;
    EnableWindow(button, IsToolbarControlEnabled(number) ? TRUE : FALSE);
    InvalidateRect(button, nullptr, TRUE);
  }
}

void ResetToolbar() {
  {
    std::lock_guard lock(Toolbar().mutex);
    Toolbar().enabled.fill(true);
    for (auto& tip : Toolbar().tips) tip.clear();
  }
  RedisplayToolbar();
}

bool HostFrameShortcut(uint32_t keyCode, int32_t* number) {
  if (g_frame.load() == nullptr) return false;
  uint32_t plain = keyCode & ~static_cast<uint32_t>(key::LockMask | key::Extended);
  for (size_t i = 0; i < kCount; ++i)
    if (kSlots[i].shortcut == plain) {
      auto candidate = static_cast<int32_t>(kFirstToolbarControl + i);
      if (!IsToolbarControlEnabled(candidate)) return false;
      *number = candidate;
      return true;
    }
  return false;
}

}  // namespace pr::ui
