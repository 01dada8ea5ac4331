// The environment file: the text format of the locale settings beside the
// host executable (see values/locale.h for what the keys do).
//
//   - Entries are lines KEY=VALUE.  Carriage return and line feed end a line;
//     Ctrl-Z (26) ends the file.
//   - The key runs up to "=", blanks ignored, at most 30 characters (the rest
//     is dropped); a control character before "=" abandons the line, and so
//     does a line without "=".
//   - The value runs to the end of the line, at most 1024 characters.  "<"
//     followed by decimal digits stands for the character of that code (1 to
//     255; the character after the digits, normally ">", is dropped); "<<"
//     stands for "<"; any other "<" stays as written.  Trailing blanks and
//     tabs are removed.
//
// Parsing never fails: garbage gives fewer entries.  These functions keep no
// state and may be called from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pr::values {

inline constexpr size_t kEnvironmentKeyMax = 30;
inline constexpr size_t kEnvironmentValueMax = 1024;

struct EnvironmentEntry {
  std::string key;    // as written (blanks removed), not case-folded
  std::string value;  // escapes decoded; blanks written after "=" and trailing blanks removed
};

std::vector<EnvironmentEntry> ParseEnvironmentText(std::string_view text);

// The items of a value.  A value that starts with a double quote is a list of
// items separated by blanks or commas; otherwise items are separated by
// commas only, and blanks around them are dropped.  Either way an item that
// starts with a double quote runs to the closing one, keeping blanks and
// commas, with two double quotes standing for one; an unterminated quote
// runs to the end of the value.
std::vector<std::string> SplitItems(std::string_view value);

// The value as one text (VELMSG, VELCOLSEQ): commas belong to the text; a
// value that starts with a double quote gives its quoted items joined.
std::string WholeText(std::string_view value);

}  // namespace pr::values
