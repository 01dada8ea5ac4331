#include "tools/rc/cp1250.h"

#include "platform/kernel.h"

namespace pr::rc {

std::optional<std::string> Utf8ToCp1250(std::string_view utf8) {
  // The platform's converter puts '?' for what it cannot represent; a text
  // that does not come back the same is refused.
  std::string ansi(Utf8ToAnsi(utf8.data(), utf8.size(), nullptr, 0), '\0');
  Utf8ToAnsi(utf8.data(), utf8.size(), ansi.data(), ansi.size() + 1);
  std::string back(AnsiToUtf8(ansi.data(), ansi.size(), nullptr, 0), '\0');
  AnsiToUtf8(ansi.data(), ansi.size(), back.data(), back.size() + 1);
  if (back != utf8) return std::nullopt;
  return ansi;
}

}  // namespace pr::rc
