// Decimal digit strings: the exact form in which numeric pictures see a
// value.  Internal to values/; nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "values/value.h"

namespace pr::values {

// value = (negative ? -1 : 1) * 0.d[0] d[1] ... d[count-1] * 10^point, with no
// leading or trailing zero digit; zero has count 0.
struct DecimalDigits {
  // Every digit a picture can show (255 positions) plus the one that rounds.
  static constexpr size_t kMaxDigits = 256;
  bool negative = false;
  int32_t point = 0;
  uint16_t count = 0;
  // Only the first `count` digits are meaningful; the rest is not cleared,
  // so that making one costs nothing on the formatting path.
  char d[kMaxDigits];

  void Clear() {
    negative = false;
    point = 0;
    count = 0;
  }
  bool IsZero() const { return count == 0; }
  // The digit at index i of the mantissa, '0' outside it.
  char At(int64_t i) const { return i >= 0 && i < count ? d[i] : '0'; }
};

// Parses [blanks][+|-]digits[.digits][(e|E)[+|-]digits][blanks]; digits may
// be missing on one side of the point but not both.  A number with more than
// kMaxDigits significant digits is refused rather than cut.  Returns false,
// leaving *out zero, for anything else.
bool ParseDecimal(std::string_view text, DecimalDigits* out);

// The digits of a value: exact for whole numbers and decimal texts, 15
// significant digits for reals; a string reads as its number (zero when it is
// none).  Returns false for a real that is infinite or not a number.
bool DigitsOfValue(const Value& value, DecimalDigits* out);

// Rounds |value| half up to `places` decimals and writes the integer digits
// (without leading zeros) followed by exactly `places` decimals into `out`.
// Returns false when the integer part needs more than `maxIntegerDigits`
// digits; otherwise sets *integerDigits and returns true.  `out` must hold
// maxIntegerDigits + places characters.
bool RoundDigits(const DecimalDigits& value, int places, int maxIntegerDigits, char* out, int* integerDigits);

// Shortest text of a number value ("-12.5", "1e+300" for huge reals), written
// into `out` (at least 40 bytes); returns its length.
size_t NumberText(const Value& value, char* out, size_t capacity);

}  // namespace pr::values
