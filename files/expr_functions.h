// Internal to the expression evaluator: operator codes and the function table
// shared by its compiler and its evaluation.
#pragma once

#include <cstdint>
#include <string_view>

namespace pr::files {

enum ExpressionOperator : uint8_t {
  kOpOr = 1,
  kOpAnd,
  kOpEqual,
  kOpNotEqual,
  kOpLess,
  kOpLessEqual,
  kOpGreater,
  kOpGreaterEqual,
  kOpConcat,
  kOpAdd,
  kOpSubtract,
  kOpMultiply,
  kOpDivide,
  kOpModulo,
};

enum ExpressionFunction : uint8_t {
  kFnUpper = 1,
  kFnLower,
  kFnClip,
  kFnSub,
  kFnInstring,
  kFnLen,
  kFnAbs,
  kFnInt,
  kFnDate,
  kFnToday,
};

struct FunctionInfo {
  std::string_view name;
  uint8_t number;
  uint8_t minArguments;
  uint8_t maxArguments;
};

// The function of that name (any case), or null.
const FunctionInfo* FindFunction(std::string_view name);

}  // namespace pr::files
