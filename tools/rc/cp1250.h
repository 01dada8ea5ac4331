// UTF-8 to Windows-1250 for the texts of window declarations.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pr::rc {

// Converts UTF-8 text to Windows-1250.  Returns nothing when the text is not
// valid UTF-8 or holds a character that code page 1250 cannot represent; the
// compiler reports that as an error rather than storing a substitute.
std::optional<std::string> Utf8ToCp1250(std::string_view utf8);

}  // namespace pr::rc
