// Formatting through a compiled picture.  Each kind renders into a local
// field of kPictureMax characters indexed like the template; the field is then
// copied to the caller's buffer without the implied-point positions.
#include <cstring>

#include "values/date_time.h"
#include "values/decimal_digits.h"
#include "values/format.h"
#include "values/locale.h"

namespace pr::values {
namespace {

bool IsDigitToken(uint8_t token) { return token == kTokDigit || token == kTokBlankDigit; }

void Overflow(const Picture& p, char* field) { std::memset(field, '#', p.length); }

// ---------------------------------------------------------------- numeric and pattern

void RenderNumeric(const Picture& p, const Value& value, char* field) {
  const PicturePosition* pos = p.positions;
  const int length = p.length;
  int separator = -1;
  int integerPositions = 0;
  for (int k = 0; k < length; ++k) {
    if (pos[k].token == kTokDecimal || pos[k].token == kTokImpliedPoint) {
      separator = k;
      break;
    }
    if (IsDigitToken(pos[k].token)) ++integerPositions;
  }
  const bool pattern = p.kind == PictureKind::kPattern;
  DecimalDigits digits;
  char rounded[2 * kPictureMax + 2];
  int integerDigits = 0;
  const int places = pattern ? 0 : p.places;
  if (!DigitsOfValue(value, &digits) || !RoundDigits(digits, places, integerPositions, rounded, &integerDigits)) {
    // A pattern with no digit positions has nowhere to show "#": it is left
    // blank, but only when the value does not fit (zero shows its literals).
    if (pattern && integerPositions == 0) {
      std::memset(field, ' ', length);
    } else {
      Overflow(p, field);
    }
    return;
  }
  bool zero = true;
  for (int k = 0; k < integerDigits + places; ++k) zero = zero && rounded[k] == '0';
  if (zero && p.blankWhenZero) {
    std::memset(field, ' ', length);
    return;
  }
  const bool negative = digits.negative && !zero;

  // Literals, currency, signs and separators; the decimals left to right.
  int fraction = integerDigits;
  for (int k = 0; k < length; ++k) {
    const PicturePosition& q = pos[k];
    switch (q.token) {
      case kTokSign: field[k] = negative ? q.display : ' '; break;
      case kTokDigit:
      case kTokBlankDigit:
        if (separator >= 0 && k > separator) field[k] = fraction < integerDigits + places ? rounded[fraction++] : '0';
        break;
      default: field[k] = q.display; break;
    }
  }

  // The integer digits from the units position leftwards.
  // firstShown: the leftmost position holding a digit of the number (the
  // units "0" of a number below 1), or the separator when there is none.
  int remaining = integerDigits;
  int firstShown = separator >= 0 ? separator : length;
  int leftmostDigitPosition = -1;
  bool unitsDone = false;
  for (int k = (separator >= 0 ? separator : length) - 1; k >= 0; --k) {
    const PicturePosition& q = pos[k];
    if (IsDigitToken(q.token)) {
      leftmostDigitPosition = k;
      if (remaining > 0) {
        field[k] = rounded[--remaining];
        firstShown = k;
      } else {
        field[k] = q.token == kTokDigit ? q.display : ' ';
        if (!unitsDone && integerDigits == 0 && field[k] == '0') firstShown = k;
      }
      unitsDone = true;
    } else if (q.token == kTokGrouping) {
      field[k] = remaining > 0 ? q.display : (p.fill == '*' ? '*' : ' ');
    }
  }
  if (pattern) return;

  // Floating leading currency and sign, and the minus of a picture without
  // a sign position.
  const bool needMinus = negative && !p.hasSign;
  if (p.floating) {
    char text[sizeof p.currency + 2];
    int n = 0;
    for (int k = 0; k < p.leadingCount; ++k) {
      const PicturePosition& q = pos[k];
      if (q.token == kTokCurrency || (q.token == kTokSign && negative)) text[n++] = q.display;
      field[k] = ' ';
    }
    if (needMinus) text[n++] = '-';
    int start = firstShown - n;
    if (start < 0) {
      Overflow(p, field);
      return;
    }
    for (int k = start; k < firstShown; ++k) {
      if (field[k] != ' ') {
        Overflow(p, field);
        return;
      }
    }
    std::memcpy(field + start, text, n);
  } else if (needMinus) {
    // Fixed fill: the minus takes the leftmost digit position when the
    // number leaves it free.
    if (leftmostDigitPosition < 0 || leftmostDigitPosition >= firstShown) {
      Overflow(p, field);
      return;
    }
    field[leftmostDigitPosition] = '-';
  }
}

// ---------------------------------------------------------------- scientific

void RenderScientific(const Picture& p, const Value& value, char* field) {
  const int length = p.length;
  const int places = p.places;
  const int fractionPositions = places > 0 ? places + 1 : 0;
  const int units = length - 5 - fractionPositions - 1;  // the integer digit shown
  DecimalDigits digits;
  if (!DigitsOfValue(value, &digits)) {
    Overflow(p, field);
    return;
  }
  char mantissa[kPictureMax + 2];
  int exponent = 0;
  if (digits.IsZero()) {
    if (p.blankWhenZero) {
      std::memset(field, ' ', length);
      return;
    }
    std::memset(mantissa, '0', places + 1);
  } else {
    DecimalDigits normal = digits;
    exponent = digits.point - 1;
    normal.point = 1;
    int integerDigits = 0;
    RoundDigits(normal, places, 2, mantissa, &integerDigits);
    if (integerDigits == 2) {  // 9.99 rounded to 10.0
      ++exponent;
      mantissa[0] = '1';
      std::memset(mantissa + 1, '0', places);
    }
    if (exponent > 999 || exponent < -999) {
      Overflow(p, field);
      return;
    }
  }
  std::memset(field, ' ', length);
  field[units] = mantissa[0];
  if (digits.negative && !digits.IsZero()) field[units - 1] = '-';
  int k = units + 1;
  if (places > 0) {
    field[k++] = p.positions[units + 1].display;
    for (int d = 1; d <= places; ++d) field[k++] = mantissa[d];
  }
  field[k++] = 'E';
  field[k++] = exponent < 0 ? '-' : '+';
  int e = exponent < 0 ? -exponent : exponent;
  field[k++] = static_cast<char>('0' + e / 100);
  field[k++] = static_cast<char>('0' + e / 10 % 10);
  field[k++] = static_cast<char>('0' + e % 10);
}

// ---------------------------------------------------------------- dates and times

// Writes `number` right-aligned into the run [start, end); leading zeros,
// except in the last position, show the positions' display characters.
void PutPart(const Picture& p, char* field, int start, int end, int32_t number) {
  for (int k = end - 1; k >= start; --k) {
    field[k] = static_cast<char>('0' + number % 10);
    number /= 10;
  }
  for (int k = start; k < end - 1 && field[k] == '0'; ++k) field[k] = p.positions[k].display;
}

void PutName(char* field, int start, int end, const char* name, bool upper) {
  const LocaleSettings& locale = Locale();
  int k = start;
  for (const char* c = name; *c != '\0' && k < end; ++c, ++k) {
    uint8_t ch = static_cast<uint8_t>(*c);
    field[k] = static_cast<char>(upper ? locale.upper[ch] : ch);
  }
  // Positions after the name's end keep their blank: a fill belongs to digit
  // positions only.
  for (; k < end; ++k) field[k] = ' ';
}

void RenderDate(const Picture& p, const Value& value, char* field) {
  const int length = p.length;
  std::memset(field, ' ', length);
  int64_t serial = value.AsLong();
  DateParts parts;
  if (serial < kFirstDateSerial || serial > kLastDateSerial || DateToParts(static_cast<int32_t>(serial), &parts) != 0) {
    return;  // no date, or an invalid one: blanks
  }
  const LocaleSettings& locale = Locale();
  for (int k = 0; k < length;) {
    uint8_t token = p.positions[k].token;
    int end = k + 1;
    while (end < length && p.positions[end].token == token) ++end;
    switch (token) {
      case kTokMonth: PutPart(p, field, k, end, parts.month); break;
      case kTokDay: PutPart(p, field, k, end, parts.day); break;
      case kTokYear: PutPart(p, field, k, end, parts.year); break;
      case kTokMonthName:
        if (p.number == 4 || p.number == 18) {
          PutName(field, k, end, locale.longMonth[parts.month - 1], false);
        } else {
          PutName(field, k, end, locale.shortMonth[parts.month - 1], true);
        }
        break;
      default:
        for (int j = k; j < end; ++j) field[j] = p.positions[j].display;
        break;
    }
    k = end;
  }
}

void RenderTime(const Picture& p, const Value& value, char* field) {
  const int length = p.length;
  std::memset(field, ' ', length);
  int64_t serial = value.AsLong();
  TimeParts parts;
  if (serial < 1 || serial > kLastTimeSerial || TimeToParts(static_cast<int32_t>(serial), &parts) != 0) return;
  int amPm = -1;
  for (int k = 0; k < length; ++k) {
    if (p.positions[k].token == kTokAmPm) {
      amPm = k;
      break;
    }
  }
  int hours = parts.hours;
  bool pm = hours >= 12;
  if (amPm >= 0) {
    if (hours > 12) hours -= 12;
    if (hours == 0) hours = 12;
  }
  for (int k = 0; k < length;) {
    uint8_t token = p.positions[k].token;
    int end = k + 1;
    while (end < length && p.positions[end].token == token) ++end;
    switch (token) {
      case kTokHour: PutPart(p, field, k, end, hours); break;
      case kTokMinute: PutPart(p, field, k, end, parts.minutes); break;
      case kTokSecond: PutPart(p, field, k, end, parts.seconds); break;
      default:
        for (int j = k; j < end; ++j) field[j] = p.positions[j].display;
        break;
    }
    k = end;
  }
  if (amPm >= 0) {
    const char* text = pm ? "PM" : "AM";
    if (p.number == 7 || p.number == 8) {
      const LocaleSettings& locale = Locale();
      text = pm ? locale.pm : locale.am;
    }
    field[amPm] = text[0] != '\0' ? text[0] : ' ';
    if (amPm + 1 < length) field[amPm + 1] = text[0] != '\0' && text[1] != '\0' ? text[1] : ' ';
  }
}

// ---------------------------------------------------------------- text

void RenderText(const Picture& p, const Value& value, char* field) {
  std::memset(field, ' ', p.length);
  char number[48];
  std::string_view text;
  if (value.kind() == Value::Kind::kString || value.kind() == Value::Kind::kDecimal) {
    text = value.text();
  } else {
    text = std::string_view(number, NumberText(value, number, sizeof number));
  }
  size_t n = text.size() < p.length ? text.size() : p.length;
  std::memcpy(field, text.data(), n);
}

bool IsZeroValue(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kNone: return true;
    case Value::Kind::kLong: return value.AsLong() == 0;
    case Value::Kind::kReal: return value.AsReal() == 0;
    case Value::Kind::kDecimal: {
      DecimalDigits digits;
      return !ParseDecimal(value.text(), &digits) || digits.IsZero();
    }
    case Value::Kind::kString: return false;
  }
  return false;
}

}  // namespace

size_t FormatInto(const Picture& picture, const Value& value, char* dest, size_t destLength) {
  if (destLength > 0) std::memset(dest, ' ', destLength);
  if (!picture.valid()) return 0;
  char field[kPictureMax];
  switch (picture.kind) {
    case PictureKind::kNumeric:
    case PictureKind::kPattern: RenderNumeric(picture, value, field); break;
    case PictureKind::kScientific: RenderScientific(picture, value, field); break;
    case PictureKind::kDate:
    case PictureKind::kTime:
      if (picture.blankWhenZero && IsZeroValue(value)) {
        std::memset(field, ' ', picture.length);
      } else if (picture.kind == PictureKind::kDate) {
        RenderDate(picture, value, field);
      } else {
        RenderTime(picture, value, field);
      }
      break;
    case PictureKind::kString:
    case PictureKind::kKeyIn:
      if (picture.blankWhenZero && value.IsNumber() && IsZeroValue(value)) {
        std::memset(field, ' ', picture.length);
      } else {
        RenderText(picture, value, field);
      }
      break;
  }
  size_t written = 0;
  for (size_t k = 0; k < picture.length && written < destLength; ++k) {
    if (picture.positions[k].token == kTokImpliedPoint && picture.kind == PictureKind::kNumeric) continue;
    dest[written++] = field[k];
  }
  return written;
}

std::string Format(const Picture& picture, const Value& value) {
  char buffer[kPictureMax];
  size_t n = FormatInto(picture, value, buffer, sizeof buffer);
  return std::string(buffer, n);
}

std::string FormatWith(std::string_view pictureText, const Value& value) {
  Picture picture;
  CompilePicture(pictureText, &picture);
  return Format(picture, value);
}

size_t FormatNumber(const Picture& picture, int64_t number, char* dest, size_t destLength) {
  return FormatInto(picture, Value::Long(number), dest, destLength);
}

size_t FormatReal(const Picture& picture, double number, char* dest, size_t destLength) {
  return FormatInto(picture, Value::Real(number), dest, destLength);
}

size_t FormatText(const Picture& picture, std::string_view text, char* dest, size_t destLength) {
  return FormatInto(picture, Value::String(text), dest, destLength);
}

std::string FormatDate(int32_t serial, std::string_view pictureText) {
  return FormatWith(pictureText, Value::Long(serial));
}

std::string FormatTime(int32_t serial, std::string_view pictureText) {
  return FormatWith(pictureText, Value::Long(serial));
}

}  // namespace pr::values
