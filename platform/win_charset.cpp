// Windows-1250 texts of the window system against the Unicode the backends
// draw and the UTF-8 the terminal and transcripts use.
#include "platform/win_internal.h"

namespace prw {

// ---------------------------------------------------------------- Windows-1250
// Bytes the code page leaves undefined map to C1 control values in the
// kernel's table; the window system shows them as '?'.

char32_t AnsiToChar(unsigned char c) {
  if (c < 0x80) return c;
  uint32_t u = AnsiByteToUnicode(c);
  return u >= 0x80 && u < 0xA0 ? U'?' : static_cast<char32_t>(u);
}

unsigned char CharToAnsi(char32_t c, bool* mapped) {
  if (mapped) *mapped = true;
  if (c < 0x80) return static_cast<unsigned char>(c);
  if (c >= 0xA0 || c < 0x80)
    for (int b = 0x80; b < 0x100; ++b)
      if (AnsiByteToUnicode(static_cast<unsigned char>(b)) == c) return static_cast<unsigned char>(b);
  if (mapped) *mapped = false;
  return '?';
}

void AppendUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string AnsiToUtf8String(const std::string& ansi) {
  std::string out;
  for (unsigned char c : ansi) AppendUtf8(&out, AnsiToChar(c));
  return out;
}

namespace {
// Decodes one UTF-8 sequence at s[*i]; malformed bytes give U+FFFD.
char32_t DecodeUtf8(const unsigned char* s, size_t n, size_t* i) {
  unsigned char c = s[*i];
  int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
  if (extra < 0 || *i + extra >= n + (extra == 0 ? 1 : 0)) {
    ++*i;
    return extra == 0 ? c : 0xFFFD;
  }
  char32_t v = extra == 0 ? c : c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    unsigned char d = s[*i + k];
    if ((d & 0xC0) != 0x80) {
      ++*i;
      return 0xFFFD;
    }
    v = (v << 6) | (d & 0x3F);
  }
  *i += extra + 1;
  return v;
}
}  // namespace

std::string Utf8ToAnsiString(const std::string& utf8) {
  std::string out;
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  for (size_t i = 0; i < utf8.size();) out.push_back(static_cast<char>(CharToAnsi(DecodeUtf8(s, utf8.size(), &i))));
  return out;
}

}  // namespace prw
