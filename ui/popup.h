// POPUP: a context menu described by one text.
//
// Menu text grammar (one item is examined in this order):
//   items     := [ "|" ] item { "|" item }
//   item      := "-"                          a separator (no number)
//              | flags caption                an item
//              | flags caption "{" items "}"  a submenu (its caption has no number)
//   flags     := [ "~" ] [ "+" | "-" ] [ "[" attributes "]" ]
// "~" greys the item out, "+" checks it, "-" followed by more text shows it
// without a check mark (a "-" with nothing after it is the caption), an
// attribute list makes it owner-drawn (the list is kept, not interpreted).
// "&" marks the mnemonic.  Items are numbered 1, 2, 3 ... in text order across
// submenus.  An empty item between two "|" keeps its number and is shown
// greyed; text after a submenu's "}" is an item of its own.  A "}" without
// its "{" ends the top level.
//
// Thread safety: ParsePopupText is pure.  Popup runs on the calling thread
// and blocks it until the menu closes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winuser.h"

namespace pr::ui {

struct PopupItem {
  enum class Kind : uint8_t { kItem, kSeparator, kSubmenu };
  Kind kind = Kind::kItem;
  std::string caption;     // "&" kept
  std::string attributes;  // the text inside "[...]", when owner-drawn
  bool disabled = false;
  bool checked = false;
  bool ownerDrawn = false;
  uint32_t id = 0;               // 1, 2, 3 ...; 0 for separators and submenu captions
  std::vector<PopupItem> items;  // a submenu's items
};

// The items of the top level.  Never fails; nesting deeper than a fixed limit
// is read as plain text.
std::vector<PopupItem> ParsePopupText(std::string_view text);

// Builds the Windows menu of the parsed items: each level breaks into a new
// column (MF_MENUBARBREAK) once `itemsPerColumn` items stand in its current
// column (0: no limit).  Returns null when the menu cannot be created.  The
// caller destroys the menu.
HMENU BuildPopupMenu(const std::vector<PopupItem>& items, int itemsPerColumn);

// The coordinate value that means "not given".
inline constexpr int32_t kPopupNotGiven = static_cast<int32_t>(0x80000000u);

// POPUP(text, x, y, relative): shows the menu (trailing spaces of the text
// removed) at (x, y), or at the mouse position for a coordinate not given;
// with `relative` and a coordinate given, x and y are dialog units of the
// thread's current window's client area, else screen cells.  Returns the
// chosen item's number, 0 when the menu was dismissed or has no items.  The
// focus returns to the window that had it.
int32_t Popup(std::string_view text, int32_t x = kPopupNotGiven, int32_t y = kPopupNotGiven, bool relative = false);

// The private owner window class, registered on first use.
inline constexpr char kPopupClass[] = "VelPopup";

}  // namespace pr::ui
