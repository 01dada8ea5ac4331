// Fuzz entry points for the list format string and the popup menu text.
// Built into the ui test program (the mutation tests drive them) and, with
// clang, into libFuzzer targets:
//   clang++ -std=c++20 -fsanitize=fuzzer,address -DPR_FUZZ_LIST_FORMAT -I.
//       tests/ui/fuzz_controls.cpp ui/format_string.cpp ui/popup.cpp <values and platform sources>
// (-DPR_FUZZ_POPUP_TEXT for the menu text).  Whatever the bytes, parsing must
// end without reading outside the input, and every column and item it yields
// must be consistent.
#include "tests/ui/fuzz_controls.h"

#include <cstdlib>
#include <string_view>

#include "ui/format_string.h"
#include "ui/popup.h"

namespace pr::ui::fuzz {
namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

uint32_t CheckItems(const std::vector<PopupItem>& items, uint32_t last) {
  for (const PopupItem& item : items) {
    switch (item.kind) {
      case PopupItem::Kind::kSeparator: Require(item.id == 0 && item.items.empty()); break;
      case PopupItem::Kind::kItem:
        Require(item.id == last + 1 && item.items.empty());
        last = item.id;
        break;
      case PopupItem::Kind::kSubmenu:
        Require(item.id == 0);
        last = CheckItems(item.items, last);
        break;
    }
  }
  return last;
}

}  // namespace

int ListFormat(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  pr::ui::ListFormat f = ParseListFormat(text);
  Require(f.columns.size() <= size);
  for (const ListColumn& c : f.columns) {
    Require(c.width >= 0 && c.field >= 1 && c.headerLines >= 1);
    Require(c.group < static_cast<int32_t>(f.groups.size()));
    Require(FieldsOf(c).next > c.field);
  }
  for (const ListGroup& g : f.groups) Require(g.firstColumn <= g.endColumn && g.endColumn <= f.columns.size());
  Require(f.locator < static_cast<int32_t>(f.columns.size()));
  return 0;
}

int PopupText(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckItems(ParsePopupText(text), 0);
  return 0;
}

}  // namespace pr::ui::fuzz

#if defined(PR_FUZZ_LIST_FORMAT)
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return pr::ui::fuzz::ListFormat(data, size); }
#elif defined(PR_FUZZ_POPUP_TEXT)
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return pr::ui::fuzz::PopupText(data, size); }
#endif
