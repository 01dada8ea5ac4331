#include "ui/list.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "files/descriptors.h"
#include "ui/event_codes.h"
#include "ui/event_loop.h"
#include "ui/list_queue.h"
#include "ui/property.h"
#include "ui/window.h"
#include "ui/window_controls.h"
#include "values/format.h"
#include "values/locale.h"
#include "values/picture.h"

namespace pr::ui {
namespace {

struct ListState {
  Control* control = nullptr;  // null for a list created outside a window
  ListFormat format;
  std::vector<values::Picture> pictures;  // one per column
  ListQueue* queue = nullptr;             // the bound queue, not owned
  ListQueue constant;                     // rows of a constant string
  int32_t selected = 0;                   // 1-based, 0: none
  int32_t top = 1;                        // first visible row
  int32_t hscroll = 0;                    // cells scrolled to the left
  int32_t vscrollPos = 0;
  bool eventMode = false;
  bool focused = false;
  uint8_t typed = 0;  // the character of the last EVENT:AlertKey a typed character raised
};

ListState* StateOf(HWND hwnd) {
  char name[32] = {};
  if (GetClassNameA(hwnd, name, sizeof name) <= 0 || std::strcmp(name, kListClass) != 0) return nullptr;
  return reinterpret_cast<ListState*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

const ListQueue& Rows(const ListState& s) { return s.queue != nullptr ? *s.queue : s.constant; }
int32_t Count(const ListState& s) { return static_cast<int32_t>(Rows(s).Count()); }

// A column of one row of cells is made wide enough for everything its
// picture can show, with its indent and its border: widths are given in
// dialog units for a proportional font, where 80 units hold twenty letters,
// but a cell holds one, and a clipped value ("-2,147,483,648" shown as
// ",147,483,648") reads as another value.  The columns to its right move
// along; groups that hold it grow.
void WidenColumnsToPictures(ListState& s) {
  ListFormat& f = s.format;
  for (size_t i = 0; i < f.columns.size(); ++i) {
    ListColumn& col = f.columns[i];
    const values::Picture& pic = s.pictures[i];
    if (!pic.valid() || col.top != 0 || col.width <= 0 || (col.flags & column::kIcon)) continue;
    const int32_t border = (col.flags & column::kRightBorder) ? 1 : 0;
    const int32_t needed = static_cast<int32_t>(pic.shownLength) + std::max(col.dataIndent, 0) + border;
    const int32_t delta = needed - (col.right - col.left);
    if (delta <= 0 || needed > 1000) continue;
    const int32_t oldRight = col.right;
    for (size_t j = 0; j < f.columns.size(); ++j) {
      ListColumn& other = f.columns[j];
      if (j == i) continue;
      if (other.left >= oldRight) {
        other.left += delta;
        other.right += delta;
      }
    }
    for (ListGroup& g : f.groups) {
      if (g.left >= oldRight) g.left += delta;
      if (g.right >= oldRight) g.right += delta;
    }
    col.right += delta;
    col.width += delta;
    f.width += delta;
  }
}

void ApplyFormat(ListState& s, std::string_view text) {
  s.format = ParseListFormat(text);
  s.pictures.assign(s.format.columns.size(), values::Picture{});
  for (size_t i = 0; i < s.format.columns.size(); ++i)
    if (!s.format.columns[i].picture.empty()) values::CompilePicture(s.format.columns[i].picture, &s.pictures[i]);
  WidenColumnsToPictures(s);
}

void SetConstantRows(ListState& s, std::string_view text) {
  s.constant.Clear();
  if (text.empty()) return;
  size_t start = 0;
  for (;;) {
    size_t bar = text.find('|', start);
    s.constant.Append({std::string(text.substr(start, bar == std::string_view::npos ? text.npos : bar - start))});
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
}

// ------------------------------------------------------------ geometry

int32_t HeaderLines(const ListState& s) { return s.format.headerLines; }

int32_t VisibleRows(HWND hwnd, const ListState& s) {
  RECT r{};
  GetClientRect(hwnd, &r);
  int32_t area = (r.bottom - r.top) - HeaderLines(s);
  return std::max<int32_t>(0, area / std::max<int32_t>(1, s.format.rowsPerItem));
}

// The row under client line y, 0 when none.
int32_t RowAt(HWND hwnd, const ListState& s, int y) {
  int32_t line = y - HeaderLines(s);
  if (line < 0) return 0;
  int32_t row = s.top + line / std::max<int32_t>(1, s.format.rowsPerItem);
  if (line / std::max<int32_t>(1, s.format.rowsPerItem) >= VisibleRows(hwnd, s) || row > Count(s)) return 0;
  return row;
}

void UpdateScrollBar(HWND hwnd, const ListState& s) {
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_POS | SIF_PAGE;
  if (s.eventMode) {
    si.nMin = 0;
    si.nMax = 100;
    si.nPos = s.vscrollPos;
  } else {
    int32_t visible = VisibleRows(hwnd, s);
    si.nMin = 0;
    si.nMax = std::max(0, Count(s) - 1);
    si.nPage = static_cast<UINT>(std::max(1, visible));
    si.nPos = s.top - 1;
  }
  SetScrollInfo(hwnd, SB_VERT, &si, TRUE);
}

void Refresh(HWND hwnd, ListState& s) {
  int32_t count = Count(s);
  if (s.selected > count) s.selected = count;
  if (s.selected < 0) s.selected = 0;
  if (s.top > std::max(1, count)) s.top = std::max(1, count);
  if (s.top < 1) s.top = 1;
  UpdateScrollBar(hwnd, s);
  InvalidateRect(hwnd, nullptr, TRUE);
}

// Keeps the selected row in view (normal mode scrolls through the data).
void Reveal(HWND hwnd, ListState& s) {
  if (s.selected <= 0) return;
  int32_t visible = std::max(1, VisibleRows(hwnd, s));
  if (s.selected < s.top) s.top = s.selected;
  if (s.selected >= s.top + visible) s.top = s.selected - visible + 1;
}

// ------------------------------------------------------------ painting

std::string Trim(std::string text, bool leading) {
  size_t end = text.find_last_not_of(' ');
  text.resize(end == std::string::npos ? 0 : end + 1);
  if (leading) {
    size_t first = text.find_first_not_of(' ');
    text.erase(0, first == std::string::npos ? text.size() : first);
  }
  return text;
}

std::string CellText(const ListState& s, size_t column, int32_t row) {
  const ListColumn& col = s.format.columns[column];
  std::string raw = Rows(s).Field(static_cast<size_t>(row), col.field);
  const values::Picture& pic = s.pictures[column];
  if (col.picture.empty() || !pic.valid()) return raw;
  switch (pic.kind) {
    case values::PictureKind::kString:
    case values::PictureKind::kKeyIn: return Trim(values::Format(pic, values::Value::String(raw)), false);
    case values::PictureKind::kDate:
    case values::PictureKind::kTime:
      return Trim(values::Format(pic, values::Value::Long(std::strtol(raw.c_str(), nullptr, 10))), true);
    default: return Trim(values::Format(pic, values::Value::Decimal(Trim(raw, true))), true);
  }
}

// Draws `text` justified inside [left, right) on line y, clipped to it.
void DrawJustified(HDC dc, std::string text, int left, int right, int y, uint32_t justify, int indent) {
  int width = right - left;
  if (width <= 0) return;
  int len = static_cast<int>(text.size());
  int x;
  switch (justify) {
    case kColumnRight:
    case kColumnDecimal: x = right - indent - len; break;
    case kColumnCentre: x = left + (width - len) / 2; break;
    default: x = left + indent; break;
  }
  if (x < left) {
    // Too long: keep the start of the text (left) or its end (right).
    if (justify == kColumnRight || justify == kColumnDecimal) text.erase(0, static_cast<size_t>(left - x));
    x = left;
  }
  if (x + static_cast<int>(text.size()) > right) text.resize(static_cast<size_t>(std::max(0, right - x)));
  if (!text.empty()) TextOutA(dc, x, y, text.data(), static_cast<int>(text.size()));
}

// The cells [left, right) of a column's text, the border cell excluded.
void ColumnSpan(const ListState& s, const ListColumn& col, int* left, int* right) {
  *left = col.left - s.hscroll;
  *right = col.right - s.hscroll - ((col.flags & column::kRightBorder) ? 1 : 0);
}

void DrawHeaders(HDC dc, const ListState& s, int clientRight) {
  int lines = HeaderLines(s);
  if (lines == 0) return;
  RECT band{0, 0, clientRight, lines};
  FillRect(dc, &band, GetSysColorBrush(COLOR_BTNFACE));
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  auto drawHeader = [&](const std::string& header, int left, int right, uint32_t justify, int indent) {
    size_t start = 0;
    for (int line = 0; line < lines && start <= header.size(); ++line) {
      size_t lf = header.find('\n', start);
      std::string part = header.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
      if (!part.empty() && part.back() == '\r') part.pop_back();
      DrawJustified(dc, part, left, right, line, justify, indent);
      if (lf == std::string::npos) break;
      start = lf + 1;
    }
  };
  for (const ListGroup& g : s.format.groups)
    if (!g.header.empty()) drawHeader(g.header, g.left - s.hscroll, g.right - s.hscroll, g.headerJustify, g.headerIndent);
  for (const ListColumn& col : s.format.columns) {
    int left, right;
    ColumnSpan(s, col, &left, &right);
    if (!col.header.empty() && col.top == 0) drawHeader(col.header, left, right, col.headerJustify(), col.indent);
    if ((col.flags & column::kRightBorder) && col.right - s.hscroll - 1 >= 0)
      for (int line = 0; line < lines; ++line) TextOutA(dc, col.right - s.hscroll - 1, line, "|", 1);
  }
}

COLORREF ColourOf(int32_t value, COLORREF fallback) {
  if (value == kNoColour) return fallback;
  return static_cast<COLORREF>(value) & 0xFFFFFF;
}

void Paint(HWND hwnd, ListState& s) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT client{};
  GetClientRect(hwnd, &client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
  SetBkMode(dc, OPAQUE);
  DrawHeaders(dc, s, client.right);
  int32_t visible = VisibleRows(hwnd, s);
  int32_t perItem = std::max<int32_t>(1, s.format.rowsPerItem);
  int32_t count = Count(s);
  for (int32_t i = 0; i < visible; ++i) {
    int32_t row = s.top + i;
    if (row > count) break;
    int y0 = HeaderLines(s) + i * perItem;
    bool selected = row == s.selected;
    COLORREF back = GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW);
    COLORREF text = GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT);
    if (selected) {
      RECT band{0, y0, client.right, y0 + perItem};
      HBRUSH brush = CreateSolidBrush(back);
      FillRect(dc, &band, brush);
      DeleteObject(brush);
    }
    for (size_t c = 0; c < s.format.columns.size(); ++c) {
      const ListColumn& col = s.format.columns[c];
      int left, right;
      ColumnSpan(s, col, &left, &right);
      int y = y0 + col.top;
      COLORREF fg = ColourOf(col.colours[selected ? 2 : 0], text);
      COLORREF bg = ColourOf(col.colours[selected ? 3 : 1], back);
      SetTextColor(dc, fg);
      SetBkColor(dc, bg);
      if (!(col.flags & column::kIcon) || col.width > 0)
        DrawJustified(dc, CellText(s, c, row), left, right, y, col.dataJustify(), col.dataIndent);
      if ((col.flags & column::kRightBorder) && col.right - s.hscroll - 1 >= 0) {
        SetTextColor(dc, text);
        SetBkColor(dc, back);
        TextOutA(dc, col.right - s.hscroll - 1, y, "|", 1);
      }
    }
  }
  if (s.focused && s.selected == 0 && count > 0) {
    RECT first{0, HeaderLines(s), client.right, HeaderLines(s) + perItem};
    DrawFocusRect(dc, &first);
  }
  EndPaint(hwnd, &ps);
}

// ------------------------------------------------------------ events

void Notify(HWND hwnd, WORD code) {
  HWND parent = GetParent(hwnd);
  if (parent != nullptr)
    SendMessageA(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(hwnd)), code),
                 reinterpret_cast<LPARAM>(hwnd));
}

void Queue(ListState& s, uint32_t event) {
  if (s.control == nullptr || s.control->window == nullptr) return;
  s.control->window->Enqueue({kEventBase + event, s.control->feq(), 0, KeyCode()});
}

// A modal event: the program handles it before the list repaints.
void Modal(HWND hwnd, ListState& s, uint32_t event, std::function<void(int)> after = {}) {
  if (s.control == nullptr || s.control->window == nullptr) return;
  RaiseModalEvent(
      s.control->window, event, s.control->feq(),
      [hwnd, after](int result) {
        if (after) after(result);
        if (ListState* st = IsWindow(hwnd) ? StateOf(hwnd) : nullptr) Refresh(hwnd, *st);
      },
      KeyCode());
}

void Select(HWND hwnd, ListState& s, int32_t row, bool byUser) {
  int32_t count = Count(s);
  row = std::clamp(row, count > 0 ? 1 : 0, count);
  bool changed = row != s.selected;
  s.selected = row;
  if (!s.eventMode) Reveal(hwnd, s);
  Refresh(hwnd, s);
  if (changed && byUser) {
    if (s.control != nullptr)
      Queue(s, event::NewSelection);
    else
      Notify(hwnd, kListSelChange);
  }
}

// The next row whose locator column starts with `c` (case ignored).
void LocatorSearch(HWND hwnd, ListState& s, uint8_t c) {
  int32_t count = Count(s);
  if (count == 0 || s.format.columns.empty()) return;
  size_t column = s.format.locator >= 0 ? static_cast<size_t>(s.format.locator) : 0;
  const values::CaseTables& t = values::Locale();
  for (int32_t k = 1; k <= count; ++k) {
    int32_t row = (s.selected + k - 1) % count + 1;
    std::string text = Trim(CellText(s, column, row), true);
    if (!text.empty() && t.upper[static_cast<uint8_t>(text[0])] == t.upper[c]) {
      Select(hwnd, s, row, true);
      return;
    }
  }
}

void HorizontalScroll(HWND hwnd, ListState& s, int delta, bool toEnd) {
  RECT r{};
  GetClientRect(hwnd, &r);
  int maxScroll = std::max(0, s.format.width - (r.right - r.left));
  if (toEnd)
    s.hscroll = delta < 0 ? 0 : maxScroll;
  else
    s.hscroll = std::clamp(s.hscroll + delta, 0, maxScroll);
  InvalidateRect(hwnd, nullptr, TRUE);
}

// A vertical request: an event in event-reporting mode, a move otherwise.
enum class Move { kLineUp, kLineDown, kPageUp, kPageDown, kTop, kBottom };

void Request(HWND hwnd, ListState& s, Move move) {
  if (s.eventMode) {
    static constexpr uint32_t kEvents[] = {event::ScrollUp, event::ScrollDown, event::PageUp,
                                           event::PageDown, event::ScrollTop,  event::ScrollBottom};
    Modal(hwnd, s, kEvents[static_cast<int>(move)]);
    return;
  }
  int32_t page = std::max(1, VisibleRows(hwnd, s) - 1);
  int32_t at = s.selected;
  switch (move) {
    case Move::kLineUp: at = at > 1 ? at - 1 : 1; break;
    case Move::kLineDown: at = at + 1; break;
    case Move::kPageUp: at = at - page; break;
    case Move::kPageDown: at = at + page; break;
    case Move::kTop: at = 1; break;
    case Move::kBottom: at = Count(s); break;
  }
  Select(hwnd, s, at, true);
}

void KeyDown(HWND hwnd, ListState& s, UINT vk) {
  bool ctrl = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
  switch (vk) {
    case VK_UP: Request(hwnd, s, Move::kLineUp); return;
    case VK_DOWN: Request(hwnd, s, Move::kLineDown); return;
    case VK_PRIOR: Request(hwnd, s, ctrl ? Move::kTop : Move::kPageUp); return;
    case VK_NEXT: Request(hwnd, s, ctrl ? Move::kBottom : Move::kPageDown); return;
    case VK_HOME: Request(hwnd, s, Move::kTop); return;
    case VK_END: Request(hwnd, s, Move::kBottom); return;
    case VK_LEFT: HorizontalScroll(hwnd, s, -4, ctrl); return;
    case VK_RIGHT: HorizontalScroll(hwnd, s, 4, ctrl); return;
    default: return;
  }
}

void Char(HWND hwnd, ListState& s, uint8_t c) {
  if (c < 0x20 || c == 0x7F) return;  // Enter, Tab, Escape and control keys are not typed characters
  if (!s.eventMode) {
    if (c > 0x20) LocatorSearch(hwnd, s, c);
    return;
  }
  uint32_t code = KeyCode();
  Modal(hwnd, s, event::PreAlert, [hwnd, c, code](int result) {
    ListState* st = IsWindow(hwnd) ? StateOf(hwnd) : nullptr;
    if (st == nullptr || result < 0) return;
    if (c > 0x20) LocatorSearch(hwnd, *st, c);
    st->typed = c;
    if (st->control != nullptr && st->control->window != nullptr)
      st->control->window->Enqueue({kEventBase + event::AlertKey, st->control->feq(), 0, code});
  });
}

void VScroll(HWND hwnd, ListState& s, WORD code, int thumb) {
  if (s.eventMode) {
    switch (code) {
      case SB_LINEUP: Request(hwnd, s, Move::kLineUp); return;
      case SB_LINEDOWN: Request(hwnd, s, Move::kLineDown); return;
      case SB_PAGEUP: Request(hwnd, s, Move::kPageUp); return;
      case SB_PAGEDOWN: Request(hwnd, s, Move::kPageDown); return;
      case SB_TOP: Request(hwnd, s, Move::kTop); return;
      case SB_BOTTOM: Request(hwnd, s, Move::kBottom); return;
      case SB_THUMBTRACK:
        s.vscrollPos = std::clamp(thumb, 0, 100);
        Modal(hwnd, s, event::ScrollTrack);
        return;
      case SB_THUMBPOSITION:
        s.vscrollPos = std::clamp(thumb, 0, 100);
        Modal(hwnd, s, event::ScrollDrag);
        return;
      default: return;
    }
  }
  int32_t visible = std::max(1, VisibleRows(hwnd, s));
  int32_t last = std::max(1, Count(s) - visible + 1);
  switch (code) {
    case SB_LINEUP: s.top -= 1; break;
    case SB_LINEDOWN: s.top += 1; break;
    case SB_PAGEUP: s.top -= visible; break;
    case SB_PAGEDOWN: s.top += visible; break;
    case SB_TOP: s.top = 1; break;
    case SB_BOTTOM: s.top = last; break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: s.top = thumb + 1; break;
    default: return;
  }
  s.top = std::clamp(s.top, 1, last);
  Refresh(hwnd, s);
}

LRESULT ListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* s = reinterpret_cast<ListState*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    auto* state = new ListState;
    state->control = static_cast<Control*>(cs->lpCreateParams);
    if (state->control != nullptr) {
      const ControlSpec& described = state->control->described;
      ApplyFormat(*state, described.format);
      state->eventMode = (described.attr & kListEventReporting) != 0;
      if (state->control->variable != nullptr && described.from.type == files::TYPE_QUEUE)
        state->queue = static_cast<ListQueue*>(state->control->variable);
      else
        SetConstantRows(*state, described.text);
    } else if (cs->lpszName != nullptr) {
      SetConstantRows(*state, cs->lpszName);
    }
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    return TRUE;
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    delete s;
    return 0;
  }
  if (s == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_CREATE: UpdateScrollBar(hwnd, *s); return 0;
    case WM_GETDLGCODE: return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_PAINT: Paint(hwnd, *s); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_SIZE: Refresh(hwnd, *s); return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      s->focused = message == WM_SETFOCUS;
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_KEYDOWN: KeyDown(hwnd, *s, static_cast<UINT>(wParam)); return 0;
    case WM_CHAR: Char(hwnd, *s, static_cast<uint8_t>(wParam)); return 0;
    case WM_VSCROLL: VScroll(hwnd, *s, LOWORD(wParam), static_cast<SHORT>(HIWORD(wParam))); return 0;
    case WM_MOUSEWHEEL: {
      auto delta = static_cast<SHORT>(HIWORD(wParam));
      Request(hwnd, *s, delta > 0 ? Move::kLineUp : Move::kLineDown);
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN: {
      if (GetFocus() != hwnd) SetFocus(hwnd);
      int32_t row = RowAt(hwnd, *s, GET_Y_LPARAM(lParam));
      if (row > 0) Select(hwnd, *s, row, true);
      if (row > 0 && message == WM_LBUTTONDBLCLK && s->control == nullptr) Notify(hwnd, kListDoubleClick);
      return 0;
    }
    case query::LOCATE: Queue(*s, event::Locate); return 0;
    default: return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

HWND Create(Control& control, HWND parent, const RECT& cells) {
  return CreateWindowExA(0, kListClass, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL, cells.left, cells.top,
                         cells.right - cells.left, cells.bottom - cells.top, parent,
                         reinterpret_cast<HMENU>(static_cast<intptr_t>(control.feq())), nullptr, &control);
}

bool GetProp(Control& control, uint32_t property, uint32_t, std::string* value) {
  ListState* s = StateOf(control.hwnd);
  if (s == nullptr) return false;
  switch (property) {
    case prop::Items: *value = std::to_string(VisibleRows(control.hwnd, *s)); return true;
    case prop::Selected: *value = std::to_string(s->selected); return true;
    case prop::VScrollPos: *value = std::to_string(s->eventMode ? s->vscrollPos : s->top - 1); return true;
    default: return false;
  }
}

bool SetProp(Control& control, uint32_t property, uint32_t, std::string_view value) {
  ListState* s = StateOf(control.hwnd);
  if (s == nullptr) return false;
  int32_t n = static_cast<int32_t>(std::strtol(std::string(value).c_str(), nullptr, 10));
  switch (property) {
    case prop::Selected: Select(control.hwnd, *s, n, false); return true;
    case prop::VScrollPos:
      if (s->eventMode) {
        s->vscrollPos = std::clamp(n, 0, 100);
      } else {
        s->top = n + 1;
      }
      Refresh(control.hwnd, *s);
      return true;
    case prop::Items: return true;  // follows from the list's height
    default: return false;
  }
}

void Display(Control& control) {
  if (ListState* s = StateOf(control.hwnd)) Refresh(control.hwnd, *s);
}

}  // namespace

void RegisterListWindowClass() {
  static std::mutex lock;
  std::lock_guard guard(lock);
  WNDCLASSA existing{};
  if (GetClassInfoA(nullptr, kListClass, &existing)) return;
  WNDCLASSA wc{};
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = ListProc;
  wc.lpszClassName = kListClass;
  RegisterClassA(&wc);
}

void RegisterListControl() {
  RegisterListWindowClass();
  ControlClass cls;
  cls.className = kListClass;
  cls.create = Create;
  cls.display = Display;
  cls.getProperty = GetProp;
  cls.setProperty = SetProp;
  RegisterControlClass(rsc::kList, cls);
}

void SetListQueue(HWND list, ListQueue* queue) {
  if (ListState* s = StateOf(list)) {
    s->queue = queue;
    Refresh(list, *s);
  }
}

void SetListFormat(HWND list, const char* format) {
  if (ListState* s = StateOf(list)) {
    ApplyFormat(*s, format != nullptr ? format : "");
    s->hscroll = 0;
    Refresh(list, *s);
  }
}

const ListFormat* GetListFormat(HWND list) {
  ListState* s = StateOf(list);
  return s != nullptr ? &s->format : nullptr;
}

int32_t ListSelected(HWND list) {
  ListState* s = StateOf(list);
  return s != nullptr ? s->selected : 0;
}

int32_t ListFirstVisible(HWND list) {
  ListState* s = StateOf(list);
  return s != nullptr ? s->top : 0;
}

uint8_t TakeListTypedChar(HWND list) {
  ListState* s = StateOf(list);
  if (s == nullptr) return 0;
  const uint8_t c = s->typed;
  s->typed = 0;
  return c;
}

int32_t ListRowAtScreen(HWND list, POINT screen) {
  ListState* s = StateOf(list);
  if (s == nullptr || !ScreenToClient(list, &screen)) return 0;
  RECT client{};
  GetClientRect(list, &client);
  if (screen.x < client.left || screen.x >= client.right || screen.y < client.top || screen.y >= client.bottom)
    return 0;
  return RowAt(list, *s, screen.y);
}

int32_t ListVisibleRows(HWND list) {
  ListState* s = StateOf(list);
  return s != nullptr ? VisibleRows(list, *s) : 0;
}

}  // namespace pr::ui
