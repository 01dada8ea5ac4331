// One page of the keyed-file tree, as held in memory.
//
// A page keeps its records in key order.  Each record is (key part, data
// part); node pages hold key parts only, each with the reference of the child
// page whose lowest key it copies.  Record bytes live in one per-page arena so
// that inserting a record costs no heap allocation of its own; removal leaves
// garbage that is squeezed out when it outgrows the live bytes.
//
// Key order: unsigned bytes over the shorter length, then the shorter first.
//
// A Page is owned by its file's PageCache; the list and hash links belong to
// the cache.  Not thread safe: the driver serialises all use of a file.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace pr::store {

using ByteView = std::span<const uint8_t>;

// Keys of the store are mostly short (a kind byte, a table number, a record
// number or a few encoded components): they are compared in place a word at
// a time, the last word overlapping the one before it (the bytes they share
// are already known to be equal), without a library call.
namespace key_compare {
inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}
inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
  return v;
}
}  // namespace key_compare

inline int CompareKeys(ByteView a, ByteView b) {
  using key_compare::Load32;
  using key_compare::Load64;
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  const uint8_t* p = a.data();
  const uint8_t* q = b.data();
  if (n >= 8) {
    if (n > 64) {
      int c = std::memcmp(p, q, n);
      if (c != 0) return c;
    } else {
      size_t i = 0;
      for (; i + 8 <= n; i += 8) {
        const uint64_t x = Load64(p + i), y = Load64(q + i);
        if (x != y) return x < y ? -1 : 1;
      }
      if (i < n) {
        const uint64_t x = Load64(p + n - 8), y = Load64(q + n - 8);
        if (x != y) return x < y ? -1 : 1;
      }
    }
  } else if (n >= 4) {
    uint32_t x = Load32(p), y = Load32(q);
    if (x == y) {
      x = Load32(p + n - 4);
      y = Load32(q + n - 4);
    }
    if (x != y) return x < y ? -1 : 1;
  } else {
    for (size_t i = 0; i < n; ++i)
      if (p[i] != q[i]) return p[i] < q[i] ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

struct PageRecord {
  uint32_t offset;        // into the arena
  uint16_t keyLength;
  uint16_t recordLength;  // key plus data
  int32_t child;          // node pages only
};

class Page {
 public:
  Page(int32_t reference, uint8_t level) : reference_(reference), level_(level) {}
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  int32_t reference() const { return reference_; }
  uint8_t level() const { return level_; }
  bool isNode() const { return level_ > 0; }
  size_t count() const { return lazy_ ? lazyCount_ : records_.size(); }
  bool empty() const { return count() == 0; }
  // 13 + sum(record length + 5) + 4 per record on a node page.
  uint32_t estimate() const { Materialize(); return estimate_; }
  static uint32_t RecordEstimate(uint32_t recordLength, bool node) { return recordLength + 5 + (node ? 4 : 0); }

  ByteView Key(size_t i) const { Materialize(); return {arena_.data() + records_[i].offset, records_[i].keyLength}; }
  ByteView Record(size_t i) const {
    Materialize();
    return {arena_.data() + records_[i].offset, records_[i].recordLength};
  }
  ByteView Data(size_t i) const {
    Materialize();
    const PageRecord& r = records_[i];
    return {arena_.data() + r.offset + r.keyLength, static_cast<size_t>(r.recordLength - r.keyLength)};
  }
  int32_t Child(size_t i) const { Materialize(); return records_[i].child; }
  const PageRecord& At(size_t i) const { Materialize(); return records_[i]; }

  // A leaf read from disk may stay in its expanded image until a record
  // accessor needs its records decoded (which happens then, with every check
  // of a full read).  While it does, PageCodec::LowerBoundInImage searches
  // the image itself: a lookup that touches one record of a page does not
  // pay for decoding all of them.
  bool lazy() const { return lazy_; }
  // Cache hits while lazy (the container decides when decoding pays).
  int lazyHits = 0;
  void Materialize() const {
    if (lazy_) Decode();
  }

  // Index of the first record whose key is not less than key (count() if none).
  size_t LowerBound(ByteView key) const;
  // Index of the greatest record whose key is not greater than key, or -1.
  long FindLE(ByteView key) const;

  // Inserts at index i (the caller keeps the order); key + data <= 65535.
  void InsertAt(size_t i, ByteView key, ByteView data, int32_t child = 0);
  void RemoveAt(size_t i);
  // Replaces the data part of record i (the key stays).
  void ReplaceDataAt(size_t i, ByteView data);
  // Replaces the key of node entry i (the caller keeps the order).
  void ReplaceKeyAt(size_t i, ByteView key);
  // Child references live outside the packed records: the size class stays.
  void SetChild(size_t i, int32_t child) {
    Materialize();
    records_[i].child = child;
    image_.clear();
  }
  // Moves records [from, count()) to the end of `to` (same kind of page).
  void MoveTailTo(size_t from, Page* to);
  // Moves every record to `to` (empty), leaving this page empty.
  void MoveAllTo(Page* to) { MoveTailTo(0, to); }
  void SetLevel(uint8_t level) {
    Materialize();
    level_ = level;
    RecomputeEstimate();
    InvalidateImage();
  }
  void Clear();
  void Reserve(size_t records, size_t bytes) {
    Materialize();
    records_.reserve(records);
    arena_.reserve(bytes);
  }

  // The disk image built for the update in progress (empty when none).
  std::vector<uint8_t>& image() { return image_; }
  void InvalidateImage() { image_.clear(); imageClass = 0; }
  // Size class of the image last built for the page's content (0: unknown).
  int imageClass = 0;

  // --- cache bookkeeping (PageCache only) ---
  int32_t reference_;
  bool dirty = false;
  bool inCleanList = false;
  uint64_t loadTick = 0;
  uint64_t generation = 0;  // new at every load and every change (see PageCache::Recall)
  uint64_t useTick = 0;
  int useCount = 0;  // pins: a pinned page is never evicted
  Page* prev = nullptr;
  Page* next = nullptr;

 private:
  friend class PageCodec;
  void Decode() const;
  void RecomputeEstimate();
  void MaybeCompact();
  uint32_t Append(const uint8_t* p, size_t n);

  uint8_t level_;
  uint32_t estimate_ = 13;
  uint32_t garbage_ = 0;
  std::vector<PageRecord> records_;
  std::vector<uint8_t> arena_;
  std::vector<uint8_t> image_;
  // The lazy state: the expanded image (header, child array, records), its
  // record count and the file name its errors name.
  mutable bool lazy_ = false;
  uint16_t lazyCount_ = 0;
  const char* lazyFileName_ = "";
  mutable std::vector<uint8_t> lazyImage_;
};

// RAII pin: keeps a page in the cache while a caller holds a pointer to it
// across loads of other pages.
class PagePin {
 public:
  PagePin() = default;
  explicit PagePin(Page* p) : page_(p) { if (page_) ++page_->useCount; }
  PagePin(const PagePin&) = delete;
  PagePin& operator=(const PagePin&) = delete;
  PagePin(PagePin&& o) noexcept : page_(o.page_) { o.page_ = nullptr; }
  ~PagePin() { if (page_) --page_->useCount; }
  Page* get() const { return page_; }

 private:
  Page* page_ = nullptr;
};

}  // namespace pr::store
