// The ENTRY control: window class `VelEdit`, one variable edited through a
// picture.
//
// The control shows its variable formatted by the picture, lets the user edit
// the text in place and, when the user leaves it (Enter, Tab, a click
// elsewhere, any loss of focus) converts the text back through the picture:
//   - an untouched text that the previous check did not reject is only shown
//     again, formatted;
//   - a text that converts is stored in the variable, the modified flag is
//     cleared and EVENT:Accepted is queued for the control;
//   - a text that does not convert (or does not fit the variable) leaves the
//     variable as it was, queues EVENT:Rejected with a nonzero rejection code
//     (in the event's `where`, and from EntryRejectCode) and keeps the focus
//     in the control; the next leave checks the text again, changed or not.
// Escape restores the text shown when editing began, then completes.  The
// event loop hands Tab, Enter and Escape to the focused entry before it acts
// on them itself.  DISPLAY shows the variable again and, in the focused
// entry, starts editing over on it (all selected).  Lengths and positions
// are 16-bit: no limit goes above 65,535 characters.
//
// Keys: Home, End, Left, Right (Ctrl: by words; Shift: extends the
// selection), Backspace, Delete, Ctrl+C / Ctrl+X / Ctrl+V (nothing is copied
// out of a password entry; a read-only entry only copies; a paste inserts
// even in overwrite mode).  A refused key
// (maximum length, no room left in an entry that does not scroll, a
// character outside the font) beeps and changes nothing.
//
// Insert mode is one setting of the process, on from the start; typing at the
// end of the text always appends.
//
// Options come from the window style (ES_READONLY, ES_PASSWORD, ES_UPPERCASE,
// ES_AUTOHSCROLL, kEntryCapitalise) for entries created directly, and from the
// control record for entries of a window (attr2 bits below; an entry of a
// window scrolls unless kEntryAttrNoScroll is set).  Justification and indent
// come from the record.
//
// Threads: an entry is used by the thread that owns its window.
#pragma once

#include <cstdint>
#include <string>

#include "platform/winuser.h"

namespace pr::ui {

struct Control;

inline constexpr char kEntryClass[] = "VelEdit";

// Window style bit of this class: capitalise the first letter of each word.
inline constexpr DWORD kEntryCapitalise = 0x1000;

// Option bits of an entry record's second attribute word (this runtime's own).
inline constexpr uint32_t kEntryAttrReadOnly = 0x01;
inline constexpr uint32_t kEntryAttrPassword = 0x02;
inline constexpr uint32_t kEntryAttrUpper = 0x04;
inline constexpr uint32_t kEntryAttrCapitalise = 0x08;
inline constexpr uint32_t kEntryAttrNoScroll = 0x10;

// Rejection codes.
inline constexpr int32_t kRejectNotConverted = 1;  // the picture cannot read the text
inline constexpr int32_t kRejectOutOfRange = 2;    // the value does not fit the variable
inline constexpr int32_t kRejectNoVariable = 3;    // the variable's type cannot take a value

// Registers the window class and the ENTRY record type (8) with the window
// engine.  Idempotent; call before windows with entries open.
void RegisterEntryControl();

// The process-wide insert mode (on from the start).
void SetEntryInsertMode(bool on);
bool EntryInsertMode();

// The entry's current text (as edited), "" for a window that is no entry.
std::string EntryText(HWND entry);
// The rejection code of the last check (0 when it accepted or none ran).
int32_t EntryRejectCode(HWND entry);
// Checks the text now, as leaving the control does; true when it was accepted
// (or nothing had to be checked).
bool EntryComplete(HWND entry);

}  // namespace pr::ui
