#include "ui/list_queue.h"

namespace pr::ui {

void ListQueue::Insert(size_t at, Row row) {
  if (at < 1) at = 1;
  if (at > rows_.size()) {
    rows_.push_back(std::move(row));
    return;
  }
  rows_.insert(rows_.begin() + static_cast<ptrdiff_t>(at - 1), std::move(row));
}

bool ListQueue::Delete(size_t at) {
  if (at < 1 || at > rows_.size()) return false;
  rows_.erase(rows_.begin() + static_cast<ptrdiff_t>(at - 1));
  return true;
}

std::string ListQueue::Field(size_t at, uint32_t field) const {
  const Row* row = Get(at);
  if (row == nullptr || field < 1 || field > row->size()) return {};
  return (*row)[field - 1];
}

}  // namespace pr::ui
