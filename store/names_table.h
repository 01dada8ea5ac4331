// Splitting a declared file name into the physical file name and the table
// name inside it.
//
// "DIR\FILE\!NAME" names table NAME of file DIR\FILE.TWL.  When the text
// before a "\!" is an existing directory, that "\!" belongs to the path and
// the search goes on after it.  Without "\!" the table is "UNNAMED".  The
// table name is upper-cased with the runtime's case table; the file part gets
// ".TWL" when its last component has no extension.
#pragma once

#include <string>
#include <string_view>

namespace pr::store {

inline constexpr std::string_view kDefaultTableName = "UNNAMED";
// Longest table name a file stores (its name record is one key).
inline constexpr size_t kMaxTableNameLength = 255;

struct SplitName {
  std::string file;   // the physical file name, with ".TWL" added if needed
  std::string table;  // upper case
};

// Splits `declared`.  Returns false (and leaves `out` unspecified) for an
// empty file part or a table name longer than kMaxTableNameLength, which the
// caller reports as an invalid file name (45).
bool SplitTableName(std::string_view declared, SplitName* out);

}  // namespace pr::store
