// The per-file page cache.
//
// Pages are found by reference in a hash that starts with 100 buckets (bucket
// = reference modulo the bucket count; it grows when an update holds more
// dirty pages than that, so that a lookup stays one short chain), with a
// small table of the pages found lately in front of it (a slot is emptied
// when its page leaves the cache or changes reference).  Clean pages sit in
// least-recently-used order; dirty pages sit in their own list and are never
// evicted.  Each use advances the file's tick and stamps the page.
//
// Eviction, before a page is loaded: from the least-recently-used end, while
// at least 20 clean pages are cached and either 100 or more are, or the
// oldest page has gone unused for at least 4 x ((tick - its load tick) /
// clean count) ticks.  Pinned pages are skipped.
//
// Not thread safe: the driver serialises all use of a file.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "store/page.h"

namespace pr::store {

// A page remembered across loads of other pages: the pointer is good only
// while the cache holds that very page under that reference, and what was
// read from it only while it has not changed since.  The load tick tells
// the page (no two loads share one); every load and every change gives a
// page a generation no other page had.  The eviction or change of other
// pages leaves a mark standing.
struct PageMark {
  const Page* page = nullptr;
  int32_t reference = 0;
  uint64_t loadTick = 0;
  uint64_t generation = 0;
  bool empty() const { return page == nullptr; }
};

class PageCache {
 public:
  PageCache();
  ~PageCache();
  PageCache(const PageCache&) = delete;
  PageCache& operator=(const PageCache&) = delete;

  // The cached page or nullptr; a hit counts as a use.
  Page* Find(int32_t reference);
  // The page a mark names when it is still cached and unchanged since the
  // mark was made, else nullptr.  Not counted as a use.
  const Page* Recall(const PageMark& mark) const {
    if (mark.page == nullptr) return nullptr;
    const Page* p = Lookup(mark.reference);
    return p == mark.page && p->generation == mark.generation ? p : nullptr;
  }
  // The page a mark names when it is still cached under the same reference,
  // changed or not, else nullptr.  Not counted as a use.
  const Page* Holds(const PageMark& mark) const {
    if (mark.page == nullptr) return nullptr;
    const Page* p = Lookup(mark.reference);
    return p == mark.page && p->loadTick == mark.loadTick ? p : nullptr;
  }
  // Counts a use of a page the caller has just recalled (a cursor reading
  // on): it becomes the most recently used, as a Find would make it.
  void Touch(const Page* page);
  static PageMark Mark(const Page* page) { return {page, page->reference_, page->loadTick, page->generation}; }
  // The page cached under reference, or nullptr; not counted as a use.
  const Page* Lookup(int32_t reference) const {
    Recent& slot = recent_[static_cast<uint32_t>(reference) % kRecentSlots];
    if (slot.page != nullptr && slot.reference == reference) return slot.page;
    auto it = pages_.find(reference);
    if (it == pages_.end()) return nullptr;
    slot = {reference, it->second.get()};  // the table is a cache of the hash: filling it changes nothing seen
    return slot.page;
  }
  // Takes ownership of a page just loaded (clean) or created (dirty).
  Page* Add(std::unique_ptr<Page> page, bool dirty);
  // Files the page under a new reference.
  void Rekey(Page* page, int32_t newReference);
  // Every change to a page passes here (it also gives the page a new
  // generation, so marks of it no longer hold).
  void MarkDirty(Page* page);
  void MarkClean(Page* page);
  // Removes and destroys the page.
  void Erase(Page* page);
  // Runs the eviction rule; returns the number of pages evicted.
  size_t EvictBeforeLoad();
  // Drops every page, clean and dirty.
  void Clear();
  // A page object to load into: an evicted page kept for its buffers (so a
  // miss costs no allocation) or a new one.  Empty, with the given reference.
  std::unique_ptr<Page> TakeSpare(int32_t reference);

  // The fewest clean pages eviction leaves.
  static constexpr size_t kMinClean = 20;
  size_t cleanCount() const { return cleanCount_; }
  // The cache holds at least its fewest clean pages, so a load may evict
  // one of them.
  bool UnderPressure() const { return cleanCount_ >= kMinClean; }
  size_t dirtyCount() const { return dirtyCount_; }
  size_t size() const { return pages_.size(); }
  uint64_t tick() const { return tick_; }
  // Incremented whenever a page leaves the cache or changes reference: a
  // coarse stand-in for the marks above (any page, not the one remembered).
  uint64_t epoch() const { return epoch_; }

  // Dirty pages, oldest first.  The list may not change during the walk.
  template <typename F>
  void ForEachDirty(F&& f) {
    for (Page* p = dirtyHead_; p;) {
      Page* n = p->next;
      f(p);
      p = n;
    }
  }

 private:
  void Unlink(Page* page);
  void LinkTail(Page* page, bool dirty);
  // Empties the recent slot of a page leaving the cache or its reference.
  void ForgetRecent(const Page* page) {
    Recent& slot = recent_[static_cast<uint32_t>(page->reference_) % kRecentSlots];
    if (slot.page == page) slot = Recent{};
  }

  std::unordered_map<int32_t, std::unique_ptr<Page>> pages_;
  // Pages found lately, by reference modulo the slot count: a hit needs no
  // hash lookup.  A slot is emptied when its page leaves the cache or its
  // reference, so a filled slot always names a cached page by its own
  // reference.
  struct Recent {
    int32_t reference = 0;
    Page* page = nullptr;
  };
  static constexpr size_t kRecentSlots = 64;
  mutable Recent recent_[kRecentSlots];
  // Evicted clean pages kept for reuse by TakeSpare; at most kMaxSpares.
  std::vector<std::unique_ptr<Page>> spares_;
  Page* cleanHead_ = nullptr;  // least recently used
  Page* cleanTail_ = nullptr;
  Page* dirtyHead_ = nullptr;
  Page* dirtyTail_ = nullptr;
  size_t cleanCount_ = 0;
  size_t dirtyCount_ = 0;
  uint64_t tick_ = 0;
  uint64_t epoch_ = 0;
  uint64_t generation_ = 0;  // the last generation given to a page
};

}  // namespace pr::store
