// The small services around windows: system metrics and parameters, the
// clipboard, the caret, icons and cursors, beeps and code-page conversion.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <vector>

#include "platform/win_internal.h"

struct PrIconHandle {
  UINT standard;  // 32512... for system icons and cursors, else 0
  bool cursor;
  bool shared;
};

namespace prw {
namespace {

struct Clipboard {
  DWORD openedBy = 0;
  bool has = false;
  std::string text;
};
Clipboard& Clip() {
  static auto* c = new Clipboard;
  return *c;
}

std::set<HICON>& Icons() {
  static auto* icons = new std::set<HICON>;
  return *icons;
}

HICON StandardIcon(UINT number, bool cursor) {
  static auto* shared = new std::map<std::pair<UINT, bool>, HICON>;
  Lock lock(S().mu);
  auto& slot = (*shared)[{number, cursor}];
  if (!slot) {
    slot = new PrIconHandle{number, cursor, true};
    Icons().insert(slot);
  }
  return slot;
}

bool KnownStandard(UINT number, bool cursor) {
  if (!cursor) return number >= IDI_APPLICATION && number <= IDI_WINLOGO;
  // The system's cursor numbers: 32512 to 32517 and 32640 to 32651.
  return (number >= IDC_ARROW && number <= IDC_UPARROW + 1) || (number >= IDC_SIZE && number <= IDC_HELP);
}

HICON FromResource(HINSTANCE instance, const char* name, bool cursor) {
  std::string resName;
  if (IS_INTRESOURCE(name)) {
    resName.assign(1, '#');
    resName += std::to_string(reinterpret_cast<uintptr_t>(name));
  } else {
    resName = name;
  }
  HRSRC r = FindResourceA(instance, resName.c_str(), cursor ? "CURSOR" : "ICON");
  if (!r) return nullptr;
  Lock lock(S().mu);
  HICON h = new PrIconHandle{0, cursor, false};
  Icons().insert(h);
  return h;
}

// An icon or cursor file's directory, checked against the file's size.
bool ValidImageDirectory(const char* fileName, int index, bool cursor) {
  if (!fileName || !*fileName || index < 0) return false;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 6 + 16) return false;
  in.seekg(0);
  unsigned char head[6];
  if (!in.read(reinterpret_cast<char*>(head), 6)) return false;
  unsigned reserved = head[0] | (head[1] << 8), type = head[2] | (head[3] << 8), count = head[4] | (head[5] << 8);
  if (reserved != 0 || (type != 1 && type != 2) || (cursor && type != 2) || count == 0 ||
      6 + 16 * static_cast<std::streamoff>(count) > size || static_cast<unsigned>(index) >= count)
    return false;
  for (unsigned i = 0; i < count; ++i) {
    unsigned char e[16];
    if (!in.read(reinterpret_cast<char*>(e), 16)) return false;
    uint32_t bytes = e[8] | (e[9] << 8) | (e[10] << 16) | (static_cast<uint32_t>(e[11]) << 24);
    uint32_t offset = e[12] | (e[13] << 8) | (e[14] << 16) | (static_cast<uint32_t>(e[15]) << 24);
    if (bytes == 0 || offset < 6 + 16 * count || static_cast<std::streamoff>(offset) + bytes > size) return false;
  }
  return true;
}

}  // namespace

void ResetClipboardAndIcons() {
  Clipboard& c = Clip();
  c.openedBy = 0;
  c.has = false;
  c.text.clear();
  for (auto& [id, t] : S().threads) t->caretWindow = nullptr;
}

}  // namespace prw

using namespace prw;

// ---------------------------------------------------------------- metrics
int GetSystemMetrics(int index) {
  EnsureStarted();
  State& s = S();
  Lock lock(s.mu);
  switch (index) {
    case SM_CXSCREEN:
    case SM_CXFULLSCREEN:
    case SM_CXVIRTUALSCREEN: return s.screen.width;
    case SM_CYSCREEN:
    case SM_CYFULLSCREEN:
    case SM_CYVIRTUALSCREEN: return s.screen.height;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
    case SM_CYVSCROLL:
    case SM_CXHSCROLL:
    case SM_CYVTHUMB:
    case SM_CXHTHUMB:
    case SM_CXBORDER:
    case SM_CYBORDER:
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
    case SM_CXFRAME:
    case SM_CYFRAME:
    case SM_CYMENU:
    case SM_CXCURSOR:
    case SM_CYCURSOR:
    case SM_CYICON:
    case SM_CYSMICON:
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK:
    case SM_MOUSEPRESENT:
    case SM_CMONITORS: return 1;
    case SM_CXICON:
    case SM_CXSMICON: return 3;
    case SM_CYCAPTION: return 0;
    case SM_CXMIN: return 8;
    case SM_CYMIN: return 2;
    default: return 0;
  }
}

BOOL SystemParametersInfoA(UINT action, UINT, void* pvParam, UINT) {
  if (!pvParam) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  EnsureStarted();
  if (action == SPI_GETWORKAREA) {
    Lock lock(S().mu);
    *static_cast<RECT*>(pvParam) = RECT{0, 0, S().screen.width, S().screen.height};
    return TRUE;
  }
  if (action == SPI_GETNONCLIENTMETRICS) {
    auto* m = static_cast<NONCLIENTMETRICSA*>(pvParam);
    if (m->cbSize != sizeof(NONCLIENTMETRICSA)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    LOGFONTA f{};
    f.lfHeight = 1;
    f.lfWeight = 400;
    std::strcpy(f.lfFaceName, "System");
    *m = NONCLIENTMETRICSA{sizeof(NONCLIENTMETRICSA), 1, 1, 1, 1, 1, f, 1, 1, f, 1, 1, f, f, f};
    return TRUE;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

// ---------------------------------------------------------------- clipboard
BOOL OpenClipboard(HWND) {
  Lock lock(S().mu);
  Clipboard& c = Clip();
  DWORD self = GetCurrentThreadId();
  if (c.openedBy && c.openedBy != self) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  c.openedBy = self;
  return TRUE;
}

BOOL CloseClipboard() {
  Lock lock(S().mu);
  Clipboard& c = Clip();
  if (c.openedBy != GetCurrentThreadId()) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return FALSE;
  }
  c.openedBy = 0;
  return TRUE;
}

BOOL EmptyClipboard() {
  Lock lock(S().mu);
  Clipboard& c = Clip();
  if (c.openedBy != GetCurrentThreadId()) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return FALSE;
  }
  c.has = false;
  c.text.clear();
  return TRUE;
}

HANDLE SetClipboardData(UINT format, HANDLE data) {
  Lock lock(S().mu);
  Clipboard& c = Clip();
  if (c.openedBy != GetCurrentThreadId()) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return nullptr;
  }
  if ((format != CF_TEXT && format != CF_OEMTEXT) || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const char* text = static_cast<const char*>(data);
  c.text.assign(text, strnlen(text, 1 << 24));
  c.has = true;
  return const_cast<char*>(c.text.c_str());
}

HANDLE GetClipboardData(UINT format) {
  Lock lock(S().mu);
  Clipboard& c = Clip();
  if (c.openedBy != GetCurrentThreadId()) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return nullptr;
  }
  if (!c.has || (format != CF_TEXT && format != CF_OEMTEXT)) return nullptr;
  return const_cast<char*>(c.text.c_str());
}

BOOL IsClipboardFormatAvailable(UINT format) {
  Lock lock(S().mu);
  return Clip().has && (format == CF_TEXT || format == CF_OEMTEXT) ? TRUE : FALSE;
}

// ---------------------------------------------------------------- caret
BOOL CreateCaret(HWND window, HANDLE, int, int) {
  if (!FindOrFail(window)) return FALSE;
  ThreadState& t = Current();
  Lock lock(S().mu);
  t.caretWindow = window;
  t.caretPos = POINT{0, 0};
  t.caretHidden = 1;
  return TRUE;
}

BOOL DestroyCaret() {
  ThreadState& t = Current();
  Lock lock(S().mu);
  if (!t.caretWindow) return FALSE;
  t.caretWindow = nullptr;
  return TRUE;
}

BOOL SetCaretPos(int x, int y) {
  ThreadState& t = Current();
  Lock lock(S().mu);
  if (!t.caretWindow) return FALSE;
  t.caretPos = POINT{x, y};
  return TRUE;
}

BOOL GetCaretPos(POINT* point) {
  ThreadState& t = Current();
  Lock lock(S().mu);
  if (!point) return FALSE;
  *point = t.caretPos;
  return TRUE;
}

BOOL ShowCaret(HWND window) {
  ThreadState& t = Current();
  Lock lock(S().mu);
  if (!t.caretWindow || (window && window != t.caretWindow)) return FALSE;
  if (t.caretHidden > 0) --t.caretHidden;
  return TRUE;
}

BOOL HideCaret(HWND window) {
  ThreadState& t = Current();
  Lock lock(S().mu);
  if (!t.caretWindow || (window && window != t.caretWindow)) return FALSE;
  ++t.caretHidden;
  return TRUE;
}

// ---------------------------------------------------------------- icons and cursors
HICON LoadIconA(HINSTANCE instance, const char* name) {
  if (!name) return nullptr;
  if (!instance) {
    UINT n = IS_INTRESOURCE(name) ? static_cast<UINT>(reinterpret_cast<uintptr_t>(name)) : 0;
    return KnownStandard(n, false) ? StandardIcon(n, false) : nullptr;
  }
  return FromResource(instance, name, false);
}

HCURSOR LoadCursorA(HINSTANCE instance, const char* name) {
  if (!name) return nullptr;
  if (!instance) {
    UINT n = IS_INTRESOURCE(name) ? static_cast<UINT>(reinterpret_cast<uintptr_t>(name)) : 0;
    return KnownStandard(n, true) ? StandardIcon(n, true) : nullptr;
  }
  return FromResource(instance, name, true);
}

HICON LoadIconFromFileA(const char* fileName, int index) {
  if (!ValidImageDirectory(fileName, index, false)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  Lock lock(S().mu);
  HICON h = new PrIconHandle{0, false, false};
  Icons().insert(h);
  return h;
}

HCURSOR LoadCursorFromFileA(const char* fileName) {
  if (!ValidImageDirectory(fileName, 0, true)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  Lock lock(S().mu);
  HICON h = new PrIconHandle{0, true, false};
  Icons().insert(h);
  return h;
}

BOOL DestroyIcon(HICON icon) {
  Lock lock(S().mu);
  auto it = Icons().find(icon);
  if (it == Icons().end()) {
    SetLastError(ERROR_INVALID_CURSOR_HANDLE);
    return FALSE;
  }
  if (!icon->shared) {
    Icons().erase(it);
    if (S().cursor == icon) S().cursor = nullptr;
    delete icon;
  }
  return TRUE;
}

BOOL DestroyCursor(HCURSOR cursor) { return DestroyIcon(cursor); }

UINT IconStandardNumber(HICON icon) {
  Lock lock(S().mu);
  return Icons().count(icon) ? icon->standard : 0;
}

const char* IconMark(HICON icon) {
  switch (IconStandardNumber(icon)) {
    case IDI_HAND: return "(X)";
    case IDI_QUESTION: return "(?)";
    case IDI_EXCLAMATION: return "(!)";
    case IDI_ASTERISK: return "(i)";
    default: return "[*]";
  }
}

HCURSOR SetCursor(HCURSOR cursor) {
  Lock lock(S().mu);
  HCURSOR old = S().cursor;
  if (!cursor || Icons().count(cursor)) S().cursor = cursor;
  return old;
}

HCURSOR GetCursor() {
  Lock lock(S().mu);
  return S().cursor;
}

BOOL GetCursorPos(POINT* point) {
  if (!point) return FALSE;
  Lock lock(S().mu);
  *point = S().mouse;
  return TRUE;
}

BOOL SetCursorPos(int x, int y) {
  Lock lock(S().mu);
  State& s = S();
  s.mouse = POINT{std::clamp(x, 0, std::max(0, s.screen.width - 1)), std::clamp(y, 0, std::max(0, s.screen.height - 1))};
  return TRUE;
}

BOOL MessageBeep(UINT type) {
  if (!EnsureStarted()) return FALSE;
  char line[32];
  std::snprintf(line, sizeof line, "beep 0x%x", type);
  Record(line);
  Lock lock(S().mu);
  if (S().backend) S().backend->Beep(type);
  return TRUE;
}

// ---------------------------------------------------------------- code pages
int MultiByteToWideChar(UINT codePage, DWORD, const char* text, int length, WCHAR* wide, int wideCapacity) {
  if (!text || (codePage != CP_ACP && codePage != CP_UTF8) || wideCapacity < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = length < 0 ? std::strlen(text) + 1 : static_cast<size_t>(length);
  std::u16string out;
  if (codePage == CP_ACP) {
    for (size_t i = 0; i < n; ++i) out.push_back(static_cast<char16_t>(AnsiToChar(static_cast<unsigned char>(text[i]))));
  } else {
    std::string ansi;  // decode through the UTF-8 reader, keeping full code points
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < n;) {
      unsigned char c = s[i];
      char32_t v;
      int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
      if (extra < 0 || i + extra >= n + (extra == 0)) {
        v = extra == 0 ? c : 0xFFFD;
        ++i;
      } else {
        v = extra == 0 ? c : c & (0x3F >> extra);
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
          if ((s[i + k] & 0xC0) != 0x80) ok = false;
          else v = (v << 6) | (s[i + k] & 0x3F);
        }
        if (!ok) v = 0xFFFD, i += 1;
        else i += extra + 1;
      }
      if (v >= 0x10000) {
        v -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
      } else {
        out.push_back(static_cast<char16_t>(v));
      }
    }
  }
  if (wideCapacity == 0) return static_cast<int>(out.size());
  if (!wide || out.size() > static_cast<size_t>(wideCapacity)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(out.begin(), out.end(), wide);
  return static_cast<int>(out.size());
}

int WideCharToMultiByte(UINT codePage, DWORD, const WCHAR* wide, int length, char* text, int capacity,
                        const char* defaultChar, BOOL* usedDefault) {
  if (!wide || (codePage != CP_ACP && codePage != CP_UTF8) || capacity < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = 0;
  if (length < 0) {
    while (wide[n]) ++n;
    ++n;
  } else {
    n = static_cast<size_t>(length);
  }
  std::string out;
  bool defaulted = false;
  for (size_t i = 0; i < n; ++i) {
    char32_t v = wide[i];
    if (v >= 0xD800 && v < 0xDC00 && i + 1 < n && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
      v = 0x10000 + ((v - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    }
    if (codePage == CP_UTF8) {
      AppendUtf8(&out, v);
    } else {
      bool mapped = true;
      unsigned char c = CharToAnsi(v, &mapped);
      if (!mapped) {
        defaulted = true;
        c = defaultChar ? static_cast<unsigned char>(*defaultChar) : '?';
      }
      out.push_back(static_cast<char>(c));
    }
  }
  if (usedDefault) *usedDefault = defaulted ? TRUE : FALSE;
  if (capacity == 0) return static_cast<int>(out.size());
  if (!text || out.size() > static_cast<size_t>(capacity)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(text, out.data(), out.size());
  return static_cast<int>(out.size());
}
