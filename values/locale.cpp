// Loading the locale: defaults, the [intl] profile keys, the environment file.
#include "values/locale.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "platform/kernel.h"
#include "values/env_file.h"
#include "values/message_overrides.h"
#include "values/picture_internal.h"

namespace pr::values {
namespace {

constexpr const char* kLongMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                         "July",    "August",   "September", "October", "November", "December"};
constexpr const char* kShortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kDefaultLongDate = "ddd', 'MMMM' 'dd', 'yyyy";
constexpr uint32_t kButtonMessageBase = 0x7F00;  // VELBUTTON item n overrides message 32512 + n

// The upper/lower pairs of letters above 127 in the ANSI code page
// (Windows-1250): what the system's character classes give.
constexpr uint8_t kSystemPairs[][2] = {
    {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D}, {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA3, 0xB3},
    {0xA5, 0xB9}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xBC, 0xBE},
};

struct LocaleLock {
  CRITICAL_SECTION section;
  LocaleLock() { InitializeCriticalSection(&section); }
};

LocaleLock& Lock() {
  static LocaleLock lock;
  return lock;
}

class Guard {
 public:
  Guard() { EnterCriticalSection(&Lock().section); }
  ~Guard() { LeaveCriticalSection(&Lock().section); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;
};

LocaleSettings g_locale;
std::atomic<bool> g_loaded{false};
thread_local bool t_loading = false;  // this thread is inside the loader
uint8_t g_oemToAnsi[256];

void CopyCut(char* slot, size_t slotMax, std::string_view text) {
  size_t n = std::min(text.size(), slotMax);
  std::memcpy(slot, text.data(), n);
  slot[n] = '\0';
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k) {
    char x = a[k], y = b[k];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

void BuildCodePageTables() {
  for (int c = 0; c < 256; ++c) {
    char in = static_cast<char>(c), out = in;
    g_oemToAnsi[c] = OemToCharBuffA(&in, &out, 1) ? static_cast<uint8_t>(out) : static_cast<uint8_t>(c);
  }
}

// ---------------------------------------------------------------- case tables

void SetPair(CaseTables* t, uint8_t upper, uint8_t lower) {
  t->upper[lower] = upper;
  t->lower[upper] = lower;
  t->partner[upper] = lower;
  t->partner[lower] = upper;
  t->charClass[upper] = kCharUpper;
  t->charClass[lower] = kCharLower;
}

// A to Z paired with a to z, digits classed as digits, nothing else.
void DefaultCase(CaseTables* t) {
  for (int c = 0; c < 256; ++c) {
    t->upper[c] = t->lower[c] = t->partner[c] = static_cast<uint8_t>(c);
    t->charClass[c] = 0;
  }
  for (int c = 'A'; c <= 'Z'; ++c) SetPair(t, static_cast<uint8_t>(c), static_cast<uint8_t>(c + 32));
  for (int c = '0'; c <= '9'; ++c) t->charClass[c] = kCharDigit;
}

void SystemCase(CaseTables* t) {
  DefaultCase(t);
  for (const auto& pair : kSystemPairs) SetPair(t, pair[0], pair[1]);
  for (int c = 0xC0; c <= 0xDE; ++c) {
    if (c != 0xD7) SetPair(t, static_cast<uint8_t>(c), static_cast<uint8_t>(c + 0x20));
  }
  t->charClass[0xDF] = kCharLower;  // sharp s: lower case without an upper form
}

// ---------------------------------------------------------------- collation

void FinishCollation(CaseTables* t) {
  t->identityCollation = true;
  for (int c = 0; c < 256; ++c) {
    if (t->collation[c] != c) t->identityCollation = false;
    t->collationOem[c] = t->collation[g_oemToAnsi[c]];
  }
}

void IdentityCollation(CaseTables* t) {
  for (int c = 0; c < 256; ++c) t->collation[c] = static_cast<uint8_t>(c);
  FinishCollation(t);
}

// The base letter of each upper-case letter above 127 in Windows-1250
// (pairs of code and base letter).
constexpr uint8_t kAccentedBases[][2] = {
    {0x8A, 'S'}, {0x8C, 'S'}, {0x8D, 'T'}, {0x8E, 'Z'}, {0x8F, 'Z'}, {0xA3, 'L'}, {0xA5, 'A'}, {0xAA, 'S'},
    {0xAF, 'Z'}, {0xBC, 'L'}, {0xC0, 'R'}, {0xC1, 'A'}, {0xC2, 'A'}, {0xC3, 'A'}, {0xC4, 'A'}, {0xC5, 'L'},
    {0xC6, 'C'}, {0xC7, 'C'}, {0xC8, 'C'}, {0xC9, 'E'}, {0xCA, 'E'}, {0xCB, 'E'}, {0xCC, 'E'}, {0xCD, 'I'},
    {0xCE, 'I'}, {0xCF, 'D'}, {0xD0, 'D'}, {0xD1, 'N'}, {0xD2, 'N'}, {0xD3, 'O'}, {0xD4, 'O'}, {0xD5, 'O'},
    {0xD6, 'O'}, {0xD8, 'R'}, {0xD9, 'U'}, {0xDA, 'U'}, {0xDB, 'U'}, {0xDC, 'U'}, {0xDD, 'Y'}, {0xDE, 'T'},
    {0xDF, 'S'},
};

// The order of the system's string comparison, as far as this runtime
// models it: punctuation and symbols, then digits, then letters.  Letters
// sort by their base letter (C, Ć and Č together, before D), the plain letter
// before the accented ones, and the lower-case form before the upper-case one.
void SystemCollation(CaseTables* t) {
  uint8_t base[256];
  for (int c = 0; c < 256; ++c) base[c] = static_cast<uint8_t>(c);
  for (const auto& pair : kAccentedBases) base[pair[0]] = pair[1];
  std::vector<uint8_t> order;
  for (int c = 1; c <= 254; ++c) order.push_back(static_cast<uint8_t>(c));
  auto rank = [t](uint8_t c) { return t->IsDigit(c) ? 1 : (t->charClass[c] & (kCharUpper | kCharLower)) ? 2 : 0; };
  std::stable_sort(order.begin(), order.end(), [&](uint8_t a, uint8_t b) {
    int ra = rank(a), rb = rank(b);
    if (ra != rb) return ra < rb;
    if (ra == 2) {
      uint8_t ua = t->upper[a], ub = t->upper[b];
      if (base[ua] != base[ub]) return base[ua] < base[ub];
      if (ua != ub) return ua < ub;
      if (t->IsLower(a) != t->IsLower(b)) return t->IsLower(a);
    }
    return a < b;
  });
  t->collation[0] = 0;
  t->collation[255] = 255;
  for (size_t k = 0; k < order.size(); ++k) t->collation[order[k]] = static_cast<uint8_t>(k + 1);
  FinishCollation(t);
}

// A sequence: its characters in the order given, as one block placed where
// the smallest of them stands in code order; the characters it does not name
// keep their code order around it.
void SequenceCollation(CaseTables* t, std::string_view sequence) {
  bool listed[256] = {};
  std::vector<uint8_t> block;
  for (char ch : sequence) {
    uint8_t c = static_cast<uint8_t>(ch);
    if (!listed[c]) {
      listed[c] = true;
      block.push_back(c);
    }
  }
  std::vector<uint8_t> order;
  bool placed = false;
  for (int c = 0; c < 256; ++c) {
    if (!listed[c]) {
      order.push_back(static_cast<uint8_t>(c));
    } else if (!placed) {
      order.insert(order.end(), block.begin(), block.end());
      placed = true;
    }
  }
  for (size_t k = 0; k < order.size(); ++k) t->collation[order[k]] = static_cast<uint8_t>(k);
  FinishCollation(t);
}

// ---------------------------------------------------------------- [intl]

std::string ProfileString(const char* key, const char* fallback, size_t maxLength) {
  char buffer[256] = {};
  GetProfileStringA("intl", key, fallback, buffer, sizeof buffer);
  buffer[sizeof buffer - 1] = '\0';
  std::string text(buffer);
  if (text.size() > maxLength) text.resize(maxLength);
  return text;
}

void ReadAmPmFromProfile(LocaleSettings* s) {
  CopyCut(s->am, kAmPmMax, ProfileString("s1159", "AM", kAmPmMax));
  CopyCut(s->pm, kAmPmMax, ProfileString("s2359", "PM", kAmPmMax));
}

void BuildSystemPictures(LocaleSettings* s) {
  BuildShortDatePicture(*s, &s->shortDate);
  BuildLongDatePicture(*s, &s->longDate);
  BuildTimePicture(*s, false, &s->shortTime);
  BuildTimePicture(*s, true, &s->longTime);
}

void SetDefaults(LocaleSettings* s) {
  *s = LocaleSettings{};
  DefaultCase(s);
  IdentityCollation(s);
  s->digraphCount = 0;
  for (int m = 0; m < 12; ++m) {
    CopyCut(s->longMonth[m], kLongMonthMax, kLongMonths[m]);
    CopyCut(s->shortMonth[m], kShortMonthMax, kShortMonths[m]);
  }
  CopyCut(s->am, kAmPmMax, "AM");
  CopyCut(s->pm, kAmPmMax, "PM");
  s->timeSeparator = ':';
  s->twelveHourClock = true;
  s->hourLeadingZero = true;
  CopyCut(s->shortDateFormat, 255, "MM/dd/yy");
  CopyCut(s->longDateFormat, 255, kDefaultLongDate);
}

void ReadProfile(LocaleSettings* s) {
  s->twelveHourClock = GetProfileIntA("intl", "iTime", 0) == 0;
  s->hourLeadingZero = GetProfileIntA("intl", "iTLzero", 1) == 1;
  std::string separator = ProfileString("sTime", ":", 1);
  s->timeSeparator = separator.empty() ? ':' : separator[0];
  ReadAmPmFromProfile(s);
  std::string shortDate = ProfileString("sShortDate", "MM/dd/yy", 255);
  CopyCut(s->shortDateFormat, 255, shortDate.empty() ? "MM/dd/yy" : shortDate);
  std::string longDate = ProfileString("sLongDate", kDefaultLongDate, 255);
  CopyCut(s->longDateFormat, 255, longDate.empty() ? kDefaultLongDate : longDate);
  BuildSystemPictures(s);
}

// ---------------------------------------------------------------- environment entries

// Applies the entries of one environment text.  Collation is built after the
// whole text, so that a "WINDOWS" order sorts with the case pairs the same
// text sets, wherever they stand.
void ApplyText(LocaleSettings* s, std::string_view text) {
  enum class Collation { kKeep, kSystem, kSequence } collation = Collation::kKeep;
  std::string sequence;
  for (EnvironmentEntry& entry : ParseEnvironmentText(text)) {
    std::string key = entry.key;
    for (char& c : key) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    std::string value = std::move(entry.value);
    if (s->oem && key != "VELCOLSEQ") {
      for (char& c : value) c = static_cast<char>(g_oemToAnsi[static_cast<uint8_t>(c)]);
    }
    if (key == "VELCHARSET") {
      std::vector<std::string> items = SplitItems(value);
      s->oem = !items.empty() && EqualsNoCase(items[0], "OEM");
    } else if (key == "VELCOLSEQ") {
      // Not converted as a value: with the OEM flag on, the sequence names
      // OEM characters, which the ANSI-indexed weight table takes in their
      // ANSI form.
      sequence = WholeText(value);
      if (s->oem) {
        for (char& c : sequence) c = static_cast<char>(g_oemToAnsi[static_cast<uint8_t>(c)]);
      }
      if (EqualsNoCase(sequence, "WINDOWS")) {
        collation = Collation::kSystem;
      } else {
        collation = Collation::kSequence;
      }
    } else if (key == "VELCASE") {
      std::vector<std::string> items = SplitItems(value);
      if (items.empty() || (items.size() == 1 && items[0].empty())) {
        DefaultCase(s);
      } else if (items.size() == 2 && items[0].size() == items[1].size() && !EqualsNoCase(items[0], "WINDOWS")) {
        DefaultCase(s);
        for (size_t k = 0; k < items[0].size(); ++k) {
          uint8_t upper = static_cast<uint8_t>(items[0][k]), lower = static_cast<uint8_t>(items[1][k]);
          if (upper >= 128 && lower >= 128 && upper != lower) SetPair(s, upper, lower);
        }
      } else {
        SystemCase(s);
      }
    } else if (key == "VELMONTH" || key == "VELMON") {
      std::vector<std::string> items = SplitItems(value);
      bool longNames = key == "VELMONTH";
      for (size_t m = 0; m < items.size() && m < 12; ++m) {
        if (longNames) {
          CopyCut(s->longMonth[m], kLongMonthMax, items[m]);
        } else {
          CopyCut(s->shortMonth[m], kShortMonthMax, items[m]);
        }
      }
    } else if (key == "VELAMPM") {
      std::vector<std::string> items = SplitItems(value);
      if (items.size() == 1 && EqualsNoCase(items[0], "WINDOWS")) {
        ReadAmPmFromProfile(s);
      } else {
        if (!items.empty()) CopyCut(s->am, kAmPmMax, items[0]);
        if (items.size() > 1) CopyCut(s->pm, kAmPmMax, items[1]);
      }
    } else if (key == "VELDIGRAPH") {
      s->digraphCount = 0;
      for (const std::string& item : SplitItems(value)) {
        std::string_view rest = item;
        while (!rest.empty() && s->digraphCount < kMaxDigraphs) {
          size_t comma = rest.find(',');
          std::string_view piece = rest.substr(0, comma);
          if (piece.size() == 3) std::memcpy(s->digraphs[s->digraphCount++], piece.data(), 3);
          rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
      }
    } else if (key == "VELBUTTON") {
      std::vector<std::string> items = SplitItems(value);
      for (size_t n = 0; n < items.size() && n < 256; ++n) {
        if (!items[n].empty()) AddMessageOverride(kButtonMessageBase + static_cast<uint32_t>(n), items[n]);
      }
    } else if (key == "VELLFN") {
      s->longFileNames = EqualsNoCase(WholeText(value), "ON");
    } else if (key == "VELSYSTEMCHARSET") {
      CopyCut(s->systemCharset, sizeof s->systemCharset - 1, WholeText(value));
    } else if (key == "VELLAYOUT") {
      s->rightToLeft = EqualsNoCase(WholeText(value), "RTL");
    } else if (key.size() > 6 && key.compare(0, 6, "VELMSG") == 0) {
      uint64_t number = 0;
      bool digits = true;
      for (size_t k = 6; k < key.size(); ++k) {
        if (key[k] < '0' || key[k] > '9') {
          digits = false;
          break;
        }
        number = number * 10 + static_cast<uint64_t>(key[k] - '0');
        if (number > UINT32_MAX) digits = false;
      }
      if (digits) AddMessageOverride(static_cast<uint32_t>(number), WholeText(value));
    }
  }
  if (collation == Collation::kSystem) {
    SystemCollation(s);
  } else if (collation == Collation::kSequence) {
    if (sequence.empty()) {
      IdentityCollation(s);
    } else {
      SequenceCollation(s, sequence);
    }
  }
}

// Reads a whole file through the platform's file functions; false when it
// cannot be opened.  Files beyond 1 MiB are read up to that size: no sane
// environment file comes near it.
bool ReadWholeFile(const std::string& path, std::string* text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  constexpr size_t kMaxFile = 1 << 20;
  text->clear();
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
    text->append(buffer, got);
    if (text->size() >= kMaxFile) break;
  }
  CloseHandle(file);
  return true;
}

std::string HostEnvironmentFile() {
  char path[4096] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return {};
  return EnvironmentFileName(std::string_view(path, n));
}

// How the layer that keeps the thread's statement error state clears it; null
// while no such layer is linked in (then there is no state to clear).
std::atomic<void (*)()> g_clearStatementErrors{nullptr};

void ClearErrors() {
  if (void (*clear)() = g_clearStatementErrors.load(std::memory_order_acquire)) clear();
  SetLastError(ERROR_SUCCESS);
}

// Loads the locale on first use.  REQUIRES: not loaded, or loading on this
// thread (then it returns at once).
void LoadOnce() {
  if (t_loading) return;
  Guard guard;
  if (g_loaded.load(std::memory_order_acquire)) return;
  t_loading = true;
  // The first use may come in the middle of a statement (a driver building a
  // key, say): loading must leave that statement's error state as it found
  // it, and add no error of its own (a missing file is no error).  Nothing
  // here sets a statement error; only the OS last-error value changes.
  DWORD savedLastError = GetLastError();
  BuildCodePageTables();
  SetDefaults(&g_locale);
  ReadProfile(&g_locale);
  std::string path = HostEnvironmentFile();
  std::string text;
  if (!path.empty() && ReadWholeFile(path, &text)) ApplyText(&g_locale, text);
  SetLastError(savedLastError);
  t_loading = false;
  g_loaded.store(true, std::memory_order_release);
}

// Weight of one collation unit of `s` at `*i` (a digraph or a character);
// advances `*i`.
unsigned UnitWeight(const LocaleSettings& l, std::string_view s, size_t* i, bool oem) {
  auto ansi = [&](size_t k) { return oem ? g_oemToAnsi[static_cast<uint8_t>(s[k])] : static_cast<uint8_t>(s[k]); };
  uint8_t c = ansi(*i);
  if (*i + 1 < s.size()) {
    uint8_t next = ansi(*i + 1);
    for (size_t d = 0; d < l.digraphCount; ++d) {
      if (static_cast<uint8_t>(l.digraphs[d][0]) == c && static_cast<uint8_t>(l.digraphs[d][1]) == next) {
        *i += 2;
        return 2u * l.collation[static_cast<uint8_t>(l.digraphs[d][2])] + 1;
      }
    }
  }
  *i += 1;
  return 2u * l.collation[c];
}

}  // namespace

const LocaleSettings& Locale() {
  if (!g_loaded.load(std::memory_order_acquire)) LoadOnce();
  return g_locale;
}

bool LoadLocale(std::string_view fileName) {
  Locale();
  bool ok = true;
  {
    Guard guard;
    if (EqualsNoCase(fileName, "WINDOWS")) {
      SystemCase(&g_locale);
      SystemCollation(&g_locale);
      ReadAmPmFromProfile(&g_locale);
    } else {
      std::string text;
      ok = ReadWholeFile(std::string(fileName), &text);
      if (ok) ApplyText(&g_locale, text);
    }
  }
  ClearErrors();
  return ok;
}

void ApplyEnvironmentText(std::string_view text) {
  Locale();
  Guard guard;
  ApplyText(&g_locale, text);
}

std::string EnvironmentFileName(std::string_view executablePath) {
  size_t lastSeparator = executablePath.find_last_of("/\\:");
  size_t nameStart = lastSeparator == std::string_view::npos ? 0 : lastSeparator + 1;
  size_t dot = executablePath.rfind('.');
  std::string name(executablePath);
  if (dot != std::string_view::npos && dot >= nameStart) name.resize(dot);
  name += ".ENV";
  return name;
}

void SetStatementErrorClearer(void (*clear)()) { g_clearStatementErrors.store(clear, std::memory_order_release); }

void ResetLocaleForTesting() {
  Guard guard;
  g_loaded.store(false, std::memory_order_release);
  SetDefaults(&g_locale);
}

int CompareCollated(std::string_view a, std::string_view b, bool oem) {
  const LocaleSettings& l = Locale();
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    unsigned wa = UnitWeight(l, a, &i, oem);
    unsigned wb = UnitWeight(l, b, &j, oem);
    if (wa != wb) return wa < wb ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace pr::values
