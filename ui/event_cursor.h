// SETCURSOR: the mouse cursor named by a cursor code.
//
// A code is a short text.  The bytes 0xFF 0x01 followed by a 16-bit
// little-endian number W select the standard system cursor W - 1 (FF 01 03 7F
// is the wait cursor, 32514), except that W = 0x7F81 selects 32646, 0x7F82
// 32512 and 0x7F88 32517; 0xFF 0x02 followed by W selects the runtime
// module's own cursor resource W - 1; any other text names a cursor file, or
// a cursor resource of the current resource module.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pr::ui {

struct CursorCode {
  enum Kind { kStandard, kRuntimeResource, kNamed, kInvalid } kind = kInvalid;
  uint32_t number = 0;  // kStandard, kRuntimeResource
  std::string name;     // kNamed
};

// What a code selects (kInvalid for an empty code or a 0xFF form too short
// to hold its number).
CursorCode ParseCursorCode(std::string_view code);

// SETCURSOR(code): loads the cursor and makes it the mouse cursor until the
// next SETCURSOR; false (cursor unchanged) when it cannot be loaded.
bool SetCursorCode(std::string_view code);
// SETCURSOR without a code: destroys the cursor SETCURSOR loaded (standard
// cursors are shared and kept) and restores the default arrow.
void RestoreCursor();

}  // namespace pr::ui
