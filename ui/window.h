// Windows opened from compiled window resources, their controls and the
// per-thread window context.
//
// A procedure declares a Window by its module-qualified name and label and
// opens it; opening decodes the window's resource (ui/resource_lookup.h,
// ui/resource_decoder.h), creates the window and every control of its list in
// order (ui/window_controls.h maps a record type to a control class) and
// queues EVENT:OpenWindow.  The procedure then runs its ACCEPT loop
// (ui/event_loop.h) and closes the window; the destructor closes a window the
// procedure left open.
//
// Threads.  A window belongs to the thread that opened it.  Each thread that
// opens windows has a window context (its open windows, the active window,
// the running ACCEPT loops, the last key code) reached through a thread-local
// slot and registered under a thread number 1, 2, 3 ... so that POST can
// reach another thread's active window.  Event queues may be appended to from
// any thread; everything else of a window is used by its own thread only.
// One process-wide mutex guards the context registry, the window lists and
// the queues; it is never held while a window procedure or the program runs.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/winuser.h"
#include "ui/resource_decoder.h"

namespace pr::ui {

class Window;
struct WindowContext;

// One queued event.  `code` is the internal code (event number + kEventBase,
// or any number a program posted).
struct QueuedEvent {
  QueuedEvent() = default;
  QueuedEvent(uint32_t code_, int32_t feq_ = 0, intptr_t where_ = 0, uint32_t keyCode_ = 0,
              std::function<void(int)> then_ = {})
      : code(code_), feq(feq_), where(where_), keyCode(keyCode_), then(std::move(then_)) {}

  uint32_t code = 0;
  int32_t feq = 0;       // control's field equate number; 0 for a window event
  intptr_t where = 0;    // POST's fourth value
  uint32_t keyCode = 0;  // the key code that raised an AlertKey or PreAlert
  // For a modal event: run once the ACCEPT loop has handled the event, with
  // 0, or -1 when the window closed first.
  std::function<void(int)> then;
};

// One control of an open window.
struct Control {
  Window* window = nullptr;
  ControlSpec described;            // as its record describes it
  HWND hwnd = nullptr;         // its window (a child of the window's)
  void* variable = nullptr;    // the bound USE variable, null when none
  bool placeholder = false;    // made as a plain button or static text: no class registered for its kind
  std::string tip;             // Tip property (starts as the first descriptive text)
  std::vector<uint32_t> alertKeys;  // Alrt property, in slot order
  // Properties without a dedicated effect, kept by number (and index).
  std::vector<std::pair<uint64_t, std::string>> stored;
  // State of the control class (VelEdit, VelList ...); owned by the class.
  std::shared_ptr<void> classState;

  int32_t feq() const { return described.feq; }
};

// The address of a control's variable, bound by FEQ when the window opens.
struct VariableBinding {
  int32_t feq;
  void* address;
};

class Window {
 public:
  // `module` is the module to search first (null: the process's preferred
  // resource module, then every module).
  Window(std::string qualifiedName, std::string label, HMODULE module = nullptr);
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Opens the window on the calling thread.  Raises and returns false:
  // 535 when it is already open, 504 when the thread cannot have a window
  // context (the window system does not start), 502 when the resource or the
  // window is not found or is malformed, 529 when the window cannot be
  // created.  On success the window is the thread's active window and
  // EVENT:OpenWindow is its first queued event.
  bool Open(std::initializer_list<VariableBinding> bindings = {});
  // Destroys the window and its controls; the ACCEPT loop running it ends
  // and the window below it becomes active again (with EVENT:GainFocus).
  // Does nothing when the window is not open.  Owning thread only.
  void Close();
  bool IsOpen() const { return hwnd_ != nullptr; }

  HWND hwnd() const { return hwnd_; }
  const WindowSpec& described() const { return spec_; }
  const std::string& qualifiedName() const { return qualifiedName_; }
  WindowContext* context() const { return context_; }
  // Controls in FEQ (list) order.
  const std::vector<std::unique_ptr<Control>>& controls() const { return controls_; }
  Control* ControlByFeq(int32_t feq) const;
  Control* ControlByHwnd(HWND hwnd) const;  // the control that is or contains `hwnd`
  // The window's default button (last button with option bit 0x01), 0 when none.
  int32_t defaultButton() const { return defaultButton_; }

  // Lays the window out again for the screen as it is now: the size its
  // resource gives when the screen has room, else as much as the screen
  // has; the list (the largest control that can stretch) takes the
  // difference, the controls below and right of it move along, and a row of
  // controls wider than the window is packed into it.  Centred when it was
  // placed by the engine, kept on the screen otherwise.  True when the size
  // changed (the caller then posts EVENT:Sized).
  bool FitToScreen();

  // Queue.  Any thread.  `front` puts the event before all others.  An
  // event for a window that is not open is dropped.
  void Enqueue(QueuedEvent event, bool front = false);
  // The same with EngineMutex() already held by the caller; returns the
  // thread to wake (0 when dropped or when it is the caller's own).
  DWORD EnqueueLocked(QueuedEvent event, bool front);
  bool Dequeue(QueuedEvent* event);
  size_t QueueLength() const;

  // True while the window and its controls are being created.
  bool creating() const { return creating_; }

  // Window-level properties.
  bool acceptAll = false;  // AcceptAll: on while SELECT validates every field
  std::string tip;
  std::vector<std::pair<uint64_t, std::string>> stored;

 private:
  bool Create(const WindowSpec& described, std::initializer_list<VariableBinding> bindings);
  void CreateControl(Control& control, HFONT font);
  void Activate();

  std::string qualifiedName_, label_;
  HMODULE module_;
  WindowSpec spec_;
  WindowContext* context_ = nullptr;
  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;
  std::vector<std::unique_ptr<Control>> controls_;
  // The window's size and its controls' cells as the resource gives them
  // (FitToScreen lays out from these).
  int naturalWidth_ = 0, naturalHeight_ = 0;
  std::vector<RECT> naturalCells_;
  int fittedScreenW_ = 0, fittedScreenH_ = 0;  // the screen of the last fit
  int32_t defaultButton_ = 0;
  std::deque<QueuedEvent> queue_;  // guarded by the process-wide mutex
  bool creating_ = false;
};

// One ACCEPT loop in progress.
struct AcceptLoop {
  Window* window = nullptr;
  QueuedEvent current;
  bool hasCurrent = false;
  bool cycled = false;
};

struct WindowContext {
  DWORD threadId = 0;
  int threadNumber = 0;
  std::vector<Window*> windows;      // open windows, in opening order; back() is active
  std::vector<AcceptLoop*> loops;    // running ACCEPT loops, innermost last
  uint32_t keyCode = 0;              // last key code
  std::deque<uint32_t> pressedKeys;  // PRESSKEY buffer
  bool shuttingDown = false;         // the input has ended: loops close their windows

  Window* active() const { return windows.empty() ? nullptr : windows.back(); }
};

// The calling thread's context; with `create`, made (and the window system
// started) when there is none.  Null when it cannot be had.
WindowContext* CurrentWindowContext(bool create = false);
// The thread number of the calling thread's context (0 without one).
int CurrentThreadNumber();

// Runs `fn` with the context registered under `threadNumber` while the
// registry is locked (fn gets null when there is none).  `fn` must only queue.
void WithThreadContext(int threadNumber, const std::function<void(WindowContext*)>& fn);

// The class name of the windows this engine creates.
inline constexpr char kWindowClass[] = "VelWindow";

}  // namespace pr::ui
