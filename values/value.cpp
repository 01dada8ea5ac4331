#include "values/value.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "values/decimal_digits.h"

namespace pr::values {

Value Value::Long(int64_t v) {
  Value value;
  value.kind_ = Kind::kLong;
  value.long_ = v;
  return value;
}

Value Value::Real(double v) {
  Value value;
  value.kind_ = Kind::kReal;
  value.real_ = v;
  return value;
}

Value Value::Decimal(std::string_view text) {
  Value value = String(text);
  value.kind_ = Kind::kDecimal;
  return value;
}

Value Value::String(std::string_view text) {
  Value value;
  value.kind_ = Kind::kString;
  size_t n = text.size() < kValueTextMax ? text.size() : kValueTextMax;
  if (n > 0) std::memcpy(value.text_, text.data(), n);
  value.text_[n] = '\0';
  value.length_ = static_cast<uint16_t>(n);
  return value;
}

int64_t Value::AsLong() const {
  switch (kind_) {
    case Kind::kNone:
      return 0;
    case Kind::kLong:
      return long_;
    case Kind::kReal:
      if (std::isnan(real_)) return 0;
      if (real_ >= 9.2e18) return INT64_MAX;
      if (real_ <= -9.2e18) return INT64_MIN;
      return static_cast<int64_t>(real_);
    case Kind::kDecimal:
    case Kind::kString: {
      DecimalDigits digits;
      if (!ParseDecimal(text(), &digits) || digits.point <= 0) return 0;
      if (digits.point > 18) return digits.negative ? INT64_MIN : INT64_MAX;
      int64_t v = 0;
      for (int i = 0; i < digits.point; ++i) v = v * 10 + (digits.At(i) - '0');
      return digits.negative ? -v : v;
    }
  }
  return 0;
}

double Value::AsReal() const {
  switch (kind_) {
    case Kind::kNone:
      return 0;
    case Kind::kLong:
      return static_cast<double>(long_);
    case Kind::kReal:
      return real_;
    case Kind::kDecimal:
    case Kind::kString: {
      DecimalDigits digits;
      if (!ParseDecimal(text(), &digits) || digits.IsZero()) return 0;
      // Rebuild a plain "0.ddd e point" text for from_chars.
      char buf[DecimalDigits::kMaxDigits + 24];
      size_t n = 0;
      if (digits.negative) buf[n++] = '-';
      buf[n++] = '.';
      std::memcpy(buf + n, digits.d, digits.count);
      n += digits.count;
      buf[n++] = 'e';
      auto r = std::to_chars(buf + n, buf + sizeof buf, digits.point);
      double v = 0;
      std::from_chars(buf, r.ptr, v);
      return v;
    }
  }
  return 0;
}

bool Value::operator==(const Value& other) const {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case Kind::kNone:
      return true;
    case Kind::kLong:
      return long_ == other.long_;
    case Kind::kReal:
      return real_ == other.real_;
    default:
      return text() == other.text();
  }
}

}  // namespace pr::values
