// The message dialog: the dialog template builder, its layout, the dialog
// procedure, and the stop and halt boxes built with it.
#include "ui/message.h"

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <cstring>
#include <vector>

#include "files/errors.h"
#include "ui/resource_lookup.h"

namespace pr::ui {
namespace {

std::atomic<MessageFunction> g_message{nullptr};
std::atomic<StopFunction> g_stop{nullptr};
std::atomic<HaltFunction> g_halt{nullptr};
std::atomic<HWND> g_fallbackOwner{nullptr};
std::atomic<bool> g_halting{false};

struct StandardButton {
  int value;
  int id;
  const char* caption;
};
constexpr StandardButton kStandard[] = {
    {kButtonOk, IDOK, "OK"},           {kButtonYes, IDYES, "&Yes"},       {kButtonNo, IDNO, "&No"},
    {kButtonAbort, IDABORT, "&Abort"}, {kButtonRetry, IDRETRY, "&Retry"}, {kButtonIgnore, IDIGNORE, "&Ignore"},
    {kButtonCancel, IDCANCEL, "Cancel"}, {kButtonHelp, IDHELP, "&Help"},
};
constexpr size_t kMaxButtons = 8;
constexpr int kFirstCustomId = 0x100;
constexpr int kTextId = 0xFFFF;
// The longest text a box shows: a template string holds at most 65,535
// UTF-16 units, and each Windows-1250 character is one.
constexpr size_t kMaxBoxText = 60000;

// Layout metrics in dialog units.
constexpr int kMarginX = 5;
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 14;
constexpr int kGapX = 5;
constexpr int kGapY = 5;
constexpr int kMinTextWidth = 200;
constexpr int kMinBlockHeight = 45;

struct Button {
  int id;
  int result;
  std::string caption;
};

std::string StandardCaption(const StandardButton& b) {
  if (const char* o = pr::files::FindMessageOverride(0x7F00u + static_cast<uint32_t>(b.id))) return o;
  return b.caption;
}

// Average character size of the dialog font in pixels (cells here).
struct Metrics {
  int cx = 1;
  int cy = 1;
  int PixelsX(int du) const { return (du * cx + 3) / 4; }
  int PixelsY(int du) const { return (du * cy + 7) / 8; }
  int UnitsX(int px) const { return (px * 4 + cx - 1) / cx; }
  int UnitsY(int px) const { return (px * 8 + cy - 1) / cy; }
};

// The buttons of the box, with the command ID of the default one and the
// index of the button that gets the default push-button style (-1 when no
// button is the default: the first one's ID is then the dialog's default ID,
// but it is not drawn as the default button).
std::vector<Button> ChooseButtons(std::string_view buttons, int defaultButton, int* defaultId, int* styled) {
  std::vector<Button> out;
  *styled = -1;
  bool standard = buttons.empty() ||
                  (buttons[0] >= '0' && buttons[0] <= '9' && buttons.find('|') == std::string_view::npos);
  *defaultId = 0;
  if (standard) {
    unsigned sum = 0;
    for (char c : buttons) {
      if (c < '0' || c > '9') break;
      sum = sum * 10 + static_cast<unsigned>(c - '0');
      if (sum > 0xFFFF) break;
    }
    sum &= 0xFF;
    if (sum == 0) sum = kButtonOk;
    for (const auto& b : kStandard)
      if (sum & static_cast<unsigned>(b.value)) out.push_back(Button{b.id, b.value, StandardCaption(b)});
    unsigned def = static_cast<unsigned>(defaultButton);
    unsigned chosen = 0;
    if (def & sum)
      chosen = def & (~def + 1);
    else if (sum & kButtonOk)
      chosen = kButtonOk;
    for (size_t i = 0; i < out.size(); ++i)
      if (static_cast<unsigned>(out[i].result) == chosen) {
        *defaultId = out[i].id;
        *styled = static_cast<int>(i);
      }
  } else {
    int nextId = kFirstCustomId;
    size_t start = 0;
    while (start <= buttons.size() && out.size() < kMaxButtons) {
      size_t bar = buttons.find('|', start);
      if (bar == std::string_view::npos) bar = buttons.size();
      std::string_view item = buttons.substr(start, bar - start);
      start = bar + 1;
      if (item.empty()) continue;
      Button b{0, static_cast<int>(out.size()) + 1, std::string(item)};
      for (const auto& s : kStandard)
        if (item == s.caption) {
          b.id = s.id;
          b.caption = StandardCaption(s);
        }
      if (!b.id) b.id = nextId++;
      out.push_back(b);
    }
    // Separators alone ("|", "||") name no button: the box still needs one
    // to be closed, so it gets OK, as an empty buttons text does.
    if (out.empty()) out.push_back(Button{IDOK, 1, StandardCaption(kStandard[0])});
    int count = static_cast<int>(out.size());
    int pos = defaultButton >= 1 && defaultButton <= count ? defaultButton : 1;
    *defaultId = out[pos - 1].id;
    *styled = pos - 1;
  }
  if (*defaultId == 0 && !out.empty()) *defaultId = out.front().id;
  return out;
}

}  // namespace

std::vector<MessageButtonInfo> MessageButtons(std::string_view buttons, int defaultButton, int* defaultId) {
  int id = 0, styled = -1;
  std::vector<Button> chosen = ChooseButtons(buttons, defaultButton, &id, &styled);
  std::vector<MessageButtonInfo> out;
  for (size_t i = 0; i < chosen.size(); ++i)
    out.push_back(MessageButtonInfo{chosen[i].id, chosen[i].result, chosen[i].caption,
                                    static_cast<int>(i) == styled});
  if (defaultId) *defaultId = id;
  return out;
}

namespace {

// ---------------------------------------------------------------- icons
struct ResolvedIcon {
  HICON icon = nullptr;
  bool owned = false;  // loaded from a resource or file: destroyed afterwards
};

ResolvedIcon ResolveIcon(std::string_view icon, int style) {
  ResolvedIcon r;
  if (icon.empty()) {
    static const UINT kFromFlag[] = {0, IDI_HAND, IDI_QUESTION, IDI_EXCLAMATION, IDI_ASTERISK};
    int flag = (style >> 4) & 0xF;
    if (flag >= 1 && flag <= 4) r.icon = LoadIconA(nullptr, MAKEINTRESOURCEA(kFromFlag[flag]));
    return r;
  }
  auto u8 = [&](size_t i) { return static_cast<unsigned char>(icon[i]); };
  if (u8(0) == 0xFF) {
    if (icon.size() < 4) return r;
    unsigned n = u8(2) | (u8(3) << 8);
    if (n == 0) return r;
    if (u8(1) == 0x01) {
      r.icon = LoadIconA(nullptr, MAKEINTRESOURCEA(n - 1));
    } else if (u8(1) == 0x02) {
      r.icon = LoadIconA(ModuleFromAddress(reinterpret_cast<const void*>(&Message)), MAKEINTRESOURCEA(n - 1));
      r.owned = r.icon != nullptr;
    }
    return r;
  }
  if (icon[0] == '~') {
    std::string name(icon.substr(1));
    for (char& c : name) c = c == '.' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name.empty()) return r;
    HMODULE module = CurrentResourceModule();
    if (module) r.icon = LoadIconA(module, name.c_str());
    if (!r.icon) {
      HMODULE modules[64];
      size_t count = EnumResourceModules(modules, 64);
      for (size_t i = 0; i < count && i < 64 && !r.icon; ++i) r.icon = LoadIconA(modules[i], name.c_str());
    }
    r.owned = r.icon != nullptr;
    return r;
  }
  std::string file(icon);
  int index = 0;
  if (!file.empty() && file.back() == ']') {
    size_t open = file.rfind('[');
    if (open != std::string::npos) {
      std::string digits = file.substr(open + 1, file.size() - open - 2);
      bool ok = !digits.empty() && digits.size() <= 5 &&
                digits.find_first_not_of("0123456789") == std::string::npos;
      if (ok) {
        index = std::stoi(digits);
        file = file.substr(0, open);
      }
    }
  }
  r.icon = LoadIconFromFileA(file.c_str(), index);
  r.owned = r.icon != nullptr;
  return r;
}

// ---------------------------------------------------------------- the template
class TemplateBuilder {
 public:
  void Header(DWORD style, int cdit, int x, int y, int cx, int cy, const std::string& caption, WORD points,
              const std::string& face) {
    DLGTEMPLATE t{style, 0, static_cast<WORD>(cdit), static_cast<SHORT>(x), static_cast<SHORT>(y),
                  static_cast<SHORT>(cx), static_cast<SHORT>(cy)};
    Raw(&t, sizeof t);
    Word(0);  // no menu
    Word(0);  // the dialog class
    Text(caption);
    if (style & DS_SETFONT) {
      Word(points);
      Text(face);
    }
  }
  void Item(DWORD style, int x, int y, int cx, int cy, int id, WORD classOrdinal, const std::string& title) {
    while (bytes_.size() % 4) bytes_.push_back(0);
    DLGITEMTEMPLATE t{style, 0, static_cast<SHORT>(x), static_cast<SHORT>(y), static_cast<SHORT>(cx),
                      static_cast<SHORT>(cy), static_cast<WORD>(id)};
    Raw(&t, sizeof t);
    Word(0xFFFF);
    Word(classOrdinal);
    Text(title);
    Word(0);  // no creation data
  }
  const DLGTEMPLATE* Get() {
    // Keep the template aligned as a DWORD array would be.
    aligned_.assign((bytes_.size() + 3) / 4, 0);
    std::memcpy(aligned_.data(), bytes_.data(), bytes_.size());
    return reinterpret_cast<const DLGTEMPLATE*>(aligned_.data());
  }

 private:
  void Raw(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    bytes_.insert(bytes_.end(), b, b + n);
  }
  void Word(WORD w) { Raw(&w, 2); }
  void Text(const std::string& ansi) {
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::u16string wide(static_cast<size_t>(n), u'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
    for (char16_t c : wide) Word(static_cast<WORD>(c));
    Word(0);
  }
  std::vector<uint8_t> bytes_;
  std::vector<uint32_t> aligned_;
};

struct DialogContext {
  std::vector<Button> buttons;
  int defaultId = 0;
  int styledDefault = -1;
  HICON icon = nullptr;
  HWND owner = nullptr;
};

// Centres the dialog over its owner (the screen without one), inside the work area.
void PlaceOverOwner(HWND dialog, HWND owner) {
  RECT work, dr, orc;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(dialog, &dr);
  if (!owner || !GetWindowRect(owner, &orc)) orc = work;
  int w = dr.right - dr.left, h = dr.bottom - dr.top;
  int x = orc.left + (orc.right - orc.left - w) / 2;
  int y = orc.top + (orc.bottom - orc.top - h) / 2;
  x = std::max<int>(work.left, std::min<int>(x, work.right - w));
  y = std::max<int>(work.top, std::min<int>(y, work.bottom - h));
  SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR MessageDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* ctx = reinterpret_cast<DialogContext*>(lParam);
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      // Only Move stays in the system menu.
      if (HMENU sys = GetSystemMenu(dialog, FALSE)) {
        for (UINT cmd : {SC_MAXIMIZE, SC_MINIMIZE, SC_RESTORE, SC_CLOSE, SC_SIZE, SC_TASKLIST})
          DeleteMenu(sys, cmd, MF_BYCOMMAND);
      }
      LRESULT font = SendMessageA(dialog, WM_GETFONT, 0, 0);
      for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        SendMessageA(c, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
      if (ctx->icon) SendDlgItemMessageA(dialog, kMessageIconId, STM_SETICON, reinterpret_cast<WPARAM>(ctx->icon), 0);
      PlaceOverOwner(dialog, ctx->owner);
      SendMessageA(dialog, DM_SETDEFID, static_cast<WPARAM>(ctx->defaultId), 0);
      if (HWND def = GetDlgItem(dialog, ctx->defaultId)) SetFocus(def);
      return FALSE;
    }
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      // Only a control of this dialog ends it.
      if (id != kTextId && id != kMessageIconId && GetDlgItem(dialog, id)) EndDialog(dialog, id);
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
      SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNTEXT));
      SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    default: return FALSE;
  }
}

void ResetFloatingPoint() {
  std::feclearexcept(FE_ALL_EXCEPT);
#if defined(__x86_64__) || defined(__i386__)
  unsigned short control = 0x037F;  // extended precision, round to nearest, exceptions masked
  __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(control));
#endif
}

// The text as the box shows it: every "|" a line break, cut to what a
// dialog template string holds.  A longer text is cut at a line break where
// one is near, and "[...]" on a line of its own shows that it goes on.
std::string BoxText(std::string_view raw) {
  std::string text;
  text.reserve(std::min(raw.size(), kMaxBoxText) + 16);
  bool cut = false;
  for (char c : raw) {
    if (text.size() + 2 > kMaxBoxText) {
      cut = true;
      break;
    }
    if (c == '|') text += "\r\n";
    else text.push_back(c);
  }
  if (cut) {
    const size_t lineEnd = text.rfind("\r\n");
    if (lineEnd != std::string::npos && text.size() - lineEnd < 1000) text.resize(lineEnd);
    text += "\r\n[...]";
  }
  return text;
}

// Builds the box, runs it and maps the command ID to the result.
int ShowBox(std::string_view rawText, std::string_view caption, std::string_view icon, std::string_view buttons,
            int defaultButton, int style) {
  std::string text = BoxText(rawText);
  bool sysModal = (style & kMessageSystemModal) != 0;
  bool selectable = (style & kMessageSelectable) != 0;
  DialogContext ctx;
  ctx.buttons = ChooseButtons(buttons, defaultButton, &ctx.defaultId, &ctx.styledDefault);
  ResolvedIcon ri = ResolveIcon(icon, style);
  ctx.icon = ri.icon;

  // Metrics: the message font measures 1 x 1 cell per average character.
  Metrics m;
  LONG base = GetDialogBaseUnits();
  if (LOWORD(static_cast<uintptr_t>(base)) > 0 && HIWORD(static_cast<uintptr_t>(base)) > 0) {
    m.cx = LOWORD(static_cast<uintptr_t>(base));
    m.cy = HIWORD(static_cast<uintptr_t>(base));
  }
  RECT work{0, 0, 80, 25};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  int W = work.right - work.left, H = work.bottom - work.top;
  int marginX = m.PixelsX(kMarginX);
  int limit = std::max(W / 2, m.PixelsX(kMinTextWidth));
  if (limit > 2 * W / 3) limit = 2 * W / 3;
  RECT tr{0, 0, limit, 0};
  DrawTextA(nullptr, text.c_str(), static_cast<int>(text.size()), &tr,
            DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
  int textW = tr.right - tr.left + 10;
  int textH = tr.bottom - tr.top;
  bool scrolls = false;
  if (selectable && textH > H / 2) {
    textH = H / 2;
    textW += GetSystemMetrics(SM_CXVSCROLL);
    scrolls = true;
  }
  // A text too tall for the work area with its buttons below is shown in the
  // read-only text box too, half the work area high, where it scrolls: a box
  // taller than the screen could neither be read nor closed, and its height
  // in dialog units would not fit the template's 16 bits.
  if (!selectable && textH + 2 * m.PixelsX(kMarginX) + m.PixelsY(kGapY) + m.PixelsY(kButtonHeight) > H) {
    textH = std::max(H / 2, 1);
    textW += GetSystemMetrics(SM_CXVSCROLL);
    selectable = true;
    scrolls = true;
  }
  int blockW = textW + 2 * marginX;
  int blockH = std::max(textH + 2 * marginX, m.PixelsY(kMinBlockHeight));
  int textX = marginX;
  int iconW = 0, iconH = 0;
  if (ctx.icon) {
    iconW = GetSystemMetrics(SM_CXICON);
    iconH = GetSystemMetrics(SM_CYICON);
    textX += iconW + marginX;
    blockW += iconW + marginX;
    blockH = std::max(blockH, iconH);
  }
  int dialogW = blockW;
  int n = static_cast<int>(ctx.buttons.size());
  int buttonW = m.PixelsX(kButtonWidth), buttonH = m.PixelsY(kButtonHeight), gapX = m.PixelsX(kGapX);
  int rowW = n * buttonW + (n - 1) * gapX;
  if (rowW > dialogW - marginX) dialogW = marginX + rowW + 2 * gapX;
  int rowX = (dialogW - rowW) / 2;
  int rowY = blockH;
  int dialogH = blockH + m.PixelsY(kGapY) + buttonH;

  TemplateBuilder b;
  DWORD dstyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_NOIDLEMSG;
  if (sysModal) dstyle |= DS_SYSMODAL;
  NONCLIENTMETRICSA ncm{};
  ncm.cbSize = sizeof ncm;
  std::string face = "System";
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0)) face = ncm.lfMessageFont.lfFaceName;
  int items = n + 1 + (ctx.icon ? 1 : 0);
  b.Header(dstyle, items, 0, 0, m.UnitsX(dialogW), m.UnitsY(dialogH), std::string(caption.substr(0, 1000)), 8, face);
  if (ctx.icon)
    b.Item(WS_CHILD | WS_VISIBLE | SS_ICON, m.UnitsX(marginX), m.UnitsY(marginX), m.UnitsX(iconW), m.UnitsY(iconH),
           kMessageIconId, 0x82, "");
  if (selectable) {
    b.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_READONLY | (scrolls ? WS_VSCROLL : 0),
           m.UnitsX(textX), m.UnitsY(marginX), m.UnitsX(textW), m.UnitsY(textH), kTextId, 0x81, text);
  } else {
    b.Item(WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, m.UnitsX(textX), m.UnitsY(marginX), m.UnitsX(textW),
           m.UnitsY(textH), kTextId, 0x82, text);
  }
  for (int i = 0; i < n; ++i) {
    const Button& bt = ctx.buttons[i];
    DWORD bs = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (i == ctx.styledDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    b.Item(bs, m.UnitsX(rowX + i * (buttonW + gapX)), m.UnitsY(rowY), m.UnitsX(buttonW), m.UnitsY(buttonH), bt.id,
           0x80, bt.caption);
  }

  ctx.owner = MessageOwner();
  HWND focus = GetFocus();
  INT_PTR id = DialogBoxIndirectParamA(ModuleFromAddress(reinterpret_cast<const void*>(&Message)), b.Get(),
                                       ctx.owner == GetDesktopWindow() ? nullptr : ctx.owner, MessageDialogProc,
                                       reinterpret_cast<LPARAM>(&ctx));
  ResetFloatingPoint();
  if (focus && IsWindow(focus)) SetFocus(focus);
  if (ri.owned) DestroyIcon(ri.icon);
  if (id <= 0) return 0;
  for (const Button& bt : ctx.buttons)
    if (bt.id == id) return bt.result;
  return 0;
}

[[noreturn]] void EndProgram(int code) {
  g_halting = true;
  ShutdownWindowSystem();
  ExitProcess(static_cast<UINT>(code));
}

}  // namespace

int Message(std::string_view text, std::string_view caption, std::string_view icon, std::string_view buttons,
            int defaultButton, int style) {
  if (MessageFunction f = g_message.load()) return f(text, caption, icon, buttons, defaultButton, style);
  return ShowBox(text, caption, icon, buttons, defaultButton, style);
}

void Stop(std::string_view text, bool exitQuestion) {
  if (StopFunction f = g_stop.load()) {
    f(text, exitQuestion);
    return;
  }
  std::string shown(text);
  if (exitQuestion) shown += "Exit?";
  int r = ShowBox(shown, "Stop", {}, "40", kButtonAbort, MB_ICONHAND);
  if (r == kButtonAbort) EndProgram(0);
}

void Halt(int code, std::optional<std::string_view> text) {
  if (HaltFunction f = g_halt.load()) {
    f(code, text);
  } else if (text) {
    ShowBox(*text, "Halt", {}, "1", kButtonOk, MB_ICONHAND);
  }
  EndProgram(code);
}

bool IsHalting() { return g_halting.load(); }

MessageFunction SetMessageFunction(MessageFunction function) { return g_message.exchange(function); }
StopFunction SetStopFunction(StopFunction function) { return g_stop.exchange(function); }
HaltFunction SetHaltFunction(HaltFunction function) { return g_halt.exchange(function); }

void SetMessageFallbackOwner(HWND window) { g_fallbackOwner = window; }

HWND MessageOwner() {
  if (HWND active = GetActiveWindow()) return active;
  HWND fallback = g_fallbackOwner.load();
  if (fallback && IsWindow(fallback)) return fallback;
  if (HWND fg = GetForegroundWindow()) return fg;
  return GetDesktopWindow();
}

}  // namespace pr::ui
