#include "values/date_time.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace pr::values {
namespace {

using testing::ValuesTest;

TEST(DateSerial, BoundariesOfTheValidRange) {
  DateParts parts;
  EXPECT_EQ(DateToParts(4, &parts), 0);
  EXPECT_EQ(parts.year, 1801);
  EXPECT_EQ(parts.month, 1);
  EXPECT_EQ(parts.day, 1);
  EXPECT_EQ(DateToParts(2994626, &parts), 0);
  EXPECT_EQ(parts.year, 9999);
  EXPECT_EQ(parts.month, 12);
  EXPECT_EQ(parts.day, 31);
  for (int32_t bad : {3, 0, -1, 2994627, INT32_MAX, INT32_MIN}) {
    EXPECT_EQ(DateToParts(bad, &parts), -1) << bad;
    EXPECT_EQ(parts.year, 0);
    EXPECT_EQ(parts.month, 0);
  }
  EXPECT_EQ(MakeDate(1801, 1, 1), 4);
  EXPECT_EQ(MakeDate(2000, 1, 1), 72687);
  EXPECT_EQ(MakeDate(9999, 12, 31), 2994626);
  EXPECT_EQ(MakeDate(1800, 12, 31), -1);
  EXPECT_EQ(MakeDate(10000, 1, 1), -1);
}

TEST(DateSerial, EveryDayConvertsBothWays) {
  // Walk the whole range in steps that hit every month and leap rule.
  DateParts parts;
  int32_t previous = 3;
  for (int32_t serial = 4; serial <= 2994626; serial += (serial < 200000 ? 1 : 37)) {
    ASSERT_EQ(DateToParts(serial, &parts), 0);
    ASSERT_EQ(MakeDate(parts.year, parts.month, parts.day), serial);
    ASSERT_GT(serial, previous);
    previous = serial;
  }
}

TEST(DateSerial, LeapYears) {
  EXPECT_EQ(MakeDate(1900, 2, 29), -1);
  EXPECT_GT(MakeDate(2000, 2, 29), 0);
  EXPECT_EQ(MakeDate(2000, 2, 29) + 1, MakeDate(2000, 3, 1));
  EXPECT_EQ(MakeDate(2100, 2, 29), -1);
  EXPECT_GT(MakeDate(2024, 2, 29), 0);
  EXPECT_EQ(MakeDate(2023, 2, 29), -1);
  EXPECT_EQ(MakeDate(2023, 4, 31), -1);
  EXPECT_EQ(MakeDate(2023, 0, 1), -1);
  EXPECT_EQ(MakeDate(2023, 13, 1), -1);
  EXPECT_EQ(MakeDate(2023, 1, 0), -1);
}

TEST_F(ValuesTest, DateFromPartsCarriesMonthsAndDays) {
  EXPECT_EQ(DateFromParts(13, 1, 2000), MakeDate(2001, 1, 1));
  EXPECT_EQ(DateFromParts(1, 32, 2000), MakeDate(2000, 2, 1));
  EXPECT_EQ(DateFromParts(2, 30, 2000), MakeDate(2000, 3, 1));
  EXPECT_EQ(DateFromParts(25, 1, 2000), MakeDate(2002, 1, 1));
  // A month or day below 1 is no date (it does not borrow from the year or
  // the month before).
  EXPECT_EQ(DateFromParts(3, 0, 2000), -1);
  EXPECT_EQ(DateFromParts(0, 1, 2000), -1);
  EXPECT_EQ(DateFromParts(-11, 1, 2000), -1);
  EXPECT_EQ(DateFromParts(1, -5, 2000), -1);
  EXPECT_EQ(DateFromParts(INT32_MIN, INT32_MIN, 2000), -1);
  EXPECT_EQ(DateFromParts(1, 1, 1800), -1);
  EXPECT_EQ(DateFromParts(12, 32, 9999), -1);
  EXPECT_EQ(DateFromParts(1, INT32_MAX, 2000), -1);
  EXPECT_EQ(DateFromParts(INT32_MAX, 1, 2000), -1);
  // A two-digit year through window 80, in 2026.
  EXPECT_EQ(DateFromParts(1, 1, 45), MakeDate(2045, 1, 1));
  EXPECT_EQ(DateFromParts(1, 1, 46), MakeDate(1946, 1, 1));
}

TEST_F(ValuesTest, TwoDigitYearWindow) {
  EXPECT_EQ(CurrentYear(), 2026);
  EXPECT_EQ(ExpandTwoDigitYear(45), 2045);
  EXPECT_EQ(ExpandTwoDigitYear(46), 1946);
  EXPECT_EQ(ExpandTwoDigitYear(26), 2026);
  EXPECT_EQ(ExpandTwoDigitYear(0), 2000);
  EXPECT_EQ(ExpandTwoDigitYear(99), 1999);
  EXPECT_EQ(ExpandTwoDigitYear(75, 50), 2075);
  EXPECT_EQ(ExpandTwoDigitYear(76, 50), 1976);
  EXPECT_EQ(ExpandTwoDigitYear(15, 10), 2115);  // window 10: 2016 to 2115
  EXPECT_EQ(ExpandTwoDigitYear(16, 10), 2016);
  EXPECT_EQ(ExpandTwoDigitYear(1999), 1999);
}

TEST(TimeSerial, PartsBothWays) {
  EXPECT_EQ(TimeFromParts(0, 0, 0, 0), 0);  // no time
  EXPECT_EQ(TimeFromParts(0, 0, 0, 1), 2);
  EXPECT_EQ(TimeFromParts(23, 59, 59, 99), 8640000);
  EXPECT_EQ(TimeFromParts(24, 0, 0, 0), -1);
  EXPECT_EQ(TimeFromParts(0, 60, 0, 0), -1);
  EXPECT_EQ(TimeFromParts(0, 0, 60, 0), -1);
  EXPECT_EQ(TimeFromParts(0, 0, 0, 100), -1);
  EXPECT_EQ(TimeFromParts(-1, 0, 0, 0), -1);
  TimeParts parts;
  EXPECT_EQ(TimeToParts(8640000, &parts), 0);
  EXPECT_EQ(parts.hours, 23);
  EXPECT_EQ(parts.minutes, 59);
  EXPECT_EQ(parts.seconds, 59);
  EXPECT_EQ(parts.hundredths, 99);
  EXPECT_EQ(TimeToParts(1, &parts), 0);
  EXPECT_EQ(parts.hours + parts.minutes + parts.seconds + parts.hundredths, 0);
  for (int32_t bad : {0, -5, 8640001}) {
    EXPECT_EQ(TimeToParts(bad, &parts), -1) << bad;
    EXPECT_EQ(parts.hours, 0);
  }
  for (int32_t serial = 2; serial <= 8640000; serial += 997) {
    ASSERT_EQ(TimeToParts(serial, &parts), 0);
    ASSERT_EQ(TimeFromParts(parts.hours, parts.minutes, parts.seconds, parts.hundredths), serial);
  }
}

TEST_F(ValuesTest, AgeTextAgainstAFixedToday) {
  int32_t today = testing::FixedToday();
  EXPECT_EQ(AgeText(today - 30), "30 DAYS");
  EXPECT_EQ(AgeText(today), "0 DAYS");
  EXPECT_EQ(AgeText(today - 60), "60 DAYS");
  EXPECT_EQ(AgeText(MakeDate(2025, 4, 6)), "20 MOS");
  EXPECT_EQ(AgeText(MakeDate(2025, 4, 7)), "19 MOS");  // the day of today is below
  EXPECT_EQ(AgeText(MakeDate(2024, 12, 6)), "24 MOS");
  EXPECT_EQ(AgeText(MakeDate(1996, 12, 6)), "30 YRS");
  EXPECT_EQ(AgeText(MakeDate(1996, 12, 7)), "29 YRS");
  EXPECT_EQ(AgeText(MakeDate(2024, 12, 5)), "24 MOS");
  EXPECT_EQ(AgeText(MakeDate(2024, 11, 6)), "2 YRS");
  EXPECT_EQ(AgeText(MakeDate(2000, 1, 1), MakeDate(2000, 2, 15)), "45 DAYS");
  // A later date is taken a century back; still later gives asterisks.
  EXPECT_EQ(AgeText(MakeDate(2030, 12, 6)), "96 YRS");
  EXPECT_EQ(AgeText(MakeDate(2126, 12, 7)), std::string(kAgeTextWidth, '*'));
  EXPECT_EQ(AgeText(0), "");
  EXPECT_EQ(AgeText(today, 3), "");
}

TEST_F(ValuesTest, TodayAndClock) {
  EXPECT_EQ(Today(), testing::FixedToday());
  SetTodayForTesting(0);
  EXPECT_GE(Today(), MakeDate(2020, 1, 1));
  int32_t clock = Clock();
  EXPECT_GE(clock, 1);
  EXPECT_LE(clock, kLastTimeSerial);
}

}  // namespace
}  // namespace pr::values
