// Fuzz target: the picture compiler with format and deformat.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "fuzz_targets.h"
#include "values/date_time.h"
#include "values/format.h"
#include "values/picture.h"

namespace pr::values::fuzz {
namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

int FuzzPicture(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t nul = input.find('\0');
  std::string_view pictureText = input.substr(0, nul);
  std::string_view text = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

  // Copies in heap blocks of their exact size, so that a read past either
  // end is caught.
  std::unique_ptr<char[]> pictureCopy(new char[pictureText.size() + 1]);
  std::memcpy(pictureCopy.get(), pictureText.data(), pictureText.size());
  Picture picture;
  CompilePicture(std::string_view(pictureCopy.get(), pictureText.size()), &picture);
  Check(picture.valid() == (picture.length > 0));
  Check(picture.shownLength <= picture.length);

  const Value values[] = {
      Value::Long(0),           Value::Long(-1),          Value::Long(INT64_MIN),       Value::Long(INT64_MAX),
      Value::Long(MakeDate(2004, 1, 5)), Value::Long(TimeFromParts(13, 5, 9, 0)), Value::Real(-1.005),
      Value::Real(1e308),       Value::Real(5e-324),      Value::Decimal("-123456789012345678901234567890.5"),
      Value::Decimal("1e99999"), Value::String(text),
  };
  for (const Value& value : values) {
    for (size_t capacity : {size_t{0}, size_t{1}, size_t{picture.shownLength}, size_t{kPictureMax}}) {
      std::unique_ptr<char[]> out(new char[capacity + 1]);
      out[capacity] = '\x7f';
      size_t n = FormatInto(picture, value, out.get(), capacity);
      Check(n <= capacity);
      Check(out[capacity] == '\x7f');
      if (picture.valid()) Check(n == (capacity < picture.shownLength ? capacity : picture.shownLength));
      Value back;
      Deformat(picture, std::string_view(out.get(), n), &back);
    }
  }
  std::unique_ptr<char[]> textCopy(new char[text.size() + 1]);
  std::memcpy(textCopy.get(), text.data(), text.size());
  Value back;
  Deformat(picture, std::string_view(textCopy.get(), text.size()), &back);
  EntryValue(picture, std::string_view(textCopy.get(), text.size()), &back);
  Check(back.text().size() <= kValueTextMax);
  return 0;
}

}  // namespace pr::values::fuzz

#ifdef PR_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return pr::values::fuzz::FuzzPicture(data, size);
}
#endif
