// Inside the window system: the window, class and thread records, the cell
// surfaces windows paint into, and the backend seam.  Only platform/win_*.cpp
// include this.
//
// Locking: one recursive mutex (State::mu) guards everything below.  It is
// never held while a window procedure, dialog procedure or timer procedure
// runs: callers copy what they need (the procedure, the handle) and unlock.
// Window records are shared_ptr so that a record stays alive while a
// procedure of a window that is being destroyed still runs.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/winuser.h"

namespace prw {

// ---------------------------------------------------------------- cells
struct Cell {
  char32_t ch = U' ';
  COLORREF fg = 0;
  COLORREF bg = 0xFFFFFF;
  bool underline = false;
};

struct Surface {
  int width = 0;
  int height = 0;
  std::vector<Cell> cells;
  void Resize(int w, int h) {
    width = w < 0 ? 0 : w;
    height = h < 0 ? 0 : h;
    cells.assign(static_cast<size_t>(width) * height, Cell{});
  }
  Cell* At(int x, int y) {
    if (x < 0 || y < 0 || x >= width || y >= height) return nullptr;
    return &cells[static_cast<size_t>(y) * width + x];
  }
};

// Windows-1250 byte <-> Unicode.
char32_t AnsiToChar(unsigned char c);
// The kernel's Windows-1250 table (kernel_codepages.cpp).
uint32_t AnsiByteToUnicode(unsigned char c);
// '?' when the character has no Windows-1250 byte.
unsigned char CharToAnsi(char32_t c, bool* mapped = nullptr);
std::string AnsiToUtf8String(const std::string& ansi);
std::string Utf8ToAnsiString(const std::string& utf8);
void AppendUtf8(std::string* out, char32_t c);

// ---------------------------------------------------------------- records
struct WindowClass {
  std::string name;
  ATOM atom = 0;
  UINT style = 0;
  WNDPROC proc = nullptr;
  int cbWndExtra = 0;
  HINSTANCE instance = nullptr;
  HICON icon = nullptr;
  HCURSOR cursor = nullptr;
  HBRUSH background = nullptr;
  int windows = 0;
};

struct ScrollState {
  SCROLLINFO info{sizeof(SCROLLINFO), 0, 0, 100, 0, 0, 0};
};

struct DialogState {
  DLGPROC proc = nullptr;
  LONG_PTR msgResult = 0;
  LONG_PTR user = 0;
  bool modal = false;
  bool ended = false;
  INT_PTR result = 0;
  int defId = IDOK;
  HFONT font = nullptr;
  HWND savedFocus = nullptr;
};

struct Window {
  HWND handle = nullptr;
  std::shared_ptr<WindowClass> cls;
  WNDPROC proc = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  std::string text;  // ANSI
  RECT rect{};       // children: relative to the parent's client area; others: screen
  HWND parent = nullptr;
  HWND owner = nullptr;
  std::vector<HWND> children;  // z-order, topmost first
  UINT_PTR id = 0;
  LONG_PTR userData = 0;
  std::vector<LONG_PTR> extra;
  HINSTANCE instance = nullptr;
  DWORD thread = 0;
  bool destroying = false;
  bool dead = false;
  HFONT font = nullptr;
  HICON icon = nullptr;
  HMENU systemMenu = nullptr;
  ScrollState vscroll;  // WS_VSCROLL shows the bar
  ScrollState hscroll;
  std::unique_ptr<DialogState> dialog;
  bool needsPaint = true;  // on a top-level window: repaint the whole tree
  bool needsErase = true;
  Surface surface;  // top-level windows only: the window's cells
};

struct Timer {
  HWND window = nullptr;
  UINT_PTR id = 0;
  UINT elapse = 0;
  TIMERPROC proc = nullptr;
  uint64_t due = 0;
};

struct SentMessage {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  bool done = false;
};

// A modal loop of a thread: a dialog, or a menu being tracked.
struct ModalFrame {
  HWND dialog = nullptr;
  bool menu = false;
  bool abandoned = false;  // the headless input ran out
};

struct ThreadState {
  DWORD id = 0;
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  HWND focus = nullptr;
  HWND active = nullptr;
  HWND capture = nullptr;
  bool quit = false;
  int quitCode = 0;
  std::vector<Timer> timers;
  UINT_PTR nextTimerId = 1;
  DWORD lastTime = 0;
  POINT lastPos{0, 0};
  uint32_t keyDown = 0;  // KeyBit flags of the last input message
  std::vector<ModalFrame*> modal;
  int exhaustStage = 0;
  // caret
  HWND caretWindow = nullptr;
  POINT caretPos{0, 0};
  int caretHidden = 1;
};

enum KeyBit : uint32_t { kShift = 1, kCtrl = 2, kAlt = 4, kCaps = 8, kNum = 16, kScroll = 32, kInsert = 64 };

// ---------------------------------------------------------------- input from a backend
struct InputEvent {
  enum Kind {
    kNone,
    kKey,        // vk with modifiers; `ch` the character it types (0 none)
    kMouse,      // message (WM_LBUTTONDOWN...) at screen cell x, y
    kPress,      // click the control whose text is `text`
    kMenu,       // choose `path` (captions) or item number `number` in the open menu; cancel
    kMenuCancel,
    kDump,       // screen into the transcript
    kWait,       // `number` ms of time pass
    kMove,       // mouse moves to x, y
    kResize,     // the terminal changed size
    kExhausted,  // the headless script has run out, or the terminal's input is gone
  };
  Kind kind = kNone;
  UINT vk = 0;
  uint32_t mods = 0;
  unsigned char ch = 0;
  UINT message = 0;
  int x = 0;
  int y = 0;
  int number = 0;
  std::string text;
  std::vector<std::string> path;
};

class Backend {
 public:
  virtual ~Backend() = default;
  virtual bool Headless() const = 0;
  virtual int Columns() const = 0;
  virtual int Rows() const = 0;
  // Takes the next input; waits at most timeoutMs (-1: no limit).  False when
  // nothing came.  A headless backend never waits: it returns kExhausted.
  virtual bool ReadInput(InputEvent* event, int timeoutMs) = 0;
  // Shows the composed screen; the caret cell when caretVisible.
  virtual void Present(Surface& screen, POINT caret, bool caretVisible) = 0;
  virtual void Beep(UINT type) = 0;
  // Wakes a ReadInput that waits (another thread posted something).
  virtual void Wake() {}
};

std::unique_ptr<Backend> MakeHeadlessBackend(const WindowSystemOptions& options, DWORD* error);
std::unique_ptr<Backend> MakeTerminalBackend(DWORD* error);

// ---------------------------------------------------------------- the state
struct State {
  std::recursive_mutex mu;
  std::condition_variable_any cv;  // something was posted, sent or replied
  bool started = false;
  WindowBackend kind = WindowBackend::Headless;
  std::unique_ptr<Backend> backend;
  bool inputBusy = false;  // one thread reads the backend at a time
  std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
  std::vector<HWND> topLevels;  // z-order, topmost first
  std::vector<std::shared_ptr<WindowClass>> classes;
  ATOM nextAtom = 0xC000;
  std::unordered_map<DWORD, std::shared_ptr<ThreadState>> threads;
  uintptr_t nextHandle = 0x10010;
  HWND desktop = nullptr;
  HWND foreground = nullptr;
  HCURSOR cursor = nullptr;
  POINT mouse{0, 0};
  uint64_t virtualTime = 0;  // headless clock, ms
  Surface screen;
  std::string transcript;
  std::string transcriptPath;
};

State& S();
using Lock = std::unique_lock<std::recursive_mutex>;

// Starts the default backend on first use; returns false when it cannot.
bool EnsureStarted();
std::shared_ptr<Window> Find(HWND window);  // null for dead or unknown handles
std::shared_ptr<Window> FindOrFail(HWND window);  // also sets ERROR_INVALID_WINDOW_HANDLE
ThreadState& Current();
std::shared_ptr<ThreadState> ThreadOf(DWORD id);
uint64_t Now();  // ms: the virtual clock headless, the monotonic clock in the terminal
HWND RootOf(HWND window);
// Screen rectangle of the client area of a window and of the whole window.
RECT ScreenClientRect(const Window& w);
RECT ScreenWindowRect(const Window& w);
RECT ClientRectOf(const Window& w);  // relative to the window rect's top left
bool HasFrame(const Window& w);
void InvalidateTree(HWND window);
void InvalidateAll();
// Paints every dirty top-level window of the calling thread.
void PaintThreadWindows();
void PaintTree(HWND root);
// Composes the screen from the top-level surfaces and hands it to the backend.
void ComposeAndPresent();
void Record(const std::string& line);  // UTF-8 transcript line
std::string Quote(const std::string& ansi);  // "..." in UTF-8 with \n, \" and \\ escapes
std::string WindowText(HWND window);  // ANSI
std::string StripMnemonic(const std::string& text);
char MnemonicOf(const std::string& text);  // upper-cased letter after a single "&", or 0
// Input for modal loops (menus).  Routes nothing: the caller interprets it.
bool ReadInput(InputEvent* event, int timeoutMs);
// Turns input into messages for the windows of the calling thread.
void RouteInput(const InputEvent& event);
void RegisterControlClasses();
void RegisterDialogClass();
LRESULT DialogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void DrawFrame(Window& w);  // non-client area of a top-level window
// The caption shows "[×]" (three cells before the top right corner) while the
// system menu holds Close; a click on it sends WM_SYSCOMMAND SC_CLOSE.
bool HasCloseBox(const Window& w);
HBRUSH BackgroundBrush(HBRUSH classBrush);
COLORREF BrushColor(HBRUSH brush, bool* isNull);
HDC MakeDC(HWND window, bool whole);
void DestroyAllMenus();
void ResetClipboardAndIcons();

}  // namespace prw
