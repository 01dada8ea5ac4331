#include "store/options_parse.h"

#include <array>
#include <cctype>

namespace pr::store {
namespace {

struct Known {
  std::string_view text;
  OptionName name;
};

// The matching order is part of the contract: FULLBUILD before FLAGS, PNMQ
// before PNM (a prefix match of "PNM" would otherwise swallow "PNMQ").
constexpr std::array<Known, 6> kKnown{{
    {"DecimalCheck", OptionName::kDecimalCheck},
    {"FULLBUILD", OptionName::kFullBuild},
    {"FLAGS", OptionName::kFlags},
    {"TCF", OptionName::kTcf},
    {"PNMQ", OptionName::kPnmq},
    {"PNM", OptionName::kPnm},
}};

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view SkipSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return text;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

ParsedOption ParseOption(std::string_view text) {
  ParsedOption result;
  text = SkipSpaces(text);
  if (!text.empty() && text.front() == '/') text = SkipSpaces(text.substr(1));
  for (const Known& known : kKnown) {
    if (!StartsWithNoCase(text, known.text)) continue;
    std::string_view rest = SkipSpaces(text.substr(known.text.size()));
    if (rest.empty()) {
      result.name = known.name;
      return result;
    }
    if (rest.front() != '=') continue;  // a longer word that merely begins with the name
    result.name = known.name;
    result.hasValue = true;
    result.value = std::string(SkipSpaces(rest.substr(1)));
    return result;
  }
  return result;
}

}  // namespace pr::store
