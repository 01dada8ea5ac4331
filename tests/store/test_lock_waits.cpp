// Waits for locks, holds and update locks, between processes and between
// threads of one process, and what a failed statement leaves behind under
// delayed writing.  Every scenario runs in child processes that end
// themselves with an alarm, so a hang fails its test instead of blocking the
// suite.  Files are opened only after forking.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <chrono>
#include <thread>

#include "store/locks.h"
#include "tests/store/test_driver_support.h"

namespace pr::store {
namespace {

using testing::MakeTempDir;
using testing::PartnerFile;
using testing::Reap;
using testing::Spawn;

constexpr unsigned kAlarmSeconds = 20;

// Thread B of the two-thread tests: opens a declaration of its own, adds
// record `id` and closes it; *rc becomes 0 or the first error.
std::thread AddFromAnotherThread(const std::string& path, uint8_t attributes, int32_t id, std::atomic<int>* rc) {
  return std::thread([path, attributes, id, rc] {
    PartnerFile mine(path, attributes);
    int result = mine.Open();
    if (result == 0) result = mine.Add(id, "b");
    if (result == 0) result = mine.Close();
    rc->store(result);
  });
}

// Runs `body` in a child that is killed after kAlarmSeconds; its exit code,
// or -1 when it was killed (a hang).
template <typename F>
int RunGuarded(F&& body) {
  return Reap(Spawn([&] {
    alarm(kAlarmSeconds);
    return body();
  }));
}

void CreateFile(const std::string& path, int records) {
  PartnerFile file(path);
  ASSERT_EQ(file.Open(), 0);
  for (int id = 1; id <= records; ++id) ASSERT_EQ(file.Add(id, "R" + std::to_string(id)), 0);
  ASSERT_EQ(file.Close(), 0);
}

bool SetProperty(PartnerFile& file, const char* name, const char* value) {
  PartnerFile::Push(name);
  PartnerFile::Push(value);
  return file.Run(files::OP_SET_PROPERTY) == 0;
}

struct Pipe {
  Pipe() {
    if (pipe(fds) != 0) fds[0] = fds[1] = -1;
  }
  ~Pipe() {
    close(fds[0]);
    close(fds[1]);
  }
  bool Signal() {
    char c = 's';
    return write(fds[1], &c, 1) == 1;
  }
  bool Wait() {
    char c;
    return read(fds[0], &c, 1) == 1;
  }
  int fds[2];
};

long MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

// ---------------------------------------------------------------- delayed writing

class FailedStatementUnderDelayedWriting : public ::testing::TestWithParam<const char*> {};

// A refused ADD takes back its own changes only: the deferred ADDs before it,
// of this declaration and of another declaration of the same file, reach the
// disk, and the record number it drew is not lost.
TEST_P(FailedStatementUnderDelayedWriting, KeepsEarlierDeferredChanges) {
  std::string path = MakeTempDir() + "/DW";
  CreateFile(path, 1);
  {
    PartnerFile file(path), other(path);
    ASSERT_EQ(file.Open(), 0);
    ASSERT_EQ(other.Open(), 0);
    ASSERT_TRUE(SetProperty(file, GetParam(), "1"));
    ASSERT_TRUE(SetProperty(other, GetParam(), "1"));
    ASSERT_EQ(file.Add(2, "two"), 0);
    ASSERT_EQ(other.Add(4, "four"), 0);
    ASSERT_EQ(file.Add(3, "three"), 0);
    file.Run(files::OP_POINTERfile);
    const int32_t lastPointer = file.lastResult;
    EXPECT_EQ(file.Add(2, "duplicate"), 40);
    EXPECT_EQ(other.Add(3, "duplicate"), 40);
    ASSERT_EQ(file.Add(5, "five"), 0);
    file.Run(files::OP_POINTERfile);
    EXPECT_EQ(file.lastResult, lastPointer + 1);
    ASSERT_EQ(file.Close(), 0);
    ASSERT_EQ(other.Close(), 0);
  }
  PartnerFile again(path);
  ASSERT_EQ(again.Open(), 0);
  EXPECT_EQ(again.Records(), 5);
  for (int id = 1; id <= 5; ++id) EXPECT_EQ(again.GetById(id), 0) << id;
  ASSERT_EQ(again.GetById(2), 0);
  EXPECT_EQ(again.Name(), "two");
}

INSTANTIATE_TEST_SUITE_P(DelayAndSkip, FailedStatementUnderDelayedWriting, ::testing::Values("DelayWrite", "SkipWrite"));

// ---------------------------------------------------------------- between processes

// P1 locks the table; P2 waits in LOCK(file); P1's ADD must not wait for P2.
TEST(LockWaitsBetweenProcesses, LockWaiterDoesNotBlockTheHoldersWrite) {
  std::string path = MakeTempDir() + "/LW";
  CreateFile(path, 1);
  Pipe locked, waiting;
  pid_t waiter = Spawn([&] {
    alarm(kAlarmSeconds);
    if (!locked.Wait()) return 1;
    PartnerFile file(path);
    if (file.Open() != 0) return 2;
    if (!waiting.Signal()) return 3;
    if (file.Run(files::OP_LOCKfile) != 0) return 4;
    // The holder's ADD happened before its UNLOCK.
    if (file.GetById(2) != 0) return 5;
    return file.Run(files::OP_UNLOCK);
  });
  const int holder = RunGuarded([&] {
    PartnerFile file(path);
    if (file.Open() != 0 || file.Run(files::OP_LOCKfile) != 0) return 10;
    if (!locked.Signal() || !waiting.Wait()) return 11;
    usleep(300 * 1000);  // the waiter is in its wait now
    const auto start = std::chrono::steady_clock::now();
    if (file.Add(2, "while locked") != 0) return 12;
    if (MillisecondsSince(start) > 2000) return 13;
    return file.Run(files::OP_UNLOCK);
  });
  EXPECT_EQ(holder, 0);
  EXPECT_EQ(Reap(waiter), 0);
}

// A HOLD with seconds gets the record once the holder has changed and
// released it, and reads it as changed.
TEST(LockWaitsBetweenProcesses, TimedHoldOutlastsAHolderThatChangesTheRecord) {
  std::string path = MakeTempDir() + "/HW";
  CreateFile(path, 2);
  Pipe held;
  pid_t waiter = Spawn([&] {
    alarm(kAlarmSeconds);
    if (!held.Wait()) return 1;
    PartnerFile file(path);
    if (file.Open() != 0) return 2;
    if (file.Run(files::OP_HOLDfilesec, 8) != 0) return 3;
    const auto start = std::chrono::steady_clock::now();
    if (file.GetById(1) != 0) return 4;
    if (file.Name() != "changed") return 5;
    if (MillisecondsSince(start) > 6000) return 6;
    return file.Run(files::OP_RELEASE);
  });
  const int holder = RunGuarded([&] {
    PartnerFile file(path);
    if (file.Open() != 0) return 10;
    if (file.Run(files::OP_HOLDfile) != 0 || file.GetById(1) != 0) return 11;
    if (!held.Signal()) return 12;
    usleep(500 * 1000);
    file.Set(1, "changed");
    if (file.Run(files::OP_PUT) != 0) return 13;
    return file.Run(files::OP_RELEASE);
  });
  EXPECT_EQ(holder, 0);
  EXPECT_EQ(Reap(waiter), 0);
}

// Two transactions take X and Y in opposite orders.  One of them gives up
// with the lock's error and rolls back; nothing hangs, and what each program
// was told is what the files hold.
TEST(LockWaitsBetweenProcesses, OppositeOrderTransactionsDoNotWaitForEver) {
  std::string dir = MakeTempDir();
  std::string x = dir + "/X", y = dir + "/Y";
  CreateFile(x, 0);
  CreateFile(y, 0);
  Pipe firstDone[2];
  auto transaction = [&](int me, const std::string& a, const std::string& b) {
    SetTransactionLockPatience(500);
    PartnerFile fa(a), fb(b);
    if (fa.Open() != 0 || fb.Open() != 0) return 20;
    if (fa.Run(files::OP_LOGOUT) != 0 || fb.Run(files::OP_LOGOUT) != 0) return 21;
    if (fa.Add(100 + me, "first") != 0) return 22;
    if (!firstDone[me].Signal() || !firstDone[1 - me].Wait()) return 23;
    int rc = fb.Add(100 + me, "second");
    if (rc == 0) return fa.Run(files::OP_COMMIT) == 0 ? 0 : 24;  // 0: committed
    if (rc != 5) return 25;
    fa.Run(files::OP_ROLLBACK);
    return 1;  // 1: rolled back
  };
  pid_t p0 = Spawn([&] {
    alarm(kAlarmSeconds);
    return transaction(0, x, y);
  });
  pid_t p1 = Spawn([&] {
    alarm(kAlarmSeconds);
    return transaction(1, y, x);
  });
  const int r0 = Reap(p0), r1 = Reap(p1);
  ASSERT_TRUE(r0 == 0 || r0 == 1) << r0;
  ASSERT_TRUE(r1 == 0 || r1 == 1) << r1;
  for (const std::string& path : {x, y}) {
    PartnerFile file(path);
    ASSERT_EQ(file.Open(), 0);
    EXPECT_EQ(file.GetById(100), r0 == 0 ? 0 : 35) << path;
    EXPECT_EQ(file.GetById(101), r1 == 0 ? 0 : 35) << path;
  }
}

// ---------------------------------------------------------------- between threads

// Thread A holds the table lock, thread B waits for it on its own THREAD
// instance; A must still be able to write and unlock.
TEST(LockWaitsBetweenThreads, LockWaiterLetsTheHolderWorkAndUnlock) {
  std::string path = MakeTempDir() + "/TL";
  CreateFile(path, 1);
  EXPECT_EQ(RunGuarded([&] {
              PartnerFile a(path, files::ATTR_CREATE | files::ATTR_THREAD);
              if (a.Open() != 0 || a.Run(files::OP_LOCKfile) != 0) return 1;
              std::atomic<int> b{-1};
              std::thread other([&] {
                PartnerFile mine(path, files::ATTR_CREATE | files::ATTR_THREAD);
                if (mine.Open() != 0) return b.store(2);
                int rc = mine.Run(files::OP_LOCKfile);
                if (rc == 0) rc = mine.GetById(2) == 0 ? mine.Run(files::OP_UNLOCK) : 3;
                b.store(rc);
              });
              usleep(300 * 1000);
              if (a.Add(2, "locked") != 0) return 4;
              if (a.Run(files::OP_UNLOCK) != 0) return 5;
              other.join();
              return b.load();
            }),
            0);
}

// A transaction in thread A and plain ADDs in thread B on its own instance:
// B waits for A's update lock without keeping A from committing.  The same
// holds for delayed writing, which keeps the update lock between statements.
TEST(LockWaitsBetweenThreads, WriterWaitsOutsideTheDriverForATransactionOrDeferredUpdate) {
  for (int variant = 0; variant < 2; ++variant) {
    std::string path = MakeTempDir() + "/TT";
    CreateFile(path, 1);
    EXPECT_EQ(RunGuarded([&] {
                PartnerFile a(path, files::ATTR_CREATE | files::ATTR_THREAD);
                if (a.Open() != 0) return 1;
                if (variant == 0 ? a.Run(files::OP_LOGOUT) != 0 : !SetProperty(a, "SkipWrite", "1")) return 2;
                if (a.Add(10, "a") != 0) return 3;
                std::atomic<int> b{-1};
                std::thread other = AddFromAnotherThread(path, files::ATTR_CREATE | files::ATTR_THREAD, 20, &b);
                usleep(300 * 1000);
                if (a.Add(11, "a") != 0) return 4;
                if (variant == 0 ? a.Run(files::OP_COMMIT) != 0 : a.Close() != 0) return 5;
                other.join();
                return b.load();
              }),
              0)
        << variant;
    PartnerFile file(path);
    ASSERT_EQ(file.Open(), 0);
    for (int id : {10, 11, 20}) EXPECT_EQ(file.GetById(id), 0) << variant << " " << id;
  }
}

// Another thread's change through its own (shared) declaration is never
// swallowed by a transaction it is no part of: it waits for the transaction
// to end and is then kept.
TEST(LockWaitsBetweenThreads, ChangeFromOutsideATransactionSurvivesItsRollback) {
  std::string path = MakeTempDir() + "/TX";
  CreateFile(path, 1);
  EXPECT_EQ(RunGuarded([&] {
              PartnerFile a(path);
              if (a.Open() != 0 || a.Run(files::OP_LOGOUT) != 0 || a.Add(10, "a") != 0) return 1;
              std::atomic<int> b{-1};
              std::thread other = AddFromAnotherThread(path, files::ATTR_CREATE, 20, &b);
              usleep(300 * 1000);
              // A read of the shared file while the other thread waits.
              if (a.GetById(1) != 0) return 4;
              if (a.Run(files::OP_ROLLBACK) != 0) return 2;
              other.join();
              if (b.load() != 0) return 10 + b.load();
              if (a.GetById(10) != 35) return 3;
              return a.GetById(20);
            }),
            0);
  PartnerFile file(path);
  ASSERT_EQ(file.Open(), 0);
  EXPECT_EQ(file.GetById(20), 0);
  EXPECT_EQ(file.GetById(10), 35);
}

// Only the thread that runs a transaction ends it: another thread's
// ROLLBACK leaves it alone.
TEST(LockWaitsBetweenThreads, AnotherThreadsRollbackLeavesTheTransaction) {
  std::string path = MakeTempDir() + "/TR";
  CreateFile(path, 1);
  EXPECT_EQ(RunGuarded([&] {
              PartnerFile a(path, files::ATTR_CREATE | files::ATTR_THREAD);
              if (a.Open() != 0 || a.Run(files::OP_LOGOUT) != 0 || a.Add(10, "a") != 0) return 1;
              std::thread other([&] {
                PartnerFile mine(path, files::ATTR_CREATE | files::ATTR_THREAD);
                if (mine.Open() == 0) mine.Run(files::OP_ROLLBACK);
              });
              other.join();
              if (a.Run(files::OP_COMMIT) != 0) return 2;
              return a.GetById(10);
            }),
            0);
  PartnerFile file(path);
  ASSERT_EQ(file.Open(), 0);
  EXPECT_EQ(file.GetById(10), 0);
}

// Another program adds record 30 with its writing deferred, so it keeps the
// update lock; it says so on `deferred`, and writes and closes on `go`.
pid_t SpawnDeferredWriter(const std::string& path, Pipe& deferred, Pipe& go) {
  return Spawn([&] {
    alarm(kAlarmSeconds);
    PartnerFile file(path);
    if (file.Open() != 0 || !SetProperty(file, "SkipWrite", "1")) return 1;
    if (file.Add(30, "other program") != 0) return 2;
    if (!deferred.Signal() || !go.Wait()) return 3;
    return file.Close();
  });
}

// Thread B of one program waits for another program's update lock while
// thread A reads the same file through its own declaration; B's change then
// goes ahead on the file A has just read.
TEST(LockWaitsBetweenThreads, WaiterResumesAfterReadsOfTheSharedFile) {
  std::string path = MakeTempDir() + "/RS";
  CreateFile(path, 1);
  Pipe deferred, go;
  pid_t writer = SpawnDeferredWriter(path, deferred, go);
  EXPECT_EQ(RunGuarded([&] {
              if (!deferred.Wait()) return 1;
              PartnerFile a(path);
              if (a.Open() != 0) return 2;
              std::atomic<int> b{-1};
              std::thread other = AddFromAnotherThread(path, files::ATTR_CREATE, 20, &b);
              usleep(200 * 1000);
              if (a.GetById(1) != 0) return 3;
              if (!go.Signal()) return 4;
              other.join();
              if (b.load() != 0) return 10 + b.load();
              return a.GetById(20);
            }),
            0);
  EXPECT_EQ(Reap(writer), 0);
  PartnerFile file(path);
  ASSERT_EQ(file.Open(), 0);
  EXPECT_EQ(file.GetById(20), 0);
  EXPECT_EQ(file.GetById(30), 0);
}

// Two threads open the same new table while another program holds the
// update lock: the one that waits longer finds the table the other created.
TEST(LockWaitsBetweenThreads, TwoOpenersCreateANewTableOnce) {
  std::string path = MakeTempDir() + "/NT";
  CreateFile(path, 1);
  Pipe deferred, go;
  pid_t writer = SpawnDeferredWriter(path, deferred, go);
  const std::string table = path + "\\!NEW";
  EXPECT_EQ(RunGuarded([&] {
              if (!deferred.Wait()) return 1;
              std::atomic<int> results[2] = {-1, -1};
              std::thread openers[2];
              for (int t = 0; t < 2; ++t) {
                openers[t] = std::thread([&, t] {
                  PartnerFile mine(table);
                  int rc = mine.Open();
                  if (rc == 0) rc = mine.Add(t + 1, "new");
                  if (rc == 0) rc = mine.Close();
                  results[t].store(rc);
                });
              }
              usleep(300 * 1000);
              if (!go.Signal()) return 2;
              for (std::thread& opener : openers) opener.join();
              return results[0].load() * 100 + results[1].load();
            }),
            0);
  EXPECT_EQ(Reap(writer), 0);
  PartnerFile file(table);
  ASSERT_EQ(file.Open(), 0);
  EXPECT_EQ(file.Records(), 2);
}

// One thread with a THREAD declaration whose changes are deferred and a
// shared declaration of the same file: the shared one's change cannot get the
// update lock the thread itself holds, and says so instead of waiting.
TEST(LockWaitsBetweenThreads, ThreadDoesNotWaitForItsOwnDeferredUpdate) {
  std::string path = MakeTempDir() + "/SELF";
  CreateFile(path, 1);
  EXPECT_EQ(RunGuarded([&] {
              PartnerFile instance(path, files::ATTR_CREATE | files::ATTR_THREAD), shared(path);
              if (instance.Open() != 0 || shared.Open() != 0) return 1;
              if (!SetProperty(instance, "SkipWrite", "1") || instance.Add(2, "deferred") != 0) return 2;
              if (shared.Add(3, "refused") != 5) return 3;
              if (instance.Close() != 0) return 4;
              return shared.Add(3, "now");
            }),
            0);
  PartnerFile file(path);
  ASSERT_EQ(file.Open(), 0);
  EXPECT_EQ(file.Records(), 3);
}

// ---------------------------------------------------------------- hold ownership

// Another process tries to hold `id`: 0 when it gets it, 43 when held.
int HoldFromAnotherProcess(const std::string& path, int id) {
  return RunGuarded([&] {
    // Another access mode: a file object (and byte locks) of its own, not
    // the one inherited from this program.
    PartnerFile other(path);
    if (other.Open(0x41) != 0) return 9;
    if (other.Run(files::OP_HOLDfile) != 0) return 8;
    return other.GetById(id);
  });
}

TEST(HoldOwnership, HoldsBelongToTheDeclarationThatTookThem) {
  std::string path = MakeTempDir() + "/HO";
  CreateFile(path, 3);
  PartnerFile a(path), b(path);
  ASSERT_EQ(a.Open(), 0);
  ASSERT_EQ(b.Open(), 0);
  // A holds record 1 twice and closes: its holds go with it, B's open file
  // keeps none.
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(a.Run(files::OP_HOLDfile), 0);
    ASSERT_EQ(a.GetById(1), 0);
  }
  ASSERT_EQ(a.Close(), 0);
  EXPECT_EQ(HoldFromAnotherProcess(path, 1), 0);

  // A and B both hold record 1; A moving on to record 2 leaves B's hold.
  ASSERT_EQ(a.Open(), 0);
  for (PartnerFile* f : {&a, &b}) {
    ASSERT_EQ(f->Run(files::OP_HOLDfile), 0);
    ASSERT_EQ(f->GetById(1), 0);
  }
  ASSERT_EQ(a.Run(files::OP_HOLDfile), 0);
  ASSERT_EQ(a.GetById(2), 0);
  EXPECT_EQ(HoldFromAnotherProcess(path, 1), 43);
  EXPECT_EQ(HoldFromAnotherProcess(path, 2), 43);
  ASSERT_EQ(b.Run(files::OP_RELEASE), 0);
  EXPECT_EQ(HoldFromAnotherProcess(path, 1), 0);
  ASSERT_EQ(a.Run(files::OP_RELEASE), 0);
  EXPECT_EQ(HoldFromAnotherProcess(path, 2), 0);
}

// Openers whose descriptors could only be opened for reading (the file is
// read-only for them) still exclude each other's holds.
TEST(HoldOwnership, ReadOnlyOpenersDoNotShareAHold) {
  std::string dir = MakeTempDir();
  std::string path = dir + "/RO";
  CreateFile(path, 2);
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  ASSERT_EQ(chmod((path + ".TWL").c_str(), 0444), 0);
  // A superuser may write any file: the openers become an ordinary user.
  auto asReader = [] { return getuid() != 0 || setuid(65534) == 0; };
  Pipe held, done;
  pid_t holder = Spawn([&] {
    alarm(kAlarmSeconds);
    if (!asReader()) return 1;
    PartnerFile file(path);
    if (file.Open(0x40) != 0) return 2;
    if (file.Run(files::OP_HOLDfile) != 0 || file.GetById(1) != 0) return 3;
    if (!held.Signal() || !done.Wait()) return 4;
    return 0;
  });
  ASSERT_TRUE(held.Wait());
  const int second = RunGuarded([&] {
    if (!asReader()) return 1;
    PartnerFile file(path);
    if (file.Open(0x40) != 0) return 2;
    if (file.Run(files::OP_HOLDfile) != 0) return 3;
    return file.GetById(1);
  });
  EXPECT_EQ(second, 43);
  ASSERT_TRUE(done.Signal());
  EXPECT_EQ(Reap(holder), 0);
}

// A read-only opener's hold bytes live in a companion file in the shared
// temporary folder.  A name planted there as a link is refused: the hold is
// not granted, and the file the link leads to is neither opened up nor used.
TEST(HoldOwnership, APlantedCompanionLinkIsRefused) {
  std::string dir = MakeTempDir();
  std::string path = dir + "/RL";
  CreateFile(path, 2);
  ASSERT_EQ(chmod((path + ".TWL").c_str(), 0444), 0);
  struct stat data {};
  ASSERT_EQ(stat((path + ".TWL").c_str(), &data), 0);
  char companion[96];
  std::snprintf(companion, sizeof companion, "/tmp/.pr-holds-%llx-%llx", static_cast<unsigned long long>(data.st_dev),
                static_cast<unsigned long long>(data.st_ino));
  const std::string victim = dir + "/victim";
  { std::ofstream(victim) << "keep"; }
  ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  // A superuser may write any file, so it would not open the data file for
  // reading only: the opener, and the victim's owner, are an ordinary user.
  if (getuid() == 0) {
    ASSERT_EQ(chown(victim.c_str(), 65534, 65534), 0);
  }
  unlink(companion);
  ASSERT_EQ(symlink(victim.c_str(), companion), 0);
  const int held = RunGuarded([&] {
    if (getuid() == 0 && setuid(65534) != 0) return -3;
    PartnerFile file(path);
    if (file.Open(0x40) != 0) return -1;
    if (file.Run(files::OP_HOLDfile) != 0) return -2;
    return file.GetById(1);
  });
  unlink(companion);
  EXPECT_NE(held, 0);
  struct stat after {};
  ASSERT_EQ(stat(victim.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace pr::store
