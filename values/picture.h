// Compiled pictures: the fixed-size form of a picture text such as "@n-14",
// "@s20", "@d6-" or "@t3".  A picture is compiled once (CompilePicture) and
// then formats values into text and reads text back into values (see
// values/format.h).  Compiling allocates nothing and never reads past the
// text it is given; an invalid picture compiles to the empty picture (kind
// numeric, length 0), through which formatting writes only blanks.
//
// Grammar (letters in either case; a trailing "B" sets blank-when-zero when
// at least two characters precede it):
//   @S width                               text, 1..255 positions
//   @N [$|~cur~] [-|(] [0|*|_] width [grouping] [.|`|_|v places] [-|)] [$|~cur~]
//   @E width [grouping] [separator places]  scientific, width 7..255
//   @D [0|_|*] number [<n|>n] [.|-|_|`]     date, number 1..18
//   @T [0|_|*] number [.|-|_|`]             time, number 1..8
//   @P pattern P                            "#" digit, "<" blank digit, others literal
//   @K pattern K                            key-in: # < @ ^ _ ? | and \x literal
// An empty text compiles to a string picture of 255 positions.
//
// Thread safety: a Picture is plain data; compiling @D17, @D18, @T7 and @T8
// reads the locale (loading it on first use).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pr::values {

enum class PictureKind : uint8_t {
  kNumeric = 0,
  kScientific = 1,
  kDate = 2,
  kTime = 3,
  kPattern = 4,
  kString = 5,
  kKeyIn = 6,
};

// Token codes of template positions.
enum PictureToken : uint8_t {
  kTokLiteral = 0,     // display character always shown
  kTokGrouping = 1,    // grouping separator of a numeric picture
  kTokDecimal = 2,     // decimal separator
  kTokDigit = 3,       // digit; a leading zero shows the display character
  kTokBlankDigit = 4,  // digit; a leading zero shows blank
  kTokSign = 5,        // "-", "(" or ")"
  kTokCurrency = 6,    // currency character
  kTokMonth = 7,
  kTokDay = 8,
  kTokYear = 9,
  kTokMonthName = 10,  // letter of a month name
  kTokHour = 11,
  kTokMinute = 12,
  kTokSecond = 13,
  kTokKeyAt = 14,        // "@"
  kTokKeyCaret = 15,     // "^"
  kTokKeyUnderline = 16, // "_"
  kTokKeyQuery = 17,     // "?"
  kTokSeparator = 19,    // date or time separator
  kTokAmPm = 20,         // first letter of AM/PM; the next position takes the second
  kTokExponentSign = 21,
  kTokImpliedPoint = 22, // numeric "v": not shown, placed when reading back
  kTokKeyBar = 23,       // "|"
};

inline constexpr size_t kPictureMax = 255;
inline constexpr size_t kPictureSourceMax = 270;

struct PicturePosition {
  char display;
  uint8_t token;
};

struct Picture {
  PictureKind kind = PictureKind::kNumeric;
  uint8_t pictureClass = 0;  // 0 string/key-in, 1 date/time, 2 scientific, 3 numeric/pattern
  bool blankWhenZero = false;
  uint8_t length = 0;        // template positions; 0 for an invalid picture
  uint8_t centuryWindow = 0; // date pictures: years from (now - window) to (now + 99 - window)
  uint8_t number = 0;        // the number after @D or @T
  PicturePosition positions[kPictureMax] = {};

  // Facts derived while compiling, so that formatting needs no second pass.
  uint8_t places = 0;           // decimal places (numeric, scientific)
  char fill = 0;                // fill: ' ', '0', '*' (0 in an invalid picture)
  bool floating = false;        // leading sign and currency float to the first digit
  bool hasSign = false;         // a token-5 position exists
  uint8_t leadingCount = 0;     // leading currency and sign positions (numeric)
  uint8_t shownLength = 0;      // characters formatting writes (length less implied points)
  char currency[16] = {};       // the currency text, for reading back
  uint8_t currencyLength = 0;

  uint16_t sourceLength = 0;
  char source[kPictureSourceMax] = {};  // the text compiled from (cut)

  bool valid() const { return length != 0; }
  std::string_view Source() const { return {source, sourceLength}; }
};

// Compiles a picture text.  Never fails: an invalid text gives Picture{}.
Picture CompilePicture(std::string_view text);
// The same into a caller's object (no 1 KiB return copy).
void CompilePicture(std::string_view text, Picture* out);

}  // namespace pr::values
