// The expression evaluator over a record of every field kind, and bounded
// random mutation of expressions through the fuzz target's body.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "files/expr.h"
#include "tests/files/fuzz_expression.h"
#include "values/date_time.h"

namespace pr::files {
namespace {

const uint32_t kDims3[] = {3};
const uint32_t kDims2x3[] = {2, 3};

#pragma pack(push, 1)
struct Rec {
  int32_t id;
  char name[20];
  uint8_t amount[4];  // DECIMAL(7,2)
  uint8_t p[8];       // PSTRING(8)
  char c[8];          // CSTRING(8)
  int32_t arr[3];
  int16_t grid[6];
  int32_t born;  // DATE
  double real;
};
#pragma pack(pop)

const FieldDescriptor kFields[] = {
    {.place = 0, .size = 4, .type = TYPE_LONG, .label = "PAR:ID", .name = {}},
    {.place = 4, .size = 20, .type = TYPE_STRING, .label = "PAR:NAZIV", .name = {}},
    {.place = 24, .size = 4, .places = 2, .type = TYPE_DECIMAL, .label = "PAR:IZNOS", .name = {}},
    {.place = 28, .size = 8, .type = TYPE_PSTRING, .label = "PAR:P", .name = {}},
    {.place = 36, .size = 8, .type = TYPE_CSTRING, .label = "PAR:C", .name = {}},
    {.place = 44, .size = 12, .dims = kDims3, .dimCount = 1, .type = TYPE_LONG, .label = "PAR:ARR", .name = {}},
    {.place = 56, .size = 12, .dims = kDims2x3, .dimCount = 2, .type = TYPE_SHORT, .label = "PAR:GRID", .name = {}},
    {.place = 68, .size = 4, .type = TYPE_DATE, .label = "PAR:ROD", .name = {}},
    {.place = 72, .size = 8, .type = TYPE_REAL, .label = "PAR:R", .name = {}},
};

const FieldDescriptor kOtherFields[] = {
    {.place = 0, .size = 4, .type = TYPE_LONG, .label = "GRA:ID", .name = {}},
};

class ExpressionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&rec, 0, sizeof rec);
    rec.id = 42;
    SetName("Mariana");
    // -12.34: the sign nibble, then the digits 0001234.
    rec.amount[0] = 0x10;
    rec.amount[1] = 0x00;
    rec.amount[2] = 0x12;
    rec.amount[3] = 0x34;
    rec.p[0] = 3;
    std::memcpy(rec.p + 1, "abc", 3);
    std::memcpy(rec.c, "xy\0zz", 5);
    rec.arr[0] = 10, rec.arr[1] = 20, rec.arr[2] = 30;
    for (int i = 0; i < 6; ++i) rec.grid[i] = static_cast<int16_t>(i + 1);
    rec.born = values::MakeDate(1990, 5, 17);
    rec.real = 2.5;
    file.label = "PARTNERI";
    file.record = reinterpret_cast<uint8_t*>(&rec);
    file.recordLength = sizeof rec;
    file.declaration.fields = kFields;
    file.declaration.fieldCount = sizeof kFields / sizeof kFields[0];
    other.record = reinterpret_cast<uint8_t*>(&otherId);
    other.recordLength = 4;
    other.declaration.fields = kOtherFields;
    other.declaration.fieldCount = 1;
  }
  void SetName(const std::string& name) {
    std::memset(rec.name, ' ', 20);
    std::memcpy(rec.name, name.data(), std::min<size_t>(name.size(), 20));
  }
  Value Eval(const std::string& text) {
    Expression e;
    ExpressionError error;
    EXPECT_TRUE(e.Compile(text, {&file, &other}, &error)) << text << ": " << error.message;
    return e.Evaluate();
  }
  std::string Text(const std::string& text) { return std::string(Eval(text).text()); }
  int64_t Long(const std::string& text) {
    Value v = Eval(text);
    EXPECT_EQ(v.kind(), Value::Kind::kLong) << text;
    return v.AsLong();
  }
  double Real(const std::string& text) { return Eval(text).AsReal(); }
  bool True(const std::string& text) { return ValueIsTrue(Eval(text)); }
  ExpressionError Refusal(const std::string& text) {
    Expression e;
    ExpressionError error;
    EXPECT_FALSE(e.Compile(text, {&file}, &error)) << text;
    EXPECT_TRUE(e.empty());
    return error;
  }

  Rec rec;
  int32_t otherId = 7;
  FileDescriptor file;
  FileDescriptor other;
};

TEST_F(ExpressionTest, ArithmeticFollowsPrecedenceAndStaysWholeWhileExact) {
  EXPECT_EQ(Long("1 + 2 * 3"), 7);
  EXPECT_EQ(Long("(1 + 2) * 3"), 9);
  EXPECT_EQ(Long("-2 * -3 - 1"), 5);
  EXPECT_EQ(Long("17 % 5"), 2);
  EXPECT_EQ(Long("8 / 2"), 4);
  EXPECT_DOUBLE_EQ(Real("7 / 2"), 3.5);
  EXPECT_DOUBLE_EQ(Real("1.5 + 1"), 2.5);
  // Division and remainder by zero give 0; no trap at the int64 edges.
  EXPECT_EQ(Long("5 / 0"), 0);
  EXPECT_EQ(Long("5 % 0"), 0);
  EXPECT_EQ(Eval("999999999999999999 * 1000").kind(), Value::Kind::kReal);
  EXPECT_EQ(Long("(0 - 999999999999999999 * 9 - 1) % -1"), 0);
  EXPECT_EQ(Long("ABS(-5) + INT(7.9) + INT(-7.9)"), 5);
  EXPECT_EQ(Long("PAR:ID + PAR:ARR[3]"), 72);
}

TEST_F(ExpressionTest, FieldsReadByTypeWithIndexesAndAnyCase) {
  EXPECT_EQ(Text("PAR:NAZIV"), "Mariana             ");
  EXPECT_EQ(Long("par:id"), 42);
  EXPECT_DOUBLE_EQ(Real("PAR:IZNOS"), -12.34);
  EXPECT_TRUE(True("PAR:IZNOS < -12 AND PAR:IZNOS > -12.5"));
  EXPECT_EQ(Text("PAR:P"), "abc");
  EXPECT_EQ(Text("PAR:C"), "xy");
  EXPECT_EQ(Long("PAR:ARR[2]"), 20);
  EXPECT_EQ(Long("PAR:GRID[2,1]"), 4);
  EXPECT_EQ(Long("PAR:GRID[1,PAR:ARR[1] / 5 + 1]"), 3);
  EXPECT_EQ(Long("PAR:ARR[PAR:ID]"), 0);  // outside the dimension when evaluated: empty
  EXPECT_DOUBLE_EQ(Real("PAR:R * 2"), 5.0);
  EXPECT_EQ(Long("GRA:ID"), 7);  // the second bound file
  EXPECT_TRUE(True("PAR:ROD = #1990-05-17#"));
  EXPECT_TRUE(True("PAR:ROD = DATE(5, 17, 1990) AND DATE(13, 1, 2000) = #2001-01-01#"));
  EXPECT_EQ(Long("DATE(1, 1, 10000)"), 0);  // no date
  values::SetTodayForTesting(values::MakeDate(2026, 12, 8));
  EXPECT_EQ(Long("TODAY() - #2026-12-01#"), 7);
  values::SetTodayForTesting(0);
}

TEST_F(ExpressionTest, StringsCompareByCollationWithTrailingBlanksIgnored) {
  EXPECT_TRUE(True("PAR:NAZIV = 'Mariana'"));
  EXPECT_TRUE(True("'abc' = 'abc   ' AND 'ab' < 'abc' AND 'b' > 'abc'"));
  EXPECT_TRUE(True("'it''s' = 'it' & '''' & 's'"));
  EXPECT_TRUE(True("'10' = 10"));  // a number on either side compares numbers
  EXPECT_EQ(Text("'n' & 5 & 2.5"), "n52.5");
  EXPECT_EQ(Text("UPPER(CLIP(PAR:NAZIV)) & LOWER('ABC')"), "MARIANAabc");
  EXPECT_EQ(Long("LEN(PAR:NAZIV) * 100 + LEN(CLIP(PAR:NAZIV))"), 2007);
  EXPECT_EQ(Text("SUB(PAR:NAZIV, 2, 3)"), "ari");
  EXPECT_EQ(Text("SUB('abcdef', -2, 2)"), "ef");
  EXPECT_EQ(Text("SUB('abc', 0, 2)"), "a");
  EXPECT_EQ(Text("SUB('abc', 5, 2)"), "");
  EXPECT_EQ(Long("INSTRING('an', PAR:NAZIV)"), 5);
  EXPECT_EQ(Long("INSTRING('an', PAR:NAZIV, 1, 6)"), 0);
  EXPECT_EQ(Long("INSTRING('ar', 'Marija', 2)"), 0);  // steps of 2 from 1: 1, 3, 5
  EXPECT_EQ(Long("INSTRING('ar', 'Marija', 1)"), 2);
  EXPECT_EQ(Long("INSTRING('a', 'Marija', -1, 6)"), 6);  // backwards from 6
  EXPECT_EQ(Long("INSTRING('', 'x') + INSTRING('x', 'x', 0)"), 0);
  // The browse's name search.
  EXPECT_TRUE(True("INSTRING('ANA',UPPER(PAR:NAZIV),1,1)"));
  SetName("Ivo");
  EXPECT_FALSE(True("INSTRING('ANA',UPPER(PAR:NAZIV),1,1)"));
}

TEST_F(ExpressionTest, TruthOfValuesAndLogic) {
  EXPECT_FALSE(True("0"));
  EXPECT_TRUE(True("0.5"));
  EXPECT_FALSE(True("'   '"));
  EXPECT_TRUE(True("' x'"));
  EXPECT_TRUE(True("NOT 1 = 2 AND (2 > 1 OR 1 / 0)"));
  EXPECT_FALSE(True("NOT NOT 0"));
  EXPECT_TRUE(True("1 <> 2 AND 2 <= 2 AND 3 >= 2"));
  Expression empty;
  ASSERT_TRUE(empty.Compile("   ", {&file}));
  EXPECT_TRUE(empty.empty());
  EXPECT_FALSE(empty.IsTrue());
}

TEST_F(ExpressionTest, PlainFieldAndReadsTellWhatAnExpressionUses) {
  Expression e;
  ASSERT_TRUE(e.Compile("PAR:NAZIV", {&file, &other}));
  EXPECT_EQ(e.PlainField(&file), 2u);
  EXPECT_EQ(e.PlainField(&other), 0u);
  ASSERT_TRUE(e.Compile("UPPER(PAR:NAZIV)", {&file, &other}));
  EXPECT_EQ(e.PlainField(&file), 0u);
  ASSERT_TRUE(e.Compile("GRA:ID = PAR:ID", {&file, &other}));
  EXPECT_TRUE(e.Reads(&other));
}

TEST_F(ExpressionTest, TextsThatDoNotCompileAreRefusedWithNumberAndPlace) {
  auto refused = [&](const std::string& text, int32_t number, const std::string& message) {
    ExpressionError error = Refusal(text);
    EXPECT_EQ(error.number, number) << text;
    EXPECT_EQ(error.message, message) << text;
  };
  refused("PAR:ID >", EXPR_SYNTAX, "Expected a value instead of end of text at 9");
  refused("PAR:ID 5", EXPR_SYNTAX, "Unexpected '5' at 8");
  refused("(1 + 2", EXPR_SYNTAX, "Expected ')' instead of end of text at 7");
  refused("1 ? 2", EXPR_SYNTAX, "Unexpected character '?' at 3");
  refused("AND", EXPR_SYNTAX, "Expected a value instead of 'AND' at 1");
  refused("PAR:NAZV = 'x'", EXPR_UNKNOWN_FIELD, "Unknown field PAR:NAZV at 1");
  refused("GRA:ID", EXPR_UNKNOWN_FIELD, "Unknown field GRA:ID at 1");  // not bound here
  refused("FOO(1)", EXPR_BAD_CALL, "Unknown function FOO at 1");
  refused("SUB('x')", EXPR_BAD_CALL, "SUB takes 2 to 3 arguments at 1");
  refused("TODAY(1)", EXPR_BAD_CALL, "TODAY takes 0 arguments at 1");
  refused("'open", EXPR_BAD_CONSTANT, "Unterminated string at 1");
  refused("#2026-02-30#", EXPR_BAD_CONSTANT, "Date '2026-02-30' is not yyyy-mm-dd between 1801 and 9999 at 1");
  refused("'" + std::string(256, 'x') + "'", EXPR_BAD_CONSTANT, "String longer than 255 characters at 1");
  refused("PAR:ARR[4]", EXPR_BAD_INDEX, "Index 4 outside the dimension of PAR:ARR at 8");
  refused("PAR:ARR[1,1]", EXPR_BAD_INDEX, "PAR:ARR takes 1 indexes at 8");
  refused("PAR:ID[1]", EXPR_BAD_INDEX, "PAR:ID takes 0 indexes at 7");
  // Nesting, chains and length are bounded, so no text can exhaust the stack.
  EXPECT_EQ(Refusal(std::string(40, '(') + "1" + std::string(40, ')')).number, EXPR_TOO_COMPLEX);
  EXPECT_EQ(Refusal(std::string(40, '-') + "1").number, EXPR_TOO_COMPLEX);
  std::string chain = "1";
  for (int i = 0; i < 300; ++i) chain += "+1";
  EXPECT_EQ(Refusal(chain).number, EXPR_TOO_COMPLEX);
  EXPECT_EQ(Refusal(std::string(kExpressionTextMax + 1, ' ') + "1").number, EXPR_TOO_COMPLEX);
  EXPECT_EQ(Long(std::string(30, '(') + "1" + std::string(30, ')')), 1);
}

// ---------------------------------------------------------------- fuzz
std::string Mutate(std::string s, std::mt19937& rng, const std::string& alphabet) {
  int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits; ++e) {
    auto pick = [&] { return alphabet[rng() % alphabet.size()]; };
    size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
    switch (rng() % 5) {
      case 0: s.insert(s.begin() + static_cast<long>(at), pick()); break;
      case 1: if (at < s.size()) s.erase(at, 1); break;
      case 2: if (at < s.size()) s[at] = pick(); break;
      case 3: s.insert(at, std::string(rng() % 60, pick())); break;  // runs
      default: if (at < s.size()) s[at] = static_cast<char>(rng()); break;  // any byte
    }
  }
  return s;
}

// PR_FUZZ_SCALE multiplies the rounds (a long run: PR_FUZZ_SCALE=100).
int Rounds(int base) {
  const char* text = std::getenv("PR_FUZZ_SCALE");
  int scale = text != nullptr ? std::atoi(text) : 1;
  return base * (scale > 0 ? scale : 1);
}

TEST(ExpressionFuzz, MutatedExpressionsOverRandomRecordsStayInBounds) {
  const std::vector<std::string> seeds = {
      "INSTRING('ANA',UPPER(F:NAME),1,1)", "F:ID + F:ARR[2] * 3 % 7 - F:GRID[2,1] / 0",
      "SUB(F:P & F:C, -3, 9) = 'x''y'",    "NOT (F:AMT < -1.5 OR F:R >= 1e3) AND F:S <> F:B",
      "DATE(F:ID, 40, 2000) - TODAY()",    "LEN(CLIP(LOWER(F:OUTSIDE))) + ABS(INT(F:PD))",
      "#2004-01-05# + F:ARR[F:ID]",        "F:NAME & F:NAME & F:NAME & F:NAME & F:NAME & F:NAME",
  };
  const std::string alphabet = "FIDNAMEPRSCGOUT:[](),'#+-*/%&=<> 0123456789.ANDORNOTSUBLEN";
  std::mt19937 rng(20261208);
  for (int round = 0, rounds = Rounds(6000); round < rounds; ++round) {
    std::string record(64, '\0');
    for (char& c : record) c = static_cast<char>(rng());
    std::string text = Mutate(seeds[rng() % seeds.size()], rng, alphabet);
    std::string input = record + text;
    ASSERT_EQ(fuzz::FuzzExpression(reinterpret_cast<const uint8_t*>(input.data()), input.size()), 0) << text;
  }
}

}  // namespace
}  // namespace pr::files
