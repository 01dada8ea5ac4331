// Painting: device contexts over a top-level window's cells, brushes and
// fonts, DrawTextA, frames and scroll bars, and composing the screen.
#include <algorithm>
#include <cstring>
#include <map>

#include "platform/win_internal.h"

struct PrDeviceContext {
  HWND window;
  bool whole;
  COLORREF text;
  COLORREF back;
  int mode;
  HGDIOBJ font;
  HGDIOBJ brush;
};

struct PrGdiObject {
  bool brush;
  bool stock;
  bool nullBrush;
  COLORREF color;
  LOGFONTA font;
};

namespace prw {
namespace {

std::map<HDC, std::unique_ptr<PrDeviceContext>>& DCs() {
  static auto* dcs = new std::map<HDC, std::unique_ptr<PrDeviceContext>>;
  return *dcs;
}
std::map<HGDIOBJ, std::unique_ptr<PrGdiObject>>& Objects() {
  static auto* objects = new std::map<HGDIOBJ, std::unique_ptr<PrGdiObject>>;
  return *objects;
}

PrDeviceContext* FindDC(HDC dc) {
  auto& m = DCs();
  auto it = m.find(dc);
  return it == m.end() ? nullptr : it->second.get();
}

PrGdiObject* FindObject(HGDIOBJ o) {
  auto& m = Objects();
  auto it = m.find(o);
  return it == m.end() ? nullptr : it->second.get();
}

HGDIOBJ AddObject(PrGdiObject o) {
  auto p = std::make_unique<PrGdiObject>(o);
  HGDIOBJ h = p.get();
  Objects()[h] = std::move(p);
  return h;
}

constexpr COLORREF kSysColors[25] = {
    RGB(192, 192, 192), RGB(0, 0, 128),     RGB(0, 0, 128),     RGB(128, 128, 128), RGB(192, 192, 192),
    RGB(255, 255, 255), RGB(0, 0, 0),       RGB(0, 0, 0),       RGB(0, 0, 0),       RGB(255, 255, 255),
    RGB(192, 192, 192), RGB(192, 192, 192), RGB(128, 128, 128), RGB(0, 0, 128),     RGB(255, 255, 255),
    RGB(192, 192, 192), RGB(128, 128, 128), RGB(128, 128, 128), RGB(0, 0, 0),       RGB(192, 192, 192),
    RGB(255, 255, 255), RGB(0, 0, 0),       RGB(192, 192, 192), RGB(0, 0, 0),       RGB(255, 255, 225)};

// Where a DC draws: the root surface, the origin of its coordinates and the
// clip rectangle, both in root-surface cells.
struct Target {
  Surface* surface = nullptr;
  POINT origin{0, 0};
  RECT clip{0, 0, 0, 0};
};

RECT Intersect(RECT a, RECT b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

bool Resolve(const PrDeviceContext& dc, Target* t) {
  auto w = Find(dc.window);
  if (!w) return false;
  auto root = Find(RootOf(dc.window));
  if (!root) return false;
  RECT rootRect = root->rect;
  RECT wr = ScreenWindowRect(*w);
  RECT area = dc.whole ? wr : ScreenClientRect(*w);
  RECT clip = area;
  // Children are clipped by every ancestor's client area.
  auto a = w;
  while ((a->style & WS_CHILD) && a->parent) {
    a = Find(a->parent);
    if (!a) break;
    clip = Intersect(clip, ScreenClientRect(*a));
  }
  auto shift = [&](RECT r) {
    return RECT{r.left - rootRect.left, r.top - rootRect.top, r.right - rootRect.left, r.bottom - rootRect.top};
  };
  t->surface = &root->surface;
  RECT o = shift(area);
  t->origin = POINT{o.left, o.top};
  t->clip = Intersect(shift(clip), RECT{0, 0, root->surface.width, root->surface.height});
  return true;
}

void PutCell(const Target& t, int x, int y, char32_t ch, COLORREF fg, const COLORREF* bg, bool underline) {
  if (x < t.clip.left || x >= t.clip.right || y < t.clip.top || y >= t.clip.bottom) return;
  Cell* c = t.surface->At(x, y);
  if (!c) return;
  c->ch = ch;
  c->fg = fg;
  if (bg) c->bg = *bg;
  c->underline = underline;
}

struct Glyph {
  unsigned char ch;
  bool underline;
};
using Line = std::vector<Glyph>;

// Splits text into lines as DrawTextA lays them out.
std::vector<Line> LayOut(const char* text, int length, UINT format, int width) {
  std::vector<Line> logical(1);
  bool prefix = !(format & DT_NOPREFIX);
  bool single = (format & DT_SINGLELINE) != 0;
  for (int i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c == '\r' || c == '\n') && !single) {
      if (c == '\r' && i + 1 < length && text[i + 1] == '\n') ++i;
      logical.emplace_back();
      continue;
    }
    if (c == '\r' || c == '\n') c = ' ';
    if (c == '\t') {
      if (format & DT_EXPANDTABS) {
        size_t n = 8 - logical.back().size() % 8;
        for (size_t k = 0; k < n; ++k) logical.back().push_back(Glyph{' ', false});
        continue;
      }
      c = ' ';
    }
    if (c == '&' && prefix) {
      if (i + 1 < length && text[i + 1] == '&') {
        ++i;
        logical.back().push_back(Glyph{'&', false});
      } else if (i + 1 < length) {
        ++i;
        unsigned char n = static_cast<unsigned char>(text[i]);
        if (n == '\t' || n == '\r' || n == '\n') n = ' ';
        logical.back().push_back(Glyph{n, !(format & DT_HIDEPREFIX)});
      }
      continue;
    }
    logical.back().push_back(Glyph{c, false});
  }
  if (!(format & DT_WORDBREAK) || single || width <= 0) return logical;
  std::vector<Line> out;
  for (const Line& l : logical) {
    if (l.empty()) {
      out.emplace_back();
      continue;
    }
    size_t pos = 0;
    while (pos < l.size()) {
      size_t rest = l.size() - pos;
      if (rest <= static_cast<size_t>(width)) {
        out.emplace_back(l.begin() + pos, l.end());
        break;
      }
      // The last space within the width (or just after it) breaks the line.
      size_t brk = std::string::npos;
      for (size_t k = pos + width; k > pos; --k)
        if (l[k].ch == ' ') {
          brk = k;
          break;
        }
      size_t end = brk == std::string::npos ? pos + width : brk;
      Line piece(l.begin() + pos, l.begin() + end);
      while (!piece.empty() && piece.back().ch == ' ') piece.pop_back();
      out.push_back(piece);
      pos = end;
      while (pos < l.size() && l[pos].ch == ' ') ++pos;
    }
  }
  return out;
}

}  // namespace

HBRUSH BackgroundBrush(HBRUSH classBrush) {
  uintptr_t v = reinterpret_cast<uintptr_t>(classBrush);
  if (v >= 1 && v <= 25) return GetSysColorBrush(static_cast<int>(v - 1));
  return classBrush;
}

COLORREF BrushColor(HBRUSH brush, bool* isNull) {
  brush = BackgroundBrush(brush);
  Lock lock(S().mu);
  PrGdiObject* o = FindObject(brush);
  if (isNull) *isNull = !o || !o->brush || o->nullBrush;
  return o && o->brush ? o->color : 0;
}

HDC MakeDC(HWND window, bool whole) {
  if (!FindOrFail(window)) return nullptr;
  Lock lock(S().mu);
  auto dc = std::make_unique<PrDeviceContext>(
      PrDeviceContext{window, whole, GetSysColor(COLOR_WINDOWTEXT), GetSysColor(COLOR_WINDOW), OPAQUE, nullptr, nullptr});
  HDC h = dc.get();
  DCs()[h] = std::move(dc);
  return h;
}

void InvalidateTree(HWND window) {
  HWND root = RootOf(window);
  State& s = S();
  Lock lock(s.mu);
  if (auto r = Find(root)) r->needsPaint = true;
  s.cv.notify_all();
}

void InvalidateAll() {
  State& s = S();
  s.cv.notify_all();
}

bool HasCloseBox(const Window& w) {
  if ((w.style & WS_CAPTION) != WS_CAPTION || !(w.style & WS_SYSMENU)) return false;
  return !w.systemMenu || GetMenuState(w.systemMenu, SC_CLOSE, MF_BYCOMMAND) != 0xFFFFFFFFu;
}

// A one-cell box around the window, with the caption in the top line.
void DrawFrame(Window& w) {
  auto root = Find(RootOf(w.handle));
  if (!root) return;
  bool framed = HasFrame(w);
  bool caption = (w.style & WS_CAPTION) == WS_CAPTION;
  bool scroll = (w.style & WS_VSCROLL) != 0;
  if (!framed && !scroll) return;
  RECT wr = ScreenWindowRect(w);
  RECT rr = root->rect;
  Target t;
  t.surface = &root->surface;
  t.origin = POINT{wr.left - rr.left, wr.top - rr.top};
  t.clip = RECT{0, 0, root->surface.width, root->surface.height};
  if (w.style & WS_CHILD) {
    auto p = Find(w.parent);
    if (p) {
      RECT pc = ScreenClientRect(*p);
      t.clip = Intersect(t.clip, RECT{pc.left - rr.left, pc.top - rr.top, pc.right - rr.left, pc.bottom - rr.top});
    }
  }
  int W = wr.right - wr.left, H = wr.bottom - wr.top;
  bool nullBrush = false;
  COLORREF bg = w.cls->background ? BrushColor(w.cls->background, &nullBrush) : GetSysColor(COLOR_BTNFACE);
  if (nullBrush) bg = GetSysColor(COLOR_BTNFACE);
  COLORREF fg = GetSysColor(COLOR_WINDOWFRAME);
  int ox = t.origin.x, oy = t.origin.y;
  if (framed && W >= 2 && H >= 2) {
    for (int x = 1; x < W - 1; ++x) {
      PutCell(t, ox + x, oy, U'─', fg, &bg, false);
      PutCell(t, ox + x, oy + H - 1, U'─', fg, &bg, false);
    }
    for (int y = 1; y < H - 1; ++y) {
      PutCell(t, ox, oy + y, U'│', fg, &bg, false);
      PutCell(t, ox + W - 1, oy + y, U'│', fg, &bg, false);
    }
    PutCell(t, ox, oy, U'┌', fg, &bg, false);
    PutCell(t, ox + W - 1, oy, U'┐', fg, &bg, false);
    PutCell(t, ox, oy + H - 1, U'└', fg, &bg, false);
    PutCell(t, ox + W - 1, oy + H - 1, U'┘', fg, &bg, false);
    if (caption && W > 4) {
      bool active = false;
      for (auto& [id, th] : S().threads)
        if (th->active == w.handle) active = true;
      COLORREF cbg = GetSysColor(active ? COLOR_ACTIVECAPTION : COLOR_INACTIVECAPTION);
      COLORREF cfg = GetSysColor(active ? COLOR_CAPTIONTEXT : COLOR_INACTIVECAPTIONTEXT);
      for (int x = 1; x < W - 1; ++x) PutCell(t, ox + x, oy, U' ', cfg, &cbg, false);
      std::string title = w.text.substr(0, static_cast<size_t>(std::max(0, W - 4)));
      int start = 1 + (W - 2 - static_cast<int>(title.size())) / 2;
      for (size_t i = 0; i < title.size(); ++i)
        PutCell(t, ox + start + static_cast<int>(i), oy, AnsiToChar(static_cast<unsigned char>(title[i])), cfg, &cbg,
                false);
      if (HasCloseBox(w) && W > 8) {
        PutCell(t, ox + W - 4, oy, U'[', cfg, &cbg, false);
        PutCell(t, ox + W - 3, oy, U'×', cfg, &cbg, false);
        PutCell(t, ox + W - 2, oy, U']', cfg, &cbg, false);
      }
    }
  }
  if (scroll) {
    RECT c = ClientRectOf(w);
    int x = ox + c.right;
    int h = c.bottom - c.top;
    COLORREF sbg = GetSysColor(COLOR_SCROLLBAR), sfg = GetSysColor(COLOR_BTNTEXT);
    const SCROLLINFO& si = w.vscroll.info;
    int range = std::max(1, si.nMax - si.nMin - static_cast<int>(si.nPage ? si.nPage - 1 : 0));
    int thumb = h > 2 ? 1 + static_cast<int>((static_cast<int64_t>(std::clamp(si.nPos - si.nMin, 0, range)) * (h - 3)) /
                                             range)
                      : -1;
    for (int y = 0; y < h; ++y) {
      char32_t ch = y == 0 ? U'▲' : y == h - 1 ? U'▼' : y == thumb ? U'█' : U'░';
      PutCell(t, x, oy + c.top + y, ch, sfg, &sbg, false);
    }
  }
}

namespace {
void PaintWindow(HWND h) {
  auto w = Find(h);
  if (!w || !(w->style & WS_VISIBLE)) return;
  {
    Lock lock(S().mu);
    w->needsErase = true;
    DrawFrame(*w);
  }
  SendMessageA(h, WM_PAINT, 0, 0);
  std::vector<HWND> kids;
  {
    Lock lock(S().mu);
    kids = w->children;
  }
  for (auto it = kids.rbegin(); it != kids.rend(); ++it) PaintWindow(*it);
}
}  // namespace

void PaintTree(HWND root) {
  auto w = Find(root);
  if (!w) return;
  {
    Lock lock(S().mu);
    w->needsPaint = false;
    int W = w->rect.right - w->rect.left, H = w->rect.bottom - w->rect.top;
    if (w->surface.width != W || w->surface.height != H) w->surface.Resize(W, H);
  }
  PaintWindow(root);
}

void PaintThreadWindows() {
  std::vector<HWND> dirty;
  {
    State& s = S();
    Lock lock(s.mu);
    DWORD self = GetCurrentThreadId();
    for (HWND h : s.topLevels) {
      auto w = Find(h);
      if (w && w->thread == self && w->needsPaint && (w->style & WS_VISIBLE)) dirty.push_back(h);
    }
  }
  for (HWND h : dirty) PaintTree(h);
}

void ComposeAndPresent() {
  State& s = S();
  Lock lock(s.mu);
  if (!s.backend) return;
  Surface& scr = s.screen;
  COLORREF desk = GetSysColor(COLOR_BACKGROUND);
  for (Cell& c : scr.cells) c = Cell{U' ', GetSysColor(COLOR_WINDOWTEXT), desk, false};
  for (auto it = s.topLevels.rbegin(); it != s.topLevels.rend(); ++it) {
    auto w = Find(*it);
    if (!w || !(w->style & WS_VISIBLE)) continue;
    for (int y = 0; y < w->surface.height; ++y)
      for (int x = 0; x < w->surface.width; ++x) {
        Cell* d = scr.At(w->rect.left + x, w->rect.top + y);
        if (d) *d = *w->surface.At(x, y);
      }
  }
  POINT caret{0, 0};
  bool caretVisible = false;
  if (auto fg = Find(s.foreground)) {
    auto t = ThreadOf(fg->thread);
    if (t && t->caretWindow && t->caretHidden <= 0) {
      if (auto cw = Find(t->caretWindow)) {
        if (IsWindowVisible(t->caretWindow)) {
          RECT c = ScreenClientRect(*cw);
          caret = POINT{c.left + t->caretPos.x, c.top + t->caretPos.y};
          caretVisible = caret.x >= c.left && caret.x < c.right && caret.y >= c.top && caret.y < c.bottom;
        }
      }
    }
  }
  s.backend->Present(scr, caret, caretVisible);
}

}  // namespace prw

using namespace prw;

COLORREF GetSysColor(int index) { return index >= 0 && index < 25 ? kSysColors[index] : 0; }

HBRUSH GetSysColorBrush(int index) {
  static HBRUSH brushes[25] = {};
  if (index < 0 || index >= 25) return nullptr;
  Lock lock(S().mu);
  if (!brushes[index]) brushes[index] = AddObject(PrGdiObject{true, true, false, kSysColors[index], {}});
  return brushes[index];
}

HBRUSH CreateSolidBrush(COLORREF color) {
  Lock lock(S().mu);
  return AddObject(PrGdiObject{true, false, false, color & 0xFFFFFF, {}});
}

HGDIOBJ GetStockObject(int object) {
  static HGDIOBJ stock[20] = {};
  if (object < 0 || object >= 20) return nullptr;
  Lock lock(S().mu);
  if (!stock[object]) {
    PrGdiObject o{true, true, false, 0, {}};
    switch (object) {
      case WHITE_BRUSH: o.color = RGB(255, 255, 255); break;
      case LTGRAY_BRUSH: o.color = RGB(192, 192, 192); break;
      case GRAY_BRUSH: o.color = RGB(128, 128, 128); break;
      case BLACK_BRUSH: o.color = 0; break;
      case NULL_BRUSH: o.nullBrush = true; break;
      case SYSTEM_FONT:
      case DEFAULT_GUI_FONT:
      case ANSI_VAR_FONT:
        o.brush = false;
        std::strcpy(o.font.lfFaceName, "System");
        o.font.lfHeight = 1;
        break;
      default: return nullptr;
    }
    stock[object] = AddObject(o);
  }
  return stock[object];
}

BOOL DeleteObject(HGDIOBJ object) {
  Lock lock(S().mu);
  PrGdiObject* o = FindObject(object);
  if (!o) return FALSE;
  if (!o->stock) Objects().erase(object);
  return TRUE;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  Lock lock(S().mu);
  PrDeviceContext* d = FindDC(dc);
  PrGdiObject* o = FindObject(object);
  if (!d || !o) return nullptr;
  HGDIOBJ old;
  if (o->brush) {
    old = d->brush;
    d->brush = object;
  } else {
    old = d->font;
    d->font = object;
  }
  return old ? old : GetStockObject(o->brush ? WHITE_BRUSH : SYSTEM_FONT);
}

HFONT CreateFontIndirectA(const LOGFONTA* font) {
  if (!font) return nullptr;
  Lock lock(S().mu);
  PrGdiObject o{false, false, false, 0, *font};
  o.font.lfFaceName[31] = 0;
  return AddObject(o);
}

BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* metrics) {
  Lock lock(S().mu);
  if (!FindDC(dc) || !metrics) return FALSE;
  *metrics = TEXTMETRICA{1, 1, 0, 0, 0, 1, 1, 400, 0x20, 0xFF, '?', ' '};
  return TRUE;
}

BOOL GetTextExtentPoint32A(HDC, const char* text, int length, SIZE* size) {
  if (!size || length < 0 || (!text && length > 0)) return FALSE;
  *size = SIZE{length, 1};
  return TRUE;
}

LONG GetDialogBaseUnits() { return MAKELONG(1, 1); }

namespace {
LONG CeilDiv(LONG n, LONG d) { return n >= 0 ? (n + d - 1) / d : -((-n) / d); }
}  // namespace

BOOL MapDialogRect(HWND, RECT* rect) {
  if (!rect) return FALSE;
  rect->left = CeilDiv(rect->left, 4);
  rect->right = CeilDiv(rect->right, 4);
  rect->top = CeilDiv(rect->top, 8);
  rect->bottom = CeilDiv(rect->bottom, 8);
  return TRUE;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
  auto w = FindOrFail(window);
  if (!w || !paint) return nullptr;
  HDC dc = MakeDC(window, false);
  bool erase;
  {
    Lock lock(S().mu);
    erase = w->needsErase;
    w->needsErase = false;
  }
  RECT r;
  GetClientRect(window, &r);
  *paint = PAINTSTRUCT{dc, FALSE, r};
  if (erase) paint->fErase = SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) ? FALSE : TRUE;
  return dc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
  if (!paint) return FALSE;
  return ReleaseDC(window, paint->hdc) ? TRUE : FALSE;
}

HDC GetDC(HWND window) { return MakeDC(window, false); }
HDC GetWindowDC(HWND window) { return MakeDC(window, true); }

int ReleaseDC(HWND, HDC dc) {
  Lock lock(S().mu);
  return DCs().erase(dc) ? 1 : 0;
}

BOOL InvalidateRect(HWND window, const RECT*, BOOL) {
  if (!window) {
    std::vector<HWND> all;
    {
      Lock lock(S().mu);
      all = S().topLevels;
    }
    for (HWND h : all) InvalidateTree(h);
    return TRUE;
  }
  if (!FindOrFail(window)) return FALSE;
  InvalidateTree(window);
  return TRUE;
}

BOOL UpdateWindow(HWND window) {
  auto w = FindOrFail(window);
  if (!w) return FALSE;
  HWND root = RootOf(window);
  auto r = Find(root);
  if (r && r->needsPaint && r->thread == GetCurrentThreadId() && (r->style & WS_VISIBLE)) PaintTree(root);
  return TRUE;
}

BOOL RedrawWindow(HWND window, const RECT* rect, void*, UINT flags) {
  if (!InvalidateRect(window, rect, TRUE)) return FALSE;
  if ((flags & RDW_UPDATENOW) && window) UpdateWindow(window);
  return TRUE;
}

COLORREF SetTextColor(HDC dc, COLORREF color) {
  Lock lock(S().mu);
  PrDeviceContext* d = FindDC(dc);
  if (!d) return 0xFFFFFFFF;
  COLORREF old = d->text;
  d->text = color & 0xFFFFFF;
  return old;
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
  Lock lock(S().mu);
  PrDeviceContext* d = FindDC(dc);
  if (!d) return 0xFFFFFFFF;
  COLORREF old = d->back;
  d->back = color & 0xFFFFFF;
  return old;
}

int SetBkMode(HDC dc, int mode) {
  Lock lock(S().mu);
  PrDeviceContext* d = FindDC(dc);
  if (!d || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  int old = d->mode;
  d->mode = mode;
  return old;
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  Lock lock(S().mu);
  PrDeviceContext* d = FindDC(dc);
  if (!d || !rect) return 0;
  bool isNull = false;
  COLORREF color = BrushColor(brush, &isNull);
  if (isNull) return 1;
  Target t;
  if (!Resolve(*d, &t)) return 0;
  for (int y = rect->top; y < rect->bottom; ++y)
    for (int x = rect->left; x < rect->right; ++x)
      PutCell(t, t.origin.x + x, t.origin.y + y, U' ', d->text, &color, false);
  return 1;
}

int FrameRect(HDC dc, const RECT* rect, HBRUSH brush) {
  Lock lock(S().mu);
  PrDeviceContext* d = FindDC(dc);
  if (!d || !rect) return 0;
  bool isNull = false;
  COLORREF color = BrushColor(brush, &isNull);
  Target t;
  if (isNull || !Resolve(*d, &t)) return isNull ? 1 : 0;
  int l = t.origin.x + rect->left, r = t.origin.x + rect->right - 1;
  int tp = t.origin.y + rect->top, b = t.origin.y + rect->bottom - 1;
  if (r <= l || b <= tp) return 1;
  for (int x = l + 1; x < r; ++x) {
    PutCell(t, x, tp, U'─', color, nullptr, false);
    PutCell(t, x, b, U'─', color, nullptr, false);
  }
  for (int y = tp + 1; y < b; ++y) {
    PutCell(t, l, y, U'│', color, nullptr, false);
    PutCell(t, r, y, U'│', color, nullptr, false);
  }
  PutCell(t, l, tp, U'┌', color, nullptr, false);
  PutCell(t, r, tp, U'┐', color, nullptr, false);
  PutCell(t, l, b, U'└', color, nullptr, false);
  PutCell(t, r, b, U'┘', color, nullptr, false);
  return 1;
}

BOOL DrawFocusRect(HDC dc, const RECT* rect) {
  // A focus rectangle shows as reversed colours over the cells.
  Lock lock(S().mu);
  PrDeviceContext* d = FindDC(dc);
  Target t;
  if (!d || !rect || !Resolve(*d, &t)) return FALSE;
  for (int y = rect->top; y < rect->bottom; ++y)
    for (int x = rect->left; x < rect->right; ++x) {
      int sx = t.origin.x + x, sy = t.origin.y + y;
      if (sx < t.clip.left || sx >= t.clip.right || sy < t.clip.top || sy >= t.clip.bottom) continue;
      if (Cell* c = t.surface->At(sx, sy)) std::swap(c->fg, c->bg);
    }
  return TRUE;
}

BOOL TextOutA(HDC dc, int x, int y, const char* text, int length) {
  if (!text || length < 0) return FALSE;
  Lock lock(S().mu);
  PrDeviceContext* d = FindDC(dc);
  Target t;
  if (!d || !Resolve(*d, &t)) return FALSE;
  const COLORREF* bg = d->mode == OPAQUE ? &d->back : nullptr;
  for (int i = 0; i < length; ++i)
    PutCell(t, t.origin.x + x + i, t.origin.y + y, AnsiToChar(static_cast<unsigned char>(text[i])), d->text, bg, false);
  return TRUE;
}

int DrawTextA(HDC dc, const char* text, int length, RECT* rect, UINT format) {
  if (!rect) return 0;
  if (!text) text = "";
  if (length < 0) length = static_cast<int>(strnlen(text, 1 << 20));
  int width = rect->right - rect->left;
  std::vector<Line> lines = LayOut(text, length, format, width);
  if (length == 0) lines.clear();
  int height = static_cast<int>(lines.size());
  if (format & DT_CALCRECT) {
    size_t widest = 0;
    for (const Line& l : lines) widest = std::max(widest, l.size());
    rect->right = rect->left + static_cast<LONG>(widest);
    rect->bottom = rect->top + height;
    return height;
  }
  Lock lock(S().mu);
  PrDeviceContext* d = FindDC(dc);
  Target t;
  if (!d || !Resolve(*d, &t)) return 0;
  if (!(format & DT_NOCLIP)) {
    RECT r{t.origin.x + rect->left, t.origin.y + rect->top, t.origin.x + rect->right, t.origin.y + rect->bottom};
    t.clip = Intersect(t.clip, r);
  }
  int top = rect->top;
  if (format & DT_SINGLELINE) {
    int avail = rect->bottom - rect->top;
    if (format & DT_VCENTER) top += (avail - height) / 2;
    else if (format & DT_BOTTOM) top += avail - height;
  }
  const COLORREF* bg = d->mode == OPAQUE ? &d->back : nullptr;
  for (int row = 0; row < height; ++row) {
    const Line& l = lines[row];
    int n = static_cast<int>(l.size());
    int x = rect->left;
    if (format & DT_CENTER) x += (width - n) / 2;
    else if (format & DT_RIGHT) x += width - n;
    for (int i = 0; i < n; ++i)
      PutCell(t, t.origin.x + x + i, t.origin.y + top + row, AnsiToChar(l[i].ch), d->text, bg, l[i].underline);
  }
  return height;
}

// ---------------------------------------------------------------- scroll bars
int SetScrollInfo(HWND window, int bar, const SCROLLINFO* info, BOOL redraw) {
  auto w = FindOrFail(window);
  if (!w || !info || (bar != SB_VERT && bar != SB_HORZ)) return 0;
  int pos;
  {
    Lock lock(S().mu);
    SCROLLINFO& si = (bar == SB_VERT ? w->vscroll : w->hscroll).info;
    if (info->fMask & SIF_RANGE) {
      si.nMin = info->nMin;
      si.nMax = std::max(info->nMin, info->nMax);
    }
    if (info->fMask & SIF_PAGE) si.nPage = info->nPage;
    if (info->fMask & SIF_POS) si.nPos = info->nPos;
    if (info->fMask & SIF_TRACKPOS) si.nTrackPos = info->nTrackPos;
    int maxPos = si.nMax - static_cast<int>(si.nPage ? si.nPage - 1 : 0);
    si.nPos = std::clamp(si.nPos, si.nMin, std::max(si.nMin, maxPos));
    pos = si.nPos;
  }
  if (redraw) InvalidateTree(window);
  return pos;
}

BOOL GetScrollInfo(HWND window, int bar, SCROLLINFO* info) {
  auto w = FindOrFail(window);
  if (!w || !info || (bar != SB_VERT && bar != SB_HORZ)) return FALSE;
  Lock lock(S().mu);
  const SCROLLINFO& si = (bar == SB_VERT ? w->vscroll : w->hscroll).info;
  UINT mask = info->fMask;
  if (mask & SIF_RANGE) info->nMin = si.nMin, info->nMax = si.nMax;
  if (mask & SIF_PAGE) info->nPage = si.nPage;
  if (mask & SIF_POS) info->nPos = si.nPos;
  if (mask & SIF_TRACKPOS) info->nTrackPos = si.nTrackPos;
  return TRUE;
}

int SetScrollPos(HWND window, int bar, int pos, BOOL redraw) {
  SCROLLINFO old{sizeof old, SIF_POS, 0, 0, 0, 0, 0};
  if (!GetScrollInfo(window, bar, &old)) return 0;
  SCROLLINFO si{sizeof si, SIF_POS, 0, 0, 0, pos, 0};
  SetScrollInfo(window, bar, &si, redraw);
  return old.nPos;
}

int GetScrollPos(HWND window, int bar) {
  SCROLLINFO si{sizeof si, SIF_POS, 0, 0, 0, 0, 0};
  return GetScrollInfo(window, bar, &si) ? si.nPos : 0;
}

BOOL SetScrollRange(HWND window, int bar, int minPos, int maxPos, BOOL redraw) {
  SCROLLINFO si{sizeof si, SIF_RANGE, minPos, maxPos, 0, 0, 0};
  return FindOrFail(window) && SetScrollInfo(window, bar, &si, redraw) >= minPos ? TRUE : FALSE;
}

BOOL ShowScrollBar(HWND window, int bar, BOOL show) {
  auto w = FindOrFail(window);
  if (!w) return FALSE;
  {
    Lock lock(S().mu);
    DWORD bit = bar == SB_HORZ ? WS_HSCROLL : WS_VSCROLL;
    if (show) w->style |= bit;
    else w->style &= ~bit;
  }
  InvalidateTree(window);
  return TRUE;
}
