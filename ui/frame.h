// The host frame: the application frame that prhost opens, with a toolbar of
// controls numbered 2000 to 2012 that the module's windows address by number.
//
// The toolbar's state (enabled, tip) is process-wide and exists whether or
// not a frame is open, so a module may set it before the host shows it.  An
// accepted toolbar control (a click, or its function-key shortcut while an
// ACCEPT loop runs) is delivered to the calling thread's active window as
// EVENT:Accepted with FIELD() equal to its number.  In the terminal the
// toolbar is a row of labelled buttons, each showing its shortcut.
//
// The frame belongs to the thread that opened it; the state functions may be
// called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/winuser.h"

namespace pr::ui {

inline constexpr int32_t kFirstToolbarControl = 2000;
inline constexpr int32_t kLastToolbarControl = 2012;

inline constexpr bool IsToolbarControl(int32_t number) {
  return number >= kFirstToolbarControl && number <= kLastToolbarControl;
}

// Opens the frame over the whole screen with its toolbar (the window system
// starts if needed).  Returns the frame window, or null when it cannot be
// created.  A second call returns the open frame.
HWND OpenHostFrame(const char* title = "Partner Registry");
// Destroys the frame (the state of the controls stays).  Owning thread only.
void CloseHostFrame();
// The open frame's window, or null.
HWND HostFrameWindow();

// Enable or disable a toolbar control; false for a number outside 2000..2012.
bool EnableToolbarControl(int32_t number, bool enable);
bool IsToolbarControlEnabled(int32_t number);
bool SetToolbarTip(int32_t number, std::string_view tip);
std::string ToolbarTip(int32_t number);
// Shows the current state of controls first..last on the frame.
void RedisplayToolbar(int32_t first = kFirstToolbarControl, int32_t last = kLastToolbarControl);
// Puts every control back to enabled with no tip.
void ResetToolbar();

// The status line: one line at the bottom of the frame that tells the user
// what the window in use will do or is doing ("Record will be Deleted",
// what a search looks for, the tip of a toolbar key).  Process-wide like the
// toolbar; shown whenever a frame is open.
void SetStatusText(std::string_view text);
std::string StatusText();

class Window;
// The mouse rests on `over`: while it is a toolbar control or a control of
// `window` that has a tip, the status line shows that tip; elsewhere it
// shows the status again.  The next SetStatusText takes the line back.
void ShowTipUnderMouse(const Window* window, HWND over);

// The caption shown for a toolbar control ("F2 Insert").
std::string ToolbarCaption(int32_t number);

// True when a frame is open and `keyCode` is the shortcut of an enabled
// toolbar control; *number is that control.
bool HostFrameShortcut(uint32_t keyCode, int32_t* number);

}  // namespace pr::ui
