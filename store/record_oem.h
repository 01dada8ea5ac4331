// Conversion of a record image's text fields between the ANSI character set
// of the program and the OEM character set a table may keep in its file.
//
// Only fields that overlay nothing take part: a STRING over its whole size, a
// CSTRING up to its first zero byte, a PSTRING over the length its first byte
// gives (the length byte itself is not text).  Bytes after a CSTRING's
// terminator or a PSTRING's length are left exactly as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pr::store {

struct TextField {
  uint32_t offset = 0;
  uint32_t size = 0;
  uint8_t type = 0;  // STRING, CSTRING or PSTRING
};

// The text fields of a record, prepared once per open table.
using TextFields = std::vector<TextField>;

// Converts the text fields of `image` in place.  REQUIRES: every field lies
// inside the image.
void RecordToOem(const TextFields& fields, uint8_t* image);
void RecordFromOem(const TextFields& fields, uint8_t* image);

// Converts `n` bytes of memo content in place.
void TextToOem(uint8_t* text, size_t n);
void TextFromOem(uint8_t* text, size_t n);

}  // namespace pr::store
