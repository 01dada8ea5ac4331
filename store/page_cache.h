// The per-file page cache.
//
// Pages are found by reference in a hash that starts with 100 buckets (bucket
// = reference modulo the bucket count; it grows when an update holds more
// dirty pages than that, so that a lookup stays one short chain), with a
// small table of the pages found lately in front of it.  Clean pages sit in
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

class PageCache {
 public:
  PageCache();
  ~PageCache();
  PageCache(const PageCache&) = delete;
  PageCache& operator=(const PageCache&) = delete;

  // The cached page or nullptr; a hit counts as a use.
  Page* Find(int32_t reference);
  // Takes ownership of a page just loaded (clean) or created (dirty).
  Page* Add(std::unique_ptr<Page> page, bool dirty);
  // Files the page under a new reference.
  void Rekey(Page* page, int32_t newReference);
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

  size_t cleanCount() const { return cleanCount_; }
  size_t dirtyCount() const { return dirtyCount_; }
  size_t size() const { return pages_.size(); }
  uint64_t tick() const { return tick_; }
  // Incremented whenever a page leaves the cache or changes reference; a
  // Page* remembered at one value stays valid while the value is unchanged.
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

  std::unordered_map<int32_t, std::unique_ptr<Page>> pages_;
  // Pages found lately, by reference modulo the slot count: a hit needs no
  // hash lookup.  A slot holds while the epoch is the one it was filled at
  // (until then its page keeps its reference and stays cached).
  struct Recent {
    int32_t reference = 0;
    uint64_t epoch = ~uint64_t{0};
    Page* page = nullptr;
  };
  static constexpr size_t kRecentSlots = 64;
  Recent recent_[kRecentSlots];
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
};

}  // namespace pr::store
