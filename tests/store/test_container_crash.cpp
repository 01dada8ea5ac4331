// Crash simulation: every write after the k-th write of an update fails (the
// k-th may land only half), for every k of a multi-page update.  Reopened,
// the file must hold exactly the state before or the state after.
#include <errno.h>

#include <map>
#include <random>

#include "container_test_util.h"
#include "store/container_verify.h"

namespace pr::store::testing {
namespace {

struct WriteFault {
  static inline long (*realWrite)(int, const void*, size_t, int64_t) = nullptr;
  static inline int allowed = -1;  // writes that still land; -1: all
  static inline int count = 0;
  static inline bool tear = false;

  static long Write(int fd, const void* buf, size_t n, int64_t offset) {
    ++count;
    if (allowed < 0 || count <= allowed) return realWrite(fd, buf, n, offset);
    if (tear && count == allowed + 1 && offset != 0 && n >= 128) realWrite(fd, buf, n / 2, offset);
    errno = EIO;
    return -1;
  }
  // The cut is modelled by failing writes; flushing to the device adds
  // nothing to it and costs most of the run.
  static int NoSync(int) { return 0; }
  static void Install(int allowWrites, bool tearNext) {
    PlatformFileSyscalls().fdatasync = NoSync;
    realWrite = PlatformFileSyscalls().pwrite;
    allowed = allowWrites;
    count = 0;
    tear = tearNext;
    PlatformFileSyscalls().pwrite = Write;
  }
};

// The update under test: new pages, changed pages, freed pages, moves.
void ApplyUpdate(Container& c, State* model) {
  std::mt19937 rng(21);
  for (uint32_t i = 0; i < 700; ++i) {
    auto key = BigEndianKey(100000 + i * 7);
    std::vector<uint8_t> data(20 + rng() % 60, static_cast<uint8_t>(i));
    c.Insert(key, data);
    if (model) (*model)[key] = data;
  }
  for (uint32_t i = 0; i < 600; ++i) {  // a whole stretch: leaves become empty
    c.Erase(BigEndianKey(i));
    if (model) model->erase(BigEndianKey(i));
  }
  for (uint32_t i = 900; i < 1500; i += 3) {
    std::vector<uint8_t> data(150, 0xAB);  // grows pages into other classes
    c.Replace(BigEndianKey(i), data);
    if (model) (*model)[BigEndianKey(i)] = data;
  }
}

class ContainerCrash : public ContainerTest {};

TEST_F(ContainerCrash, EveryCutOfAnUpdateLeavesBeforeOrAfter) {
  std::string path = dir_.File("crash.twl");
  State before;
  {
    FileHandle f(path, true);
    Container c(f.get(), path);
    ASSERT_EQ(c.RefreshHeader(), 0);
    for (uint32_t i = 0; i < 1600; ++i) {
      std::vector<uint8_t> data(24, static_cast<uint8_t>(i * 13));
      c.Insert(BigEndianKey(i), data);
      before[BigEndianKey(i)] = data;
    }
    ASSERT_EQ(c.WriteUpdate(), 0u);
  }
  const auto baseImage = ReadWholeFile(path);
  State after = before;
  int totalWrites = 0;
  {
    FileHandle f(path);
    Container c(f.get(), path);
    ASSERT_EQ(c.RefreshHeader(), 0);
    ApplyUpdate(c, &after);
    WriteFault::Install(-1, false);
    ASSERT_EQ(c.WriteUpdate(), 0u);
    totalWrites = WriteFault::count;
    ResetPlatformFileSyscalls();
    ASSERT_EQ(ReadState(c), after);
  }
  ASSERT_GT(totalWrites, 20);
  std::printf("update of %d writes\n", totalWrites);

  int sawBefore = 0, sawAfter = 0;
  for (int k = 0; k < totalWrites; ++k) {
    for (bool tear : {false, true}) {
      if (tear && k % 4) continue;  // torn writes on every fourth cut
      WriteWholeFile(path, baseImage);
      {
        FileHandle f(path);
        Container c(f.get(), path);
        ASSERT_EQ(c.RefreshHeader(), 0);
        ApplyUpdate(c, nullptr);
        WriteFault::Install(k, tear);
        EXPECT_NE(c.WriteUpdate(), 0u) << "k=" << k;
        ResetPlatformFileSyscalls();
      }
      FileHandle f(path);
      Container reopened(f.get(), path);
      ASSERT_EQ(reopened.RefreshHeader(), 0) << "k=" << k;
      VerifyReport report = VerifyContainer(reopened);
      ASSERT_TRUE(report.ok) << "k=" << k << ": " << report.problem;
      State state = ReadState(reopened);
      if (state == before) {
        ++sawBefore;
      } else {
        ASSERT_EQ(state, after) << "k=" << k << " tear=" << tear << ": neither before nor after";
        ++sawAfter;
      }
      FileHeader h = reopened.header();
      EXPECT_EQ(h.committedLength, h.pendingLength);
    }
  }
  EXPECT_GT(sawBefore, 0);
  EXPECT_GT(sawAfter, 0);
}

}  // namespace
}  // namespace pr::store::testing
