// The message dialog and the stop and halt boxes.
//
// Message shows a modal box built in memory as a dialog template (caption,
// optional icon, a text of one or more lines, a row of push buttons) over the
// owner window and returns which button was pressed.  Stop and Halt use the
// same builder and end the process.
//
// Texts are Windows-1250.  All functions run on the calling thread; the
// replacement functions are process-wide and may be installed from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winuser.h"

namespace pr::ui {

// Values of the standard buttons (the buttons argument is their sum, the
// result the value of the button pressed), in left-to-right order.
enum MessageButton : int {
  kButtonOk = 1,
  kButtonYes = 2,
  kButtonNo = 4,
  kButtonAbort = 8,
  kButtonRetry = 16,
  kButtonIgnore = 32,
  kButtonCancel = 64,
  kButtonHelp = 128,
};

// Style bits.
inline constexpr int kMessageSystemModal = 0x1;   // the dialog gets DS_SYSMODAL
inline constexpr int kMessageSelectable = 0x2;    // the text in a read-only, selectable text box
// Bits 4 to 7: a Windows message-box icon flag (MB_ICONHAND ...), used when
// the icon string is empty.

// Control ID of the icon control.
inline constexpr int kMessageIconId = 0xA90;

// MESSAGE(text, caption, icon, buttons, default, style).
//   text     every "|" starts a new line.
//   icon     "" none; "\xFF\x01" + 16-bit LE N: system icon N - 1; "\xFF\x02" + N:
//            icon resource N - 1 of the runtime module; "~NAME": icon resource
//            NAME (upper-cased, "." -> "_") of the current resource module;
//            otherwise an icon file, optionally "NAME[INDEX]".  An icon that
//            cannot be loaded is left out.
//   buttons  "" : OK only.  Starting with a digit and holding no "|": the sum
//            of MessageButton values.  Otherwise custom captions separated by
//            "|" (empty items skipped, at most 8); a caption equal to a
//            standard one ("OK", "&Yes", ..., "Cancel") is that standard button.
//   default  standard buttons: the value of the default button (its lowest
//            set bit); custom: its 1-based position (outside 1..count: 1).
// Returns the value of the standard button pressed, the position of the
// custom button pressed, or 0 when the dialog cannot be created or ends
// without a button.  The owner is the calling thread's active window, else
// the fallback window, else the foreground window, else the desktop; the
// keyboard focus is given back afterwards.  Standard captions are replaced by
// message override 0x7F00 + command ID when one is loaded.
int Message(std::string_view text, std::string_view caption = {}, std::string_view icon = {},
            std::string_view buttons = {}, int defaultButton = 0, int style = 0);

// The buttons MESSAGE lays out for a buttons text and default, left to
// right: command ID, result, caption, and whether the template gives the
// button the default push-button style (one button at most; none when no
// button is the default, though the first one's ID is then the dialog's
// default ID, answered in *defaultId).
struct MessageButtonInfo {
  int id;
  int result;
  std::string caption;
  bool defaultStyle;
};
std::vector<MessageButtonInfo> MessageButtons(std::string_view buttons, int defaultButton, int* defaultId);

// STOP(text, exit-question flag): "Stop" box with Abort (default) and
// Ignore, "Exit?" appended to the text when asked.  Returns on Ignore (or
// when the box cannot be shown); Abort ends the process with exit code 0.
void Stop(std::string_view text, bool exitQuestion = false);

// HALT(exit code, text): with a text, a "Halt" box with OK first; then the
// process ends with `code` after the runtime's end-of-program steps (atexit
// handlers, the terminal given back).  Never returns.
[[noreturn]] void Halt(int code, std::optional<std::string_view> text = std::nullopt);

// True once Stop or Halt has started ending the process.
bool IsHalting();

// Process-wide replacements.  While one is installed, Message / Stop / Halt
// call it with their arguments instead of showing a box (Halt still ends the
// process afterwards).  Each setter returns the previous function; null
// removes the replacement.
using MessageFunction = int (*)(std::string_view text, std::string_view caption, std::string_view icon,
                                std::string_view buttons, int defaultButton, int style);
using StopFunction = void (*)(std::string_view text, bool exitQuestion);
using HaltFunction = void (*)(int code, std::optional<std::string_view> text);
MessageFunction SetMessageFunction(MessageFunction function);
StopFunction SetStopFunction(StopFunction function);
HaltFunction SetHaltFunction(HaltFunction function);

// The process-wide fallback owner for threads without an active window
// (null clears it).
void SetMessageFallbackOwner(HWND window);
// The owner a message box of the calling thread would get now.
HWND MessageOwner();

}  // namespace pr::ui
