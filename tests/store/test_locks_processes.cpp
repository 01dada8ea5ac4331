// Sharing one keyed file between processes: readers against a writer, holds,
// and concurrent writers.  Every test opens its files only after forking, so
// parent and children never share an open file description (whose byte
// locks would not exclude each other).
#include <unistd.h>

#include <chrono>
#include <random>
#include <set>

#include "tests/store/test_driver_support.h"

namespace pr::store {
namespace {

using testing::MakeTempDir;
using testing::PartnerFile;
using testing::Reap;
using testing::Spawn;

uint32_t ChangeCounterOnDisk(const std::string& path) {
  uint8_t header[0x20] = {};
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return 0;
  size_t got = std::fread(header, 1, sizeof header, f);
  std::fclose(f);
  if (got < sizeof header) return 0;
  return uint32_t{header[0x18]} | uint32_t{header[0x19]} << 8 | uint32_t{header[0x1A]} << 16 |
         uint32_t{header[0x1B]} << 24;
}

// These tests are about the lock protocol, not durability: the children skip
// the disk flushes (every write and lock still happens in protocol order).
int NoFlush(int) { return 0; }
void SkipFlushes() { if (!getenv("PR_REAL_FLUSH")) PlatformFileSyscalls().fdatasync = NoFlush; }

std::string Uniform(int id) { return std::string(20, static_cast<char>('A' + id % 26)); }

TEST(LocksProcesses, ReaderNeverSeesHalfWrittenUpdates) {
  std::string dir = MakeTempDir();
  std::string path = dir + "/SHARED";
  constexpr int kInitial = 10;
  constexpr int kAdded = 150;
  {
    PartnerFile file(path);
    ASSERT_EQ(file.Open(), 0);
    for (int id = 1; id <= kInitial; ++id) ASSERT_EQ(file.Add(id, Uniform(id)), 0);
    ASSERT_EQ(file.Close(), 0);
  }
  const uint32_t counterBefore = ChangeCounterOnDisk(path + ".TWL");

  pid_t writer = Spawn([&] {
    SkipFlushes();
    PartnerFile file(path);
    if (file.Open() != 0) return 10;
    for (int id = 100; id < 100 + kAdded; ++id) {
      if (file.Add(id, Uniform(id)) != 0) return 11;
      // Rewrite an early record too, so pages inside the old area change.
      if (file.GetById(1 + id % kInitial) != 0) return 12;
      file.Set(file.Id(), Uniform(id));
      if (file.Run(files::OP_PUT) != 0) return 13;
    }
    return 0;
  });
  pid_t reader = Spawn([&] {
    PartnerFile file(path);
    if (int rc = file.Open()) return 100 + rc;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int lastCount = 0;
    while (lastCount < kInitial + kAdded) {
      if (std::chrono::steady_clock::now() > deadline) return 21;
      if (file.Run(files::OP_SETkey, file.IdKey()) != 0) return 22;
      int count = 0, previous = 0, rc = 0;
      while ((rc = file.Run(files::OP_NEXT)) == 0) {
        // Every record is whole: ascending ids and a name of one letter.
        std::string name = file.Name();
        if (file.Id() <= previous) return 23;
        if (name.size() != 20 || name.find_first_not_of(name[0]) != std::string::npos) return 24;
        previous = file.Id();
        ++count;
      }
      if (rc == 33) {
        if (count < lastCount) return 25;  // records never disappear
        lastCount = count;
      } else if (rc != 5) {
        return 26;  // only "in use right now" may interrupt a scan
      }
    }
    return 0;
  });
  EXPECT_EQ(Reap(writer), 0);
  EXPECT_EQ(Reap(reader), 0);
  EXPECT_GT(ChangeCounterOnDisk(path + ".TWL"), counterBefore);
}

TEST(LocksProcesses, HoldsAcrossProcessesAndCounting) {
  std::string dir = MakeTempDir();
  std::string path = dir + "/HOLDS";
  {
    PartnerFile file(path);
    ASSERT_EQ(file.Open(), 0);
    for (int id = 1; id <= 3; ++id) ASSERT_EQ(file.Add(id, "R" + std::to_string(id)), 0);
    ASSERT_EQ(file.Close(), 0);
  }
  int toChild[2], toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  pid_t holder = Spawn([&] {
    PartnerFile file(path);
    if (file.Open() != 0) return 1;
    if (file.Run(files::OP_HOLDfile) != 0 || file.GetById(1) != 0) return 2;
    char c = 'h';
    if (write(toParent[1], &c, 1) != 1) return 3;
    if (read(toChild[0], &c, 1) != 1) return 4;
    return 0;
  });
  char c = 0;
  ASSERT_EQ(read(toParent[0], &c, 1), 1);

  PartnerFile file(path);
  ASSERT_EQ(file.Open(), 0);
  ASSERT_EQ(file.GetById(3), 0);
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(file.Run(files::OP_HOLDfile), 0);
  file.Set(1, "");
  EXPECT_EQ(file.Run(files::OP_GETfilekey, file.IdKey()), 43);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  // A read without HOLD is not refused.
  EXPECT_EQ(file.GetById(1), 0);
  // PUT of a record held elsewhere is refused, and changes nothing.
  file.Set(1, "changed");
  EXPECT_EQ(file.Run(files::OP_PUT), 5);
  ASSERT_EQ(write(toChild[1], &c, 1), 1);
  EXPECT_EQ(Reap(holder), 0);

  // HOLD twice in this program: one RELEASE is not enough.
  ASSERT_EQ(file.Run(files::OP_HOLDfile), 0);
  ASSERT_EQ(file.GetById(2), 0);
  ASSERT_EQ(file.Run(files::OP_HOLDfile), 0);
  ASSERT_EQ(file.GetById(2), 0);
  auto tryHold = [&] {
    return Spawn([&] {
      // The child inherits this program's open file; another access mode
      // gives it a file object (and byte locks) of its own.
      PartnerFile other(path);
      if (other.Open(0x41) != 0) return 9;
      if (other.Run(files::OP_HOLDfile) != 0) return 8;
      return other.GetById(2) == 43 ? 43 : 0;
    });
  };
  ASSERT_EQ(file.Run(files::OP_RELEASE), 0);
  EXPECT_EQ(Reap(tryHold()), 43);
  ASSERT_EQ(file.Run(files::OP_RELEASE), 0);
  EXPECT_EQ(Reap(tryHold()), 0);
}

TEST(LocksProcesses, TableLockAcrossProcesses) {
  std::string dir = MakeTempDir();
  std::string path = dir + "/LOCKS";
  {
    PartnerFile file(path);
    ASSERT_EQ(file.Open(), 0);
    ASSERT_EQ(file.Close(), 0);
  }
  int toParent[2], toChild[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(toChild), 0);
  pid_t locker = Spawn([&] {
    PartnerFile file(path);
    if (file.Open() != 0 || file.Run(files::OP_LOCKfile) != 0) return 1;
    char c = 'l';
    if (write(toParent[1], &c, 1) != 1 || read(toChild[0], &c, 1) != 1) return 2;
    return file.Run(files::OP_UNLOCK);
  });
  char c = 0;
  ASSERT_EQ(read(toParent[0], &c, 1), 1);
  PartnerFile file(path);
  ASSERT_EQ(file.Open(), 0);
  EXPECT_EQ(file.Run(files::OP_LOCKfilesec, 0), 32);
  ASSERT_EQ(write(toChild[1], &c, 1), 1);
  EXPECT_EQ(Reap(locker), 0);
  EXPECT_EQ(file.Run(files::OP_LOCKfilesec, 5), 0);
  EXPECT_EQ(file.Run(files::OP_UNLOCK), 0);
}

TEST(LocksProcesses, FourWritersAddConcurrently) {
  std::string dir = MakeTempDir();
  std::string path = dir + "/FOUR";
  constexpr int kWriters = 4;
  constexpr int kEach = 500;
  {
    PartnerFile file(path);
    ASSERT_EQ(file.Open(), 0);
    ASSERT_EQ(file.Close(), 0);
  }
  pid_t writers[kWriters];
  for (int p = 0; p < kWriters; ++p) {
    writers[p] = Spawn([&, p] {
      SkipFlushes();
      PartnerFile file(path);
      if (file.Open() != 0) return 1;
      // Delayed writing keeps the test quick; every 40 dirty pages or the
      // close still write whole updates under the same locks.
      files::CurrentRuntimeState()->strings.push_back("DelayWrite");
      files::CurrentRuntimeState()->strings.push_back("1");
      if (p % 2 == 0 && file.Run(files::OP_SET_PROPERTY) != 0) return 2;
      files::CurrentRuntimeState()->strings.clear();
      for (int i = 0; i < kEach; ++i)
        if (file.Add(p * 1000 + i, "P" + std::to_string(p) + "-" + std::to_string(i)) != 0) return 3;
      return file.Close();
    });
  }
  for (pid_t writer : writers) EXPECT_EQ(Reap(writer), 0);

  PartnerFile file(path);
  ASSERT_EQ(file.Open(), 0);
  EXPECT_EQ(file.Records(), kWriters * kEach);
  for (intptr_t key : {file.IdKey(), file.NameKey()}) {
    file.Run(files::OP_RECORDSkey, key);
    EXPECT_EQ(file.lastResult, kWriters * kEach);
    ASSERT_EQ(file.Run(files::OP_SETkey, key), 0);
    std::set<int> ids;
    while (file.Run(files::OP_NEXT) == 0) {
      int p = file.Id() / 1000, i = file.Id() % 1000;
      EXPECT_EQ(file.Name(), "P" + std::to_string(p) + "-" + std::to_string(i));
      ids.insert(file.Id());
    }
    EXPECT_EQ(files::ErrorCode(), 33);
    EXPECT_EQ(ids.size(), static_cast<size_t>(kWriters * kEach));
  }
  for (int p = 0; p < kWriters; ++p) {
    ASSERT_EQ(file.GetById(p * 1000 + kEach - 1), 0);
    EXPECT_EQ(file.Name(), "P" + std::to_string(p) + "-" + std::to_string(kEach - 1));
  }
}

// Lookups that run without their reader slot while another process rewrites
// pages: each answer is a whole record of the key asked for, whether the
// lookup found the file unchanged, saw the change at its start, or met it
// when it first needed a page from disk and was repeated.
TEST(LocksProcesses, LookupsStayRightWhileAnotherProcessRewritesPages) {
  std::string dir = MakeTempDir();
  std::string path = dir + "/REWRITE";
  constexpr int kRecords = 8000;
  {
    SkipFlushes();
    PartnerFile file(path);
    ASSERT_EQ(file.Open(), 0);
    ASSERT_EQ(file.Run(files::OP_LOGOUT), 0);
    for (int id = 1; id <= kRecords; ++id) ASSERT_EQ(file.Add(id, Uniform(id)), 0);
    ASSERT_EQ(file.Run(files::OP_COMMIT), 0);
    ASSERT_EQ(file.Close(), 0);
    ResetPlatformFileSyscalls();
  }
  pid_t writer = Spawn([&] {
    SkipFlushes();
    PartnerFile file(path);
    if (file.Open() != 0) return 10;
    for (int i = 0; i < 1000; ++i) {
      int id = 1 + (i * 2654435761u) % kRecords;
      if (file.GetById(id) != 0) return 11;
      file.Set(id, Uniform(id + i + 1));
      if (file.Run(files::OP_PUT) != 0) return 12;
    }
    FILE* done = std::fopen((dir + "/done").c_str(), "w");
    if (done) std::fclose(done);
    return 0;
  });
  pid_t reader = Spawn([&] {
    PartnerFile file(path);
    if (file.Open() != 0) return 20;
    std::mt19937 random(5);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int i = 0; access((dir + "/done").c_str(), F_OK) != 0; ++i) {
      if (std::chrono::steady_clock::now() > deadline) return 24;
      int id = 1 + static_cast<int>(random() % kRecords);
      if (file.GetById(id) != 0) return 21;
      std::string name = file.Name();
      if (file.Id() != id) return 22;
      if (name.size() != 20 || name.find_first_not_of(name[0]) != std::string::npos) return 23;
    }
    return 0;
  });
  EXPECT_EQ(Reap(writer), 0);
  EXPECT_EQ(Reap(reader), 0);
}

}  // namespace
}  // namespace pr::store
