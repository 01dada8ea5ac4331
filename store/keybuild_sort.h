// The external sort of a key build: fixed-size entries are collected in a
// bounded buffer, each full buffer is sorted and written to a temporary file
// as one run, and the runs are merged back in byte order.
//
// Memory stays near `runBytes` while collecting and near 64 KiB per run while
// merging, whatever the number of entries.  Temporary files are anonymous and
// vanish when the sorter is destroyed (or the process ends).
//
// Not thread safe; one sorter serves one build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace pr::store {

class KeySorter {
 public:
  // Entries are `entrySize` bytes (> 0) compared as unsigned bytes.
  KeySorter(size_t entrySize, size_t runBytes);
  ~KeySorter();
  KeySorter(const KeySorter&) = delete;
  KeySorter& operator=(const KeySorter&) = delete;

  // Collects one entry.  False when a run could not be written (the sorter
  // is then failed and stays so).
  bool Add(const uint8_t* entry);
  // Ends collecting and prepares the merge.  False on an I/O failure.
  bool Finish();
  // The next entry in order (valid until the next call), or null at the end
  // or after an I/O failure (see failed()).
  const uint8_t* Next();

  bool failed() const { return failed_; }
  size_t runCount() const { return runs_.size(); }
  size_t entryCount() const { return added_; }

 private:
  struct Run;
  struct RunGreater;
  bool SpillRun();
  void SortBuffer();
  bool Refill(Run& run);

  size_t entrySize_;
  size_t capacity_;  // entries per run
  std::vector<uint8_t> buffer_;
  std::vector<uint32_t> order_;  // sorted indexes into buffer_
  size_t buffered_ = 0;
  size_t added_ = 0;
  bool failed_ = false;
  bool finished_ = false;
  // In-memory only (no run spilled): position in order_.
  size_t nextInMemory_ = 0;
  std::vector<std::unique_ptr<Run>> runs_;
  std::vector<Run*> heap_;  // min-heap of runs by current entry
  Run* last_ = nullptr;     // the run whose entry Next returned last
};

}  // namespace pr::store
