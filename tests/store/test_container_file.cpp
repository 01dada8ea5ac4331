// The container over a real file: first update, large trees across updates,
// freeing slots, the pending-update area, encryption, record numbers.
#include <algorithm>
#include <random>

#include "container_test_util.h"
#include "store/container_verify.h"
#include "store/page_codec.h"

namespace pr::store::testing {
namespace {

std::vector<uint8_t> NoiseData(std::mt19937& rng, size_t n) {
  std::vector<uint8_t> d(n);
  for (auto& b : d) b = static_cast<uint8_t>(rng());
  return d;
}

class ContainerFile : public ContainerTest {};

TEST_F(ContainerFile, ZeroLengthFileOpensEmptyAndFirstUpdateWritesHeader) {
  std::string path = dir_.File("new.twl");
  {
    FileHandle f(path, true);
    Container c(f.get(), path);
    ASSERT_EQ(c.RefreshHeader(), 0);
    EXPECT_FALSE(c.First(nullptr, nullptr));
    EXPECT_FALSE(c.HasChanges());
    EXPECT_EQ(c.WriteUpdate(), 0u);
    EXPECT_TRUE(ReadWholeFile(path).empty());  // nothing to write yet
    ASSERT_TRUE(c.Insert(Bytes("key"), Bytes("value")));
    EXPECT_TRUE(c.HasChanges());
    ASSERT_EQ(c.WriteUpdate(), 0u);
    EXPECT_FALSE(c.HasChanges());
  }
  auto bytes = ReadWholeFile(path);
  ASSERT_GE(bytes.size(), 768u);
  EXPECT_EQ(LoadU16(bytes.data() + 4), 0x200);
  EXPECT_EQ(std::string(bytes.begin() + 0x0E, bytes.begin() + 0x12), "vEkO");
  FileHeader h = HeaderOf(path);
  EXPECT_GE(h.changeCounter, 1u);
  EXPECT_EQ(h.committedLength, h.pendingLength);
  EXPECT_EQ(h.committedLength, h.PageAreaEnd());

  FileHandle f(path);
  Container again(f.get(), path);
  ASSERT_EQ(again.RefreshHeader(), 0);
  std::vector<uint8_t> data;
  ASSERT_TRUE(again.Find(Bytes("key"), &data));
  EXPECT_EQ(data, Bytes("value"));
}

TEST_F(ContainerFile, ForeignAndShortHeadersAreInvalid) {
  std::string path = dir_.File("foreign.twl");
  WriteWholeFile(path, std::vector<uint8_t>(100, 'x'));
  {
    FileHandle f(path);
    Container c(f.get(), path);
    EXPECT_EQ(c.RefreshHeader(), kRefreshInvalidFile);
  }
  // A header block of zeros is a first update cut short (a new file) only
  // when what follows it could be that update's first page.
  std::vector<uint8_t> zeros(1024, 0);
  std::memcpy(zeros.data() + 512, "garbage", 7);
  WriteWholeFile(path, zeros);
  {
    FileHandle f(path);
    Container c(f.get(), path);
    EXPECT_EQ(c.RefreshHeader(), kRefreshInvalidFile);
  }
  WriteWholeFile(path, std::vector<uint8_t>(1024, 0));
  FileHandle f(path);
  Container c(f.get(), path);
  EXPECT_EQ(c.RefreshHeader(), 0);
  EXPECT_FALSE(c.First(nullptr, nullptr));
}

// Small updates reuse the pending area behind the pages: the file keeps its
// length from one to the next (a flush then commits no change of length).
TEST_F(ContainerFile, SmallUpdatesKeepTheFileLength) {
  std::string path = dir_.File("steady.twl");
  FileHandle f(path, true);
  Container c(f.get(), path);
  ASSERT_EQ(c.RefreshHeader(), 0);
  for (uint32_t n = 0; n < 2000; ++n) ASSERT_TRUE(c.Insert(BigEndianKey(n), Bytes("twenty bytes of name")));
  ASSERT_EQ(c.WriteUpdate(), 0u);
  ASSERT_TRUE(c.Replace(BigEndianKey(7), Bytes("another name")));
  ASSERT_EQ(c.WriteUpdate(), 0u);
  const auto length = std::filesystem::file_size(path);
  EXPECT_GT(length, c.header().PageAreaEnd());
  for (uint32_t n = 0; n < 20; ++n) {
    ASSERT_TRUE(c.Replace(BigEndianKey(n * 97), Bytes("name number two")));
    ASSERT_EQ(c.WriteUpdate(), 0u);
    ASSERT_EQ(std::filesystem::file_size(path), length);
  }
}

// 200,000 records in random order over four updates, then half of them
// deleted; the tree, its separators and the regions are walked after each.
TEST_F(ContainerFile, LargeTreeAcrossUpdates) {
  std::string path = dir_.File("large.twl");
  FileHandle f(path, true);
  Container c(f.get(), path);
  ASSERT_EQ(c.RefreshHeader(), 0);
  const uint32_t n = 200000;
  std::vector<uint32_t> order(n);
  for (uint32_t i = 0; i < n; ++i) order[i] = i;
  std::mt19937 rng(5);
  std::shuffle(order.begin(), order.end(), rng);
  char name[21];
  for (uint32_t i = 0; i < n; ++i) {
    std::snprintf(name, sizeof name, "partner %012u", order[i]);
    ASSERT_TRUE(c.Insert(BigEndianKey(order[i]), ByteView(reinterpret_cast<uint8_t*>(name), 20)));
    if ((i + 1) % 50000 == 0) {
      ASSERT_EQ(c.WriteUpdate(), 0u);
      // A large pending area does not stay behind the pages.
      const uint64_t end = c.header().PageAreaEnd();
      ASSERT_LE(std::filesystem::file_size(path), end + std::max<uint64_t>(256 * 1024, end / 16));
      VerifyReport report = VerifyContainer(c);
      ASSERT_TRUE(report.ok) << report.problem;
      ASSERT_EQ(report.records, i + 1);
    }
  }
  VerifyReport full = VerifyContainer(c);
  EXPECT_GE(full.levels, 3);
  for (uint32_t i = 0; i < n; i += 2) ASSERT_TRUE(c.Erase(BigEndianKey(order[i])));
  ASSERT_EQ(c.WriteUpdate(), 0u);
  VerifyReport half = VerifyContainer(c);
  ASSERT_TRUE(half.ok) << half.problem;
  EXPECT_EQ(half.records, n / 2);
  EXPECT_LE(half.pages, full.pages);  // pages that merely shrink are not merged
  const uint64_t end = c.header().PageAreaEnd();
  EXPECT_LE(std::filesystem::file_size(path), end + std::max<uint64_t>(256 * 1024, end / 16));

  // A fresh reader sees exactly the surviving records, in order.
  FileHandle g(path);
  Container reader(g.get(), path);
  ASSERT_EQ(reader.RefreshHeader(), 0);
  VerifyReport fresh = VerifyContainer(reader);
  ASSERT_TRUE(fresh.ok) << fresh.problem;
  EXPECT_EQ(fresh.records, n / 2);
  std::vector<uint8_t> data;
  for (uint32_t i = 0; i < n; i += 1000) {
    EXPECT_EQ(reader.Find(BigEndianKey(order[i]), &data), false);
    ASSERT_TRUE(reader.Find(BigEndianKey(order[i + 1]), &data));
    std::snprintf(name, sizeof name, "partner %012u", order[i + 1]);
    EXPECT_EQ(std::string(data.begin(), data.end()), std::string(name, 20));
  }
  EXPECT_LE(reader.cache().cleanCount(), 100u);
}

TEST_F(ContainerFile, FreeingAMiddlePageMovesTheLastPageIntoIt) {
  std::string path = dir_.File("free.twl");
  FileHandle f(path, true);
  Container c(f.get(), path);
  ASSERT_EQ(c.RefreshHeader(), 0);
  std::mt19937 rng(9);
  // Ascending inserts leave leaves of ten 195-byte records (class 8).
  for (uint32_t i = 0; i < 300; ++i) c.Insert(BigEndianKey(i), NoiseData(rng, 191));
  ASSERT_EQ(c.WriteUpdate(), 0u);
  FileHeader before = c.header();
  int cls = 0;
  for (int i = 1; i <= kMaxClass; ++i)
    if (before.PagesInRegion(i) > before.PagesInRegion(cls)) cls = i;
  ASSERT_GE(before.PagesInRegion(cls), 5);
  // Read the page in the middle of the region straight from the file.
  int32_t middle = before.regionStart[cls] + cls * (before.PagesInRegion(cls) / 2);
  auto bytes = ReadWholeFile(path);
  Page page(middle, 0);
  std::vector<uint8_t> scratch;
  PageCodec::Parse(bytes.data() + PageOffset(middle), cls * 256, middle, true, &page, &scratch, "t");
  ASSERT_EQ(page.level(), 0);
  std::vector<std::vector<uint8_t>> keys;
  for (size_t i = 0; i < page.count(); ++i) keys.emplace_back(page.Key(i).begin(), page.Key(i).end());
  int32_t lastSlot = before.regionEnd[cls] - cls;
  Page last(lastSlot, 0);
  PageCodec::Parse(bytes.data() + PageOffset(lastSlot), cls * 256, lastSlot, true, &last, &scratch, "t");
  std::vector<uint8_t> lastKey(last.Key(0).begin(), last.Key(0).end());

  for (const auto& key : keys) ASSERT_TRUE(c.Erase(key));
  ASSERT_EQ(c.WriteUpdate(), 0u);
  FileHeader after = c.header();
  EXPECT_EQ(after.PagesInRegion(cls), before.PagesInRegion(cls) - 1);
  VerifyReport report = VerifyContainer(c);
  ASSERT_TRUE(report.ok) << report.problem;
  EXPECT_EQ(report.records, 300 - keys.size());
  // The former last page now lives in the freed slot.
  bytes = ReadWholeFile(path);
  Page moved(middle, 0);
  PageCodec::Parse(bytes.data() + PageOffset(middle), cls * 256, middle, true, &moved, &scratch, "t");
  EXPECT_TRUE(std::ranges::equal(moved.Key(0), lastKey));
}

TEST_F(ContainerFile, CompletePendingAreaIsFinishedByTheNextWriter) {
  std::string path = dir_.File("pending.twl");
  WriteBase(path, 3000);
  FileHeader base = HeaderOf(path);
  WriteUpToPendingArea(path, 1000, 3000);
  FileHeader marked = HeaderOf(path);
  ASSERT_NE(marked.committedLength, marked.pendingLength);
  EXPECT_EQ(marked.changeCounter, base.changeCounter);  // the old state still stands

  // A read-only reader reads the new state through the area and writes nothing.
  auto image = ReadWholeFile(path);
  {
    FileHandle f(path);
    Container reader(f.get(), path, {.ownerPassword = {}, .readOnly = true});
    ASSERT_EQ(reader.RefreshHeader(), 0);
    std::vector<uint8_t> data;
    ASSERT_TRUE(reader.Find(BigEndianKey(3500), &data));
    EXPECT_EQ(data, Bytes("second state"));
    ASSERT_TRUE(VerifyContainer(reader).ok);
  }
  EXPECT_EQ(ReadWholeFile(path), image);

  FileHandle f(path);
  Container writer(f.get(), path);
  ASSERT_EQ(writer.RefreshHeader(), 0);
  FileHeader done = HeaderOf(path);
  EXPECT_EQ(done.committedLength, done.pendingLength);
  EXPECT_EQ(done.changeCounter, base.changeCounter + 2);  // the area's header + 1
  VerifyReport report = VerifyContainer(writer);
  ASSERT_TRUE(report.ok) << report.problem;
  EXPECT_EQ(report.records, 4000u);
  std::vector<uint8_t> data;
  ASSERT_TRUE(writer.Find(BigEndianKey(999), &data));
  EXPECT_EQ(data, Bytes("first state"));
  ASSERT_TRUE(writer.Find(BigEndianKey(1000), &data));
  EXPECT_EQ(data, Bytes("second state"));
}

TEST_F(ContainerFile, TruncatedPendingAreaIsDiscarded) {
  std::string path = dir_.File("torn.twl");
  WriteBase(path, 3000);
  FileHeader base = HeaderOf(path);
  WriteUpToPendingArea(path, 1000, 3000);
  FileHeader marked = HeaderOf(path);
  auto bytes = ReadWholeFile(path);
  bytes.resize(marked.pendingLength - 256);
  WriteWholeFile(path, bytes);

  FileHandle f(path);
  Container c(f.get(), path);
  ASSERT_EQ(c.RefreshHeader(), 0);
  FileHeader settled = HeaderOf(path);
  EXPECT_EQ(settled.committedLength, settled.pendingLength);
  EXPECT_EQ(settled.committedLength, base.committedLength);
  EXPECT_EQ(settled.changeCounter, base.changeCounter + 1);
  VerifyReport report = VerifyContainer(c);
  ASSERT_TRUE(report.ok) << report.problem;
  EXPECT_EQ(report.records, 3000u);
  std::vector<uint8_t> data;
  ASSERT_TRUE(c.Find(BigEndianKey(1000), &data));
  EXPECT_EQ(data, Bytes("first state"));
  EXPECT_FALSE(c.Find(BigEndianKey(3000), &data));
}

class UnfinishedTransaction : public ContainerHooks {
 public:
  bool PendingAreaIsUnfinishedTransaction(Container& file) override {
    asked = true;
    return file.Find(Bytes("\xFF"), nullptr);  // a marker record stands for one
  }
  bool asked = false;
};

TEST_F(ContainerFile, TransactionCheckDecidesBetweenFinishAndDiscard) {
  std::string path = dir_.File("tx.twl");
  WriteBase(path, 100);
  {
    FileHandle f(path);
    Container c(f.get(), path);
    ASSERT_EQ(c.RefreshHeader(), 0);
    c.Insert(Bytes("\xFF"), Bytes("tx"));
    c.Insert(BigEndianKey(500), Bytes("in tx"));
    ASSERT_EQ(c.WriteUpdatePhaseOne(), 0u);
  }
  UnfinishedTransaction hooks;
  FileHandle f(path);
  Container c(f.get(), path);
  c.SetHooks(&hooks);
  ASSERT_EQ(c.RefreshHeader(), 0);
  EXPECT_TRUE(hooks.asked);
  EXPECT_FALSE(c.Find(BigEndianKey(500), nullptr));
  EXPECT_TRUE(c.Find(BigEndianKey(99), nullptr));
  FileHeader h = HeaderOf(path);
  EXPECT_EQ(h.committedLength, h.pendingLength);
}

TEST_F(ContainerFile, DropPendingAreaAndDiscardKeepTheOldState) {
  std::string path = dir_.File("drop.twl");
  WriteBase(path, 500);
  FileHeader base = HeaderOf(path);
  FileHandle f(path);
  Container c(f.get(), path);
  ASSERT_EQ(c.RefreshHeader(), 0);
  for (uint32_t i = 0; i < 500; ++i) c.Erase(BigEndianKey(i));
  ASSERT_EQ(c.WriteUpdatePhaseOne(), 0u);
  ASSERT_EQ(c.DropPendingArea(), 0u);
  FileHeader dropped = HeaderOf(path);
  EXPECT_EQ(dropped.committedLength, base.committedLength);
  EXPECT_EQ(dropped.pendingLength, base.committedLength);
  EXPECT_EQ(dropped.changeCounter, base.changeCounter + 1);
  ASSERT_EQ(c.RefreshHeader(), 0);
  EXPECT_EQ(VerifyContainer(c).records, 500u);

  // Rollback before any write.
  c.Insert(BigEndianKey(9999), Bytes("gone"));
  c.Discard();
  ASSERT_EQ(c.RefreshHeader(), 0);
  EXPECT_FALSE(c.Find(BigEndianKey(9999), nullptr));
  EXPECT_TRUE(VerifyContainer(c).ok);
}

TEST_F(ContainerFile, OwnerPasswordEnciphersEveryBlock) {
  std::string path = dir_.File("secret.twl");
  {
    FileHandle f(path, true);
    Container c(f.get(), path, {.ownerPassword = "owner", .readOnly = false});
    ASSERT_EQ(c.RefreshHeader(), 0);
    for (uint32_t i = 0; i < 2000; ++i) c.Insert(BigEndianKey(i), Bytes("plain partner name"));
    ASSERT_EQ(c.WriteUpdate(), 0u);
  }
  auto bytes = ReadWholeFile(path);
  std::string raw(bytes.begin(), bytes.end());
  EXPECT_EQ(raw.find("vEkO"), std::string::npos);
  EXPECT_EQ(raw.find("plain partner"), std::string::npos);
  {
    FileHandle f(path);
    Container c(f.get(), path, {.ownerPassword = "owner", .readOnly = false});
    ASSERT_EQ(c.RefreshHeader(), 0);
    VerifyReport report = VerifyContainer(c);
    ASSERT_TRUE(report.ok) << report.problem;
    EXPECT_EQ(report.records, 2000u);
  }
  for (std::string_view wrong : {"", "Owner", "owner2"}) {
    FileHandle f(path);
    Container c(f.get(), path, {.ownerPassword = wrong, .readOnly = false});
    EXPECT_EQ(c.RefreshHeader(), kRefreshInvalidFile) << wrong;
  }
}

TEST_F(ContainerFile, RecordNumbersCountBigEndianAndStopBeforeFE) {
  std::string path = dir_.File("numbers.twl");
  FileHandle f(path, true);
  Container c(f.get(), path);
  ASSERT_EQ(c.RefreshHeader(), 0);
  uint8_t n[4];
  ASSERT_TRUE(c.NextRecordNumber(n));
  EXPECT_EQ(std::vector<uint8_t>(n, n + 4), (std::vector<uint8_t>{0, 0, 0, 1}));
  for (int i = 0; i < 254; ++i) c.NextRecordNumber(n);
  ASSERT_TRUE(c.NextRecordNumber(n));
  EXPECT_EQ(std::vector<uint8_t>(n, n + 4), (std::vector<uint8_t>{0, 0, 1, 0}));
  ASSERT_EQ(c.WriteUpdate(), 0u);
  EXPECT_EQ(HeaderOf(path).lastRecordNumber, (std::array<uint8_t, 4>{0, 0, 1, 0}));

  // The last number a file can issue is FD FF FF FF.
  auto bytes = ReadWholeFile(path);
  const uint8_t nearEnd[4] = {0xFD, 0xFF, 0xFF, 0xFE};
  std::memcpy(bytes.data() + 0x14, nearEnd, 4);
  StoreU32(bytes.data() + 0x18, LoadU32(bytes.data() + 0x18) + 1);
  WriteWholeFile(path, bytes);
  ASSERT_EQ(c.RefreshHeader(), 0);
  ASSERT_TRUE(c.NextRecordNumber(n));
  EXPECT_EQ(std::vector<uint8_t>(n, n + 4), (std::vector<uint8_t>{0xFD, 0xFF, 0xFF, 0xFF}));
  EXPECT_FALSE(c.NextRecordNumber(n));
  EXPECT_EQ(c.header().lastRecordNumber, (std::array<uint8_t, 4>{0xFD, 0xFF, 0xFF, 0xFF}));

  c.SetReadState(true);
  EXPECT_EQ(DriverErrorOf([&] { c.NextRecordNumber(n); }), 1163);
  EXPECT_EQ(DriverErrorOf([&] { c.Insert(Bytes("k"), Bytes("v")); }), 1194);
  EXPECT_EQ(DriverErrorOf([&] { c.Erase(Bytes("k")); }), 1203);
}


// A reader whose cache is far smaller than the file loads pages of every
// size and level into page objects left behind by evicted ones: each lookup
// and each step of an ordered walk must still see exactly the stored bytes.
TEST_F(ContainerFile, EvictedPagesReusedForLoadsOfOtherSizesAndLevels) {
  std::string path = dir_.File("reuse.twl");
  FileHandle f(path, true);
  Container writer(f.get(), path);
  ASSERT_EQ(writer.RefreshHeader(), 0);
  const uint32_t n = 6000;
  auto dataOf = [](uint32_t k) {
    // Lengths from 1 to about 2 KB, so pages of many classes; runs of equal
    // bytes so that some images are stored compressed.
    std::vector<uint8_t> d(1 + (k * 7919u) % 2000u, static_cast<uint8_t>(k));
    for (size_t i = 0; i < d.size(); i += 9) d[i] = static_cast<uint8_t>(k >> (i % 3 * 8));
    return d;
  };
  for (uint32_t k = 0; k < n; ++k) ASSERT_TRUE(writer.Insert(BigEndianKey(k * 3), dataOf(k)));
  ASSERT_EQ(writer.WriteUpdate(), 0u);

  FileHandle g(path);
  Container reader(g.get(), path);
  ASSERT_EQ(reader.RefreshHeader(), 0);
  std::mt19937 rng(11);
  std::vector<uint8_t> data;
  for (int i = 0; i < 20000; ++i) {
    uint32_t k = rng() % n;
    ASSERT_TRUE(reader.Find(BigEndianKey(k * 3), &data)) << k;
    ASSERT_EQ(data, dataOf(k)) << k;
    ASSERT_FALSE(reader.Find(BigEndianKey(k * 3 + 1), nullptr));
  }
  EXPECT_LE(reader.cache().cleanCount(), 100u);
  Cursor walk(reader);
  uint32_t seen = 0;
  for (bool ok = walk.First(); ok; ok = walk.Next(), ++seen) {
    ASSERT_EQ(std::vector<uint8_t>(walk.key().begin(), walk.key().end()), BigEndianKey(seen * 3));
    ASSERT_EQ(std::vector<uint8_t>(walk.data().begin(), walk.data().end()), dataOf(seen));
    // A lookup elsewhere between steps loads and evicts other pages.
    ASSERT_TRUE(reader.Find(BigEndianKey((seen * 7919u) % n * 3), nullptr));
  }
  EXPECT_EQ(seen, n);
}

}  // namespace
}  // namespace pr::store::testing
