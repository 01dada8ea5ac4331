// The expression compiler: a hand-written scanner and recursive-descent
// parser that builds the node list of an Expression.  Recursion is bounded by
// kExpressionDepthMax, so no text can exhaust the stack.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "files/expr.h"
#include "files/expr_functions.h"
#include "values/date_time.h"

namespace pr::files {

namespace {

enum class Token { kEnd, kNumber, kString, kDate, kName, kOperator };

bool NameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool NameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':'; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

class ExpressionCompiler {
 public:
  ExpressionCompiler(std::string_view text, const std::vector<FileDescriptor*>& files, Expression* out)
      : text_(text), files_(files), out_(out) {}

  bool Run(ExpressionError* error) {
    Scan();
    int32_t root = Or(0);
    if (root >= 0 && token_ != Token::kEnd) Fail(EXPR_SYNTAX, "Unexpected " + Shown());
    if (failed_) {
      if (error != nullptr) *error = error_;
      return false;
    }
    return true;
  }

 private:
  using Node = Expression::Node;

  // ---- scanner
  void Scan() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    start_ = pos_;
    spelling_.clear();
    if (pos_ >= text_.size()) {
      token_ = Token::kEnd;
      return;
    }
    char c = text_[pos_];
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        (c == '.' && pos_ + 1 < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_ + 1])))) {
      while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      if (pos_ < text_.size() && text_[pos_] == '.') {
        ++pos_;
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      }
      spelling_ = std::string(text_.substr(start_, pos_ - start_));
      token_ = Token::kNumber;
      return;
    }
    if (c == '\'') {
      ++pos_;
      for (;;) {
        if (pos_ >= text_.size()) {
          Fail(EXPR_BAD_CONSTANT, "Unterminated string");
          token_ = Token::kEnd;
          return;
        }
        if (text_[pos_] == '\'') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
            spelling_ += '\'';
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        spelling_ += text_[pos_++];
      }
      if (spelling_.size() > values::kValueTextMax) Fail(EXPR_BAD_CONSTANT, "String longer than 255 characters");
      token_ = Token::kString;
      return;
    }
    if (c == '#') {
      size_t close = text_.find('#', pos_ + 1);
      if (close == std::string_view::npos) {
        Fail(EXPR_BAD_CONSTANT, "Unterminated date");
        token_ = Token::kEnd;
        pos_ = text_.size();
        return;
      }
      spelling_ = std::string(text_.substr(pos_ + 1, close - pos_ - 1));
      pos_ = close + 1;
      token_ = Token::kDate;
      return;
    }
    if (NameStart(c)) {
      while (pos_ < text_.size() && NameChar(text_[pos_])) ++pos_;
      spelling_ = std::string(text_.substr(start_, pos_ - start_));
      token_ = Token::kName;
      return;
    }
    static constexpr std::string_view kTwo[] = {"<>", "<=", ">="};
    for (std::string_view two : kTwo) {
      if (text_.substr(pos_, 2) == two) {
        spelling_ = std::string(two);
        pos_ += 2;
        token_ = Token::kOperator;
        return;
      }
    }
    if (std::strchr("=<>+-*/%&()[],", c) != nullptr) {
      spelling_ = std::string(1, c);
      ++pos_;
      token_ = Token::kOperator;
      return;
    }
    Fail(EXPR_SYNTAX, std::string("Unexpected character '") + c + "'");
    token_ = Token::kEnd;
    pos_ = text_.size();
  }

  bool IsOperator(std::string_view op) const { return token_ == Token::kOperator && spelling_ == op; }
  bool IsKeyword(std::string_view word) const { return token_ == Token::kName && SameName(spelling_, word); }

  std::string Shown() const {
    if (token_ == Token::kEnd) return "end of text";
    std::string shown = spelling_.size() > 40 ? spelling_.substr(0, 40) + "..." : spelling_;
    return "'" + shown + "'";
  }

  void Fail(int32_t number, std::string message) {
    if (failed_) return;
    failed_ = true;
    error_.number = number;
    error_.message = std::move(message) + " at " + std::to_string(start_ + 1);
  }

  // Evaluation recurses along the tree, so its height is bounded as well as
  // the parser's nesting ("1+1+...+1" nests no parentheses but is tall).
  int32_t Add(Node node) {
    int height = 1;
    for (int32_t child : node.children) height = std::max(height, heights_[static_cast<size_t>(child)] + 1);
    if (height > kExpressionHeightMax) {
      Fail(EXPR_TOO_COMPLEX, "Expression has too many operators in a row");
      return -1;
    }
    out_->nodes_.push_back(std::move(node));
    heights_.push_back(height);
    return static_cast<int32_t>(out_->nodes_.size()) - 1;
  }

  bool Deeper(int depth) {
    if (depth < kExpressionDepthMax) return true;
    Fail(EXPR_TOO_COMPLEX, "Expression nested too deep");
    return false;
  }

  int32_t Binary(uint8_t op, int32_t left, int32_t right) {
    if (left < 0 || right < 0) return -1;
    Node node;
    node.kind = Node::kBinary;
    node.op = op;
    node.children = {left, right};
    return Add(std::move(node));
  }

  // ---- grammar, loosest first; each returns the node index or -1
  int32_t Or(int depth) {
    if (!Deeper(depth)) return -1;
    int32_t left = And(depth);
    while (!failed_ && IsKeyword("OR")) {
      Scan();
      left = Binary(kOpOr, left, And(depth));
    }
    return failed_ ? -1 : left;
  }

  int32_t And(int depth) {
    int32_t left = Not(depth);
    while (!failed_ && IsKeyword("AND")) {
      Scan();
      left = Binary(kOpAnd, left, Not(depth));
    }
    return failed_ ? -1 : left;
  }

  int32_t Not(int depth) {
    if (!Deeper(depth)) return -1;
    if (IsKeyword("NOT")) {
      Scan();
      int32_t operand = Not(depth + 1);
      if (operand < 0) return -1;
      Node node;
      node.kind = Node::kNot;
      node.children = {operand};
      return Add(std::move(node));
    }
    return Compare(depth);
  }

  int32_t Compare(int depth) {
    int32_t left = Concat(depth);
    if (failed_ || token_ != Token::kOperator) return failed_ ? -1 : left;
    uint8_t op = 0;
    if (spelling_ == "=") op = kOpEqual;
    else if (spelling_ == "<>") op = kOpNotEqual;
    else if (spelling_ == "<") op = kOpLess;
    else if (spelling_ == "<=") op = kOpLessEqual;
    else if (spelling_ == ">") op = kOpGreater;
    else if (spelling_ == ">=") op = kOpGreaterEqual;
    if (op == 0) return left;
    Scan();
    return Binary(op, left, Concat(depth));
  }

  int32_t Concat(int depth) {
    int32_t left = Sum(depth);
    while (!failed_ && IsOperator("&")) {
      Scan();
      left = Binary(kOpConcat, left, Sum(depth));
    }
    return failed_ ? -1 : left;
  }

  int32_t Sum(int depth) {
    int32_t left = Product(depth);
    while (!failed_ && (IsOperator("+") || IsOperator("-"))) {
      uint8_t op = spelling_ == "+" ? kOpAdd : kOpSubtract;
      Scan();
      left = Binary(op, left, Product(depth));
    }
    return failed_ ? -1 : left;
  }

  int32_t Product(int depth) {
    int32_t left = Unary(depth);
    while (!failed_ && (IsOperator("*") || IsOperator("/") || IsOperator("%"))) {
      uint8_t op = spelling_ == "*" ? kOpMultiply : spelling_ == "/" ? kOpDivide : kOpModulo;
      Scan();
      left = Binary(op, left, Unary(depth));
    }
    return failed_ ? -1 : left;
  }

  int32_t Unary(int depth) {
    if (!Deeper(depth)) return -1;
    if (IsOperator("-") || IsOperator("+")) {
      bool negate = spelling_ == "-";
      Scan();
      int32_t operand = Unary(depth + 1);
      if (operand < 0 || !negate) return operand;
      Node node;
      node.kind = Node::kNegate;
      node.children = {operand};
      return Add(std::move(node));
    }
    return Primary(depth);
  }

  int32_t Constant(Value value) {
    Node node;
    node.kind = Node::kConstant;
    node.constant = value;
    Scan();
    return Add(std::move(node));
  }

  int32_t Primary(int depth) {
    if (failed_) return -1;
    switch (token_) {
      case Token::kNumber: {
        if (spelling_.find('.') == std::string::npos && spelling_.size() <= 18)
          return Constant(Value::Long(std::stoll(spelling_)));
        if (spelling_.size() > 60) {
          Fail(EXPR_BAD_CONSTANT, "Number with more than 60 digits");
          return -1;
        }
        return Constant(Value::Decimal(spelling_));
      }
      case Token::kString:
        return Constant(Value::String(spelling_));
      case Token::kDate: {
        int year = 0, month = 0, day = 0;
        char tail = 0;
        int32_t serial = -1;
        if (spelling_.size() <= 10 && std::sscanf(spelling_.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &tail) == 3)
          serial = values::MakeDate(year, month, day);
        if (serial < 0) {
          Fail(EXPR_BAD_CONSTANT, "Date " + Shown() + " is not yyyy-mm-dd between 1801 and 9999");
          return -1;
        }
        return Constant(Value::Long(serial));
      }
      case Token::kName:
        return Name(depth);
      case Token::kOperator:
        if (IsOperator("(")) {
          Scan();
          int32_t inner = Or(depth + 1);
          if (inner < 0) return -1;
          if (!IsOperator(")")) {
            Fail(EXPR_SYNTAX, "Expected ')' instead of " + Shown());
            return -1;
          }
          Scan();
          return inner;
        }
        break;
      case Token::kEnd:
        break;
    }
    Fail(EXPR_SYNTAX, "Expected a value instead of " + Shown());
    return -1;
  }

  // A function call or a field reference.
  int32_t Name(int depth) {
    std::string name = spelling_;
    size_t nameStart = start_;
    if (IsKeyword("AND") || IsKeyword("OR") || IsKeyword("NOT")) {
      Fail(EXPR_SYNTAX, "Expected a value instead of " + Shown());
      return -1;
    }
    Scan();
    if (IsOperator("(")) {
      const FunctionInfo* function = FindFunction(name);
      if (function == nullptr) {
        start_ = nameStart;
        Fail(EXPR_BAD_CALL, "Unknown function " + name);
        return -1;
      }
      Scan();
      Node node;
      node.kind = Node::kCall;
      node.op = function->number;
      if (!IsOperator(")")) {
        for (;;) {
          int32_t argument = Or(depth + 1);
          if (argument < 0) return -1;
          node.children.push_back(argument);
          if (!IsOperator(",")) break;
          Scan();
        }
      }
      if (!IsOperator(")")) {
        Fail(EXPR_SYNTAX, "Expected ')' or ',' instead of " + Shown());
        return -1;
      }
      if (node.children.size() < function->minArguments || node.children.size() > function->maxArguments) {
        start_ = nameStart;
        Fail(EXPR_BAD_CALL, std::string(function->name) + " takes " + std::to_string(function->minArguments) +
                                (function->maxArguments != function->minArguments
                                     ? " to " + std::to_string(function->maxArguments)
                                     : "") +
                                " arguments");
        return -1;
      }
      Scan();
      return Add(std::move(node));
    }
    return Field(name, nameStart, depth);
  }

  int32_t Field(const std::string& name, size_t nameStart, int depth) {
    Node node;
    node.kind = Node::kField;
    for (FileDescriptor* file : files_) {
      if (file == nullptr || file->declaration.fields == nullptr) continue;
      for (uint32_t i = 0; i < file->declaration.fieldCount; ++i) {
        if (SameName(file->declaration.fields[i].label, name)) {
          node.file = file;
          node.field = &file->declaration.fields[i];
          break;
        }
      }
      if (node.field != nullptr) break;
    }
    if (node.field == nullptr) {
      start_ = nameStart;
      Fail(EXPR_UNKNOWN_FIELD, "Unknown field " + name);
      return -1;
    }
    const FieldDescriptor& field = *node.field;
    uint32_t dims = 0;
    while (field.dims != nullptr && dims < field.dimCount && field.dims[dims] != 0) ++dims;
    uint32_t count = ElementCount(field);
    node.elementSize = count > 0 ? field.size / count : field.size;
    if (IsOperator("[")) {
      size_t bracket = start_;
      Scan();
      for (;;) {
        int32_t index = Or(depth + 1);
        if (index < 0) return -1;
        // A constant index is checked here; others when they are evaluated.
        const Node& indexNode = out_->nodes_[static_cast<size_t>(index)];
        if (indexNode.kind == Node::kConstant && node.children.size() < dims) {
          int64_t at = indexNode.constant.AsLong();
          if (at < 1 || at > field.dims[node.children.size()]) {
            start_ = bracket;
            Fail(EXPR_BAD_INDEX, "Index " + std::to_string(at) + " outside the dimension of " + name);
            return -1;
          }
        }
        node.children.push_back(index);
        if (!IsOperator(",")) break;
        Scan();
      }
      if (!IsOperator("]")) {
        Fail(EXPR_SYNTAX, "Expected ']' instead of " + Shown());
        return -1;
      }
      if (node.children.size() != dims) {
        start_ = bracket;
        Fail(EXPR_BAD_INDEX, name + " takes " + std::to_string(dims) + " indexes");
        return -1;
      }
      Scan();
    }
    return Add(std::move(node));
  }

  std::string_view text_;
  const std::vector<FileDescriptor*>& files_;
  Expression* out_;
  size_t pos_ = 0;
  size_t start_ = 0;
  Token token_ = Token::kEnd;
  std::string spelling_;
  bool failed_ = false;
  ExpressionError error_;
  std::vector<int> heights_;  // per node
};

bool Expression::Compile(std::string_view text, const std::vector<FileDescriptor*>& files, ExpressionError* error) {
  nodes_.clear();
  if (error != nullptr) *error = ExpressionError{};
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return true;
  if (text.size() > kExpressionTextMax) {
    if (error != nullptr) {
      error->number = EXPR_TOO_COMPLEX;
      error->message = "Expression longer than " + std::to_string(kExpressionTextMax) + " characters";
    }
    return false;
  }
  ExpressionCompiler compiler(text, files, this);
  if (!compiler.Run(error)) {
    nodes_.clear();
    return false;
  }
  return true;
}

}  // namespace pr::files
