#include <gtest/gtest.h>

#include <random>

#include "tests/ui/fuzz_controls.h"
#include "ui/format_string.h"
#include "values/picture.h"

namespace pr::ui {
namespace {

// Dialog units to cells: ceil(n / 4).
TEST(ListFormat, BrowseFormatGivesTwoColumns) {
  ListFormat f = ParseListFormat("56R(2)|M~ID~L@n-14@80L(2)|M~Name~@s20@");
  ASSERT_EQ(f.columns.size(), 2u);
  const ListColumn& id = f.columns[0];
  EXPECT_EQ(id.width, 14);
  EXPECT_EQ(id.left, 0);
  EXPECT_EQ(id.right, 14);
  EXPECT_EQ(id.dataJustify(), kColumnRight);
  EXPECT_EQ(id.headerJustify(), kColumnLeft);
  EXPECT_EQ(id.dataIndent, 1);
  EXPECT_EQ(id.indent, 1);
  EXPECT_TRUE(id.flags & column::kRightBorder);
  EXPECT_TRUE(id.flags & column::kResizable);
  EXPECT_EQ(id.header, "ID");
  EXPECT_EQ(id.headerLines, 1);
  EXPECT_EQ(id.picture, "@n-14");
  EXPECT_EQ(id.pictureKind, static_cast<uint8_t>(values::PictureKind::kNumeric));
  EXPECT_EQ(id.field, 1u);
  EXPECT_FALSE(id.explicitField);

  const ListColumn& name = f.columns[1];
  EXPECT_EQ(name.width, 20);
  EXPECT_EQ(name.left, 14);
  EXPECT_EQ(name.right, 34);
  EXPECT_EQ(name.dataJustify(), kColumnLeft);
  EXPECT_EQ(name.headerJustify(), kColumnLeft);
  EXPECT_EQ(name.dataIndent, 1);
  EXPECT_TRUE(name.flags & column::kRightBorder);
  EXPECT_TRUE(name.flags & column::kResizable);
  EXPECT_EQ(name.header, "Name");
  EXPECT_EQ(name.picture, "@s20");
  EXPECT_EQ(name.pictureKind, static_cast<uint8_t>(values::PictureKind::kString));
  EXPECT_EQ(name.field, 2u);
  EXPECT_EQ(f.headerLines, 1);
  EXPECT_EQ(f.locator, -1);
}

TEST(ListFormat, ColumnBoundariesAndJustification) {
  // The modifiers of the first column end at the "8".
  ListFormat f = ParseListFormat("56R(2)80L(2)");
  ASSERT_EQ(f.columns.size(), 2u);
  EXPECT_EQ(f.columns[0].dataJustify(), kColumnRight);
  EXPECT_EQ(f.columns[1].width, 20);
  EXPECT_EQ(f.columns[1].left, 14);

  // A letter other than L, R, C, D is the justification: "M" is no modifier.
  f = ParseListFormat("40M|");
  ASSERT_EQ(f.columns.size(), 1u);
  EXPECT_EQ(f.columns[0].dataJustify(), kColumnLeft);
  EXPECT_FALSE(f.columns[0].flags & column::kResizable);
  EXPECT_TRUE(f.columns[0].flags & column::kRightBorder);

  f = ParseListFormat("4C8D");
  EXPECT_EQ(f.columns[0].flags & 0xF, kColumnCentre | (kColumnCentre << 2));
  EXPECT_EQ(f.columns[1].flags & 0xF, kColumnDecimal | (kColumnDecimal << 2));

  // Zero and negative widths: zero-width cells ending left of their start.
  f = ParseListFormat("L-8L12L");
  ASSERT_EQ(f.columns.size(), 3u);
  EXPECT_EQ(f.columns[0].width, 0);
  EXPECT_EQ(f.columns[0].right, -1);
  EXPECT_EQ(f.columns[1].width, 0);
  EXPECT_EQ(f.columns[2].left, 0);
  EXPECT_EQ(f.columns[2].right, 3);
}

TEST(ListFormat, HeadersLinesJustificationAndIndent) {
  ListFormat f = ParseListFormat("40R~Two\nLines~C(8)");
  ASSERT_EQ(f.columns.size(), 1u);
  EXPECT_EQ(f.columns[0].headerLines, 2);
  EXPECT_EQ(f.headerLines, 2);
  EXPECT_EQ(f.columns[0].dataJustify(), kColumnRight);
  EXPECT_EQ(f.columns[0].headerJustify(), kColumnCentre);
  EXPECT_EQ(f.columns[0].indent, 2);
  EXPECT_EQ(f.columns[0].dataIndent, 0);
  // Only upper case justifies a header: "l" begins the next column.
  f = ParseListFormat("40R~H~l");
  ASSERT_EQ(f.columns.size(), 2u);
  EXPECT_EQ(f.columns[0].headerJustify(), kColumnRight);
  // A header without its closing "~" runs to the end.
  f = ParseListFormat("40L~open");
  ASSERT_EQ(f.columns.size(), 1u);
  EXPECT_EQ(f.columns[0].header, "open");
}

TEST(ListFormat, Modifiers) {
  ListFormat f = ParseListFormat("20LS40LS(80)h(3)H_F?E(0FFH,-1,12,7FH)Z(4)Q'tip'T(LB1)/");
  ASSERT_EQ(f.columns.size(), 2u);
  EXPECT_EQ(f.columns[0].scrollWidth, 25);  // 100 units
  const ListColumn& c = f.columns[1];
  EXPECT_EQ(c.scrollWidth, 20);
  EXPECT_EQ(c.headerOption, 3);
  EXPECT_TRUE(c.flags2 & column2::kHeaderOption);
  EXPECT_TRUE(c.flags & column::kUnderline);
  EXPECT_TRUE(c.flags & column::kFixed);
  EXPECT_TRUE(c.flags & column::kLocator);
  EXPECT_EQ(f.locator, 1);
  EXPECT_EQ(c.colours[0], 0xFF);
  EXPECT_EQ(c.colours[1], -1);
  EXPECT_EQ(c.colours[2], 12);
  EXPECT_EQ(c.colours[3], 0x7F);
  EXPECT_EQ(c.defaultStyle, 4);
  EXPECT_EQ(c.defaultTip, "tip");
  EXPECT_TRUE(c.flags2 & column2::kDefaultTip);
  EXPECT_TRUE(c.flags & column::kTree);
  EXPECT_EQ(c.flags2 & (column2::kTreeL | column2::kTreeB | column2::kTree1),
            column2::kTreeL | column2::kTreeB | column2::kTree1);
  EXPECT_EQ(c.flags & (column::kRowBreak | column::kLastInGroupRow), 0x4200u);
  // Only the first picture of a column counts.
  f = ParseListFormat("20L@n3@@s5@");
  ASSERT_EQ(f.columns.size(), 1u);
  EXPECT_EQ(f.columns[0].picture, "@n3");
}

TEST(ListFormat, ModifierDelimitersNumbersAndLimits) {
  // "E", "Z" and "Q" without their delimiter begin the next column.
  EXPECT_EQ(ParseListFormat("10LQ20L").columns.size(), 3u);
  EXPECT_EQ(ParseListFormat("10LE20L").columns.size(), 3u);
  EXPECT_EQ(ParseListFormat("10LZ20L").columns.size(), 3u);
  // "H" alone is taken and ignored.
  ListFormat f = ParseListFormat("10LH20L");
  ASSERT_EQ(f.columns.size(), 2u);
  EXPECT_FALSE(f.columns[0].flags2 & column2::kHeaderOption);

  // "S" with no number in its parentheses is 100 units, as "S" alone.
  for (const char* text : {"20LS()", "20LS(", "20LS", "[20L]S()"}) {
    f = ParseListFormat(text);
    const int32_t width = f.groups.empty() ? f.columns[0].scrollWidth : f.groups[0].scrollWidth;
    EXPECT_EQ(width, 25) << text;
  }
  EXPECT_EQ(ParseListFormat("20LS(0)").columns[0].scrollWidth, 0);

  // A long colour value keeps its own number and the colours after it.
  f = ParseListFormat("20LE(00000000000000000001," + std::string(100, '0') + "2," + std::string(100, '0') +
                      "FFH,99999999999999999999)");
  ASSERT_EQ(f.columns.size(), 1u);
  EXPECT_EQ(f.columns[0].colours[0], 1);
  EXPECT_EQ(f.columns[0].colours[1], 2);
  EXPECT_EQ(f.columns[0].colours[2], 0xFF);
  EXPECT_EQ(f.columns[0].colours[3], 0x7FFFFFFF);
  EXPECT_EQ(ParseListFormat("20LE(0,-0,)").columns[0].colours[1], 0);

  // Numbers in parentheses are decimal: a sign is no number.
  f = ParseListFormat("20R(-6)Z(-3)");
  ASSERT_EQ(f.columns.size(), 1u);
  EXPECT_EQ(f.columns[0].dataIndent, 0);
  EXPECT_EQ(f.columns[0].defaultStyle, 0);

  // Absurd widths: edges stay ordered and inside 32 bits.
  std::string wide;
  for (int i = 0; i < 5000; ++i) wide += "99999999L";
  f = ParseListFormat(wide);
  ASSERT_EQ(f.columns.size(), 5000u);
  for (size_t i = 1; i < f.columns.size(); ++i) {
    ASSERT_GE(f.columns[i].left, f.columns[i - 1].left) << i;
    ASSERT_GE(f.columns[i].right, f.columns[i].left) << i;
  }
  EXPECT_GT(f.width, 0);
  std::string tall = "[";
  for (int i = 0; i < 5000; ++i) tall += "1L/";
  f = ParseListFormat(tall + "]", ListMetrics{4, 1 << 20, 0});
  for (const ListColumn& c : f.columns) ASSERT_GE(c.bottom, c.top);
}

TEST(ListFormat, QueueFieldNumbering) {
  // value, colours value+1..value+4, icon value+5; the next column at value+6.
  ListFormat f = ParseListFormat("20L*I20L20LTYP20L#12#J20L");
  ASSERT_EQ(f.columns.size(), 5u);
  ColumnFields a = FieldsOf(f.columns[0]);
  EXPECT_EQ(a.value, 1u);
  EXPECT_EQ(a.colours, 2u);
  EXPECT_EQ(a.icon, 6u);
  EXPECT_EQ(a.next, 7u);
  EXPECT_EQ(f.columns[1].field, 7u);
  ColumnFields c = FieldsOf(f.columns[2]);
  EXPECT_EQ(c.value, 8u);
  EXPECT_EQ(c.treeLevel, 9u);
  EXPECT_EQ(c.style, 10u);
  EXPECT_EQ(c.tip, 11u);
  EXPECT_EQ(f.columns[3].field, 12u);
  EXPECT_TRUE(f.columns[3].explicitField);
  EXPECT_EQ(FieldsOf(f.columns[3]).icon, 13u);
  EXPECT_EQ(f.columns[4].field, 14u);
}

TEST(ListFormat, GroupsLayOutRows) {
  ListFormat f = ParseListFormat("8L[20L/20L]|~Both~C40L");
  ASSERT_EQ(f.columns.size(), 4u);
  ASSERT_EQ(f.groups.size(), 1u);
  EXPECT_EQ(f.columns[1].left, 2);
  EXPECT_EQ(f.columns[1].top, 0);
  EXPECT_EQ(f.columns[2].left, 2);  // back at the group's left edge, one row lower
  EXPECT_EQ(f.columns[2].top, 1);
  EXPECT_EQ(f.columns[2].group, 0);
  EXPECT_EQ(f.groups[0].header, "Both");
  EXPECT_EQ(f.groups[0].headerJustify, kColumnCentre);
  EXPECT_TRUE(f.groups[0].flags & column::kRightBorder);
  EXPECT_EQ(f.rowsPerItem, 2);
  EXPECT_EQ(f.columns[3].left, 7);
  EXPECT_EQ(f.columns[3].top, 0);
  EXPECT_EQ(f.columns[3].field, 4u);  // groups use no fields
}

// Random mutations of real formats: the parser must end, never read outside
// the text (the sanitized build checks) and keep its invariants.
TEST(ListFormat, RandomMutationsStaySound) {
  const std::string seeds[] = {"56R(2)|M~ID~L@n-14@80L(2)|M~Name~@s20@", "[20L/20L]|~x~C(3)E(1,2H,3,4)",
                               "10LT(LR1BI)Q'a'Z(2)S(9)H(1)#3#*IJYP?"};
  const char alphabet[] = "0123456789-LRCDMFSHEJIYZPQT()[]~@#*?|_/',\n";
  std::mt19937 rng(20261207);
  for (int i = 0; i < 6000; ++i) {
    std::string s = seeds[i % 3];
    int edits = 1 + static_cast<int>(rng() % 6);
    for (int e = 0; e < edits; ++e) {
      size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
      char c = alphabet[rng() % (sizeof alphabet - 1)];
      switch (rng() % 3) {
        case 0: s.insert(s.begin() + static_cast<ptrdiff_t>(at), c); break;
        case 1: if (at < s.size()) s.erase(at, 1); break;
        default: if (at < s.size()) s[at] = c; break;
      }
    }
    // The fuzz entry point aborts on an inconsistent result.
    fuzz::ListFormat(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  }
  // Deep nesting does not exhaust the stack.
  ParseListFormat(std::string(100000, '['));
}

}  // namespace
}  // namespace pr::ui
