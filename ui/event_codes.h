// Event numbers, internal query messages, key codes and the runtime errors
// of the window engine.
//
// An event has the number the program sees (EVENT()) and an internal message
// code equal to that number plus kEventBase; POST and the engine's own
// senders add the base, EVENT() subtracts it.  Numbers the runtime does not
// define (the program's own 0x3FF) travel through the queues unchanged.
#pragma once

#include <cstdint>

namespace pr::ui {

inline constexpr uint32_t kEventBase = 0xA000;

namespace event {
enum : uint32_t {
  // Field events, 0x01 .. 0x1E.
  Accepted = 0x01,
  NewSelection = 0x02,
  ScrollUp = 0x03,
  ScrollDown = 0x04,
  PageUp = 0x05,
  PageDown = 0x06,
  ScrollTop = 0x07,
  ScrollBottom = 0x08,
  Locate = 0x09,
  MouseUp = 0x0A,
  MouseIn = 0x0B,
  MouseOut = 0x0C,
  MouseMove = 0x0D,
  VBXevent = 0x0E,
  AlertKey = 0x0F,
  PreAlert = 0x10,
  Dragging = 0x11,
  Drag = 0x12,
  Drop = 0x13,
  ScrollDrag = 0x14,
  TabChanging = 0x15,
  Expanding = 0x16,
  Contracting = 0x17,
  Expanded = 0x18,
  Contracted = 0x19,
  Rejected = 0x1A,
  DroppingDown = 0x1B,
  DroppedDown = 0x1C,
  ScrollTrack = 0x1D,
  ColumnResize = 0x1E,
  // Selection events.
  Selected = 0x101,
  Selecting = 0x102,
  // Window events (0x207 is not assigned).
  CloseWindow = 0x201,
  CloseDown = 0x202,
  OpenWindow = 0x203,
  OpenFailed = 0x204,
  LoseFocus = 0x205,
  GainFocus = 0x206,
  Suspend = 0x208,
  Resume = 0x209,
  Notify = 0x20A,
  Timer = 0x20B,
  DDErequest = 0x20C,
  DDEadvise = 0x20D,
  DDEdata = 0x20E,
  DDEexecute = 0x20F,
  DDEpoke = 0x210,
  DDEclosed = 0x211,
  Move = 0x220,
  Size = 0x221,
  Restore = 0x222,
  Maximize = 0x223,
  Iconize = 0x224,
  Completed = 0x225,
  Moved = 0x230,
  Sized = 0x231,
  Restored = 0x232,
  Maximized = 0x233,
  Iconized = 0x234,
  Docked = 0x235,
  UnDocked = 0x236,
  BuildFile = 0x240,
  BuildKey = 0x241,
  BuildDone = 0x242,
};
}  // namespace event

// Events below this number concern a control; from it on, the window.
inline constexpr uint32_t kFirstWindowEvent = 0x201;

// Internal query messages between the engine's own windows (never events).
namespace query {
enum : uint32_t {
  SHUTDOWN = 0xB000,
  SETUSE = 0xB001,
  SELECTED = 0xB002,
  COMMAND = 0xB003,
  HOTCHANGE = 0xB004,
  HELP = 0xB005,
  QUIT = 0xB006,
  REPLY = 0xB007,
  LOSEFOCUS = 0xB008,
  DOCKQUERY = 0xB00B,
  COLOR = 0xB00C,
  HSCROLL = 0xB00E,
  NOTIFY = 0xB010,
  LOCATE = 0xB012,
  EDITDONE = 0xB01D,
  CONTINUETHREAD = 0xB025,
  SETBARS = 0xB026,
  DIRTYBARS = 0xB027,
  MERGE = 0xB028,
  SAFEMAXIMIZE = 0xB029,
  SAFERESTORE = 0xB02A,
  MDIMAXIMIZE = 0xB02B,
  MDIRESTORE = 0xB02C,
  HOT = 0xB02D,
  SIZEMOVE = 0xB02E,
};
}  // namespace query

// ------------------------------------------------------------ key codes
// A key code is a virtual-key code or a mouse code, plus modifier and lock
// bits.
namespace key {
enum : uint32_t {
  LeftButton = 0x01,
  RightButton = 0x02,
  MiddleButton = 0x03,
  LeftDouble = 0x05,
  RightDouble = 0x06,
  MiddleDouble = 0x07,
  LeftUp = 0x81,
  RightUp = 0x82,
  MiddleUp = 0x83,
  Enter = 0x0D,
  Insert = 0x2D,
  Delete = 0x2E,
  Apps = 0x5D,
  F1 = 0x70,
  // Modifier state.
  Shift = 0x100,
  Ctrl = 0x200,
  Alt = 0x400,
  Extended = 0x800,
  // Lock state.
  CapsLock = 0x1000,
  NumLock = 0x2000,
  ScrollLock = 0x4000,
  InsertOn = 0x8000,
  LockMask = 0xF000,
};
}  // namespace key

// True when a pressed key code matches an alert key.  Lock bits of the
// pressed code are ignored unless the alert key itself names some, so a key
// pressed with Caps Lock, Num Lock, Scroll Lock or Insert on still matches.
constexpr bool KeyMatches(uint32_t alertKey, uint32_t pressed) {
  if ((alertKey & key::LockMask) == 0) pressed &= ~static_cast<uint32_t>(key::LockMask);
  return alertKey == pressed;
}

// ------------------------------------------------------------ runtime errors
namespace rterr {
enum : int {
  ResourceNotFound = 502,       // "Internal error 02"
  NoWindowContext = 504,        // "Internal error 04"
  PostToReport = 522,
  ApplicationActive = 526,
  ApplicationModal = 527,
  ApplicationFailed = 528,
  WindowFailed = 529,           // "Unable to open WINDOW"
  MdiNoApplication = 530,
  MdiModal = 531,
  MdiOnApplicationThread = 532,
  MdiFailed = 533,
  TooManyKeys = 534,            // "Too many keystrokes PRESSed"
  AlreadyOpen = 535,            // "Window is already open"
  NotOpen = 536,                // "Window is not open"
  AcceptNeedsWindow = 537,      // "ACCEPT loop requires a window"
  PrintNotReport = 538,
  EndPageNotReport = 539,
  AcceptModal = 540,
  CreateControlModal = 541,
  OperationModal = 542,
  ModalEventOtherThread = 545,  // "Attempt to execute a modal event for not current thread"
};
}  // namespace rterr

}  // namespace pr::ui
