#include "tools/twl/fields.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files/descriptors.h"
#include "platform/kernel.h"
#include "values/format.h"

namespace pr::twl {

namespace {

constexpr std::string_view kDatePicture = "@D10-";
constexpr std::string_view kTimePicture = "@T4";

std::string Raw(const uint8_t* bytes, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text = "\\x";
  for (size_t i = 0; i < length; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

bool IsRaw(std::string_view text) { return text.size() >= 2 && text[0] == '\\' && text[1] == 'x'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseRaw(std::string_view text, size_t length, std::vector<uint8_t>* out, std::string* reason) {
  std::string_view hex = text.substr(2);
  if (length != SIZE_MAX && hex.size() != length * 2) {
    *reason = "raw value \"\\x...\" needs " + std::to_string(length * 2) + " hex digits";
    return false;
  }
  if (hex.size() % 2 != 0) {
    *reason = "raw value \"\\x...\" needs an even number of hex digits";
    return false;
  }
  out->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) {
      *reason = "raw value \"\\x...\" holds a character that is no hex digit";
      return false;
    }
    out->push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

// UTF-8 text of Windows-1250 bytes; false when the bytes would not come back
// the same (control bytes, bytes the code page leaves undefined).
bool AnsiToText(const uint8_t* bytes, size_t length, std::string* text) {
  for (size_t i = 0; i < length; ++i)
    if (bytes[i] < 0x20 || bytes[i] == 0x7F) return false;
  const char* ansi = reinterpret_cast<const char*>(bytes);
  size_t need = AnsiToUtf8(ansi, length, nullptr, 0);
  text->assign(need + 1, '\0');
  AnsiToUtf8(ansi, length, text->data(), text->size());
  text->resize(need);
  std::string back(length + 1, '\0');
  size_t backLength = Utf8ToAnsi(text->data(), text->size(), back.data(), back.size());
  return backLength == length && std::memcmp(back.data(), ansi, length) == 0;
}

bool TextToAnsi(std::string_view text, std::string* ansi, std::string* reason) {
  size_t need = Utf8ToAnsi(text.data(), text.size(), nullptr, 0);
  ansi->assign(need + 1, '\0');
  Utf8ToAnsi(text.data(), text.size(), ansi->data(), ansi->size());
  ansi->resize(need);
  if (std::count(ansi->begin(), ansi->end(), '?') != std::count(text.begin(), text.end(), '?')) {
    *reason = "holds a character that Windows-1250 lacks, or text that is not UTF-8";
    return false;
  }
  return true;
}

// Text as written: a leading backslash doubled so it never reads as raw.
std::string Escaped(std::string text) {
  if (!text.empty() && text[0] == '\\') text.insert(text.begin(), '\\');
  return text;
}

std::string_view Unescaped(std::string_view text) {
  if (text.size() >= 2 && text[0] == '\\' && text[1] == '\\') text.remove_prefix(1);
  return text;
}

template <typename T>
T Load(const uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

template <typename T>
void Store(uint8_t* p, T value) {
  std::memcpy(p, &value, sizeof value);
}

bool ParseInteger(std::string_view text, int64_t low, int64_t high, int64_t* out, std::string* reason) {
  std::string copy(text);
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(copy.c_str(), &end, 10);
  if (copy.empty() || *end != '\0' || errno != 0 || value < low || value > high) {
    *reason = "is not a whole number from " + std::to_string(low) + " to " + std::to_string(high);
    return false;
  }
  *out = value;
  return true;
}

// [blanks]h:mm:ss[.hh]: the time serial (hundredths since midnight plus 1).
bool ParseTimeText(std::string_view text, int32_t* serial) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  int parts[4] = {0, 0, 0, 0};
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part == 3 && at == text.size()) break;  // no hundredths
    if (part > 0) {
      const char separator = part == 3 ? '.' : ':';
      if (at >= text.size() || text[at] != separator) return false;
      ++at;
    }
    const size_t start = at;
    while (at < text.size() && at - start < 2 && text[at] >= '0' && text[at] <= '9')
      parts[part] = parts[part] * 10 + (text[at++] - '0');
    if (at == start || (part > 0 && at - start != 2)) return false;
  }
  if (at != text.size() || parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return false;
  *serial = ((parts[0] * 60 + parts[1]) * 60 + parts[2]) * 100 + parts[3] + 1;
  return true;
}

std::string DecimalText(const uint8_t* p, size_t size, int places, bool* ok) {
  // The high nibble of the first byte is the sign, the other nibbles digits.
  const uint8_t sign = p[0] >> 4;
  *ok = sign == 0 || sign == 0xF;
  std::string digits;
  for (size_t i = 1; i < size * 2; ++i) {
    uint8_t nibble = (i % 2 == 0) ? p[i / 2] >> 4 : p[i / 2] & 15;
    if (nibble > 9) *ok = false;
    digits += static_cast<char>('0' + nibble);
  }
  if (!*ok) return {};
  if (places > static_cast<int>(digits.size())) {
    *ok = false;
    return {};
  }
  std::string integer = digits.substr(0, digits.size() - places);
  integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size()));
  if (integer.empty()) integer = "0";
  std::string text = (sign ? "-" : "") + integer;
  if (places > 0) text += "." + digits.substr(digits.size() - places);
  return text;
}

bool ParseDecimalField(std::string_view text, size_t size, int places, uint8_t* p, std::string* reason) {
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  size_t point = text.find('.');
  std::string_view integer = text.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
  const size_t digits = size * 2 - 1;
  auto allDigits = [](std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if ((integer.empty() && fraction.empty()) || !allDigits(integer) || !allDigits(fraction) ||
      fraction.size() > static_cast<size_t>(places) ||
      (point != std::string_view::npos && fraction.empty())) {
    *reason = "is not a decimal number with at most " + std::to_string(places) + " decimals";
    return false;
  }
  integer.remove_prefix(std::min(integer.find_first_not_of('0'), integer.size()));
  if (integer.size() + places > digits) {
    *reason = "has more than " + std::to_string(digits - places) + " integer digits";
    return false;
  }
  std::string all(digits - places - integer.size(), '0');
  all += integer;
  all += fraction;
  all.append(places - fraction.size(), '0');
  std::memset(p, 0, size);
  p[0] = negative ? 0xF0 : 0x00;
  for (size_t i = 1; i < size * 2; ++i) {
    uint8_t nibble = static_cast<uint8_t>(all[i - 1] - '0');
    if (i % 2 == 0)
      p[i / 2] |= static_cast<uint8_t>(nibble << 4);
    else
      p[i / 2] |= nibble;
  }
  return true;
}

}  // namespace

std::vector<Column> ColumnsOf(const store::TableDefinition& definition) {
  std::vector<Column> columns;
  for (size_t i = 0; i < definition.fields.size(); ++i) {
    const store::FieldDefinition& field = definition.fields[i];
    if (field.type == files::TYPE_GROUP || field.over != 0) continue;
    columns.push_back({field.name, static_cast<int>(i), -1});
  }
  for (size_t m = 0; m < definition.memos.size(); ++m) {
    const store::MemoDefinition& memo = definition.memos[m];
    columns.push_back({memo.label.empty() ? memo.externalName : memo.label, -1, static_cast<int>(m)});
  }
  return columns;
}

std::string FieldText(const store::FieldDefinition& field, const uint8_t* image, uint32_t recordLength,
                      bool* number) {
  *number = false;
  if (uint32_t{field.offset} + field.size > recordLength) return {};
  const uint8_t* p = image + field.offset;
  const size_t size = field.size;
  if (field.dim > 1) return Raw(p, size);
  char buffer[64];
  switch (field.type) {
    case files::TYPE_BYTE:
      if (size != 1) break;
      *number = true;
      return std::to_string(p[0]);
    case files::TYPE_SHORT:
      if (size != 2) break;
      *number = true;
      return std::to_string(Load<int16_t>(p));
    case files::TYPE_USHORT:
      if (size != 2) break;
      *number = true;
      return std::to_string(Load<uint16_t>(p));
    case files::TYPE_LONG:
      if (size != 4) break;
      *number = true;
      return std::to_string(Load<int32_t>(p));
    case files::TYPE_ULONG:
      if (size != 4) break;
      *number = true;
      return std::to_string(Load<uint32_t>(p));
    case files::TYPE_SREAL: {
      if (size != 4) break;
      float value = Load<float>(p);
      if (!std::isfinite(value)) break;
      std::snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(value));
      if (Load<uint32_t>(p) == 0x80000000u) break;  // -0 reads back as 0
      *number = true;
      return buffer;
    }
    case files::TYPE_REAL: {
      if (size != 8) break;
      double value = Load<double>(p);
      if (!std::isfinite(value) || Load<uint64_t>(p) == 0x8000000000000000ull) break;
      std::snprintf(buffer, sizeof buffer, "%.17g", value);
      *number = true;
      return buffer;
    }
    case files::TYPE_DECIMAL: {
      if (size == 0) break;
      bool ok = false;
      std::string text = DecimalText(p, size, field.decimalPlaces, &ok);
      if (!ok) break;
      *number = true;
      return text;
    }
    case files::TYPE_DATE: {
      if (size != 4) break;
      int32_t serial = Load<int32_t>(p);
      if (serial == 0) return {};
      std::string text = values::FormatDate(serial, kDatePicture);
      while (!text.empty() && text.back() == ' ') text.pop_back();
      if (text.empty()) break;
      return text;
    }
    case files::TYPE_TIME: {
      if (size != 4) break;
      int32_t serial = Load<int32_t>(p);
      if (serial == 0) return {};
      std::string text = values::FormatTime(serial, kTimePicture);
      while (!text.empty() && text.back() == ' ') text.pop_back();
      if (text.empty() || serial < 1) break;
      int hundredths = (serial - 1) % 100;
      if (hundredths != 0) {
        std::snprintf(buffer, sizeof buffer, ".%02d", hundredths);
        text += buffer;
      }
      return text;
    }
    case files::TYPE_STRING: {
      size_t length = size;
      while (length > 0 && p[length - 1] == ' ') --length;
      std::string text;
      if (!AnsiToText(p, length, &text)) break;
      return Escaped(text);
    }
    case files::TYPE_CSTRING: {
      size_t length = 0;
      while (length < size && p[length] != 0) ++length;
      if (!std::all_of(p + length, p + size, [](uint8_t b) { return b == 0; })) break;
      std::string text;
      if (!AnsiToText(p, length, &text)) break;
      return Escaped(text);
    }
    case files::TYPE_PSTRING: {
      if (size == 0 || p[0] >= size) break;
      size_t length = p[0];
      if (!std::all_of(p + 1 + length, p + size, [](uint8_t b) { return b == 0; })) break;
      std::string text;
      if (!AnsiToText(p + 1, length, &text)) break;
      return Escaped(text);
    }
    default:
      break;
  }
  return Raw(p, size);
}

bool ParseFieldText(const store::FieldDefinition& field, std::string_view text, uint8_t* image,
                    uint32_t recordLength, std::string* reason) {
  if (uint32_t{field.offset} + field.size > recordLength) {
    *reason = "lies outside the record";
    return false;
  }
  uint8_t* p = image + field.offset;
  const size_t size = field.size;
  if (IsRaw(text)) {
    std::vector<uint8_t> bytes;
    if (!ParseRaw(text, size, &bytes, reason)) return false;
    std::memcpy(p, bytes.data(), size);
    return true;
  }
  if (field.dim > 1) {
    *reason = "is dimensioned and takes a raw value \"\\x...\"";
    return false;
  }
  int64_t integer = 0;
  std::string copy(text);
  char* end = nullptr;
  const bool textual =
      field.type == files::TYPE_STRING || field.type == files::TYPE_CSTRING || field.type == files::TYPE_PSTRING;
  if (!textual && text.find('\0') != std::string_view::npos) {
    // The conversions below stop at a NUL: "9\0 77" must not read as 9.
    *reason = "holds a NUL character";
    return false;
  }
  switch (field.type) {
    case files::TYPE_BYTE:
      if (size != 1 || !ParseInteger(text, 0, 255, &integer, reason)) break;
      p[0] = static_cast<uint8_t>(integer);
      return true;
    case files::TYPE_SHORT:
      if (size != 2 || !ParseInteger(text, -32768, 32767, &integer, reason)) break;
      Store<int16_t>(p, static_cast<int16_t>(integer));
      return true;
    case files::TYPE_USHORT:
      if (size != 2 || !ParseInteger(text, 0, 65535, &integer, reason)) break;
      Store<uint16_t>(p, static_cast<uint16_t>(integer));
      return true;
    case files::TYPE_LONG:
      if (size != 4 || !ParseInteger(text, INT32_MIN, INT32_MAX, &integer, reason)) break;
      Store<int32_t>(p, static_cast<int32_t>(integer));
      return true;
    case files::TYPE_ULONG:
      if (size != 4 || !ParseInteger(text, 0, UINT32_MAX, &integer, reason)) break;
      Store<uint32_t>(p, static_cast<uint32_t>(integer));
      return true;
    case files::TYPE_SREAL:
    case files::TYPE_REAL: {
      // A subnormal result is exact enough to keep (the dump writes such
      // values); only an overflow or an underflow to zero changes the number.
      errno = 0;
      const bool single = field.type == files::TYPE_SREAL;
      const float singleValue = single ? std::strtof(copy.c_str(), &end) : 0.0f;
      const double value = single ? singleValue : std::strtod(copy.c_str(), &end);
      const int kind = single ? std::fpclassify(singleValue) : std::fpclassify(value);
      const bool lost = errno == ERANGE && kind != FP_SUBNORMAL;
      if (copy.empty() || *end != '\0' || lost || !std::isfinite(value)) {
        *reason = single ? "is not a number a SREAL holds" : "is not a number a REAL holds";
        return false;
      }
      if (single && size == 4) {
        Store<float>(p, static_cast<float>(value));
        return true;
      }
      if (!single && size == 8) {
        Store<double>(p, value);
        return true;
      }
      break;
    }
    case files::TYPE_DECIMAL:
      if (size == 0) break;
      return ParseDecimalField(text, size, field.decimalPlaces, p, reason);
    case files::TYPE_DATE:
    case files::TYPE_TIME: {
      if (size != 4) break;
      if (text.empty()) {
        Store<int32_t>(p, 0);
        return true;
      }
      int hundredths = 0;
      std::string_view main = text;
      if (field.type == files::TYPE_TIME) {
        // h:mm:ss[.hh] read directly: through the picture a time of the
        // first second (serials 1 to 100) would read as "no time".
        int32_t serial = 0;
        if (ParseTimeText(text, &serial)) {
          Store<int32_t>(p, serial);
          return true;
        }
        size_t dot = text.rfind('.');
        if (dot != std::string_view::npos) {
          std::string_view h = text.substr(dot + 1);
          if (h.size() != 2 || !std::isdigit(static_cast<unsigned char>(h[0])) ||
              !std::isdigit(static_cast<unsigned char>(h[1]))) {
            *reason = "is not a time hh:mm:ss[.hh]";
            return false;
          }
          hundredths = (h[0] - '0') * 10 + (h[1] - '0');
          main = text.substr(0, dot);
        }
      }
      values::Value value;
      values::Picture picture =
          values::CompilePicture(field.type == files::TYPE_DATE ? kDatePicture : kTimePicture);
      if (!values::Deformat(picture, main, &value) || value.kind() != values::Value::Kind::kLong ||
          value.AsLong() == 0) {
        *reason = field.type == files::TYPE_DATE ? "is not a date yyyy-mm-dd" : "is not a time hh:mm:ss[.hh]";
        return false;
      }
      Store<int32_t>(p, static_cast<int32_t>(value.AsLong() + hundredths));
      return true;
    }
    case files::TYPE_STRING:
    case files::TYPE_CSTRING:
    case files::TYPE_PSTRING: {
      std::string ansi;
      if (!TextToAnsi(Unescaped(text), &ansi, reason)) return false;
      size_t room = field.type == files::TYPE_PSTRING ? std::min<size_t>(size ? size - 1 : 0, 255) : size;
      if (ansi.size() > room) {
        *reason = "is longer than the field's " + std::to_string(room) + " characters";
        return false;
      }
      if (field.type == files::TYPE_STRING) {
        std::memset(p, ' ', size);
        std::memcpy(p, ansi.data(), ansi.size());
      } else if (field.type == files::TYPE_CSTRING) {
        std::memset(p, 0, size);
        std::memcpy(p, ansi.data(), ansi.size());
      } else {
        std::memset(p, 0, size);
        p[0] = static_cast<uint8_t>(ansi.size());
        std::memcpy(p + 1, ansi.data(), ansi.size());
      }
      return true;
    }
    default:
      *reason = "has a type that takes a raw value \"\\x...\"";
      return false;
  }
  if (reason->empty()) *reason = "has a size its type cannot have; it takes a raw value \"\\x...\"";
  return false;
}

std::string MemoText(const store::MemoDefinition& memo, const std::vector<uint8_t>& content) {
  std::string text;
  if (memo.binary() || memo.blob()) return content.empty() ? std::string() : Raw(content.data(), content.size());
  // Line breaks are the memo's own; only other control bytes force raw.
  for (uint8_t b : content)
    if ((b < 0x20 && b != '\n' && b != '\r' && b != '\t') || b == 0x7F) return Raw(content.data(), content.size());
  const char* ansi = reinterpret_cast<const char*>(content.data());
  size_t need = AnsiToUtf8(ansi, content.size(), nullptr, 0);
  text.assign(need + 1, '\0');
  AnsiToUtf8(ansi, content.size(), text.data(), text.size());
  text.resize(need);
  std::string back(content.size() + 1, '\0');
  size_t backLength = Utf8ToAnsi(text.data(), text.size(), back.data(), back.size());
  if (backLength != content.size() || std::memcmp(back.data(), ansi, backLength) != 0)
    return Raw(content.data(), content.size());
  return Escaped(text);
}

bool ParseMemoText(const store::MemoDefinition& memo, std::string_view text, std::vector<uint8_t>* content,
                   std::string* reason) {
  if (IsRaw(text)) return ParseRaw(text, SIZE_MAX, content, reason);
  std::string ansi;
  if (!TextToAnsi(Unescaped(text), &ansi, reason)) return false;
  if (!memo.blob() && memo.size != 0 && ansi.size() > memo.size) {
    *reason = "is longer than the memo's " + std::to_string(memo.size) + " bytes";
    return false;
  }
  content->assign(ansi.begin(), ansi.end());
  return true;
}

std::string CsvField(std::string_view text) {
  bool quote = !text.empty() && (text.front() == ' ' || text.back() == ' ');
  for (char c : text)
    if (c == ',' || c == '"' || c == '\n' || c == '\r') quote = true;
  if (!quote) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned char>(c));
          out += buffer;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

bool CsvReader::Next(std::vector<std::string>* row, int* line, std::string* error) {
  row->clear();
  if (at_ >= text_.size()) return false;
  *line = line_;
  std::string field;
  bool quoted = false, wasQuoted = false;
  while (at_ < text_.size()) {
    char c = text_[at_++];
    if (quoted) {
      if (c == '"') {
        if (at_ < text_.size() && text_[at_] == '"') {
          field += '"';
          ++at_;
        } else {
          quoted = false;
        }
      } else {
        if (c == '\n') ++line_;
        field += c;
      }
      continue;
    }
    if (c == '"' && field.empty() && !wasQuoted) {
      quoted = wasQuoted = true;
    } else if (c == ',') {
      row->push_back(std::move(field));
      field.clear();
      wasQuoted = false;
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && at_ < text_.size() && text_[at_] == '\n') ++at_;
      ++line_;
      row->push_back(std::move(field));
      return true;
    } else {
      field += c;
    }
  }
  if (quoted) {
    *error = "a quoted field is not closed";
    row->clear();
    return false;
  }
  row->push_back(std::move(field));
  return true;
}

}  // namespace pr::twl
