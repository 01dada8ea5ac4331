#include "ui/entry.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

#include "files/descriptors.h"
#include "ui/event_codes.h"
#include "ui/event_loop.h"
#include "ui/window.h"
#include "ui/window_controls.h"
#include "ui/window_internal.h"
#include "values/format.h"
#include "values/locale.h"
#include "values/picture.h"

namespace pr::ui {
namespace {

std::atomic<bool> g_insertMode{true};

constexpr size_t kNoSelection = static_cast<size_t>(-1);
constexpr size_t kMaxTextLength = 0xFFFF;  // the text's length is a 16-bit number

struct EntryState {
  Control* control = nullptr;  // null for an entry created outside a window
  std::string text;
  std::string undo;             // the text shown when editing began
  size_t caret = 0;
  size_t anchor = kNoSelection;  // the selection is [min(anchor, caret), max(...)) when set
  size_t maxLength = 255;
  size_t scroll = 0;             // first character shown while the text is wider than the control
  bool readOnly = false, password = false, upper = false, capitalise = false, scrolls = true;
  bool modified = false;
  bool rejected = false;
  int32_t rejectCode = 0;
  Justification justification = Justification::kLeft;
  int indent = 0;  // cells
  values::Picture picture;
  bool hasPicture = false;
  bool focused = false;
  bool checking = false;  // a check is running (its events may move the focus)
};

EntryState* StateOf(HWND hwnd) {
  WNDCLASSA wc{};
  char name[32] = {};
  if (GetClassNameA(hwnd, name, sizeof name) <= 0 || std::strcmp(name, kEntryClass) != 0) return nullptr;
  (void)wc;
  return reinterpret_cast<EntryState*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

// ------------------------------------------------------------ the variable

bool IsTextType(uint8_t type) {
  return type == files::TYPE_STRING || type == files::TYPE_CSTRING || type == files::TYPE_PSTRING;
}

// The variable's current value, or none when the entry has no variable.
bool ReadVariable(const EntryState& s, values::Value* out) {
  if (s.control == nullptr || s.control->variable == nullptr) return false;
  const VariableSpec& use = s.control->described.use;
  const auto* p = static_cast<const uint8_t*>(s.control->variable);
  auto get = [p](auto v) {
    std::memcpy(&v, p, sizeof v);
    return v;
  };
  switch (use.type) {
    case files::TYPE_BYTE: *out = values::Value::Long(get(uint8_t{})); return true;
    case files::TYPE_SHORT: *out = values::Value::Long(get(int16_t{})); return true;
    case files::TYPE_USHORT: *out = values::Value::Long(get(uint16_t{})); return true;
    case files::TYPE_DATE:
    case files::TYPE_TIME:
    case files::TYPE_LONG: *out = values::Value::Long(get(int32_t{})); return true;
    case files::TYPE_ULONG: *out = values::Value::Long(get(uint32_t{})); return true;
    case files::TYPE_SREAL: *out = values::Value::Real(get(float{})); return true;
    case files::TYPE_REAL: *out = values::Value::Real(get(double{})); return true;
    case files::TYPE_STRING: {
      *out = values::Value::String(std::string_view(reinterpret_cast<const char*>(p), use.size));
      return true;
    }
    case files::TYPE_CSTRING: {
      size_t n = 0;
      while (n < use.size && p[n] != 0) ++n;
      *out = values::Value::String(std::string_view(reinterpret_cast<const char*>(p), n));
      return true;
    }
    case files::TYPE_PSTRING: {
      size_t n = use.size == 0 ? 0 : std::min<size_t>(p[0], use.size - 1);
      *out = values::Value::String(std::string_view(reinterpret_cast<const char*>(p) + 1, n));
      return true;
    }
    default: return false;
  }
}

// Stores a converted value; 0 or a rejection code (the variable unchanged).
int32_t WriteVariable(const EntryState& s, const values::Value& value) {
  if (s.control == nullptr || s.control->variable == nullptr) return 0;
  const VariableSpec& use = s.control->described.use;
  auto* p = static_cast<uint8_t*>(s.control->variable);
  if (IsTextType(use.type)) {
    std::string_view text = value.text();
    if (value.IsNumber() && value.kind() != values::Value::Kind::kDecimal) text = {};
    if (use.size == 0) return kRejectNoVariable;
    if (use.type == files::TYPE_STRING) {
      std::memset(p, ' ', use.size);
      std::memcpy(p, text.data(), std::min<size_t>(text.size(), use.size));
    } else if (use.type == files::TYPE_CSTRING) {
      size_t n = std::min<size_t>(text.size(), use.size - 1);
      std::memcpy(p, text.data(), n);
      p[n] = 0;
    } else {
      size_t n = std::min<size_t>({text.size(), use.size - 1, 255});
      p[0] = static_cast<uint8_t>(n);
      std::memcpy(p + 1, text.data(), n);
    }
    return 0;
  }
  double real = value.AsReal();
  if (value.kind() == values::Value::Kind::kString) {
    // A string picture over a number: the text must be a number itself.
    values::Value number;
    if (!values::Deformat(values::CompilePicture("@n-30.10"), value.text(), &number)) return kRejectNotConverted;
    real = number.AsReal();
  }
  auto store = [p](auto v) { std::memcpy(p, &v, sizeof v); };
  auto fits = [real](double lo, double hi) { return std::isfinite(real) && real >= lo && real <= hi; };
  int64_t whole = static_cast<int64_t>(std::trunc(std::isfinite(real) ? std::clamp(real, -9.2e18, 9.2e18) : 0));
  switch (use.type) {
    case files::TYPE_BYTE:
      if (!fits(0, 255)) return kRejectOutOfRange;
      store(static_cast<uint8_t>(whole));
      return 0;
    case files::TYPE_SHORT:
      if (!fits(-32768, 32767)) return kRejectOutOfRange;
      store(static_cast<int16_t>(whole));
      return 0;
    case files::TYPE_USHORT:
      if (!fits(0, 65535)) return kRejectOutOfRange;
      store(static_cast<uint16_t>(whole));
      return 0;
    case files::TYPE_DATE:
    case files::TYPE_TIME:
    case files::TYPE_LONG:
      if (!fits(-2147483648.0, 2147483647.0)) return kRejectOutOfRange;
      store(static_cast<int32_t>(whole));
      return 0;
    case files::TYPE_ULONG:
      if (!fits(0, 4294967295.0)) return kRejectOutOfRange;
      store(static_cast<uint32_t>(whole));
      return 0;
    case files::TYPE_SREAL:
      if (!fits(-3.4e38, 3.4e38)) return kRejectOutOfRange;
      store(static_cast<float>(real));
      return 0;
    case files::TYPE_REAL:
      if (!std::isfinite(real)) return kRejectOutOfRange;
      store(real);
      return 0;
    default: return kRejectNoVariable;
  }
}

// The variable formatted by the picture (the text without a picture).
std::string DisplayText(const EntryState& s) {
  values::Value v;
  if (!ReadVariable(s, &v)) return s.text;
  if (!s.hasPicture) {
    if (v.kind() == values::Value::Kind::kString) return std::string(v.text());
    return std::to_string(v.AsLong());
  }
  std::string out = values::Format(s.picture, v);
  if (s.picture.kind == values::PictureKind::kString) {
    // A string is edited without the blanks that pad it to the picture.
    out.resize(out.find_last_not_of(' ') == std::string::npos ? 0 : out.find_last_not_of(' ') + 1);
  } else if (s.picture.kind != values::PictureKind::kKeyIn) {
    // A number is edited without the blanks that right-align it.
    size_t first = out.find_first_not_of(' ');
    out = first == std::string::npos ? std::string() : out.substr(first);
  }
  return out;
}

// ------------------------------------------------------------ painting

int ClientWidth(HWND hwnd) {
  RECT r{};
  GetClientRect(hwnd, &r);
  return std::max<int>(0, r.right - r.left);
}

// The cell where character 0 of the visible part starts.
int TextOrigin(const EntryState& s, int width, size_t shownLength) {
  int room = width - s.indent;
  if (static_cast<int>(shownLength) >= room) return std::min(s.indent, std::max(0, width - 1));
  switch (s.justification) {
    case Justification::kRight:
    case Justification::kDecimal: return width - s.indent - static_cast<int>(shownLength);
    case Justification::kCentre: return (width - static_cast<int>(shownLength)) / 2;
    default: return s.indent;
  }
}

void KeepCaretVisible(EntryState& s, int width) {
  int room = std::max(1, width - s.indent);
  if (s.caret < s.scroll) s.scroll = s.caret;
  if (static_cast<int>(s.caret - s.scroll) >= room) s.scroll = s.caret - static_cast<size_t>(room) + 1;
  if (s.text.size() < static_cast<size_t>(room)) s.scroll = 0;
}

void PlaceCaret(HWND hwnd, EntryState& s) {
  if (!s.focused) return;
  int width = ClientWidth(hwnd);
  KeepCaretVisible(s, width);
  size_t shown = s.text.size() - std::min(s.scroll, s.text.size());
  int origin = TextOrigin(s, width, shown);
  SetCaretPos(origin + static_cast<int>(s.caret - s.scroll), 0);
}

void Paint(HWND hwnd, EntryState& s) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT r{};
  GetClientRect(hwnd, &r);
  bool enabled = IsWindowEnabled(hwnd) != 0;
  FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW));
  std::string shown = s.password ? std::string(s.text.size(), '*') : s.text;
  size_t from = std::min(s.scroll, shown.size());
  int width = r.right - r.left;
  std::string visible = shown.substr(from);
  int origin = TextOrigin(s, width, visible.size());
  if (static_cast<int>(visible.size()) > width - origin) visible.resize(static_cast<size_t>(std::max(0, width - origin)));
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  SetTextColor(dc, GetSysColor(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
  TextOutA(dc, origin, 0, visible.data(), static_cast<int>(visible.size()));
  if (s.focused && s.anchor != kNoSelection && s.anchor != s.caret) {
    size_t a = std::min(s.anchor, s.caret), b = std::max(s.anchor, s.caret);
    a = std::max(a, from);
    if (b > a) {
      std::string part = shown.substr(a, b - a);
      int x = origin + static_cast<int>(a - from);
      if (x < width) {
        part.resize(std::min<size_t>(part.size(), static_cast<size_t>(width - x)));
        SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
        SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
        TextOutA(dc, x, 0, part.data(), static_cast<int>(part.size()));
      }
    }
  }
  EndPaint(hwnd, &ps);
}

void Changed(HWND hwnd, EntryState& s) {
  s.modified = true;
  PlaceCaret(hwnd, s);
  InvalidateRect(hwnd, nullptr, TRUE);
}

// ------------------------------------------------------------ editing

bool HasSelection(const EntryState& s) { return s.anchor != kNoSelection && s.anchor != s.caret; }

std::string Selection(const EntryState& s) {
  if (!HasSelection(s)) return {};
  size_t a = std::min(s.anchor, s.caret), b = std::max(s.anchor, s.caret);
  return s.text.substr(a, b - a);
}

void DeleteSelection(EntryState& s) {
  if (!HasSelection(s)) {
    s.anchor = kNoSelection;
    return;
  }
  size_t a = std::min(s.anchor, s.caret), b = std::max(s.anchor, s.caret);
  s.text.erase(a, b - a);
  s.caret = a;
  s.anchor = kNoSelection;
}

void Refuse() { MessageBeep(MB_OK); }

bool IsAlnum(uint8_t c) {
  const values::CaseTables& t = values::Locale();
  return t.charClass[c] != 0;
}

// Places one character at the caret; false (and a beep) when refused.
// `alwaysInsert` places it before the character at the caret whatever the insert
// mode (a paste never overwrites).
bool PlaceChar(HWND hwnd, EntryState& s, uint8_t c, bool alwaysInsert = false) {
  bool replaceSelection = HasSelection(s);
  bool insert = alwaysInsert || g_insertMode.load() || s.caret >= s.text.size();
  size_t lengthAfter = s.text.size() - (replaceSelection ? Selection(s).size() : 0) + (insert || replaceSelection ? 1 : 0);
  if (lengthAfter > s.maxLength) {
    Refuse();
    return false;
  }
  if (!s.scrolls && (insert || replaceSelection)) {
    int room = ClientWidth(hwnd) - s.indent;
    if (static_cast<int>(lengthAfter) > room) {
      Refuse();
      return false;
    }
  }
  if (s.upper) {
    c = values::Locale().upper[c];
  } else if (s.capitalise && (GetKeyState(VK_SHIFT) & 0x8000) == 0) {
    size_t at = replaceSelection ? std::min(s.anchor, s.caret) : s.caret;
    uint8_t before = at == 0 ? 0 : static_cast<uint8_t>(s.text[at - 1]);
    if (at == 0 || (!IsAlnum(before) && before != '\'' && before < 0xC0)) c = values::Locale().upper[c];
  }
  DeleteSelection(s);
  insert = alwaysInsert || g_insertMode.load() || s.caret >= s.text.size() || replaceSelection;
  if (insert)
    s.text.insert(s.caret, 1, static_cast<char>(c));
  else
    s.text[s.caret] = static_cast<char>(c);
  ++s.caret;
  Changed(hwnd, s);
  return true;
}

void Copy(HWND hwnd, const EntryState& s) {
  if (s.password || !HasSelection(s)) return;
  std::string text = Selection(s);
  if (!OpenClipboard(hwnd)) return;
  EmptyClipboard();
  SetClipboardData(CF_TEXT, reinterpret_cast<HANDLE>(const_cast<char*>(text.c_str())));
  CloseClipboard();
}

void Paste(HWND hwnd, EntryState& s) {
  std::string text;
  if (!OpenClipboard(hwnd)) return;
  if (auto* data = static_cast<const char*>(GetClipboardData(CF_TEXT))) text = data;
  CloseClipboard();
  // Only the first line, without control characters.
  size_t eol = text.find_first_of("\r\n");
  if (eol != std::string::npos) text.resize(eol);
  for (unsigned char c : text) {
    if (c < 0x20) continue;
    if (!PlaceChar(hwnd, s, c, true)) break;
  }
}

void Char(HWND hwnd, EntryState& s, uint8_t c) {
  switch (c) {
    case 0x03: Copy(hwnd, s); return;  // Ctrl+C
    case 0x18:                         // Ctrl+X
      if (s.readOnly) return;
      if (s.password || !HasSelection(s)) return;
      Copy(hwnd, s);
      DeleteSelection(s);
      Changed(hwnd, s);
      return;
    case 0x16:  // Ctrl+V
      if (!s.readOnly) Paste(hwnd, s);
      return;
    case 0x08:  // Backspace
      if (s.readOnly) return;
      if (HasSelection(s)) {
        DeleteSelection(s);
      } else if (s.caret > 0) {
        s.text.erase(--s.caret, 1);
      } else {
        return;
      }
      Changed(hwnd, s);
      return;
    case 0x7F:  // the delete character
      if (s.readOnly) return;
      if (HasSelection(s)) {
        DeleteSelection(s);
      } else if (s.caret < s.text.size()) {
        s.text.erase(s.caret, 1);
      } else {
        return;
      }
      Changed(hwnd, s);
      return;
    case '\r':
    case '\n':
    case '\t':
    case 0x1B: return;  // refused silently (handled as keys)
    default: break;
  }
  if (s.readOnly) return;
  if (c < 0x20) {
    Refuse();
    return;
  }
  PlaceChar(hwnd, s, c);
}

bool IsSeparator(char c) {
  auto u = static_cast<uint8_t>(c);
  return !IsAlnum(u) && c != '_';
}

size_t WordLeft(const std::string& t, size_t at) {
  while (at > 0 && IsSeparator(t[at - 1])) --at;
  while (at > 0 && !IsSeparator(t[at - 1])) --at;
  return at;
}

size_t WordRight(const std::string& t, size_t at) {
  while (at < t.size() && !IsSeparator(t[at])) ++at;
  while (at < t.size() && IsSeparator(t[at])) ++at;
  return at;
}

void MoveCaret(HWND hwnd, EntryState& s, size_t to, bool extend) {
  if (extend) {
    if (s.anchor == kNoSelection) s.anchor = s.caret;
  } else {
    s.anchor = kNoSelection;
  }
  s.caret = std::min(to, s.text.size());
  PlaceCaret(hwnd, s);
  InvalidateRect(hwnd, nullptr, TRUE);
}

void StartEditing(HWND hwnd, EntryState& s) {
  // A refused text stays for the user to correct.
  if (!s.rejected && s.control != nullptr && s.control->variable != nullptr) s.text = DisplayText(s);
  s.undo = s.text;
  s.caret = s.text.size();
  // The whole text is selected, so that typing replaces it; a refused text
  // keeps the caret at its end for correcting.
  s.anchor = s.rejected ? kNoSelection : 0;
  s.scroll = 0;
  PlaceCaret(hwnd, s);
  InvalidateRect(hwnd, nullptr, TRUE);
}

void Raise(EntryState& s, uint32_t event, intptr_t code) {
  if (s.control == nullptr || s.control->window == nullptr) return;
  s.control->window->Enqueue({kEventBase + event, s.control->feq(), code});
}

// Leaving the control: true when accepted (or nothing to check).
bool Check(HWND hwnd, EntryState& s) {
  if (!s.modified && !s.rejected) {
    if (s.control != nullptr && s.control->variable != nullptr) s.text = DisplayText(s);
    s.anchor = kNoSelection;
    InvalidateRect(hwnd, nullptr, TRUE);
    return true;
  }
  int32_t code = 0;
  if (s.control != nullptr && s.control->variable != nullptr) {
    values::Value value;
    bool converted = s.hasPicture ? values::EntryValue(s.picture, s.text, &value)
                                  : (value = values::Value::String(s.text), true);
    code = converted ? WriteVariable(s, value) : kRejectNotConverted;
  }
  s.rejectCode = code;
  if (code != 0) {
    s.rejected = true;
    Raise(s, event::Rejected, code);
    return false;
  }
  s.rejected = false;
  s.modified = false;
  Raise(s, event::Accepted, 0);
  if (s.control != nullptr && s.control->variable != nullptr) s.text = DisplayText(s);
  s.anchor = kNoSelection;
  s.scroll = 0;
  InvalidateRect(hwnd, nullptr, TRUE);
  return true;
}

void KeyDown(HWND hwnd, EntryState& s, UINT vk) {
  bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
  bool ctrl = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
  switch (vk) {
    case VK_HOME: MoveCaret(hwnd, s, 0, shift); return;
    case VK_END: MoveCaret(hwnd, s, s.text.size(), shift); return;
    case VK_LEFT: {
      size_t to = ctrl ? WordLeft(s.text, s.caret) : (s.caret > 0 ? s.caret - 1 : 0);
      if (!shift && !ctrl && HasSelection(s)) to = std::min(s.anchor, s.caret);
      MoveCaret(hwnd, s, to, shift);
      return;
    }
    case VK_RIGHT: {
      size_t to = ctrl ? WordRight(s.text, s.caret) : s.caret + 1;
      if (!shift && !ctrl && HasSelection(s)) to = std::max(s.anchor, s.caret);
      MoveCaret(hwnd, s, to, shift);
      return;
    }
    case VK_DELETE: Char(hwnd, s, 0x7F); return;
    case VK_ESCAPE:
      // Undo, then complete.
      s.text = s.undo;
      s.caret = s.text.size();
      s.anchor = kNoSelection;
      InvalidateRect(hwnd, nullptr, TRUE);
      Check(hwnd, s);
      return;
    case VK_RETURN:
    case VK_TAB: Check(hwnd, s); return;
    default: return;  // Insert and the rest are not the control's
  }
}

void Configure(HWND hwnd, EntryState& s, const CREATESTRUCTA* cs) {
  DWORD style = cs->style;
  s.readOnly = (style & ES_READONLY) != 0;
  s.password = (style & ES_PASSWORD) != 0;
  s.upper = (style & ES_UPPERCASE) != 0;
  s.capitalise = (style & kEntryCapitalise) != 0;
  s.scrolls = (style & ES_AUTOHSCROLL) != 0;
  s.justification = (style & ES_RIGHT) ? Justification::kRight
                    : (style & ES_CENTER) ? Justification::kCentre
                                          : Justification::kLeft;
  if (cs->lpszName != nullptr) s.text = cs->lpszName;
  if (s.control == nullptr) return;
  const ControlSpec& described = s.control->described;
  s.readOnly = s.readOnly || (described.attr2 & kEntryAttrReadOnly);
  s.password = s.password || (described.attr2 & kEntryAttrPassword);
  s.upper = s.upper || (described.attr2 & kEntryAttrUpper);
  s.capitalise = s.capitalise || (described.attr2 & kEntryAttrCapitalise);
  s.scrolls = (described.attr2 & kEntryAttrNoScroll) == 0;
  s.justification = described.justification;
  s.indent = described.indent > 0 ? DialogUnitsToCellsX(described.indent) : 0;
  if (!described.picture.empty()) {
    values::CompilePicture(described.picture, &s.picture);
    s.hasPicture = s.picture.valid();
    if (s.hasPicture) s.maxLength = std::clamp<size_t>(s.picture.shownLength, 1, kMaxTextLength);
  }
  if (IsTextType(described.use.type) && described.use.size > 0) {
    size_t room = described.use.type == files::TYPE_STRING ? described.use.size : described.use.size - 1;
    s.maxLength = std::max<size_t>(1, std::min(s.maxLength, room));
  }
  s.text = DisplayText(s);
  if (s.text.size() > s.maxLength) s.text.resize(s.maxLength);
  (void)hwnd;
}

LRESULT EntryProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  EntryState* s = reinterpret_cast<EntryState*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE: {
      auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
      auto* state = new EntryState;
      state->control = static_cast<Control*>(cs->lpCreateParams);
      Configure(hwnd, *state, cs);
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
      return TRUE;
    }
    case WM_NCDESTROY:
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
      delete s;
      return 0;
    default: break;
  }
  if (s == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_GETDLGCODE: return DLGC_WANTCHARS | DLGC_WANTARROWS | DLGC_HASSETSEL;
    case WM_PAINT: Paint(hwnd, *s); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_SETFOCUS:
      // A refused entry that took the focus back may still be told of the
      // focus change it undid.
      if (GetFocus() != hwnd || s->focused) return 0;
      s->focused = true;
      CreateCaret(hwnd, nullptr, 1, 1);
      StartEditing(hwnd, *s);
      ShowCaret(hwnd);
      return 0;
    case WM_KILLFOCUS: {
      if (!s->focused) return 0;
      s->focused = false;
      DestroyCaret();
      if (s->checking) return 0;
      s->checking = true;
      bool accepted = Check(hwnd, *s);
      s->checking = false;
      // A refused text keeps the focus while the window goes on.
      auto next = reinterpret_cast<HWND>(wParam);
      if (!accepted && next != nullptr && IsWindowVisible(hwnd) && s->control != nullptr &&
          s->control->window != nullptr && s->control->window->IsOpen() &&
          GetAncestor(next, GA_ROOT) == GetAncestor(hwnd, GA_ROOT))
        SetFocus(hwnd);
      return 0;
    }
    case WM_KEYDOWN: KeyDown(hwnd, *s, static_cast<UINT>(wParam)); return 0;
    case WM_CHAR: Char(hwnd, *s, static_cast<uint8_t>(wParam)); return 0;
    case WM_LBUTTONDOWN: {
      if (GetFocus() != hwnd) SetFocus(hwnd);
      if (GetFocus() != hwnd) return 0;
      int x = GET_X_LPARAM(lParam);
      size_t shown = s->text.size() - std::min(s->scroll, s->text.size());
      int origin = TextOrigin(*s, ClientWidth(hwnd), shown);
      size_t at = x <= origin ? s->scroll : s->scroll + static_cast<size_t>(x - origin);
      MoveCaret(hwnd, *s, at, (wParam & MK_SHIFT) != 0);
      return 0;
    }
    case WM_SETTEXT: {
      s->text = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
      if (s->text.size() > s->maxLength) s->text.resize(s->maxLength);
      s->caret = std::min(s->caret, s->text.size());
      s->anchor = kNoSelection;
      InvalidateRect(hwnd, nullptr, TRUE);
      return TRUE;
    }
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(s->text.size());
    case WM_GETTEXT: {
      if (wParam == 0 || lParam == 0) return 0;
      size_t n = std::min<size_t>(s->text.size(), wParam - 1);
      std::memcpy(reinterpret_cast<char*>(lParam), s->text.data(), n);
      reinterpret_cast<char*>(lParam)[n] = 0;
      return static_cast<LRESULT>(n);
    }
    case WM_COPY: Copy(hwnd, *s); return 0;
    case WM_CUT: Char(hwnd, *s, 0x18); return 0;
    case WM_PASTE: Char(hwnd, *s, 0x16); return 0;
    case WM_CLEAR:
      if (!s->readOnly && HasSelection(*s)) {
        DeleteSelection(*s);
        Changed(hwnd, *s);
      }
      return 0;
    case EM_UNDO:
    case WM_UNDO:
      s->text = s->undo;
      s->caret = s->text.size();
      s->anchor = kNoSelection;
      Changed(hwnd, *s);
      return TRUE;
    case EM_GETMODIFY: return s->modified ? TRUE : FALSE;
    case EM_SETMODIFY: s->modified = wParam != 0; return 0;
    case EM_LIMITTEXT:
      // Lengths and positions are 16-bit (EM_GETSEL packs them in words).
      s->maxLength = wParam == 0 ? 0x7FFE : std::min<size_t>(wParam, kMaxTextLength);
      return 0;
    case EM_SETREADONLY: s->readOnly = wParam != 0; return TRUE;
    case EM_SETSEL: {
      auto from = static_cast<intptr_t>(wParam), to = static_cast<intptr_t>(lParam);
      if (from < 0) {
        s->anchor = kNoSelection;
      } else {
        if (to < 0 || static_cast<size_t>(to) > s->text.size()) to = static_cast<intptr_t>(s->text.size());
        s->anchor = std::min(static_cast<size_t>(from), s->text.size());
        s->caret = static_cast<size_t>(to);
      }
      PlaceCaret(hwnd, *s);
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    }
    case EM_GETSEL: {
      size_t a = HasSelection(*s) ? std::min(s->anchor, s->caret) : s->caret;
      size_t b = HasSelection(*s) ? std::max(s->anchor, s->caret) : s->caret;
      return MAKELONG(static_cast<WORD>(a), static_cast<WORD>(b));
    }
    default: return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

bool Validate(Control& control) {
  EntryState* s = StateOf(control.hwnd);
  if (s == nullptr) return true;
  return Check(control.hwnd, *s);
}

// DISPLAY: the variable's value replaces whatever the control held, a
// refused text included, and is shown from its first character.  In the
// entry being edited, editing starts over on it as when the focus arrives:
// all of it selected, so that typing replaces it, and Escape comes back to it.
void Display(Control& control) {
  EntryState* s = StateOf(control.hwnd);
  if (s == nullptr) return;
  s->text = DisplayText(*s);
  s->modified = false;
  s->rejected = false;
  s->rejectCode = 0;
  s->scroll = 0;
  if (s->focused) {
    s->undo = s->text;
    s->anchor = 0;
    s->caret = s->text.size();
    PlaceCaret(control.hwnd, *s);
  } else {
    s->caret = std::min(s->caret, s->text.size());
    s->anchor = kNoSelection;
  }
  InvalidateRect(control.hwnd, nullptr, TRUE);
}

}  // namespace

void RegisterEntryControl() {
  static std::mutex lock;
  std::lock_guard guard(lock);
  WNDCLASSA existing{};
  if (!GetClassInfoA(nullptr, kEntryClass, &existing)) {
    WNDCLASSA wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = EntryProc;
    wc.lpszClassName = kEntryClass;
    RegisterClassA(&wc);
  }
  ControlClass cls;
  cls.className = kEntryClass;
  cls.validate = Validate;
  cls.display = Display;
  RegisterControlClass(rsc::kEntry, cls);
}

void SetEntryInsertMode(bool on) { g_insertMode.store(on); }
bool EntryInsertMode() { return g_insertMode.load(); }

std::string EntryText(HWND entry) {
  EntryState* s = StateOf(entry);
  return s != nullptr ? s->text : std::string();
}

int32_t EntryRejectCode(HWND entry) {
  EntryState* s = StateOf(entry);
  return s != nullptr ? s->rejectCode : 0;
}

bool EntryComplete(HWND entry) {
  EntryState* s = StateOf(entry);
  return s == nullptr || Check(entry, *s);
}

}  // namespace pr::ui
