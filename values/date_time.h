// Date and time serials.
//
// A date is a signed 32-bit count of days on the Gregorian calendar: serial 4
// is 1 January 1801, 72687 is 1 January 2000 and 2994626 (the last valid one)
// is 31 December 9999; 0 means no date.  A time is hundredths of a second
// since midnight plus one: 1 is midnight, 8640000 is 23:59:59.99; 0 means no
// time.  Conversions give -1 for what is not a valid serial or part.
//
// Thread safety: every function may be called from any thread.  The current
// year used by the two-digit-year rule is read once and kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pr::values {

inline constexpr int32_t kFirstDateSerial = 4;        // 1 January 1801
inline constexpr int32_t kLastDateSerial = 2994626;   // 31 December 9999
inline constexpr int32_t kLastTimeSerial = 8640000;   // 23:59:59.99
inline constexpr int kDefaultCenturyWindow = 80;

struct DateParts {
  int32_t year = 0;
  uint8_t month = 0;
  uint8_t day = 0;
};

struct TimeParts {
  uint8_t hours = 0;
  uint8_t minutes = 0;
  uint8_t seconds = 0;
  uint8_t hundredths = 0;
};

bool IsLeapYear(int32_t year);

// Serial of a date by the calendar formula, without any check of the parts.
// Year must lie in 1..99999, month in 1..12.
int32_t SerialFromParts(int32_t year, int month, int day);

// Date from parts: months above 12 carry into the year, the date is built for
// day 1 of that month and day - 1 days are added (so 1/32/2000 is 1 February
// 2000 and 13/1/2000 is 1 January 2001).  A year below 100 goes through the
// two-digit-year rule with window 80.  Gives -1 when the result is no valid
// serial (also for a month or day below 1).
int32_t DateFromParts(int month, int day, int32_t year);

// Parts of a serial; -1 (and zero parts) for a serial outside 4..2994626.
int32_t DateToParts(int32_t serial, DateParts* parts);

// The serial of a checked date: year 1801..9999 after the two-digit rule,
// month 1..12, day within the month.  -1 otherwise.
int32_t MakeDate(int32_t year, int month, int day);

// The year ending in `yy` (0..99) that lies from (C - window) to
// (C + 99 - window), C being the current year.  Years of 100 and above are
// returned unchanged.
int32_t ExpandTwoDigitYear(int32_t yy, int window = kDefaultCenturyWindow);
// The year the two-digit rule works from (read once from the local date).
int32_t CurrentYear();

// Today's local date as a serial; the local time as a time serial.
int32_t Today();
int32_t Clock();

// Time serial of parts: 0 when all four are 0 (no time: midnight exactly is
// thus no time, as the runtime always had it); -1 when hours > 23, minutes or
// seconds > 59 or hundredths > 99, or any part is negative.
int32_t TimeFromParts(int hours, int minutes, int seconds, int hundredths);
// Parts of a time serial; -1 (and zero parts) for a serial below 1 or above
// 8640000.
int32_t TimeToParts(int32_t serial, TimeParts* parts);

// The age of `date` at `base` (0: today): "n DAYS" below 61 days, "n MOS" up
// to 24 months, otherwise "n YRS".  A date after the base is first moved 100
// years back; when still after it, the text is kAgeTextWidth asterisks.  An
// invalid date or base gives an empty text.
inline constexpr size_t kAgeTextWidth = 8;
std::string AgeText(int32_t date, int32_t base = 0);

// Tests fix "today" (and with it the current year of the two-digit rule);
// 0 returns to the system clock.
void SetTodayForTesting(int32_t serial);

}  // namespace pr::values
