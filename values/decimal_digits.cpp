#include "values/decimal_digits.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace pr::values {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits of |v| for a whole number.
void DigitsOfLong(int64_t v, DecimalDigits* out) {
  out->Clear();
  out->negative = v < 0;
  uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, magnitude);
  (void)ec;
  size_t n = static_cast<size_t>(end - buf);
  out->point = static_cast<int32_t>(n);
  while (n > 0 && buf[n - 1] == '0') --n;
  std::memcpy(out->d, buf, n);
  out->count = static_cast<uint16_t>(n);
  if (n == 0) out->Clear();
}

}  // namespace

bool ParseDecimal(std::string_view text, DecimalDigits* out) {
  out->Clear();
  size_t i = 0, n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  // Digits go straight into *out, which is cleared again on every failure.
  DecimalDigits& v = *out;
  int64_t point = 0;
  bool seenPoint = false, anyDigit = false, leading = true, lost = false;
  for (; i < n; ++i) {
    char c = text[i];
    if (c == '.' && !seenPoint) {
      seenPoint = true;
      continue;
    }
    if (!IsDigit(c)) break;
    anyDigit = true;
    if (leading && c == '0') {
      if (seenPoint) --point;  // 0.00x: the mantissa starts further right
      continue;
    }
    leading = false;
    if (!seenPoint) ++point;
    if (v.count < DecimalDigits::kMaxDigits) {
      v.d[v.count++] = c;
    } else if (c != '0') {
      lost = true;  // a significant digit beyond what is carried
    }
  }
  if (lost || !anyDigit) {
    out->Clear();
    return false;
  }
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < n && (text[i] == '-' || text[i] == '+')) expNegative = text[i++] == '-';
    if (i >= n || !IsDigit(text[i])) {
      out->Clear();
      return false;
    }
    int64_t exponent = 0;
    for (; i < n && IsDigit(text[i]); ++i) {
      if (exponent < 1000000) exponent = exponent * 10 + (text[i] - '0');
    }
    point += expNegative ? -exponent : exponent;
  }
  while (i < n && IsBlank(text[i])) ++i;
  if (i != n) {
    out->Clear();
    return false;
  }
  while (v.count > 0 && v.d[v.count - 1] == '0') --v.count;
  if (v.count == 0) {
    out->Clear();  // zero, unsigned
    return true;
  }
  if (point > 100000000 || point < -100000000) {
    // Beyond any picture: keep the magnitude's direction only.
    point = point > 0 ? 100000000 : -100000000;
  }
  v.point = static_cast<int32_t>(point);
  v.negative = negative;
  return true;
}

bool DigitsOfValue(const Value& value, DecimalDigits* out) {
  out->Clear();
  switch (value.kind()) {
    case Value::Kind::kNone:
      return true;
    case Value::Kind::kLong:
      DigitsOfLong(value.AsLong(), out);
      return true;
    case Value::Kind::kReal: {
      double r = value.AsReal();
      if (!std::isfinite(r)) return false;
      if (r == 0) return true;
      char buf[40];
      // Fifteen significant digits: what a double holds faithfully, so that
      // 1.005 is the 1.005 the user typed rather than 1.00499999999999989.
      auto [end, ec] = std::to_chars(buf, buf + sizeof buf, r, std::chars_format::scientific, 14);
      if (ec != std::errc()) return false;
      return ParseDecimal(std::string_view(buf, static_cast<size_t>(end - buf)), out);
    }
    case Value::Kind::kDecimal:
    case Value::Kind::kString:
      if (!ParseDecimal(value.text(), out)) out->Clear();
      return true;
  }
  return true;
}

bool RoundDigits(const DecimalDigits& value, int places, int maxIntegerDigits, char* out, int* integerDigits) {
  int64_t intDigits = value.point > 0 ? value.point : 0;
  if (intDigits > maxIntegerDigits) return false;
  int64_t shift = int64_t{value.point} - intDigits;  // mantissa index of out[0]
  int64_t total = intDigits + places;
  for (int64_t p = 0; p < total; ++p) out[p] = value.At(shift + p);
  if (value.At(shift + total) >= '5') {
    int64_t p = total - 1;
    for (; p >= 0; --p) {
      if (out[p] == '9') {
        out[p] = '0';
      } else {
        ++out[p];
        break;
      }
    }
    if (p < 0) {
      // Every digit was 9: the carry adds a leading 1.
      if (intDigits + 1 > maxIntegerDigits) return false;
      std::memmove(out + 1, out, static_cast<size_t>(total));
      out[0] = '1';
      ++intDigits;
    }
  }
  *integerDigits = static_cast<int>(intDigits);
  return true;
}

size_t NumberText(const Value& value, char* out, size_t capacity) {
  std::to_chars_result r{out, std::errc()};
  switch (value.kind()) {
    case Value::Kind::kNone:
      return 0;
    case Value::Kind::kLong:
      r = std::to_chars(out, out + capacity, value.AsLong());
      break;
    case Value::Kind::kReal:
      r = std::to_chars(out, out + capacity, value.AsReal());
      break;
    case Value::Kind::kDecimal:
    case Value::Kind::kString: {
      size_t n = value.text().size() < capacity ? value.text().size() : capacity;
      std::memcpy(out, value.text().data(), n);
      return n;
    }
  }
  return r.ec == std::errc() ? static_cast<size_t>(r.ptr - out) : 0;
}

}  // namespace pr::values
