// Cursors keep their leaf while other pages come and go: only the eviction
// or a change of the cursor's own leaf sends it back to find its place by
// key.  A step on the kept leaf counts one use of it (the cache's tick moves
// by one); a repositioning descends from the root and moves it by more.
#include <random>

#include "container_test_util.h"

namespace pr::store::testing {
namespace {

constexpr uint32_t kRecords = 20000;

std::vector<uint8_t> DataOf(uint32_t n) {
  std::vector<uint8_t> data(60);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((n * 2654435761u) >> (i % 24));
  return data;
}

uint32_t NumberOf(ByteView key) {
  return (uint32_t{key[0]} << 24) | (uint32_t{key[1]} << 16) | (uint32_t{key[2]} << 8) | key[3];
}

class ContainerCursor : public ContainerTest {
 protected:
  void SetUp() override {
    ContainerTest::SetUp();
    path_ = dir_.File("cursor.twl");
    FileHandle f(path_, true);
    Container c(f.get(), path_);
    ASSERT_EQ(c.RefreshHeader(), 0);
    for (uint32_t i = 0; i < kRecords; ++i) c.Insert(BigEndianKey(i * 2), DataOf(i * 2));
    ASSERT_EQ(c.WriteUpdate(), 0u);
  }
  // Reads records far from both cursors, so that pages are loaded into a
  // full cache and others evicted.
  static void LoadElsewhere(Container& c, std::mt19937& rng, int lookups) {
    std::vector<uint8_t> data;
    for (int i = 0; i < lookups; ++i) {
      const uint32_t n = kRecords / 2 + rng() % (kRecords / 2);
      ASSERT_TRUE(c.Find(BigEndianKey(n * 2), &data));
      ASSERT_EQ(data, DataOf(n * 2));
    }
  }
  std::string path_;
};

TEST_F(ContainerCursor, KeepsItsLeafWhileOtherPagesAreEvictedAndFindsItsPlaceWhenItsOwnIs) {
  FileHandle f(path_);
  Container c(f.get(), path_);
  ASSERT_EQ(c.RefreshHeader(), 0);
  std::mt19937 rng(5);
  LoadElsewhere(c, rng, 400);  // the cache is full of the upper half's pages
  ASSERT_GE(c.cache().cleanCount(), 20u);

  Cursor cursor(c);
  ASSERT_TRUE(cursor.First());
  ASSERT_EQ(NumberOf(cursor.key()), 0u);
  const uint64_t epoch = c.cache().epoch();
  LoadElsewhere(c, rng, 3);
  ASSERT_NE(c.cache().epoch(), epoch) << "no page was evicted: the test proves nothing";
  uint64_t tick = c.cache().tick();
  ASSERT_TRUE(cursor.Next());
  EXPECT_EQ(NumberOf(cursor.key()), 2u);
  EXPECT_EQ(std::vector<uint8_t>(cursor.data().begin(), cursor.data().end()), DataOf(2));
  EXPECT_LE(c.cache().tick(), tick + 1) << "the cursor repositioned after another page's eviction";

  // Enough loads elsewhere to evict the cursor's leaf: the step finds the
  // next record by key, correctly.
  LoadElsewhere(c, rng, 600);
  tick = c.cache().tick();
  ASSERT_TRUE(cursor.Next());
  EXPECT_EQ(NumberOf(cursor.key()), 4u);
  EXPECT_EQ(std::vector<uint8_t>(cursor.data().begin(), cursor.data().end()), DataOf(4));
  EXPECT_GT(c.cache().tick(), tick + 1) << "the cursor's leaf should have been evicted";
  ASSERT_TRUE(cursor.Prev());
  EXPECT_EQ(NumberOf(cursor.key()), 2u);
}

TEST_F(ContainerCursor, TwoCursorsOfAScanKeepTheirLeavesWhileLookupsLoadPages) {
  // The walk of a table by key: one cursor on the keys, one on the data,
  // and lookups in between that load pages into the full cache.
  FileHandle f(path_);
  Container c(f.get(), path_);
  ASSERT_EQ(c.RefreshHeader(), 0);
  std::mt19937 rng(8);
  LoadElsewhere(c, rng, 400);
  Cursor low(c), high(c);
  ASSERT_TRUE(low.First());
  ASSERT_TRUE(high.SeekGE(BigEndianKey(kRecords / 4 * 2)));
  constexpr int kSteps = 3000;
  int repositioned = 0;
  for (int step = 1; step <= kSteps; ++step) {
    if (step % 2 == 0) LoadElsewhere(c, rng, 1);
    uint64_t tick = c.cache().tick();
    ASSERT_TRUE(low.Next());
    ASSERT_EQ(NumberOf(low.key()), static_cast<uint32_t>(step * 2));
    if (c.cache().tick() > tick + 1) ++repositioned;
    tick = c.cache().tick();
    ASSERT_TRUE(high.Next());
    ASSERT_EQ(NumberOf(high.key()), static_cast<uint32_t>((kRecords / 4 + step) * 2));
    ASSERT_EQ(std::vector<uint8_t>(high.data().begin(), high.data().end()), DataOf(NumberOf(high.key())));
    if (c.cache().tick() > tick + 1) ++repositioned;
  }
  // A repositioning at each leaf's end, and now and then when a cursor's
  // own leaf has aged out of the cache; never one for each page loaded.
  EXPECT_LT(repositioned, kSteps / 5) << repositioned << " of " << 2 * kSteps << " steps repositioned";
}

TEST_F(ContainerCursor, AChangeToItsOwnLeafMovesTheCursorAndAChangeElsewhereDoesNot) {
  auto tree = Container::CreateInMemory();
  for (uint32_t i = 0; i < 5000; ++i) tree->Insert(BigEndianKey(i * 2), DataOf(i * 2));
  Cursor cursor(*tree);
  ASSERT_TRUE(cursor.SeekGE(BigEndianKey(200)));

  // Another leaf changes, splits included: the cursor keeps its place.
  for (uint32_t i = 0; i < 200; ++i) tree->Insert(BigEndianKey(8001 + i * 2), DataOf(1));
  uint64_t tick = tree->cache().tick();
  ASSERT_TRUE(cursor.Next());
  EXPECT_EQ(NumberOf(cursor.key()), 202u);
  EXPECT_LE(tree->cache().tick(), tick + 1);

  // Its own leaf gains a record right after it, then loses the next one:
  // each step sees the leaf as it is now.
  ASSERT_TRUE(tree->Insert(BigEndianKey(203), DataOf(203)));
  ASSERT_TRUE(cursor.Next());
  EXPECT_EQ(NumberOf(cursor.key()), 203u);
  ASSERT_TRUE(tree->Erase(BigEndianKey(204)));
  ASSERT_TRUE(cursor.Next());
  EXPECT_EQ(NumberOf(cursor.key()), 206u);
  ASSERT_TRUE(tree->Replace(BigEndianKey(204 + 4), DataOf(7)));
  ASSERT_TRUE(cursor.Next());
  EXPECT_EQ(NumberOf(cursor.key()), 208u);
  EXPECT_EQ(std::vector<uint8_t>(cursor.data().begin(), cursor.data().end()), DataOf(7));
  ASSERT_TRUE(cursor.Prev());
  EXPECT_EQ(NumberOf(cursor.key()), 206u);
  ASSERT_TRUE(cursor.Prev());
  EXPECT_EQ(NumberOf(cursor.key()), 203u);
}

TEST_F(ContainerCursor, ACursorOutlivesTheCachesOfARefreshThatSawAnotherWriter) {
  FileHandle f(path_);
  Container reader(f.get(), path_);
  ASSERT_EQ(reader.RefreshHeader(), 0);
  Cursor cursor(reader);
  ASSERT_TRUE(cursor.SeekGE(BigEndianKey(100)));
  {
    FileHandle g(path_);
    Container writer(g.get(), path_);
    ASSERT_EQ(writer.RefreshHeader(), 0);
    ASSERT_TRUE(writer.Insert(BigEndianKey(101), DataOf(101)));
    ASSERT_EQ(writer.WriteUpdate(), 0u);
  }
  // The refresh drops every cached page; the cursor's leaf is gone with
  // them and the step reads the file as it is now.
  ASSERT_EQ(reader.RefreshHeader(), 0);
  ASSERT_TRUE(cursor.Next());
  EXPECT_EQ(NumberOf(cursor.key()), 101u);
  ASSERT_TRUE(cursor.Next());
  EXPECT_EQ(NumberOf(cursor.key()), 102u);
}

}  // namespace
}  // namespace pr::store::testing
