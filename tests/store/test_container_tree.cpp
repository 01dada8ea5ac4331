// The page tree: ordered operations against a model, splits, separators,
// cursors over a changing tree.
#include <algorithm>
#include <map>
#include <random>

#include "container_test_util.h"
#include "store/container_verify.h"

namespace pr::store::testing {
namespace {

using Model = std::map<std::vector<uint8_t>, std::vector<uint8_t>>;

std::vector<uint8_t> RandomKey(std::mt19937& rng) {
  std::vector<uint8_t> key(1 + rng() % 12);
  for (auto& b : key) b = static_cast<uint8_t>(rng() % 6);  // many shared prefixes and prefix keys
  return key;
}

class ContainerTree : public ContainerTest {};

TEST_F(ContainerTree, RandomOperationsMatchAnOrderedMap) {
  auto tree = Container::CreateInMemory();
  Model model;
  std::mt19937 rng(11);
  std::vector<uint8_t> k, d;
  for (int step = 0; step < 30000; ++step) {
    auto key = RandomKey(rng);
    std::vector<uint8_t> data(rng() % 40, static_cast<uint8_t>(step));
    switch (rng() % 4) {
      case 0:
      case 1:
        ASSERT_EQ(tree->Insert(key, data), model.emplace(key, data).second);
        break;
      case 2:
        ASSERT_EQ(tree->Erase(key), model.erase(key) == 1);
        break;
      case 3: {
        bool present = model.count(key);
        ASSERT_EQ(tree->Replace(key, data), present);
        if (present) model[key] = data;
        break;
      }
    }
    if (step % 97 == 0) {
      auto probe = RandomKey(rng);
      auto ge = model.lower_bound(probe);
      ASSERT_EQ(tree->SeekGE(probe, &k, &d), ge != model.end());
      if (ge != model.end()) {
        ASSERT_EQ(k, ge->first);
      }
      auto gt = model.upper_bound(probe);
      ASSERT_EQ(tree->SeekGT(probe, &k, nullptr), gt != model.end());
      if (gt != model.end()) {
        ASSERT_EQ(k, gt->first);
      }
      ASSERT_EQ(tree->SeekLE(probe, &k, nullptr), gt != model.begin());
      if (gt != model.begin()) {
        ASSERT_EQ(k, std::prev(gt)->first);
      }
      ASSERT_EQ(tree->SeekLT(probe, &k, nullptr), ge != model.begin());
      if (ge != model.begin()) {
        ASSERT_EQ(k, std::prev(ge)->first);
      }
      ASSERT_EQ(tree->Find(probe, &d), model.count(probe) == 1);
    }
  }
  VerifyReport report = VerifyContainer(*tree);
  ASSERT_TRUE(report.ok) << report.problem;
  EXPECT_EQ(report.records, model.size());
  // A full walk both ways.
  Cursor cursor(*tree);
  auto it = model.begin();
  for (bool ok = cursor.First(); ok; ok = cursor.Next(), ++it) {
    ASSERT_NE(it, model.end());
    ASSERT_TRUE(std::ranges::equal(cursor.key(), it->first));
    ASSERT_TRUE(std::ranges::equal(cursor.data(), it->second));
  }
  EXPECT_EQ(it, model.end());
  auto rit = model.rbegin();
  for (bool ok = cursor.Last(); ok; ok = cursor.Prev(), ++rit) ASSERT_TRUE(std::ranges::equal(cursor.key(), rit->first));
  EXPECT_EQ(rit, model.rend());
}

TEST_F(ContainerTree, SplitsAtBothThresholds) {
  // Soft rule: over 4096 with more than 20 records.
  auto tree = Container::CreateInMemory();
  std::vector<uint8_t> data(200 - 4 - 5, 1);  // estimate 200 per record
  for (uint32_t i = 0; i < 20; ++i) tree->Insert(BigEndianKey(i), data);
  EXPECT_EQ(VerifyContainer(*tree).levels, 1);  // 13 + 4000: no split yet
  tree->Insert(BigEndianKey(20), data);        // 21 records, estimate 4213
  VerifyReport soft = VerifyContainer(*tree);
  EXPECT_TRUE(soft.ok) << soft.problem;
  EXPECT_EQ(soft.levels, 2);
  EXPECT_EQ(soft.pages, 3u);

  // Hard rule: over 15094 whatever the count.
  auto big = Container::CreateInMemory();
  std::vector<uint8_t> large(5000, 2);
  for (uint32_t i = 0; i < 3; ++i) big->Insert(BigEndianKey(i), large);
  EXPECT_EQ(VerifyContainer(*big).levels, 1);  // 13 + 3 * 5009 = 15040
  big->Insert(BigEndianKey(3), std::vector<uint8_t>(50, 3));
  VerifyReport hard = VerifyContainer(*big);
  EXPECT_TRUE(hard.ok) << hard.problem;
  EXPECT_EQ(hard.levels, 2);
}

TEST_F(ContainerTree, SmallestKeysLowerTheSeparators) {
  auto tree = Container::CreateInMemory();
  std::vector<uint8_t> data(300, 7);
  for (uint32_t i = 1000; i > 0; --i) {  // every insertion is a new smallest key
    ASSERT_TRUE(tree->Insert(BigEndianKey(i * 3), data));
  }
  ASSERT_TRUE(VerifyContainer(*tree).ok);
  // Keys that fall before, between and after everything.
  for (uint32_t probe : {0u, 1u, 4u, 3001u, 99999u}) {
    std::vector<uint8_t> k;
    bool found = tree->SeekGE(BigEndianKey(probe), &k, nullptr);
    ASSERT_EQ(found, probe <= 3000);
    if (found) {
      EXPECT_EQ(k, BigEndianKey((probe + 2) / 3 * 3 == 0 ? 3 : (probe + 2) / 3 * 3));
    }
  }
  // Deleting from the front raises the separators again.
  for (uint32_t i = 1; i <= 500; ++i) ASSERT_TRUE(tree->Erase(BigEndianKey(i * 3)));
  VerifyReport report = VerifyContainer(*tree);
  ASSERT_TRUE(report.ok) << report.problem;
  EXPECT_EQ(report.records, 500u);
  std::vector<uint8_t> first;
  ASSERT_TRUE(tree->First(&first, nullptr));
  EXPECT_EQ(first, BigEndianKey(1503));
  // Emptying the tree leaves an empty root that takes records again.
  for (uint32_t i = 501; i <= 1000; ++i) ASSERT_TRUE(tree->Erase(BigEndianKey(i * 3)));
  EXPECT_FALSE(tree->First(nullptr, nullptr));
  EXPECT_TRUE(tree->Insert(Bytes("again"), Bytes("x")));
  EXPECT_TRUE(tree->Find(Bytes("again"), nullptr));
}

// Key order decides where every record lives: unsigned bytes over the
// shorter length, then the shorter key first, for every length and for a
// difference at any position (the comparison works a word at a time).
TEST(ContainerKeyOrder, UnsignedBytesThenLength) {
  std::mt19937 rng(17);
  auto reference = [](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end())) return -1;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end())) return 1;
    return 0;
  };
  for (int trial = 0; trial < 200000; ++trial) {
    std::vector<uint8_t> a(rng() % 80);
    for (auto& x : a) x = static_cast<uint8_t>(rng() % 3 ? 0x7F + rng() % 3 : rng());
    std::vector<uint8_t> b = a;
    switch (rng() % 3) {
      case 0:  // one byte changed
        if (!b.empty()) b[rng() % b.size()] = static_cast<uint8_t>(rng());
        break;
      case 1:  // cut or grown
        b.resize(rng() % 80, static_cast<uint8_t>(rng()));
        break;
      default:
        break;
    }
    auto sign = [](int c) { return (c > 0) - (c < 0); };
    ASSERT_EQ(sign(CompareKeys(a, b)), reference(a, b)) << "sizes " << a.size() << " " << b.size();
    ASSERT_EQ(sign(CompareKeys(b, a)), reference(b, a));
  }
}

// The write path skips the descent for a key inside a leaf it reached
// recently.  Interleaved streams of ascending keys in three ranges (as the
// data records, key entries and counters of one table are), read-modify-write
// of a counter, erasures that empty leaves, keys below everything and updates
// written in between (pages re-filed, clean pages evicted) must all leave
// each record on the one leaf its entries lead to.
TEST_F(ContainerTree, RememberedLeavesFollowSplitsErasuresAndMoves) {
  const std::string path = dir_.File("memo.twl");
  FileHandle f(path, true);
  Container c(f.get(), path);
  Model model;
  std::mt19937 rng(5);
  auto keyOf = [](uint8_t range, uint32_t n) {
    std::vector<uint8_t> key = BigEndianKey(n);
    key.insert(key.begin(), range);
    return key;
  };
  const std::vector<uint8_t> counter = keyOf('B', 0);
  uint32_t next[3] = {1000, 1000, 1000};
  uint32_t low = 1000;
  for (int step = 0; step < 40000; ++step) {
    const uint8_t range = static_cast<uint8_t>('A' + step % 3);
    std::vector<uint8_t> data(8 + rng() % 30, static_cast<uint8_t>(step));
    switch (rng() % 16) {
      case 0: {  // a key below every key of the range
        auto key = keyOf(range, --low % 1000);
        ASSERT_EQ(c.Insert(key, data), model.emplace(key, data).second);
        break;
      }
      case 1:
      case 2: {  // erase a run, sometimes a whole leaf's worth
        const uint32_t from = 1000 + rng() % (next[range - 'A'] - 999);
        const uint32_t to = from + 1 + rng() % 150;
        for (uint32_t n = from; n < to; ++n) {
          auto key = keyOf(range, n);
          ASSERT_EQ(c.Erase(key), model.erase(key) == 1);
        }
        break;
      }
      case 3: {  // change the counter in place, or put it when it is missing
        auto it = model.find(counter);
        auto bump = [](uint8_t* bytes, size_t length, void*) {
          for (size_t i = 0; i < length; ++i) ++bytes[i];
        };
        const bool changed = c.ChangeData(counter, 8, bump, nullptr);
        ASSERT_EQ(changed, it != model.end() && it->second.size() == 8);
        if (changed) {
          for (auto& b : it->second) ++b;
        } else {
          data.resize(8);
          c.Put(counter, data);
          model[counter] = data;
        }
        break;
      }
      default: {
        auto key = keyOf(range, next[range - 'A']++);
        ASSERT_TRUE(c.Insert(key, data));
        model[key] = data;
      }
    }
    if (step % 4000 == 3999) {
      ASSERT_EQ(c.WriteUpdate(), 0u);
      VerifyReport report = VerifyContainer(c);
      ASSERT_TRUE(report.ok) << report.problem;
      ASSERT_EQ(report.records, model.size());
    }
  }
  ASSERT_EQ(c.WriteUpdate(), 0u);
  Container reread(f.get(), path);
  ASSERT_EQ(reread.RefreshHeader(), 0);
  Cursor cursor(reread);
  auto it = model.begin();
  for (bool more = cursor.First(); more; more = cursor.Next(), ++it) {
    ASSERT_NE(it, model.end());
    ASSERT_TRUE(std::equal(it->first.begin(), it->first.end(), cursor.key().begin(), cursor.key().end()));
    ASSERT_TRUE(std::equal(it->second.begin(), it->second.end(), cursor.data().begin(), cursor.data().end()));
  }
  EXPECT_EQ(it, model.end());
}

TEST_F(ContainerTree, CursorFollowsChangesBetweenSteps) {
  auto tree = Container::CreateInMemory();
  for (uint32_t i = 0; i < 2000; i += 2) tree->Insert(BigEndianKey(i), std::vector<uint8_t>(50, 1));
  Cursor cursor(*tree);
  ASSERT_TRUE(cursor.SeekGE(BigEndianKey(1000)));
  // Insert right after the cursor, erase the record it stands on.
  tree->Insert(BigEndianKey(1001), Bytes("new"));
  tree->Erase(BigEndianKey(1000));
  ASSERT_TRUE(cursor.Next());
  EXPECT_TRUE(std::ranges::equal(cursor.key(), BigEndianKey(1001)));
  ASSERT_TRUE(cursor.Prev());
  EXPECT_TRUE(std::ranges::equal(cursor.key(), BigEndianKey(998)));
  // Erase a whole stretch ahead, splits and frees included.
  for (uint32_t i = 1002; i < 1800; i += 2) tree->Erase(BigEndianKey(i));
  ASSERT_TRUE(cursor.Next());
  ASSERT_TRUE(cursor.Next());
  EXPECT_TRUE(std::ranges::equal(cursor.key(), BigEndianKey(1800)));
  ASSERT_TRUE(cursor.SeekLE(BigEndianKey(5)));
  EXPECT_TRUE(std::ranges::equal(cursor.key(), BigEndianKey(4)));
  ASSERT_TRUE(cursor.SeekLT(BigEndianKey(0)) == false);
  EXPECT_FALSE(cursor.valid());
}

TEST_F(ContainerTree, RecordSizeLimits) {
  auto tree = Container::CreateInMemory();
  // The largest record that fits a page of its own is stored.
  std::vector<uint8_t> data(15086 - 4);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + (i >> 8));
  EXPECT_TRUE(tree->Insert(BigEndianKey(1), data));
  EXPECT_TRUE(tree->Insert(BigEndianKey(2), data));
  EXPECT_TRUE(VerifyContainer(*tree).ok);
  // Longer ones are refused with the box before anything changes.
  data.push_back(0);
  EXPECT_EQ(DriverErrorOf([&] { tree->Insert(BigEndianKey(3), data); }), 824);
  EXPECT_EQ(DriverErrorOf([&] { tree->Insert(BigEndianKey(3), std::vector<uint8_t>(15094)); }), 824);
  EXPECT_FALSE(tree->Find(BigEndianKey(3), nullptr));
}

}  // namespace
}  // namespace pr::store::testing
