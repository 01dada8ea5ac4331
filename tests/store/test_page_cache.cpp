// The page cache's table of recent finds must never hand out a page that
// left the cache or now answers to another reference.
#include <gtest/gtest.h>

#include <memory>

#include "store/page_cache.h"

namespace pr::store::testing {
namespace {

Page* AddDirty(PageCache& cache, int32_t reference) {
  return cache.Add(std::make_unique<Page>(reference, 0), true);
}

TEST(PageCacheRecent, FindsFollowErasuresReplacementsMovesAndEvictions) {
  PageCache cache;
  // References 64 apart share a slot of the table.
  Page* a = AddDirty(cache, 3);
  Page* b = AddDirty(cache, 3 + 64);
  EXPECT_EQ(cache.Find(3), a);
  EXPECT_EQ(cache.Find(3 + 64), b);
  EXPECT_EQ(cache.Find(3), a);

  // Gone and replaced under the same reference.
  cache.Erase(a);
  EXPECT_EQ(cache.Find(3), nullptr);
  Page* again = AddDirty(cache, 3);
  EXPECT_EQ(cache.Find(3), again);

  // Filed under another reference: the old one answers nothing.
  cache.Rekey(again, -7);
  EXPECT_EQ(cache.Find(3), nullptr);
  EXPECT_EQ(cache.Find(-7), again);

  // Clean pages evicted, then a page loaded again under the same reference.
  for (int32_t r = 100; r < 300; ++r) cache.Add(std::make_unique<Page>(r, 0), false);
  ASSERT_EQ(cache.Find(100)->reference(), 100);
  ASSERT_GT(cache.EvictBeforeLoad(), 0u);
  Page* reloaded = nullptr;
  for (int32_t r = 100; r < 300; ++r) {
    Page* found = cache.Find(r);
    if (found) {
      EXPECT_EQ(found->reference(), r);
    } else if (!reloaded) {
      reloaded = cache.Add(cache.TakeSpare(r), false);
      EXPECT_EQ(cache.Find(r), reloaded);
    }
  }
  EXPECT_NE(reloaded, nullptr);

  cache.Clear();
  EXPECT_EQ(cache.Find(3 + 64), nullptr);
  EXPECT_EQ(cache.Find(-7), nullptr);
}

TEST(PageCacheMarks, AMarkHoldsUntilItsOwnPageLeavesOrChanges) {
  PageCache cache;
  for (int32_t r = 100; r < 200; ++r) cache.Add(std::make_unique<Page>(r, 0), false);
  Page* kept = cache.Find(199);  // the most recently used: eviction spares it
  const PageMark mark = PageCache::Mark(kept);

  // Other pages are evicted: the mark stands.
  ASSERT_GT(cache.EvictBeforeLoad(), 0u);
  EXPECT_EQ(cache.Recall(mark), kept);
  EXPECT_EQ(cache.Holds(mark), kept);

  // Its page changes: what was read from it is stale, the page is the same.
  cache.MarkDirty(kept);
  EXPECT_EQ(cache.Recall(mark), nullptr);
  EXPECT_EQ(cache.Holds(mark), kept);
  const PageMark dirty = PageCache::Mark(kept);
  EXPECT_EQ(cache.Recall(dirty), kept);

  // Filed under another reference, or erased: neither holds.
  cache.Rekey(kept, -3);
  EXPECT_EQ(cache.Recall(dirty), nullptr);
  EXPECT_EQ(cache.Holds(dirty), nullptr);
  const PageMark moved = PageCache::Mark(kept);
  cache.Erase(kept);
  EXPECT_EQ(cache.Holds(moved), nullptr);

}

TEST(PageCacheMarks, APageLoadedAgainIntoTheSameObjectIsNotTheMarkedOne) {
  // Evicted and loaded again under its reference into the very same object
  // (a spare is reused): the pointer and reference match, the mark does not.
  PageCache cache;
  for (int32_t r = 100; r < 200; ++r) cache.Add(std::make_unique<Page>(r, 0), false);
  Page* oldest = cache.Find(100);
  for (int32_t r = 101; r < 200; ++r) cache.Find(r);  // 100 is the least recently used again
  const PageMark stale = PageCache::Mark(oldest);
  ASSERT_GT(cache.EvictBeforeLoad(), 0u);
  ASSERT_EQ(cache.Find(100), nullptr);
  // Spares are handed out last evicted first: take them until the oldest.
  std::vector<std::unique_ptr<Page>> others;
  Page* again = nullptr;
  for (int i = 0; i < 8 && !again; ++i) {
    std::unique_ptr<Page> spare = cache.TakeSpare(100);
    if (spare.get() == oldest)
      again = cache.Add(std::move(spare), false);
    else
      others.push_back(std::move(spare));
  }
  ASSERT_EQ(again, oldest) << "the spare was not reused: the case is not reached";
  EXPECT_EQ(cache.Recall(stale), nullptr);
  EXPECT_EQ(cache.Holds(stale), nullptr);
  EXPECT_EQ(cache.Find(100), again);

  const PageMark current = PageCache::Mark(again);
  EXPECT_EQ(cache.Recall(current), again);
  cache.Clear();
  EXPECT_EQ(cache.Recall(current), nullptr);
}

}  // namespace
}  // namespace pr::store::testing
