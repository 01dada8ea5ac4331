#include "store/page_cache.h"

namespace pr::store {

namespace {
constexpr size_t kInitialBuckets = 100;
constexpr size_t kMaxClean = 100;
constexpr size_t kMaxSpares = 4;
}  // namespace

PageCache::PageCache() {
  pages_.rehash(kInitialBuckets);
  pages_.max_load_factor(1.0f);
}

PageCache::~PageCache() { Clear(); }

Page* PageCache::Find(int32_t reference) {
  Recent& slot = recent_[static_cast<uint32_t>(reference) % kRecentSlots];
  Page* p;
  if (slot.page != nullptr && slot.reference == reference) {
    p = slot.page;
  } else {
    auto it = pages_.find(reference);
    if (it == pages_.end()) return nullptr;
    p = it->second.get();
    slot = {reference, p};
  }
  p->useTick = ++tick_;
  if (p->inCleanList && p != cleanTail_) {  // most recently used goes to the tail
    Unlink(p);
    LinkTail(p, false);
  }
  return p;
}

void PageCache::Touch(const Page* page) {
  // The page is cached (the caller has just recalled it): the cache owns it
  // and may relink it.
  Page* p = const_cast<Page*>(page);
  p->useTick = ++tick_;
  // The two cursors of a scan touch their leaves in turn: a page already one
  // of the last two keeps its place (no relinking at every step).
  if (p->inCleanList && p != cleanTail_ && p->next != cleanTail_) {
    Unlink(p);
    LinkTail(p, false);
  }
}

Page* PageCache::Add(std::unique_ptr<Page> page, bool dirty) {
  Page* p = page.get();
  p->loadTick = p->useTick = ++tick_;
  p->generation = ++generation_;
  p->dirty = dirty;
  std::unique_ptr<Page>& held = pages_[p->reference_];
  if (held) {  // a page replaced under its reference leaves the cache
    ++epoch_;
    ForgetRecent(held.get());
    Unlink(held.get());  // every cached page is on one of the lists
  }
  held = std::move(page);
  LinkTail(p, dirty);
  recent_[static_cast<uint32_t>(p->reference_) % kRecentSlots] = {p->reference_, p};
  return p;
}

void PageCache::Rekey(Page* page, int32_t newReference) {
  ForgetRecent(page);
  auto node = pages_.extract(page->reference_);
  page->generation = ++generation_;
  page->reference_ = newReference;
  node.key() = newReference;
  pages_.insert(std::move(node));
  ++epoch_;
}

void PageCache::MarkDirty(Page* page) {
  page->InvalidateImage();
  page->generation = ++generation_;
  if (page->dirty) return;
  Unlink(page);
  page->dirty = true;
  LinkTail(page, true);
}

void PageCache::MarkClean(Page* page) {
  if (!page->dirty) return;
  Unlink(page);
  page->dirty = false;
  LinkTail(page, false);
}

void PageCache::Erase(Page* page) {
  ForgetRecent(page);
  Unlink(page);
  ++epoch_;
  pages_.erase(page->reference_);
}

size_t PageCache::EvictBeforeLoad() {
  size_t evicted = 0;
  Page* p = cleanHead_;
  while (p && cleanCount_ >= kMinClean) {
    Page* next = p->next;
    if (p->useCount > 0) {
      p = next;
      continue;
    }
    bool evict = cleanCount_ >= kMaxClean;
    if (!evict) {
      uint64_t idle = tick_ - p->useTick;
      uint64_t share = (tick_ - p->loadTick) / cleanCount_;
      evict = idle >= 4 * share;
    }
    if (!evict) break;
    ForgetRecent(p);
    Unlink(p);
    ++epoch_;
    auto node = pages_.extract(p->reference_);
    if (spares_.size() < kMaxSpares) {
      node.mapped()->Clear();
      spares_.push_back(std::move(node.mapped()));
    }
    ++evicted;
    p = next;
  }
  return evicted;
}

std::unique_ptr<Page> PageCache::TakeSpare(int32_t reference) {
  if (spares_.empty()) return std::make_unique<Page>(reference, 0);
  std::unique_ptr<Page> page = std::move(spares_.back());
  spares_.pop_back();
  page->reference_ = reference;
  page->dirty = page->inCleanList = false;
  page->useCount = 0;
  page->prev = page->next = nullptr;
  return page;
}

void PageCache::Clear() {
  cleanHead_ = cleanTail_ = dirtyHead_ = dirtyTail_ = nullptr;
  cleanCount_ = dirtyCount_ = 0;
  for (Recent& slot : recent_) slot = Recent{};
  pages_.clear();
  ++epoch_;
}

void PageCache::Unlink(Page* p) {
  Page*& head = p->dirty ? dirtyHead_ : cleanHead_;
  Page*& tail = p->dirty ? dirtyTail_ : cleanTail_;
  if (p->prev) p->prev->next = p->next; else head = p->next;
  if (p->next) p->next->prev = p->prev; else tail = p->prev;
  p->prev = p->next = nullptr;
  if (p->dirty) --dirtyCount_; else --cleanCount_;
  p->inCleanList = false;
}

void PageCache::LinkTail(Page* p, bool dirty) {
  Page*& head = dirty ? dirtyHead_ : cleanHead_;
  Page*& tail = dirty ? dirtyTail_ : cleanTail_;
  p->prev = tail;
  p->next = nullptr;
  if (tail) tail->next = p; else head = p;
  tail = p;
  if (dirty) ++dirtyCount_; else ++cleanCount_;
  p->inCleanList = !dirty;
}

}  // namespace pr::store
