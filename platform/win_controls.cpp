// The standard controls: "Static" (text and icon), "Button" (push, default
// push, check box, group box) and "Edit" (single- and multi-line, read-only
// or editable), drawn in cells.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win_internal.h"

namespace prw {
namespace {

HWND ParentOf(HWND h) {
  auto w = Find(h);
  return w && (w->style & WS_CHILD) ? w->parent : nullptr;
}

DWORD StyleOf(HWND h) { return static_cast<DWORD>(GetWindowLongPtrA(h, GWL_STYLE)); }

// Asks the parent for the colours of a control (WM_CTLCOLOR*), then fills
// the client area with the brush it returns.
void PrepareColors(HWND h, HDC dc, UINT message) {
  HWND parent = ParentOf(h);
  HBRUSH brush = parent ? reinterpret_cast<HBRUSH>(SendMessageA(parent, message, reinterpret_cast<WPARAM>(dc),
                                                                reinterpret_cast<LPARAM>(h)))
                        : nullptr;
  if (!brush) brush = reinterpret_cast<HBRUSH>(DefWindowProcA(h, message, reinterpret_cast<WPARAM>(dc),
                                                              reinterpret_cast<LPARAM>(h)));
  bool isNull = false;
  COLORREF bg = BrushColor(brush, &isNull);
  if (!isNull) SetBkColor(dc, bg);
  RECT r;
  GetClientRect(h, &r);
  FillRect(dc, &r, brush);
  if (!IsWindowEnabled(h)) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
}

// ---------------------------------------------------------------- Static
LRESULT StaticProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      DWORD style = StyleOf(h);
      DWORD type = style & SS_TYPEMASK;
      if (type == SS_OWNERDRAW) {
        HWND parent = ParentOf(h);
        RECT r;
        GetClientRect(h, &r);
        DRAWITEMSTRUCT di{ODT_STATIC, static_cast<UINT>(GetDlgCtrlID(h)), 0, 1, 0, h, dc, r, 0};
        if (parent) SendMessageA(parent, WM_DRAWITEM, di.CtlID, reinterpret_cast<LPARAM>(&di));
      } else {
        PrepareColors(h, dc, WM_CTLCOLORSTATIC);
        SetBkMode(dc, TRANSPARENT);
        if (type == SS_ICON) {
          HICON icon = reinterpret_cast<HICON>(GetWindowLongPtrA(h, 0));
          if (icon) DrawIcon(dc, 0, 0, icon);
        } else {
          RECT r;
          GetClientRect(h, &r);
          UINT format = DT_WORDBREAK | DT_EXPANDTABS | (style & SS_NOPREFIX ? DT_NOPREFIX : 0) |
                        (type == SS_CENTER ? DT_CENTER : type == SS_RIGHT ? DT_RIGHT : DT_LEFT);
          std::string text = WindowText(h);
          DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, format);
        }
      }
      EndPaint(h, &ps);
      return 0;
    }
    case STM_SETICON: {
      LONG_PTR old = SetWindowLongPtrA(h, 0, static_cast<LONG_PTR>(wParam));
      InvalidateRect(h, nullptr, TRUE);
      return old;
    }
    case STM_GETICON: return GetWindowLongPtrA(h, 0);
    case WM_GETDLGCODE: return DLGC_STATIC;
    case WM_ENABLE: InvalidateRect(h, nullptr, TRUE); return 0;
    default: return DefWindowProcA(h, message, wParam, lParam);
  }
}

// ---------------------------------------------------------------- Button
enum : LONG_PTR { kPushed = 1, kChecked = 2 };

void Click(HWND h) {
  DWORD type = StyleOf(h) & BS_TYPEMASK;
  if (type == BS_AUTOCHECKBOX) {
    LONG_PTR st = GetWindowLongPtrA(h, 0);
    SetWindowLongPtrA(h, 0, st ^ kChecked);
    InvalidateRect(h, nullptr, TRUE);
  }
  HWND parent = ParentOf(h);
  if (parent)
    SendMessageA(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(h)), BN_CLICKED),
                 reinterpret_cast<LPARAM>(h));
}

void PaintButton(HWND h) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  DWORD style = StyleOf(h);
  DWORD type = style & BS_TYPEMASK;
  LONG_PTR st = GetWindowLongPtrA(h, 0);
  RECT r;
  GetClientRect(h, &r);
  std::string text = WindowText(h);
  bool focused = GetFocus() == h;
  if (type == BS_OWNERDRAW) {
    DRAWITEMSTRUCT di{ODT_BUTTON, static_cast<UINT>(GetDlgCtrlID(h)), 0, 1,
                      static_cast<UINT>((focused ? ODS_FOCUS : 0) | ((st & kPushed) ? ODS_SELECTED : 0) |
                                        (IsWindowEnabled(h) ? 0 : ODS_DISABLED)),
                      h, dc, r, 0};
    if (HWND parent = ParentOf(h)) SendMessageA(parent, WM_DRAWITEM, di.CtlID, reinterpret_cast<LPARAM>(&di));
    EndPaint(h, &ps);
    return;
  }
  PrepareColors(h, dc, WM_CTLCOLORBTN);
  int row = (r.bottom - r.top - 1) / 2;
  if (type == BS_GROUPBOX) {
    FrameRect(dc, &r, GetSysColorBrush(COLOR_BTNSHADOW));
    RECT tr{1, 0, r.right - 1, 1};
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &tr, DT_SINGLELINE);
  } else if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX) {
    std::string box = (st & kChecked) ? "[x] " : "[ ] ";
    box += text;
    if (focused) {
      SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
      SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
    }
    SetBkMode(dc, OPAQUE);
    RECT tr{0, row, r.right, row + 1};
    DrawTextA(dc, box.c_str(), static_cast<int>(box.size()), &tr, DT_SINGLELINE);
  } else {
    bool isDefault = type == BS_DEFPUSHBUTTON && IsWindowEnabled(h);  // a disabled button is nobody's default
    if (focused || (st & kPushed)) {
      SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
      SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
      RECT line{0, row, r.right, row + 1};
      FillRect(dc, &line, GetSysColorBrush(COLOR_HIGHLIGHT));
    } else {
      SetBkMode(dc, TRANSPARENT);
    }
    const char* open = isDefault ? "\xBB" : "[";  // » marks the default button
    const char* close = isDefault ? "\xAB" : "]";
    if (r.right >= 2) {
      TextOutA(dc, 0, row, open, 1);
      TextOutA(dc, r.right - 1, row, close, 1);
    }
    RECT tr{1, row, r.right - 1, row + 1};
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &tr, DT_SINGLELINE | DT_CENTER);
  }
  EndPaint(h, &ps);
}

LRESULT ButtonProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: PaintButton(h); return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      SetFocus(h);
      SetWindowLongPtrA(h, 0, GetWindowLongPtrA(h, 0) | kPushed);
      SetCapture(h);
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    case WM_LBUTTONUP: {
      bool was = (GetWindowLongPtrA(h, 0) & kPushed) != 0;
      bool captured = GetCapture() == h;
      SetWindowLongPtrA(h, 0, GetWindowLongPtrA(h, 0) & ~kPushed);
      if (captured) ReleaseCapture();
      InvalidateRect(h, nullptr, TRUE);
      RECT r;
      GetClientRect(h, &r);
      int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
      if (was && x >= 0 && y >= 0 && x < r.right && y < r.bottom) Click(h);
      return 0;
    }
    case WM_KEYDOWN:
      if (wParam == VK_SPACE) {
        SetWindowLongPtrA(h, 0, GetWindowLongPtrA(h, 0) | kPushed);
        InvalidateRect(h, nullptr, TRUE);
      }
      return 0;
    case WM_KEYUP:
      if (wParam == VK_SPACE && (GetWindowLongPtrA(h, 0) & kPushed)) {
        SetWindowLongPtrA(h, 0, GetWindowLongPtrA(h, 0) & ~kPushed);
        InvalidateRect(h, nullptr, TRUE);
        Click(h);
      }
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE: InvalidateRect(h, nullptr, TRUE); return 0;
    case WM_GETDLGCODE: {
      DWORD type = StyleOf(h) & BS_TYPEMASK;
      if (type == BS_DEFPUSHBUTTON) return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
      if (type == BS_PUSHBUTTON || type == BS_OWNERDRAW) return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
      return DLGC_BUTTON;
    }
    case BM_CLICK: Click(h); return 0;
    case BM_SETSTYLE: {
      DWORD style = StyleOf(h);
      SetWindowLongPtrA(h, GWL_STYLE, static_cast<LONG_PTR>((style & ~0xFFFFu) | (wParam & 0xFFFF)));
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    }
    case BM_GETCHECK: return (GetWindowLongPtrA(h, 0) & kChecked) ? BST_CHECKED : BST_UNCHECKED;
    case BM_SETCHECK: {
      LONG_PTR st = GetWindowLongPtrA(h, 0);
      SetWindowLongPtrA(h, 0, wParam == BST_CHECKED ? (st | kChecked) : (st & ~kChecked));
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    }
    case BM_GETSTATE: {
      LONG_PTR st = GetWindowLongPtrA(h, 0);
      return ((st & kChecked) ? BST_CHECKED : 0) | ((st & kPushed) ? BST_PUSHED : 0) |
             (GetFocus() == h ? BST_FOCUS : 0);
    }
    case BM_SETSTATE: {
      LONG_PTR st = GetWindowLongPtrA(h, 0);
      SetWindowLongPtrA(h, 0, wParam ? (st | kPushed) : (st & ~kPushed));
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    }
    default: return DefWindowProcA(h, message, wParam, lParam);
  }
}

// ---------------------------------------------------------------- Edit
struct EditState {
  size_t caret = 0;
  size_t anchor = 0;
  int firstLine = 0;
  int firstColumn = 0;
  bool modified = false;
  size_t limit = 30000;
  std::string undo;
};

EditState* StateOf(HWND h) { return reinterpret_cast<EditState*>(GetWindowLongPtrA(h, 0)); }

struct VisualLine {
  size_t start;
  size_t length;
};

// Lines of the text as shown: split at CR LF and, in a multi-line edit without
// horizontal scrolling, wrapped at the client width (at a space when there is one).
std::vector<VisualLine> Lines(const std::string& text, DWORD style, int width) {
  std::vector<VisualLine> out;
  bool multi = (style & ES_MULTILINE) != 0;
  bool wrap = multi && !(style & ES_AUTOHSCROLL) && width > 0;
  size_t i = 0;
  for (;;) {
    size_t end = multi ? text.find_first_of("\r\n", i) : std::string::npos;
    if (end == std::string::npos) end = text.size();
    size_t pos = i;
    do {
      size_t len = end - pos;
      if (wrap && len > static_cast<size_t>(width)) {
        size_t brk = text.rfind(' ', pos + width);
        len = (brk != std::string::npos && brk >= pos && brk > pos) ? brk - pos + 1 : static_cast<size_t>(width);
      }
      out.push_back(VisualLine{pos, len});
      pos += len;
    } while (pos < end);
    if (end >= text.size()) break;
    i = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
    if (i >= text.size()) {
      out.push_back(VisualLine{i, 0});
      break;
    }
  }
  return out;
}

void LineOf(const std::vector<VisualLine>& lines, size_t index, int* line, int* column) {
  int l = 0;
  for (size_t k = 0; k < lines.size(); ++k) {
    if (index >= lines[k].start) l = static_cast<int>(k);
  }
  *line = l;
  *column = static_cast<int>(index - lines[l].start);
}

void PlaceCaret(HWND h, EditState* st) {
  std::string text = WindowText(h);
  RECT r;
  GetClientRect(h, &r);
  DWORD style = StyleOf(h);
  auto lines = Lines(text, style, r.right);
  int line, col;
  LineOf(lines, st->caret, &line, &col);
  int height = std::max<int>(1, r.bottom);
  if (line < st->firstLine) st->firstLine = line;
  if (line >= st->firstLine + height) st->firstLine = line - height + 1;
  if (!(style & ES_MULTILINE) || (style & ES_AUTOHSCROLL)) {
    if (col < st->firstColumn) st->firstColumn = col;
    if (col >= st->firstColumn + std::max<int>(1, r.right)) st->firstColumn = col - std::max<int>(1, r.right) + 1;
  } else {
    st->firstColumn = 0;
  }
  if (GetFocus() == h) SetCaretPos(col - st->firstColumn, line - st->firstLine);
  if (style & WS_VSCROLL) {
    SCROLLINFO si{sizeof si, SIF_ALL, 0, std::max<int>(0, static_cast<int>(lines.size()) - 1),
                  static_cast<UINT>(height), st->firstLine, 0};
    SetScrollInfo(h, SB_VERT, &si, TRUE);
  }
  InvalidateRect(h, nullptr, TRUE);
}

void PaintEdit(HWND h) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  EditState* st = StateOf(h);
  DWORD style = StyleOf(h);
  bool readOnly = (style & ES_READONLY) != 0;
  PrepareColors(h, dc, readOnly || !IsWindowEnabled(h) ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT);
  if (st) {
    RECT r;
    GetClientRect(h, &r);
    std::string text = WindowText(h);
    if (style & ES_PASSWORD) text.assign(text.size(), '*');
    auto lines = Lines(text, style, r.right);
    size_t selA = std::min(st->caret, st->anchor), selB = std::max(st->caret, st->anchor);
    COLORREF normalFg = IsWindowEnabled(h) ? GetSysColor(COLOR_WINDOWTEXT) : GetSysColor(COLOR_GRAYTEXT);
    SetBkMode(dc, TRANSPARENT);
    for (int row = 0; row < r.bottom; ++row) {
      size_t li = static_cast<size_t>(st->firstLine + row);
      if (li >= lines.size()) break;
      const VisualLine& vl = lines[li];
      for (int col = 0; col < r.right; ++col) {
        size_t idx = vl.start + st->firstColumn + col;
        if (idx >= vl.start + vl.length) break;
        char c = text[idx];
        if (c == '\r' || c == '\n') break;
        if (c == '\t') c = ' ';
        bool selected = idx >= selA && idx < selB && GetFocus() == h;
        if (selected) {
          SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
          SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
          SetBkMode(dc, OPAQUE);
        } else {
          SetTextColor(dc, normalFg);
          SetBkMode(dc, TRANSPARENT);
        }
        TextOutA(dc, col, row, &c, 1);
      }
    }
  }
  EndPaint(h, &ps);
}

void ReplaceSelection(HWND h, EditState* st, const std::string& insert) {
  std::string text = WindowText(h);
  size_t a = std::min({st->caret, st->anchor, text.size()}), b = std::min(std::max(st->caret, st->anchor), text.size());
  std::string next = text.substr(0, a) + insert + text.substr(b);
  if (next.size() > st->limit) {
    MessageBeep(0);
    return;
  }
  DefWindowProcA(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(next.c_str()));
  st->caret = st->anchor = a + insert.size();
  st->modified = true;
  PlaceCaret(h, st);
}

std::string Selection(HWND h, EditState* st) {
  std::string text = WindowText(h);
  size_t a = std::min({st->caret, st->anchor, text.size()}), b = std::min(std::max(st->caret, st->anchor), text.size());
  return text.substr(a, b - a);
}

void CopySelection(HWND h, EditState* st) {
  if (StyleOf(h) & ES_PASSWORD) return;
  std::string sel = Selection(h, st);
  if (sel.empty() || !OpenClipboard(h)) return;
  EmptyClipboard();
  SetClipboardData(CF_TEXT, const_cast<char*>(sel.c_str()));
  CloseClipboard();
}

void EditKey(HWND h, EditState* st, UINT vk) {
  bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
  bool ctrl = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
  std::string text = WindowText(h);
  RECT r;
  GetClientRect(h, &r);
  DWORD style = StyleOf(h);
  auto lines = Lines(text, style, r.right);
  int line, col;
  LineOf(lines, st->caret, &line, &col);
  size_t pos = st->caret;
  auto toLine = [&](int target) {
    target = std::clamp(target, 0, static_cast<int>(lines.size()) - 1);
    const VisualLine& vl = lines[target];
    size_t len = vl.length;
    while (len > 0 && (text[vl.start + len - 1] == '\r' || text[vl.start + len - 1] == '\n')) --len;
    return vl.start + std::min<size_t>(col, len);
  };
  switch (vk) {
    case VK_LEFT:
      if (pos > 0) --pos;
      if (ctrl) {
        while (pos > 0 && text[pos] == ' ') --pos;
        while (pos > 0 && text[pos - 1] != ' ') --pos;
      }
      break;
    case VK_RIGHT:
      if (pos < text.size()) ++pos;
      if (ctrl) {
        while (pos < text.size() && text[pos] != ' ') ++pos;
        while (pos < text.size() && text[pos] == ' ') ++pos;
      }
      break;
    case VK_HOME: pos = ctrl ? 0 : lines[line].start; break;
    case VK_END: {
      if (ctrl) {
        pos = text.size();
      } else {
        const VisualLine& vl = lines[line];
        size_t len = vl.length;
        while (len > 0 && (text[vl.start + len - 1] == '\r' || text[vl.start + len - 1] == '\n')) --len;
        pos = vl.start + len;
      }
      break;
    }
    case VK_UP: pos = toLine(line - 1); break;
    case VK_DOWN: pos = toLine(line + 1); break;
    case VK_PRIOR: pos = toLine(line - std::max<int>(1, r.bottom - 1)); break;
    case VK_NEXT: pos = toLine(line + std::max<int>(1, r.bottom - 1)); break;
    case VK_DELETE:
      if (style & ES_READONLY) return;
      if (st->caret == st->anchor && st->caret < text.size()) st->anchor = st->caret + 1;
      ReplaceSelection(h, st, "");
      return;
    default: return;
  }
  st->caret = std::min(pos, text.size());
  if (!shift) st->anchor = st->caret;
  PlaceCaret(h, st);
}

void EditChar(HWND h, EditState* st, unsigned char c) {
  DWORD style = StyleOf(h);
  bool readOnly = (style & ES_READONLY) != 0;
  switch (c) {
    case 1: st->anchor = 0; st->caret = WindowText(h).size(); PlaceCaret(h, st); return;  // Ctrl+A
    case 3: CopySelection(h, st); return;                                                   // Ctrl+C
    case 24:                                                                                // Ctrl+X
      if (readOnly) return;
      CopySelection(h, st);
      if (!(style & ES_PASSWORD)) ReplaceSelection(h, st, "");
      return;
    case 22: {  // Ctrl+V
      if (readOnly || !OpenClipboard(h)) return;
      const char* clip = static_cast<const char*>(GetClipboardData(CF_TEXT));
      std::string paste = clip ? clip : "";
      CloseClipboard();
      if (!(style & ES_MULTILINE)) paste = paste.substr(0, paste.find_first_of("\r\n"));
      if (!paste.empty()) ReplaceSelection(h, st, paste);
      return;
    }
    case 26: SendMessageA(h, EM_UNDO, 0, 0); return;  // Ctrl+Z
    case 8:
      if (readOnly) return;
      if (st->caret == st->anchor && st->caret > 0) st->anchor = st->caret - 1;
      ReplaceSelection(h, st, "");
      return;
    case '\r':
      if (readOnly || !(style & ES_MULTILINE)) return;
      ReplaceSelection(h, st, "\r\n");
      return;
    case '\t':
    case 0x1B:
    case '\n': return;
    default: break;
  }
  if (readOnly || c < 0x20) return;
  if ((style & ES_UPPERCASE) && c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 32);
  ReplaceSelection(h, st, std::string(1, static_cast<char>(c)));
}

LRESULT EditProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  EditState* st = StateOf(h);
  switch (message) {
    case WM_CREATE: {
      auto* s = new EditState;
      s->undo = WindowText(h);
      SetWindowLongPtrA(h, 0, reinterpret_cast<LONG_PTR>(s));
      return 0;
    }
    case WM_NCDESTROY:
      delete st;
      SetWindowLongPtrA(h, 0, 0);
      return 0;
    case WM_PAINT: PaintEdit(h); return 0;
    case WM_SETTEXT:
      DefWindowProcA(h, message, wParam, lParam);
      if (st) {
        st->caret = st->anchor = 0;
        st->firstLine = st->firstColumn = 0;
        st->modified = false;
        st->undo = WindowText(h);
        PlaceCaret(h, st);
      }
      return TRUE;
    case WM_SETFOCUS:
      CreateCaret(h, nullptr, 1, 1);
      if (st) PlaceCaret(h, st);
      ShowCaret(h);
      return 0;
    case WM_KILLFOCUS:
      DestroyCaret();
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    case WM_LBUTTONDOWN: {
      SetFocus(h);
      if (!st) return 0;
      std::string text = WindowText(h);
      RECT r;
      GetClientRect(h, &r);
      auto lines = Lines(text, StyleOf(h), r.right);
      int line = std::clamp(st->firstLine + GET_Y_LPARAM(lParam), 0, static_cast<int>(lines.size()) - 1);
      size_t pos = lines[line].start + st->firstColumn + std::max(0, GET_X_LPARAM(lParam));
      st->caret = st->anchor = std::min(pos, lines[line].start + lines[line].length);
      st->caret = st->anchor = std::min(st->caret, text.size());
      PlaceCaret(h, st);
      return 0;
    }
    case WM_KEYDOWN:
      if (st) EditKey(h, st, static_cast<UINT>(wParam));
      return 0;
    case WM_CHAR:
      if (st) EditChar(h, st, static_cast<unsigned char>(wParam));
      return 0;
    case WM_VSCROLL: {
      if (!st) return 0;
      RECT r;
      GetClientRect(h, &r);
      int count = static_cast<int>(Lines(WindowText(h), StyleOf(h), r.right).size());
      int page = std::max<int>(1, r.bottom);
      switch (LOWORD(wParam)) {
        case SB_LINEUP: st->firstLine -= 1; break;
        case SB_LINEDOWN: st->firstLine += 1; break;
        case SB_PAGEUP: st->firstLine -= page; break;
        case SB_PAGEDOWN: st->firstLine += page; break;
        case SB_TOP: st->firstLine = 0; break;
        case SB_BOTTOM: st->firstLine = count; break;
        default: break;
      }
      st->firstLine = std::clamp(st->firstLine, 0, std::max(0, count - page));
      SetScrollPos(h, SB_VERT, st->firstLine, TRUE);
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    }
    case WM_GETDLGCODE: return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
    case WM_ENABLE: InvalidateRect(h, nullptr, TRUE); return 0;
    case EM_GETSEL: {
      if (!st) return 0;
      DWORD a = static_cast<DWORD>(std::min(st->caret, st->anchor)), b = static_cast<DWORD>(std::max(st->caret, st->anchor));
      if (wParam) *reinterpret_cast<DWORD*>(wParam) = a;
      if (lParam) *reinterpret_cast<DWORD*>(lParam) = b;
      return MAKELONG(static_cast<WORD>(a), static_cast<WORD>(b));
    }
    case EM_SETSEL: {
      if (!st) return 0;
      size_t n = WindowText(h).size();
      intptr_t a = static_cast<intptr_t>(wParam), b = lParam;
      if (a < 0) {
        st->anchor = st->caret;
      } else {
        if (b < 0) b = static_cast<intptr_t>(n);
        st->anchor = std::min<size_t>(static_cast<size_t>(a), n);
        st->caret = std::min<size_t>(static_cast<size_t>(b), n);
      }
      PlaceCaret(h, st);
      return 0;
    }
    case EM_GETMODIFY: return st && st->modified;
    case EM_SETMODIFY:
      if (st) st->modified = wParam != 0;
      return 0;
    case EM_LIMITTEXT:
      if (st) st->limit = wParam ? static_cast<size_t>(wParam) : 0x7FFFFFFE;
      return 0;
    case EM_SETREADONLY: {
      DWORD style = StyleOf(h);
      SetWindowLongPtrA(h, GWL_STYLE, static_cast<LONG_PTR>(wParam ? (style | ES_READONLY) : (style & ~ES_READONLY)));
      return TRUE;
    }
    case EM_UNDO:
    case WM_UNDO:
      if (!st || (StyleOf(h) & ES_READONLY)) return FALSE;
      {
        std::string undo = st->undo;
        DefWindowProcA(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(undo.c_str()));
        st->caret = st->anchor = undo.size();
        st->modified = true;
        PlaceCaret(h, st);
      }
      return TRUE;
    case EM_GETLINECOUNT: {
      RECT r;
      GetClientRect(h, &r);
      return static_cast<LRESULT>(Lines(WindowText(h), StyleOf(h), r.right).size());
    }
    case EM_GETFIRSTVISIBLELINE: return st ? st->firstLine : 0;
    case EM_LINESCROLL:
      if (st) {
        RECT r;
        GetClientRect(h, &r);
        int count = static_cast<int>(Lines(WindowText(h), StyleOf(h), r.right).size());
        st->firstLine = std::clamp(st->firstLine + static_cast<int>(lParam), 0, std::max(0, count - 1));
        InvalidateRect(h, nullptr, TRUE);
      }
      return TRUE;
    case EM_SCROLL:
      SendMessageA(h, WM_VSCROLL, wParam, 0);
      return TRUE;
    case WM_COPY:
      if (st) CopySelection(h, st);
      return 0;
    case WM_CUT:
      if (st) EditChar(h, st, 24);
      return 0;
    case WM_PASTE:
      if (st) EditChar(h, st, 22);
      return 0;
    case WM_CLEAR:
      if (st && !(StyleOf(h) & ES_READONLY)) ReplaceSelection(h, st, "");
      return 0;
    default: return DefWindowProcA(h, message, wParam, lParam);
  }
}

}  // namespace

void RegisterControlClasses() {
  WNDCLASSA wc{};
  wc.style = CS_DBLCLKS;
  wc.cbWndExtra = 16;
  wc.lpfnWndProc = StaticProc;
  wc.lpszClassName = "Static";
  RegisterClassA(&wc);
  wc.lpfnWndProc = ButtonProc;
  wc.lpszClassName = "Button";
  RegisterClassA(&wc);
  wc.lpfnWndProc = EditProc;
  wc.lpszClassName = "Edit";
  RegisterClassA(&wc);
}

}  // namespace prw

BOOL DrawIcon(HDC dc, int x, int y, HICON icon) {
  if (!icon) return FALSE;
  const char* mark = IconMark(icon);
  return TextOutA(dc, x, y, mark, static_cast<int>(std::strlen(mark)));
}
