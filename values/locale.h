// The locale of the process: case pairs, character classes, collation order
// and digraphs (used by string comparison and by the store's key building),
// month names, AM/PM texts, the system date and time formats, and the flags
// that the environment file sets.
//
// Loading.  The locale is loaded once per process, under its own lock, on the
// first call of Locale() (or of anything that reads it): first the [intl]
// profile keys (iTime, iTLzero, sTime, s1159, s2359, sShortDate, sLongDate),
// which also give the compiled system pictures @d17, @d18, @t7 and @t8; then
// the environment file named after the host executable (HOST.EXE reads
// HOST.ENV from its own folder; see EnvironmentFileName).  A missing or
// unreadable environment file is not an error: loading on first use leaves
// the thread's error state (and OS last error) as it found them, so that a
// statement that happens to trigger it keeps its own outcome.  VELMSGn and
// VELBUTTON entries go to the message override list (values/message_overrides.h).
//
// Thread safety.  Loading is serialised by the locale lock.  Readers take no
// lock: the tables are complete before the loaded flag is published, and they
// do not change afterwards unless a program calls LoadLocale again (which
// must not race with readers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "values/picture.h"

namespace pr::values {

// Character classes of CaseTables::charClass.
inline constexpr uint8_t kCharUpper = 0x01;  // upper-case letter
inline constexpr uint8_t kCharLower = 0x02;  // lower-case letter
inline constexpr uint8_t kCharDigit = 0x04;  // digit (the value is 4, never combined)

inline constexpr size_t kMaxDigraphs = 16;

// The case and collation data, 256 entries per table, indexed by the byte of
// a character in the ANSI code page (Windows-1250).  Plain data: safe to copy.
struct CaseTables {
  uint8_t upper[256];         // upper-case form; the character itself when it has none
  uint8_t lower[256];         // lower-case form; the character itself when it has none
  uint8_t partner[256];       // the other-case letter; the character itself for non-letters
  uint8_t charClass[256];     // kCharUpper, kCharLower, kCharDigit or 0
  uint8_t collation[256];     // sort weight of each ANSI character (a permutation of 0..255)
  uint8_t collationOem[256];  // sort weight of each OEM character: the weight of its ANSI form
  bool identityCollation;     // collation[c] == c for every c
  // Up to 16 digraphs of three characters "xyZ": the pair xy sorts as one
  // unit just after the character Z (used by CompareCollated only; keys map
  // byte for byte through `collation`).
  uint8_t digraphCount;
  char digraphs[kMaxDigraphs][3];

  // Sort weight of a character given in the ANSI or, with `oem`, the OEM code page.
  uint8_t Weight(uint8_t c, bool oem = false) const { return oem ? collationOem[c] : collation[c]; }
  bool IsUpper(uint8_t c) const { return (charClass[c] & kCharUpper) != 0; }
  bool IsLower(uint8_t c) const { return (charClass[c] & kCharLower) != 0; }
  bool IsDigit(uint8_t c) const { return charClass[c] == kCharDigit; }
};

inline constexpr size_t kLongMonthMax = 12;   // slot of a long month name
inline constexpr size_t kShortMonthMax = 3;   // slot of a short month name
inline constexpr size_t kAmPmMax = 2;         // slot of the AM and PM texts

// Everything the locale holds.  Derives from CaseTables so that
// `const CaseTables& t = Locale();` reads the case and collation tables.
struct LocaleSettings : CaseTables {
  char longMonth[12][kLongMonthMax + 1];   // NUL-terminated, "January" .. "December"
  char shortMonth[12][kShortMonthMax + 1]; // "Jan" .. "Dec"
  char am[kAmPmMax + 1];                   // "AM"
  char pm[kAmPmMax + 1];                   // "PM"
  char timeSeparator;                      // [intl] sTime, ":"
  bool twelveHourClock;                    // [intl] iTime == 0
  bool hourLeadingZero;                    // [intl] iTLzero == 1
  char shortDateFormat[256];               // [intl] sShortDate, "MM/dd/yy"
  char longDateFormat[256];                // [intl] sLongDate
  bool oem;                                // VELCHARSET=OEM
  bool longFileNames;                      // VELLFN=on
  bool rightToLeft;                        // VELLAYOUT=RTL
  char systemCharset[64];                  // VELSYSTEMCHARSET, empty when not given
  // The compiled system pictures: @d17 (short date), @d18 (long date),
  // @t7 (short time), @t8 (long time).
  Picture shortDate;
  Picture longDate;
  Picture shortTime;
  Picture longTime;
};

// The process's locale, loaded on first use.  Never fails: whatever cannot be
// read keeps its default.
const LocaleSettings& Locale();

// Loads an environment file over the current locale (the locale is first
// loaded as usual if it was not).  Items the file names replace the current
// ones; the rest stay.  The name "WINDOWS" (any case) instead resets
// collation, case pairs and the AM/PM texts to the system behaviour.  Returns
// false when the file could not be read (nothing changes then).  The thread's
// error state is cleared afterwards either way.
bool LoadLocale(std::string_view fileName);

// The thread's statement error state lives in the file layer, above this
// one; it hands over how to clear it when it is linked in, so that LoadLocale
// ends as every statement does.
void SetStatementErrorClearer(void (*clear)());

// Applies the text of an environment file (as read from disk) to the locale.
// Used by LoadLocale and by tests and fuzzers; never fails.
void ApplyEnvironmentText(std::string_view text);

// The environment file of a host executable: its path with the extension of
// the last component replaced by ".ENV", or ".ENV" appended when it has none.
std::string EnvironmentFileName(std::string_view executablePath);

// Forgets the loaded locale: the next Locale() loads again from the profile
// and the host's environment file.  For tests; not safe while other threads
// read the locale.
void ResetLocaleForTesting();

// Compares two strings through the locale's collation order and digraphs:
// negative, zero or positive as `a` sorts before, with or after `b`.  With
// `oem` both strings are taken as OEM text.
int CompareCollated(std::string_view a, std::string_view b, bool oem = false);

}  // namespace pr::values
