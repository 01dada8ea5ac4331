// The picture compiler: picture text -> kind, flags and a template of up to
// 255 (display character, token) positions.  Every read of the text is
// bounds-checked; every write to the template is bounded by kPictureMax.
#include <cstring>

#include "values/date_time.h"
#include "values/locale.h"
#include "values/picture.h"
#include "values/picture_internal.h"

namespace pr::values {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A cursor over the picture text.
struct Reader {
  std::string_view s;
  size_t i = 0;
  bool AtEnd() const { return i >= s.size(); }
  char Peek(size_t ahead = 0) const { return i + ahead < s.size() ? s[i + ahead] : '\0'; }
  // Reads an unsigned decimal number; false when no digit is there.  Long
  // runs of digits saturate above any limit a caller checks against.
  bool Number(int* value) {
    if (!IsDigit(Peek())) return false;
    int v = 0;
    while (IsDigit(Peek())) {
      if (v < 100000) v = v * 10 + (s[i] - '0');
      ++i;
    }
    *value = v;
    return true;
  }
};

// Appends positions; refuses (returns false) past kPictureMax.
struct Template {
  Picture* p;
  bool Add(char display, uint8_t token) {
    if (p->length >= kPictureMax) return false;
    p->positions[p->length++] = PicturePosition{display, token};
    return true;
  }
};

// ---------------------------------------------------------------- numeric

bool IsDecimalIndicator(char c) { return c == '.' || c == '`' || c == '_' || c == 'v' || c == 'V'; }

bool CompileNumeric(Reader r, Picture* p) {
  std::string_view leadCurrency, trailCurrency;
  auto readCurrency = [&r](std::string_view* out) {
    if (r.Peek() == '$') {
      *out = r.s.substr(r.i, 1);
      ++r.i;
      return true;
    }
    if (r.Peek() == '~') {
      size_t close = r.s.find('~', r.i + 1);
      if (close == std::string_view::npos) return false;
      *out = r.s.substr(r.i + 1, close - r.i - 1);
      r.i = close + 1;
      return true;
    }
    return true;
  };
  if (!readCurrency(&leadCurrency)) return false;
  char leadSign = 0;
  if (r.Peek() == '-' || r.Peek() == '(') leadSign = r.s[r.i++];
  char fill = 0;
  if (r.Peek() == '0' || r.Peek() == '*' || r.Peek() == '_') fill = r.s[r.i++];
  int width = 0;
  if (!r.Number(&width) || width < 1 || width > static_cast<int>(kPictureMax)) return false;

  char grouping = 0, indicator = 0;
  int places = 0;
  if (IsDecimalIndicator(r.Peek()) && (r.i + 1 == r.s.size() || IsDecimalIndicator(r.Peek(1)))) {
    grouping = r.s[r.i++];
  }
  if (IsDecimalIndicator(r.Peek())) {
    indicator = Lower(r.s[r.i++]);
    if (r.Number(&places) && places > 255) return false;
    if (places == 0) indicator = 0;
  }

  bool trailMinus = false, closeParen = false;
  for (int k = 0; k < 3 && !r.AtEnd(); ++k) {
    char c = r.Peek();
    if (c == '-' && leadSign == 0 && !trailMinus) {
      trailMinus = true;
      ++r.i;
    } else if (c == ')' && leadSign == '(' && !closeParen) {
      closeParen = true;
      ++r.i;
    } else if ((c == '$' || c == '~') && leadCurrency.empty() && trailCurrency.empty()) {
      if (!readCurrency(&trailCurrency) || trailCurrency.empty()) return false;
    } else {
      break;
    }
  }
  if (!r.AtEnd() || (leadSign == '(' && !closeParen)) return false;
  std::string_view currency = leadCurrency.empty() ? trailCurrency : leadCurrency;
  if (currency.size() >= sizeof p->currency) return false;

  int signs = (leadSign != 0 || trailMinus) ? 1 : 0;
  int required = signs + static_cast<int>(currency.size()) + (closeParen ? 1 : 0) + places + 1;
  if (required > width) return false;

  // Fill the template from both ends towards the integer digits.
  PicturePosition* pos = p->positions;
  int left = 0, right = width - 1;
  for (char c : leadCurrency) pos[left++] = {c, kTokCurrency};
  for (size_t k = trailCurrency.size(); k-- > 0;) pos[right--] = {trailCurrency[k], kTokCurrency};
  if (leadSign != 0) pos[left++] = {leadSign, kTokSign};
  if (trailMinus) pos[right--] = {'-', kTokSign};
  if (closeParen) pos[right--] = {')', kTokSign};
  for (int k = 0; k < places; ++k) pos[right--] = {'0', kTokDigit};
  bool implied = indicator == 'v';
  if (indicator != 0) {
    char display = indicator == '`' ? ',' : indicator == '_' ? ' ' : indicator == '.' ? '.' : ' ';
    pos[right--] = {display, implied ? kTokImpliedPoint : kTokDecimal};
  }
  PicturePosition digit = fill == '0'   ? PicturePosition{'0', kTokDigit}
                          : fill == '*' ? PicturePosition{'*', kTokDigit}
                                        : PicturePosition{' ', kTokBlankDigit};
  char groupDisplay = 0;
  if (grouping != 0) {
    groupDisplay = grouping == '`' ? ',' : grouping == '.' ? '.' : ' ';
  } else if (fill == 0 || fill == '*') {
    groupDisplay = indicator == '`' ? '.' : ',';
  }
  int placed = 0;
  if (right >= left) {
    // The units digit shows "0" for a zero value.  With an implied point the
    // picture shows blank there; a "0" or "*" fill is kept, since a blank in
    // the middle of a zero-filled field would read as a separator.
    pos[right--] = implied && fill != '0' && fill != '*' ? PicturePosition{' ', kTokBlankDigit}
                                                         : PicturePosition{'0', kTokDigit};
    placed = 1;
  }
  bool justGrouped = false;
  // With a "*" fill and no grouping character of its own, the places of the
  // grouping positions are "*"-filled digit positions: the field keeps its
  // full capacity and shows no separator.  An explicit grouping character
  // keeps its separator positions (token 1) whatever the fill.
  const PicturePosition group = grouping == 0 && fill == '*' ? digit : PicturePosition{groupDisplay, kTokGrouping};
  while (right >= left) {
    if (groupDisplay != 0 && placed % 3 == 0 && !justGrouped && right > left) {
      pos[right--] = group;
      justGrouped = true;
      continue;
    }
    pos[right--] = digit;
    ++placed;
    justGrouped = false;
  }

  p->kind = PictureKind::kNumeric;
  p->pictureClass = 3;
  p->length = static_cast<uint8_t>(width);
  p->places = static_cast<uint8_t>(places);
  p->fill = fill == '0' ? '0' : fill == '*' ? '*' : ' ';
  p->hasSign = signs != 0;
  p->leadingCount = static_cast<uint8_t>(leadCurrency.size() + (leadSign != 0 ? 1 : 0));
  p->shownLength = static_cast<uint8_t>(width - (implied ? 1 : 0));
  p->floating = digit.token == kTokBlankDigit;
  if (!currency.empty()) std::memcpy(p->currency, currency.data(), currency.size());
  p->currencyLength = static_cast<uint8_t>(currency.size());
  return true;
}

// ---------------------------------------------------------------- scientific

bool IsScientificMark(char c) { return c == '.' || c == '`' || c == '_'; }

bool CompileScientific(Reader r, Picture* p) {
  int width = 0;
  if (!r.Number(&width) || width < 7 || width > static_cast<int>(kPictureMax)) return false;
  char separator = 0;
  if (IsScientificMark(r.Peek())) {
    // With two marks the first is a grouping character, which a mantissa of
    // one significant integer digit never shows.
    if (IsScientificMark(r.Peek(1))) ++r.i;
    separator = r.s[r.i++];
  }
  int places = 0;
  if (r.Number(&places) && places > 255) return false;
  if (!r.AtEnd()) return false;
  int fraction = places > 0 ? places + 1 : 0;
  int integerDigits = width - 1 - fraction - 5;
  if (integerDigits < 1) return false;

  Template t{p};
  t.Add('-', kTokSign);
  for (int k = 0; k < integerDigits - 1; ++k) t.Add(' ', kTokBlankDigit);
  t.Add('0', kTokDigit);
  if (places > 0) {
    t.Add(separator == '`' ? ',' : separator == '_' ? ' ' : '.', kTokDecimal);
    for (int k = 0; k < places; ++k) t.Add('0', kTokDigit);
  }
  t.Add('E', kTokLiteral);
  t.Add('+', kTokExponentSign);
  for (int k = 0; k < 3; ++k) t.Add('0', kTokDigit);
  p->kind = PictureKind::kScientific;
  p->pictureClass = 2;
  p->places = static_cast<uint8_t>(places);
  p->hasSign = true;
  p->shownLength = p->length;
  return true;
}

// ---------------------------------------------------------------- dates and times

// Shapes of date pictures 1 to 16.  M/m month, D/d day (capital: a leading
// zero shows blank), y year, N month-name letter, "/", " " and "," separator
// positions, "_" a literal blank.
constexpr const char* kDateShapes[17] = {
    nullptr,      "Mm/dd/yy", "Mm/dd/yyyy", "NNN_Dd,yyyy", "NNNNNNNNN_Dd,_yyyy", "Dd/mm/yy",
    "Dd/mm/yyyy", "Dd NNN yy", "Dd NNN yyyy", "yy/mm/dd",  "yyyy/mm/dd",          "yymmdd",
    "yyyymmdd",   "mm/yy",    "mm/yyyy",    "yy/mm",       "yyyy/mm",
};

// Shapes of time pictures 1 to 6.  H/h hour, m minute, s second, ":" a
// separator, X the AM/PM position and M the position of its second letter.
constexpr const char* kTimeShapes[7] = {
    nullptr, "Hh:mm", "Hhmm", "Hh:mmXM", "Hh:mm:ss", "Hhmmss", "Hh:mm:ssXM",
};

void AddDateShape(Template& t, const char* shape) {
  for (const char* c = shape; *c; ++c) {
    switch (*c) {
      case 'M': t.Add(' ', kTokMonth); break;
      case 'm': t.Add('0', kTokMonth); break;
      case 'D': t.Add(' ', kTokDay); break;
      case 'd': t.Add('0', kTokDay); break;
      case 'y': t.Add('0', kTokYear); break;
      case 'N': t.Add(' ', kTokMonthName); break;
      case '_': t.Add(' ', kTokLiteral); break;
      default: t.Add(*c, kTokSeparator); break;
    }
  }
}

void AddTimeShape(Template& t, const char* shape) {
  for (const char* c = shape; *c; ++c) {
    switch (*c) {
      case 'H': t.Add(' ', kTokHour); break;
      case 'h': t.Add('0', kTokHour); break;
      case 'm': t.Add('0', kTokMinute); break;
      case 's': t.Add('0', kTokSecond); break;
      case 'X': t.Add('A', kTokAmPm); break;
      case 'M': t.Add('M', kTokLiteral); break;
      case '_': t.Add(' ', kTokLiteral); break;
      default: t.Add(*c, kTokSeparator); break;
    }
  }
}

bool IsSeparatorMark(char c) { return c == '.' || c == '-' || c == '_' || c == '`'; }
char SeparatorDisplay(char c) { return c == '_' ? ' ' : c == '`' ? ',' : c; }
bool IsFillMark(char c) { return c == '0' || c == '_' || c == '*'; }
char FillDisplay(char c) { return c == '_' ? ' ' : c; }

// Replaces the display characters of the filled and separator positions.
void ApplyMarks(Picture* p, char fill, char separator, bool date) {
  for (size_t k = 0; k < p->length; ++k) {
    PicturePosition& pos = p->positions[k];
    bool part = date ? (pos.token >= kTokMonth && pos.token <= kTokMonthName)
                     : (pos.token >= kTokHour && pos.token <= kTokSecond);
    if (fill != 0 && part) pos.display = FillDisplay(fill);
    if (separator != 0 && pos.token == kTokSeparator) pos.display = SeparatorDisplay(separator);
  }
}

void CopyTemplate(const Picture& from, Picture* p) {
  p->length = from.length;
  std::memcpy(p->positions, from.positions, sizeof p->positions);
}

bool CompileDate(Reader r, Picture* p) {
  char fill = 0;
  if (IsFillMark(r.Peek())) fill = r.s[r.i++];
  int number = 0;
  if (!r.Number(&number) || number < 1 || number > 18) return false;
  int window = kDefaultCenturyWindow;
  char separator = 0;
  bool haveWindow = false;
  // The century window and the separator may come in either order.
  for (int k = 0; k < 2 && !r.AtEnd(); ++k) {
    char c = r.Peek();
    if ((c == '<' || c == '>') && !haveWindow) {
      ++r.i;
      int n = 0;
      if (r.Number(&n) && n > 99) return false;
      window = c == '<' ? (n == 0 ? 80 : n) : (n == 0 ? 19 : 99 - n);
      haveWindow = true;
    } else if (IsSeparatorMark(c) && separator == 0) {
      separator = r.s[r.i++];
    } else {
      break;
    }
  }
  if (!r.AtEnd()) return false;
  Template t{p};
  if (number <= 16) {
    AddDateShape(t, kDateShapes[number]);
  } else {
    const LocaleSettings& locale = Locale();
    CopyTemplate(number == 17 ? locale.shortDate : locale.longDate, p);
  }
  if (p->length == 0) return false;
  ApplyMarks(p, fill, separator, true);
  p->kind = PictureKind::kDate;
  p->pictureClass = 1;
  p->number = static_cast<uint8_t>(number);
  p->centuryWindow = static_cast<uint8_t>(window);
  p->fill = fill != 0 ? FillDisplay(fill) : ' ';
  p->shownLength = p->length;
  return true;
}

bool CompileTime(Reader r, Picture* p) {
  char fill = 0;
  if (IsFillMark(r.Peek())) fill = r.s[r.i++];
  int number = 0;
  if (!r.Number(&number) || number < 1 || number > 8) return false;
  char separator = 0;
  if (IsSeparatorMark(r.Peek())) separator = r.s[r.i++];
  if (!r.AtEnd()) return false;
  Template t{p};
  if (number <= 6) {
    AddTimeShape(t, kTimeShapes[number]);
  } else {
    const LocaleSettings& locale = Locale();
    CopyTemplate(number == 7 ? locale.shortTime : locale.longTime, p);
  }
  if (p->length == 0) return false;
  ApplyMarks(p, fill, separator, false);
  p->kind = PictureKind::kTime;
  p->pictureClass = 1;
  p->number = static_cast<uint8_t>(number);
  p->fill = fill != 0 ? FillDisplay(fill) : ' ';
  p->shownLength = p->length;
  return true;
}

// ---------------------------------------------------------------- pattern, key-in, string

// The text between "@p" and the closing "p" (or "@k" ... "k").
bool EnclosedPattern(const Reader& r, char letter, std::string_view* body) {
  if (r.s.size() < r.i + 3) return false;  // two characters and the closing letter
  if (Lower(r.s.back()) != letter) return false;
  *body = r.s.substr(r.i, r.s.size() - r.i - 1);
  return body->size() >= 2 && body->size() <= kPictureMax;
}

bool CompilePattern(Reader r, Picture* p) {
  std::string_view body;
  if (!EnclosedPattern(r, 'p', &body)) return false;
  Template t{p};
  for (char c : body) {
    if (c == '#') {
      t.Add('0', kTokDigit);
    } else if (c == '<') {
      t.Add(' ', kTokBlankDigit);
    } else {
      t.Add(c, kTokLiteral);
    }
  }
  p->kind = PictureKind::kPattern;
  p->pictureClass = 3;
  p->shownLength = p->length;
  return true;
}

bool CompileKeyIn(Reader r, Picture* p) {
  std::string_view body;
  if (!EnclosedPattern(r, 'k', &body)) return false;
  Template t{p};
  for (size_t k = 0; k < body.size(); ++k) {
    char c = body[k];
    switch (c) {
      case '#': t.Add('0', kTokDigit); break;
      case '<': t.Add(' ', kTokBlankDigit); break;
      case '@': t.Add(' ', kTokKeyAt); break;
      case '^': t.Add(' ', kTokKeyCaret); break;
      case '_': t.Add(' ', kTokKeyUnderline); break;
      case '?': t.Add(' ', kTokKeyQuery); break;
      case '|': t.Add(' ', kTokKeyBar); break;
      case '\\':
        if (k + 1 < body.size()) ++k;
        t.Add(body[k], kTokLiteral);
        break;
      default: t.Add(c, kTokLiteral); break;
    }
  }
  p->kind = PictureKind::kKeyIn;
  p->pictureClass = 0;
  p->shownLength = p->length;
  return true;
}

void MakeString(int width, Picture* p) {
  p->kind = PictureKind::kString;
  p->pictureClass = 0;
  p->length = static_cast<uint8_t>(width);
  p->shownLength = p->length;
  for (int k = 0; k < width; ++k) p->positions[k] = {' ', kTokLiteral};
}

bool CompileString(Reader r, Picture* p) {
  int width = 0;
  if (!r.Number(&width) || width < 1 || width > static_cast<int>(kPictureMax) || !r.AtEnd()) return false;
  MakeString(width, p);
  return true;
}

}  // namespace

void CompilePicture(std::string_view text, Picture* out) {
  *out = Picture{};
  if (text.empty()) {
    MakeString(static_cast<int>(kPictureMax), out);
    return;
  }
  Picture p;
  p.sourceLength = static_cast<uint16_t>(text.size() < kPictureSourceMax ? text.size() : kPictureSourceMax);
  std::memcpy(p.source, text.data(), p.sourceLength);
  if (text.size() >= 3 && (text.back() == 'b' || text.back() == 'B')) {
    p.blankWhenZero = true;
    text.remove_suffix(1);
  }
  if (text.size() < 2 || text[0] != '@') return;
  Reader r{text, 2};
  bool ok = false;
  switch (Lower(text[1])) {
    case 'n': ok = CompileNumeric(r, &p); break;
    case 'e': ok = CompileScientific(r, &p); break;
    case 'd': ok = CompileDate(r, &p); break;
    case 't': ok = CompileTime(r, &p); break;
    case 'p': ok = CompilePattern(r, &p); break;
    case 's': ok = CompileString(r, &p); break;
    case 'k': ok = CompileKeyIn(r, &p); break;
    default: break;
  }
  if (ok && p.length > 0) *out = p;
}

Picture CompilePicture(std::string_view text) {
  Picture p;
  CompilePicture(text, &p);
  return p;
}

// ---------------------------------------------------------------- system pictures

namespace {

// Length of the run of `letter` starting at format[i].
size_t RunLength(const char* format, size_t i, char letter) {
  size_t n = 0;
  while (format[i + n] == letter) ++n;
  return n;
}

// True when `format` holds a run of exactly `n` letters `letter`.
bool HasRunOf(const char* format, char letter, size_t n) {
  for (size_t i = 0; format[i] != '\0';) {
    size_t run = RunLength(format, i, letter);
    if (run == n) return true;
    i += run > 0 ? run : 1;
  }
  return false;
}

void FinishSystem(Picture* out, PictureKind kind, int number) {
  out->kind = kind;
  out->pictureClass = 1;
  out->number = static_cast<uint8_t>(number);
  out->centuryWindow = kind == PictureKind::kDate ? kDefaultCenturyWindow : 0;
  out->shownLength = out->length;
}

}  // namespace

void BuildShortDatePicture(const LocaleSettings& settings, Picture* out) {
  *out = Picture{};
  const char* format = settings.shortDateFormat;
  char first = Lower(format[0]);
  // The separator is the character after the month letters.
  char separator = '/';
  if (const char* month = std::strchr(format, 'M')) {
    size_t run = RunLength(month, 0, 'M');
    char after = month[run];
    if (after != '\0' && after != '\'' && !((after | 0x20) >= 'a' && (after | 0x20) <= 'z')) separator = after;
  }
  bool dayZero = std::strstr(format, "dd") != nullptr;
  bool monthZero = std::strstr(format, "MM") != nullptr;
  bool fourDigitYear = std::strstr(format, "yyyy") != nullptr;
  Template t{out};
  auto day = [&] {
    t.Add(dayZero ? '0' : ' ', kTokDay);
    t.Add('0', kTokDay);
  };
  auto month = [&] {
    t.Add(monthZero ? '0' : ' ', kTokMonth);
    t.Add('0', kTokMonth);
  };
  auto year = [&] {
    for (int k = 0; k < (fourDigitYear ? 4 : 2); ++k) t.Add('0', kTokYear);
  };
  auto sep = [&] { t.Add(separator, kTokSeparator); };
  if (first == 'd') {
    day(), sep(), month(), sep(), year();
  } else if (first == 'y') {
    year(), sep(), month(), sep(), day();
  } else {
    month(), sep(), day(), sep(), year();
  }
  FinishSystem(out, PictureKind::kDate, 17);
}

// The long date picture (18).  The first letter of sLongDate chooses the
// order; the month is always shown by its long name in nine positions, the
// day with a leading zero when the format has "dd" (a run of exactly two:
// "ddd" and "dddd" are weekdays, which the picture does not show), the year
// in four digits unless the format's year run is shorter.  Quoted literals of
// the format are not shown; the parts are parted by blank separator
// positions, and a month-first format gets the shape of @d4.
void BuildLongDatePicture(const LocaleSettings& settings, Picture* out) {
  *out = Picture{};
  const char* format = settings.longDateFormat;
  char first = format[0];
  if (first != 'y' && first != 'd' && first != 'M') first = 'd';
  bool dayZero = HasRunOf(format, 'd', 2);
  bool twoDigitYear = (HasRunOf(format, 'y', 2) || HasRunOf(format, 'y', 1)) && !std::strstr(format, "yyy");
  const char* shape = nullptr;
  if (first == 'M') {
    shape = twoDigitYear ? "NNNNNNNNN_Dd,_yy" : "NNNNNNNNN_Dd,_yyyy";
  } else if (first == 'y') {
    shape = twoDigitYear ? "yy NNNNNNNNN Dd" : "yyyy NNNNNNNNN Dd";
  } else {
    shape = twoDigitYear ? "Dd NNNNNNNNN yy" : "Dd NNNNNNNNN yyyy";
  }
  Template t{out};
  AddDateShape(t, shape);
  if (dayZero) {
    for (size_t k = 0; k < out->length; ++k) {
      if (out->positions[k].token == kTokDay) out->positions[k].display = '0';
    }
  }
  FinishSystem(out, PictureKind::kDate, 18);
}

void BuildTimePicture(const LocaleSettings& settings, bool withSeconds, Picture* out) {
  *out = Picture{};
  Template t{out};
  char separator = settings.timeSeparator != '\0' ? settings.timeSeparator : ':';
  t.Add(settings.hourLeadingZero ? '0' : ' ', kTokHour);
  t.Add('0', kTokHour);
  t.Add(separator, kTokSeparator);
  t.Add('0', kTokMinute);
  t.Add('0', kTokMinute);
  if (withSeconds) {
    t.Add(separator, kTokSeparator);
    t.Add('0', kTokSecond);
    t.Add('0', kTokSecond);
  }
  if (settings.twelveHourClock) {
    t.Add(' ', kTokLiteral);
    t.Add('A', kTokAmPm);
    t.Add('M', kTokLiteral);
  }
  FinishSystem(out, PictureKind::kTime, withSeconds ? 8 : 7);
}

}  // namespace pr::values
