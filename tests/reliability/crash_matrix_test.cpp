// Crash matrix: an update is stopped at each of its writes and flushes in
// turn, the process ending right there (and, for page writes, after writing
// only half of the block).  The next opener must find the state before or
// the state after the update, never a mix, and the tree must verify.  One
// file alone, and one transaction over two files.
//
// Power-loss matrix: the same updates stopped at each of their syncs, where
// the power fails: of the writes since the last completed sync the disk keeps
// none, all, a prefix and half of the next, a random subset, random sectors,
// or a random subset in a random order.  The same must hold.
#include <errno.h>

#include <cstdio>
#include <filesystem>

#include "platform/fault_file_system.h"
#include "tests/reliability/reliability_support.h"
#include "tests/store/container_test_util.h"

namespace pr::reliability {
namespace {

using store::testing::ReadWholeFile;
using store::testing::WriteWholeFile;

// Counts every write and flush; at call `stopAt` the process ends (after half
// of a page write when `tear` is set).  Flushes only count: a process that
// ends keeps what it wrote, so syncing to the device adds nothing to the cut.
struct StopAtCall {
  static inline long (*realWrite)(int, const void*, size_t, int64_t) = nullptr;
  static inline long calls = 0;
  static inline long stopAt = -1;
  static inline bool tear = false;

  static long Write(int fd, const void* buffer, size_t n, int64_t offset) {
    if (++calls == stopAt) {
      if (tear && offset != 0 && n >= 128) realWrite(fd, buffer, n / 2, offset);
      _exit(0);
    }
    return realWrite(fd, buffer, n, offset);
  }
  static int Flush(int) {
    if (++calls == stopAt) _exit(0);
    return 0;
  }
  static void Arm(long stop, bool tearWrite) {
    FileSyscalls& syscalls = PlatformFileSyscalls();
    realWrite = syscalls.pwrite;
    calls = 0;
    stopAt = stop;
    tear = tearWrite;
    syscalls.pwrite = Write;
    syscalls.fdatasync = Flush;
  }
};

// Stops at the `stopAt`-th sync of the update and loses the power there.  The
// file system is installed before the update opens its files, so that it
// knows every file's synced image.
struct PowerCut {
  static inline prk::FaultFileSystem* fs = nullptr;
  static inline bool active = false;
  static inline prk::FaultFileSystem::Loss loss = prk::FaultFileSystem::Loss::kDropAll;
  static inline uint32_t seed = 0;

  static void Prepare() {
    if (!active) return;
    delete fs;
    fs = new prk::FaultFileSystem();
    prk::InstallFileSystem(fs);
  }
  static void Arm(long stop) {
    fs->ResetCounts();
    fs->beforeCall = [stop](prk::FaultFileSystem::Call call, long number) {
      if (call != prk::FaultFileSystem::kSync || number != stop) return;
      fs->PowerLoss(loss, seed);
      _exit(0);
    };
  }
};

void Prepare() { PowerCut::Prepare(); }

void Arm(long stop, bool tear) {
  if (PowerCut::active) {
    PowerCut::Arm(stop);
  } else {
    StopAtCall::Arm(stop, tear);
  }
}

long Calls() { return PowerCut::active ? PowerCut::fs->Count(prk::FaultFileSystem::kSync) : StopAtCall::calls; }

void Disarm() {
  ResetPlatformFileSyscalls();
  prk::InstallFileSystem(nullptr);
  if (PowerCut::fs) PowerCut::fs->beforeCall = nullptr;
}

std::string Name(int id, const char* tag) { return std::string(tag) + std::to_string(id); }

void Create(const std::string& path, int count) {
  PartnerFile file(path);
  ASSERT_EQ(file.Open(), 0);
  ASSERT_EQ(file.Run(files::OP_LOGOUT), 0);
  for (int id = 1; id <= count; ++id) ASSERT_EQ(file.Add(id, Name(id, "old")), 0);
  ASSERT_EQ(file.Run(files::OP_COMMIT), 0);
  ASSERT_EQ(file.Close(), 0);
}

// Changes one open file inside a transaction: renames, deletes and adds that
// touch pages inside the old page area and beyond it.  Returns 0 or a step.
int ChangeInTransaction(PartnerFile& file, int count) {
  for (int id = 1; id <= count; id += 3) {
    if (file.GetById(id) != 0) return 10;
    file.Set(id, Name(id, "new"));
    if (file.Run(files::OP_PUT) != 0) return 11;
  }
  for (int id = 2; id <= count; id += 7) {
    if (file.GetById(id) != 0) return 12;
    if (file.Run(files::OP_DELETE) != 0) return 13;
  }
  for (int id = count + 1; id <= count + 60; ++id)
    if (file.Add(id, Name(id, "added")) != 0) return 14;
  return 0;
}

Records Expected(int count) {
  Records records;
  for (int id = 1; id <= count; ++id) records[id] = Name(id, "old");
  for (int id = 1; id <= count; id += 3) records[id] = Name(id, "new");
  for (int id = 2; id <= count; id += 7) records.erase(id);
  for (int id = count + 1; id <= count + 60; ++id) records[id] = Name(id, "added");
  return records;
}

// Each update below changes the files at `paths`, arming the stop just
// before the statement that writes.  With no stop (-1) it returns 1000 plus
// the calls it made; a stop ends the process; other results name a failed
// step.
int SingleFileCommit(const std::vector<std::string>& paths, long stopAt, bool tear, int count) {
  Prepare();
  PartnerFile file(paths[0]);
  if (file.Open() != 0) return 1;
  if (file.Run(files::OP_LOGOUT) != 0) return 2;
  if (int step = ChangeInTransaction(file, count)) return step;
  Arm(stopAt, tear);
  int rc = file.Run(files::OP_COMMIT);
  long calls = Calls();
  Disarm();
  if (rc != 0) return 3;
  return stopAt < 0 ? static_cast<int>(calls) + 1000 : 0;
}

int SingleAdd(const std::vector<std::string>& paths, long stopAt, bool tear, int count) {
  Prepare();
  PartnerFile file(paths[0]);
  if (file.Open() != 0) return 1;
  Arm(stopAt, tear);
  int rc = file.Add(count + 1, Name(count + 1, "added"));
  long calls = Calls();
  Disarm();
  if (rc != 0) return 3;
  return stopAt < 0 ? static_cast<int>(calls) + 1000 : 0;
}

int TwoFileCommit(const std::vector<std::string>& paths, long stopAt, bool tear, int count) {
  Prepare();
  PartnerFile first(paths[0]), second(paths[1]);
  if (first.Open() != 0 || second.Open() != 0) return 1;
  if (first.Run(files::OP_LOGOUT) != 0 || second.Run(files::OP_LOGOUT) != 0) return 2;
  if (int step = ChangeInTransaction(first, count)) return step;
  if (int step = ChangeInTransaction(second, count)) return step + 20;
  Arm(stopAt, tear);
  int rc = first.Run(files::OP_COMMIT);
  long calls = Calls();
  Disarm();
  if (rc != 0) return 3;
  return stopAt < 0 ? static_cast<int>(calls) + 1000 : 0;
}

struct MatrixCase {
  const char* name;
  int files;
  int (*update)(const std::vector<std::string>&, long, bool, int);
  Records (*after)(int count);
};

void PrintTo(const MatrixCase& c, std::ostream* os) { *os << c.name; }

Records AfterAdd(int count) {
  Records records;
  for (int id = 1; id <= count; ++id) records[id] = Name(id, "old");
  records[count + 1] = Name(count + 1, "added");
  return records;
}

// The files of one case as they stood before the update under test, what
// they hold before and after it, and the way back to before.
struct MatrixFiles {
  static constexpr int kCount = 400;
  explicit MatrixFiles(const MatrixCase& c) : dir(store::testing::MakeTempDir()), after(c.after(kCount)) {
    for (int i = 0; i < c.files; ++i) {
      paths.push_back(dir + "/FILE" + std::to_string(i));
      Create(paths.back(), kCount);
      images.push_back(ReadWholeFile(paths.back() + ".TWL"));
    }
    for (int id = 1; id <= kCount; ++id) before[id] = Name(id, "old");
  }
  void Restore() const {
    for (size_t i = 0; i < paths.size(); ++i) WriteWholeFile(paths[i] + ".TWL", images[i]);
    std::error_code ignored;
    std::filesystem::remove(dir + "/tarnwell.tcf", ignored);
  }
  const std::string dir;
  std::vector<std::string> paths;
  std::vector<std::vector<uint8_t>> images;
  Records before;
  const Records after;
};

class CrashMatrix : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(CrashMatrix, EveryStopLeavesBeforeOrAfterAndAVerifiedTree) {
  const MatrixCase c = GetParam();
  constexpr int kCount = MatrixFiles::kCount;
  MatrixFiles files(c);
  const std::vector<std::string>& paths = files.paths;
  const Records& before = files.before;
  const Records& after = files.after;
  auto restore = [&] { files.Restore(); };

  // A full run counts the calls of the update.
  const int dry = c.update(paths, -1, false, kCount);
  ASSERT_GT(dry, 1000) << "update failed at step " << dry;
  const long total = dry - 1000;
  ASSERT_GT(total, 4);
  for (const std::string& path : paths) {
    int rc = 0;
    EXPECT_EQ(ReadRecords(path, &rc), after);
  }

  // The checks below settle cut updates; their flushes only cost time here.
  PlatformFileSyscalls().fdatasync = [](int) { return 0; };
  int sawBefore = 0, sawAfter = 0, trials = 0;
  for (long stop = 1; stop <= total; ++stop) {
    for (bool tear : {false, true}) {
      restore();
      pid_t child = fork();
      if (child == 0) _exit(c.update(paths, stop, tear, kCount) == 0 ? 7 : 8);
      std::string why;
      ASSERT_TRUE(ExitedWith(child, 0, &why)) << "stop " << stop << ": " << why;
      ++trials;
      // Open the second file first: each file settles on its own.
      bool changed = false;
      for (size_t i = paths.size(); i-- > 0;) {
        int rc = 0;
        Records now = ReadRecords(paths[i], &rc);
        ASSERT_EQ(rc, 33) << "stop " << stop << " tear " << tear << " file " << i;
        std::string problem = VerifyFile(paths[i] + ".TWL");
        ASSERT_EQ(problem, "") << "stop " << stop << " tear " << tear << " file " << i;
        bool isAfter = now == after;
        ASSERT_TRUE(isAfter || now == before)
            << "stop " << stop << " tear " << tear << " file " << i << ": neither before nor after";
        if (i + 1 == paths.size()) changed = isAfter;
        ASSERT_EQ(isAfter, changed) << "stop " << stop << ": the files of one transaction disagree";
      }
      (changed ? sawAfter : sawBefore)++;
    }
  }
  ResetPlatformFileSyscalls();
  std::printf("%s: %ld calls, %d stops, %d before, %d after\n", c.name, total, trials, sawBefore, sawAfter);
  EXPECT_GT(sawBefore, 0);
  EXPECT_GT(sawAfter, 0);
}

// Reads every file (the second first: each settles on its own) and checks it
// holds `before` or `after`, all files alike, and verifies.  *changed: after.
void CheckFiles(const std::vector<std::string>& paths, const Records& before, const Records& after,
                const std::string& label, bool* changed) {
  for (size_t i = paths.size(); i-- > 0;) {
    int rc = 0;
    Records now = ReadRecords(paths[i], &rc);
    ASSERT_EQ(rc, 33) << label << " file " << i;
    std::string problem = VerifyFile(paths[i] + ".TWL");
    ASSERT_EQ(problem, "") << label << " file " << i;
    bool isAfter = now == after;
    ASSERT_TRUE(isAfter || now == before) << label << " file " << i << ": neither before nor after";
    if (i + 1 == paths.size()) *changed = isAfter;
    ASSERT_EQ(isAfter, *changed) << label << ": the files of one transaction disagree";
  }
}

class PowerLossMatrix : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(PowerLossMatrix, EverySyncCutInEveryPatternLeavesBeforeOrAfter) {
  using Loss = prk::FaultFileSystem::Loss;
  const MatrixCase c = GetParam();
  constexpr int kCount = MatrixFiles::kCount;
  MatrixFiles files(c);
  const std::vector<std::string>& paths = files.paths;
  const Records& before = files.before;
  const Records& after = files.after;
  auto restore = [&] { files.Restore(); };

  // The simulated disk keeps what a sync completed; the device itself need
  // not be flushed.
  PlatformFileSyscalls().fdatasync = [](int) { return 0; };
  PowerCut::active = true;
  const int dry = c.update(paths, -1, false, kCount);
  PowerCut::active = false;
  PlatformFileSyscalls().fdatasync = [](int) { return 0; };  // the dry run put the real one back
  ASSERT_GT(dry, 1000) << "update failed at step " << dry;
  const long syncs = dry - 1000;
  ASSERT_GE(syncs, 2);
  bool changed = false;
  CheckFiles(paths, before, after, "dry run", &changed);
  ASSERT_TRUE(changed);

  struct Pattern {
    Loss loss;
    int seeds;
  };
  // Three seeds of each random pattern (one in the sanitized builds).
  const int seeds = Trials(3);
  const Pattern patterns[] = {{Loss::kDropAll, 1},          {Loss::kKeepAll, 1},
                              {Loss::kPrefixTorn, seeds},   {Loss::kRandomSubset, seeds},
                              {Loss::kRandomSectors, seeds}, {Loss::kReordered, seeds}};
  int sawBefore = 0, sawAfter = 0, trials = 0;
  for (long stop = 1; stop <= syncs; ++stop) {
    for (const Pattern& pattern : patterns) {
      for (int seed = 1; seed <= pattern.seeds; ++seed) {
        restore();
        pid_t child = fork();
        if (child == 0) {
          PowerCut::active = true;
          PowerCut::loss = pattern.loss;
          PowerCut::seed = static_cast<uint32_t>(stop * 1000 + seed);
          _exit(c.update(paths, stop, false, kCount) == 0 ? 7 : 8);
        }
        const std::string label = "sync " + std::to_string(stop) + " pattern " +
                                  std::to_string(static_cast<int>(pattern.loss)) + " seed " + std::to_string(seed);
        std::string why;
        ASSERT_TRUE(ExitedWith(child, 0, &why)) << label << ": " << why;
        ++trials;
        CheckFiles(paths, before, after, label, &changed);
        if (HasFatalFailure()) return;
        (changed ? sawAfter : sawBefore)++;
      }
    }
  }
  ResetPlatformFileSyscalls();
  std::printf("%s: %ld syncs, %d power cuts, %d before, %d after\n", c.name, syncs, trials, sawBefore, sawAfter);
  EXPECT_GT(sawBefore, 0);
  EXPECT_GT(sawAfter, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Updates, PowerLossMatrix,
    ::testing::Values(
        MatrixCase{"OneAdd", 1, SingleAdd, AfterAdd},
        MatrixCase{"OneFileCommit", 1, SingleFileCommit, Expected},
        MatrixCase{"TwoFileCommit", 2, TwoFileCommit, Expected}),
    [](const ::testing::TestParamInfo<MatrixCase>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Updates, CrashMatrix,
    ::testing::Values(
        MatrixCase{"OneAdd", 1, SingleAdd, AfterAdd},
        MatrixCase{"OneFileCommit", 1, SingleFileCommit, Expected},
        MatrixCase{"TwoFileCommit", 2, TwoFileCommit, Expected}),
    [](const ::testing::TestParamInfo<MatrixCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pr::reliability
