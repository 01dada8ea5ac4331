#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"
#include "values/format.h"
#include "values/picture.h"

namespace pr::values {
namespace {

using testing::ValuesTest;

// Reads `text` through `picture`; the value's text (decimals, strings) or its
// whole number; "REFUSED" when the text does not convert.
std::string Read(std::string_view picture, std::string_view text) {
  Value value;
  if (!Deformat(CompilePicture(picture), text, &value)) return "REFUSED";
  if (value.kind() == Value::Kind::kLong) return std::to_string(value.AsLong());
  return std::string(value.text());
}

std::string Serial(int y, int m, int d) { return std::to_string(MakeDate(y, m, d)); }
std::string Time(int h, int m, int s) { return std::to_string(TimeFromParts(h, m, s, 0)); }

TEST_F(ValuesTest, NumbersReadBackWhatFormattingShows) {
  struct Case {
    const char* picture;
    const char* text;
    const char* expected;
  } cases[] = {
      {"@n-14", "    -1,234,567", "-1234567"},
      {"@n10.2", "(1,234.50)", "-1234.5"},
      {"@n(10.2)", "(1,234.50)", "-1234.5"},
      {"@n10.2-", "  1,234.50-", "-1234.5"},
      {"@n10`2", "  1.234,50", "1234.5"},
      {"@n10_.2", "  1 234.50", "1234.5"},
      {"@n10_2", "  1234 50", "1234.5"},  // a blank decimal separator
      {"@n$10.2", "   $-12.50", "-12.5"},
      {"@n10.2~ kn~", "  12.50 kn", "12.5"},
      {"@n6v2", " 1234", "12.34"},
      {"@n6v2", "5", "0.05"},
      {"@n6v2", "12.3", "12.3"},  // a typed point wins over the implied one
      {"@n-14", "1234", "1234"},
      {"@n-14", "  +17  ", "17"},
      {"@n-14", "-0", "0"},
      {"@n-14", "", "0"},
      {"@n-14", "   ", "0"},
      {"@n-14", "007", "7"},
      {"@n-14", "12a", "REFUSED"},
      {"@n-14", "###", "REFUSED"},
      {"@n-14", "1-2", "REFUSED"},
      {"@n-14", "--1", "REFUSED"},
      {"@n10.2", "1.2.3", "REFUSED"},
      {"@n10.2", ".", "REFUSED"},
      {"@e10.2", " 1.23E+003", "1230"},
      {"@e10.2", "-1.23E-004", "-0.000123"},
      {"@e10.2", "1.5e", "REFUSED"},
      {"@p###-##-####p", "123-45-6789", "123456789"},
      {"@p###-##-####p", "123456789", "123456789"},
      {"@p###-##-####p", "12x", "REFUSED"},
      {"@k##-@@k", "12AB", "12-AB"},
      {"@k##-@@k", "1X-AB", "REFUSED"},
      {"@s10", "ab-12.5e+3x", "-12.5e+3"},
      {"@s10", "-1.2.3", "-1.23"},
      {"@s3", "123456", "123"},
      {"@s10", "12-3", "123"},
  };
  for (const Case& c : cases) EXPECT_EQ(Read(c.picture, c.text), c.expected) << c.picture << " \"" << c.text << '"';
}

TEST_F(ValuesTest, DatesAndTimesReadBack) {
  struct Case {
    const char* picture;
    const char* text;
    std::string expected;
  } cases[] = {
      {"@d6", " 5/01/2004", Serial(2004, 1, 5)},
      {"@d6", "5/1/2004", Serial(2004, 1, 5)},
      {"@d6", "05.01.2004.", Serial(2004, 1, 5)},
      {"@d6", "5/1/04", Serial(2004, 1, 5)},
      {"@d2", "1/5/45", Serial(2045, 1, 5)},  // the century window, in 2026
      {"@d2", "1/5/46", Serial(1946, 1, 5)},
      {"@d2<50", "1/5/75", Serial(2075, 1, 5)},
      {"@d2<50", "1/5/76", Serial(1976, 1, 5)},
      {"@d1", " 1/05/46", Serial(1946, 1, 5)},
      {"@d11", "040105", Serial(2004, 1, 5)},
      {"@d12", "20040105", Serial(2004, 1, 5)},
      {"@d3", "JAN  5,2004", Serial(2004, 1, 5)},
      {"@d3", "january 5 2004", Serial(2004, 1, 5)},
      {"@d4", "January    5, 2004", Serial(2004, 1, 5)},
      {"@d13", "02/04", Serial(2004, 2, 1)},
      {"@d6", "32/01/2004", "REFUSED"},
      {"@d6", "29/02/1900", "REFUSED"},
      {"@d6", "29/02/2000", Serial(2000, 2, 29)},
      {"@d6", "5/1", "REFUSED"},
      {"@d6", "5/1/2004x", "REFUSED"},
      {"@d3", "XYZ 5,2004", "REFUSED"},
      {"@d6", "", "0"},
      {"@t3", " 1:05PM", Time(13, 5, 0)},
      {"@t3", "1:05pm", Time(13, 5, 0)},
      {"@t3", "12:30AM", Time(0, 30, 0)},
      {"@t3", "12:30PM", Time(12, 30, 0)},
      {"@t3", "13:05", Time(13, 5, 0)},
      {"@t3", "13:05PM", "REFUSED"},
      {"@t3", "1:05XM", "REFUSED"},
      {"@t1", "24:00", "REFUSED"},
      {"@t1", "9:60", "REFUSED"},
      {"@t2", " 905", Time(9, 5, 0)},
      {"@t4", "13:05", Time(13, 5, 0)},
      {"@t4", "13", Time(13, 0, 0)},
      {"@t7", "01:05 PM", Time(13, 5, 0)},
      {"@t1", " 0:00", "0"},  // midnight reads back as no time
      {"@t1", "", "0"},
  };
  for (const Case& c : cases) EXPECT_EQ(Read(c.picture, c.text), c.expected) << c.picture << " \"" << c.text << '"';
}

// Format, then read back: the value must come back for every kind.
TEST_F(ValuesTest, RoundTripsForEveryPictureKind) {
  const char* numericPictures[] = {"@n-14",   "@n-20.2",    "@n(20.2)",   "@n20.2-",  "@n$-20.2", "@n20`2",
                                   "@n*20.2", "@n020.2",    "@n~kn~-20.2", "@n-20v2", "@n-_20.3", "@n-20_.2",
                                   "@n-20.2~ EUR~", "@N-20.4B"};
  const char* numbers[] = {"0",      "1",      "-1",      "0.5",         "-0.25",      "999",
                           "1000",   "-1234567", "1234567.89", "-99999.99", "12345678901", "0.01"};
  for (const char* pictureText : numericPictures) {
    Picture p = CompilePicture(pictureText);
    ASSERT_TRUE(p.valid()) << pictureText;
    for (const char* number : numbers) {
      const char* point = std::strchr(number, '.');
      if (point != nullptr && std::strlen(point + 1) > p.places) continue;  // would round
      std::string shown = Format(p, Value::Decimal(number));
      if (shown.find('#') != std::string::npos) continue;  // does not fit
      Value back;
      ASSERT_TRUE(Deformat(p, shown, &back)) << pictureText << " \"" << shown << '"';
      EXPECT_EQ(back.text(), number) << pictureText << " \"" << shown << '"';
    }
  }
  for (const char* number : {"1230", "-0.000123", "0", "9.87e+20"}) {
    Picture p = CompilePicture("@e12.3");
    Value back;
    ASSERT_TRUE(Deformat(p, Format(p, Value::Decimal(number)), &back));
    EXPECT_DOUBLE_EQ(back.AsReal(), Value::Decimal(number).AsReal()) << number;
  }

  std::vector<int32_t> dates = {MakeDate(1946, 1, 1),  MakeDate(1999, 12, 31), MakeDate(2000, 2, 29),
                                MakeDate(2004, 1, 5),  MakeDate(2026, 12, 6),  MakeDate(2045, 7, 31)};
  std::vector<int32_t> wideDates = {4, 2994626, MakeDate(1900, 3, 1), MakeDate(2400, 2, 29)};
  for (int number = 1; number <= 18; ++number) {
    std::string pictureText = "@d" + std::to_string(number);
    Picture p = CompilePicture(pictureText);
    ASSERT_TRUE(p.valid()) << pictureText;
    int yearPositions = 0;
    bool hasDay = false;
    for (int k = 0; k < p.length; ++k) {
      yearPositions += p.positions[k].token == kTokYear;
      hasDay = hasDay || p.positions[k].token == kTokDay;
    }
    std::vector<int32_t> serials = dates;
    if (yearPositions == 4) serials.insert(serials.end(), wideDates.begin(), wideDates.end());
    for (int32_t serial : serials) {
      if (!hasDay) {
        DateParts parts;
        DateToParts(serial, &parts);
        serial = MakeDate(parts.year, parts.month, 1);
      }
      std::string shown = Format(p, Value::Long(serial));
      Value back;
      ASSERT_TRUE(Deformat(p, shown, &back)) << pictureText << " \"" << shown << '"';
      EXPECT_EQ(back.AsLong(), serial) << pictureText << " \"" << shown << '"';
    }
  }

  for (int number = 1; number <= 8; ++number) {
    std::string pictureText = "@t" + std::to_string(number);
    Picture p = CompilePicture(pictureText);
    bool seconds = false;
    for (int k = 0; k < p.length; ++k) seconds = seconds || p.positions[k].token == kTokSecond;
    for (int h : {0, 1, 11, 12, 13, 23}) {
      for (int m : {0, 1, 59}) {
        int32_t serial = TimeFromParts(h, m, seconds ? 7 : 0, 0);
        if (serial == 0) continue;  // midnight itself reads back as no time
        std::string shown = Format(p, Value::Long(serial));
        Value back;
        ASSERT_TRUE(Deformat(p, shown, &back)) << pictureText << " \"" << shown << '"';
        EXPECT_EQ(back.AsLong(), serial) << pictureText << " \"" << shown << '"';
      }
    }
  }

  for (const char* pictureText : {"@p###-##-####p", "@p<<<#p", "@P(###)###-####P"}) {
    Picture p = CompilePicture(pictureText);
    for (int64_t number : {0LL, 5LL, 1234LL, 5551234567LL}) {
      std::string shown = Format(p, Value::Long(number));
      if (shown.find('#') != std::string::npos) continue;  // does not fit
      Value back;
      ASSERT_TRUE(Deformat(p, shown, &back)) << pictureText << " \"" << shown << '"';
      EXPECT_EQ(back.AsLong(), number) << pictureText;
    }
  }

  Picture keyIn = CompilePicture("@k##-@@-^?k");
  for (const char* text : {"12-AB-Cx", "00-zz-  "}) {
    Value back;
    ASSERT_TRUE(Deformat(keyIn, Format(keyIn, Value::String(text)), &back));
    EXPECT_EQ(back.text(), text);
  }
  Picture s = CompilePicture("@s12");
  for (const char* number : {"-12.5", "3e+7", "0"}) {
    Value back;
    ASSERT_TRUE(Deformat(s, Format(s, Value::Decimal(number)), &back));
    EXPECT_EQ(back.text(), number);
  }
}

TEST_F(ValuesTest, EntryValueKeepsTextOfStringPictures) {
  Value v;
  ASSERT_TRUE(EntryValue(CompilePicture("@s20"), "Zvirko d.o.o.", &v));
  EXPECT_EQ(v.text(), "Zvirko d.o.o.");
  ASSERT_TRUE(EntryValue(CompilePicture("@s3"), "abcdef", &v));
  EXPECT_EQ(v.text(), "abc");
  ASSERT_TRUE(EntryValue(CompilePicture("@n-14"), "  1,234", &v));
  EXPECT_EQ(v.AsLong(), 1234);
  EXPECT_FALSE(EntryValue(CompilePicture("@n-14"), "x", &v));
  EXPECT_EQ(v.AsLong(), 1234);  // unchanged after a refusal
  ASSERT_TRUE(Deformat(Picture{}, "123", &v));
  EXPECT_EQ(v.kind(), Value::Kind::kNone);
}

}  // namespace
}  // namespace pr::values

namespace pr::values {
namespace {

using testing::ValuesTest;

// Generated numeric pictures of every shape: whatever fits reads back as
// the value shown.
TEST_F(ValuesTest, GeneratedNumericPicturesReadBack) {
  std::mt19937 rng(4242);
  const char* currencies[] = {"", "$", "~kn~", "~ EUR~"};
  const char* fills[] = {"", "0", "*", "_"};
  const char* decimals[] = {"", ".2", "`2", "_2", "v2", ".4", "..2", "`.3", "_.1"};
  int checked = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string picture = "@n";
    int signKind = static_cast<int>(rng() % 4);  // none, leading -, parentheses, trailing -
    bool trailingCurrency = rng() % 2 == 0;
    std::string currency = currencies[rng() % 4];
    if (!trailingCurrency) picture += currency;
    if (signKind == 1) picture += "-";
    if (signKind == 2) picture += "(";
    picture += fills[rng() % 4];
    picture += std::to_string(12 + rng() % 20);
    picture += decimals[rng() % 9];
    if (signKind == 2) picture += ")";
    if (signKind == 3) picture += "-";
    if (trailingCurrency) picture += currency;
    Picture p = CompilePicture(picture);
    ASSERT_TRUE(p.valid()) << picture;

    long long whole = static_cast<long long>(rng() % 10000000) * (rng() % 2 ? 1 : -1);
    std::string number = std::to_string(whole);
    if (p.places > 0) {
      // 1 to `places` decimals, the last one not 0 (the canonical text).
      int count = 1 + static_cast<int>(rng() % p.places);
      number += '.';
      for (int k = 0; k < count; ++k) number += static_cast<char>('0' + (k + 1 == count ? 1 + rng() % 9 : rng() % 10));
      if (whole == 0 && rng() % 2) number = "-" + number;
    }
    std::string shown = Format(p, Value::Decimal(number));
    if (shown.find('#') != std::string::npos) continue;
    Value back;
    ASSERT_TRUE(Deformat(p, shown, &back)) << picture << " \"" << shown << '"';
    ASSERT_EQ(back.text(), number) << picture << " \"" << shown << '"';
    ++checked;
  }
  EXPECT_GT(checked, 1500);
}

}  // namespace
}  // namespace pr::values

namespace pr::values {
namespace {

using testing::ValuesTest;

// Every date and time shape with every fill and separator reads back.
TEST_F(ValuesTest, FillsAndSeparatorsReadBack) {
  const char* fills[] = {"", "0", "_", "*"};
  const char* separators[] = {"", ".", "-", "_", "`"};
  const int32_t dates[] = {MakeDate(2004, 1, 1), MakeDate(2004, 11, 5), MakeDate(1999, 10, 31)};
  const int32_t times[] = {TimeFromParts(0, 5, 1, 0), TimeFromParts(9, 0, 0, 0), TimeFromParts(23, 10, 59, 0)};
  for (const char* fill : fills) {
    for (const char* separator : separators) {
      for (int number = 1; number <= 18; ++number) {
        std::string text = std::string("@d") + fill + std::to_string(number) + separator;
        Picture p = CompilePicture(text);
        ASSERT_TRUE(p.valid()) << text;
        bool hasDay = false;
        for (int k = 0; k < p.length; ++k) hasDay = hasDay || p.positions[k].token == kTokDay;
        for (int32_t serial : dates) {
          if (!hasDay) serial = MakeDate(2004, 11, 1);
          std::string shown = Format(p, Value::Long(serial));
          Value back;
          ASSERT_TRUE(Deformat(p, shown, &back)) << text << " \"" << shown << '"';
          EXPECT_EQ(back.AsLong(), serial) << text << " \"" << shown << '"';
        }
      }
      for (int number = 1; number <= 8; ++number) {
        std::string text = std::string("@t") + fill + std::to_string(number) + separator;
        Picture p = CompilePicture(text);
        ASSERT_TRUE(p.valid()) << text;
        bool seconds = false;
        for (int k = 0; k < p.length; ++k) seconds = seconds || p.positions[k].token == kTokSecond;
        for (int32_t serial : times) {
          TimeParts parts;
          TimeToParts(serial, &parts);
          if (!seconds) serial = TimeFromParts(parts.hours, parts.minutes, 0, 0);
          std::string shown = Format(p, Value::Long(serial));
          Value back;
          ASSERT_TRUE(Deformat(p, shown, &back)) << text << " \"" << shown << '"';
          EXPECT_EQ(back.AsLong(), serial) << text << " \"" << shown << '"';
        }
      }
    }
  }
}

}  // namespace
}  // namespace pr::values
