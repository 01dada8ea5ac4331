#include "values/env_file.h"

namespace pr::values {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsControl(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F;
}

// Decodes the escapes of a raw value (the characters of one line after "=").
// Blanks and tabs written after "=" are layout and go; those that escapes
// stand for are text and stay (only trailing ones are removed).
std::string DecodeValue(std::string_view raw) {
  while (!raw.empty() && (raw.front() == ' ' || raw.front() == '\t')) raw.remove_prefix(1);
  std::string value;
  for (size_t i = 0; i < raw.size() && value.size() < kEnvironmentValueMax;) {
    char c = raw[i];
    if (c != '<' || i + 1 >= raw.size()) {
      value.push_back(c);
      ++i;
      continue;
    }
    char next = raw[i + 1];
    if (next == '<') {
      value.push_back('<');
      i += 2;
      continue;
    }
    if (!IsDigit(next)) {
      // "<" and the character after it stay.
      value.push_back('<');
      ++i;
      continue;
    }
    size_t j = i + 1;
    unsigned code = 0;
    while (j < raw.size() && IsDigit(raw[j])) {
      if (code < 1000) code = code * 10 + static_cast<unsigned>(raw[j] - '0');
      ++j;
    }
    if (code == 0 || code > 255) {
      // No character has that code: the text stays as written.
      value.append(raw.substr(i, j - i));
      i = j;
      continue;
    }
    value.push_back(static_cast<char>(code));
    i = j < raw.size() ? j + 1 : j;  // the character after the digits is dropped
  }
  if (value.size() > kEnvironmentValueMax) value.resize(kEnvironmentValueMax);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
  return value;
}

// Reads a quoted item starting at value[i] == '"'; advances past it.
std::string ReadQuoted(std::string_view value, size_t* i) {
  std::string item;
  size_t j = *i + 1;
  while (j < value.size()) {
    if (value[j] == '"') {
      if (j + 1 < value.size() && value[j + 1] == '"') {
        item.push_back('"');
        j += 2;
        continue;
      }
      ++j;
      break;
    }
    item.push_back(value[j++]);
  }
  *i = j;
  return item;
}

}  // namespace

std::vector<EnvironmentEntry> ParseEnvironmentText(std::string_view text) {
  std::vector<EnvironmentEntry> entries;
  size_t end = text.find('\x1A');
  if (end != std::string_view::npos) text = text.substr(0, end);
  size_t i = 0;
  while (i < text.size()) {
    size_t lineEnd = i;
    while (lineEnd < text.size() && text[lineEnd] != '\r' && text[lineEnd] != '\n') ++lineEnd;
    std::string_view line = text.substr(i, lineEnd - i);
    i = lineEnd + 1;

    std::string key;
    size_t k = 0;
    bool abandoned = false;
    for (; k < line.size() && line[k] != '='; ++k) {
      char c = line[k];
      if (IsControl(c)) {
        abandoned = true;
        break;
      }
      if (c == ' ') continue;
      if (key.size() < kEnvironmentKeyMax) key.push_back(c);
    }
    if (abandoned || k >= line.size() || key.empty()) continue;
    entries.push_back(EnvironmentEntry{std::move(key), DecodeValue(line.substr(k + 1))});
  }
  return entries;
}

std::vector<std::string> SplitItems(std::string_view value) {
  std::vector<std::string> items;
  const bool quotedList = !value.empty() && value[0] == '"';
  size_t i = 0;
  while (i < value.size()) {
    if (quotedList) {
      while (i < value.size() && (value[i] == ' ' || value[i] == '\t' || value[i] == ',')) ++i;
      if (i >= value.size()) break;
      if (value[i] == '"') {
        items.push_back(ReadQuoted(value, &i));
      } else {
        size_t start = i;
        while (i < value.size() && value[i] != ' ' && value[i] != '\t' && value[i] != ',') ++i;
        items.emplace_back(value.substr(start, i - start));
      }
      continue;
    }
    // Comma-separated items, blanks around them dropped.
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
    std::string item;
    if (i < value.size() && value[i] == '"') {
      item = ReadQuoted(value, &i);
      while (i < value.size() && value[i] != ',') ++i;
    } else {
      size_t start = i;
      while (i < value.size() && value[i] != ',') ++i;
      std::string_view piece = value.substr(start, i - start);
      while (!piece.empty() && (piece.back() == ' ' || piece.back() == '\t')) piece.remove_suffix(1);
      item = std::string(piece);
    }
    items.push_back(std::move(item));
    if (i < value.size() && value[i] == ',') {
      ++i;
      if (i == value.size()) items.emplace_back();  // a trailing comma leaves an empty item
    }
  }
  return items;
}

std::string WholeText(std::string_view value) {
  if (value.empty() || value[0] != '"') return std::string(value);
  std::string text;
  for (const std::string& item : SplitItems(value)) text += item;
  return text;
}

}  // namespace pr::values
