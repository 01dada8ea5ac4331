// Settling an interrupted update when others are at work, the change counter
// across its wrap, the first update of a new file cut anywhere, and pending
// areas written by other programs.
#include <errno.h>
#include <sys/stat.h>

#include <functional>
#include <map>

#include "container_test_util.h"
#include "store/container_verify.h"
#include "store/physical.h"

namespace pr::store::testing {
namespace {

void RewriteHeader(const std::string& path, const std::function<void(FileHeader*)>& change) {
  auto bytes = ReadWholeFile(path);
  FileHeader h;
  ASSERT_TRUE(h.Parse(bytes.data()));
  change(&h);
  h.Serialize(bytes.data());
  WriteWholeFile(path, bytes);
}

// The images of the pending area: file offset -> (home, stored size).
std::map<uint32_t, std::pair<uint32_t, uint32_t>> AreaImages(const std::vector<uint8_t>& bytes,
                                                             const FileHeader& disk) {
  std::map<uint32_t, std::pair<uint32_t, uint32_t>> images;
  for (uint32_t at = disk.committedLength; at + kHeaderSize <= disk.pendingLength;) {
    uint32_t home = LoadU32(bytes.data() + at), size = LoadU16(bytes.data() + at + 4);
    images[at] = {home, size};
    at += RoundUpToUnit(size);
  }
  return images;
}

// Runs `whileWaiting` once, inside the first wait for the update lock: what
// another program does while this one waits for it.
class SlowLock : public ContainerHooks {
 public:
  explicit SlowLock(std::function<void()> whileWaiting) : whileWaiting_(std::move(whileWaiting)) {}
  DWORD LockUpdate() override {
    if (whileWaiting_) {
      auto run = std::move(whileWaiting_);
      whileWaiting_ = nullptr;
      run();
    }
    return 0;
  }

 private:
  std::function<void()> whileWaiting_;
};

// Every write after the first `allowed` fails; with `tear` the one at the cut
// lands half (page writes only: a header block is one sector).
struct Cut {
  static inline long (*realWrite)(int, const void*, size_t, int64_t) = nullptr;
  static inline int allowed = -1;
  static inline int count = 0;
  static inline bool tear = false;
  static long Write(int fd, const void* buf, size_t n, int64_t offset) {
    ++count;
    if (allowed < 0 || count <= allowed) return realWrite(fd, buf, n, offset);
    if (tear && count == allowed + 1 && offset != 0) realWrite(fd, buf, n / 2, offset);
    errno = EIO;
    return -1;
  }
};

class ContainerRecovery : public ContainerTest {};

// Writer A died after naming its pending area.  B and C open at once; C reads
// the header, then waits for the update lock while B finishes A's update and
// commits an add of its own.  C must settle nothing on its stale view: B's add
// stays, the counter does not go back, and the file verifies.
TEST_F(ContainerRecovery, TwoOpenersRacingToFinishOneInterruptedUpdate) {
  std::string path = dir_.File("race.twl");
  WriteBase(path, 3000);
  WriteUpToPendingArea(path, 1000, 3000);
  ASSERT_NE(HeaderOf(path).committedLength, HeaderOf(path).pendingLength);

  uint32_t counterAfterB = 0;
  SlowLock hooks([&] {
    FileHandle f(path);
    Container b(f.get(), path);
    ASSERT_EQ(b.RefreshHeader(), 0);  // finishes A's update
    ASSERT_EQ(b.BeginUpdate(), 0u);
    ASSERT_TRUE(b.Insert(BigEndianKey(5000), Bytes("added by B")));
    for (uint32_t i = 0; i < 400; ++i) b.Put(BigEndianKey(i * 7), Bytes("changed by B"));
    ASSERT_EQ(b.WriteUpdate(), 0u);
    counterAfterB = HeaderOf(path).changeCounter;
  });
  {
    FileHandle f(path);
    Container c(f.get(), path);
    c.SetHooks(&hooks);
    ASSERT_EQ(c.RefreshHeader(), 0);
    std::vector<uint8_t> data;
    ASSERT_TRUE(c.Find(BigEndianKey(5000), &data));
    EXPECT_EQ(data, Bytes("added by B"));
  }
  ASSERT_NE(counterAfterB, 0u);
  FileHeader settled = HeaderOf(path);
  EXPECT_EQ(settled.changeCounter, counterAfterB);  // C had nothing left to write
  EXPECT_EQ(settled.committedLength, settled.pendingLength);

  FileHandle f(path);
  Container d(f.get(), path);
  ASSERT_EQ(d.RefreshHeader(), 0);
  VerifyReport report = VerifyContainer(d);
  ASSERT_TRUE(report.ok) << report.problem;
  EXPECT_EQ(report.records, 4001u);
  std::vector<uint8_t> data;
  ASSERT_TRUE(d.Find(BigEndianKey(5000), &data));
  EXPECT_EQ(data, Bytes("added by B"));
  ASSERT_TRUE(d.Find(BigEndianKey(7 * 399), &data));
  EXPECT_EQ(data, Bytes("changed by B"));
  ASSERT_TRUE(d.Find(BigEndianKey(3999), &data));
  EXPECT_EQ(data, Bytes("second state"));
}

// The counter starts just below its wrap.  A reader keeps its cache between
// the writer's updates and must see each of them; the counter never becomes
// 0, which would make the file look never written.
TEST_F(ContainerRecovery, ChangeCounterWrapsPastZeroWithAReaderHoldingItsCache) {
  std::string path = dir_.File("wrap.twl");
  WriteBase(path, 1500);
  RewriteHeader(path, [](FileHeader* h) { h->changeCounter = 0xFFFFFFF9u; });

  FileHandle rf(path);
  Container reader(rf.get(), path, {.ownerPassword = {}, .readOnly = true});
  ASSERT_EQ(reader.RefreshHeader(), 0);
  ASSERT_EQ(ReadState(reader).size(), 1500u);  // every page cached

  FileHandle wf(path);
  Container writer(wf.get(), path);
  bool wrapped = false;
  uint32_t previous = HeaderOf(path).changeCounter;
  for (uint32_t round = 0; round < 8; ++round) {
    ASSERT_EQ(writer.BeginUpdate(), 0u);
    ASSERT_TRUE(writer.Insert(BigEndianKey(5000 + round), Bytes("after")));
    ASSERT_TRUE(writer.Replace(BigEndianKey(round), Bytes("replaced")));
    ASSERT_EQ(writer.WriteUpdate(), 0u);
    uint32_t counter = HeaderOf(path).changeCounter;
    ASSERT_NE(counter, 0u) << "round " << round;
    ASSERT_NE(counter, previous);
    if (counter < previous) wrapped = true;
    previous = counter;

    ASSERT_EQ(reader.RefreshHeader(), 0);
    std::vector<uint8_t> data;
    ASSERT_TRUE(reader.Find(BigEndianKey(5000 + round), &data)) << "round " << round;
    ASSERT_TRUE(reader.Find(BigEndianKey(round), &data));
    EXPECT_EQ(data, Bytes("replaced"));
    VerifyReport report = VerifyContainer(reader);
    ASSERT_TRUE(report.ok) << "round " << round << ": " << report.problem;
    EXPECT_EQ(report.records, 1501u + round);
  }
  EXPECT_TRUE(wrapped);
}

// Another program's counter may have wrapped to 0, and its pending-area copy
// of the header may show equal lengths: neither may hide the file's pages or
// its unfinished update.
TEST_F(ContainerRecovery, FilesWrittenByOtherPrograms) {
  std::string path = dir_.File("other.twl");
  WriteBase(path, 800);
  RewriteHeader(path, [](FileHeader* h) { h->changeCounter = 0; });
  {
    FileHandle f(path);
    Container c(f.get(), path);
    ASSERT_EQ(c.RefreshHeader(), 0);
    EXPECT_EQ(ReadState(c).size(), 800u);
    ASSERT_EQ(c.BeginUpdate(), 0u);
    ASSERT_TRUE(c.Insert(BigEndianKey(900), Bytes("one more")));
    ASSERT_EQ(c.WriteUpdate(), 0u);
    EXPECT_TRUE(VerifyContainer(c).ok);
  }
  EXPECT_NE(HeaderOf(path).changeCounter, 0u);

  // A complete area whose header copy says committed == pending.
  WriteUpToPendingArea(path, 400, 800);
  FileHeader disk = HeaderOf(path);
  auto bytes = ReadWholeFile(path);
  auto images = AreaImages(bytes, disk);
  ASSERT_FALSE(images.empty());
  const uint32_t headerAt = images.rbegin()->first;
  ASSERT_EQ(images.rbegin()->second.first, 0u);
  FileHeader copy;
  ASSERT_TRUE(copy.Parse(bytes.data() + headerAt));
  copy.committedLength = copy.pendingLength = copy.PageAreaEnd();
  copy.Serialize(bytes.data() + headerAt);
  WriteWholeFile(path, bytes);

  // A reader that may write settles it at its open, as a writer would.
  PhysicalFile* file = nullptr;
  ASSERT_TRUE(OpenPhysicalFile(path, kShareDenyNone | 0x02, "", false, &file).ok());
  FileHeader settled = HeaderOf(path);
  EXPECT_EQ(settled.committedLength, settled.pendingLength);
  EXPECT_NE(settled.changeCounter, disk.changeCounter);
  std::vector<uint8_t> data;
  ASSERT_TRUE(file->BeginRead().ok());
  EXPECT_TRUE(file->container().Find(BigEndianKey(1100), &data));
  EXPECT_EQ(data, Bytes("second state"));
  EXPECT_EQ(VerifyContainer(file->container()).records, 1200u);
  (void)file->Finish();
  ClosePhysicalFile(file);
}

// An image of the area that names a home far outside the page area (here
// 0xFFFFFF00) is damage, not a cut-short write: the file is refused as
// invalid and nothing is written, least of all at 4 GiB.
TEST_F(ContainerRecovery, AreaImageHomedOutsideThePageAreaIsRefusedBeforeAnyWrite) {
  std::string path = dir_.File("far.twl");
  WriteBase(path, 2000);
  WriteUpToPendingArea(path, 0, 600);
  auto bytes = ReadWholeFile(path);
  auto images = AreaImages(bytes, HeaderOf(path));
  ASSERT_GE(images.size(), 2u);
  StoreU32(bytes.data() + images.begin()->first, 0xFFFFFF00u);
  WriteWholeFile(path, bytes);

  for (bool readOnly : {true, false}) {
    FileHandle f(path);
    Container c(f.get(), path, {.ownerPassword = {}, .readOnly = readOnly});
    EXPECT_EQ(c.RefreshHeader(), kRefreshInvalidFile) << "read only " << readOnly;
  }
  EXPECT_EQ(ReadWholeFile(path), bytes);
}

// The first update of a new file, cut after each of its writes (the write at
// the cut landing whole, half or not at all): the file opens either as new
// and empty or holding the whole update, and is never refused.  A header
// block of zeros with pages behind it, as older versions could leave, opens
// as a new file too.
TEST_F(ContainerRecovery, FirstUpdateOfANewFileCutAnywhere) {
  auto fill = [](Container& c, State* model) {
    for (uint32_t i = 0; i < 900; ++i) {
      std::vector<uint8_t> data(30, static_cast<uint8_t>(i));
      c.Insert(BigEndianKey(i), data);
      if (model) (*model)[BigEndianKey(i)] = data;
    }
  };
  std::string path = dir_.File("first.twl");
  State full;
  int writes = 0;
  {
    FileHandle f(path, true);
    Container c(f.get(), path);
    ASSERT_EQ(c.RefreshHeader(), 0);
    fill(c, &full);
    Cut::realWrite = PlatformFileSyscalls().pwrite;
    Cut::allowed = -1;
    Cut::count = 0;
    PlatformFileSyscalls().pwrite = Cut::Write;
    PlatformFileSyscalls().fdatasync = [](int) { return 0; };
    ASSERT_EQ(c.WriteUpdate(), 0u);
    writes = Cut::count;
    ResetPlatformFileSyscalls();
  }
  ASSERT_GE(writes, 4);
  int sawEmpty = 0, sawFull = 0;
  for (int k = 0; k < writes; ++k) {
    for (bool tear : {false, true}) {
      {
        FileHandle f(path, true);
        Container c(f.get(), path);
        ASSERT_EQ(c.RefreshHeader(), 0);
        fill(c, nullptr);
        Cut::allowed = k;
        Cut::count = 0;
        Cut::tear = tear;
        PlatformFileSyscalls().pwrite = Cut::Write;
        PlatformFileSyscalls().fdatasync = [](int) { return 0; };
        EXPECT_NE(c.WriteUpdate(), 0u);
        ResetPlatformFileSyscalls();
      }
      FileHandle f(path);
      Container again(f.get(), path);
      ASSERT_EQ(again.RefreshHeader(), 0) << "cut after write " << k << " tear " << tear;
      ASSERT_TRUE(VerifyContainer(again).ok) << "k=" << k;
      State state = ReadState(again);
      if (state.empty()) {
        ++sawEmpty;
      } else {
        ASSERT_EQ(state, full) << "k=" << k << " tear=" << tear;
        ++sawFull;
      }
      // Whatever it holds, the next update goes through.
      ASSERT_EQ(again.BeginUpdate(), 0u);
      again.Put(BigEndianKey(99999), Bytes("next"));
      ASSERT_EQ(again.WriteUpdate(), 0u);
      ASSERT_TRUE(VerifyContainer(again).ok);
    }
  }
  EXPECT_GT(sawEmpty, 0);
  EXPECT_GT(sawFull, 0);

  // Pages behind a header block never written.
  WriteBase(path, 300);
  auto bytes = ReadWholeFile(path);
  std::fill(bytes.begin(), bytes.begin() + kHeaderSize, 0);
  WriteWholeFile(path, bytes);
  FileHandle f(path);
  Container zeros(f.get(), path);
  ASSERT_EQ(zeros.RefreshHeader(), 0);
  EXPECT_FALSE(zeros.First(nullptr, nullptr));
  ASSERT_EQ(zeros.BeginUpdate(), 0u);
  ASSERT_TRUE(zeros.Insert(Bytes("a"), Bytes("b")));
  ASSERT_EQ(zeros.WriteUpdate(), 0u);
  FileHandle g(path);
  Container reopened(g.get(), path);
  ASSERT_EQ(reopened.RefreshHeader(), 0);
  EXPECT_EQ(ReadState(reopened), (State{{Bytes("a"), Bytes("b")}}));
}

}  // namespace
}  // namespace pr::store::testing
