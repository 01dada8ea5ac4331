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

}  // namespace
}  // namespace pr::store::testing
