// Evaluation of compiled expressions, field values and value comparison.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "files/expr.h"
#include "files/expr_functions.h"
#include "values/date_time.h"
#include "values/locale.h"

namespace pr::files {
namespace {

constexpr FunctionInfo kFunctions[] = {
    {"UPPER", kFnUpper, 1, 1}, {"LOWER", kFnLower, 1, 1},       {"CLIP", kFnClip, 1, 1},
    {"SUB", kFnSub, 2, 3},     {"INSTRING", kFnInstring, 2, 4}, {"LEN", kFnLen, 1, 1},
    {"ABS", kFnAbs, 1, 1},     {"INT", kFnInt, 1, 1},           {"DATE", kFnDate, 3, 3},
    {"TODAY", kFnToday, 0, 0},
};

// A number as arithmetic sees it: whole while it stays exact, else real.
struct Number {
  bool whole = true;
  int64_t l = 0;
  double r = 0;
  double Real() const { return whole ? static_cast<double>(l) : r; }
};

Number ToNumber(const Value& value) {
  Number n;
  if (value.kind() == Value::Kind::kLong) {
    n.l = value.AsLong();
    return n;
  }
  double d = value.AsReal();
  if (value.kind() != Value::Kind::kReal && std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.0e15) {
    n.l = static_cast<int64_t>(d);
    return n;
  }
  n.whole = false;
  n.r = d;
  return n;
}

Value FromNumber(const Number& n) { return n.whole ? Value::Long(n.l) : Value::Real(n.r); }

Value Real(double d) { return Value::Real(d); }

// The text of a value, as concatenation and the string functions see it.
std::string TextOf(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kString:
    case Value::Kind::kDecimal:
      return std::string(value.text());
    case Value::Kind::kLong:
      return std::to_string(value.AsLong());
    case Value::Kind::kReal: {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "%.15g", value.AsReal());
      return buffer;
    }
    case Value::Kind::kNone:
      break;
  }
  return {};
}

template <typename T>
T Load(const uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// A packed decimal: the high nibble of the first byte is the sign (not 0:
// negative), then 2 * size - 1 digits; `places` of them are decimals.
Value DecimalValue(const uint8_t* p, uint32_t size, uint32_t places) {
  std::string digits;
  for (uint32_t i = 1; i < size * 2; ++i) {
    uint8_t nibble = (i % 2 == 0) ? p[i / 2] >> 4 : p[i / 2] & 15;
    digits += static_cast<char>('0' + std::min<uint8_t>(nibble, 9));
  }
  places = std::min<uint32_t>(places, static_cast<uint32_t>(digits.size()));
  std::string text = (p[0] >> 4) != 0 ? "-" : "";
  std::string integer = digits.substr(0, digits.size() - places);
  integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size()));
  text += integer.empty() ? "0" : integer;
  if (places > 0) text += "." + digits.substr(digits.size() - places);
  return Value::Decimal(text);
}

std::string MapCase(const Value& value, const uint8_t* table) {
  std::string text = TextOf(value);
  for (char& c : text) c = static_cast<char>(table[static_cast<uint8_t>(c)]);
  return text;
}

int64_t Clamp(int64_t value, int64_t low, int64_t high) { return std::max(low, std::min(high, value)); }

}  // namespace

const FunctionInfo* FindFunction(std::string_view name) {
  for (const FunctionInfo& function : kFunctions) {
    if (function.name.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i)
      same = std::toupper(static_cast<unsigned char>(name[i])) == function.name[i];
    if (same) return &function;
  }
  return nullptr;
}

bool ValueIsTrue(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kNone: return false;
    case Value::Kind::kString: return value.text().find_first_not_of(' ') != std::string_view::npos;
    case Value::Kind::kLong: return value.AsLong() != 0;
    default: return value.AsReal() != 0;
  }
}

int CompareCollatedPadded(std::string_view a, std::string_view b) {
  const uint8_t* weights = values::Locale().collation;
  const size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    uint8_t x = weights[static_cast<uint8_t>(i < a.size() ? a[i] : ' ')];
    uint8_t y = weights[static_cast<uint8_t>(i < b.size() ? b[i] : ' ')];
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

int CompareValues(const Value& a, const Value& b) {
  if (a.kind() == Value::Kind::kString && b.kind() == Value::Kind::kString)
    return CompareCollatedPadded(a.text(), b.text());
  if (a.kind() == Value::Kind::kLong && b.kind() == Value::Kind::kLong) {
    int64_t x = a.AsLong(), y = b.AsLong();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  double x = a.AsReal(), y = b.AsReal();
  if (std::isnan(x)) x = 0;
  if (std::isnan(y)) y = 0;
  return x < y ? -1 : (x > y ? 1 : 0);
}

uint32_t ElementCount(const FieldDescriptor& field) {
  uint64_t count = 1;
  for (uint8_t d = 0; field.dims != nullptr && d < field.dimCount && field.dims[d] != 0; ++d) {
    count *= field.dims[d];
    if (count > UINT32_MAX) return UINT32_MAX;
  }
  return static_cast<uint32_t>(count);
}

Value FieldValue(const FieldDescriptor& field, const uint8_t* record, uint32_t recordLength, uint32_t offset,
                 uint32_t size) {
  const bool stringLike = field.type == TYPE_STRING || field.type == TYPE_CSTRING || field.type == TYPE_PSTRING ||
                          field.type == TYPE_GROUP;
  if (record == nullptr || uint64_t{offset} + size > recordLength)
    return stringLike ? Value::String("") : Value::Long(0);
  const uint8_t* p = record + offset;
  auto fixed = [&](uint32_t width) { return size >= width; };
  switch (field.type) {
    case TYPE_BYTE: return Value::Long(fixed(1) ? p[0] : 0);
    case TYPE_SHORT: return Value::Long(fixed(2) ? Load<int16_t>(p) : 0);
    case TYPE_USHORT: return Value::Long(fixed(2) ? Load<uint16_t>(p) : 0);
    case TYPE_DATE:
    case TYPE_TIME:
    case TYPE_LONG: return Value::Long(fixed(4) ? Load<int32_t>(p) : 0);
    case TYPE_ULONG: return Value::Long(fixed(4) ? Load<uint32_t>(p) : 0);
    case TYPE_SREAL: return Value::Real(fixed(4) ? Load<float>(p) : 0);
    case TYPE_REAL: return Value::Real(fixed(8) ? Load<double>(p) : 0);
    case TYPE_DECIMAL:
    case TYPE_PDECIMAL: return size > 0 ? DecimalValue(p, size, field.places) : Value::Long(0);
    case TYPE_CSTRING: {
      size_t length = 0;
      while (length < size && p[length] != 0) ++length;
      return Value::String(std::string_view(reinterpret_cast<const char*>(p), length));
    }
    case TYPE_PSTRING: {
      size_t length = size > 0 ? std::min<size_t>(p[0], size - 1) : 0;
      return Value::String(std::string_view(reinterpret_cast<const char*>(p + 1), length));
    }
    default:
      return Value::String(std::string_view(reinterpret_cast<const char*>(p), std::min<size_t>(size, 255)));
  }
}

Value Expression::Evaluate() const {
  if (nodes_.empty()) return Value();
  return EvaluateNode(static_cast<int32_t>(nodes_.size()) - 1);
}

bool Expression::IsTrue() const { return ValueIsTrue(Evaluate()); }

uint32_t Expression::PlainField(const FileDescriptor* file) const {
  if (nodes_.size() != 1 || nodes_[0].kind != Node::kField || nodes_[0].file != file) return 0;
  return static_cast<uint32_t>(nodes_[0].field - file->declaration.fields) + 1;
}

bool Expression::Reads(const FileDescriptor* file) const {
  for (const Node& node : nodes_)
    if (node.kind == Node::kField && node.file == file) return true;
  return false;
}

Value Expression::EvaluateNode(int32_t index) const {
  const Node& node = nodes_[static_cast<size_t>(index)];
  auto child = [&](size_t i) { return EvaluateNode(node.children[i]); };
  switch (node.kind) {
    case Node::kConstant:
      return node.constant;
    case Node::kField: {
      const FieldDescriptor& field = *node.field;
      uint32_t offset = field.place, size = field.size;
      if (!node.children.empty()) {
        // Row-major: the last index varies fastest.
        uint64_t flat = 0;
        for (size_t d = 0; d < node.children.size(); ++d) {
          int64_t at = child(d).AsLong();
          if (at < 1 || at > field.dims[d]) return FieldValue(field, nullptr, 0, 0, 0);
          flat = flat * field.dims[d] + static_cast<uint64_t>(at - 1);
        }
        uint64_t place = field.place + flat * node.elementSize;
        if (place + node.elementSize > uint64_t{field.place} + field.size) return FieldValue(field, nullptr, 0, 0, 0);
        offset = static_cast<uint32_t>(place);
        size = node.elementSize;
      } else if (ElementCount(field) > 1 && field.type != TYPE_STRING && field.type != TYPE_GROUP) {
        size = node.elementSize;  // a dimensioned number without an index: its first element
      }
      return FieldValue(field, node.file->record, node.file->recordLength, offset, size);
    }
    case Node::kNegate: {
      Number n = ToNumber(child(0));
      if (n.whole && n.l != std::numeric_limits<int64_t>::min()) return Value::Long(-n.l);
      return Real(-n.Real());
    }
    case Node::kNot:
      return Value::Long(ValueIsTrue(child(0)) ? 0 : 1);
    case Node::kBinary:
      break;
    case Node::kCall: {
      switch (node.op) {
        case kFnUpper: return Value::String(MapCase(child(0), values::Locale().upper));
        case kFnLower: return Value::String(MapCase(child(0), values::Locale().lower));
        case kFnClip: {
          std::string text = TextOf(child(0));
          text.erase(text.find_last_not_of(' ') + 1);
          return Value::String(text);
        }
        case kFnLen: return Value::Long(static_cast<int64_t>(TextOf(child(0)).size()));
        case kFnSub: {
          // SUB(text, start [, length]): start counts from 1, or from the end
          // when negative; the part outside the text is left out.
          std::string text = TextOf(child(0));
          const int64_t n = static_cast<int64_t>(text.size());
          int64_t start = Clamp(child(1).AsLong(), -1000, 1000);
          int64_t length = node.children.size() > 2 ? Clamp(child(2).AsLong(), -1000, 1000) : n;
          if (start < 0) start = n + start + 1;
          if (start < 1) {
            length -= 1 - start;
            start = 1;
          }
          if (length <= 0 || start > n) return Value::String("");
          return Value::String(std::string_view(text).substr(static_cast<size_t>(start - 1), static_cast<size_t>(length)));
        }
        case kFnInstring: {
          // INSTRING(sought, text [, step [, start]]): the first place, from
          // start on in steps of step, where sought stands in text; 0 when none.
          std::string sought = TextOf(child(0));
          std::string text = TextOf(child(1));
          int64_t step = node.children.size() > 2 ? Clamp(child(2).AsLong(), -1000, 1000) : 1;
          int64_t start = node.children.size() > 3 ? Clamp(child(3).AsLong(), -1000, 1000) : 1;
          if (sought.empty() || step == 0) return Value::Long(0);
          const int64_t n = static_cast<int64_t>(text.size()), m = static_cast<int64_t>(sought.size());
          if (step > 0) {
            for (int64_t at = std::max<int64_t>(start, 1); at + m - 1 <= n; at += step)
              if (text.compare(static_cast<size_t>(at - 1), static_cast<size_t>(m), sought) == 0) return Value::Long(at);
          } else {
            for (int64_t at = std::min(start, n - m + 1); at >= 1; at += step)
              if (text.compare(static_cast<size_t>(at - 1), static_cast<size_t>(m), sought) == 0) return Value::Long(at);
          }
          return Value::Long(0);
        }
        case kFnAbs: {
          Number n = ToNumber(child(0));
          if (n.whole && n.l != std::numeric_limits<int64_t>::min()) return Value::Long(n.l < 0 ? -n.l : n.l);
          return Real(std::fabs(n.Real()));
        }
        case kFnInt: {
          Number n = ToNumber(child(0));
          if (n.whole) return Value::Long(n.l);
          double t = std::trunc(n.r);
          if (std::isfinite(t) && std::fabs(t) < 9.0e18) return Value::Long(static_cast<int64_t>(t));
          return Real(t);
        }
        case kFnDate: {
          // DATE(month, day, year); 0 when that is no date.
          int32_t serial = values::DateFromParts(static_cast<int>(Clamp(child(0).AsLong(), -1, 120000)),
                                                 static_cast<int>(Clamp(child(1).AsLong(), -1, 4000000)),
                                                 static_cast<int32_t>(Clamp(child(2).AsLong(), -1, 10000)));
          return Value::Long(serial < 0 ? 0 : serial);
        }
        case kFnToday: return Value::Long(values::Today());
        default: return Value();
      }
    }
  }

  // Binary operators.
  if (node.op == kOpAnd) return Value::Long(ValueIsTrue(child(0)) && ValueIsTrue(child(1)) ? 1 : 0);
  if (node.op == kOpOr) return Value::Long(ValueIsTrue(child(0)) || ValueIsTrue(child(1)) ? 1 : 0);
  Value left = child(0);
  Value right = child(1);
  switch (node.op) {
    case kOpEqual: return Value::Long(CompareValues(left, right) == 0);
    case kOpNotEqual: return Value::Long(CompareValues(left, right) != 0);
    case kOpLess: return Value::Long(CompareValues(left, right) < 0);
    case kOpLessEqual: return Value::Long(CompareValues(left, right) <= 0);
    case kOpGreater: return Value::Long(CompareValues(left, right) > 0);
    case kOpGreaterEqual: return Value::Long(CompareValues(left, right) >= 0);
    case kOpConcat: return Value::String(TextOf(left) + TextOf(right));
    default: break;
  }
  Number a = ToNumber(left), b = ToNumber(right);
  Number r;
  const bool whole = a.whole && b.whole;
  switch (node.op) {
    case kOpAdd:
      if (whole && !__builtin_add_overflow(a.l, b.l, &r.l)) return FromNumber(r);
      return Real(a.Real() + b.Real());
    case kOpSubtract:
      if (whole && !__builtin_sub_overflow(a.l, b.l, &r.l)) return FromNumber(r);
      return Real(a.Real() - b.Real());
    case kOpMultiply:
      if (whole && !__builtin_mul_overflow(a.l, b.l, &r.l)) return FromNumber(r);
      return Real(a.Real() * b.Real());
    case kOpDivide:
      if (b.Real() == 0) return Value::Long(0);  // division by zero gives 0
      if (whole && b.l != -1 && a.l % b.l == 0) return Value::Long(a.l / b.l);
      if (whole && b.l == -1 && a.l != std::numeric_limits<int64_t>::min()) return Value::Long(-a.l);
      return Real(a.Real() / b.Real());
    case kOpModulo:
      if (b.Real() == 0) return Value::Long(0);
      if (whole) return Value::Long(b.l == -1 ? 0 : a.l % b.l);
      return Real(std::fmod(a.Real(), b.Real()));
    default:
      return Value();
  }
}

}  // namespace pr::files
