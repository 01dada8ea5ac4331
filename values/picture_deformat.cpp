// Reading text back through a compiled picture (the rules are listed in
// values/format.h).  Every read of the text is bounds-checked; results are
// built in fixed buffers of kValueTextMax characters.
#include <cstring>

#include "values/date_time.h"
#include "values/decimal_digits.h"
#include "values/format.h"
#include "values/locale.h"

namespace pr::values {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
// Letters of the ANSI code page: ASCII letters and everything from 0x80 up.
bool IsLetter(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u >= 0x80;
}
bool IsAllBlank(std::string_view text) {
  for (char c : text) {
    if (!IsBlank(c)) return false;
  }
  return true;
}

// A bounded text builder.
struct Builder {
  char text[kValueTextMax + 1];
  size_t n = 0;
  bool overflow = false;  // a character did not fit
  bool Put(char c) {
    if (n >= kValueTextMax) {
      overflow = true;
      return false;
    }
    text[n++] = c;
    return true;
  }
  std::string_view View() const { return {text, n}; }
};

// Stores `text` (a number text ParseDecimal accepts) as a canonical decimal:
// no leading zeros, no trailing decimal zeros, no "-0".
bool StoreDecimal(std::string_view text, Value* out) {
  DecimalDigits digits;
  if (!ParseDecimal(text, &digits)) return false;
  Builder b;
  if (digits.IsZero()) {
    b.Put('0');
  } else {
    if (digits.negative) b.Put('-');
    int64_t point = digits.point;
    if (point > static_cast<int64_t>(kValueTextMax) || point < -static_cast<int64_t>(kValueTextMax)) return false;
    if (point <= 0) {
      b.Put('0');
      b.Put('.');
      for (int64_t k = point; k < 0; ++k) b.Put('0');
      for (int k = 0; k < digits.count; ++k) b.Put(digits.d[k]);
    } else {
      for (int64_t k = 0; k < point; ++k) b.Put(digits.At(k));
      if (digits.count > point) {
        b.Put('.');
        for (int64_t k = point; k < digits.count; ++k) b.Put(digits.d[k]);
      }
    }
    if (b.overflow) return false;  // did not fit: refused, never cut
  }
  *out = Value::Decimal(b.View());
  return true;
}

// ---------------------------------------------------------------- numeric and scientific

bool DeformatNumber(const Picture& p, std::string_view text, Value* out) {
  const bool scientific = p.kind == PictureKind::kScientific;
  char decimalChar = 0, groupChar = 0;
  int impliedPlaces = 0;
  for (size_t k = 0; k < p.length; ++k) {
    const PicturePosition& q = p.positions[k];
    if (q.token == kTokDecimal && decimalChar == 0) decimalChar = q.display;
    if (q.token == kTokImpliedPoint) impliedPlaces = p.places;
    if (q.token == kTokGrouping && groupChar == 0) groupChar = q.display;
  }
  if (decimalChar == 0) decimalChar = groupChar == '.' ? ',' : '.';
  std::string_view currency(p.currency, p.currencyLength);

  Builder mantissa;   // digits and at most one "."
  Builder exponent;   // sign and digits after "E"
  bool negative = false, openParen = false, closed = false;
  bool digitsSeen = false, pointSeen = false, inExponent = false;
  size_t digitCount = 0;
  // When the decimal separator is a blank, or the same character as the
  // grouping separator, the point is its last occurrence between two digits.
  const bool ambiguous = decimalChar == ' ' || decimalChar == groupChar;
  size_t pointAt = std::string_view::npos;
  if (ambiguous) {
    for (size_t i = 1; i + 1 < text.size(); ++i) {
      if (text[i] == decimalChar && IsDigit(text[i - 1]) && IsDigit(text[i + 1])) pointAt = i;
    }
  }
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (i == pointAt) {
      if (!mantissa.Put('.')) return false;
      pointSeen = true;
      continue;
    }
    if (!currency.empty() && currency != " " && text.substr(i, currency.size()) == currency && !inExponent) {
      i += currency.size() - 1;
      continue;
    }
    if (IsDigit(c)) {
      if (closed) return false;
      if (inExponent) {
        if (!exponent.Put(c)) return false;
        continue;
      }
      if (!mantissa.Put(c)) return false;
      digitsSeen = true;
      ++digitCount;
      continue;
    }
    if (IsBlank(c)) continue;
    if (inExponent && exponent.n == 0 && (c == '-' || c == '+')) {
      exponent.Put(c);
      continue;
    }
    if (c == decimalChar && !ambiguous) {
      if (pointSeen || closed || inExponent) return false;
      if (!mantissa.Put('.')) return false;
      pointSeen = true;
      continue;
    }
    if (c == groupChar || c == '.' || c == ',') {
      if (pointSeen || closed || inExponent) return false;
      continue;  // a grouping mark
    }
    if (c == '*' && p.fill == '*' && !digitsSeen) continue;  // the fill
    if (c == '-') {
      if (negative || closed) return false;
      negative = true;
      if (digitsSeen) closed = true;  // a trailing sign ends the number
      continue;
    }
    if (c == '(' && !digitsSeen && !negative) {
      negative = openParen = true;
      continue;
    }
    if (c == ')' && (openParen || (digitsSeen && !negative))) {
      negative = true;
      closed = true;
      continue;
    }
    if (c == '+' && !digitsSeen && !negative) continue;
    if (scientific && (c == 'e' || c == 'E') && digitsSeen && !inExponent && !closed) {
      inExponent = true;
      continue;
    }
    return false;
  }
  if (inExponent && (exponent.n == 0 || !IsDigit(exponent.text[exponent.n - 1]))) return false;
  if (!digitsSeen) {
    if (pointSeen || inExponent) return false;
    *out = Value::Decimal("0");
    return true;
  }
  // Assemble "[-]digits[.digits][e[+-]digits]".
  Builder number;
  if (negative) number.Put('-');
  if (impliedPlaces > 0 && !pointSeen) {
    // The last `impliedPlaces` digits are the decimals.
    size_t lead = digitCount > static_cast<size_t>(impliedPlaces) ? digitCount - impliedPlaces : 0;
    if (lead == 0) number.Put('0');
    for (size_t k = 0; k < lead; ++k) number.Put(mantissa.text[k]);
    if (!number.Put('.')) return false;
    for (size_t k = digitCount; k < static_cast<size_t>(impliedPlaces); ++k) number.Put('0');
    for (size_t k = lead; k < digitCount; ++k) {
      if (!number.Put(mantissa.text[k])) return false;
    }
  } else {
    for (size_t k = 0; k < mantissa.n; ++k) {
      if (!number.Put(mantissa.text[k])) return false;
    }
    if (mantissa.text[mantissa.n - 1] == '.' && !number.Put('0')) return false;
  }
  if (inExponent) {
    if (!number.Put('e')) return false;
    for (size_t k = 0; k < exponent.n; ++k) {
      if (!number.Put(exponent.text[k])) return false;
    }
  }
  return StoreDecimal(number.View(), out);
}

// ---------------------------------------------------------------- dates and times

// The parts read from a date or time text.
struct Parts {
  int32_t year = -1;
  int yearDigits = 0;
  int month = -1, day = -1;
  int hours = -1, minutes = -1, seconds = -1;
  char amPm = 0;  // 'A', 'P' or 0
};

uint8_t Up(uint8_t c) { return Locale().upper[c]; }

// Matches the letters at text[i..] against the short month names; advances
// over the whole word.  0 when nothing matches.
int MatchMonth(std::string_view text, size_t* i) {
  size_t start = *i, end = start;
  while (end < text.size() && IsLetter(text[end])) ++end;
  *i = end;
  size_t n = end - start;
  if (n == 0) return 0;
  if (n > 3) n = 3;
  const LocaleSettings& locale = Locale();
  for (int m = 0; m < 12; ++m) {
    const char* name = locale.shortMonth[m];
    size_t len = std::strlen(name);
    size_t cmp = len < 3 ? len : 3;
    if (cmp == 0 || n < cmp) continue;
    bool same = true;
    for (size_t k = 0; k < cmp && same; ++k) {
      same = Up(static_cast<uint8_t>(text[start + k])) == Up(static_cast<uint8_t>(name[k]));
    }
    if (same) return m + 1;
  }
  return 0;
}

// The first letters of the AM and PM texts the picture uses.
void AmPmLetters(const Picture& p, uint8_t* am, uint8_t* pm) {
  *am = 'A';
  *pm = 'P';
  if (p.number == 7 || p.number == 8) {
    const LocaleSettings& locale = Locale();
    *am = locale.am[0] != '\0' ? Up(static_cast<uint8_t>(locale.am[0])) : 0;
    *pm = locale.pm[0] != '\0' ? Up(static_cast<uint8_t>(locale.pm[0])) : 0;
  }
}

bool StorePart(uint8_t token, int value, int digits, Parts* parts) {
  switch (token) {
    case kTokMonth: parts->month = value; break;
    case kTokDay: parts->day = value; break;
    case kTokYear:
      parts->year = value;
      parts->yearDigits = digits;
      break;
    case kTokHour: parts->hours = value; break;
    case kTokMinute: parts->minutes = value; break;
    case kTokSecond: parts->seconds = value; break;
    default: return false;
  }
  return true;
}

bool IsPartToken(uint8_t token) {
  return token == kTokMonth || token == kTokDay || token == kTokYear || token == kTokHour || token == kTokMinute ||
         token == kTokSecond;
}

// Reads the text position by position against the template: the way back
// for exactly what formatting wrote.
bool ReadAligned(const Picture& p, std::string_view text, Parts* parts) {
  if (text.size() > p.length) {
    if (!IsAllBlank(text.substr(p.length))) return false;
    text = text.substr(0, p.length);
  }
  uint8_t am, pm;
  AmPmLetters(p, &am, &pm);
  for (size_t k = 0; k < p.length;) {
    uint8_t token = p.positions[k].token;
    size_t end = k + 1;
    while (end < p.length && p.positions[end].token == token) ++end;
    auto at = [&](size_t j) { return j < text.size() ? text[j] : ' '; };
    if (IsPartToken(token)) {
      int value = 0, digits = 0;
      for (size_t j = k; j < end; ++j) {
        char c = at(j);
        if (IsDigit(c)) {
          value = value * 10 + (c - '0');
          ++digits;
        } else if (digits > 0 || (c != ' ' && c != p.positions[j].display)) {
          return false;
        }
      }
      if (digits == 0) return false;
      StorePart(token, value, static_cast<int>(end - k), parts);
    } else if (token == kTokMonthName) {
      size_t i = k;
      while (i < end && IsBlank(at(i))) ++i;
      size_t j = i;
      parts->month = MatchMonth(text.substr(0, end < text.size() ? end : text.size()), &j);
      if (parts->month == 0) return false;
      for (size_t r = j; r < end; ++r) {
        if (!IsBlank(at(r)) && at(r) != p.positions[r].display) return false;
      }
    } else if (token == kTokAmPm) {
      uint8_t c = Up(static_cast<uint8_t>(at(k)));
      if (c == am && am != 0) {
        parts->amPm = 'A';
      } else if (c == pm && pm != 0) {
        parts->amPm = 'P';
      } else if (c != ' ') {
        return false;
      }
      end = k + 2 <= p.length ? k + 2 : p.length;  // the second letter is not read
    } else {
      for (size_t j = k; j < end; ++j) {
        char c = at(j);
        if (IsDigit(c) || (IsLetter(c) && c != p.positions[j].display)) return false;
      }
    }
    k = end;
  }
  return true;
}

// Reads the parts in template order from typed text: separators and blanks
// between parts are passed over, each part takes up to its digits.
bool ReadTyped(const Picture& p, std::string_view text, Parts* parts) {
  uint8_t am, pm;
  AmPmLetters(p, &am, &pm);
  size_t i = 0;
  auto skipSeparators = [&] {
    while (i < text.size() && !IsDigit(text[i]) && !IsLetter(text[i])) ++i;
  };
  for (size_t k = 0; k < p.length;) {
    uint8_t token = p.positions[k].token;
    size_t end = k + 1;
    while (end < p.length && p.positions[end].token == token) ++end;
    if (IsPartToken(token)) {
      skipSeparators();
      if (i >= text.size()) {
        // Minutes and seconds may be left out.
        if (token == kTokMinute || token == kTokSecond) break;
        return false;
      }
      size_t maxDigits = end - k;
      bool adjacentPart = end < p.length && IsPartToken(p.positions[end].token);
      if (token == kTokYear && !adjacentPart) maxDigits = 4;
      int value = 0;
      size_t digits = 0;
      while (i < text.size() && IsDigit(text[i]) && digits < maxDigits) {
        value = value * 10 + (text[i++] - '0');
        ++digits;
      }
      if (digits == 0) return false;
      StorePart(token, value, static_cast<int>(digits), parts);
    } else if (token == kTokMonthName) {
      skipSeparators();
      parts->month = MatchMonth(text, &i);
      if (parts->month == 0) return false;
    } else if (token == kTokAmPm) {
      while (i < text.size() && IsBlank(text[i])) ++i;
      if (i < text.size() && IsLetter(text[i])) {
        uint8_t c = Up(static_cast<uint8_t>(text[i]));
        if (c == am && am != 0) {
          parts->amPm = 'A';
        } else if (c == pm && pm != 0) {
          parts->amPm = 'P';
        } else {
          return false;
        }
        ++i;
        if (i < text.size() && IsLetter(text[i])) ++i;  // the "M"
      }
      end = k + 2 <= p.length ? k + 2 : p.length;
    }
    k = end;
  }
  // Only blanks and punctuation may follow.
  for (; i < text.size(); ++i) {
    if (IsDigit(text[i]) || IsLetter(text[i])) return false;
  }
  return true;
}

bool DateFromRead(const Picture& p, const Parts& parts, int32_t* serial) {
  int32_t year = parts.year;
  if (year < 0 || parts.month < 0) return false;
  if (parts.yearDigits <= 2) year = ExpandTwoDigitYear(year, p.centuryWindow);
  int day = parts.day < 0 ? 1 : parts.day;
  *serial = MakeDate(year, parts.month, day);
  return *serial > 0;
}

bool TimeFromRead(const Parts& parts, int32_t* serial) {
  int hours = parts.hours;
  if (hours < 0) return false;
  if (parts.amPm != 0) {
    if (hours > 12) return false;
    if (parts.amPm == 'P' && hours >= 1 && hours <= 11) hours += 12;
    if (parts.amPm == 'A' && hours == 12) hours = 0;
  }
  int minutes = parts.minutes < 0 ? 0 : parts.minutes;
  int seconds = parts.seconds < 0 ? 0 : parts.seconds;
  *serial = TimeFromParts(hours, minutes, seconds, 0);
  return *serial >= 0;
}

bool DeformatDateTime(const Picture& p, std::string_view text, Value* out) {
  if (IsAllBlank(text)) {
    *out = Value::Long(0);
    return true;
  }
  const bool date = p.kind == PictureKind::kDate;
  int32_t serial = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    Parts parts;
    bool read = attempt == 0 ? ReadAligned(p, text, &parts) : ReadTyped(p, text, &parts);
    if (read && (date ? DateFromRead(p, parts, &serial) : TimeFromRead(parts, &serial))) {
      *out = Value::Long(serial);
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------- pattern and key-in

bool FitsKeyPosition(uint8_t token, char c) {
  switch (token) {
    case kTokDigit:
    case kTokBlankDigit: return IsDigit(c) || c == ' ';
    default: return true;
  }
}

// Walks the template; a literal is consumed only when typed.  Pattern: the
// digits make a number.  Key-in: the text with the literals in place.
bool DeformatMasked(const Picture& p, std::string_view text, Value* out) {
  const bool keyIn = p.kind == PictureKind::kKeyIn;
  Builder b;
  size_t i = 0;
  for (size_t k = 0; k < p.length; ++k) {
    const PicturePosition& q = p.positions[k];
    char c = i < text.size() ? text[i] : ' ';
    if (q.token == kTokLiteral) {
      if (i < text.size() && c == q.display) ++i;
      if (keyIn) b.Put(q.display);
      continue;
    }
    if (!FitsKeyPosition(q.token, c)) return false;
    if (i < text.size()) ++i;
    if (keyIn) {
      b.Put(c);
    } else if (IsDigit(c)) {
      b.Put(c);
    }
  }
  if (i < text.size() && !IsAllBlank(text.substr(i))) return false;
  if (keyIn) {
    *out = Value::String(b.View());
    return true;
  }
  if (b.n == 0) b.Put('0');
  return StoreDecimal(b.View(), out);
}

// ---------------------------------------------------------------- string

void DeformatString(const Picture& p, std::string_view text, Value* out) {
  Builder b;
  bool point = false, exponent = false;
  for (char c : text) {
    if (b.n >= p.length) break;
    bool afterE = b.n > 0 && (b.text[b.n - 1] == 'e' || b.text[b.n - 1] == 'E');
    if (IsDigit(c)) {
      b.Put(c);
    } else if (c == '.' && !point && !exponent) {
      point = true;
      b.Put(c);
    } else if ((c == 'e' || c == 'E') && !exponent) {
      exponent = true;
      b.Put(c);
    } else if (c == '-' && (b.n == 0 || afterE)) {
      b.Put(c);
    } else if (c == '+' && afterE) {
      b.Put(c);
    }
  }
  *out = Value::String(b.View());
}

}  // namespace

bool Deformat(const Picture& picture, std::string_view text, Value* out) {
  if (!picture.valid()) {
    *out = Value{};
    return true;
  }
  switch (picture.kind) {
    case PictureKind::kNumeric:
    case PictureKind::kScientific: return DeformatNumber(picture, text, out);
    case PictureKind::kDate:
    case PictureKind::kTime: return DeformatDateTime(picture, text, out);
    case PictureKind::kPattern:
    case PictureKind::kKeyIn: return DeformatMasked(picture, text, out);
    case PictureKind::kString: DeformatString(picture, text, out); return true;
  }
  return false;
}

bool EntryValue(const Picture& picture, std::string_view text, Value* out) {
  if (picture.valid() && picture.kind == PictureKind::kString) {
    *out = Value::String(text.substr(0, text.size() < picture.length ? text.size() : picture.length));
    return true;
  }
  return Deformat(picture, text, out);
}

}  // namespace pr::values
