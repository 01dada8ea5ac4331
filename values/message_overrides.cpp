#include "values/message_overrides.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pr::values {
namespace {

struct Override {
  uint32_t number;
  std::unique_ptr<std::string> text;  // stable address for FindMessageOverride
};

struct OverrideList {
  std::mutex lock;
  std::vector<Override> entries;  // newest first
  // Texts replaced by a later override of the same number, kept until the
  // list is cleared so that a pointer handed out before stays readable.
  std::vector<std::unique_ptr<std::string>> retired;
};

OverrideList& Overrides() {
  static OverrideList* list = new OverrideList;  // lives to process end
  return *list;
}

}  // namespace

void AddMessageOverride(uint32_t number, std::string_view text) {
  OverrideList& list = Overrides();
  std::lock_guard<std::mutex> guard(list.lock);
  for (Override& entry : list.entries) {
    if (entry.number == number) {
      list.retired.push_back(std::move(entry.text));
      entry.text = std::make_unique<std::string>(text);
      return;
    }
  }
  list.entries.insert(list.entries.begin(), Override{number, std::make_unique<std::string>(text)});
}

const char* FindMessageOverride(uint32_t number) {
  OverrideList& list = Overrides();
  std::lock_guard<std::mutex> guard(list.lock);
  for (const Override& entry : list.entries) {
    if (entry.number == number) return entry.text->c_str();
  }
  return nullptr;
}

void ClearMessageOverrides() {
  OverrideList& list = Overrides();
  std::lock_guard<std::mutex> guard(list.lock);
  list.entries.clear();
  list.retired.clear();
}

}  // namespace pr::values
