#include "files/message_table.h"

#include <iterator>

namespace pr {
namespace {

// Texts are Windows-1250 bytes; letters outside ASCII are written as escapes.
constexpr StringTableEntry kStrings[] = {
#include "files/message_table.inc"
};

}  // namespace

const StringTableEntry* ModuleStringTable(size_t* count) {
  *count = std::size(kStrings);
  return kStrings;
}

void RegisterModuleStrings(HMODULE module) {
  RegisterStringTable(module, kStrings, std::size(kStrings));
}

}  // namespace pr
