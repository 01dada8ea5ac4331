#include "store/record_oem.h"

#include <cstring>

#include "platform/kernel.h"
#include "store/definition_stream.h"

namespace pr::store {

namespace {

// The span of a field's text: [begin, begin + length).
void TextSpan(const TextField& f, const uint8_t* image, size_t* begin, size_t* length) {
  const uint8_t* p = image + f.offset;
  *begin = f.offset;
  *length = 0;
  if (f.size == 0) return;
  switch (f.type) {
    case kTypeCString: {
      const void* end = std::memchr(p, 0, f.size);
      *length = end ? size_t(static_cast<const uint8_t*>(end) - p) : f.size;
      break;
    }
    case kTypePString:
      *begin = f.offset + 1;
      *length = p[0] < f.size ? p[0] : f.size - 1;
      break;
    default:
      *length = f.size;
      break;
  }
}

template <typename Convert>
void ConvertFields(const TextFields& fields, uint8_t* image, Convert convert) {
  for (const TextField& f : fields) {
    size_t begin, length;
    TextSpan(f, image, &begin, &length);
    if (length > 0) convert(image + begin, length);
  }
}

}  // namespace

void TextToOem(uint8_t* text, size_t n) {
  CharToOemBuffA(reinterpret_cast<const char*>(text), reinterpret_cast<char*>(text), DWORD(n));
}

void TextFromOem(uint8_t* text, size_t n) {
  OemToCharBuffA(reinterpret_cast<const char*>(text), reinterpret_cast<char*>(text), DWORD(n));
}

void RecordToOem(const TextFields& fields, uint8_t* image) { ConvertFields(fields, image, TextToOem); }

void RecordFromOem(const TextFields& fields, uint8_t* image) { ConvertFields(fields, image, TextFromOem); }

}  // namespace pr::store
