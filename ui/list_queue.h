// The queue a list box shows: rows of fields addressed by field number.
//
// A program binds a ListQueue to a LIST control whose FROM is a queue (the
// address given for the list's FEQ when the window opens).  Each row holds its
// fields as text, field 1 first; the list's format string says which field
// feeds which column (ui/format_string.h) and the column's picture formats it.
// Rows are numbered from 1, as the program's queue pointers are.
//
// Threads: a queue belongs to the thread that owns the window showing it.
// After changing a bound queue the program redisplays the list (DISPLAY, or
// setting its Selected property).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pr::ui {

class ListQueue {
 public:
  using Row = std::vector<std::string>;

  void Append(Row row) { rows_.push_back(std::move(row)); }
  void Prepend(Row row) { rows_.insert(rows_.begin(), std::move(row)); }
  // Inserts before row `at` (1-based); past the end appends.
  void Insert(size_t at, Row row);
  // Removes row `at` (1-based); false when there is no such row.
  bool Delete(size_t at);
  void Clear() { rows_.clear(); }
  size_t Count() const { return rows_.size(); }
  // Row `at` (1-based), null when there is none.
  const Row* Get(size_t at) const { return at >= 1 && at <= rows_.size() ? &rows_[at - 1] : nullptr; }
  Row* Get(size_t at) { return at >= 1 && at <= rows_.size() ? &rows_[at - 1] : nullptr; }
  // Field `field` (1-based) of row `at`; "" when either is absent.
  std::string Field(size_t at, uint32_t field) const;

 private:
  std::vector<Row> rows_;
};

}  // namespace pr::ui
