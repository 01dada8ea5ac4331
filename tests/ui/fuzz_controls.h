// Fuzz entry points for the list format string and the popup menu text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pr::ui::fuzz {

// Parse the bytes as a format / a menu text and check the results' bounds.
// Both return 0; a fault is a crash or a sanitizer report.
int ListFormat(const uint8_t* data, size_t size);
int PopupText(const uint8_t* data, size_t size);

}  // namespace pr::ui::fuzz
