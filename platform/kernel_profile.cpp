// Profile strings from a win.ini-style file named by PR_WININI.
//
// The file is read afresh on each call (callers read it once, when they load
// their settings).  Lines are "[section]", "key=value", blank, or comments
// starting with ';'.  Section and key names match without regard to case;
// blanks around names and values are dropped, and one pair of quotes around a
// value is taken off.  A line that is none of these is skipped.  Nothing in
// the file is trusted: any length and any byte are read safely.
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/kernel.h"

namespace {
struct Entry {
  std::string section;
  std::string key;
  std::string value;
};

constexpr size_t kMaxProfileBytes = 1 << 20;  // a larger file is read up to here

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// All entries of the file, in file order; sections without keys appear with
// an empty key so that section listings see them.
std::vector<Entry> ReadProfile() {
  std::vector<Entry> entries;
  const char* path = std::getenv("PR_WININI");
  if (path == nullptr || *path == '\0') return entries;
  std::ifstream in(path, std::ios::binary);
  if (!in) return entries;
  // The cap holds while reading: a file with no line ends (a device that
  // never ends, such as /dev/zero) stops at the cap instead of growing one
  // line without bound.  A last line that the cap cuts short is left out.
  std::string text;
  char chunk[16384];
  while (text.size() <= kMaxProfileBytes) {
    const size_t want = std::min(sizeof chunk, kMaxProfileBytes + 1 - text.size());
    in.read(chunk, std::streamsize(want));
    const std::streamsize got = in.gcount();
    if (got <= 0) break;
    text.append(chunk, size_t(got));
  }
  if (text.size() > kMaxProfileBytes) {
    const size_t lastEnd = text.rfind('\n', kMaxProfileBytes - 1);
    text.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
  }
  std::string section;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';') continue;
    if (t[0] == '[') {
      size_t close = t.find(']');
      if (close == std::string::npos) continue;
      section = Trim(t.substr(1, close - 1));
      entries.push_back(Entry{section, std::string(), std::string()});
      continue;
    }
    size_t eq = t.find('=');
    if (eq == std::string::npos || section.empty()) continue;
    std::string value = Trim(t.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    entries.push_back(Entry{section, Trim(t.substr(0, eq)), value});
  }
  return entries;
}

bool Same(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// Copies a list of NUL-terminated names ending in a second NUL; as on Windows
// a list that does not fit is cut and the answer is size - 2.
DWORD CopyList(const std::vector<std::string>& names, char* out, DWORD size) {
  if (size < 2) {
    if (size == 1) out[0] = '\0';
    return 0;
  }
  DWORD pos = 0;
  for (const std::string& n : names) {
    if (pos + n.size() + 1 > size - 1) {
      DWORD room = size - 1 - pos;
      if (room > 0) {
        std::memcpy(out + pos, n.data(), room - 1);
        out[pos + room - 1] = '\0';
      }
      out[size - 1] = '\0';
      return size - 2;
    }
    std::memcpy(out + pos, n.c_str(), n.size() + 1);
    pos += static_cast<DWORD>(n.size() + 1);
  }
  out[pos] = '\0';
  return pos;
}
}  // namespace

DWORD GetProfileStringA(const char* appName, const char* keyName, const char* defaultValue, char* returned,
                        DWORD size) {
  if (returned == nullptr || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::vector<Entry> entries = ReadProfile();
  if (appName == nullptr || keyName == nullptr) {
    std::vector<std::string> names;
    for (const Entry& e : entries) {
      if (appName == nullptr) {
        bool seen = false;
        for (const std::string& n : names) seen = seen || strcasecmp(n.c_str(), e.section.c_str()) == 0;
        if (!seen) names.push_back(e.section);
      } else if (Same(e.section, appName) && !e.key.empty()) {
        names.push_back(e.key);
      }
    }
    return CopyList(names, returned, size);
  }
  std::string value;
  bool found = false;
  for (const Entry& e : entries) {
    if (!e.key.empty() && Same(e.section, appName) && Same(e.key, keyName)) {
      value = e.value;
      found = true;
      break;
    }
  }
  if (!found) {
    value = defaultValue != nullptr ? defaultValue : "";
    size_t end = value.find_last_not_of(' ');  // Windows drops trailing blanks of the default
    value.resize(end == std::string::npos ? 0 : end + 1);
  }
  if (value.size() >= size) {
    std::memcpy(returned, value.data(), size - 1);
    returned[size - 1] = '\0';
    return size - 1;
  }
  std::memcpy(returned, value.c_str(), value.size() + 1);
  return static_cast<DWORD>(value.size());
}

UINT GetProfileIntA(const char* appName, const char* keyName, int defaultValue) {
  if (appName == nullptr || keyName == nullptr) return static_cast<UINT>(defaultValue);
  char buf[64];
  const char kMissing[] = "\x01";
  GetProfileStringA(appName, keyName, kMissing, buf, sizeof buf);
  if (std::strcmp(buf, kMissing) == 0) return static_cast<UINT>(defaultValue);
  // Leading digits count; no digits, or a value below zero, read as 0.
  const char* p = buf;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  unsigned long long value = 0;
  while (*p >= '0' && *p <= '9') {
    value = value * 10 + static_cast<unsigned>(*p++ - '0');
    if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;
  }
  return negative ? 0u : static_cast<UINT>(value);
}
