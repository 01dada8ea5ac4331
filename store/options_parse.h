// Recognising a driver option in a driver string or a SEND text.
//
// An option is its name, compared without regard to case over the name's
// length, optionally followed by spaces, "=" and a value (spaces on both sides
// of "=" are skipped; the value is taken as it stands after them).  Without
// "=" the option is only queried.  Names are tried in a fixed order of first
// letters: D, F (FULLBUILD before FLAGS), T, P (PNMQ before PNM); a text that
// matches none is no option at all ("Recover=10" changes nothing).
#pragma once

#include <string>
#include <string_view>

namespace pr::store {

enum class OptionName { kNone, kDecimalCheck, kFullBuild, kFlags, kTcf, kPnmq, kPnm };

struct ParsedOption {
  OptionName name = OptionName::kNone;
  bool hasValue = false;
  std::string value;
};

// Pure: no state is read or changed.
ParsedOption ParseOption(std::string_view text);

// Case-insensitive equality of two ASCII texts.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace pr::store
