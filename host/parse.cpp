// Command-line arguments taken strictly: numbers that fit, names the module
// can store.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host/commands.h"
#include "platform/kernel.h"

namespace prhost {

bool ParseNumber(const char* text, int64_t min, int64_t max, int64_t* value) {
  if (text == nullptr) return false;
  const char* digits = text + (*text == '-' || *text == '+' ? 1 : 0);
  // strtoll would take leading blanks and stop at the first non-digit.
  if (*digits < '0' || *digits > '9') return false;
  char* end = nullptr;
  errno = 0;
  const long long n = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || n < min || n > max) return false;
  *value = n;
  return true;
}

bool NameToAnsi(const char* utf8, std::string* ansi, std::string* bad) {
  const size_t length = std::strlen(utf8);
  // Windows-1250 answers '?' for what it lacks, and so does a malformed
  // sequence: the name is kept only when it converts back unchanged.
  ansi->assign(Utf8ToAnsi(utf8, length, nullptr, 0) + 1, '\0');
  ansi->resize(Utf8ToAnsi(utf8, length, ansi->data(), ansi->size()));
  std::string back(AnsiToUtf8(ansi->data(), ansi->size(), nullptr, 0) + 1, '\0');
  back.resize(AnsiToUtf8(ansi->data(), ansi->size(), back.data(), back.size()));
  if (back == std::string(utf8, length)) return true;
  // The first character that did not come back.
  size_t at = 0;
  while (at < length && at < back.size() && back[at] == utf8[at]) ++at;
  while (at > 0 && (static_cast<unsigned char>(utf8[at]) & 0xC0) == 0x80) --at;
  size_t stop = at + 1;
  while (stop < length && (static_cast<unsigned char>(utf8[stop]) & 0xC0) == 0x80) ++stop;
  bad->assign(utf8 + at, stop - at);
  return false;
}

}  // namespace prhost
