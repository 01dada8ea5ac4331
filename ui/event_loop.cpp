#include "ui/event_loop.h"

#include <algorithm>
#include <cstring>

#include "ui/entry.h"
#include "ui/event_errors.h"
#include "ui/frame.h"
#include "ui/window_controls.h"
#include "ui/window_internal.h"

namespace pr::ui {
namespace {

uint32_t NumberOf(uint32_t code) { return code >= kEventBase ? code - kEventBase : code; }

AcceptLoop* CurrentLoop() {
  WindowContext* context = CurrentWindowContext(false);
  if (context == nullptr || context->loops.empty()) return nullptr;
  return context->loops.back();
}

bool IsInside(Window* window, HWND hwnd) {
  return hwnd != nullptr && (hwnd == window->hwnd() || IsChild(window->hwnd(), hwnd));
}

void PressButton(Window* window, Control* button) {
  if (button != nullptr && IsWindowEnabled(button->hwnd))
    window->Enqueue({kEventBase + event::Accepted, button->feq()});
}

bool IsEntry(HWND hwnd) {
  char name[32] = {};
  return hwnd != nullptr && GetClassNameA(hwnd, name, sizeof name) > 0 && std::strcmp(name, kEntryClass) == 0;
}

// Enter, Tab and Escape reach the focused entry before the window acts on
// them: the entry completes (Escape first puts back the text it started
// with), so that what the window does next sees the value the user sees.
// False when the entry refused its text (it keeps the focus).
bool CompleteFocusedEntry(Window* window, UINT vk) {
  HWND focus = GetFocus();
  if (!IsEntry(focus) || !IsInside(window, focus)) return true;
  SendMessageA(focus, WM_KEYDOWN, vk, 0);
  return EntryRejectCode(focus) == 0;
}

// Enter: presses the focused button; else completes the focused entry and
// then presses the default button, once the entry has let the focus go.
void PressEnter(Window* window) {
  Control* focus = window->ControlByHwnd(GetFocus());
  if (focus != nullptr && focus->described.type == rsc::kButton) {
    PressButton(window, focus);
    return;
  }
  if (!CompleteFocusedEntry(window, VK_RETURN)) return;
  Control* button = window->ControlByFeq(window->defaultButton());
  if (button == nullptr || !IsWindowEnabled(button->hwnd)) return;
  SetFocus(button->hwnd);
  if (GetFocus() == button->hwnd) PressButton(window, button);
}

// Tab, Enter and Escape as the window handles them, typed or pressed by
// PRESSKEY alike.  True when the key is consumed.
bool WindowKey(Window* window, uint32_t code) {
  uint32_t plain = code & 0x7FF;  // key and Shift/Ctrl/Alt, without lock bits
  switch (plain & 0xFF) {
    case VK_TAB:
      if ((plain & (key::Ctrl | key::Alt)) != 0) return false;
      if (!CompleteFocusedEntry(window, VK_TAB)) return true;  // refused: the focus stays
      if (HWND next = GetNextDlgTabItem(window->hwnd(), GetFocus(), (plain & key::Shift) != 0)) SetFocus(next);
      return true;
    case VK_RETURN:
      if (plain != VK_RETURN) return false;
      PressEnter(window);
      return true;
    case VK_ESCAPE:
      if (plain != VK_ESCAPE) return false;
      CompleteFocusedEntry(window, VK_ESCAPE);
      window->Enqueue({kEventBase + event::CloseWindow});
      return true;
    default:
      return false;
  }
}

// A keystroke the engine took is not typed as well: the character the
// window system queued right behind its key goes with it.
void DropTypedCharacter(HWND hwnd) {
  MSG next;
  if (PeekMessageA(&next, hwnd, 0, 0, PM_NOREMOVE) && (next.message == WM_CHAR || next.message == WM_SYSCHAR))
    PeekMessageA(&next, hwnd, next.message, next.message, PM_REMOVE);
}

// Keys and clicks the engine handles before the controls see them.  True
// when the message is consumed.
bool PreTranslate(Window* window, WindowContext* context, const MSG& msg) {
  bool key = msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN;
  bool mouse = msg.message >= WM_LBUTTONDOWN && msg.message <= WM_MBUTTONDBLCLK;
  bool inside = IsInside(window, msg.hwnd);
  if (msg.message == WM_CHAR && inside && (msg.wParam == '\t' || msg.wParam == '\r' || msg.wParam == 0x1B))
    return true;  // handled as keys below
  if (!key && !mouse) return false;
  uint32_t code = KeyCodeOf(msg.message, msg.wParam, msg.lParam, CurrentKeyStateBits());
  if (code == 0) return false;
  bool release = msg.message == WM_LBUTTONUP || msg.message == WM_RBUTTONUP || msg.message == WM_MBUTTONUP;
  if (!release) context->keyCode = code;  // the last key is the press, not its release

  int32_t toolbar = 0;
  if (key && HostFrameShortcut(code, &toolbar)) {
    window->Enqueue({kEventBase + event::Accepted, toolbar});
    DropTypedCharacter(msg.hwnd);
    return true;
  }
  if (!inside) return false;
  if (Control* control = window->ControlByHwnd(msg.hwnd)) {
    for (uint32_t alert : control->alertKeys)
      if (KeyMatches(alert, code)) {
        window->Enqueue({kEventBase + event::AlertKey, control->feq(), 0, code});
        if (key) DropTypedCharacter(msg.hwnd);
        return true;
      }
  }
  if (!key) return false;
  return WindowKey(window, code);
}

// A keystroke queued by PressKey, handled as if typed to the focus.
void DeliverPressedKey(Window* window, WindowContext* context, uint32_t code) {
  MSG msg{};
  msg.hwnd = GetFocus() != nullptr ? GetFocus() : window->hwnd();
  msg.message = (code & key::Alt) != 0 ? WM_SYSKEYDOWN : WM_KEYDOWN;
  msg.wParam = code & 0xFF;
  msg.lParam = (code & key::Extended) != 0 ? static_cast<LPARAM>(KF_EXTENDED_BIT) : 0;
  context->keyCode = code;
  int32_t toolbar = 0;
  if (HostFrameShortcut(code, &toolbar)) {
    window->Enqueue({kEventBase + event::Accepted, toolbar});
    return;
  }
  if (Control* control = window->ControlByHwnd(msg.hwnd))
    for (uint32_t alert : control->alertKeys)
      if (KeyMatches(alert, code)) {
        window->Enqueue({kEventBase + event::AlertKey, control->feq(), 0, code});
        return;
      }
  if (WindowKey(window, code)) return;
  DispatchMessageA(&msg);
}

// Waits for the loop's next event; false when the window has closed.
bool FetchNext(AcceptLoop& loop, WindowContext* context) {
  Window* window = loop.window;
  for (;;) {
    if (!window->IsOpen()) return false;
    if (!IsWindow(window->hwnd())) {  // destroyed from outside (its owner went)
      window->Close();
      return false;
    }
    QueuedEvent e;
    if (window->Dequeue(&e)) {
      if (e.keyCode != 0) context->keyCode = e.keyCode;
      // A posted field number that names no control of the window (nor a
      // toolbar control of the host frame) reaches the program as none.
      if (e.feq != 0 && window->ControlByFeq(e.feq) == nullptr &&
          !(IsToolbarControl(e.feq) && HostFrameWindow() != nullptr))
        e.feq = 0;
      loop.current = std::move(e);
      loop.hasCurrent = true;
      loop.cycled = false;
      return true;
    }
    if (!context->pressedKeys.empty()) {
      uint32_t code = context->pressedKeys.front();
      context->pressedKeys.pop_front();
      DeliverPressedKey(window, context, code);
      continue;
    }
    MSG msg;
    BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      // The input has ended: every loop of the thread closes its window.
      context->shuttingDown = true;
      window->Enqueue({kEventBase + event::CloseDown});
      continue;
    }
    if (msg.message == WM_MOUSEMOVE || msg.message == WM_NCMOUSEMOVE) ShowTipUnderMouse(window, msg.hwnd);
    if (PreTranslate(window, context, msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// The default action of the event just handled.
void FinishEvent(AcceptLoop& loop, WindowContext* context) {
  if (!loop.hasCurrent) return;
  QueuedEvent e = std::move(loop.current);
  loop.hasCurrent = false;
  Window* window = loop.window;
  uint32_t number = NumberOf(e.code);
  if (number == event::Completed) window->acceptAll = false;
  if (e.then) e.then(0);
  bool closing = number == event::CloseWindow || number == event::CloseDown;
  if (closing && (!loop.cycled || context->shuttingDown)) window->Close();
}

}  // namespace

// ------------------------------------------------------------ Accept

Accept::Accept() {
  WindowContext* context = CurrentWindowContext(false);
  Window* window = context != nullptr ? context->active() : nullptr;
  if (window == nullptr) {
    RaiseRuntimeError(rterr::AcceptNeedsWindow);
    return;
  }
  loop_.window = window;
  context->loops.push_back(&loop_);
  registered_ = true;
}

Accept::~Accept() {
  if (!registered_) return;
  WindowContext* context = CurrentWindowContext(false);
  if (context == nullptr) return;
  auto& loops = context->loops;
  loops.erase(std::remove(loops.begin(), loops.end(), &loop_), loops.end());
}

bool Accept::Next() {
  if (!registered_) return false;
  WindowContext* context = CurrentWindowContext(false);
  if (started_ && loop_.window != nullptr) FinishEvent(loop_, context);
  started_ = true;
  if (loop_.window != nullptr && FetchNext(loop_, context)) return true;
  // The loop is over: EVENT() is the enclosing loop's again.
  auto& loops = context->loops;
  loops.erase(std::remove(loops.begin(), loops.end(), &loop_), loops.end());
  registered_ = false;
  return false;
}

// ------------------------------------------------------------ queries

int32_t Event() {
  AcceptLoop* loop = CurrentLoop();
  return loop != nullptr && loop->hasCurrent ? static_cast<int32_t>(NumberOf(loop->current.code)) : 0;
}

int32_t Field() {
  AcceptLoop* loop = CurrentLoop();
  if (loop == nullptr || !loop->hasCurrent) return 0;
  return NumberOf(loop->current.code) < kFirstWindowEvent ? loop->current.feq : 0;
}

int32_t Accepted() { return Event() == static_cast<int32_t>(event::Accepted) ? Field() : 0; }

void Cycle() {
  if (AcceptLoop* loop = CurrentLoop()) loop->cycled = true;
}

// ------------------------------------------------------------ statements

void Post(uint32_t number, int32_t feq, int thread, intptr_t where) {
  if (!IsWindowSystemStarted()) return;
  if (number > UINT32_MAX - kEventBase) return;  // its internal code would wrap to "no event"
  if (thread == 0) thread = CurrentThreadNumber();
  if (thread == 0) return;  // the calling thread has never had a window
  DWORD wake = 0;
  WithThreadContext(thread, [&](WindowContext* context) {
    Window* window = context != nullptr ? context->active() : nullptr;
    if (window == nullptr) return;  // nobody to receive it
    wake = window->EnqueueLocked({number + kEventBase, feq, where}, where != 0);
  });
  if (wake != 0) WakeThread(wake);
}

void Select(int32_t feq) {
  WindowContext* context = CurrentWindowContext(false);
  Window* window = context != nullptr ? context->active() : nullptr;
  if (window == nullptr) return;
  if (feq != 0) {
    Control* control = window->ControlByFeq(feq);
    if (control == nullptr) return;
    if (GetFocus() != control->hwnd) {
      SetFocus(control->hwnd);
    } else if ((SendMessageA(control->hwnd, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) != 0) {
      // Selected again while it has the focus: editing starts over on the
      // text shown, all of it selected, as when the focus arrives.
      SendMessageA(control->hwnd, EM_SETSEL, 0, -1);
    }
    return;
  }
  window->acceptAll = true;
  for (const auto& control : window->controls()) {
    ControlClass cls;
    if (!IsWindowEnabled(control->hwnd) || !FindControlClass(control->described.type, &cls) || cls.validate == nullptr)
      continue;
    if (!cls.validate(*control)) {
      window->acceptAll = false;
      SetFocus(control->hwnd);
      return;
    }
  }
  window->Enqueue({kEventBase + event::Completed});
}

void Display(int32_t first, int32_t last) {
  if (last == 0) last = first;
  if (first <= kLastToolbarControl && last >= kFirstToolbarControl) RedisplayToolbar(first, last);
  WindowContext* context = CurrentWindowContext(false);
  Window* window = context != nullptr ? context->active() : nullptr;
  if (window == nullptr) return;
  for (const auto& control : window->controls()) {
    if (first != 0 && (control->feq() < first || control->feq() > last)) continue;
    ControlClass cls;
    if (FindControlClass(control->described.type, &cls) && cls.display != nullptr) cls.display(*control);
    InvalidateRect(control->hwnd, nullptr, TRUE);
  }
}

int RaiseModalEvent(Window* window, uint32_t number, int32_t feq, std::function<void(int)> then, uint32_t keyCode) {
  WindowContext* context = CurrentWindowContext(false);
  if (window == nullptr || context == nullptr || window->context() != context) {
    RaiseRuntimeError(rterr::ModalEventOtherThread);
    return -1;
  }
  if (number > UINT32_MAX - kEventBase) return 0;  // no such event: discarded
  bool running = std::any_of(context->loops.begin(), context->loops.end(),
                             [window](AcceptLoop* loop) { return loop->window == window; });
  if (!running || !window->IsOpen()) return 0;  // nothing to run it on: discarded
  window->Enqueue({number + kEventBase, feq, 0, keyCode, std::move(then)}, true);
  return 0;
}

uint32_t KeyCode() {
  WindowContext* context = CurrentWindowContext(false);
  return context != nullptr ? context->keyCode : 0;
}

void SetKeyCode(uint32_t keyCode) {
  if (WindowContext* context = CurrentWindowContext(keyCode != 0)) context->keyCode = keyCode;
}

void PressKey(uint32_t keyCode) {
  WindowContext* context = CurrentWindowContext(true);
  if (context == nullptr) return;
  if (context->pressedKeys.size() >= kPressKeyLimit) {
    RaiseRuntimeError(rterr::TooManyKeys);
    return;
  }
  context->pressedKeys.push_back(keyCode);
}

uint32_t KeyCodeOf(UINT message, WPARAM wParam, LPARAM lParam, uint32_t bits) {
  uint32_t code;
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      code = static_cast<uint32_t>(wParam & 0xFF);
      if ((lParam & KF_EXTENDED_BIT) != 0) code |= key::Extended;
      if (message == WM_SYSKEYDOWN && (lParam & KF_ALTDOWN_BIT) != 0) code |= key::Alt;
      break;
    case WM_LBUTTONDOWN: code = key::LeftButton; break;
    case WM_RBUTTONDOWN: code = key::RightButton; break;
    case WM_MBUTTONDOWN: code = key::MiddleButton; break;
    case WM_LBUTTONDBLCLK: code = key::LeftDouble; break;
    case WM_RBUTTONDBLCLK: code = key::RightDouble; break;
    case WM_MBUTTONDBLCLK: code = key::MiddleDouble; break;
    case WM_LBUTTONUP: code = key::LeftUp; break;
    case WM_RBUTTONUP: code = key::RightUp; break;
    case WM_MBUTTONUP: code = key::MiddleUp; break;
    default: return 0;
  }
  return code | (bits & (key::Shift | key::Ctrl | key::Alt | key::LockMask));
}

uint32_t CurrentKeyStateBits() {
  uint32_t bits = 0;
  if (GetKeyState(VK_SHIFT) & 0x8000) bits |= key::Shift;
  if (GetKeyState(VK_CONTROL) & 0x8000) bits |= key::Ctrl;
  if (GetKeyState(VK_MENU) & 0x8000) bits |= key::Alt;
  if (GetKeyState(VK_CAPITAL) & 1) bits |= key::CapsLock;
  if (GetKeyState(VK_NUMLOCK) & 1) bits |= key::NumLock;
  if (GetKeyState(VK_SCROLL) & 1) bits |= key::ScrollLock;
  if (GetKeyState(VK_INSERT) & 1) bits |= key::InsertOn;
  return bits;
}

void Beep(UINT sound) { MessageBeep(sound); }

}  // namespace pr::ui
