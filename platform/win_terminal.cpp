// The terminal backend: ncurses with wide-character output.  Cells hold
// Unicode characters (texts were converted from Windows-1250 when drawn);
// keys come back as virtual keys with modifiers, mouse clicks as cells.
#include <poll.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>

#include "platform/win_internal.h"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <ncursesw/curses.h>
#include <ncursesw/term.h>

// term.h defines names that collide with ordinary words.
#undef lines
#undef columns

namespace prw {
namespace {

struct Rgb {
  int r, g, b;
};
constexpr Rgb kPalette[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                              {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                              {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                              {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

int Nearest(COLORREF c) {
  int best = 0;
  long bestD = -1;
  for (int i = 0; i < 16; ++i) {
    long dr = GetRValue(c) - kPalette[i].r, dg = GetGValue(c) - kPalette[i].g, db = GetBValue(c) - kPalette[i].b;
    long d = dr * dr + dg * dg + db * db;
    if (bestD < 0 || d < bestD) {
      best = i;
      bestD = d;
    }
  }
  return best;
}

// Any-motion mouse reporting (xterm's mode 1003), so that the pointer's
// moves arrive without a button held; the library itself asks only for clicks.
constexpr char kMotionOn[] = "\x1b[?1003h";
constexpr char kMotionOff[] = "\x1b[?1003l";

bool g_open = false;
bool g_motion = false;
void EndTerminal() {
  if (g_open) {
    if (g_motion) {
      std::fputs(kMotionOff, stdout);
      std::fflush(stdout);
      g_motion = false;
    }
    endwin();
    g_open = false;
  }
}

class TerminalBackend : public Backend {
 public:
  bool Open(DWORD* error) {
    std::setlocale(LC_CTYPE, "");
    if (!std::strstr(std::setlocale(LC_CTYPE, nullptr), "UTF-8") &&
        !std::strstr(std::setlocale(LC_CTYPE, nullptr), "utf8"))
      std::setlocale(LC_CTYPE, "C.UTF-8");
    screen_ = newterm(nullptr, stdout, stdin);
    if (!screen_) {
      *error = ERROR_NOT_READY;
      return false;
    }
    g_open = true;
    static bool registered = false;
    if (!registered) {
      std::atexit(EndTerminal);
      registered = true;
    }
    raw();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    set_escdelay(25);
    mousemask(ALL_MOUSE_EVENTS | REPORT_MOUSE_POSITION, nullptr);
    if (has_mouse()) {
      std::fputs(kMotionOn, stdout);
      std::fflush(stdout);
      g_motion = true;
    }
    mouseinterval(250);
    if (has_colors()) {
      start_color();
      colors_ = COLORS >= 16 ? 16 : 8;
    }
    BindModifiedKeys();
    getmaxyx(stdscr, rows_, columns_);
    shown_.Resize(columns_, rows_);
    for (Cell& c : shown_.cells) c.ch = 0;  // nothing shown yet: the first frame draws every cell
    return true;
  }
  ~TerminalBackend() override {
    if (screen_) {
      EndTerminal();
      delscreen(screen_);
    }
  }
  bool Headless() const override { return false; }
  int Columns() const override { return columns_; }
  int Rows() const override { return rows_; }

  bool ReadInput(InputEvent* event, int timeoutMs) override {
    if (!pending_.empty()) {
      *event = pending_.front();
      pending_.pop_front();
      return true;
    }
    if (inputGone_) {
      event->kind = InputEvent::kExhausted;
      return true;
    }
    // What the library holds already comes first; then the wait is poll's,
    // which also tells a quiet terminal from one whose input is gone (end of
    // file, or the terminal closed): that one reads as nothing at once,
    // forever, and waiting on it would spin.
    wtimeout(stdscr, 0);
    wint_t ch = 0;
    int r = wget_wch(stdscr, &ch);
    if (r == ERR) {
      pollfd input{fileno(stdin), POLLIN, 0};
      int n = ::poll(&input, 1, timeoutMs < 0 ? -1 : timeoutMs);
      if (n == 0 || (n < 0 && errno == EINTR)) return false;  // quiet, or a signal (a resize reads next time)
      r = n < 0 ? ERR : wget_wch(stdscr, &ch);
      if (r == ERR) {
        // Ready but nothing came of it: the library may have taken bytes it
        // drops (half a character, a mouse report it filters).  An input at
        // its end instead stays ready with no byte to read.
        if (n < 0 || InputAtItsEnd()) {
          inputGone_ = true;
          event->kind = InputEvent::kExhausted;
          return true;
        }
        return false;
      }
    }
    if (r == KEY_CODE_YES) return FunctionKey(static_cast<int>(ch), event);
    return Character(static_cast<char32_t>(ch), 0, event);
  }

  // True when standard input is ready with nothing to read (end of file,
  // the terminal hung up) or in error.
  static bool InputAtItsEnd() {
    pollfd input{fileno(stdin), POLLIN, 0};
    if (::poll(&input, 1, 0) <= 0) return false;
    if (input.revents & (POLLERR | POLLNVAL)) return true;
    int pending = 0;
    if (ioctl(fileno(stdin), FIONREAD, &pending) != 0) pending = 0;
    return pending == 0;
  }

  void Present(Surface& screen, POINT caret, bool caretVisible) override {
    for (int y = 0; y < std::min(rows_, screen.height); ++y)
      for (int x = 0; x < std::min(columns_, screen.width); ++x) {
        Cell& c = *screen.At(x, y);
        Cell* old = shown_.At(x, y);
        if (old && old->ch == c.ch && old->fg == c.fg && old->bg == c.bg && old->underline == c.underline) continue;
        if (old) *old = c;
        wchar_t text[2] = {static_cast<wchar_t>(c.ch ? c.ch : U' '), 0};
        attr_t attrs = c.underline ? A_UNDERLINE : A_NORMAL;
        short pair = Pair(c.fg, c.bg, &attrs);
        cchar_t cc;
        setcchar(&cc, text, attrs, pair, nullptr);
        mvadd_wch(y, x, &cc);
      }
    if (caretVisible) {
      curs_set(1);
      move(caret.y, caret.x);
    } else {
      curs_set(0);
    }
    refresh();
  }

  void Beep(UINT) override { beep(); }

 private:
  short Pair(COLORREF fg, COLORREF bg, attr_t* attrs) {
    if (!colors_) {
      if (GetRValue(bg) + GetGValue(bg) + GetBValue(bg) < 3 * 100) *attrs |= A_REVERSE;
      return 0;
    }
    int f = Nearest(fg), b = Nearest(bg);
    if (colors_ == 8) {
      if (f >= 8) {
        f -= 8;
        *attrs |= A_BOLD;
      }
      if (b >= 8) b = b == 8 ? 7 : b - 8;
    }
    int key = f * 16 + b;
    auto it = pairs_.find(key);
    if (it != pairs_.end()) return it->second;
    if (nextPair_ >= COLOR_PAIRS || nextPair_ > 255) return 0;
    short p = static_cast<short>(nextPair_++);
    init_pair(p, static_cast<short>(f), static_cast<short>(b));
    pairs_[key] = p;
    return p;
  }

  // Shifted, controlled and alternate arrows and editing keys, as the
  // terminal description names them (kUP5 is Ctrl+Up ...).
  void BindModifiedKeys() {
    static const struct {
      const char* name;
      UINT vk;
    } kBase[] = {{"kUP", VK_UP},      {"kDN", VK_DOWN}, {"kLFT", VK_LEFT}, {"kRIT", VK_RIGHT}, {"kHOM", VK_HOME},
                 {"kEND", VK_END},    {"kNXT", VK_NEXT}, {"kPRV", VK_PRIOR}, {"kDC", VK_DELETE}, {"kIC", VK_INSERT}};
    for (const auto& b : kBase)
      for (int n = 2; n <= 8; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "%s%d", b.name, n);
        char* seq = tigetstr(name);
        if (!seq || seq == reinterpret_cast<char*>(-1)) continue;
        int code = key_defined(seq);
        if (code <= 0) continue;
        uint32_t mods = 0, m = static_cast<uint32_t>(n - 1);
        if (m & 1) mods |= kShift;
        if (m & 2) mods |= kAlt;
        if (m & 4) mods |= kCtrl;
        modified_[code] = std::make_pair(b.vk, mods);
      }
    // The Menu key, where the terminal sends it (xterm and the Linux console:
    // CSI 29 ~) and its description gives that sequence no other meaning.
    // Its code is one no key of the description has: the library numbers
    // the described extended keys (kEND7 ...) from above KEY_MAX itself, so
    // a fixed number there could make the Menu key one of them.
    static const char kMenu[] = "\x1b[29~";
    int menu = key_defined(kMenu);
    if (menu == 0)
      for (int code = KEY_MAX + 1; code < KEY_MAX + 4096; ++code)
        if (!has_key(code) && modified_.find(code) == modified_.end()) {
          if (define_key(kMenu, code) == OK) menu = code;
          break;
        }
    if (menu > 0 && modified_.find(menu) == modified_.end() && (menu < KEY_F(1) || menu > KEY_F(60)))
      modified_[menu] = std::make_pair(static_cast<UINT>(VK_APPS), 0u);
  }

  bool FunctionKey(int code, InputEvent* e) {
    e->kind = InputEvent::kKey;
    e->mods = 0;
    e->ch = 0;
    switch (code) {
      case KEY_UP: e->vk = VK_UP; return true;
      case KEY_DOWN: e->vk = VK_DOWN; return true;
      case KEY_LEFT: e->vk = VK_LEFT; return true;
      case KEY_RIGHT: e->vk = VK_RIGHT; return true;
      case KEY_HOME: e->vk = VK_HOME; return true;
      case KEY_END: e->vk = VK_END; return true;
      case KEY_NPAGE: e->vk = VK_NEXT; return true;
      case KEY_PPAGE: e->vk = VK_PRIOR; return true;
      case KEY_IC: e->vk = VK_INSERT; return true;
      case KEY_DC: e->vk = VK_DELETE; return true;
      case KEY_SR: e->vk = VK_UP; e->mods = kShift; return true;
      case KEY_SF: e->vk = VK_DOWN; e->mods = kShift; return true;
      case KEY_SLEFT: e->vk = VK_LEFT; e->mods = kShift; return true;
      case KEY_SRIGHT: e->vk = VK_RIGHT; e->mods = kShift; return true;
      case KEY_SHOME: e->vk = VK_HOME; e->mods = kShift; return true;
      case KEY_SEND: e->vk = VK_END; e->mods = kShift; return true;
      case KEY_SNEXT: e->vk = VK_NEXT; e->mods = kShift; return true;
      case KEY_SPREVIOUS: e->vk = VK_PRIOR; e->mods = kShift; return true;
      case KEY_SDC: e->vk = VK_DELETE; e->mods = kShift; return true;
      case KEY_SIC: e->vk = VK_INSERT; e->mods = kShift; return true;
      case KEY_BTAB: e->vk = VK_TAB; e->mods = kShift; e->ch = '\t'; return true;
      case KEY_BACKSPACE: e->vk = VK_BACK; e->ch = 8; return true;
      case KEY_ENTER: e->vk = VK_RETURN; e->ch = '\r'; return true;
      case KEY_RESIZE:
        getmaxyx(stdscr, rows_, columns_);
        shown_.Resize(columns_, rows_);
        for (Cell& c : shown_.cells) c.ch = 0;
        clear();
        // Every window paints again once the screen has its new size, so
        // that the frame sees it and lays itself and its windows out again.
        InvalidateRect(nullptr, nullptr, TRUE);
        e->kind = InputEvent::kResize;
        return true;
      case KEY_MOUSE: return Mouse(e);
      default: break;
    }
    if (code >= KEY_F(1) && code <= KEY_F(60)) {
      int n = code - KEY_F(1);  // 0..59: plain, Shift, Ctrl, Ctrl+Shift, Alt groups of 12
      static const uint32_t kGroups[] = {0, kShift, kCtrl, kCtrl | kShift, kAlt};
      e->vk = VK_F1 + n % 12;
      e->mods = kGroups[n / 12];
      return true;
    }
    auto it = modified_.find(code);
    if (it != modified_.end()) {
      e->vk = it->second.first;
      e->mods = it->second.second;
      return true;
    }
    return false;
  }

  bool Character(char32_t ch, uint32_t mods, InputEvent* e) {
    e->kind = InputEvent::kKey;
    e->mods = mods;
    e->ch = 0;
    e->vk = 0;
    if (ch == 27 && !(mods & kAlt)) {
      // Escape alone, or Alt with the key that follows at once.
      wtimeout(stdscr, 0);
      wint_t next = 0;
      int r = wget_wch(stdscr, &next);
      if (r == ERR) {
        e->vk = VK_ESCAPE;
        e->ch = 0x1B;
        return true;
      }
      if (r == KEY_CODE_YES) {
        if (!FunctionKey(static_cast<int>(next), e)) return false;
        e->mods |= kAlt;
        return true;
      }
      return Character(static_cast<char32_t>(next), kAlt, e);
    }
    switch (ch) {
      case '\r': e->vk = VK_RETURN; e->ch = '\r'; return true;
      case '\n': e->vk = VK_RETURN; e->ch = '\n'; e->mods |= kCtrl; return true;
      case '\t': e->vk = VK_TAB; e->ch = '\t'; return true;
      case 8:
      case 127: e->vk = VK_BACK; e->ch = 8; return true;
      case ' ': e->vk = VK_SPACE; e->ch = ' '; return true;
      default: break;
    }
    if (ch >= 1 && ch <= 26) {
      e->vk = 'A' + static_cast<UINT>(ch) - 1;
      e->mods |= kCtrl;
      e->ch = static_cast<unsigned char>(ch);
      return true;
    }
    if (ch < 0x20) return false;
    bool mapped = true;
    unsigned char a = CharToAnsi(ch, &mapped);
    if (!mapped) {
      beep();
      return false;
    }
    e->ch = a;
    if (ch < 0x80 && std::isalpha(static_cast<int>(ch))) {
      e->vk = static_cast<UINT>(std::toupper(static_cast<int>(ch)));
      if (std::isupper(static_cast<int>(ch))) e->mods |= kShift;
    } else if (ch >= '0' && ch <= '9') {
      e->vk = static_cast<UINT>(ch);
    }
    return true;
  }

  bool Mouse(InputEvent* e) {
    MEVENT me;
    if (getmouse(&me) != OK) return false;
    uint32_t mods = 0;
    if (me.bstate & BUTTON_SHIFT) mods |= kShift;
    if (me.bstate & BUTTON_CTRL) mods |= kCtrl;
    if (me.bstate & BUTTON_ALT) mods |= kAlt;
    auto push = [&](UINT message) {
      InputEvent m;
      m.kind = InputEvent::kMouse;
      m.message = message;
      m.x = me.x;
      m.y = me.y;
      m.mods = mods;
      pending_.push_back(m);
    };
    struct {
      mmask_t pressed, released, clicked, doubled;
      UINT down;
    } mouseButtons[] = {{BUTTON1_PRESSED, BUTTON1_RELEASED, BUTTON1_CLICKED, BUTTON1_DOUBLE_CLICKED, WM_LBUTTONDOWN},
                   {BUTTON3_PRESSED, BUTTON3_RELEASED, BUTTON3_CLICKED, BUTTON3_DOUBLE_CLICKED, WM_RBUTTONDOWN},
                   {BUTTON2_PRESSED, BUTTON2_RELEASED, BUTTON2_CLICKED, BUTTON2_DOUBLE_CLICKED, WM_MBUTTONDOWN}};
    for (auto& b : mouseButtons) {
      if (me.bstate & b.pressed) push(b.down);
      if (me.bstate & b.released) push(b.down + 1);
      if (me.bstate & b.clicked) {
        push(b.down);
        push(b.down + 1);
      }
      if (me.bstate & b.doubled) {
        push(b.down);
        push(b.down + 1);
        push(b.down + 2);
        push(b.down + 1);
      }
    }
    if (pending_.empty()) {
      e->kind = InputEvent::kMove;
      e->x = me.x;
      e->y = me.y;
      return true;
    }
    *e = pending_.front();
    pending_.pop_front();
    return true;
  }

  SCREEN* screen_ = nullptr;
  int rows_ = 25;
  int columns_ = 80;
  int colors_ = 0;
  int nextPair_ = 1;
  std::map<int, short> pairs_;
  std::map<int, std::pair<UINT, uint32_t>> modified_;
  std::deque<InputEvent> pending_;
  Surface shown_;
  bool inputGone_ = false;  // the terminal's input reached its end
};

}  // namespace

std::unique_ptr<Backend> MakeTerminalBackend(DWORD* error) {
  auto b = std::make_unique<TerminalBackend>();
  if (!b->Open(error)) return nullptr;
  return b;
}

}  // namespace prw
