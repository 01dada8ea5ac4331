// The lock and transaction trial: four programs of two threads each work on
// two files in two directories at once, mixing table locks, holds (with and
// without seconds), transactions over both files that commit or roll back,
// and plain changes, while the parent kills programs at random moments and
// starts others in their place.
//
// Each worker owns its own record numbers and writes what it is about to do,
// then how it ended, to a log of fixed-size entries (a write lands whole even
// when the writer is killed).  Afterwards every confirmed change and every
// committed transaction must be in the files, every refused or rolled-back one
// absent (only the one a kill cut short may be either way), a transaction's
// record present in both files or in neither, and both files must verify.
//
// Every program ends itself with an alarm: a hang fails the trial.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "store/locks.h"
#include "tests/reliability/reliability_support.h"

namespace pr::reliability {
namespace {

constexpr int kSlots = 4;              // programs running at once
constexpr int kThreads = 2;            // workers per program
constexpr int kCommon = 10;            // records 1..10: held and released, never changed
constexpr int32_t kIdsPerWorker = 100000;
constexpr unsigned kAlarmSeconds = 120;

// One log entry.  kind: 'A' add, 'P' put, 'T' transaction over both files;
// files: bit 0 the first file, bit 1 the second.  phase 0: about to run;
// phase 1: ended, with its error code (0: confirmed or committed).
struct LogEntry {
  uint8_t phase;
  char kind;
  uint8_t files;
  uint8_t pad;
  int32_t id;
  int32_t rc;
  char name[20];
};

bool Log(int fd, uint8_t phase, char kind, uint8_t files, int32_t id, int32_t rc, const std::string& name) {
  LogEntry entry{};
  entry.phase = phase;
  entry.kind = kind;
  entry.files = files;
  entry.id = id;
  entry.rc = rc;
  std::memcpy(entry.name, name.data(), std::min<size_t>(name.size(), sizeof entry.name));
  return write(fd, &entry, sizeof entry) == static_cast<ssize_t>(sizeof entry);
}

std::vector<LogEntry> ReadLog(const std::string& path) {
  std::vector<LogEntry> entries;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return entries;
  LogEntry entry;
  while (std::fread(&entry, sizeof entry, 1, f) == 1) entries.push_back(entry);
  std::fclose(f);
  return entries;
}

int NoFlush(int) { return 0; }

struct Paths {
  std::string dir;
  std::string file[2];
  std::string LogOf(int worker) const { return dir + "/log" + std::to_string(worker); }
};

// One worker: `operations` statements' worth of work.  Thread 0 of a program
// uses THREAD instances (a physical file of its own), thread 1 the program's
// shared ones, so the two also meet each other's locks.  Returns 0, or a
// number that names what went wrong.
int Worker(const Paths& paths, int worker, bool threadFiles, int operations) {
  const int log = open(paths.LogOf(worker).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log < 0) return 50;
  const uint8_t attributes = files::ATTR_CREATE | (threadFiles ? files::ATTR_THREAD : 0);
  PartnerFile x(paths.file[0], attributes), y(paths.file[1], attributes);
  PartnerFile* both[2] = {&x, &y};
  if (x.Open() != 0 || y.Open() != 0) return 51;
  std::mt19937 rng(static_cast<unsigned>(worker * 7919 + 17));
  const int32_t base = (worker + 1) * kIdsPerWorker;
  int32_t next = 0;
  std::vector<int32_t> mine[2];  // confirmed records of this worker, per file
  int result = 0;
  for (int n = 0; n < operations && result == 0; ++n) {
    const unsigned pick = rng() % 100;
    const int f = static_cast<int>(rng() % 2);
    PartnerFile& file = *both[f];
    const std::string name = "w" + std::to_string(worker) + "-" + std::to_string(n);
    if (pick < 30) {
      // A plain ADD: always confirmed.
      const int32_t id = base + next++;
      Log(log, 0, 'A', uint8_t(1 << f), id, 0, name);
      const int rc = file.Add(id, name);
      Log(log, 1, 'A', uint8_t(1 << f), id, rc, name);
      if (rc != 0) result = 1;
      mine[f].push_back(id);
    } else if (pick < 45 && !mine[f].empty()) {
      // HOLD (sometimes with seconds) of one of this worker's records, PUT,
      // RELEASE: refused only by a hold that cannot be had.
      const int32_t id = mine[f][rng() % mine[f].size()];
      const bool timed = rng() % 2 == 0;
      if (file.Run(timed ? files::OP_HOLDfilesec : files::OP_HOLDfile, 1) != 0) return 2;
      Log(log, 0, 'P', uint8_t(1 << f), id, 0, name);
      int rc = file.GetById(id);
      if (rc == 0) {
        file.Set(id, name);
        rc = file.Run(files::OP_PUT);
      }
      Log(log, 1, 'P', uint8_t(1 << f), id, rc, name);
      if (rc != 0) result = 3;
      if (file.Run(files::OP_RELEASE) != 0) result = 4;
    } else if (pick < 55) {
      // HOLD of a common record that every worker holds now and then.
      const bool timed = rng() % 2 == 0;
      if (file.Run(timed ? files::OP_HOLDfilesec : files::OP_HOLDfile, 1) != 0) return 5;
      const int rc = file.GetById(1 + static_cast<int32_t>(rng() % kCommon));
      if (rc == 0) {
        if (file.Run(files::OP_RELEASE) != 0) result = 6;
      } else if (rc != 43) {
        result = 7;
      }
    } else if (pick < 70) {
      // LOCK of the table (with or without seconds), an ADD under it, UNLOCK.
      const bool timed = rng() % 2 == 0;
      const int lock = timed ? file.Run(files::OP_LOCKfilesec, 2) : file.Run(files::OP_LOCKfile);
      if (lock == 32 && timed) continue;
      if (lock != 0) return 8;
      const int32_t id = base + next++;
      Log(log, 0, 'A', uint8_t(1 << f), id, 0, name);
      const int rc = file.Add(id, name);
      Log(log, 1, 'A', uint8_t(1 << f), id, rc, name);
      if (rc != 0) result = 9;
      mine[f].push_back(id);
      if (file.Run(files::OP_UNLOCK) != 0) result = 10;
    } else {
      // A transaction over both files: the same record into each, then
      // COMMIT, or ROLLBACK by choice or after a lock that could not be had.
      // Only one transaction runs in a program at a time: the other thread's
      // LOGOUT is refused with 56.
      const int32_t id = base + next++;
      const bool commit = rng() % 10 < 7;
      Log(log, 0, 'T', 3, id, 0, name);
      int rc = x.Run(files::OP_LOGOUT);
      if (rc == 56) {
        Log(log, 1, 'T', 3, id, rc, name);
        continue;
      }
      if (rc == 0) rc = y.Run(files::OP_LOGOUT);
      // Either file first: two transactions may wait for each other.
      if (rc == 0) rc = both[f]->Add(id, name);
      if (rc == 0) rc = both[1 - f]->Add(id, name);
      if (rc != 0 && rc != 5) result = 11;  // 5: a lock the transaction waited too long for
      if (rc == 0 && commit) {
        rc = x.Run(files::OP_COMMIT);
        if (rc != 0) result = 12;
      } else {
        if (x.Run(files::OP_ROLLBACK) != 0) result = 13;
        if (rc == 0) rc = -1;  // rolled back by choice
      }
      Log(log, 1, 'T', 3, id, rc, name);
      if (rc == 0) {
        mine[0].push_back(id);
        mine[1].push_back(id);
      }
    }
  }
  if (x.Close() != 0 || y.Close() != 0) result = result ? result : 14;
  close(log);
  return result;
}

// One program: its two workers, each with its own log.
int Program(const Paths& paths, int firstWorker, int operations) {
  alarm(kAlarmSeconds);
  PlatformFileSyscalls().fdatasync = NoFlush;  // the trial is about locks, not durability
  store::SetTransactionLockPatience(200);
  std::atomic<int> results[kThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    results[t] = -1;
    threads.emplace_back([&, t] { results[t] = Worker(paths, firstWorker + t, t == 0, operations); });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t)
    if (results[t] != 0) return 100 + t * 20 + results[t];
  return 0;
}

// What the logs allow a file to hold: id -> acceptable values ("" absent).
using Allowed = std::map<int32_t, std::set<std::string>>;

TEST(LockTrial, LocksHoldsAndTransactionsUnderKills) {
  Paths paths;
  paths.dir = store::testing::MakeTempDir();
  ASSERT_EQ(mkdir((paths.dir + "/one").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((paths.dir + "/two").c_str(), 0755), 0);
  paths.file[0] = paths.dir + "/one/X";
  paths.file[1] = paths.dir + "/two/Y";
  for (const std::string& path : paths.file) {
    PartnerFile file(path);
    ASSERT_EQ(file.Open(), 0);
    for (int id = 1; id <= kCommon; ++id) ASSERT_EQ(file.Add(id, "common" + std::to_string(id)), 0);
    ASSERT_EQ(file.Close(), 0);
  }

  const int operations = Trials(2000);
  const auto start = std::chrono::steady_clock::now();
  std::mt19937 rng(static_cast<unsigned>(time(nullptr)));
  int nextWorker = 0;
  std::map<pid_t, int> running;  // pid -> slot
  std::set<pid_t> killed;
  auto launch = [&](int slot, int ops) {
    const int first = nextWorker;
    nextWorker += kThreads;
    pid_t pid = store::testing::Spawn([&, first, ops] { return Program(paths, first, ops); });
    ASSERT_GT(pid, 0);
    running[pid] = slot;
  };
  for (int slot = 0; slot < kSlots; ++slot) launch(slot, operations);

  // Kill a program now and then, and start a fresh one in its place with
  // half a share of work, until three have been killed.
  int kills = 0;
  std::vector<std::string> failures;
  while (!running.empty()) {
    usleep(static_cast<useconds_t>(200000 + rng() % 800000));
    for (auto it = running.begin(); it != running.end();) {
      int status = 0;
      if (waitpid(it->first, &status, WNOHANG) == it->first) {
        if (killed.count(it->first) == 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
          failures.push_back("program " + std::to_string(it->first) + " status " + std::to_string(status));
        it = running.erase(it);
      } else {
        ++it;
      }
    }
    if (kills < 3 && !running.empty() && rng() % 2 == 0) {
      auto victim = std::next(running.begin(), static_cast<long>(rng() % running.size()));
      kill(victim->first, SIGKILL);
      killed.insert(victim->first);
      ++kills;
      const int slot = victim->second;
      launch(slot, operations / 2);
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(failures.empty()) << failures.front();

  // What the logs allow.
  Allowed allowed[2];
  std::set<int32_t> transactions;
  int confirmed = 0, committed = 0, rolledBack = 0, cutShort = 0;
  for (int worker = 0; worker < nextWorker; ++worker) {
    const std::vector<LogEntry> entries = ReadLog(paths.LogOf(worker));
    for (size_t i = 0; i < entries.size(); ++i) {
      const LogEntry& begin = entries[i];
      ASSERT_EQ(begin.phase, 0) << "worker " << worker;
      const bool ended = i + 1 < entries.size();
      ASSERT_TRUE(!ended || (entries[i + 1].phase == 1 && entries[i + 1].id == begin.id));
      const int32_t rc = ended ? entries[i + 1].rc : 0;
      const std::string name(begin.name, strnlen(begin.name, sizeof begin.name));
      if (begin.kind == 'T') transactions.insert(begin.id);
      for (int f = 0; f < 2; ++f) {
        if ((begin.files & (1 << f)) == 0) continue;
        std::set<std::string>& values = allowed[f][begin.id];
        if (begin.kind != 'P' && values.empty()) values.insert("");  // a new record
        if (!ended) {
          values.insert(name);  // cut short by a kill: either way
        } else if (rc == 0) {
          values = {name};
        }
      }
      if (!ended) {
        ++cutShort;
      } else if (begin.kind == 'T') {
        ++(rc == 0 ? committed : rolledBack);
      } else if (rc == 0) {
        ++confirmed;
      }
      if (ended) ++i;
    }
  }

  Records found[2];
  for (int f = 0; f < 2; ++f) {
    int rc = 0;
    found[f] = ReadRecords(paths.file[f], &rc);
    EXPECT_EQ(rc, 33) << paths.file[f];
    EXPECT_EQ(VerifyFile(paths.file[f] + ".TWL"), "") << paths.file[f];
    for (int id = 1; id <= kCommon; ++id) EXPECT_EQ(found[f][id], "common" + std::to_string(id));
    for (const auto& [id, value] : found[f])
      if (id > kCommon) {
        EXPECT_TRUE(allowed[f].count(id)) << "stray record " << id << " in " << paths.file[f];
      }
    for (const auto& [id, values] : allowed[f]) {
      auto it = found[f].find(id);
      const std::string value = it == found[f].end() ? "" : it->second;
      EXPECT_TRUE(values.count(value)) << "record " << id << " of " << paths.file[f] << " is \"" << value << "\"";
    }
  }
  // A transaction's record is in both files or in neither.
  for (int32_t id : transactions) EXPECT_EQ(found[0].count(id), found[1].count(id)) << "transaction " << id;

  std::printf("lock trial: %d programs (%d killed), %d operations each, %.1f s; %d changes confirmed, "
              "%d transactions committed, %d rolled back or refused, %d cut short by a kill\n",
              nextWorker / kThreads, kills, operations, seconds, confirmed, committed, rolledBack, cutShort);
}

}  // namespace
}  // namespace pr::reliability
