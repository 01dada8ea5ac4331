// The expression evaluator: filters, order components and join conditions of
// views are texts compiled once against a set of bound files and evaluated on
// the files' current record buffers.
//
// Grammar (docs/VIEWS.md has it in full):
//   expr    := or
//   or      := and { OR and }
//   and     := not { AND not }
//   not     := NOT not | compare
//   compare := concat [ ( = | <> | < | <= | > | >= ) concat ]
//   concat  := sum { & sum }
//   sum     := product { ( + | - ) product }
//   product := unary { ( * | / | % ) unary }
//   unary   := ( - | + ) unary | primary
//   primary := number | 'string' | #yyyy-mm-dd# | field | call | ( expr )
//   field   := LABEL [ '[' expr { , expr } ']' ]      e.g. PAR:NAZIV, T:ARR[2]
//   call    := NAME ( [ expr { , expr } ] )
// Keywords, labels and function names are case-insensitive.  Strings double a
// quote ('it''s').  Functions: UPPER, LOWER, CLIP, SUB, INSTRING, LEN, ABS,
// INT, DATE, TODAY.
//
// Values are the runtime's (values/value.h): whole numbers, reals, exact
// decimals (DECIMAL fields) and strings of at most 255 characters.  Strings
// compare through the locale's collation weights, as keys are ordered, with
// trailing blanks ignored; a comparison with a number on either side compares
// numbers.  A number is true when it is not zero, a string when it is not
// blank.
//
// Errors.  A text that does not compile is refused with a message naming the
// place ("Unknown field PAR:NAZV at 1") and one of the evaluator's numbers:
// 1010 syntax, 1011 unknown field, 1012 unknown function or wrong number of
// arguments, 1013 text too long or nested too deep, 1014 malformed constant,
// 1015 bad array index.  Evaluation never fails: division by zero gives 0, an
// array index outside its dimension reads as an empty value.
//
// Thread safety: a compiled expression reads the record buffers it was bound
// to; it holds no state of its own while evaluating, so it may be shared by
// threads that own those buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "files/descriptors.h"
#include "values/value.h"

namespace pr::files {

using values::Value;

inline constexpr size_t kExpressionTextMax = 4096;  // longer texts are refused (1013)
inline constexpr int kExpressionHeightMax = 200;    // operators in a chain (the tree's height)
inline constexpr int kExpressionDepthMax = 32;      // nesting of parentheses, calls, indexes, NOT and signs

enum ExpressionErrorNumber : int32_t {
  EXPR_SYNTAX = 1010,
  EXPR_UNKNOWN_FIELD = 1011,
  EXPR_BAD_CALL = 1012,
  EXPR_TOO_COMPLEX = 1013,
  EXPR_BAD_CONSTANT = 1014,
  EXPR_BAD_INDEX = 1015,
};

struct ExpressionError {
  int32_t number = 0;  // ExpressionErrorNumber; 0 when none
  std::string message;
};

class Expression {
 public:
  // Compiles `text` against `files`: a field label names a field of one of
  // them.  On failure the expression is left empty, *error (when given) says
  // why, and false is returned.  An empty or blank text compiles to an empty
  // expression.
  bool Compile(std::string_view text, const std::vector<FileDescriptor*>& files, ExpressionError* error = nullptr);

  bool empty() const { return nodes_.empty(); }
  void clear() { nodes_.clear(); }

  // The value on the bound files' current record buffers; an empty
  // expression gives no value (kind kNone, false).
  Value Evaluate() const;
  bool IsTrue() const;

  // When the whole expression is one field of `file` without an index, that
  // field's number (from 1); otherwise 0.
  uint32_t PlainField(const FileDescriptor* file) const;

  // Whether a field of `file` takes part (for a join: whether the condition
  // reads the joined file).
  bool Reads(const FileDescriptor* file) const;

  // One node of the compiled tree; children are indexes into the node list,
  // always below the node's own index.
  struct Node {
    enum Kind : uint8_t { kConstant, kField, kNegate, kNot, kBinary, kCall };
    Kind kind = kConstant;
    uint8_t op = 0;                  // binary operator (a token character) or function number
    std::vector<int32_t> children;   // operands, arguments, or a field's indexes
    Value constant;
    const FileDescriptor* file = nullptr;
    const FieldDescriptor* field = nullptr;
    uint32_t elementSize = 0;        // a dimensioned field: bytes of one element
  };

 private:
  friend class ExpressionCompiler;
  Value EvaluateNode(int32_t index) const;
  std::vector<Node> nodes_;  // the root is the last node
};

// The truth of a value: numbers not zero, strings not blank.
bool ValueIsTrue(const Value& value);

// Compares two values: negative, zero or positive.  Two strings compare by
// collation with trailing blanks ignored; otherwise both are read as numbers.
int CompareValues(const Value& a, const Value& b);

// The value of `size` bytes of `field`'s type at `offset` in a record image of
// `recordLength` bytes; an empty value (0 or blank) when that lies outside it.
Value FieldValue(const FieldDescriptor& field, const uint8_t* record, uint32_t recordLength, uint32_t offset,
                 uint32_t size);
// The whole field.
inline Value FieldValue(const FieldDescriptor& field, const uint8_t* record, uint32_t recordLength) {
  return FieldValue(field, record, recordLength, field.place, field.size);
}

// The number of elements of a dimensioned field (1 when it has no DIM).
uint32_t ElementCount(const FieldDescriptor& field);

// Compares two strings through the collation weights, the shorter one taken
// as padded with blanks.
int CompareCollatedPadded(std::string_view a, std::string_view b);

}  // namespace pr::files
