#include "store/names_table.h"

#include "platform/kernel.h"
#include "store/collation_state.h"

namespace pr::store {

namespace {

bool IsDirectory(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool HasExtension(std::string_view file) {
  size_t slash = file.find_last_of("\\/");
  std::string_view last = slash == std::string_view::npos ? file : file.substr(slash + 1);
  return last.find('.') != std::string_view::npos;
}

}  // namespace

bool SplitTableName(std::string_view declared, SplitName* out) {
  std::string_view file = declared;
  std::string_view table = kDefaultTableName;
  size_t from = 0;
  for (;;) {
    size_t mark = declared.find("\\!", from);
    if (mark == std::string_view::npos) break;
    if (mark > 0 && IsDirectory(std::string(declared.substr(0, mark)))) {
      from = mark + 2;
      continue;
    }
    file = declared.substr(0, mark);
    table = declared.substr(mark + 2);
    if (table.empty()) table = kDefaultTableName;
    break;
  }
  if (file.empty() || table.size() > kMaxTableNameLength) return false;

  out->file.assign(file);
  if (!HasExtension(file)) out->file += ".TWL";
  out->table.assign(table);
  CollationState::Current().FoldCase(reinterpret_cast<uint8_t*>(out->table.data()), out->table.size());
  return true;
}

}  // namespace pr::store
