// The dialog manager: dialogs from in-memory templates, the modal loop,
// keyboard navigation between controls, and the dialog transcript.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win_internal.h"

namespace prw {
namespace {

constexpr size_t kMaxItems = 1024;
// The dialog record that the next WM_NCCREATE of the dialog class takes over.
thread_local DialogState* t_pendingDialog = nullptr;
constexpr size_t kMaxString = 65535;

struct ItemSpec {
  DLGITEMTEMPLATE head;
  std::string cls;
  std::string title;
  bool titleOrdinal = false;
  WORD ordinal = 0;
};

struct DialogSpec {
  DLGTEMPLATE head;
  std::string cls;
  std::string title;
  std::string face;
  WORD points = 0;
  std::vector<ItemSpec> items;
};

class TemplateReader {
 public:
  explicit TemplateReader(const BYTE* base) : base_(base) {}
  const BYTE* at() const { return base_ + pos_; }
  WORD Word() {
    WORD w;
    std::memcpy(&w, base_ + pos_, 2);
    pos_ += 2;
    return w;
  }
  void Skip(size_t n) { pos_ += n; }
  void AlignDword() { pos_ = (pos_ + 3) & ~size_t{3}; }
  // A sz_Or_Ord field: 0 (none), 0xFFFF + ordinal, or a UTF-16 string.
  bool Field(std::string* text, bool* isOrdinal, WORD* ordinal) {
    WORD first = Word();
    if (isOrdinal) *isOrdinal = false;
    if (first == 0) return true;
    if (first == 0xFFFF) {
      WORD o = Word();
      if (isOrdinal) *isOrdinal = true;
      if (ordinal) *ordinal = o;
      return true;
    }
    std::u16string wide(1, static_cast<char16_t>(first));
    for (;;) {
      WORD w = Word();
      if (w == 0) break;
      wide.push_back(static_cast<char16_t>(w));
      if (wide.size() > kMaxString) return false;
    }
    if (text) {
      int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
      text->assign(static_cast<size_t>(n), '\0');
      WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), text->data(), n, nullptr, nullptr);
    }
    return true;
  }

 private:
  const BYTE* base_;
  size_t pos_ = 0;
};

bool Parse(const DLGTEMPLATE* t, DialogSpec* described) {
  const BYTE* base = reinterpret_cast<const BYTE*>(t);
  TemplateReader r(base);
  std::memcpy(&described->head, base, sizeof(DLGTEMPLATE));
  // The extended template form starts with version 1 and signature 0xFFFF.
  if (described->head.style == 0xFFFF0001u) return false;
  if (described->head.cdit > kMaxItems) return false;
  r.Skip(sizeof(DLGTEMPLATE));
  bool ordinal = false;
  WORD number = 0;
  if (!r.Field(nullptr, &ordinal, &number)) return false;  // menu: dialogs here have none
  if (!r.Field(&described->cls, &ordinal, &number)) return false;
  if (ordinal) described->cls.clear();
  if (!r.Field(&described->title, nullptr, nullptr)) return false;
  if (described->head.style & DS_SETFONT) {
    described->points = r.Word();
    if (!r.Field(&described->face, nullptr, nullptr)) return false;
  }
  for (WORD i = 0; i < described->head.cdit; ++i) {
    r.AlignDword();
    ItemSpec item;
    std::memcpy(&item.head, r.at(), sizeof(DLGITEMTEMPLATE));
    r.Skip(sizeof(DLGITEMTEMPLATE));
    bool classOrdinal = false;
    WORD classNumber = 0;
    if (!r.Field(&item.cls, &classOrdinal, &classNumber)) return false;
    if (classOrdinal) {
      switch (classNumber) {
        case 0x80: item.cls = "Button"; break;
        case 0x81: item.cls = "Edit"; break;
        case 0x82: item.cls = "Static"; break;
        default: return false;  // list box, scroll bar and combo box are not offered
      }
    }
    if (!r.Field(&item.title, &item.titleOrdinal, &item.ordinal)) return false;
    WORD extra = r.Word();
    r.Skip(extra);
    described->items.push_back(std::move(item));
  }
  return true;
}

DialogState* DialogOf(HWND h) {
  auto w = Find(h);
  return w ? w->dialog.get() : nullptr;
}

std::vector<HWND> CreationOrder(HWND dialog) {
  std::vector<HWND> out;
  if (auto w = Find(dialog)) {
    Lock lock(S().mu);
    out.assign(w->children.rbegin(), w->children.rend());
  }
  return out;
}

bool IsPushButton(HWND h) {
  char cls[16];
  if (!GetClassNameA(h, cls, sizeof cls) || strcasecmp(cls, "Button") != 0) return false;
  DWORD type = static_cast<DWORD>(GetWindowLongPtrA(h, GWL_STYLE)) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

HWND FindButton(HWND dialog, int id) {
  HWND h = GetDlgItem(dialog, id);
  return h && IsPushButton(h) ? h : nullptr;
}

// The focused push button looks like the default button; otherwise the
// dialog's default button does.
void UpdateDefaultLook(HWND dialog) {
  DialogState* d = DialogOf(dialog);
  if (!d) return;
  HWND focus = GetFocus();
  bool focusIsButton = focus && IsChild(dialog, focus) && IsPushButton(focus);
  for (HWND c : CreationOrder(dialog)) {
    if (!IsPushButton(c)) continue;
    bool want = focusIsButton ? c == focus : GetDlgCtrlID(c) == d->defId;
    DWORD type = static_cast<DWORD>(GetWindowLongPtrA(c, GWL_STYLE)) & BS_TYPEMASK;
    if (want != (type == BS_DEFPUSHBUTTON)) SendMessageA(c, BM_SETSTYLE, want ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
  }
}

void FocusControl(HWND dialog, HWND control) {
  if (!control) return;
  SetFocus(control);
  if (SendMessageA(control, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageA(control, EM_SETSEL, 0, -1);
  UpdateDefaultLook(dialog);
}

std::string Summary(HWND dialog) {
  std::string line = "dialog " + Quote(WindowText(dialog));
  std::vector<std::string> buttons;
  std::string def;
  DialogState* d = DialogOf(dialog);
  for (HWND c : CreationOrder(dialog)) {
    char cls[16];
    GetClassNameA(c, cls, sizeof cls);
    DWORD style = static_cast<DWORD>(GetWindowLongPtrA(c, GWL_STYLE));
    if (!(style & WS_VISIBLE)) continue;
    if (strcasecmp(cls, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
      HICON icon = reinterpret_cast<HICON>(SendMessageA(c, STM_GETICON, 0, 0));
      if (icon) line += std::string(" icon ") + IconMark(icon);
    } else if (strcasecmp(cls, "Static") == 0 || strcasecmp(cls, "Edit") == 0) {
      line += " text " + Quote(WindowText(c));
    } else if (IsPushButton(c)) {
      buttons.push_back(Quote(WindowText(c)));
      if (d && GetDlgCtrlID(c) == d->defId) def = buttons.back();
    }
  }
  if (!buttons.empty()) {
    line += " buttons";
    for (auto& b : buttons) line += " " + b;
  }
  if (!def.empty()) line += " default " + def;
  return line;
}

HWND FirstTabStop(HWND dialog) { return GetNextDlgTabItem(dialog, nullptr, FALSE); }

HWND CreateFromTemplate(HINSTANCE instance, const DLGTEMPLATE* dialogTemplate, HWND owner, DLGPROC proc,
                        LPARAM initParam, bool modal) {
  if (!dialogTemplate || !EnsureStarted()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  DialogSpec described;
  if (!Parse(dialogTemplate, &described)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (owner == GetDesktopWindow()) owner = nullptr;
  if (owner && !IsWindow(owner)) owner = nullptr;
  DWORD style = described.head.style & ~(WS_CHILD | WS_VISIBLE);
  if (described.head.style & DS_MODALFRAME) style |= WS_DLGFRAME;
  RECT client{0, 0, described.head.cx, described.head.cy};
  MapDialogRect(nullptr, &client);
  RECT frame = client;
  AdjustWindowRectEx(&frame, style, FALSE, described.head.dwExtendedStyle);
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  RECT pos{described.head.x, described.head.y, 0, 0};
  MapDialogRect(nullptr, &pos);
  int x, y;
  RECT work;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  if ((described.head.style & DS_CENTER) || !owner) {
    x = work.left + (work.right - work.left - width) / 2;
    y = work.top + (work.bottom - work.top - height) / 2;
  } else {
    POINT origin{0, 0};
    if (!(described.head.style & DS_ABSALIGN)) ClientToScreen(owner, &origin);
    x = origin.x + pos.left;
    y = origin.y + pos.top;
  }
  x = std::clamp<int>(x, work.left, std::max<int>(work.left, work.right - width));
  y = std::clamp<int>(y, work.top, std::max<int>(work.top, work.bottom - height));
  auto state = std::make_unique<DialogState>();
  state->proc = proc;
  state->modal = modal;
  int defaultId = IDOK;
  for (auto& item : described.items)
    if (strcasecmp(item.cls.c_str(), "Button") == 0 && (item.head.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
      defaultId = item.head.id;
      break;
    }
  state->defId = defaultId;
  if (described.head.style & DS_SETFONT) {
    LOGFONTA lf{};
    lf.lfHeight = described.points;
    lf.lfWeight = 400;
    std::strncpy(lf.lfFaceName, described.face.c_str(), sizeof lf.lfFaceName - 1);
    state->font = CreateFontIndirectA(&lf);
  }
  HFONT font = state->font;
  const char* cls = described.cls.empty() ? WC_DIALOG : described.cls.c_str();
  t_pendingDialog = state.get();
  HWND dialog = CreateWindowExA(described.head.dwExtendedStyle | ((described.head.style & DS_SYSMODAL) ? WS_EX_TOPMOST : 0), cls,
                                described.title.c_str(), style, x, y, width, height, owner, nullptr, instance, nullptr);
  if (t_pendingDialog == nullptr) (void)state.release();  // the window owns it now
  t_pendingDialog = nullptr;
  if (!dialog) return nullptr;
  {
    auto w = Find(dialog);
    Lock lock(S().mu);
    if (!w->dialog) w->dialog = std::move(state);  // a custom class without the dialog procedure
  }
  if (font) SendMessageA(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  for (auto& item : described.items) {
    RECT r{item.head.x, item.head.y, item.head.x + item.head.cx, item.head.y + item.head.cy};
    MapDialogRect(dialog, &r);
    HWND c = CreateWindowExA(item.head.dwExtendedStyle, item.cls.c_str(), item.titleOrdinal ? "" : item.title.c_str(),
                             (item.head.style | WS_CHILD) & ~WS_POPUP, r.left, r.top, r.right - r.left,
                             r.bottom - r.top, dialog, reinterpret_cast<HMENU>(static_cast<uintptr_t>(item.head.id)),
                             instance, nullptr);
    if (!c) {
      DestroyWindow(dialog);
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    if (font) SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (item.titleOrdinal && strcasecmp(item.cls.c_str(), "Static") == 0) {
      HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(item.ordinal));
      if (!icon) icon = LoadIconA(nullptr, MAKEINTRESOURCEA(item.ordinal));
      if (icon) SendMessageA(c, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    }
  }
  HWND first = FirstTabStop(dialog);
  if (SendMessageA(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), initParam) && IsWindow(dialog)) {
    first = FirstTabStop(dialog);
    if (first) FocusControl(dialog, first);
  }
  if (!IsWindow(dialog)) return nullptr;
  if (described.head.style & WS_VISIBLE) {
    ShowWindow(dialog, SW_SHOW);
    HWND f = GetFocus();
    if (!f || !IsChild(dialog, f)) FocusControl(dialog, FirstTabStop(dialog));
  }
  UpdateDefaultLook(dialog);
  return dialog;
}

bool HasCancel(HWND dialog) {
  HWND c = GetDlgItem(dialog, IDCANCEL);
  return c && IsWindowEnabled(c);
}

bool PressMnemonic(HWND dialog, unsigned char ch) {
  unsigned char up = ch < 0x80 ? static_cast<unsigned char>(std::toupper(ch)) : ch;
  for (HWND c : CreationOrder(dialog)) {
    if (!IsWindowVisible(c) || !IsWindowEnabled(c)) continue;
    if (!(SendMessageA(c, WM_GETDLGCODE, 0, 0) & DLGC_BUTTON)) continue;
    char m = MnemonicOf(WindowText(c));
    if (m && static_cast<unsigned char>(m) == up) {
      FocusControl(dialog, c);
      SendMessageA(c, BM_CLICK, 0, 0);
      return true;
    }
  }
  return false;
}

}  // namespace

LRESULT DialogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto w = Find(window);
    if (w && t_pendingDialog) {
      Lock lock(S().mu);
      w->dialog.reset(t_pendingDialog);
      t_pendingDialog = nullptr;
    } else if (w && !w->dialog) {
      Lock lock(S().mu);
      w->dialog = std::make_unique<DialogState>();  // a dialog-class window made with CreateWindowExA
    }
    return TRUE;
  }
  DialogState* d = DialogOf(window);
  if (message == WM_COMMAND && d) {
    HWND b = FindButton(window, LOWORD(wParam));
    if (b && HIWORD(wParam) == BN_CLICKED) Record("pressed " + Quote(WindowText(b)));
  }
  DLGPROC proc = d ? d->proc : nullptr;
  if (proc) {
    INT_PTR r = proc(window, message, wParam, lParam);
    if (r) {
      switch (message) {
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_INITDIALOG:
          return r;
        default: {
          DialogState* after = DialogOf(window);
          return after ? after->msgResult : r;
        }
      }
    }
  }
  return DefDlgProcA(window, message, wParam, lParam);
}

void RegisterDialogClass() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DialogWindowProc;
  wc.cbWndExtra = DLGWINDOWEXTRA;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_BTNFACE + 1));
  wc.lpszClassName = WC_DIALOG;
  RegisterClassA(&wc);
}

}  // namespace prw

using namespace prw;

LRESULT DefDlgProcA(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  DialogState* d = DialogOf(dialog);
  switch (message) {
    case WM_CLOSE:
      if (HasCancel(dialog))
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
      return 0;
    case DM_GETDEFID: return d ? MAKELONG(static_cast<WORD>(d->defId), DC_HASDEFID) : 0;
    case DM_SETDEFID:
      if (d) {
        d->defId = static_cast<int>(wParam);
        UpdateDefaultLook(dialog);
      }
      return TRUE;
    case WM_ACTIVATE:
      if (!d) break;
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND f = GetFocus();
        if (f && IsChild(dialog, f)) d->savedFocus = f;
      } else {
        HWND target = d->savedFocus && IsWindow(d->savedFocus) && IsChild(dialog, d->savedFocus)
                          ? d->savedFocus
                          : FirstTabStop(dialog);
        HWND f = GetFocus();
        if (target && (!f || !IsChild(dialog, f))) FocusControl(dialog, target);
        else if (!target && !f) SetFocus(dialog);
      }
      return 0;
    case WM_SETFOCUS: {
      HWND target = FirstTabStop(dialog);
      if (target) FocusControl(dialog, target);
      return 0;
    }
    case WM_NEXTDLGCTL: {
      HWND target = lParam ? reinterpret_cast<HWND>(wParam) : GetNextDlgTabItem(dialog, GetFocus(), wParam != 0);
      if (target && IsChild(dialog, target)) FocusControl(dialog, target);
      return 0;
    }
    default: break;
  }
  return DefWindowProcA(dialog, message, wParam, lParam);
}

INT_PTR DialogBoxIndirectParamA(HINSTANCE instance, const DLGTEMPLATE* dialogTemplate, HWND owner,
                                DLGPROC dialogProc, LPARAM initParam) {
  if (owner == GetDesktopWindow()) owner = nullptr;
  if (owner && !IsWindow(owner)) owner = nullptr;
  // The owner is the root of the window given: a dialog is never a child.
  if (owner) owner = RootOf(owner);
  bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  HWND dialog = CreateFromTemplate(instance, dialogTemplate, owner, dialogProc, initParam, true);
  if (!dialog) {
    if (ownerWasEnabled) EnableWindow(owner, TRUE);
    return -1;
  }
  if (!IsWindowVisible(dialog)) ShowWindow(dialog, SW_SHOW);
  if (GetActiveWindow() != dialog) SetActiveWindow(dialog);
  Record(Summary(dialog));
  ThreadState& t = Current();
  ModalFrame frame;
  frame.dialog = dialog;
  {
    Lock lock(S().mu);
    t.modal.push_back(&frame);
  }
  std::string caption = WindowText(dialog);
  for (;;) {
    DialogState* d = DialogOf(dialog);
    if (!d || d->ended) break;
    MSG m;
    BOOL r = GetMessageA(&m, nullptr, 0, 0);
    if (r == 0) {
      PostQuitMessage(static_cast<int>(m.wParam));
      break;
    }
    if (r == -1) break;
    if (!IsWindow(dialog) || !IsDialogMessageA(dialog, &m)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
  }
  {
    Lock lock(S().mu);
    auto& stack = t.modal;
    stack.erase(std::remove(stack.begin(), stack.end(), &frame), stack.end());
  }
  DialogState* d = DialogOf(dialog);
  INT_PTR result = d && d->ended ? d->result : 0;
  if (ownerWasEnabled && IsWindow(owner)) EnableWindow(owner, TRUE);
  if (IsWindow(dialog)) DestroyWindow(dialog);
  if (owner && IsWindow(owner)) SetActiveWindow(owner);
  Record("closed " + Quote(caption) + " result " + std::to_string(result));
  return result;
}

HWND CreateDialogIndirectParamA(HINSTANCE instance, const DLGTEMPLATE* dialogTemplate, HWND owner,
                                DLGPROC dialogProc, LPARAM initParam) {
  return CreateFromTemplate(instance, dialogTemplate, owner, dialogProc, initParam, false);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  DialogState* d = DialogOf(dialog);
  if (!d) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  d->ended = true;
  d->result = result;
  if (!d->modal) return DestroyWindow(dialog);
  ShowWindow(dialog, SW_HIDE);
  PostMessageA(dialog, WM_NULL, 0, 0);  // wakes the modal loop
  return TRUE;
}

BOOL IsDialogMessageA(HWND dialog, MSG* msg) {
  if (!msg || !IsWindow(dialog)) return FALSE;
  if (msg->hwnd != dialog && !IsChild(dialog, msg->hwnd)) return FALSE;
  HWND target = msg->hwnd;
  switch (msg->message) {
    case WM_KEYDOWN: {
      LRESULT code = SendMessageA(target, WM_GETDLGCODE, msg->wParam, reinterpret_cast<LPARAM>(msg));
      if (code & DLGC_WANTALLKEYS) break;
      bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
      switch (msg->wParam) {
        case VK_TAB:
          if (code & DLGC_WANTTAB) break;
          FocusControl(dialog, GetNextDlgTabItem(dialog, target == dialog ? nullptr : target, shift));
          return TRUE;
        case VK_RIGHT:
        case VK_DOWN:
        case VK_LEFT:
        case VK_UP:
          if (code & DLGC_WANTARROWS) break;
          if (code & DLGC_BUTTON) {
            bool back = msg->wParam == VK_LEFT || msg->wParam == VK_UP;
            FocusControl(dialog, GetNextDlgTabItem(dialog, target, back));
            return TRUE;
          }
          break;
        case VK_RETURN: {
          HWND b = IsPushButton(target) && IsChild(dialog, target) ? target : nullptr;
          int id = b ? GetDlgCtrlID(b) : LOWORD(SendMessageA(dialog, DM_GETDEFID, 0, 0));
          if (!b) b = FindButton(dialog, id);
          if (b && !IsWindowEnabled(b)) {
            MessageBeep(0);
            return TRUE;
          }
          SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED), reinterpret_cast<LPARAM>(b));
          return TRUE;
        }
        case VK_ESCAPE:
          if (HasCancel(dialog))
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
          return TRUE;
        default: break;
      }
      break;
    }
    case WM_CHAR: {
      LRESULT code = SendMessageA(target, WM_GETDLGCODE, msg->wParam, reinterpret_cast<LPARAM>(msg));
      if (code & DLGC_WANTALLKEYS) break;
      unsigned char ch = static_cast<unsigned char>(msg->wParam);
      if (ch == '\t' || ch == '\r' || ch == 0x1B || ch == '\n') return TRUE;
      if (!(code & DLGC_WANTCHARS) && ch > ' ') {
        if (!PressMnemonic(dialog, ch) && !(code & DLGC_BUTTON)) break;
        return TRUE;
      }
      break;
    }
    case WM_SYSCHAR:
      if (!PressMnemonic(dialog, static_cast<unsigned char>(msg->wParam))) MessageBeep(0);
      return TRUE;
    default: break;
  }
  TranslateMessage(msg);
  DispatchMessageA(msg);
  return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
  auto w = FindOrFail(dialog);
  if (!w) return nullptr;
  std::vector<HWND> kids;
  {
    Lock lock(S().mu);
    kids = w->children;
  }
  for (HWND k : kids) {
    auto c = Find(k);
    if (c && static_cast<int>(c->id) == id) return k;
  }
  return nullptr;
}

int GetDlgCtrlID(HWND window) {
  auto w = FindOrFail(window);
  return w ? static_cast<int>(w->id) : 0;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND c = GetDlgItem(dialog, id);
  return c ? SendMessageA(c, message, wParam, lParam) : 0;
}

BOOL SetDlgItemTextA(HWND dialog, int id, const char* text) {
  HWND c = GetDlgItem(dialog, id);
  return c ? SetWindowTextA(c, text) : FALSE;
}

UINT GetDlgItemTextA(HWND dialog, int id, char* text, int maxCount) {
  HWND c = GetDlgItem(dialog, id);
  if (!c) {
    if (text && maxCount > 0) text[0] = 0;
    return 0;
  }
  return static_cast<UINT>(GetWindowTextA(c, text, maxCount));
}

HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
  std::vector<HWND> order = CreationOrder(dialog);
  std::vector<HWND> stops;
  for (HWND c : order) {
    auto w = Find(c);
    if (w && (w->style & WS_TABSTOP) && (w->style & WS_VISIBLE) && !(w->style & WS_DISABLED)) stops.push_back(c);
  }
  if (stops.empty()) return nullptr;
  auto it = control ? std::find(stops.begin(), stops.end(), control) : stops.end();
  if (it == stops.end()) {
    if (control) {
      // A control that is no tab stop: continue from its place in creation order.
      auto pos = std::find(order.begin(), order.end(), control);
      if (pos != order.end()) {
        if (!previous) {
          for (auto k = pos + 1; k != order.end(); ++k)
            if (std::find(stops.begin(), stops.end(), *k) != stops.end()) return *k;
        } else {
          for (auto k = std::make_reverse_iterator(pos); k != order.rend(); ++k)
            if (std::find(stops.begin(), stops.end(), *k) != stops.end()) return *k;
        }
      }
    }
    return previous ? stops.back() : stops.front();
  }
  size_t i = static_cast<size_t>(it - stops.begin());
  size_t n = stops.size();
  return stops[previous ? (i + n - 1) % n : (i + 1) % n];
}
