// Decoding of compiled window resources (format: ui/resource_format.h).
//
// Everything here works on the decoded buffer, where relative offsets are
// indexes: buffer[0] and buffer[1] are 0 and the resource body starts at
// buffer[2].  Every offset and length read from the buffer is checked against
// its size before use; a record, text, descriptor or list that does not fit,
// a text without its NUL inside the buffer, or a list that runs longer than
// the buffer could hold (a cycle) makes the whole decode fail.  Nothing here
// allocates more than a small multiple of the buffer size, takes locks or
// touches global state; all functions are safe to call from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ui/resource_format.h"

namespace pr::ui {

inline constexpr int32_t kNotGiven = static_cast<int32_t>(rsc::kNotGiven);

struct FontSpec {
  bool present = false;
  std::string face;  // Windows-1250
  uint32_t points = 0;
  uint32_t colour = rsc::font::kDefault;
  uint32_t weight = rsc::font::kDefault;
};

struct VariableSpec {
  bool present = false;
  uint8_t type = 0;   // data type code (6 LONG, 18 STRING, 26 queue ...)
  uint32_t size = 0;  // bytes
};

enum class Justification : uint8_t { kLeft, kRight, kCentre, kDecimal };

// One control as its record describes it.  Texts are Windows-1250 and empty
// when absent; positions and sizes are kNotGiven when not given.
struct ControlSpec {
  uint8_t type = 0;
  uint32_t record = 0;  // relative offset of the record
  uint32_t attr = 0, attr2 = 0;
  int32_t feq = 0;
  std::string label;
  int32_t x = kNotGiven, y = kNotGiven, width = kNotGiven, height = kNotGiven;
  std::string text;     // prompt, string, button, check caption
  std::string tip;      // first descriptive text (after the "~" rule)
  std::string message;  // second descriptive text
  std::string picture;  // with its leading "@" restored ("@n-14"); empty when none
  std::string format;   // list FORMAT string
  std::string icon;     // button icon name
  std::string furtherText;
  VariableSpec use;   // USE variable descriptor
  VariableSpec from;  // list FROM descriptor
  int32_t indent = 0;
  Justification justification = Justification::kLeft;
  uint32_t action = 0;        // button standard action code
  uint8_t buttonOptions = 0;  // rsc::button::kDefaultButton ...
  uint16_t time1 = 0, time2 = 0;
  uint32_t listSetup = 0, listOptions = 0, barColour = rsc::font::kDefault;
  uint8_t listMode = 0;
  int32_t low = 0, high = 0, step = 0;  // spin range
};

struct WindowSpec {
  uint32_t record = 0;
  uint32_t attr = 0, attr2 = 0, options = 0;
  int32_t x = kNotGiven, y = kNotGiven, width = kNotGiven, height = kNotGiven;
  std::string label;
  std::string title;
  FontSpec font;
  std::string texts[4];
  std::vector<std::string> textList;
  uint8_t keyCode = 0;
  std::string keyText;
  std::vector<ControlSpec> controls;  // in list order
};

// Splits a raw resource (name, NUL, body) into its module-qualified name and
// the decoded buffer.  False when the name has no NUL inside the resource.
bool SplitResource(std::span<const uint8_t> raw, std::string* qualifiedName, std::vector<uint8_t>* buffer);

// Compares two names without regard to case, folding both through `upper`
// (256 entries, the runtime's upper-case table); a null table folds a-z only.
bool SameName(std::string_view a, std::string_view b, const uint8_t* upper = nullptr);

enum class FindResult { kFound, kNotFound, kMalformed };

// Walks the window list of `buffer` for the window whose label is `label`
// (without regard to case); on kFound *record is its relative offset.
FindResult FindWindowRecord(std::span<const uint8_t> buffer, std::string_view label, uint32_t* record,
                            const uint8_t* upper = nullptr);

// The relative offsets of every window record, in list order.
FindResult ListWindowRecords(std::span<const uint8_t> buffer, std::vector<uint32_t>* records);

// Decodes the window record at `record` and its control list.  False (and
// *out unspecified) when anything the window refers to lies outside the
// buffer or is inconsistent.
bool DecodeWindow(std::span<const uint8_t> buffer, uint32_t record, WindowSpec* out);

}  // namespace pr::ui
