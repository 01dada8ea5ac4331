// Key build: the entries of one key made again from the table's data records
// through an external sort, so that they reach the tree in key order and the
// dirty pages held in memory stay bounded.
#include <algorithm>
#include <cstring>

#include "store/keybuild_sort.h"
#include "store/record_oem.h"
#include "store/table.h"

namespace pr::store {

namespace {

constexpr size_t kDirtyPagesPerUpdate = 400;

}  // namespace

Status Table::BuildKey(size_t k, const BuildHooks& hooks) {
  const KeyLayout& kl = layout_.keys[k];
  const uint8_t subject = uint8_t(k);
  Container* tree = file_;
  if (kl.inMemory()) {
    indexTrees_[k] = Container::CreateInMemory(file_->fileName() + " index");
    tree = indexTrees_[k].get();
    WriteCounters(subject, {});
  } else if (hooks.fullBuild) {
    const uint8_t prefix[5] = {number_[0], number_[1], number_[2], number_[3], kl.index};
    file_->ErasePrefix(ByteView(prefix, 5));
    WriteCounters(subject, {});
  }

  // 1. Every record's encoded components and number, sorted.
  const size_t encoded = kl.encodedLength;
  KeySorter sorter(encoded + 4, hooks.runBytes);
  std::vector<uint8_t> image(recordLength());
  std::vector<uint8_t> sortEntry(encoded + 4);
  const uint32_t total = RecordCount();
  uint32_t read = 0;
  int lastPercent = -1;
  {
    uint8_t first[kDataKeyLength];
    DataKey(number_, RecordNumber{}, first);
    Cursor cursor(*file_);
    for (bool more = cursor.SeekGE(ByteView(first, sizeof first)); more; more = cursor.Next()) {
      ByteView key = cursor.key();
      if (key.size() != kDataKeyLength || std::memcmp(key.data(), first, 5) != 0) break;
      ++read;
      const int percent = total == 0 ? 100 : int(std::min<uint64_t>(uint64_t(read - 1) * 100 / total, 100));
      if (percent != lastPercent) {
        lastPercent = percent;
        if (hooks.progress && !hooks.progress(percent)) return Status::File(err::BuildCancelled);
      }
      ByteView data = cursor.data();
      if (data.size() != recordLength()) return Status::File(err::InvalidDataFile);
      std::memcpy(image.data(), data.data(), data.size());
      if (oem_) RecordFromOem(layout_.textFields, image.data());
      if (!HasEntry(k, image.data())) continue;
      if (hooks.filter && !hooks.filter(image.data())) continue;
      EncodeKeyComponents(kl, collation_, image.data(), sortEntry.data());
      std::memcpy(sortEntry.data() + encoded, key.data() + 5, 4);
      if (!sorter.Add(sortEntry.data())) return Status::File(err::FileSystemError);
    }
  }
  if (!sorter.Finish()) return Status::File(err::FileSystemError);

  // 2. The entries in key order.
  Counters counters;
  uint32_t lowestRefused = 0;
  std::vector<uint8_t> entry(kl.entryKeyLength());
  std::memcpy(entry.data(), number_.data(), 4);
  entry[4] = kl.index;
  std::vector<uint8_t> existing;
  // An update is due at 400 dirty pages, and again whenever 400 more have
  // gathered since the last one (a write inside a transaction frees none).
  size_t dirtyLimit = kDirtyPagesPerUpdate;
  while (const uint8_t* sorted = sorter.Next()) {
    std::memcpy(entry.data() + 5, sorted, encoded);
    if (kl.dup()) std::memcpy(entry.data() + 5 + encoded, sorted + encoded, 4);
    const ByteView record(sorted + encoded, 4);
    const ByteView entryKey(entry.data(), entry.size());
    if (tree->Insert(entryKey, record)) {
      ++counters.count;
    } else if (tree->Find(entryKey, &existing) && existing.size() == 4 &&
               std::memcmp(existing.data(), record.data(), 4) == 0) {
      ++counters.count;  // this record's entry was already there
    } else {
      uint32_t number = RecordNumberValue({record[0], record[1], record[2], record[3]});
      if (lowestRefused == 0 || number < lowestRefused) lowestRefused = number;
    }
    if (!kl.inMemory() && file_->dirtyPageCount() >= dirtyLimit) {
      counters.second = lowestRefused;
      WriteCounters(subject, counters);
      if (hooks.writeUpdate) {
        if (Status written = hooks.writeUpdate(); !written.ok()) return written;
      } else if (file_->WriteUpdate() != 0) {
        return Status::File(err::FileSystemError);
      }
      dirtyLimit = std::max(kDirtyPagesPerUpdate, file_->dirtyPageCount() + kDirtyPagesPerUpdate);
    }
  }
  if (sorter.failed()) return Status::File(err::FileSystemError);

  counters.second = lowestRefused;
  WriteCounters(subject, counters);
  return lowestRefused != 0 ? Status::File(err::CreatesDuplicateKey) : Status::Ok();
}

}  // namespace pr::store
