// Fuzz target: the environment-file reader and the locale it feeds.
#include <cstdlib>
#include <memory>
#include <string_view>

#include "fuzz_targets.h"
#include "values/env_file.h"
#include "values/locale.h"

namespace pr::values::fuzz {
namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

int FuzzEnvironment(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> copy(new char[size + 1]);
  for (size_t k = 0; k < size; ++k) copy[k] = static_cast<char>(data[k]);
  std::string_view text(copy.get(), size);
  for (const EnvironmentEntry& entry : ParseEnvironmentText(text)) {
    Check(!entry.key.empty() && entry.key.size() <= kEnvironmentKeyMax);
    Check(entry.value.size() <= kEnvironmentValueMax);
    for (const std::string& item : SplitItems(entry.value)) Check(item.size() <= entry.value.size());
    WholeText(entry.value);
  }
  ApplyEnvironmentText(text);
  const LocaleSettings& l = Locale();
  bool seen[256] = {};
  for (int c = 0; c < 256; ++c) seen[l.collation[c]] = true;
  for (int c = 0; c < 256; ++c) Check(seen[c]);
  Check(l.digraphCount <= kMaxDigraphs);
  for (int m = 0; m < 12; ++m) Check(l.longMonth[m][kLongMonthMax] == '\0' && l.shortMonth[m][kShortMonthMax] == '\0');
  Check(l.am[kAmPmMax] == '\0' && l.pm[kAmPmMax] == '\0');
  return 0;
}

}  // namespace pr::values::fuzz

#ifdef PR_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return pr::values::fuzz::FuzzEnvironment(data, size);
}
#endif
