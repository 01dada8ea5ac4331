// Formatting values through compiled pictures, and reading text back.
//
// The hot path is FormatInto with a picture compiled once: it writes into the
// caller's buffer and allocates nothing.  The std::string helpers are for
// callers that do not care.
//
// Formatting rules in short (see values/picture.h for the grammar):
// - Numbers round half up to the picture's places (reals are first taken to
//   15 significant digits, so the real 1.005 shows as 1.01 in @n6.2); a value
//   with more integer digits than the picture has digit positions shows "#"
//   in every position.  With blank-fill digits the leading currency and sign
//   float to the first digit shown.  A negative value in a numeric picture
//   without a sign position shows "-" in the first free digit position left
//   of its digits (in the leftmost digit position with a "0" or "*" fill), or
//   "#"s when no such position is free; a pattern picture shows the digits of
//   the magnitude.
// - Scientific pictures show one significant integer digit, right-aligned in
//   the integer positions with a floating "-", then the separator, the places
//   and "E", the exponent sign and three exponent digits.  Zero shows as 0
//   with exponent +000.
// - Dates and times: an invalid serial (or 0, which is no date or time) shows
//   blanks.  Time serial 1 is midnight; the time from parts 0:00:00.00 is 0,
//   so it shows blank.
// - A trailing "B" shows a zero value (after rounding) as blanks.
//
// Reading back (Deformat) accepts what formatting shows and what a user
// types into an entry:
// - Numeric, scientific: blanks, grouping characters and the currency text
//   are passed over; the picture's decimal separator places the point (with an
//   implied point, "v", the last `places` digits are the decimals when no
//   point is typed); "-" or "(" before the first digit, or a trailing "-" or
//   ")", makes the value negative.  Any other character refuses the text.  An
//   all-blank text is 0.
// - Date and time: the parts are read in the order of the template, each as up
//   to its number of digits (a year up to four digits when a separator or the
//   end follows it); separators and blanks between them are passed over; the
//   month name is matched by its first three letters against the short month
//   names (case ignored).  A year of one or two digits goes through the
//   picture's century window.  Out-of-range parts (month 13, 31 April, hour
//   24) refuse the text; 12-hour pictures read the AM/PM letter (PM adds 12
//   to hours 1 to 11, AM makes 12 into 0).  An all-blank text is 0.
// - Pattern and key-in: literals are matched when typed and passed over when
//   not; digit positions take digits (a blank counts as a leading zero).  A
//   pattern gives the number of its digits; a key-in picture the text with
//   its literals in place.
// - String pictures give the number text found in the text (digits, the first
//   ".", the first "e", a leading "-" or one after "e", a "+" after "e"), cut
//   to the picture's length: the runtime's DEFORMAT.  An entry that edits a
//   string through a string picture wants the text itself: EntryValue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "values/picture.h"
#include "values/value.h"

namespace pr::values {

// Fills dest[0, destLength) with blanks, then writes the formatted value
// from dest[0].  Returns the number of characters of the formatted field
// (the picture's shown length, cut to destLength).  An invalid picture writes
// only the blanks and returns 0.  Never allocates.
size_t FormatInto(const Picture& picture, const Value& value, char* dest, size_t destLength);

// The formatted field as a string of the picture's shown length.
std::string Format(const Picture& picture, const Value& value);
// Compiles `pictureText` and formats (convenient, not for hot paths).
std::string FormatWith(std::string_view pictureText, const Value& value);

// Direct helpers for the common cases.
size_t FormatNumber(const Picture& picture, int64_t number, char* dest, size_t destLength);
size_t FormatReal(const Picture& picture, double number, char* dest, size_t destLength);
size_t FormatText(const Picture& picture, std::string_view text, char* dest, size_t destLength);
std::string FormatDate(int32_t serial, std::string_view pictureText = "@d2");
std::string FormatTime(int32_t serial, std::string_view pictureText = "@t4");

// Reads `text` back through the picture.  On success stores the value and
// returns true: a whole number (Long) for dates and times; an exact decimal
// text in canonical form ("-1234.5", "0") for numeric, scientific and pattern
// pictures; a String for string and key-in pictures.  On failure leaves *out unchanged and returns
// false.  Through an invalid picture the result is empty (Value{}), true.
// Never allocates; never reads outside `text`.
bool Deformat(const Picture& picture, std::string_view text, Value* out);

// What an entry control stores: for a string picture the text itself, cut to
// the picture's width (trailing blanks kept as typed); otherwise Deformat.
bool EntryValue(const Picture& picture, std::string_view text, Value* out);

}  // namespace pr::values
