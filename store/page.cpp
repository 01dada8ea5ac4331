#include "store/page.h"

#include <algorithm>

#include "store/container_format.h"

namespace pr::store {

// Both searches look at the last record first: keys that grow (record
// numbers, counters of new records) land after it.
size_t Page::LowerBound(ByteView key) const {
  Materialize();
  size_t lo = 0, hi = records_.size();
  if (hi == 0 || CompareKeys(Key(hi - 1), key) < 0) return hi;
  --hi;
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (CompareKeys(Key(mid), key) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

long Page::FindLE(ByteView key) const {
  Materialize();
  size_t lo = 0, hi = records_.size();  // first record greater than key
  if (hi == 0 || CompareKeys(Key(hi - 1), key) <= 0) return static_cast<long>(hi) - 1;
  --hi;
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (CompareKeys(Key(mid), key) <= 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return static_cast<long>(lo) - 1;
}

namespace {

// A page of more than 20 records splits once its estimate passes 4096
// bytes, and its record bytes stay below its estimate: an arena of this size
// holds such a page until it splits.
constexpr size_t kFullArena = kSplitSoftLimit + 256;

// Room for `need` and half as much again (at least `floor`), but no more
// than a full page while it fits one: doubling would leave much of a large
// update's memory unused.
size_t Grown(size_t need, size_t floor) {
  size_t room = need + need / 2;
  if (need <= kFullArena && room > kFullArena) room = kFullArena;
  return room < floor ? floor : room;
}

}  // namespace

uint32_t Page::Append(const uint8_t* p, size_t n) {
  uint32_t at = static_cast<uint32_t>(arena_.size());
  arena_.insert(arena_.end(), p, p + n);
  return at;
}

void Page::InsertAt(size_t i, ByteView key, ByteView data, int32_t child) {
  Materialize();
  PageRecord r;
  r.keyLength = static_cast<uint16_t>(key.size());
  r.recordLength = static_cast<uint16_t>(key.size() + data.size());
  r.child = child;
  // Either part may point into this page's own arena, which may move.
  auto inside = [this](ByteView v) {
    return !v.empty() && v.data() >= arena_.data() && v.data() < arena_.data() + arena_.size();
  };
  size_t need = arena_.size() + key.size() + data.size();
  if (inside(key) || inside(data)) {
    std::vector<uint8_t> copy(key.begin(), key.end());
    copy.insert(copy.end(), data.begin(), data.end());
    r.offset = Append(copy.data(), copy.size());
  } else {
    if (need > arena_.capacity()) arena_.reserve(Grown(need, 256));
    r.offset = Append(key.data(), key.size());
    Append(data.data(), data.size());
  }
  if (records_.size() == records_.capacity()) records_.reserve(Grown(records_.size() + 1, 8));
  records_.insert(records_.begin() + static_cast<long>(i), r);
  estimate_ += RecordEstimate(r.recordLength, isNode());
  InvalidateImage();
}

void Page::RemoveAt(size_t i) {
  Materialize();
  garbage_ += records_[i].recordLength;
  estimate_ -= RecordEstimate(records_[i].recordLength, isNode());
  records_.erase(records_.begin() + static_cast<long>(i));
  InvalidateImage();
  MaybeCompact();
}

void Page::ReplaceDataAt(size_t i, ByteView data) {
  Materialize();
  PageRecord& r = records_[i];
  size_t oldData = r.recordLength - r.keyLength;
  if (data.size() == oldData) {
    std::memmove(arena_.data() + r.offset + r.keyLength, data.data(), data.size());
  } else {
    std::vector<uint8_t> bytes(arena_.begin() + r.offset, arena_.begin() + r.offset + r.keyLength);
    bytes.insert(bytes.end(), data.begin(), data.end());
    garbage_ += r.recordLength;
    estimate_ -= RecordEstimate(r.recordLength, isNode());
    r.offset = Append(bytes.data(), bytes.size());
    r.recordLength = static_cast<uint16_t>(bytes.size());
    estimate_ += RecordEstimate(r.recordLength, isNode());
    MaybeCompact();
  }
  InvalidateImage();
}

void Page::ReplaceKeyAt(size_t i, ByteView key) {
  Materialize();
  PageRecord& r = records_[i];
  std::vector<uint8_t> bytes(key.begin(), key.end());
  bytes.insert(bytes.end(), arena_.begin() + r.offset + r.keyLength, arena_.begin() + r.offset + r.recordLength);
  garbage_ += r.recordLength;
  estimate_ -= RecordEstimate(r.recordLength, isNode());
  r.offset = Append(bytes.data(), bytes.size());
  r.keyLength = static_cast<uint16_t>(key.size());
  r.recordLength = static_cast<uint16_t>(bytes.size());
  estimate_ += RecordEstimate(r.recordLength, isNode());
  InvalidateImage();
  MaybeCompact();
}

void Page::MoveTailTo(size_t from, Page* to) {
  // A split.  The upper half takes the insertions that follow in key order:
  // it keeps this page's buffers (room for a full page), its bytes moved to
  // the front of the arena.  The page left behind gets exactly its live bytes
  // and records (after a split in key order it is never added to again, and
  // otherwise grows as any page does), so that the many pages of a large
  // update stay near their size.  Two allocations per split, none of them
  // for the upper half.
  Materialize();
  to->Materialize();
  if (!to->records_.empty()) {
    // Appended after the records already there.
    size_t tailBytes = 0;
    for (size_t i = from; i < records_.size(); ++i) tailBytes += records_[i].recordLength;
    const size_t base = to->arena_.size();
    to->arena_.reserve(base + tailBytes + tailBytes / 2 + 64);
    to->arena_.resize(base + tailBytes);
    uint32_t at = static_cast<uint32_t>(base);
    for (size_t i = from; i < records_.size(); ++i) {
      PageRecord r = records_[i];
      std::memcpy(to->arena_.data() + at, arena_.data() + r.offset, r.recordLength);
      garbage_ += r.recordLength;
      estimate_ -= RecordEstimate(r.recordLength, isNode());
      to->estimate_ += RecordEstimate(r.recordLength, to->isNode());
      r.offset = at;
      at += r.recordLength;
      to->records_.push_back(r);
    }
    to->InvalidateImage();
    records_.resize(from);
    InvalidateImage();
    MaybeCompact();
    return;
  }
  const size_t n = records_.size();
  size_t lowerBytes = 0, upperBytes = 0;
  uint32_t upperEstimate = 0, upperEstimateThere = 0;
  for (size_t i = 0; i < from; ++i) lowerBytes += records_[i].recordLength;
  for (size_t i = from; i < n; ++i) {
    upperBytes += records_[i].recordLength;
    upperEstimate += RecordEstimate(records_[i].recordLength, isNode());
    upperEstimateThere += RecordEstimate(records_[i].recordLength, to->isNode());
  }

  std::vector<uint8_t> lowerArena(lowerBytes);
  std::vector<PageRecord> lowerRecords(records_.begin(), records_.begin() + static_cast<long>(from));
  uint32_t at = 0;
  for (PageRecord& r : lowerRecords) {
    std::memcpy(lowerArena.data() + at, arena_.data() + r.offset, r.recordLength);
    r.offset = at;
    at += r.recordLength;
  }

  // The upper bytes go to the front of this arena through a scratch copy
  // (their offsets follow insertion order, not key order).
  thread_local std::vector<uint8_t> scratch;
  scratch.resize(upperBytes);
  at = 0;
  for (size_t i = from; i < n; ++i) {
    PageRecord& r = records_[i];
    std::memcpy(scratch.data() + at, arena_.data() + r.offset, r.recordLength);
    r.offset = at;
    at += r.recordLength;
  }
  if (upperBytes) std::memcpy(arena_.data(), scratch.data(), upperBytes);
  arena_.resize(upperBytes);
  records_.erase(records_.begin(), records_.begin() + static_cast<long>(from));
  if (scratch.capacity() > 4 * kFullArena) std::vector<uint8_t>().swap(scratch);

  to->arena_.swap(arena_);
  to->records_.swap(records_);
  to->garbage_ = 0;
  to->estimate_ += upperEstimateThere;
  to->arena_.reserve(kFullArena);
  to->InvalidateImage();

  arena_.swap(lowerArena);
  records_.swap(lowerRecords);
  garbage_ = 0;
  estimate_ -= upperEstimate;
  InvalidateImage();
}

void Page::Clear() {
  lazy_ = false;
  lazyHits = 0;
  lazyCount_ = 0;
  // The image buffer keeps its length: the next load overwrites it without
  // paying for zero bytes first.
  records_.clear();
  arena_.clear();
  garbage_ = 0;
  estimate_ = 13;
  InvalidateImage();
}

void Page::RecomputeEstimate() {
  estimate_ = 13;
  for (const PageRecord& r : records_) estimate_ += RecordEstimate(r.recordLength, isNode());
}

void Page::MaybeCompact() {
  if (records_.empty()) {
    arena_.clear();
    garbage_ = 0;
    return;
  }
  if (garbage_ < 4096 || garbage_ < arena_.size() / 2) return;
  std::vector<uint8_t> fresh;
  fresh.reserve(arena_.size() - garbage_ + 256);
  for (PageRecord& r : records_) {
    uint32_t at = static_cast<uint32_t>(fresh.size());
    fresh.insert(fresh.end(), arena_.begin() + r.offset, arena_.begin() + r.offset + r.recordLength);
    r.offset = at;
  }
  arena_.swap(fresh);
  garbage_ = 0;
}

}  // namespace pr::store
