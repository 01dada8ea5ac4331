// Updates and transactions cut short by the end of a process, and the next
// opener's recovery.  The writer runs in a child that ends itself at a chosen
// flush or write (through the platform's replaceable system calls) or at a
// stage of a multi-file commit.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ostream>

#include "store/transaction.h"
#include "tests/store/test_driver_support.h"

namespace pr::store {
namespace {

using testing::MakeTempDir;
using testing::PartnerFile;
using testing::Reap;
using testing::Spawn;

struct HeaderLengths {
  uint32_t committed = 0;
  uint32_t pending = 0;
};

HeaderLengths ReadLengths(const std::string& path) {
  uint8_t header[0x20] = {};
  HeaderLengths lengths;
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return lengths;
  if (::pread(fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header)) {
    std::memcpy(&lengths.committed, header + 6, 4);
    std::memcpy(&lengths.pending, header + 10, 4);
  }
  ::close(fd);
  return lengths;
}

// Fault injection: end the process after flush number `g_exitAfterFlush`, or
// after `g_exitAfterWrites` further writes once that flush has happened.
int g_flushes = 0;
int g_exitAfterFlush = 0;
int g_writesAfterFlush = 0;
int g_exitAfterWrites = 0;
int (*g_realFlush)(int) = nullptr;
long (*g_realWrite)(int, const void*, size_t, int64_t) = nullptr;

int CountingFlush(int fd) {
  int result = g_realFlush(fd);
  if (++g_flushes == g_exitAfterFlush && g_exitAfterWrites == 0) _exit(0);
  return result;
}

long CountingWrite(int fd, const void* buffer, size_t n, int64_t offset) {
  long result = g_realWrite(fd, buffer, n, offset);
  if (g_exitAfterWrites > 0 && g_flushes >= g_exitAfterFlush && ++g_writesAfterFlush == g_exitAfterWrites) _exit(0);
  return result;
}

void ArmCrash(int afterFlush, int afterWrites) {
  FileSyscalls& calls = PlatformFileSyscalls();
  g_realFlush = calls.fdatasync;
  g_realWrite = calls.pwrite;
  g_flushes = 0;
  g_writesAfterFlush = 0;
  g_exitAfterFlush = afterFlush;
  g_exitAfterWrites = afterWrites;
  calls.fdatasync = CountingFlush;
  calls.pwrite = CountingWrite;
}

std::string NewName(int id) { return "new" + std::to_string(id); }

void CreateWithRecords(const std::string& path, int count) {
  PartnerFile file(path);
  ASSERT_EQ(file.Open(), 0);
  ASSERT_EQ(file.Run(files::OP_LOGOUT), 0);
  for (int id = 1; id <= count; ++id) ASSERT_EQ(file.Add(id, "old" + std::to_string(id)), 0);
  ASSERT_EQ(file.Run(files::OP_COMMIT), 0);
  ASSERT_EQ(file.Close(), 0);
}

// One update (every record renamed, one added) that a crash cuts short.
int WriteBigUpdateAndCrash(const std::string& path, int count, int afterFlush, int afterWrites) {
  PartnerFile file(path);
  if (file.Open() != 0) return 1;
  if (file.Run(files::OP_LOGOUT) != 0) return 2;
  for (int id = 1; id <= count; ++id) {
    if (file.GetById(id) != 0) return 3;
    file.Set(id, NewName(id));
    if (file.Run(files::OP_PUT) != 0) return 4;
  }
  if (file.Add(count + 1, NewName(count + 1)) != 0) return 5;
  ArmCrash(afterFlush, afterWrites);
  file.Run(files::OP_COMMIT);
  return 6;  // the crash did not happen
}

class CrashBetweenPhases : public ::testing::TestWithParam<int> {};

// Parameter: writes allowed after the second flush of the update (0: end
// right after step 6; 1 and 3: inside step 7, with pages half copied home).
TEST_P(CrashBetweenPhases, NextOpenerFinishesTheUpdate) {
  std::string dir = MakeTempDir();
  std::string path = dir + "/CRASH";
  constexpr int kCount = 300;
  CreateWithRecords(path, kCount);
  EXPECT_EQ(Reap(Spawn([&] { return WriteBigUpdateAndCrash(path, kCount, 2, GetParam()); })), 0);
  HeaderLengths cut = ReadLengths(path + ".TWL");
  EXPECT_NE(cut.committed, cut.pending);

  PartnerFile file(path);
  ASSERT_EQ(file.Open(), 0);
  HeaderLengths settled = ReadLengths(path + ".TWL");
  EXPECT_EQ(settled.committed, settled.pending);
  EXPECT_EQ(file.Records(), kCount + 1);
  for (int id = 1; id <= kCount + 1; ++id) {
    ASSERT_EQ(file.GetById(id), 0) << id;
    EXPECT_EQ(file.Name(), NewName(id));
  }
}

INSTANTIATE_TEST_SUITE_P(AfterStep6AndInsideStep7, CrashBetweenPhases, ::testing::Values(0, 1, 3));

TEST(CrashBeforeStep6, UpdateIsLostAndNothingElse) {
  std::string dir = MakeTempDir();
  std::string path = dir + "/EARLY";
  constexpr int kCount = 50;
  CreateWithRecords(path, kCount);
  // The first flush of step 6 happened, the header never named the area.
  EXPECT_EQ(Reap(Spawn([&] { return WriteBigUpdateAndCrash(path, kCount, 1, 0); })), 0);
  PartnerFile file(path);
  ASSERT_EQ(file.Open(), 0);
  EXPECT_EQ(file.Records(), kCount);
  for (int id = 1; id <= kCount; ++id) {
    ASSERT_EQ(file.GetById(id), 0);
    EXPECT_EQ(file.Name(), "old" + std::to_string(id));
  }
}

// A transaction over two files that the process leaves at `stage`.
int TwoFileTransaction(const std::string& a, const std::string& b, CommitStage stage, const std::string& tcf) {
  PartnerFile first(a), second(b);
  if (!tcf.empty() && first.Send("TCF=" + tcf) != tcf) return 1;
  if (first.Open() != 0 || second.Open() != 0) return 2;
  if (first.Run(files::OP_LOGOUT) != 0 || second.Run(files::OP_LOGOUT) != 0) return 3;
  for (PartnerFile* file : {&first, &second}) {
    for (int id = 1; id <= 20; ++id) {
      if (file->GetById(id) != 0) return 4;
      file->Set(id, NewName(id));
      if (file->Run(files::OP_PUT) != 0) return 5;
    }
    if (file->Add(21, NewName(21)) != 0) return 6;
  }
  static CommitStage s_stage;
  s_stage = stage;
  SetCommitStageHook([](CommitStage now) {
    if (now == s_stage) _exit(0);
  });
  first.Run(files::OP_COMMIT);
  return 7;
}

struct TransactionCase {
  CommitStage stage;
  bool explicitControlFile;
  bool changed;  // what the next openers must see
};

void PrintTo(const TransactionCase& c, std::ostream* out) {
  *out << (c.stage == CommitStage::kBeforePointOfCommit ? "before" : "after") << " the point of commit"
       << (c.explicitControlFile ? ", explicit control file" : "");
}

class TransactionCutShort : public ::testing::TestWithParam<TransactionCase> {};

TEST_P(TransactionCutShort, NextOpenerOfEitherFileAgrees) {
  const TransactionCase c = GetParam();
  std::string dir = MakeTempDir();
  std::string a = dir + "/FIRST", b = dir + "/SECOND";
  CreateWithRecords(a, 20);
  CreateWithRecords(b, 20);
  std::string tcf = c.explicitControlFile ? dir + "/control.tcf" : "";
  EXPECT_EQ(Reap(Spawn([&] { return TwoFileTransaction(a, b, c.stage, tcf); })), 0);
  for (const std::string& path : {a, b}) {
    HeaderLengths cut = ReadLengths(path + ".TWL");
    EXPECT_NE(cut.committed, cut.pending) << path;
  }
  EXPECT_EQ(::access((c.explicitControlFile ? tcf : dir + "/tarnwell.tcf").c_str(), F_OK), 0);
  // Open the second file first: each file decides on its own.
  for (const std::string& path : {b, a}) {
    PartnerFile file(path);
    ASSERT_EQ(file.Open(), 0);
    HeaderLengths settled = ReadLengths(path + ".TWL");
    EXPECT_EQ(settled.committed, settled.pending);
    EXPECT_EQ(file.Records(), c.changed ? 21 : 20) << path;
    for (int id = 1; id <= 20; ++id) {
      ASSERT_EQ(file.GetById(id), 0);
      EXPECT_EQ(file.Name(), c.changed ? NewName(id) : "old" + std::to_string(id)) << path;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Stages, TransactionCutShort,
                         ::testing::Values(TransactionCase{CommitStage::kBeforePointOfCommit, false, false},
                                           TransactionCase{CommitStage::kBeforePointOfCommit, true, false},
                                           TransactionCase{CommitStage::kAfterPointOfCommit, false, true}));

// A transaction over files in two directories, cut short at every flush of
// its commit in turn: the next openers of the two files always agree, both
// with the change or both without it.
TEST(TransactionCutShort, FilesInTwoDirectoriesAgreeAtEveryFlush) {
  bool completed = false;
  for (int flush = 1; flush < 200 && !completed; ++flush) {
    std::string dir = MakeTempDir();
    ASSERT_EQ(::mkdir((dir + "/left").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir + "/right").c_str(), 0755), 0);
    std::string a = dir + "/left/A", b = dir + "/right/B";
    CreateWithRecords(a, 3);
    CreateWithRecords(b, 3);
    const int rc = Reap(Spawn([&] {
      PartnerFile first(a), second(b);
      if (first.Open() != 0 || second.Open() != 0) return 2;
      if (first.Run(files::OP_LOGOUT) != 0 || second.Run(files::OP_LOGOUT) != 0) return 3;
      if (first.Add(10, "t") != 0 || second.Add(10, "t") != 0) return 4;
      ArmCrash(flush, 0);
      if (first.Run(files::OP_COMMIT) != 0) return 5;
      return 7;  // the whole commit ran
    }));
    ASSERT_TRUE(rc == 0 || rc == 7) << "flush " << flush << ": " << rc;
    completed = rc == 7;
    int found[2];
    for (int i = 0; i < 2; ++i) {
      PartnerFile file(i == 0 ? a : b);
      ASSERT_EQ(file.Open(), 0);
      found[i] = file.GetById(10);
      EXPECT_EQ(file.Records(), found[i] == 0 ? 4 : 3);
    }
    EXPECT_EQ(found[0], found[1]) << "flush " << flush;
    if (completed) {
      EXPECT_EQ(found[0], 0);
    }
  }
  EXPECT_TRUE(completed);
}

TEST(Transaction, CommitAndRollbackInOneProgram) {
  std::string dir = MakeTempDir();
  std::string a = dir + "/ONE", b = dir + "/TWO";
  CreateWithRecords(a, 3);
  CreateWithRecords(b, 3);
  PartnerFile first(a), second(b);
  ASSERT_EQ(first.Open(), 0);
  ASSERT_EQ(second.Open(), 0);
  ASSERT_EQ(first.Run(files::OP_LOGOUT), 0);
  ASSERT_EQ(second.Run(files::OP_LOGOUT), 0);
  ASSERT_EQ(first.Add(10, "t1"), 0);
  ASSERT_EQ(second.Add(10, "t1"), 0);
  ASSERT_EQ(first.Run(files::OP_ROLLBACK), 0);
  EXPECT_EQ(first.GetById(10), 35);
  EXPECT_EQ(second.GetById(10), 35);

  ASSERT_EQ(first.Run(files::OP_LOGOUT), 0);
  ASSERT_EQ(second.Run(files::OP_LOGOUT), 0);
  ASSERT_EQ(first.Add(11, "t2"), 0);
  ASSERT_EQ(second.Add(11, "t2"), 0);
  ASSERT_EQ(second.Run(files::OP_COMMIT), 0);
  ASSERT_EQ(first.Run(files::OP_COMMIT), 0);  // already done with the first
  ASSERT_EQ(first.Close(), 0);
  ASSERT_EQ(second.Close(), 0);
  for (const std::string& path : {a, b}) {
    PartnerFile file(path);
    ASSERT_EQ(file.Open(), 0);
    EXPECT_EQ(file.GetById(11), 0);
    EXPECT_EQ(file.Records(), 4);
  }
}

}  // namespace
}  // namespace pr::store
