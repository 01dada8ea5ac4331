#include "values/date_time.h"

#include <atomic>
#include <cstdio>

#include "platform/kernel.h"

namespace pr::values {
namespace {

constexpr int kDaysBeforeMonth[13] = {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr int kMonthLength[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Leap days in the years 1..y.
int64_t LeapDaysUpTo(int64_t y) { return y / 4 - y / 100 + y / 400; }

// Days before 1 January of year y, counted from a year 0 of 365 days; the
// parts-from-serial search works on this scale.
int64_t DaysBeforeYear(int64_t y) { return y * 365 + LeapDaysUpTo(y - 1); }

int MonthLength(int32_t year, int month) {
  return month == 2 && IsLeapYear(year) ? 29 : kMonthLength[month];
}

std::atomic<int32_t> g_todayOverride{0};

int32_t SystemCurrentYear() {
  static const int32_t year = [] {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return static_cast<int32_t>(now.wYear);
  }();
  return year;
}

}  // namespace

bool IsLeapYear(int32_t year) { return year % 4 == 0 && (year % 400 == 0 || year % 100 != 0); }

int32_t SerialFromParts(int32_t year, int month, int day) {
  int64_t serial = int64_t{year - 1801} * 365 + kDaysBeforeMonth[month] + day + 3 +
                   (LeapDaysUpTo(year) - LeapDaysUpTo(1800));
  if (month <= 2 && IsLeapYear(year)) serial -= 1;
  return static_cast<int32_t>(serial);
}

int32_t DateFromParts(int month, int day, int32_t year) {
  if (month < 1 || day < 1) return -1;
  if (year >= 0 && year < 100) year = ExpandTwoDigitYear(year, kDefaultCenturyWindow);
  // Months above 12 carry into the year.
  int64_t months = int64_t{year} * 12 + (int64_t{month} - 1);
  int64_t y = months >= 0 ? months / 12 : -((-months + 11) / 12);
  int m = static_cast<int>(months - y * 12) + 1;
  if (y < 1700 || y > 10100) return -1;
  int64_t serial = int64_t{SerialFromParts(static_cast<int32_t>(y), m, 1)} + day - 1;
  if (serial < kFirstDateSerial || serial > kLastDateSerial) return -1;
  return static_cast<int32_t>(serial);
}

int32_t DateToParts(int32_t serial, DateParts* parts) {
  *parts = DateParts{};
  if (serial < kFirstDateSerial || serial > kLastDateSerial) return -1;
  int64_t sum = int64_t{serial} - 4 + DaysBeforeYear(1801);
  int64_t y = sum / 365;
  while (DaysBeforeYear(y) > sum) --y;
  int dayOfYear = static_cast<int>(sum - DaysBeforeYear(y)) + 1;
  int month = 1;
  while (month < 12 && dayOfYear > MonthLength(static_cast<int32_t>(y), month)) {
    dayOfYear -= MonthLength(static_cast<int32_t>(y), month);
    ++month;
  }
  parts->year = static_cast<int32_t>(y);
  parts->month = static_cast<uint8_t>(month);
  parts->day = static_cast<uint8_t>(dayOfYear);
  return 0;
}

int32_t MakeDate(int32_t year, int month, int day) {
  if (year >= 0 && year < 100) year = ExpandTwoDigitYear(year, kDefaultCenturyWindow);
  if (year < 1801 || year > 9999 || month < 1 || month > 12) return -1;
  if (day < 1 || day > MonthLength(year, month)) return -1;
  return SerialFromParts(year, month, day);
}

int32_t CurrentYear() {
  int32_t today = g_todayOverride.load(std::memory_order_relaxed);
  if (today != 0) {
    DateParts parts;
    if (DateToParts(today, &parts) == 0) return parts.year;
  }
  return SystemCurrentYear();
}

int32_t ExpandTwoDigitYear(int32_t yy, int window) {
  if (yy < 0 || yy >= 100) return yy;
  int32_t current = CurrentYear();
  int32_t distance = current % 100 - yy;
  int32_t year = current - distance;
  if (distance <= window - 100) {
    year -= 100;
  } else if (distance > window) {
    year += 100;
  }
  return year;
}

int32_t Today() {
  int32_t today = g_todayOverride.load(std::memory_order_relaxed);
  if (today != 0) return today;
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return MakeDate(now.wYear, now.wMonth, now.wDay);
}

int32_t Clock() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return ((now.wHour * 60 + now.wMinute) * 60 + now.wSecond) * 100 + now.wMilliseconds / 10 + 1;
}

void SetTodayForTesting(int32_t serial) { g_todayOverride.store(serial, std::memory_order_relaxed); }

int32_t TimeFromParts(int hours, int minutes, int seconds, int hundredths) {
  if (hours == 0 && minutes == 0 && seconds == 0 && hundredths == 0) return 0;
  if (hours < 0 || minutes < 0 || seconds < 0 || hundredths < 0) return -1;
  if (hours > 23 || minutes > 59 || seconds > 59 || hundredths > 99) return -1;
  return ((hours * 60 + minutes) * 60 + seconds) * 100 + hundredths + 1;
}

int32_t TimeToParts(int32_t serial, TimeParts* parts) {
  *parts = TimeParts{};
  if (serial < 1 || serial > kLastTimeSerial) return -1;
  int32_t t = serial - 1;
  parts->hundredths = static_cast<uint8_t>(t % 100);
  t /= 100;
  parts->seconds = static_cast<uint8_t>(t % 60);
  t /= 60;
  parts->minutes = static_cast<uint8_t>(t % 60);
  parts->hours = static_cast<uint8_t>(t / 60);
  return 0;
}

std::string AgeText(int32_t date, int32_t base) {
  if (base == 0) base = Today();
  DateParts d, b;
  if (DateToParts(date, &d) != 0 || DateToParts(base, &b) != 0) return {};
  if (date > base) {
    date = DateFromParts(d.month, d.day, d.year - 100);
    if (date < 0 || DateToParts(date, &d) != 0 || date > base) return std::string(kAgeTextWidth, '*');
  }
  char text[32];
  int32_t days = base - date;
  if (days < 61) {
    std::snprintf(text, sizeof text, "%d DAYS", days);
    return text;
  }
  int32_t years = b.year - d.year;
  int32_t months = 12 * years;
  if (years <= 2) {
    months += b.month - d.month;
    if (b.day < d.day) months -= 1;
  }
  if (months <= 24) {
    std::snprintf(text, sizeof text, "%d MOS", months);
    return text;
  }
  if (b.month < d.month || (b.month == d.month && b.day < d.day)) years -= 1;
  std::snprintf(text, sizeof text, "%d YRS", years);
  return text;
}

}  // namespace pr::values
