// The ACCEPT loop and the event statements of compiled code.
//
//   pr::ui::Window form("PR_DLL$PR_DL004", "P1$FORMWINDOW");
//   if (!form.Open({{2, &record.id}, {4, record.name}})) return;
//   for (pr::ui::Accept accept; accept.Next();) {
//     switch (pr::ui::Event()) { ... }
//   }
//   form.Close();
//
// Each Next() delivers exactly one event of the thread's active window (the
// one active when the Accept began): EVENT:OpenWindow first, EVENT:CloseWindow
// (or CloseDown) last.  Between two events the engine carries out the default
// action of the event just handled: after CloseWindow and CloseDown it closes
// the window unless the program called Cycle() for that event; after
// Completed it ends the AcceptAll mode of SELECT.  While waiting, the loop
// pumps the thread's window messages: buttons become EVENT:Accepted,
// alert keys EVENT:AlertKey, the close box EVENT:CloseWindow, host frame
// shortcuts accept their toolbar control.  Tab, Enter and Escape go to the
// focused entry first, which completes (Escape after undoing its edit); then
// Tab moves between controls (unless the entry refused its text), Enter
// presses the enabled default button and Escape queues CloseWindow.  PRESSKEY
// keys take the same way.  A key taken as an alert key or a shortcut is not
// typed as well.  When the window system's input ends, the loop gets
// EVENT:CloseDown and the window closes.
//
// All functions act on the calling thread; only Post may reach another.
#pragma once

#include <cstdint>
#include <functional>

#include "ui/event_codes.h"
#include "ui/window.h"

namespace pr::ui {

class Accept {
 public:
  // The loop start: takes the thread's active window; without one raises
  // 537 ("ACCEPT loop requires a window") and Next() returns false.
  Accept();
  ~Accept();
  Accept(const Accept&) = delete;
  Accept& operator=(const Accept&) = delete;

  // Finishes the previous event (its default action) and waits for the next
  // one; false once the window has closed, after which EVENT() reads the
  // enclosing loop's event again.
  bool Next();
  Window* window() const { return loop_.window; }

 private:
  AcceptLoop loop_;
  bool started_ = false;
  bool registered_ = false;
};

// The current event's number (internal code minus 0xA000); 0 outside events.
int32_t Event();
// The FEQ of the current event's control; 0 for a window event (0x201 on).
int32_t Field();
// FIELD() when the current event is EVENT:Accepted, else 0.
int32_t Accepted();
// Skips the default action of the current event (keeps a window open on
// CloseWindow).
void Cycle();

// Queues event number `event` (internal code event + 0xA000) for control
// `feq` (0: a window event) of the active window of thread `thread` (0: the
// calling thread).  `where` non-zero queues it before all waiting events but
// a waiting EVENT:OpenWindow.  An `feq` that names no control of the window
// (nor a host toolbar control) arrives as FIELD() 0.  Dropped when that thread
// has no active window, the window system has not started, or `event` is
// above 0xFFFFFFFF - 0xA000 (its internal code would wrap).
void Post(uint32_t event, int32_t feq = 0, int thread = 0, intptr_t where = 0);

// Moves the focus to control `feq` of the active window; an entry that
// already has it selects its whole text again.  With feq 0:
// switches AcceptAll on, validates every control in order (the classes'
// validate hooks; a refusing control gets the focus, raises its own
// EVENT:Rejected and ends the pass) and, when all pass, posts EVENT:Completed.
void Select(int32_t feq = 0);

// DISPLAY: shows controls first..last of the active window again from their
// variables (last 0: first alone; both 0: every control).  Host toolbar
// numbers in the range are redisplayed on the frame.
void Display(int32_t first = 0, int32_t last = 0);

// Raises a modal event for a control: it is delivered as the window's next
// event and `then` runs once the ACCEPT loop has handled it (with 0), or with
// -1 when the window closes first.  Returns -1 after raising 545 when the
// calling thread does not own the window; 0 otherwise (also when the window
// runs no ACCEPT loop, in which case the event is discarded and `then` never
// runs).
int RaiseModalEvent(Window* window, uint32_t event, int32_t feq, std::function<void(int)> then = {},
                    uint32_t keyCode = 0);

// The last key code (KEYCODE()), and setting it.
uint32_t KeyCode();
void SetKeyCode(uint32_t keyCode);
// Queues a keystroke as if typed (PRESSKEY); 534 when more than
// kPressKeyLimit are waiting.
inline constexpr size_t kPressKeyLimit = 64;
void PressKey(uint32_t keyCode);

// The key code of a key or mouse-button message, with the modifier and lock
// bits given.  0 for other messages.
uint32_t KeyCodeOf(UINT message, WPARAM wParam, LPARAM lParam, uint32_t modifierAndLockBits);
// The modifier and lock bits of the calling thread's keyboard state.
uint32_t CurrentKeyStateBits();

// BEEP: a message beep (MB_OK when 0).
void Beep(UINT sound = 0);

}  // namespace pr::ui
