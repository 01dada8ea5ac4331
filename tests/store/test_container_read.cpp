// The read path: leaves searched in their image agree with decoded leaves;
// an unguarded read loads pages from the mapping without the reader slot
// and is stopped with StaleRead when it meets a change; reads
// through the mapping follow a growing file and fail cleanly on a cut one.
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>

#include "container_test_util.h"
#include "store/container_verify.h"
#include "store/page_codec.h"

namespace pr::store::testing {
namespace {

class ContainerRead : public ContainerTest {};

// Keys of mixed lengths and shared prefixes, as tables, kinds and indexes
// put them side by side in one tree.
std::vector<uint8_t> MixedKey(uint32_t n) {
  std::vector<uint8_t> key = {static_cast<uint8_t>(1 + n % 3), static_cast<uint8_t>(n % 5)};
  std::vector<uint8_t> number = BigEndianKey(n * 7);
  key.insert(key.end(), number.begin(), number.end());
  if (n % 4 == 0) key.insert(key.end(), {0x20, 0x20, static_cast<uint8_t>(n)});
  return key;
}

struct KeyLess {
  bool operator()(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) const {
    return CompareKeys(a, b) < 0;
  }
};

TEST_F(ContainerRead, LookupsInLeafImagesFindWhatTheTreeHolds) {
  std::string path = dir_.File("lazy.twl");
  std::map<std::vector<uint8_t>, std::vector<uint8_t>, KeyLess> expected;
  {
    FileHandle f(path, true);
    Container c(f.get(), path);
    ASSERT_EQ(c.RefreshHeader(), 0);
    for (uint32_t n = 0; n < 6000; ++n) {
      std::vector<uint8_t> data(n % 40, static_cast<uint8_t>(n));
      ASSERT_TRUE(c.Insert(MixedKey(n), data));
      expected[MixedKey(n)] = data;
    }
    ASSERT_EQ(c.WriteUpdate(), 0u);
  }
  // Probes: every third key, and keys just around it (shorter, longer, one
  // more in the last byte), and the ends.
  std::vector<std::vector<uint8_t>> probes = {{}, {0xFF, 0xFF}, {0}};
  size_t i = 0;
  for (const auto& [key, data] : expected) {
    if (i++ % 3 != 0) continue;
    probes.push_back(key);
    probes.emplace_back(key.begin(), key.end() - 1);
    probes.push_back(key);
    probes.back().push_back(0);
    probes.push_back(key);
    ++probes.back().back();
  }

  FileHandle f(path);
  Container c(f.get(), path);
  ASSERT_EQ(c.RefreshHeader(), 0);
  for (const auto& probe : probes) {
    std::vector<uint8_t> key, data, exact;
    auto it = expected.lower_bound(probe);
    ASSERT_EQ(c.SeekGE(probe, &key, &data), it != expected.end());
    if (it != expected.end()) {
      EXPECT_EQ(key, it->first);
      EXPECT_EQ(data, it->second);
    }
    bool present = expected.count(probe) != 0;
    ASSERT_EQ(c.Find(probe, &exact), present);
    if (present) {
      EXPECT_EQ(exact, expected[probe]);
    }
  }
  VerifyReport report = VerifyContainer(c);
  EXPECT_TRUE(report.ok) << report.problem;
  EXPECT_EQ(report.records, expected.size());
}

// A page whose records share bytes past the end of a key part is answered
// by decoding it: the search in the image does not guess.
TEST_F(ContainerRead, PrefixSharedPastTheKeyIsAnsweredByTheDecodedPage) {
  std::string path = dir_.File("past.twl");
  {
    FileHandle f(path, true);
    Container c(f.get(), path);
    ASSERT_EQ(c.RefreshHeader(), 0);
    // "ab" + data "cdef" is followed by key "abcd": they share four bytes.
    ASSERT_TRUE(c.Insert(Bytes("ab"), Bytes("cdef")));
    ASSERT_TRUE(c.Insert(Bytes("abcd"), Bytes("x")));
    ASSERT_TRUE(c.Insert(Bytes("abce"), Bytes("y")));
    ASSERT_EQ(c.WriteUpdate(), 0u);
  }
  FileHandle f(path);
  Container c(f.get(), path);
  ASSERT_EQ(c.RefreshHeader(), 0);
  std::vector<uint8_t> key, data;
  ASSERT_TRUE(c.Find(Bytes("abce"), &data));
  EXPECT_EQ(data, Bytes("y"));
  ASSERT_TRUE(c.SeekGE(Bytes("abc"), &key, &data));
  EXPECT_EQ(key, Bytes("abcd"));
  EXPECT_FALSE(c.Find(Bytes("abc"), &data));
}

// Counts the reader slots a reader takes (and lets every one through).
class CountingHooks : public ContainerHooks {
 public:
  int slots = 0;
  DWORD LockReaderSlot() override {
    ++slots;
    return 0;
  }
};

// A reader whose every read may run without its slot, as the driver's
// repeatable reads do.
struct UnguardedReader {
  explicit UnguardedReader(const std::string& path) : file(path), container(file.get(), path) {
    container.SetHooks(&hooks);
  }
  ~UnguardedReader() { container.SetHooks(nullptr); }
  int Begin() {
    container.SetReadState(false);
    container.SetReadState(true);
    container.AllowUnguardedRead();
    return container.RefreshHeader();
  }
  FileHandle file;
  Container container;
  CountingHooks hooks;
};

TEST_F(ContainerRead, UnguardedReadLoadsUnchangedPagesWithoutTheSlotAndStopsWhenTheFileChanged) {
  std::string path = dir_.File("race.twl");
  FileHandle wf(path, true);
  Container writer(wf.get(), path);
  ASSERT_EQ(writer.RefreshHeader(), 0);
  for (uint32_t n = 0; n < 20000; ++n) ASSERT_TRUE(writer.Insert(BigEndianKey(n), Bytes("old")));
  ASSERT_EQ(writer.WriteUpdate(), 0u);

  UnguardedReader r(path);
  Container& reader = r.container;
  CountingHooks& hooks = r.hooks;
  auto beginRead = [&] { return r.Begin(); };
  std::vector<uint8_t> data;
  ASSERT_EQ(beginRead(), 0);  // the first look takes the slot
  EXPECT_EQ(hooks.slots, 1);
  ASSERT_TRUE(reader.Find(BigEndianKey(5), &data));

  // Nothing changed: cached pages are read without the slot.
  ASSERT_EQ(beginRead(), 0);
  EXPECT_TRUE(reader.unguarded());
  ASSERT_TRUE(reader.Find(BigEndianKey(6), &data));
  EXPECT_EQ(hooks.slots, 1);

  // A page the cache lacks is copied out of the mapping: unchanged, no slot.
  ASSERT_TRUE(reader.Find(BigEndianKey(19000), &data));
  EXPECT_EQ(data, Bytes("old"));
  EXPECT_EQ(hooks.slots, 1);
  EXPECT_TRUE(reader.unguarded());

  // The writer commits during the read: the next page the cache lacks sees
  // the new counter, takes the slot and stops the read.
  ASSERT_EQ(beginRead(), 0);
  ASSERT_TRUE(reader.unguarded());
  ASSERT_TRUE(writer.Replace(BigEndianKey(10000), Bytes("new")));
  ASSERT_EQ(writer.WriteUpdate(), 0u);
  EXPECT_THROW(reader.Find(BigEndianKey(10000), &data), StaleRead);
  EXPECT_EQ(hooks.slots, 2);
  // Repeated with the slot held, after a full refresh: the new state.
  ASSERT_EQ(reader.RefreshHeader(), 0);
  ASSERT_TRUE(reader.Find(BigEndianKey(10000), &data));
  EXPECT_EQ(data, Bytes("new"));

  // An update between phases (pending area named, pages not yet home): a
  // load sees it before copying and takes the slot, which the writer holds
  // in earnest; here the hook lets it through and the read stops.
  ASSERT_EQ(beginRead(), 0);
  ASSERT_TRUE(reader.unguarded());
  ASSERT_TRUE(writer.Replace(BigEndianKey(15000), Bytes("mid")));
  ASSERT_EQ(writer.WriteUpdatePhaseOne(), 0u);
  EXPECT_THROW(reader.Find(BigEndianKey(15000), &data), StaleRead);
  ASSERT_EQ(writer.WriteUpdatePhaseTwo(), 0u);
  ASSERT_EQ(reader.RefreshHeader(), 0);
  ASSERT_TRUE(reader.Find(BigEndianKey(15000), &data));
  EXPECT_EQ(data, Bytes("mid"));

  // A change seen at the start of a read is a plain refresh: no stale read.
  ASSERT_TRUE(writer.Replace(BigEndianKey(6), Bytes("six")));
  ASSERT_EQ(writer.WriteUpdate(), 0u);
  ASSERT_EQ(beginRead(), 0);
  EXPECT_FALSE(reader.unguarded());
  ASSERT_TRUE(reader.Find(BigEndianKey(6), &data));
  EXPECT_EQ(data, Bytes("six"));
  reader.SetReadState(false);
}

// Lookups spread over a file of three levels fill the cache; nodes it lacks
// are then searched where they lie in the mapping.  Every answer must be the
// tree's, a change committed during a read must still stop it, and a node
// damaged on disk is still reported by the load it falls back to.
TEST_F(ContainerRead, NodesSearchedInTheMappingGiveTheTreesAnswers) {
  std::string path = dir_.File("nodes.twl");
  FileHandle wf(path, true);
  Container writer(wf.get(), path);
  ASSERT_EQ(writer.RefreshHeader(), 0);
  constexpr uint32_t kKeys = 80000;
  auto value = [](uint32_t n) { return Bytes("partner " + std::to_string(n * 2654435761u)); };
  for (uint32_t n = 0; n < kKeys; ++n) ASSERT_TRUE(writer.Insert(BigEndianKey(n * 3), value(n)));
  ASSERT_EQ(writer.WriteUpdate(), 0u);

  UnguardedReader r(path);
  Container& reader = r.container;
  CountingHooks& hooks = r.hooks;
  auto beginRead = [&] { return r.Begin(); };
  std::mt19937 random(7);
  std::vector<uint8_t> key, data;
  for (int i = 0; i < 4000; ++i) {
    ASSERT_EQ(beginRead(), 0);
    const uint32_t n = random() % kKeys;
    ASSERT_TRUE(reader.Find(BigEndianKey(n * 3), &data)) << n;
    ASSERT_EQ(data, value(n));
    // Between the keys: absent, and the seek lands on the next one.
    EXPECT_FALSE(reader.Find(BigEndianKey(n * 3 + 1), &data));
    if (n + 1 < kKeys) {
      ASSERT_TRUE(reader.SeekGE(BigEndianKey(n * 3 + 1), &key, &data));
      ASSERT_EQ(key, BigEndianKey((n + 1) * 3));
    }
  }
  EXPECT_GT(reader.nodeStepsInPlace(), 1000u);
  EXPECT_EQ(hooks.slots, 1);  // no load needed the slot

  // A commit during the read: whatever the next descent searches or loads
  // sees the new counter, and the read stops.
  ASSERT_EQ(beginRead(), 0);
  ASSERT_TRUE(reader.unguarded());
  ASSERT_TRUE(writer.Replace(BigEndianKey(3 * 41234), Bytes("changed")));
  ASSERT_EQ(writer.WriteUpdate(), 0u);
  const uint64_t before = reader.nodeStepsInPlace();
  EXPECT_THROW(reader.Find(BigEndianKey(3 * 41234), &data), StaleRead);
  EXPECT_EQ(reader.nodeStepsInPlace(), before);
  ASSERT_EQ(reader.RefreshHeader(), 0);
  ASSERT_TRUE(reader.Find(BigEndianKey(3 * 41234), &data));
  EXPECT_EQ(data, Bytes("changed"));
  reader.SetReadState(false);
}

// A node below the root whose image names the wrong level, damaged on disk
// while a reader's cache is full: the search in the mapping gives it up, and
// the load it falls back to raises the driver error (following it would
// have been silent: its children are the leaves they always were).
TEST_F(ContainerRead, ANodeOfTheWrongLevelIsNotSearchedInTheMapping) {
  std::string path = dir_.File("level.twl");
  constexpr uint32_t kKeys = 80000;
  {
    FileHandle wf(path, true);
    Container writer(wf.get(), path);
    ASSERT_EQ(writer.RefreshHeader(), 0);
    for (uint32_t n = 0; n < kKeys; ++n) ASSERT_TRUE(writer.Insert(BigEndianKey(n), Bytes("partner name")));
    ASSERT_EQ(writer.WriteUpdate(), 0u);
  }
  UnguardedReader r(path);
  std::vector<uint8_t> data;
  for (uint32_t n = 0; n < kKeys; n += 101) {
    ASSERT_EQ(r.Begin(), 0);
    ASSERT_TRUE(r.container.Find(BigEndianKey(n), &data));
  }
  ASSERT_TRUE(r.container.cache().UnderPressure());
  // A level-1 node the cache does not hold (a page image at its own home
  // whose level byte is 1) is marked level 2, in place.
  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  long damagedAt = -1;
  for (size_t at = kHeaderSize; at + kPageHeaderSize <= bytes.size() && damagedAt < 0; at += kUnit) {
    if (LoadU32(&bytes[at]) == at && bytes[at + 12] == 1 &&
        r.container.cache().Lookup(static_cast<int32_t>((at - kHeaderSize) / kUnit)) == nullptr)
      damagedAt = static_cast<long>(at);
  }
  ASSERT_GE(damagedAt, 0);
  FILE* f = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fseek(f, damagedAt + 12, SEEK_SET), 0);
  ASSERT_EQ(std::fputc(2, f), 2);
  std::fclose(f);

  int raised = 0;
  for (uint32_t n = 0; n < kKeys && raised == 0; n += 101) {
    ASSERT_EQ(r.Begin(), 0);
    raised = DriverErrorOf([&] { r.container.Find(BigEndianKey(n), &data); });
  }
  EXPECT_EQ(raised, kErrPageLevelMismatch);
}

TEST_F(ContainerRead, MappedReadsFollowAGrowingFileAndFailCleanlyOnACutOne) {
  std::string path = dir_.File("grow.twl");
  FileHandle wf(path, true);
  Container writer(wf.get(), path);
  ASSERT_EQ(writer.RefreshHeader(), 0);
  ASSERT_TRUE(writer.Insert(BigEndianKey(1), Bytes("one")));
  ASSERT_EQ(writer.WriteUpdate(), 0u);

  FileHandle rf(path);
  Container reader(rf.get(), path);
  std::vector<uint8_t> data;
  ASSERT_EQ(reader.RefreshHeader(), 0);
  ASSERT_TRUE(reader.Find(BigEndianKey(1), &data));
  // The file grows well past the length first mapped.
  for (uint32_t n = 2; n < 30000; ++n) ASSERT_TRUE(writer.Insert(BigEndianKey(n), Bytes("more data here")));
  ASSERT_EQ(writer.WriteUpdate(), 0u);
  ASSERT_EQ(reader.RefreshHeader(), 0);
  ASSERT_TRUE(reader.Find(BigEndianKey(29999), &data));
  EXPECT_EQ(data, Bytes("more data here"));

  // Cut under the reader: a page beyond the end is a short read, reported
  // through the driver error box, not a bus error.
  ASSERT_EQ(truncate(path.c_str(), 4096), 0);
  int error = DriverErrorOf([&] {
    for (uint32_t n = 2; n < 30000; n += 97) reader.Find(BigEndianKey(n), &data);
  });
  EXPECT_EQ(error, kErrShortRead);
}


// A bit flipped in an entry of the root can raise it above keys of the
// subtree it leads to (the entries stay in order).  Writes such a file of
// kRaisedRecords keys; *entry receives the key the raised entry held.
constexpr uint32_t kRaisedRecords = 4000;
void WriteFileWithARaisedEntry(const std::string& path, uint32_t* entry) {
  FileHandle f(path, true);
  Container c(f.get(), path);
  ASSERT_EQ(c.RefreshHeader(), 0);
  for (uint32_t n = 0; n < kRaisedRecords; ++n) ASSERT_TRUE(c.Insert(BigEndianKey(n), std::vector<uint8_t>(40, 7)));
  ASSERT_EQ(c.WriteUpdate(), 0u);
  const int32_t root = c.header().rootReference;
  std::vector<uint8_t> bytes = ReadWholeFile(path);
  const uint64_t at = PageOffset(root);
  const uint32_t length = static_cast<uint32_t>(c.header().ClassOf(root)) * kUnit;
  ASSERT_LE(at + length, bytes.size());
  Page page(root, 0);
  std::vector<uint8_t> scratch, image;
  PageCodec::Parse(bytes.data() + at, length, root, true, &page, &scratch, "t");
  ASSERT_TRUE(page.isNode());
  ASSERT_GE(page.count(), 3u);
  // Entry 1 rises halfway towards entry 2.
  const uint32_t low = key_compare::Load32(page.Key(1).data());
  const uint32_t high = key_compare::Load32(page.Key(2).data());
  ASSERT_GT(high - low, 2u);
  *entry = low;
  page.ReplaceKeyAt(1, BigEndianKey(low + (high - low) / 2));
  PageCodec::Build(page, root, &image, &scratch, "t");
  ASSERT_EQ(image.size(), length);
  std::copy(image.begin(), image.end(), bytes.begin() + static_cast<long>(at));
  WriteWholeFile(path, bytes);
}

// The file of WriteFileWithARaisedEntry, open.
class RaisedEntry : public ContainerRead {
 protected:
  void SetUp() override {
    ContainerRead::SetUp();
    const std::string path = dir_.File("raised.twl");
    ASSERT_NO_FATAL_FAILURE(WriteFileWithARaisedEntry(path, &entry_));
    handle_ = std::make_unique<FileHandle>(path);
    container_ = std::make_unique<Container>(handle_->get(), path);
    ASSERT_EQ(container_->RefreshHeader(), 0);
  }
  void TearDown() override {
    container_.reset();
    handle_.reset();
    ContainerRead::TearDown();
  }
  uint32_t entry_ = 0;
  std::unique_ptr<FileHandle> handle_;
  std::unique_ptr<Container> container_;
};

// A walk (each step a search for the key after the last one, as a key step
// does) met the keys below the raised entry again and again and never ended;
// it must stop with the driver error instead.
TEST_F(RaisedEntry, AWalkStopsInsteadOfGoingRound) {
  Container& c = *container_;
  EXPECT_FALSE(VerifyContainer(c).ok);
  auto walk = [&](auto step) {
    std::vector<uint8_t> key, next;
    uint32_t steps = 0;
    return DriverErrorOf([&] {
      if (!c.First(&key, nullptr)) return;
      while (step(key, &next)) {
        ASSERT_GT(CompareKeys(next, key), 0) << "step " << steps;
        ASSERT_LT(++steps, kRaisedRecords) << "the walk goes round";
        key.swap(next);
      }
    });
  };
  EXPECT_EQ(walk([&](const std::vector<uint8_t>& at, std::vector<uint8_t>* out) {
              return c.SeekGT(at, out, nullptr);
            }),
            kErrTreeInconsistent);
  // A cursor steps inside a leaf by the leaf's own order and may get through
  // to the end; what must hold is that it moves on at every step and ends.
  Cursor cursor(c);
  const int error = walk([&](const std::vector<uint8_t>& at, std::vector<uint8_t>* out) {
    if (!cursor.valid() || CompareKeys(cursor.key(), at) != 0) cursor.SeekGE(at);
    if (!cursor.Next()) return false;
    out->assign(cursor.key().begin(), cursor.key().end());
    return true;
  });
  EXPECT_TRUE(error == 0 || error == kErrTreeInconsistent) << error;
}

// Emptying a table or a key erases by prefix.  The ordered search reaches
// the first key below the raised entry (the first of its leaf), the exact
// search is sent to the leaf before and misses it, and the loop that erased
// "the first key with the prefix" went on for ever.
TEST_F(RaisedEntry, ErasingPastItStopsWithTheDriverError) {
  ASSERT_EQ(container_->BeginUpdate(), 0u);
  EXPECT_EQ(DriverErrorOf([&] { container_->ErasePrefix(BigEndianKey(entry_)); }), kErrTreeInconsistent);
}

}  // namespace
}  // namespace pr::store::testing
