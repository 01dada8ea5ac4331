// Fuzz target: the expression compiler and evaluator.  Built by hand from
// this file (docs/FUZZING.md): clang++ -std=c++20 -g -O1
// -fsanitize=fuzzer,address,undefined -DPR_LIBFUZZER -I. with
// tests/files/fuzz_expression.cpp, linked to pr_files, pr_values,
// pr_resources and pr_platform of a -DPR_FUZZ=ON tree.
#include "tests/files/fuzz_expression.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "files/expr.h"

namespace pr::files::fuzz {
namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr uint32_t kRecord = 64;
const uint32_t kDims3[] = {3};
const uint32_t kDims2x2[] = {2, 2};

const FieldDescriptor kFields[] = {
    {.place = 0, .size = 4, .type = TYPE_LONG, .label = "F:ID", .name = {}},
    {.place = 4, .size = 12, .type = TYPE_STRING, .label = "F:NAME", .name = {}},
    {.place = 16, .size = 4, .places = 2, .type = TYPE_DECIMAL, .label = "F:AMT", .name = {}},
    {.place = 20, .size = 6, .type = TYPE_PSTRING, .label = "F:P", .name = {}},
    {.place = 26, .size = 6, .type = TYPE_CSTRING, .label = "F:C", .name = {}},
    {.place = 32, .size = 12, .dims = kDims3, .dimCount = 1, .type = TYPE_LONG, .label = "F:ARR", .name = {}},
    {.place = 44, .size = 8, .dims = kDims2x2, .dimCount = 2, .type = TYPE_SHORT, .label = "F:GRID", .name = {}},
    {.place = 52, .size = 8, .type = TYPE_REAL, .label = "F:R", .name = {}},
    {.place = 60, .size = 4, .type = TYPE_SREAL, .label = "F:S", .name = {}},
    {.place = 60, .size = 2, .type = TYPE_BYTE, .label = "F:B", .name = {}},
    {.place = 62, .size = 40, .type = TYPE_STRING, .label = "F:OUTSIDE", .name = {}},  // a hostile declaration
    {.place = 0, .size = 9, .places = 30, .type = TYPE_PDECIMAL, .label = "F:PD", .name = {}},
};

}  // namespace

int FuzzExpression(const uint8_t* data, size_t size) {
  std::unique_ptr<uint8_t[]> record(new uint8_t[kRecord]());
  std::memcpy(record.get(), data, size < kRecord ? size : kRecord);
  FileDescriptor file;
  file.label = "F";
  file.record = record.get();
  file.recordLength = kRecord;
  file.declaration.fields = kFields;
  file.declaration.fieldCount = sizeof kFields / sizeof kFields[0];

  size_t textSize = size > kRecord ? size - kRecord : 0;
  // A heap block of the exact size, so that a read past the end is caught.
  std::unique_ptr<char[]> text(new char[textSize + 1]);
  if (textSize > 0) std::memcpy(text.get(), data + kRecord, textSize);

  Expression expression;
  ExpressionError error;
  bool compiled = expression.Compile(std::string_view(text.get(), textSize), {&file}, &error);
  if (!compiled) {
    Check(expression.empty());
    Check(error.number >= EXPR_SYNTAX && error.number <= EXPR_BAD_INDEX);
    Check(!error.message.empty());
    return 0;
  }
  Check(error.number == 0);
  Value value = expression.Evaluate();
  Check(value.text().size() <= values::kValueTextMax);
  Check(expression.IsTrue() == ValueIsTrue(value));
  if (value.kind() == Value::Kind::kString || value.kind() == Value::Kind::kLong)
    Check(CompareValues(value, value) == 0);
  return 0;
}

}  // namespace pr::files::fuzz

#ifdef PR_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return pr::files::fuzz::FuzzExpression(data, size);
}
#endif
