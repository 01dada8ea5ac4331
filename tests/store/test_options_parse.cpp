#include <gtest/gtest.h>

#include "store/options_parse.h"

namespace pr::store {
namespace {

TEST(OptionParse, NamesInAnyCaseWithSpacesAroundEquals) {
  for (const char* text : {"DecimalCheck=OFF", "decimalcheck = OFF", "DECIMALCHECK   =OFF", "  /DecimalCheck= OFF"}) {
    ParsedOption option = ParseOption(text);
    EXPECT_EQ(option.name, OptionName::kDecimalCheck) << text;
    EXPECT_TRUE(option.hasValue) << text;
    EXPECT_EQ(option.value, "OFF") << text;
  }
  ParsedOption query = ParseOption("decimalCHECK");
  EXPECT_EQ(query.name, OptionName::kDecimalCheck);
  EXPECT_FALSE(query.hasValue);
}

TEST(OptionParse, MatchingOrderKeepsLongerNamesApart) {
  EXPECT_EQ(ParseOption("PNMQ=ABC").name, OptionName::kPnmq);
  EXPECT_EQ(ParseOption("pnm=ABC").name, OptionName::kPnm);
  EXPECT_EQ(ParseOption("FULLBUILD=on").name, OptionName::kFullBuild);
  EXPECT_EQ(ParseOption("flags=12").name, OptionName::kFlags);
  EXPECT_EQ(ParseOption("flags=12").value, "12");
}

TEST(OptionParse, UnknownTextsAreNoOption) {
  EXPECT_EQ(ParseOption("Recover=10").name, OptionName::kNone);
  EXPECT_EQ(ParseOption("").name, OptionName::kNone);
  EXPECT_EQ(ParseOption("TCFX=1").name, OptionName::kNone);
  EXPECT_EQ(ParseOption("REGISTER").name, OptionName::kNone);
}

TEST(OptionParse, TcfValueIsTakenAsItStands) {
  ParsedOption empty = ParseOption("TCF=");
  EXPECT_EQ(empty.name, OptionName::kTcf);
  EXPECT_TRUE(empty.hasValue);
  EXPECT_EQ(empty.value, "");
  EXPECT_EQ(ParseOption("tcf = /tmp/a b.tcf").value, "/tmp/a b.tcf");
}

}  // namespace
}  // namespace pr::store
