// Field values as text, both ways, and the CSV rows of dump and import.
//
// Each column is a field of the stored definition (GROUP and OVER fields
// left out: their bytes belong to other columns) or a memo.  Text is UTF-8;
// string bytes are Windows-1250 in the record image.  Conversions:
//   BYTE SHORT USHORT LONG ULONG   decimal integer
//   SREAL REAL                     shortest text that reads back exactly
//   DECIMAL(n,p)                   "-123.45" with exactly p decimals
//   DATE                           through the picture @D10- (2026-12-07);
//                                  no date is ""
//   TIME                           through the picture @T4 (23:05:09), with
//                                  ".hh" hundredths when not zero
//   STRING                         trailing spaces dropped, filled back
//   CSTRING PSTRING                the text before the end, zero-filled back
//   memo                           its content (binary memos as raw bytes)
// A value that would not read back byte for byte through these rules (a
// string with control bytes or characters Windows-1250 lacks, a date serial
// no picture shows, any other type) is written raw: "\x" and hex digits.  A
// text that begins with "\" is written with that backslash doubled.
//
// Thread safety: the functions are pure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/definition_stream.h"

namespace pr::twl {

struct Column {
  std::string label;  // "PAR:NAZIV", or the memo's label
  int field = -1;     // index in the definition's fields, or -1 for a memo
  int memo = -1;      // index in the definition's memos
};

std::vector<Column> ColumnsOf(const store::TableDefinition& definition);

// The text of `field` in `image` (of definition.recordLength bytes).
// *number is set when the text is a number (for JSON).
std::string FieldText(const store::FieldDefinition& field, const uint8_t* image, uint32_t recordLength,
                      bool* number);
// Writes `text` into `field` of `image`.  False with a reason when the text
// does not fit the field.
bool ParseFieldText(const store::FieldDefinition& field, std::string_view text, uint8_t* image,
                    uint32_t recordLength, std::string* reason);

std::string MemoText(const store::MemoDefinition& memo, const std::vector<uint8_t>& content);
bool ParseMemoText(const store::MemoDefinition& memo, std::string_view text, std::vector<uint8_t>* content,
                   std::string* reason);

// CSV: fields separated by ",", quoted with '"' when they hold a comma, a
// quote, a line break or begin or end with a blank; quotes doubled.
std::string CsvField(std::string_view text);
std::string JsonString(std::string_view text);

// Reads CSV rows.  `line` of each row is the line it begins on (from 1).
class CsvReader {
 public:
  explicit CsvReader(std::string text) : text_(std::move(text)) {}
  // False at the end.  A quote left open fails with *error set.
  bool Next(std::vector<std::string>* row, int* line, std::string* error);

 private:
  std::string text_;
  size_t at_ = 0;
  int line_ = 1;
};

}  // namespace pr::twl
