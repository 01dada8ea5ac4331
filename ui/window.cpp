#include "ui/window.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "ui/event_codes.h"
#include "values/picture.h"
#include "ui/event_errors.h"
#include "ui/resource_lookup.h"
#include "ui/window_controls.h"
#include "ui/window_internal.h"

namespace pr::ui {
namespace {

// ------------------------------------------------------------ context registry

std::map<int, WindowContext*>& Contexts() {
  static std::map<int, WindowContext*> contexts;
  return contexts;
}
int g_nextThreadNumber = 1;

struct ContextSlot {
  std::unique_ptr<WindowContext> context;
  ~ContextSlot() {
    if (!context) return;
    std::lock_guard lock(EngineMutex());
    Contexts().erase(context->threadNumber);
  }
};
thread_local ContextSlot t_slot;

// ------------------------------------------------------------ the window class

LRESULT WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }
  auto* window = reinterpret_cast<Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (window == nullptr || window->hwnd() != hwnd) return DefWindowProcA(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_CLOSE:
      // The close box asks; the program decides in its ACCEPT loop.
      window->Enqueue({kEventBase + event::CloseWindow});
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        Control* control = window->ControlByFeq(LOWORD(wParam));
        if (control != nullptr && IsWindowEnabled(control->hwnd))
          window->Enqueue({kEventBase + event::Accepted, control->feq()});
      }
      return 0;
    case WM_SIZE:
      if (!window->creating()) window->Enqueue({kEventBase + event::Sized});
      break;
    case WM_MOVE:
      if (!window->creating()) window->Enqueue({kEventBase + event::Moved});
      break;
    case DM_GETDEFID:
      if (window->defaultButton() != 0) return MAKELONG(static_cast<WORD>(window->defaultButton()), DC_HASDEFID);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

bool RegisterWindowClass() {
  static std::once_flag once;
  static bool registered = false;
  std::call_once(once, [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &WindowProc;
    wc.lpszClassName = kWindowClass;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_BTNFACE + 1));
    registered = RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  });
  return registered;
}

// Bits 0x300 of a window's attribute word choose its units: dialog units
// (0), or device-independent units of 25 (0x100), 1000 (0x200) or 72 (0x300)
// per inch.  Those are taken at 96 logical pixels per inch and converted to
// dialog units of the dialog font, whose average character is 6 x 13 pixels
// (1.5 pixels per unit across, 1.625 down).
constexpr uint32_t kUnitMask = 0x300;

int32_t ToDialogUnits(int32_t v, uint32_t windowAttr, bool across) {
  static constexpr int32_t kPerInch[] = {0, 25, 1000, 72};
  int32_t perInch = kPerInch[(windowAttr & kUnitMask) >> 8];
  if (perInch == 0 || v == kNotGiven) return v;
  // units * 96 / perInch pixels, / 1.5 (across) or / 1.625 (down), rounded.
  int64_t numerator = static_cast<int64_t>(v) * 96 * (across ? 2 : 8);
  int64_t denominator = static_cast<int64_t>(perInch) * (across ? 3 : 13);
  int64_t q = (numerator >= 0 ? numerator + denominator / 2 : numerator - denominator / 2) / denominator;
  return static_cast<int32_t>(std::clamp<int64_t>(q, -0x7FFFFFFF, 0x7FFFFFFF));
}

int Ceil(int32_t v, int unit) { return v >= 0 ? (v + unit - 1) / unit : -((-static_cast<int64_t>(v) + unit - 1) / unit); }

}  // namespace

// ------------------------------------------------------------ internal helpers

std::mutex& EngineMutex() {
  static std::mutex mutex;
  return mutex;
}

void WakeThread(DWORD threadId) { PostThreadMessageA(threadId, WM_NULL, 0, 0); }

int DialogUnitsToCellsX(int32_t units) { return Ceil(units, 4); }
int DialogUnitsToCellsY(int32_t units) { return Ceil(units, 8); }

WindowContext* CurrentWindowContext(bool create) {
  if (t_slot.context || !create) return t_slot.context.get();
  // The window system starts itself on first use; a thread can run windows
  // only when it did.
  GetDesktopWindow();
  if (!IsWindowSystemStarted()) return nullptr;
  auto context = std::make_unique<WindowContext>();
  context->threadId = GetCurrentThreadId();
  std::lock_guard lock(EngineMutex());
  context->threadNumber = g_nextThreadNumber++;
  Contexts()[context->threadNumber] = context.get();
  t_slot.context = std::move(context);
  return t_slot.context.get();
}

int CurrentThreadNumber() {
  WindowContext* context = CurrentWindowContext(false);
  return context != nullptr ? context->threadNumber : 0;
}

void WithThreadContext(int threadNumber, const std::function<void(WindowContext*)>& fn) {
  std::lock_guard lock(EngineMutex());
  auto it = Contexts().find(threadNumber);
  fn(it != Contexts().end() ? it->second : nullptr);
}

// ------------------------------------------------------------ Window

Window::Window(std::string qualifiedName, std::string label, HMODULE module)
    : qualifiedName_(std::move(qualifiedName)), label_(std::move(label)), module_(module) {}

Window::~Window() {
  WindowContext* context = CurrentWindowContext(false);
  if (IsOpen() && context_ == context) Close();
  // A loop still naming this window (the program left it by a jump) must not
  // reach it again.
  if (context != nullptr)
    for (AcceptLoop* loop : context->loops)
      if (loop->window == this) loop->window = nullptr;
}

Control* Window::ControlByFeq(int32_t feq) const {
  if (feq == 0) return nullptr;
  for (const auto& c : controls_)
    if (c->feq() == feq) return c.get();
  return nullptr;
}

Control* Window::ControlByHwnd(HWND hwnd) const {
  for (HWND h = hwnd; h != nullptr && h != hwnd_; h = GetParent(h))
    for (const auto& c : controls_)
      if (c->hwnd == h) return c.get();
  return nullptr;
}

void Window::Enqueue(QueuedEvent event, bool front) {
  DWORD wake;
  {
    std::lock_guard lock(EngineMutex());
    wake = EnqueueLocked(std::move(event), front);
  }
  if (wake != 0) WakeThread(wake);
}

DWORD Window::EnqueueLocked(QueuedEvent event, bool front) {
  if (hwnd_ == nullptr) return 0;  // not open: the event is dropped
  if (front) {
    // EVENT:OpenWindow stays the first event of a window.
    auto at = queue_.begin();
    if (at != queue_.end() && at->code == kEventBase + event::OpenWindow) ++at;
    queue_.insert(at, std::move(event));
  } else
    queue_.push_back(std::move(event));
  return context_->threadId != GetCurrentThreadId() ? context_->threadId : 0;
}

bool Window::Dequeue(QueuedEvent* event) {
  std::lock_guard lock(EngineMutex());
  if (queue_.empty()) return false;
  *event = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

size_t Window::QueueLength() const {
  std::lock_guard lock(EngineMutex());
  return queue_.size();
}

bool Window::Open(std::initializer_list<VariableBinding> bindings) {
  if (IsOpen()) {
    RaiseRuntimeError(rterr::AlreadyOpen);
    return false;
  }
  WindowContext* context = CurrentWindowContext(true);
  if (context == nullptr) {
    RaiseRuntimeError(rterr::NoWindowContext);
    return false;
  }
  WindowSpec described;
  {
    // Lookup, decoding and the creation of every control happen under the
    // process-wide resource lock; nothing in between waits for another thread.
    WindowResourceHold hold(qualifiedName_.c_str(), label_.c_str(), module_);
    if (hold.record() == 0 || !DecodeWindow(hold.buffer(), hold.record(), &described)) {
      RaiseRuntimeError(rterr::ResourceNotFound);
      return false;
    }
    context_ = context;
    if (!Create(described, bindings)) {
      RaiseRuntimeError(rterr::WindowFailed);
      return false;
    }
  }
  // Shown and activated once the resource lock is released.
  Activate();
  return true;
}

bool Window::Create(const WindowSpec& described, std::initializer_list<VariableBinding> bindings) {
  if (!RegisterWindowClass()) return false;
  spec_ = described;
  acceptAll = false;
  tip.clear();
  stored.clear();
  defaultButton_ = 0;
  Window* below = context_->active();

  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  int x = CW_USEDEFAULT, y = CW_USEDEFAULT, width = CW_USEDEFAULT, height = CW_USEDEFAULT;
  if (described.width != kNotGiven && described.height != kNotGiven) {
    RECT r{0, 0, DialogUnitsToCellsX(ToDialogUnits(described.width, described.attr, true)),
           DialogUnitsToCellsY(ToDialogUnits(described.height, described.attr, false))};
    AdjustWindowRectEx(&r, style, FALSE, 0);
    width = r.right - r.left;
    height = r.bottom - r.top;
    // Not-given positions centre the window on the screen.
    x = described.x != kNotGiven ? DialogUnitsToCellsX(ToDialogUnits(described.x, described.attr, true))
                            : std::max(0, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
    y = described.y != kNotGiven ? DialogUnitsToCellsY(ToDialogUnits(described.y, described.attr, false))
                            : std::max(0, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
  }
  HWND owner = below != nullptr ? below->hwnd() : HostFrameWindowHandle();
  creating_ = true;
  HWND hwnd = CreateWindowExA(0, kWindowClass, described.title.c_str(), style, x, y, width, height, owner, nullptr,
                              module_, this);
  if (hwnd == nullptr) {
    creating_ = false;
    return false;
  }
  {
    std::lock_guard lock(EngineMutex());
    hwnd_ = hwnd;
    queue_.clear();
  }
  if (described.font.present) {
    LOGFONTA lf{};
    lf.lfHeight = -static_cast<LONG>(described.font.points);
    lf.lfWeight = described.font.weight == rsc::font::kDefault ? 400 : static_cast<LONG>(described.font.weight);
    std::strncpy(lf.lfFaceName, described.font.face.c_str(), sizeof lf.lfFaceName - 1);
    font_ = CreateFontIndirectA(&lf);
    if (font_ != nullptr) SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  }

  controls_.clear();
  for (const ControlSpec& cs : described.controls) {
    auto control = std::make_unique<Control>();
    control->window = this;
    control->described = cs;
    control->tip = cs.tip;
    for (const VariableBinding& b : bindings)
      if (b.feq == cs.feq) control->variable = b.address;
    if (cs.type == rsc::kButton && (cs.buttonOptions & rsc::button::kDefaultButton) != 0) defaultButton_ = cs.feq;
    controls_.push_back(std::move(control));
  }
  bool ok = true;
  for (auto& control : controls_) {
    CreateControl(*control, font_);
    if (control->hwnd == nullptr) ok = false;
  }
  {
    RECT wr{};
    GetWindowRect(hwnd, &wr);
    naturalWidth_ = wr.right - wr.left;
    naturalHeight_ = wr.bottom - wr.top;
    naturalCells_.clear();
    for (auto& control : controls_) {
      RECT cr{};
      if (control->hwnd != nullptr) {
        GetWindowRect(control->hwnd, &cr);
        POINT tl{cr.left, cr.top}, br{cr.right, cr.bottom};
        ScreenToClient(hwnd, &tl);
        ScreenToClient(hwnd, &br);
        cr = RECT{tl.x, tl.y, br.x, br.y};
      }
      naturalCells_.push_back(cr);
    }
  }
  creating_ = false;
  if (ok) FitToScreen();
  if (!ok) {
    DestroyWindow(hwnd);
    std::lock_guard lock(EngineMutex());
    hwnd_ = nullptr;
    controls_.clear();
    return false;
  }

  return true;
}

void Window::Activate() {
  Window* below = context_->active();
  {
    std::lock_guard lock(EngineMutex());
    context_->windows.push_back(this);
    // The program initialises its window on EVENT:OpenWindow, before any
    // field event.
    queue_.push_front({kEventBase + event::OpenWindow});
  }
  if (below != nullptr) EnableWindow(below->hwnd(), FALSE);
  ShowWindow(hwnd_, SW_SHOW);
  SetActiveWindow(hwnd_);
  if (HWND first = GetNextDlgTabItem(hwnd_, nullptr, FALSE)) SetFocus(first);
}

void Window::CreateControl(Control& control, HFONT font) {
  const ControlSpec& cs = control.described;
  HWND parent = hwnd_;
  uint32_t attr = spec_.attr;
  auto cells = [attr](int32_t v, bool across) {
    if (v == kNotGiven) return -1;
    v = ToDialogUnits(v, attr, across);
    return across ? DialogUnitsToCellsX(v) : DialogUnitsToCellsY(v);
  };
  // A cell is 4 dialog units wide and 8 high: a control's position is the
  // nearest cell to it, so that a prompt and the entry beside it a unit
  // higher or lower share a row (rounding up put the value one row above
  // its label), and an entry keeps the room its picture needs.
  auto nearest = [attr](int32_t v, bool across) {
    if (v == kNotGiven) return -1;
    v = ToDialogUnits(v, attr, across);
    const int unit = across ? 4 : 8;
    if (v < 0) return across ? DialogUnitsToCellsX(v) : DialogUnitsToCellsY(v);
    return (v + unit / 2) / unit;
  };
  RECT r;
  r.left = std::max(0, nearest(cs.x, true));
  r.top = std::max(0, nearest(cs.y, false));
  int width = cells(cs.width, true), height = cells(cs.height, false);
  if (width < 0) width = static_cast<int>(cs.text.size()) + (cs.type == rsc::kButton ? 4 : 0);
  // An entry is as wide as its picture shows, with its indent and a cell
  // for the caret after the last character, as far as the window has room:
  // widths are given for a proportional font, and "@s20" in 60 units would
  // show 15 cells of its 20 characters.
  if (cs.type == rsc::kEntry && !cs.picture.empty()) {
    values::Picture picture;
    values::CompilePicture(cs.picture, &picture);
    RECT client{};
    GetClientRect(parent, &client);
    const int indent = cs.indent > 0 ? DialogUnitsToCellsX(cs.indent) : 0;
    const int room = std::max(0, static_cast<int>(client.right) - static_cast<int>(r.left));
    if (picture.valid())
      width = std::max(width, std::min(static_cast<int>(picture.shownLength) + indent + 1, room));
  }
  if (height < 0) height = 1;
  r.right = r.left + std::max(1, width);
  r.bottom = r.top + std::max(1, height);

  ControlClass cls;
  HMENU id = reinterpret_cast<HMENU>(static_cast<intptr_t>(cs.feq));
  if (FindControlClass(cs.type, &cls)) {
    if (cls.create != nullptr) {
      control.hwnd = cls.create(control, parent, r);
    } else if (cls.className != nullptr) {
      control.hwnd = CreateWindowExA(0, cls.className, cs.text.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, r.left,
                                     r.top, r.right - r.left, r.bottom - r.top, parent, id, module_, &control);
    }
  } else {
    control.placeholder = true;
    if (cs.type == rsc::kButton) {
      DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP |
                    (cs.feq == defaultButton_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
      control.hwnd = CreateWindowExA(0, "Button", cs.text.c_str(), style, r.left, r.top, r.right - r.left,
                                     r.bottom - r.top, parent, id, module_, &control);
    } else {
      DWORD align = cs.justification == Justification::kRight ? SS_RIGHT
                    : cs.justification == Justification::kCentre ? SS_CENTER
                                                                : SS_LEFT;
      control.hwnd = CreateWindowExA(0, "Static", cs.text.c_str(), WS_CHILD | WS_VISIBLE | align, r.left, r.top,
                                     r.right - r.left, r.bottom - r.top, parent, id, module_, &control);
    }
  }
  if (control.hwnd != nullptr && font != nullptr)
    SendMessageA(control.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

bool Window::FitToScreen() {
  if (hwnd_ == nullptr || naturalCells_.size() != controls_.size()) return false;
  const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
  if (screenW <= 0 || screenH <= 0) return false;
  auto Offset = [](RECT* r, int x, int y) {
    r->left += x;
    r->right += x;
    r->top += y;
    r->bottom += y;
  };
  const bool screenChanged = screenW != fittedScreenW_ || screenH != fittedScreenH_;
  const bool firstFit = fittedScreenW_ == 0;
  fittedScreenW_ = screenW;
  fittedScreenH_ = screenH;
  RECT now{};
  GetWindowRect(hwnd_, &now);
  const int width = std::max(1, std::min(naturalWidth_, screenW));
  const int height = std::max(1, std::min(naturalHeight_, screenH));
  const int dw = width - naturalWidth_, dh = height - naturalHeight_;
  RECT client{};
  const bool resized = width != now.right - now.left || height != now.bottom - now.top;
  if (resized) {
    SetWindowPos(hwnd_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  GetClientRect(hwnd_, &client);

  // The control that stretches: the largest list.
  int stretch = -1;
  long area = 0;
  for (size_t i = 0; i < controls_.size(); ++i) {
    const RECT& r = naturalCells_[i];
    const long a = static_cast<long>(r.right - r.left) * (r.bottom - r.top);
    if (controls_[i]->described.type == rsc::kList && a > area) {
      area = a;
      stretch = static_cast<int>(i);
    }
  }
  std::vector<RECT> cells = naturalCells_;
  if (stretch >= 0) {
    const RECT s = naturalCells_[static_cast<size_t>(stretch)];
    for (size_t i = 0; i < cells.size(); ++i) {
      RECT& r = cells[i];
      if (static_cast<int>(i) == stretch) {
        r.right = std::max(r.left + 1, r.right + dw);
        r.bottom = std::max(r.top + 2, r.bottom + dh);
        continue;
      }
      if (r.top >= s.bottom) Offset(&r, 0, std::max(dh, static_cast<int>(s.top + 2 - s.bottom)));
      if (r.left >= s.right) Offset(&r, dw, 0);
    }
  }
  // Whatever still reaches past the bottom moves up into the window.
  for (RECT& r : cells)
    if (r.bottom > client.bottom) Offset(&r, 0, std::max(-static_cast<int>(r.top), static_cast<int>(client.bottom - r.bottom)));
  // A row that reaches past the right edge is packed: the same order, the
  // gaps shrunk (and the controls too, down to 3 cells, when that is not
  // enough).
  for (size_t i = 0; i < cells.size(); ++i) {
    if (cells[i].right <= client.right) continue;
    std::vector<size_t> row;
    for (size_t j = 0; j < cells.size(); ++j)
      if (cells[j].top == cells[i].top && static_cast<int>(j) != stretch &&
          (controls_[j]->hwnd == nullptr || (GetWindowLongPtrA(controls_[j]->hwnd, GWL_STYLE) & WS_VISIBLE)))
        row.push_back(j);
    std::sort(row.begin(), row.end(), [&](size_t a, size_t b) { return cells[a].left < cells[b].left; });
    int total = 0;
    for (size_t j : row) total += cells[j].right - cells[j].left;
    const int n = static_cast<int>(row.size());
    const int room = std::max(0, static_cast<int>(client.right));
    int gap = n > 1 ? std::max(0, (room - total) / n) : 0;
    gap = std::min(gap, 1);
    int shrinkEach = 0;
    if (total + gap * (n - 1) > room && n > 0) shrinkEach = (total + gap * (n - 1) - room + n - 1) / n;
    int x = 0;
    for (size_t j : row) {
      RECT& r = cells[j];
      const int w = std::max(3, static_cast<int>(r.right - r.left) - shrinkEach);
      r.left = x;
      r.right = x + w;
      x += w + gap;
    }
  }
  for (size_t i = 0; i < controls_.size(); ++i) {
    HWND h = controls_[i]->hwnd;
    if (h == nullptr) continue;
    const RECT& r = cells[i];
    SetWindowPos(h, nullptr, r.left, r.top, std::max<LONG>(1, r.right - r.left), std::max<LONG>(1, r.bottom - r.top),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // On the screen, centred when it no longer fits where it stood.
  RECT wr{};
  GetWindowRect(hwnd_, &wr);
  int x = wr.left, y = wr.top;
  if ((screenChanged && !firstFit) || resized || x + width > screenW || y + height > screenH) {
    x = std::max(0, (screenW - width) / 2);
    y = std::max(0, (screenH - height) / 2);
  }
  x = std::clamp(x, 0, std::max(0, screenW - width));
  y = std::clamp(y, 0, std::max(0, screenH - height));
  if (x != wr.left || y != wr.top) SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(hwnd_, nullptr, TRUE);
  return resized;
}

void Window::Close() {
  if (!IsOpen() || context_ != CurrentWindowContext(false)) return;
  HWND hwnd;
  Window* below = nullptr;
  std::deque<QueuedEvent> dropped;
  {
    std::lock_guard lock(EngineMutex());
    hwnd = hwnd_;
    hwnd_ = nullptr;
    dropped.swap(queue_);
    auto& list = context_->windows;
    bool wasActive = !list.empty() && list.back() == this;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    if (wasActive && !list.empty()) below = list.back();
    if (list.empty()) {
      // With its last window the thread's pending input goes too.
      context_->shuttingDown = false;
      context_->pressedKeys.clear();
    }
  }
  // Modal events still waiting learn that the window closed first.
  for (QueuedEvent& e : dropped)
    if (e.then) e.then(-1);
  if (IsWindow(hwnd)) DestroyWindow(hwnd);
  controls_.clear();
  if (font_ != nullptr) {
    DeleteObject(font_);
    font_ = nullptr;
  }
  if (below != nullptr && below->IsOpen()) {
    EnableWindow(below->hwnd(), TRUE);
    SetActiveWindow(below->hwnd());
    below->Enqueue({kEventBase + event::GainFocus});
  }
}

}  // namespace pr::ui
