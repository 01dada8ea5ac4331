// The window system: windows, messages, painting, standard controls, dialogs,
// menus and the small services around them, with the names and behaviour of
// the Windows user interface the module was designed against.  Everything is
// drawn into a screen of character cells and shown either in memory (the
// headless backend: tests and automation) or in a terminal through ncurses.
//
// Units.  A "pixel" of this layer is one character cell.  The dialog font's
// average character is 1 cell wide and 1 cell high, so dialog units convert
// to cells as ceil(n / 4) across and ceil(n / 8) down (MapDialogRect).
//
// Text.  Window texts, captions and everything drawn are bytes in the ANSI
// code page (Windows-1250); each byte takes one cell.  Dialog templates hold
// UTF-16 strings, as on Windows.  The terminal shows the text in UTF-8.
//
// Threads.  A window belongs to the thread that created it; each thread has
// its own message queue, focus window and active window.  SendMessageA to a
// window of another thread is carried out on the owning thread while the
// sender waits (the owner must be pumping messages); PostMessageA and
// PostThreadMessageA may target any thread.  The window tree, classes and
// menus are guarded by one process-wide lock that is never held while a
// window procedure runs.
//
// Handles are numbers, not pointers: a stale or foreign handle is refused
// (FALSE / 0 with ERROR_INVALID_WINDOW_HANDLE or ERROR_INVALID_MENU_HANDLE),
// never dereferenced.
//
// The window system starts itself on first use with the backend chosen by
// DefaultWindowBackend(); a host that wants another one calls
// InitWindowSystem first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/kernel.h"

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using ATOM = WORD;
using COLORREF = DWORD;
using SHORT = int16_t;
using WCHAR = char16_t;

using HWND = struct PrWindowHandle*;
using HMENU = struct PrMenuHandle*;
using HDC = struct PrDeviceContext*;
using HICON = struct PrIconHandle*;
using HCURSOR = HICON;
using HGDIOBJ = struct PrGdiObject*;
using HBRUSH = HGDIOBJ;
using HFONT = HGDIOBJ;
using HINSTANCE = HMODULE;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);
using WNDENUMPROC = BOOL (*)(HWND, LPARAM);

struct POINT {
  LONG x;
  LONG y;
};
struct SIZE {
  LONG cx;
  LONG cy;
};
struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

inline WORD LOWORD(uintptr_t v) { return static_cast<WORD>(v & 0xFFFF); }
inline WORD HIWORD(uintptr_t v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
inline LONG MAKELONG(WORD lo, WORD hi) { return static_cast<LONG>(static_cast<DWORD>(lo) | (static_cast<DWORD>(hi) << 16)); }
inline WPARAM MAKEWPARAM(WORD lo, WORD hi) { return static_cast<DWORD>(MAKELONG(lo, hi)); }
inline LPARAM MAKELPARAM(WORD lo, WORD hi) { return static_cast<DWORD>(MAKELONG(lo, hi)); }
inline int GET_X_LPARAM(LPARAM l) { return static_cast<SHORT>(LOWORD(static_cast<uintptr_t>(l))); }
inline int GET_Y_LPARAM(LPARAM l) { return static_cast<SHORT>(HIWORD(static_cast<uintptr_t>(l))); }
inline constexpr COLORREF RGB(int r, int g, int b) {
  return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
inline constexpr int GetRValue(COLORREF c) { return c & 0xFF; }
inline constexpr int GetGValue(COLORREF c) { return (c >> 8) & 0xFF; }
inline constexpr int GetBValue(COLORREF c) { return (c >> 16) & 0xFF; }
// A resource number in place of a name, as on Windows.
inline const char* MAKEINTRESOURCEA(UINT id) { return reinterpret_cast<const char*>(static_cast<uintptr_t>(id & 0xFFFF)); }
inline bool IS_INTRESOURCE(const void* p) { return (reinterpret_cast<uintptr_t>(p) >> 16) == 0; }

// ---------------------------------------------------------------- errors of this layer
inline constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
inline constexpr DWORD ERROR_INVALID_MENU_HANDLE = 1401;
inline constexpr DWORD ERROR_INVALID_CURSOR_HANDLE = 1402;
inline constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
inline constexpr DWORD ERROR_WINDOW_OF_OTHER_THREAD = 1408;
inline constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
inline constexpr DWORD ERROR_CLASS_HAS_WINDOWS = 1412;
inline constexpr DWORD ERROR_INVALID_INDEX = 1413;
inline constexpr DWORD ERROR_CLIPBOARD_NOT_OPEN = 1418;
inline constexpr DWORD ERROR_INVALID_DWP_HANDLE = 1405;
inline constexpr DWORD ERROR_TIMEOUT = 1460;

// ---------------------------------------------------------------- messages
inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_MOVE = 0x0003;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_ACTIVATE = 0x0006;
inline constexpr UINT WM_SETFOCUS = 0x0007;
inline constexpr UINT WM_KILLFOCUS = 0x0008;
inline constexpr UINT WM_ENABLE = 0x000A;
inline constexpr UINT WM_SETREDRAW = 0x000B;
inline constexpr UINT WM_SETTEXT = 0x000C;
inline constexpr UINT WM_GETTEXT = 0x000D;
inline constexpr UINT WM_GETTEXTLENGTH = 0x000E;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_ERASEBKGND = 0x0014;
inline constexpr UINT WM_SHOWWINDOW = 0x0018;
inline constexpr UINT WM_ACTIVATEAPP = 0x001C;
inline constexpr UINT WM_CANCELMODE = 0x001F;
inline constexpr UINT WM_SETCURSOR = 0x0020;
inline constexpr UINT WM_MOUSEACTIVATE = 0x0021;
inline constexpr UINT WM_NEXTDLGCTL = 0x0028;
inline constexpr UINT WM_DRAWITEM = 0x002B;
inline constexpr UINT WM_MEASUREITEM = 0x002C;
inline constexpr UINT WM_SETFONT = 0x0030;
inline constexpr UINT WM_GETFONT = 0x0031;
inline constexpr UINT WM_CONTEXTMENU = 0x007B;
inline constexpr UINT WM_SETICON = 0x0080;
inline constexpr UINT WM_NCCREATE = 0x0081;
inline constexpr UINT WM_NCDESTROY = 0x0082;
inline constexpr UINT WM_NCHITTEST = 0x0084;
inline constexpr UINT WM_NCPAINT = 0x0085;
inline constexpr UINT WM_GETDLGCODE = 0x0087;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_KEYUP = 0x0101;
inline constexpr UINT WM_CHAR = 0x0102;
inline constexpr UINT WM_SYSKEYDOWN = 0x0104;
inline constexpr UINT WM_SYSKEYUP = 0x0105;
inline constexpr UINT WM_SYSCHAR = 0x0106;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_HSCROLL = 0x0114;
inline constexpr UINT WM_VSCROLL = 0x0115;
inline constexpr UINT WM_INITMENUPOPUP = 0x0117;
inline constexpr UINT WM_MENUSELECT = 0x011F;
inline constexpr UINT WM_ENTERIDLE = 0x0121;
inline constexpr UINT WM_CTLCOLORMSGBOX = 0x0132;
inline constexpr UINT WM_CTLCOLOREDIT = 0x0133;
inline constexpr UINT WM_CTLCOLORLISTBOX = 0x0134;
inline constexpr UINT WM_CTLCOLORBTN = 0x0135;
inline constexpr UINT WM_CTLCOLORDLG = 0x0136;
inline constexpr UINT WM_CTLCOLORSCROLLBAR = 0x0137;
inline constexpr UINT WM_CTLCOLORSTATIC = 0x0138;
inline constexpr UINT WM_NCMOUSEMOVE = 0x00A0;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_RBUTTONUP = 0x0205;
inline constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
inline constexpr UINT WM_MBUTTONDOWN = 0x0207;
inline constexpr UINT WM_MBUTTONUP = 0x0208;
inline constexpr UINT WM_MBUTTONDBLCLK = 0x0209;
inline constexpr UINT WM_MOUSEWHEEL = 0x020A;
inline constexpr UINT WM_CAPTURECHANGED = 0x0215;
inline constexpr UINT WM_CUT = 0x0300;
inline constexpr UINT WM_COPY = 0x0301;
inline constexpr UINT WM_PASTE = 0x0302;
inline constexpr UINT WM_CLEAR = 0x0303;
inline constexpr UINT WM_UNDO = 0x0304;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

// WM_ACTIVATE
inline constexpr WORD WA_INACTIVE = 0;
inline constexpr WORD WA_ACTIVE = 1;
inline constexpr WORD WA_CLICKACTIVE = 2;
// WM_SIZE
inline constexpr WPARAM SIZE_RESTORED = 0;
// WM_GETDLGCODE results
inline constexpr LRESULT DLGC_WANTARROWS = 0x1;
inline constexpr LRESULT DLGC_WANTTAB = 0x2;
inline constexpr LRESULT DLGC_WANTALLKEYS = 0x4;
inline constexpr LRESULT DLGC_HASSETSEL = 0x8;
inline constexpr LRESULT DLGC_DEFPUSHBUTTON = 0x10;
inline constexpr LRESULT DLGC_UNDEFPUSHBUTTON = 0x20;
inline constexpr LRESULT DLGC_STATIC = 0x100;
inline constexpr LRESULT DLGC_BUTTON = 0x2000;
inline constexpr LRESULT DLGC_WANTCHARS = 0x80;
// WM_NCHITTEST results
inline constexpr LRESULT HTNOWHERE = 0;
inline constexpr LRESULT HTCLIENT = 1;
inline constexpr LRESULT HTCAPTION = 2;
inline constexpr LRESULT HTVSCROLL = 7;
inline constexpr LRESULT HTBORDER = 18;
// Modifier bits in the wParam of mouse messages.
inline constexpr WPARAM MK_LBUTTON = 0x1;
inline constexpr WPARAM MK_RBUTTON = 0x2;
inline constexpr WPARAM MK_SHIFT = 0x4;
inline constexpr WPARAM MK_CONTROL = 0x8;
inline constexpr WPARAM MK_MBUTTON = 0x10;

// Virtual keys.
inline constexpr UINT VK_LBUTTON = 0x01;
inline constexpr UINT VK_RBUTTON = 0x02;
inline constexpr UINT VK_MBUTTON = 0x04;
inline constexpr UINT VK_BACK = 0x08;
inline constexpr UINT VK_TAB = 0x09;
inline constexpr UINT VK_RETURN = 0x0D;
inline constexpr UINT VK_SHIFT = 0x10;
inline constexpr UINT VK_CONTROL = 0x11;
inline constexpr UINT VK_MENU = 0x12;
inline constexpr UINT VK_PAUSE = 0x13;
inline constexpr UINT VK_CAPITAL = 0x14;
inline constexpr UINT VK_ESCAPE = 0x1B;
inline constexpr UINT VK_SPACE = 0x20;
inline constexpr UINT VK_PRIOR = 0x21;
inline constexpr UINT VK_NEXT = 0x22;
inline constexpr UINT VK_END = 0x23;
inline constexpr UINT VK_HOME = 0x24;
inline constexpr UINT VK_LEFT = 0x25;
inline constexpr UINT VK_UP = 0x26;
inline constexpr UINT VK_RIGHT = 0x27;
inline constexpr UINT VK_DOWN = 0x28;
inline constexpr UINT VK_INSERT = 0x2D;
inline constexpr UINT VK_DELETE = 0x2E;
inline constexpr UINT VK_APPS = 0x5D;
inline constexpr UINT VK_F1 = 0x70;
inline constexpr UINT VK_F12 = 0x7B;
inline constexpr UINT VK_F24 = 0x87;
inline constexpr UINT VK_NUMLOCK = 0x90;
inline constexpr UINT VK_SCROLL = 0x91;
// Bits of the lParam of keyboard messages.
inline constexpr LPARAM KF_EXTENDED_BIT = 1 << 24;
inline constexpr LPARAM KF_ALTDOWN_BIT = 1 << 29;
inline constexpr LPARAM KF_UP_BIT = static_cast<LPARAM>(1u << 31);

// ---------------------------------------------------------------- window styles
inline constexpr DWORD WS_OVERLAPPED = 0x00000000u;
inline constexpr DWORD WS_POPUP = 0x80000000u;
inline constexpr DWORD WS_CHILD = 0x40000000u;
inline constexpr DWORD WS_MINIMIZE = 0x20000000u;
inline constexpr DWORD WS_VISIBLE = 0x10000000u;
inline constexpr DWORD WS_DISABLED = 0x08000000u;
inline constexpr DWORD WS_CLIPSIBLINGS = 0x04000000u;
inline constexpr DWORD WS_CLIPCHILDREN = 0x02000000u;
inline constexpr DWORD WS_MAXIMIZE = 0x01000000u;
inline constexpr DWORD WS_CAPTION = 0x00C00000u;
inline constexpr DWORD WS_BORDER = 0x00800000u;
inline constexpr DWORD WS_DLGFRAME = 0x00400000u;
inline constexpr DWORD WS_VSCROLL = 0x00200000u;
inline constexpr DWORD WS_HSCROLL = 0x00100000u;
inline constexpr DWORD WS_SYSMENU = 0x00080000u;
inline constexpr DWORD WS_THICKFRAME = 0x00040000u;
inline constexpr DWORD WS_GROUP = 0x00020000u;
inline constexpr DWORD WS_TABSTOP = 0x00010000u;
inline constexpr DWORD WS_MINIMIZEBOX = 0x00020000u;
inline constexpr DWORD WS_MAXIMIZEBOX = 0x00010000u;
inline constexpr DWORD WS_OVERLAPPEDWINDOW = 0x00CF0000u;
inline constexpr DWORD WS_EX_DLGMODALFRAME = 0x00000001u;
inline constexpr DWORD WS_EX_NOPARENTNOTIFY = 0x00000004u;
inline constexpr DWORD WS_EX_TOPMOST = 0x00000008u;
inline constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080u;
inline constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200u;
inline constexpr DWORD WS_EX_CONTROLPARENT = 0x00010000u;
inline constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);

// Dialog styles.
inline constexpr DWORD DS_ABSALIGN = 0x01;
inline constexpr DWORD DS_SYSMODAL = 0x02;
inline constexpr DWORD DS_SETFONT = 0x40;
inline constexpr DWORD DS_MODALFRAME = 0x80;
inline constexpr DWORD DS_NOIDLEMSG = 0x100;
inline constexpr DWORD DS_SETFOREGROUND = 0x200;
inline constexpr DWORD DS_CENTER = 0x800;
// Button styles and notifications.
inline constexpr DWORD BS_PUSHBUTTON = 0x0;
inline constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
inline constexpr DWORD BS_CHECKBOX = 0x2;
inline constexpr DWORD BS_AUTOCHECKBOX = 0x3;
inline constexpr DWORD BS_GROUPBOX = 0x7;
inline constexpr DWORD BS_OWNERDRAW = 0xB;
inline constexpr DWORD BS_TYPEMASK = 0xF;
inline constexpr WORD BN_CLICKED = 0;
inline constexpr WPARAM BST_UNCHECKED = 0;
inline constexpr WPARAM BST_CHECKED = 1;
inline constexpr WPARAM BST_FOCUS = 8;
inline constexpr WPARAM BST_PUSHED = 4;
// Static styles.
inline constexpr DWORD SS_LEFT = 0x0;
inline constexpr DWORD SS_CENTER = 0x1;
inline constexpr DWORD SS_RIGHT = 0x2;
inline constexpr DWORD SS_ICON = 0x3;
inline constexpr DWORD SS_OWNERDRAW = 0xD;
inline constexpr DWORD SS_TYPEMASK = 0x1F;
inline constexpr DWORD SS_NOPREFIX = 0x80;
inline constexpr DWORD SS_NOTIFY = 0x100;
// Edit styles.
inline constexpr DWORD ES_LEFT = 0x0;
inline constexpr DWORD ES_CENTER = 0x1;
inline constexpr DWORD ES_RIGHT = 0x2;
inline constexpr DWORD ES_MULTILINE = 0x4;
inline constexpr DWORD ES_UPPERCASE = 0x8;
inline constexpr DWORD ES_PASSWORD = 0x20;
inline constexpr DWORD ES_AUTOVSCROLL = 0x40;
inline constexpr DWORD ES_AUTOHSCROLL = 0x80;
inline constexpr DWORD ES_READONLY = 0x800;

// Control messages.
inline constexpr UINT EM_GETSEL = 0x00B0;
inline constexpr UINT EM_SETSEL = 0x00B1;
inline constexpr UINT EM_SCROLL = 0x00B5;
inline constexpr UINT EM_LINESCROLL = 0x00B6;
inline constexpr UINT EM_GETMODIFY = 0x00B8;
inline constexpr UINT EM_SETMODIFY = 0x00B9;
inline constexpr UINT EM_GETLINECOUNT = 0x00BA;
inline constexpr UINT EM_LIMITTEXT = 0x00C5;
inline constexpr UINT EM_UNDO = 0x00C7;
inline constexpr UINT EM_GETFIRSTVISIBLELINE = 0x00CE;
inline constexpr UINT EM_SETREADONLY = 0x00CF;
inline constexpr UINT BM_GETCHECK = 0x00F0;
inline constexpr UINT BM_SETCHECK = 0x00F1;
inline constexpr UINT BM_GETSTATE = 0x00F2;
inline constexpr UINT BM_SETSTATE = 0x00F3;
inline constexpr UINT BM_SETSTYLE = 0x00F4;
inline constexpr UINT BM_CLICK = 0x00F5;
inline constexpr UINT STM_SETICON = 0x0170;
inline constexpr UINT STM_GETICON = 0x0171;
inline constexpr UINT DM_GETDEFID = WM_USER + 0;
inline constexpr UINT DM_SETDEFID = WM_USER + 1;
inline constexpr WORD DC_HASDEFID = 0x534B;

// Standard dialog command IDs.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr int IDCLOSE = 8;
inline constexpr int IDHELP = 9;

// The predefined classes: "Button", "Edit", "Static" and the dialog class
// "#32770" (a template's class ordinal 0x80, 0x81, 0x82 names the first three).
inline constexpr char WC_DIALOG[] = "#32770";

// ---------------------------------------------------------------- classes and windows
inline constexpr UINT CS_VREDRAW = 0x1;
inline constexpr UINT CS_HREDRAW = 0x2;
inline constexpr UINT CS_DBLCLKS = 0x8;
inline constexpr UINT CS_SAVEBITS = 0x800;

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;  // bytes reachable through Get/SetWindowLongPtrA at 0, 8, ...
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;  // a brush, or (COLOR_xxx + 1) cast to HBRUSH
  const char* lpszMenuName;
  const char* lpszClassName;
};

struct CREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  const char* lpszName;
  const char* lpszClass;
  DWORD dwExStyle;
};

// Registers a class (names compare without regard to case).  Returns its atom,
// 0 with ERROR_CLASS_ALREADY_EXISTS when the name is taken.
ATOM RegisterClassA(const WNDCLASSA* wc);
// Fails with ERROR_CLASS_HAS_WINDOWS while windows of the class exist.
BOOL UnregisterClassA(const char* className, HINSTANCE instance);
BOOL GetClassInfoA(HINSTANCE instance, const char* className, WNDCLASSA* wc);
int GetClassNameA(HWND window, char* className, int maxCount);

// Creates a window.  Child windows (WS_CHILD) take `parent` as parent and
// `menu` as their control ID; other windows take `parent` as owner.  Positions
// of children are relative to the parent's client area; CW_USEDEFAULT picks a
// position (centred on the screen) and a size (half the screen).  Sends
// WM_NCCREATE and WM_CREATE; a result of FALSE / -1 destroys the window and
// returns 0.  The new window is on top of its siblings.
HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
inline HWND CreateWindowA(const char* className, const char* windowName, DWORD style, int x, int y, int width,
                          int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  return CreateWindowExA(0, className, windowName, style, x, y, width, height, parent, menu, instance, param);
}
// Destroys the window, its children and the windows it owns (WM_DESTROY, then
// WM_NCDESTROY, children first after the parent's WM_DESTROY).  Focus and
// activation move away from the destroyed windows.  Only the owning thread
// may destroy a window (ERROR_ACCESS_DENIED otherwise).
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
BOOL IsChild(HWND parent, HWND window);
HWND GetParent(HWND window);  // the parent of a child, the owner of a top-level window
HWND GetDesktopWindow();
inline constexpr UINT GW_HWNDFIRST = 0;
inline constexpr UINT GW_HWNDLAST = 1;
inline constexpr UINT GW_HWNDNEXT = 2;
inline constexpr UINT GW_HWNDPREV = 3;
inline constexpr UINT GW_OWNER = 4;
inline constexpr UINT GW_CHILD = 5;
// Siblings are in z-order, topmost first.
HWND GetWindow(HWND window, UINT relation);
inline constexpr UINT GA_PARENT = 1;
inline constexpr UINT GA_ROOT = 2;
inline constexpr UINT GA_ROOTOWNER = 3;
HWND GetAncestor(HWND window, UINT flags);
BOOL EnumChildWindows(HWND parent, WNDENUMPROC callback, LPARAM param);  // all descendants, depth first
BOOL EnumThreadWindows(DWORD threadId, WNDENUMPROC callback, LPARAM param);  // top-level windows
DWORD GetWindowThreadProcessId(HWND window, DWORD* processId);
HWND FindWindowA(const char* className, const char* windowName);  // top-level; either may be null

inline constexpr int GWLP_WNDPROC = -4;
inline constexpr int GWLP_HINSTANCE = -6;
inline constexpr int GWLP_HWNDPARENT = -8;
inline constexpr int GWLP_ID = -12;
inline constexpr int GWL_STYLE = -16;
inline constexpr int GWL_EXSTYLE = -20;
inline constexpr int GWLP_USERDATA = -21;
inline constexpr int DWLP_MSGRESULT = 0;
inline constexpr int DWLP_DLGPROC = 8;
inline constexpr int DWLP_USER = 16;
inline constexpr int DLGWINDOWEXTRA = 24;
// Indexes >= 0 address the class's window extra bytes (8 per slot); beyond
// them the call fails with ERROR_INVALID_INDEX and returns 0.  Setting
// GWL_STYLE changes the stored style (visibility and enabled state follow
// WS_VISIBLE and WS_DISABLED).
LONG_PTR GetWindowLongPtrA(HWND window, int index);
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
inline LONG GetWindowLongA(HWND window, int index) { return static_cast<LONG>(GetWindowLongPtrA(window, index)); }
inline LONG SetWindowLongA(HWND window, int index, LONG value) {
  return static_cast<LONG>(SetWindowLongPtrA(window, index, value));
}

int GetWindowTextA(HWND window, char* text, int maxCount);  // sends WM_GETTEXT
int GetWindowTextLengthA(HWND window);
BOOL SetWindowTextA(HWND window, const char* text);  // sends WM_SETTEXT

BOOL ShowWindow(HWND window, int command);
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOW = 5;
inline constexpr int SW_MINIMIZE = 6;
inline constexpr int SW_SHOWNA = 8;
inline constexpr int SW_RESTORE = 9;
BOOL IsWindowVisible(HWND window);  // visible itself and every ancestor
BOOL EnableWindow(HWND window, BOOL enable);  // returns TRUE when it was disabled
BOOL IsWindowEnabled(HWND window);

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
inline constexpr UINT SWP_NOSIZE = 0x1;
inline constexpr UINT SWP_NOMOVE = 0x2;
inline constexpr UINT SWP_NOZORDER = 0x4;
inline constexpr UINT SWP_NOREDRAW = 0x8;
inline constexpr UINT SWP_NOACTIVATE = 0x10;
inline constexpr UINT SWP_SHOWWINDOW = 0x40;
inline constexpr UINT SWP_HIDEWINDOW = 0x80;
inline HWND const HWND_TOP = nullptr;
inline HWND const HWND_BOTTOM = reinterpret_cast<HWND>(1);
inline HWND const HWND_TOPMOST = reinterpret_cast<HWND>(-1);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL BringWindowToTop(HWND window);
BOOL GetWindowRect(HWND window, RECT* rect);  // screen cells, frame included
BOOL GetClientRect(HWND window, RECT* rect);  // (0, 0, width, height) of the client area
BOOL ClientToScreen(HWND window, POINT* point);
BOOL ScreenToClient(HWND window, POINT* point);
int MapWindowPoints(HWND from, HWND to, POINT* points, UINT count);
// Window size needed for a client rectangle with the given style (frames are
// one cell; the caption sits in the top frame line).
BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD exStyle);
HWND WindowFromPoint(POINT point);  // topmost visible window (child included) at a screen cell
HWND ChildWindowFromPoint(HWND parent, POINT clientPoint);

// ---------------------------------------------------------------- messages and queues
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Queue a message for the window's thread (any thread may post).  Fails with
// ERROR_INVALID_WINDOW_HANDLE for a dead window; a null window posts to the
// calling thread.
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// Waits for the next message of the calling thread (posted messages first,
// then input, then WM_PAINT for windows that need it, then WM_TIMER).
// Returns FALSE for WM_QUIT, -1 for an invalid window filter.  Messages of
// other threads sent to this thread's windows are delivered while waiting.
BOOL GetMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax);
inline constexpr UINT PM_NOREMOVE = 0;
inline constexpr UINT PM_REMOVE = 1;
inline constexpr UINT PM_NOYIELD = 2;
// As GetMessageA without waiting: TRUE when a message was found.
BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
// Waits until the calling thread has a message or input (or timeout ms pass).
BOOL WaitMessage();
BOOL TranslateMessage(const MSG* msg);  // characters travel as WM_CHAR already: no-op, TRUE for key messages
LRESULT DispatchMessageA(const MSG* msg);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProcA(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
DWORD GetMessageTime();
LONG GetMessagePos();  // screen cell of the last message, MAKELONG(x, y)

// Modifier and lock state as of the last input message the thread retrieved:
// bit 15 set when down, bit 0 when toggled (VK_CAPITAL, VK_NUMLOCK,
// VK_SCROLL, VK_INSERT).
SHORT GetKeyState(int virtualKey);
SHORT GetAsyncKeyState(int virtualKey);

// Timers are delivered as WM_TIMER by GetMessage/PeekMessage of the owning
// thread (or call the TIMERPROC).  In the headless backend time is virtual:
// a waiting thread's next timer is due at once.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL KillTimer(HWND window, UINT_PTR id);

// ---------------------------------------------------------------- focus and activation (per thread)
HWND SetFocus(HWND window);  // WM_KILLFOCUS / WM_SETFOCUS; null removes the focus; returns the previous one
HWND GetFocus();
HWND SetActiveWindow(HWND window);  // a top-level window of this thread; returns the previous one
HWND GetActiveWindow();
BOOL SetForegroundWindow(HWND window);
HWND GetForegroundWindow();  // the system's active window, of any thread
HWND SetCapture(HWND window);
BOOL ReleaseCapture();
HWND GetCapture();

// ---------------------------------------------------------------- painting
inline constexpr int COLOR_SCROLLBAR = 0;
inline constexpr int COLOR_BACKGROUND = 1;
inline constexpr int COLOR_ACTIVECAPTION = 2;
inline constexpr int COLOR_INACTIVECAPTION = 3;
inline constexpr int COLOR_MENU = 4;
inline constexpr int COLOR_WINDOW = 5;
inline constexpr int COLOR_WINDOWFRAME = 6;
inline constexpr int COLOR_MENUTEXT = 7;
inline constexpr int COLOR_WINDOWTEXT = 8;
inline constexpr int COLOR_CAPTIONTEXT = 9;
inline constexpr int COLOR_HIGHLIGHT = 13;
inline constexpr int COLOR_HIGHLIGHTTEXT = 14;
inline constexpr int COLOR_BTNFACE = 15;
inline constexpr int COLOR_BTNSHADOW = 16;
inline constexpr int COLOR_GRAYTEXT = 17;
inline constexpr int COLOR_BTNTEXT = 18;
inline constexpr int COLOR_INACTIVECAPTIONTEXT = 19;
inline constexpr int COLOR_BTNHIGHLIGHT = 20;
inline constexpr int COLOR_INFOTEXT = 23;
inline constexpr int COLOR_INFOBK = 24;
COLORREF GetSysColor(int index);
HBRUSH GetSysColorBrush(int index);  // shared, never deleted
HBRUSH CreateSolidBrush(COLORREF color);
inline constexpr int WHITE_BRUSH = 0;
inline constexpr int LTGRAY_BRUSH = 1;
inline constexpr int GRAY_BRUSH = 2;
inline constexpr int BLACK_BRUSH = 4;
inline constexpr int NULL_BRUSH = 5;
inline constexpr int SYSTEM_FONT = 13;
inline constexpr int DEFAULT_GUI_FONT = 17;
inline constexpr int ANSI_VAR_FONT = 12;
HGDIOBJ GetStockObject(int object);
BOOL DeleteObject(HGDIOBJ object);  // stock and system objects are left alone
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);

// Fonts have no effect on the cells; they exist so that windows can carry and
// hand on a font.  Every font measures 1 x 1 cell per character.
struct LOGFONTA {
  LONG lfHeight, lfWidth, lfEscapement, lfOrientation, lfWeight;
  BYTE lfItalic, lfUnderline, lfStrikeOut, lfCharSet, lfOutPrecision, lfClipPrecision, lfQuality, lfPitchAndFamily;
  char lfFaceName[32];
};
HFONT CreateFontIndirectA(const LOGFONTA* font);
struct NONCLIENTMETRICSA {
  UINT cbSize;
  int iBorderWidth, iScrollWidth, iScrollHeight, iCaptionWidth, iCaptionHeight;
  LOGFONTA lfCaptionFont;
  int iSmCaptionWidth, iSmCaptionHeight;
  LOGFONTA lfSmCaptionFont;
  int iMenuWidth, iMenuHeight;
  LOGFONTA lfMenuFont, lfStatusFont, lfMessageFont;
};
struct TEXTMETRICA {
  LONG tmHeight, tmAscent, tmDescent, tmInternalLeading, tmExternalLeading, tmAveCharWidth, tmMaxCharWidth;
  LONG tmWeight;
  BYTE tmFirstChar, tmLastChar, tmDefaultChar, tmBreakChar;
};
BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* metrics);
BOOL GetTextExtentPoint32A(HDC dc, const char* text, int length, SIZE* size);
LONG GetDialogBaseUnits();  // MAKELONG(1, 1): one cell per average character
// Dialog units to cells: ceil(n / 4) across, ceil(n / 8) down.
BOOL MapDialogRect(HWND dialog, RECT* rect);

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
};
// A device context draws into the window's cells, clipped to its client
// area (GetWindowDC: the whole window).  Coordinates are client cells.
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
HDC GetDC(HWND window);
HDC GetWindowDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
// Marks the window (its client area) for repainting; the WM_PAINT follows
// when the owning thread's queue is empty.
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL UpdateWindow(HWND window);  // paints now if invalid
BOOL RedrawWindow(HWND window, const RECT* rect, void* region, UINT flags);
inline constexpr UINT RDW_INVALIDATE = 0x1;
inline constexpr UINT RDW_ERASE = 0x4;
inline constexpr UINT RDW_ALLCHILDREN = 0x80;
inline constexpr UINT RDW_UPDATENOW = 0x100;

COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF SetBkColor(HDC dc, COLORREF color);
inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;
int SetBkMode(HDC dc, int mode);
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
int FrameRect(HDC dc, const RECT* rect, HBRUSH brush);  // a line-drawn box in the brush's colour
BOOL DrawFocusRect(HDC dc, const RECT* rect);
BOOL TextOutA(HDC dc, int x, int y, const char* text, int length);

inline constexpr UINT DT_TOP = 0x0;
inline constexpr UINT DT_LEFT = 0x0;
inline constexpr UINT DT_CENTER = 0x1;
inline constexpr UINT DT_RIGHT = 0x2;
inline constexpr UINT DT_VCENTER = 0x4;
inline constexpr UINT DT_BOTTOM = 0x8;
inline constexpr UINT DT_WORDBREAK = 0x10;
inline constexpr UINT DT_SINGLELINE = 0x20;
inline constexpr UINT DT_EXPANDTABS = 0x40;
inline constexpr UINT DT_TABSTOP = 0x80;
inline constexpr UINT DT_NOCLIP = 0x100;
inline constexpr UINT DT_CALCRECT = 0x400;
inline constexpr UINT DT_NOPREFIX = 0x800;
inline constexpr UINT DT_EDITCONTROL = 0x2000;
inline constexpr UINT DT_END_ELLIPSIS = 0x8000;
inline constexpr UINT DT_HIDEPREFIX = 0x100000;
// Draws (or with DT_CALCRECT measures, widening the rectangle's right and
// bottom to the text) `length` bytes of text, -1 for NUL-terminated.  Lines
// break at CR LF, CR or LF; DT_WORDBREAK wraps at spaces (a word longer than
// the width is broken); DT_EXPANDTABS expands tabs to every 8th cell; without
// DT_NOPREFIX "&x" underlines x and "&&" draws "&".  Returns the text height.
int DrawTextA(HDC dc, const char* text, int length, RECT* rect, UINT format);
BOOL DrawIcon(HDC dc, int x, int y, HICON icon);

// ---------------------------------------------------------------- scroll bars
// A window with WS_VSCROLL has a one-cell bar at the right of its frame;
// clicks on it send WM_VSCROLL with these codes.
inline constexpr int SB_HORZ = 0;
inline constexpr int SB_VERT = 1;
inline constexpr int SB_CTL = 2;
inline constexpr WORD SB_LINEUP = 0;
inline constexpr WORD SB_LINEDOWN = 1;
inline constexpr WORD SB_PAGEUP = 2;
inline constexpr WORD SB_PAGEDOWN = 3;
inline constexpr WORD SB_THUMBPOSITION = 4;
inline constexpr WORD SB_THUMBTRACK = 5;
inline constexpr WORD SB_TOP = 6;
inline constexpr WORD SB_BOTTOM = 7;
inline constexpr WORD SB_ENDSCROLL = 8;
inline constexpr UINT SIF_RANGE = 0x1;
inline constexpr UINT SIF_PAGE = 0x2;
inline constexpr UINT SIF_POS = 0x4;
inline constexpr UINT SIF_TRACKPOS = 0x10;
inline constexpr UINT SIF_ALL = 0x17;
struct SCROLLINFO {
  UINT cbSize;
  UINT fMask;
  int nMin;
  int nMax;
  UINT nPage;
  int nPos;
  int nTrackPos;
};
int SetScrollInfo(HWND window, int bar, const SCROLLINFO* info, BOOL redraw);
BOOL GetScrollInfo(HWND window, int bar, SCROLLINFO* info);
int SetScrollPos(HWND window, int bar, int pos, BOOL redraw);
int GetScrollPos(HWND window, int bar);
BOOL SetScrollRange(HWND window, int bar, int minPos, int maxPos, BOOL redraw);
BOOL ShowScrollBar(HWND window, int bar, BOOL show);

// ---------------------------------------------------------------- dialogs
#pragma pack(push, 2)
// In memory a template is: DLGTEMPLATE; menu, class and title (each a WORD 0,
// 0xFFFF plus an ordinal, or a NUL-terminated UTF-16 string); with DS_SETFONT
// a WORD point size and a UTF-16 face name; then `cdit` items, each aligned
// to 4 bytes: DLGITEMTEMPLATE, class (0xFFFF + 0x80 button, 0x81 edit, 0x82
// static, or a UTF-16 class name), title (0xFFFF + resource ordinal, or a
// UTF-16 string), a WORD count of creation data and that many bytes.
// Positions and sizes are dialog units.
struct DLGTEMPLATE {
  DWORD style;
  DWORD dwExtendedStyle;
  WORD cdit;
  SHORT x;
  SHORT y;
  SHORT cx;
  SHORT cy;
};
struct DLGITEMTEMPLATE {
  DWORD style;
  DWORD dwExtendedStyle;
  SHORT x;
  SHORT y;
  SHORT cx;
  SHORT cy;
  WORD id;
};
#pragma pack(pop)
static_assert(sizeof(DLGTEMPLATE) == 18 && sizeof(DLGITEMTEMPLATE) == 18);

// Runs a modal dialog built from the template over `owner` (disabled for the
// dialog's life, re-enabled and re-activated afterwards).  The dialog's
// client area is cx x cy dialog units; with DS_CENTER or no owner it is
// centred on the screen, else placed relative to the owner's client area.
// WM_INITDIALOG goes to the procedure after the controls exist; a TRUE result
// focuses the first tab stop.  The dialog manager: Tab / Shift+Tab move
// between WS_TABSTOP controls; Enter presses the focused push button, else the
// default (DM_GETDEFID) button; Escape sends WM_COMMAND IDCANCEL only when a
// control with ID IDCANCEL exists; a mnemonic letter (with Alt, or alone when
// a button has the focus) presses its button; WM_CLOSE sends IDCANCEL likewise.
// Returns the value given to EndDialog, or -1 when the template is malformed
// (too many items, an unknown class, strings over 65535 characters) or the
// window cannot be created.  In the headless backend a dialog whose input
// runs out ends with 0 (see HeadlessScript below).
INT_PTR DialogBoxIndirectParamA(HINSTANCE instance, const DLGTEMPLATE* dialogTemplate, HWND owner,
                                DLGPROC dialogProc, LPARAM initParam);
// A modeless dialog from a template; its messages go through IsDialogMessageA.
HWND CreateDialogIndirectParamA(HINSTANCE instance, const DLGTEMPLATE* dialogTemplate, HWND owner,
                                DLGPROC dialogProc, LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
BOOL IsDialogMessageA(HWND dialog, MSG* msg);
LRESULT DefDlgProcA(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND window);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
BOOL SetDlgItemTextA(HWND dialog, int id, const char* text);
UINT GetDlgItemTextA(HWND dialog, int id, char* text, int maxCount);
HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous);

// ---------------------------------------------------------------- menus
inline constexpr UINT MF_STRING = 0x0;
inline constexpr UINT MF_BYCOMMAND = 0x0;
inline constexpr UINT MF_ENABLED = 0x0;
inline constexpr UINT MF_UNCHECKED = 0x0;
inline constexpr UINT MF_GRAYED = 0x1;
inline constexpr UINT MF_DISABLED = 0x2;
inline constexpr UINT MF_BITMAP = 0x4;
inline constexpr UINT MF_CHECKED = 0x8;
inline constexpr UINT MF_POPUP = 0x10;
inline constexpr UINT MF_MENUBARBREAK = 0x20;
inline constexpr UINT MF_MENUBREAK = 0x40;
inline constexpr UINT MF_HILITE = 0x80;
inline constexpr UINT MF_OWNERDRAW = 0x100;
inline constexpr UINT MF_BYPOSITION = 0x400;
inline constexpr UINT MF_SEPARATOR = 0x800;
inline constexpr UINT TPM_LEFTALIGN = 0x0;
inline constexpr UINT TPM_LEFTBUTTON = 0x0;
inline constexpr UINT TPM_TOPALIGN = 0x0;
inline constexpr UINT TPM_RIGHTBUTTON = 0x2;
inline constexpr UINT TPM_CENTERALIGN = 0x4;
inline constexpr UINT TPM_RIGHTALIGN = 0x8;
inline constexpr UINT TPM_VCENTERALIGN = 0x10;
inline constexpr UINT TPM_BOTTOMALIGN = 0x20;
inline constexpr UINT TPM_NONOTIFY = 0x80;
inline constexpr UINT TPM_RETURNCMD = 0x100;
inline constexpr UINT SC_SIZE = 0xF000;
inline constexpr UINT SC_MOVE = 0xF010;
inline constexpr UINT SC_MINIMIZE = 0xF020;
inline constexpr UINT SC_MAXIMIZE = 0xF030;
inline constexpr UINT SC_CLOSE = 0xF060;
inline constexpr UINT SC_RESTORE = 0xF120;
inline constexpr UINT SC_TASKLIST = 0xF130;
// For WM_MEASUREITEM / WM_DRAWITEM of owner-drawn menu items and controls.
inline constexpr UINT ODT_MENU = 1;
inline constexpr UINT ODT_BUTTON = 4;
inline constexpr UINT ODT_STATIC = 5;
inline constexpr UINT ODS_SELECTED = 0x1;
inline constexpr UINT ODS_GRAYED = 0x2;
inline constexpr UINT ODS_DISABLED = 0x4;
inline constexpr UINT ODS_CHECKED = 0x8;
inline constexpr UINT ODS_FOCUS = 0x10;
struct MEASUREITEMSTRUCT {
  UINT CtlType;
  UINT CtlID;
  UINT itemID;
  UINT itemWidth;
  UINT itemHeight;
  uintptr_t itemData;
};
struct DRAWITEMSTRUCT {
  UINT CtlType;
  UINT CtlID;
  UINT itemID;
  UINT itemAction;
  UINT itemState;
  HWND hwndItem;  // for menus: the menu handle
  HDC hDC;
  RECT rcItem;
  uintptr_t itemData;
};

HMENU CreatePopupMenu();
// Inserts before item `position` (MF_BYPOSITION; -1 or past the end appends)
// or before the item with command ID `position`.  MF_POPUP: `idNewItem` is
// the submenu's HMENU, which then belongs to this menu.  MF_OWNERDRAW: `item`
// is item data handed to WM_MEASUREITEM / WM_DRAWITEM of the owner window.
// Otherwise `item` is the caption ("&" marks the mnemonic, "\t" starts a
// right-aligned part).
BOOL InsertMenuA(HMENU menu, UINT position, UINT flags, UINT_PTR idNewItem, const char* item);
BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR idNewItem, const char* item);
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags);  // destroys a submenu it removes
BOOL RemoveMenu(HMENU menu, UINT position, UINT flags);  // keeps a submenu it removes
BOOL DestroyMenu(HMENU menu);  // and its submenus
BOOL IsMenu(HMENU menu);
int GetMenuItemCount(HMENU menu);  // -1 for an invalid handle
UINT GetMenuItemID(HMENU menu, int position);  // -1 (0xFFFFFFFF) for submenus and separators
UINT GetMenuState(HMENU menu, UINT position, UINT flags);  // the item's MF_ flags, -1 when absent
int GetMenuStringA(HMENU menu, UINT position, char* text, int maxCount, UINT flags);
HMENU GetSubMenu(HMENU menu, int position);
DWORD CheckMenuItem(HMENU menu, UINT position, UINT flags);  // previous MF_CHECKED state, -1 when absent
BOOL EnableMenuItem(HMENU menu, UINT position, UINT flags);  // previous state, -1 when absent
// The window's system menu (Move, Size, Minimize, Maximize, Close, Restore and
// Task List, as SC_ commands); revert restores the standard contents.
HMENU GetSystemMenu(HWND window, BOOL revert);
// Shows the menu with its top left corner at screen cell (x, y) (kept on the
// screen) and runs the menu loop until an item is chosen or the menu is
// dismissed: arrows move (Right/Left open and close submenus), Enter or the
// item's mnemonic chooses, Escape or a click outside dismisses; greyed and
// disabled items cannot be chosen.  With TPM_RETURNCMD the chosen command ID
// is returned (0 when dismissed); otherwise WM_COMMAND (ID, 0) is posted to
// `owner` and the result is TRUE when an item was chosen.  `owner` must be a
// window of the calling thread.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect);

// ---------------------------------------------------------------- system metrics and parameters
inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;
inline constexpr int SM_CXVSCROLL = 2;
inline constexpr int SM_CYHSCROLL = 3;
inline constexpr int SM_CYCAPTION = 4;
inline constexpr int SM_CXBORDER = 5;
inline constexpr int SM_CYBORDER = 6;
inline constexpr int SM_CXDLGFRAME = 7;
inline constexpr int SM_CYDLGFRAME = 8;
inline constexpr int SM_CYVTHUMB = 9;
inline constexpr int SM_CXHTHUMB = 10;
inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;
inline constexpr int SM_CXCURSOR = 13;
inline constexpr int SM_CYCURSOR = 14;
inline constexpr int SM_CYMENU = 15;
inline constexpr int SM_CXFULLSCREEN = 16;
inline constexpr int SM_CYFULLSCREEN = 17;
inline constexpr int SM_MOUSEPRESENT = 19;
inline constexpr int SM_CYVSCROLL = 20;
inline constexpr int SM_CXHSCROLL = 21;
inline constexpr int SM_CXMIN = 28;
inline constexpr int SM_CYMIN = 29;
inline constexpr int SM_CXFRAME = 32;
inline constexpr int SM_CYFRAME = 33;
inline constexpr int SM_CXDOUBLECLK = 36;
inline constexpr int SM_CYDOUBLECLK = 37;
inline constexpr int SM_CXSMICON = 49;
inline constexpr int SM_CYSMICON = 50;
inline constexpr int SM_CXVIRTUALSCREEN = 78;
inline constexpr int SM_CYVIRTUALSCREEN = 79;
inline constexpr int SM_CMONITORS = 80;
// In cells: the screen, a one-cell frame (SM_CYCAPTION is 0: the caption is
// written into the top frame line), scroll bars 1, a menu line 1, an icon 3 x 1
// (a mark such as "(!)"), 1 monitor.  Unknown indexes give 0.
int GetSystemMetrics(int index);
inline constexpr UINT SPI_GETNONCLIENTMETRICS = 0x29;
inline constexpr UINT SPI_GETWORKAREA = 0x30;
// SPI_GETWORKAREA: the whole screen (RECT*).  SPI_GETNONCLIENTMETRICS:
// NONCLIENTMETRICSA with the message font.  Other actions fail.
BOOL SystemParametersInfoA(UINT action, UINT uiParam, void* pvParam, UINT winIni);

// ---------------------------------------------------------------- clipboard (text only)
inline constexpr UINT CF_TEXT = 1;
inline constexpr UINT CF_OEMTEXT = 7;
BOOL OpenClipboard(HWND owner);  // FALSE when another thread has it open
BOOL CloseClipboard();
BOOL EmptyClipboard();
// `data` is a NUL-terminated ANSI text that the clipboard copies; the caller
// keeps its own buffer.  Returns a non-null handle on success.  Needs
// OpenClipboard (ERROR_CLIPBOARD_NOT_OPEN).
HANDLE SetClipboardData(UINT format, HANDLE data);
// The clipboard's own copy of the text (a `const char*`), valid until the
// clipboard is emptied or closed by its opener; null when there is none.
HANDLE GetClipboardData(UINT format);
BOOL IsClipboardFormatAvailable(UINT format);

// ---------------------------------------------------------------- caret
// One caret per thread, a cell in a window's client area; the terminal
// backend shows the hardware cursor there.
BOOL CreateCaret(HWND window, HANDLE bitmap, int width, int height);
BOOL DestroyCaret();
BOOL SetCaretPos(int x, int y);
BOOL GetCaretPos(POINT* point);
BOOL ShowCaret(HWND window);
BOOL HideCaret(HWND window);

// ---------------------------------------------------------------- icons, cursors, mouse, beep
inline constexpr UINT IDI_APPLICATION = 32512;
inline constexpr UINT IDI_HAND = 32513;
inline constexpr UINT IDI_ERROR = 32513;
inline constexpr UINT IDI_QUESTION = 32514;
inline constexpr UINT IDI_EXCLAMATION = 32515;
inline constexpr UINT IDI_WARNING = 32515;
inline constexpr UINT IDI_ASTERISK = 32516;
inline constexpr UINT IDI_INFORMATION = 32516;
inline constexpr UINT IDI_WINLOGO = 32517;
inline constexpr UINT IDC_ARROW = 32512;
inline constexpr UINT IDC_IBEAM = 32513;
inline constexpr UINT IDC_WAIT = 32514;
inline constexpr UINT IDC_CROSS = 32515;
inline constexpr UINT IDC_UPARROW = 32516;
inline constexpr UINT IDC_SIZE = 32640;
inline constexpr UINT IDC_ICON = 32641;
inline constexpr UINT IDC_SIZENWSE = 32642;
inline constexpr UINT IDC_SIZENESW = 32643;
inline constexpr UINT IDC_SIZEWE = 32644;
inline constexpr UINT IDC_SIZENS = 32645;
inline constexpr UINT IDC_SIZEALL = 32646;
inline constexpr UINT IDC_NO = 32648;
inline constexpr UINT IDC_HAND = 32649;
inline constexpr UINT IDC_APPSTARTING = 32650;
inline constexpr UINT IDC_HELP = 32651;
// With a null instance, `name` must be MAKEINTRESOURCEA of a standard number
// (IDI_ / IDC_); with a module, an icon (type "ICON") or cursor ("CURSOR")
// resource of that module by name or number.  Returns 0 when absent.
// Standard icons and cursors are shared and never destroyed.
HICON LoadIconA(HINSTANCE instance, const char* name);
HCURSOR LoadCursorA(HINSTANCE instance, const char* name);
// An icon or cursor file: an ".ico"/".cur" image directory (reserved 0, type
// 1 or 2, a count, 16-byte entries whose sizes and offsets lie inside the
// file); `index` picks an entry.  0 for a missing, short or malformed file.
HICON LoadIconFromFileA(const char* fileName, int index);
HCURSOR LoadCursorFromFileA(const char* fileName);
BOOL DestroyIcon(HICON icon);
BOOL DestroyCursor(HCURSOR cursor);
// The standard number of an icon or cursor (32513 ...), 0 for one loaded from
// a resource or file, or an invalid handle.
UINT IconStandardNumber(HICON icon);
// The mark drawn for an icon: "(X)" stop, "(?)" question, "(!)" exclamation,
// "(i)" information, "[*]" any other.
const char* IconMark(HICON icon);
// The mouse cursor is a setting only (the terminal has no pointer shape).
HCURSOR SetCursor(HCURSOR cursor);  // returns the previous one
HCURSOR GetCursor();
BOOL GetCursorPos(POINT* point);  // the cell of the last mouse input
BOOL SetCursorPos(int x, int y);
// Kept in the transcript ("beep 0x10") and rung in the terminal.
BOOL MessageBeep(UINT type);
inline constexpr UINT MB_OK = 0;
inline constexpr UINT MB_ICONHAND = 0x10;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONEXCLAMATION = 0x30;
inline constexpr UINT MB_ICONASTERISK = 0x40;
inline constexpr UINT MB_ICONMASK = 0xF0;

// ---------------------------------------------------------------- code page
inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;
// Windows-1250 (CP_ACP) or UTF-8 to UTF-16 and back, as on Windows: a length
// of -1 includes the NUL; a capacity of 0 asks for the size needed; too small
// a buffer fails with ERROR_INSUFFICIENT_BUFFER.  Unmappable characters
// become '?'.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length, WCHAR* wide, int wideCapacity);
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int length, char* text, int capacity,
                        const char* defaultChar, BOOL* usedDefault);

// ======================================================================
// Backends.  These are this layer's own functions (no Windows counterpart).
// ======================================================================
enum class WindowBackend { Headless, Terminal };

struct WindowSystemOptions {
  int columns = 80;  // headless screen size; the terminal takes its own
  int rows = 25;
  // Headless input script and transcript files; null takes the environment
  // variables PR_UI_SCRIPT and PR_UI_TRANSCRIPT.  Without a transcript file
  // the transcript is kept in memory only (HeadlessTranscript).
  const char* scriptPath = nullptr;
  const char* transcriptPath = nullptr;
};

// The backend for this process: PR_UI=headless|terminal when set, otherwise
// the terminal when standard input and output are terminals, else headless.
WindowBackend DefaultWindowBackend();
// Starts (or restarts) the window system with a backend.  Restarting destroys
// every window, menu, timer and queued message first.  FALSE with
// ERROR_NOT_READY when the terminal cannot be opened, ERROR_FILE_NOT_FOUND
// when a script file named cannot be read.  PR_UI_SIZE ("100x30") sets the
// headless size when `options` is null.
BOOL InitWindowSystem(WindowBackend backend, const WindowSystemOptions* options);
// Destroys everything and gives the terminal back.  Idempotent.
void ShutdownWindowSystem();
BOOL IsWindowSystemStarted();
WindowBackend CurrentWindowBackend();

// ---------------------------------------------------------------- headless script and transcript
// The headless input is a list of script commands, consumed one by one when a
// thread waits for input.  HeadlessScript appends commands (one per line; the
// language is described in README, "Headless script language"); it may be
// called at any time, also from another thread.  A line that cannot be parsed
// is reported in the transcript ("script error: line N: ...") and skipped.
// When the input runs out while a thread waits, the transcript gets
// "script exhausted" and the innermost modal loop (dialog, menu) is ended
// without a choice; a plain GetMessageA then receives WM_CLOSE for the active
// window, and after that WM_QUIT, so no wait ever blocks.
void HeadlessScript(const char* commands);
void HeadlessClearScript();
size_t HeadlessPendingCommands();
// Everything recorded since the start or the last HeadlessClearTranscript,
// one event per line (UTF-8).
std::string HeadlessTranscript();
void HeadlessClearTranscript();
// Adds one line to the transcript (in UTF-8; ANSI callers convert first).
void HeadlessRecord(const std::string& line);
// The screen as text: `rows` lines of `columns` cells each in UTF-8, with the
// trailing spaces of each line removed.
std::string HeadlessScreenText();
// The character (as UTF-8) and colours of one screen cell.
struct ScreenCell {
  std::string text;
  COLORREF foreground;
  COLORREF background;
};
BOOL HeadlessCellAt(int x, int y, ScreenCell* cell);
