// The LIST control: window class `VelList`, rows of a queue (or of a
// constant "a|b|c" string) shown as the columns of its FORMAT string.
//
// Layout: the header lines (when any column or group has a header) on top,
// then one row of cells per queue entry (more for groups with row breaks);
// column borders ("|") and headers drawn as the format says, the highlighted
// row in the selection colours.  Cells are formatted by the column's picture.
//
// Normal mode: Up and Down move the selection by one row, Page Up and Page
// Down by the visible rows less one, Home and End to the first and last row,
// Left and Right scroll horizontally (Ctrl: to either end), a typed character
// above the space selects the next row whose locator column (else the first
// column) starts with it.  A click selects the row under the mouse.  Every
// change of selection by the user queues EVENT:NewSelection.
//
// Event-reporting mode (attribute bit 0x800 of the list record): the keys
// and scroll requests never move through the data; they raise EVENT:ScrollUp,
// ScrollDown, PageUp, PageDown, ScrollTop, ScrollBottom, ScrollTrack and
// ScrollDrag (with the thumb position kept in VScrollPos) as modal events;
// a typed character raises EVENT:PreAlert (modal), then goes to the locator
// search, then EVENT:AlertKey is queued; the window's locate request
// (query::LOCATE) queues EVENT:Locate.  The list repaints once the program has
// handled each modal event.
//
// Properties (ui/property.h): Items reads the number of visible rows;
// Selected reads and sets the highlighted row (1-based, 0 none); VScrollPos
// reads and sets the thumb position (0 to 100 in event-reporting mode, the
// first visible row less one otherwise).
//
// Threads: a list is used by the thread that owns its window.
#pragma once

#include <cstdint>

#include "platform/winuser.h"
#include "ui/format_string.h"

namespace pr::ui {

class ListQueue;

inline constexpr char kListClass[] = "VelList";
inline constexpr uint32_t kListEventReporting = 0x800;  // attribute bit of the list record

// Registers the window class and the LIST record type (14) with the window
// engine.  Idempotent; call before windows with lists open.
void RegisterListControl();
// Registers only the window class (for lists in dialogs).  Idempotent.
void RegisterListWindowClass();

// Binds a queue to a list window (null: the constant string of the record, or
// nothing); the list shows it from then on.  The queue stays the caller's.
void SetListQueue(HWND list, ListQueue* queue);
// Replaces the list's format (the columns are rebuilt from scratch).
void SetListFormat(HWND list, const char* format);
// The parsed format of a list, null for a window that is no list.
const ListFormat* GetListFormat(HWND list);
// The highlighted row (1-based, 0 none).
int32_t ListSelected(HWND list);
// A list made outside a window of the engine (a dialog's) tells its parent of
// the user's choices by WM_COMMAND with these notification codes.
inline constexpr WORD kListSelChange = 1;
inline constexpr WORD kListDoubleClick = 2;
// The first visible row (1-based) and the number of visible rows.
int32_t ListFirstVisible(HWND list);
int32_t ListVisibleRows(HWND list);
// In event-reporting mode: the character (Windows-1250) whose typing raised
// the last EVENT:AlertKey, 0 when none; reading it clears it.
uint8_t TakeListTypedChar(HWND list);
// The row (1-based) shown at a point of the screen, 0 when none is there.
int32_t ListRowAtScreen(HWND list, POINT screen);

}  // namespace pr::ui
