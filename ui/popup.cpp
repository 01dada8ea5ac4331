#include "ui/popup.h"

#include <algorithm>
#include <mutex>

#include "ui/window.h"

namespace pr::ui {
namespace {

constexpr int kMaxDepth = 16;  // deeper "{" are read as caption text

class TextParser {
 public:
  explicit TextParser(std::string_view text) : text_(text) {}

  std::vector<PopupItem> Run() {
    std::vector<PopupItem> top;
    Level(&top, 0);
    return top;
  }

 private:
  // Reads one level up to its "}" (consumed) or the end of the text.  Each
  // "|" ends an item, an empty one too, so that the items keep the numbers
  // their places in the text give them.  What stands between a submenu's "}"
  // and the next "|" (or the end) is an item of its own when it is not
  // empty, as is what stands after the last "|".
  void Level(std::vector<PopupItem>* out, int depth) {
    if (pos_ < text_.size() && text_[pos_] == '|') ++pos_;
    size_t start = pos_;
    bool afterSubmenu = false;
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == '|') {
        if (!afterSubmenu || pos_ > start) Add(out, text_.substr(start, pos_ - start));
        afterSubmenu = false;
        start = ++pos_;
      } else if (c == '{' && depth < kMaxDepth) {
        PopupItem sub = Item(text_.substr(start, pos_ - start));
        sub.kind = PopupItem::Kind::kSubmenu;
        sub.id = 0;
        ++pos_;
        Level(&sub.items, depth + 1);
        out->push_back(std::move(sub));
        afterSubmenu = true;
        start = pos_;
      } else if (c == '}') {
        if (pos_ > start) Add(out, text_.substr(start, pos_ - start));
        ++pos_;
        if (depth == 0) pos_ = text_.size();  // an unmatched "}" ends the top level
        return;
      } else {
        ++pos_;
      }
    }
    if (pos_ > start) Add(out, text_.substr(start));
  }

  void Add(std::vector<PopupItem>* out, std::string_view raw) {
    if (raw.empty()) {
      // An empty item takes its number but, having no caption to choose by,
      // is shown greyed.
      PopupItem empty;
      empty.disabled = true;
      empty.id = ++counter_;
      out->push_back(std::move(empty));
      return;
    }
    if (raw == "-") {
      PopupItem sep;
      sep.kind = PopupItem::Kind::kSeparator;
      out->push_back(sep);
      return;
    }
    PopupItem item = Item(raw);
    item.id = ++counter_;
    out->push_back(std::move(item));
  }

  // The leading flags and the caption of one item (numbered by the caller).
  static PopupItem Item(std::string_view raw) {
    PopupItem item;
    size_t i = 0;
    if (i < raw.size() && raw[i] == '~') {
      item.disabled = true;
      ++i;
    }
    if (i < raw.size() && raw[i] == '+') {
      item.checked = true;
      ++i;
    } else if (i + 1 < raw.size() && raw[i] == '-') {
      ++i;  // only a "-" with text after it is the no-check mark
    }
    if (i < raw.size() && raw[i] == '[') {
      size_t close = raw.find(']', i);
      size_t end = close == std::string_view::npos ? raw.size() : close;
      item.attributes = std::string(raw.substr(i + 1, end - i - 1));
      item.ownerDrawn = true;
      i = close == std::string_view::npos ? raw.size() : close + 1;
    }
    item.caption = std::string(raw.substr(i));
    return item;
  }

  std::string_view text_;
  size_t pos_ = 0;
  uint32_t counter_ = 0;
};

void Fill(HMENU menu, const std::vector<PopupItem>& items, int itemsPerColumn) {
  int inColumn = 0;
  for (const PopupItem& item : items) {
    UINT flags = MF_BYPOSITION;
    if (itemsPerColumn > 0 && inColumn >= itemsPerColumn) {
      flags |= MF_MENUBARBREAK;
      inColumn = 0;
    }
    ++inColumn;
    if (item.kind == PopupItem::Kind::kSeparator) {
      InsertMenuA(menu, static_cast<UINT>(-1), flags | MF_SEPARATOR, 0, nullptr);
      continue;
    }
    if (item.disabled) flags |= MF_DISABLED | MF_GRAYED;
    if (item.checked) flags |= MF_CHECKED;
    UINT_PTR id = item.id;
    if (item.kind == PopupItem::Kind::kSubmenu) {
      HMENU sub = CreatePopupMenu();
      if (sub == nullptr) continue;
      Fill(sub, item.items, itemsPerColumn);
      flags |= MF_POPUP;
      id = reinterpret_cast<UINT_PTR>(sub);
    }
    // Owner-drawn items carry pictures this runtime does not draw; they are
    // shown by their caption.
    if (!InsertMenuA(menu, static_cast<UINT>(-1), flags, id, item.caption.c_str()) &&
        item.kind == PopupItem::Kind::kSubmenu)
      DestroyMenu(reinterpret_cast<HMENU>(id));
  }
}

bool HasItems(const std::vector<PopupItem>& items) {
  for (const PopupItem& item : items) {
    if (item.kind == PopupItem::Kind::kItem) return true;
    if (item.kind == PopupItem::Kind::kSubmenu && HasItems(item.items)) return true;
  }
  return false;
}

LRESULT OwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

void RegisterOwnerClass() {
  static std::mutex lock;
  std::lock_guard guard(lock);
  WNDCLASSA existing{};
  if (GetClassInfoA(nullptr, kPopupClass, &existing)) return;
  WNDCLASSA wc{};
  wc.lpfnWndProc = OwnerProc;
  wc.lpszClassName = kPopupClass;
  RegisterClassA(&wc);
}

}  // namespace

std::vector<PopupItem> ParsePopupText(std::string_view text) { return TextParser(text).Run(); }

HMENU BuildPopupMenu(const std::vector<PopupItem>& items, int itemsPerColumn) {
  HMENU menu = CreatePopupMenu();
  if (menu != nullptr) Fill(menu, items, itemsPerColumn);
  return menu;
}

int32_t Popup(std::string_view text, int32_t x, int32_t y, bool relative) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  std::vector<PopupItem> items = ParsePopupText(text);
  if (!HasItems(items)) return 0;

  WindowContext* context = CurrentWindowContext(false);
  Window* current = context != nullptr ? context->active() : nullptr;

  // The position: the mouse for a coordinate not given.
  POINT mouse{0, 0};
  GetCursorPos(&mouse);
  POINT at{x == kPopupNotGiven ? mouse.x : x, y == kPopupNotGiven ? mouse.y : y};
  if (relative && (x != kPopupNotGiven || y != kPopupNotGiven) && current != nullptr && current->IsOpen()) {
    RECT r{0, 0, x == kPopupNotGiven ? 0 : x, y == kPopupNotGiven ? 0 : y};
    MapDialogRect(current->hwnd(), &r);
    POINT p{r.right, r.bottom};
    ClientToScreen(current->hwnd(), &p);
    if (x != kPopupNotGiven) at.x = p.x;
    if (y != kPopupNotGiven) at.y = p.y;
  }

  // A column holds as many items as menu lines fit on the work area.
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  int line = std::max(1, GetSystemMetrics(SM_CYMENU));
  int perColumn = std::max(1, static_cast<int>((work.bottom - work.top) / line));
  HMENU menu = BuildPopupMenu(items, perColumn);
  if (menu == nullptr) return 0;

  HWND focus = GetFocus();
  HWND active = GetActiveWindow();
  SetFocus(nullptr);

  RegisterOwnerClass();
  HWND parent = current != nullptr && current->IsOpen() ? current->hwnd() : nullptr;
  DWORD style = parent != nullptr ? (WS_CHILD | WS_VISIBLE) : (WS_POPUP | WS_VISIBLE);
  HWND owner = CreateWindowExA(0, kPopupClass, "", style, -1, -1, 0, 0, parent, nullptr, nullptr, nullptr);
  int32_t result = 0;
  if (owner != nullptr) {
    SetFocus(owner);
    SetForegroundWindow(owner);
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, owner, nullptr);
    MSG msg;
    if (PeekMessageA(&msg, owner, WM_COMMAND, WM_COMMAND, PM_REMOVE)) result = LOWORD(msg.wParam);
    DestroyWindow(owner);
  }
  DestroyMenu(menu);
  if (IsWindow(focus))
    SetFocus(focus);
  else if (current != nullptr && current->IsOpen() && current->hwnd() == active)
    SetFocus(active);
  return result;
}

}  // namespace pr::ui
