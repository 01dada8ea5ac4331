#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"
#include "values/decimal_digits.h"
#include "values/format.h"
#include "values/picture.h"

namespace pr::values {
namespace {

using testing::Fmt;
using testing::ValuesTest;

struct FormatCase {
  const char* picture;
  Value value;
  const char* expected;
};

void ExpectAll(const std::vector<FormatCase>& cases) {
  for (const FormatCase& c : cases) {
    EXPECT_EQ(Fmt(c.picture, c.value), c.expected) << c.picture;
  }
}

TEST_F(ValuesTest, NumericPictures) {
  ExpectAll({
      {"@n-14", Value::Long(-1234567), "    -1,234,567"},
      {"@n-14", Value::Long(1234567), "     1,234,567"},
      {"@n-14", Value::Long(0), "             0"},
      {"@N-_6", Value::Long(12345), " 12345"},
      {"@N-_6", Value::Long(-12345), "-12345"},
      {"@n3", Value::Long(1000), "###"},
      {"@n3", Value::Long(999), "999"},
      {"@n-14", Value::Long(INT64_MIN), "##############"},
      {"@n6.2", Value::Decimal("1.005"), "  1.01"},
      {"@n6.2", Value::Real(1.005), "  1.01"},
      {"@n6.2", Value::Decimal("-0.004"), "  0.00"},  // rounds to zero: no minus
      {"@n6.2", Value::Decimal("0.5"), "  0.50"},
      {"@n6.2", Value::Decimal("999.995"), "######"},
      {"@n7.2", Value::Decimal("999.995"), "1000.00"},
      {"@n_6", Value::Long(42), "    42"},
      {"@n06", Value::Long(42), "000042"},
      {"@n*6", Value::Long(42), "****42"},
      {"@n*10.2", Value::Decimal("1234.5"), "***1234.50"},
      {"@n010.2", Value::Decimal("1234.5"), "0001234.50"},
      {"@n10.2", Value::Decimal("1234.5"), "  1,234.50"},
      {"@n10`2", Value::Decimal("1234.5"), "  1.234,50"},
      {"@n10_.2", Value::Decimal("1234.5"), "  1 234.50"},
      {"@n(10.2)", Value::Decimal("-1234.5"), "(1,234.50)"},
      {"@n(10.2)", Value::Decimal("5"), "     5.00 "},
      {"@n10.2-", Value::Long(-3), "     3.00-"},
      {"@n$10.2", Value::Decimal("12.5"), "    $12.50"},
      {"@n$-10.2", Value::Decimal("-12.5"), "   $-12.50"},
      {"@n~kn~10.2", Value::Decimal("12.5"), "   kn12.50"},
      {"@n10.2~ kn~", Value::Decimal("12.5"), "  12.50 kn"},
      {"@n$*10.2", Value::Decimal("12.5"), "$****12.50"},  // fixed fill: the currency stays
      {"@n6v2", Value::Decimal("12.34"), " 1234"},         // the implied point takes no place
      {"@n6", Value::Long(-42), "   -42"},                // no sign position: floats
      {"@n06", Value::Long(-42), "-00042"},
      {"@n3", Value::Long(-123), "###"},
      {"@n6", Value::Real(1.0 / 0.0), "######"},
      {"@n6", Value::String("17"), "    17"},
      {"@n6", Value::String("abc"), "     0"},
  });
}

TEST_F(ValuesTest, StarFillTakesTheGroupingPlacesAsDigits) {
  // Without a grouping character of its own, a "*" fill turns the grouping
  // places into "*"-filled digits: no separator, and no lost capacity.
  ExpectAll({
      {"@n*10", Value::Decimal("1234.5"), "******1235"},
      {"@n*6", Value::Long(123456), "123456"},
      {"@n*6", Value::Long(1234567), "######"},
      {"@n(*12.2)", Value::Decimal("-1234.5"), "(***1234.50)"},
      {"@n(*12.2)", Value::Decimal("1234.5"), " ***1234.50 "},
      // An explicit grouping character keeps its separator positions.
      {"@n*10_.2", Value::Decimal("1234.5"), "**1 234.50"},
      {"@n*10_.2", Value::Decimal("12.5"), "*****12.50"},
  });
  Value back;
  ASSERT_TRUE(Deformat(CompilePicture("@n*10"), "******1235", &back));
  EXPECT_EQ(back.text(), "1235");
}

TEST_F(ValuesTest, LiteralsAndNamesKeepTheirBlanks) {
  // Positions after a month name's end stay blank whatever the fill.
  const Value may5 = Value::Long(MakeDate(2004, 5, 5));
  ExpectAll({
      {"@d04", may5, "May       05, 2004"},
      {"@d*4", may5, "May       *5, 2004"},
      {"@d4", may5, "May        5, 2004"},
      {"@d*3", may5, "MAY *5,2004"},
      {"@d*4", Value::Long(MakeDate(2004, 9, 15)), "September 15, 2004"},
      // A pattern without digit positions shows its literals; only a value
      // it cannot show leaves it blank.
      {"@pAB-CDp", Value::Long(0), "AB-CD"},
      {"@pAB-CDp", Value::Long(7), "     "},
  });
}

TEST_F(ValuesTest, EveryDigitAPictureCanShowIsCarried) {
  // 100 significant digits read back through @n200 exactly.
  const std::string hundred = std::string(70, '1') + std::string(30, '2');
  Value back;
  ASSERT_TRUE(Deformat(CompilePicture("@n200"), hundred, &back));
  EXPECT_EQ(back.text(), hundred);
  // A value text holds 255 characters: 255 digits are carried, a sign more
  // is refused rather than cut.
  const std::string most(255, '7');
  ASSERT_TRUE(Deformat(CompilePicture("@n_255"), most, &back));
  EXPECT_EQ(back.text(), most);
  EXPECT_FALSE(Deformat(CompilePicture("@n-_255"), "-" + most.substr(1) + "7", &back));
  // 50 integer and 30 decimal digits are all shown.
  std::string integer, decimals;
  for (int i = 0; i < 50; ++i) integer += char('1' + i % 9);
  for (int i = 0; i < 30; ++i) decimals += char('9' - i % 9);
  std::string shown = Fmt("@n100.30", Value::Decimal(integer + "." + decimals));
  std::erase(shown, ',');
  std::erase(shown, ' ');
  EXPECT_EQ(shown, integer + "." + decimals);
  // Rounding at the last of 255 positions still sees its digit.
  EXPECT_EQ(Fmt("@n255.200", Value::Decimal("0." + std::string(200, '4') + "5")),
            std::string(53, ' ') + "0." + std::string(199, '4') + "5");
  // Digits beyond what is carried are refused, never cut silently.
  DecimalDigits digits;
  EXPECT_FALSE(ParseDecimal(std::string(300, '1'), &digits));
  ASSERT_TRUE(ParseDecimal("1" + std::string(300, '0'), &digits));
  EXPECT_EQ(digits.point, 301);
  EXPECT_EQ(digits.count, 1);
}

TEST_F(ValuesTest, BlankWhenZero) {
  ExpectAll({
      {"@n6B", Value::Long(0), "      "},
      {"@n6.2b", Value::Decimal("0.001"), "      "},
      {"@n6.2B", Value::Decimal("0.01"), "  0.01"},
      {"@d2B", Value::Long(0), "          "},
      {"@t1B", Value::Long(0), "     "},
      {"@e10.2B", Value::Long(0), "          "},
      {"@s4B", Value::Long(0), "    "},
      {"@s4B", Value::String("0"), "0   "},
  });
}

TEST_F(ValuesTest, ScientificPictures) {
  ExpectAll({
      {"@e10.2", Value::Decimal("1234.5"), " 1.23E+003"},
      {"@e10.2", Value::Decimal("-0.00012345"), "-1.23E-004"},
      {"@e10.2", Value::Long(0), " 0.00E+000"},
      {"@e12.3", Value::Decimal("9.9996"), "  1.000E+001"},
      {"@e12.3", Value::Decimal("-9.9996"), " -1.000E+001"},
      {"@e7", Value::Long(5), " 5E+000"},
      {"@e10.2", Value::Decimal("1e1000"), "##########"},
      {"@e12`3", Value::Decimal("1.5"), "  1,500E+000"},
  });
}

TEST_F(ValuesTest, DatePictures) {
  Value jan5 = Value::Long(MakeDate(2004, 1, 5));
  ExpectAll({
      {"@d1", jan5, " 1/05/04"},
      {"@d2", jan5, " 1/05/2004"},
      {"@d3", jan5, "JAN  5,2004"},
      {"@d4", jan5, "January    5, 2004"},
      {"@d5", jan5, " 5/01/04"},
      {"@d6", jan5, " 5/01/2004"},
      {"@d6-", jan5, " 5-01-2004"},
      {"@d6.", jan5, " 5.01.2004"},
      {"@d06", jan5, "05/01/2004"},
      {"@d7", jan5, " 5 JAN 04"},
      {"@d7-", jan5, " 5-JAN-04"},
      {"@d8", jan5, " 5 JAN 2004"},
      {"@d9", jan5, "04/01/05"},
      {"@d10", jan5, "2004/01/05"},
      {"@d11", jan5, "040105"},
      {"@d12", jan5, "20040105"},
      {"@d13", jan5, "01/04"},
      {"@d14", jan5, "01/2004"},
      {"@d15", jan5, "04/01"},
      {"@d16", jan5, "2004/01"},
      {"@d17", jan5, "01/05/04"},
      {"@d18", jan5, "05 January   2004"},
      {"@d3_", jan5, "JAN  5 2004"},
      {"@d3`", jan5, "JAN  5,2004"},
      {"@d2", Value::Long(0), "          "},
      {"@d2", Value::Long(3), "          "},
      {"@d2", Value::Long(2994627), "          "},
      {"@d2", Value::Long(4), " 1/01/1801"},
      {"@d2", Value::Long(2994626), "12/31/9999"},
      {"@D2", Value::Long(MakeDate(2000, 2, 29)), " 2/29/2000"},
  });
}

TEST_F(ValuesTest, TimePictures) {
  auto at = [](int h, int m, int s) { return Value::Long(TimeFromParts(h, m, s, 0)); };
  ExpectAll({
      {"@t1", at(13, 5, 0), "13:05"},
      {"@t1", at(9, 5, 0), " 9:05"},
      {"@t01", at(9, 5, 0), "09:05"},
      {"@t2", at(9, 5, 0), " 905"},
      {"@t3", at(13, 5, 0), " 1:05PM"},
      {"@t3", at(0, 30, 0), "12:30AM"},
      {"@t3", at(12, 0, 0), "12:00PM"},
      {"@t4", at(13, 5, 9), "13:05:09"},
      {"@t4.", at(13, 5, 9), "13.05.09"},
      {"@t5", at(13, 5, 9), "130509"},
      {"@t6", at(23, 59, 59), "11:59:59PM"},
      {"@t7", at(13, 5, 0), "01:05 PM"},
      {"@t8", at(13, 5, 9), "01:05:09 PM"},
      {"@t1", Value::Long(1), " 0:00"},  // serial 1 is midnight
      {"@t1", Value::Long(0), "     "},  // 0 is no time
      {"@t1", Value::Long(8640001), "     "},
      {"@t1", Value::Long(-7), "     "},
  });
}

TEST_F(ValuesTest, PatternKeyInAndStringPictures) {
  ExpectAll({
      {"@p###-##-####p", Value::Long(123456789), "123-45-6789"},
      {"@p###-##-####p", Value::Long(6789), "000-00-6789"},
      {"@p<<#.##p", Value::Long(5), "  0.05"},
      {"@P(###)###-####P", Value::Long(5551234567), "(555)123-4567"},
      {"@p##p", Value::Long(123), "##"},
      {"@p--p", Value::Long(7), "  "},  // no digit positions: blank
      {"@k##-@@k", Value::String("12-AB"), "12-AB"},
      {"@k\\###k", Value::String("#12"), "#12"},
      {"@s5", Value::String("abcdefgh"), "abcde"},
      {"@s5", Value::String("ab"), "ab   "},
      {"@s8", Value::Long(-42), "-42     "},
      {"@s8", Value::Decimal("1.50"), "1.50    "},
  });
  EXPECT_EQ(CompilePicture("@k\\###k").length, 3);
}

TEST_F(ValuesTest, InvalidPicturesCompileEmpty) {
  for (const char* text : {"@s0", "@s256", "@d19", "@d0", "@t9", "@t0", "@e6", "@p#p", "@pp", "@p##", "@k#k",
                           "@x5", "n5", "@", "@n", "@n-", "@n(5", "@n(5-", "@n3.5", "@n~EUR5", "@n5.2x", "@d2<100",
                           "@s10x", "@n256", "@e256", "@n5~x~~y~", "@n-5-"}) {
    Picture p = CompilePicture(text);
    EXPECT_FALSE(p.valid()) << text;
    EXPECT_EQ(p.length, 0) << text;
    EXPECT_EQ(p.kind, PictureKind::kNumeric) << text;
    char out[8];
    EXPECT_EQ(FormatInto(p, Value::Long(5), out, sizeof out), 0u);
    EXPECT_EQ(std::string(out, sizeof out), "        ");
  }
  for (const char* text : {"@s1", "@s255", "@d18", "@t8", "@e7", "@p##p", "@k##k", "@n255", "@n1", "@n3.2",
                           "@n(5)", "@n5-", "@n$5", "@n5$", "@n~EUR~8", "@n8~EUR~", "@N$-_12`2B"}) {
    EXPECT_TRUE(CompilePicture(text).valid()) << text;
  }
  Picture missing = CompilePicture("");
  EXPECT_EQ(missing.kind, PictureKind::kString);
  EXPECT_EQ(missing.length, 255);
}

TEST_F(ValuesTest, CompiledForm) {
  Picture p = CompilePicture("@n-14");
  EXPECT_EQ(p.kind, PictureKind::kNumeric);
  EXPECT_EQ(p.pictureClass, 3);
  EXPECT_EQ(p.length, 14);
  EXPECT_EQ(p.Source(), "@n-14");
  std::string tokens, display;
  for (int k = 0; k < p.length; ++k) {
    tokens += static_cast<char>('0' + p.positions[k].token);
    display += p.positions[k].display;
  }
  EXPECT_EQ(tokens, "54144414441443");
  EXPECT_EQ(display, "- ,   ,   ,  0");
  Picture d = CompilePicture("@d6-<50B");
  EXPECT_EQ(d.kind, PictureKind::kDate);
  EXPECT_EQ(d.pictureClass, 1);
  EXPECT_TRUE(d.blankWhenZero);
  EXPECT_EQ(d.number, 6);
  EXPECT_EQ(d.centuryWindow, 50);
  EXPECT_EQ(d.positions[2].token, kTokSeparator);
  EXPECT_EQ(d.positions[2].display, '-');
  EXPECT_EQ(CompilePicture("@d2").centuryWindow, 80);
  EXPECT_EQ(CompilePicture("@d2<").centuryWindow, 80);
  EXPECT_EQ(CompilePicture("@d2>").centuryWindow, 19);
  EXPECT_EQ(CompilePicture("@d2>30").centuryWindow, 69);
  Picture t = CompilePicture("@t3");
  EXPECT_EQ(t.positions[5].token, kTokAmPm);
  Picture e = CompilePicture("@e10.2");
  EXPECT_EQ(e.pictureClass, 2);
  EXPECT_EQ(e.positions[0].token, kTokSign);
  EXPECT_EQ(e.positions[6].token, kTokExponentSign);
  Picture v = CompilePicture("@n6v2");
  EXPECT_EQ(v.positions[3].token, kTokImpliedPoint);
  EXPECT_EQ(v.shownLength, 5);
}

TEST_F(ValuesTest, FormatIntoRespectsTheDestination) {
  Picture p = CompilePicture("@n-14");
  char out[20];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(FormatNumber(p, -1234567, out, 5), 5u);
  EXPECT_EQ(std::string(out, 6), "    -x");  // cut to the destination, nothing beyond
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(FormatNumber(p, 7, out, 16), 14u);
  EXPECT_EQ(std::string(out, 17), "             7  x");
  EXPECT_EQ(FormatText(CompilePicture("@s3"), "abcdef", out, 2), 2u);
  EXPECT_EQ(FormatInto(p, Value::Long(1), out, 0), 0u);
  EXPECT_EQ(FormatDate(MakeDate(2004, 1, 5), "@d6"), " 5/01/2004");
  EXPECT_EQ(FormatTime(TimeFromParts(13, 5, 0, 0), "@t3"), " 1:05PM");
}

}  // namespace
}  // namespace pr::values
