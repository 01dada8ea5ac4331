// A value as pictures format and read it: a whole number, a binary real, an
// exact decimal number given as text, or a string.  Dates and times are whole
// numbers (their serials).  A Value owns its text in a fixed inline buffer, so
// building, copying and formatting one never allocates; texts longer than
// kValueTextMax are cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pr::values {

inline constexpr size_t kValueTextMax = 255;

class Value {
 public:
  enum class Kind : uint8_t { kNone, kLong, kReal, kDecimal, kString };

  Value() = default;
  static Value Long(int64_t v);
  static Value Real(double v);
  // An exact decimal number: [-|+] digits [. digits] [e|E [-|+] digits].
  // Text that is not such a number is kept and reads as 0.
  static Value Decimal(std::string_view text);
  static Value String(std::string_view text);

  Kind kind() const { return kind_; }
  bool IsNumber() const { return kind_ == Kind::kLong || kind_ == Kind::kReal || kind_ == Kind::kDecimal; }
  // Whole-number view: reals and decimals truncate toward zero, strings read
  // their leading number (0 when none).  Saturates at the int64 range.
  int64_t AsLong() const;
  double AsReal() const;
  // The text of a decimal or string value; empty for numbers.
  std::string_view text() const { return {text_, length_}; }

  bool operator==(const Value& other) const;

 private:
  Kind kind_ = Kind::kNone;
  uint16_t length_ = 0;
  int64_t long_ = 0;
  double real_ = 0;
  char text_[kValueTextMax + 1] = {};
};

}  // namespace pr::values
