// Concurrency: four processes, and separately eight threads each with its
// own THREAD instance of the declaration, share one file deny none and run
// mixed adds, changes, deletes and reads.  Each worker owns a range of ids
// and keeps what it confirmed; the file must hold exactly the union, with no
// record missing or doubled, and verify.  Flushes to the device are skipped:
// they order nothing between workers and only cost time (PR_REAL_FLUSH=1
// keeps them).
#include <fcntl.h>

#include <random>
#include <thread>

#include "tests/reliability/operation_log.h"

namespace pr::reliability {
namespace {

constexpr int kOwnIds = 150;

int32_t OwnId(int worker, int index) { return (worker + 1) * 100000 + index; }

// Runs a statement again while another worker holds the file ("in use").
template <typename F>
int Retrying(F&& statement) {
  for (int attempt = 0;; ++attempt) {
    int rc = statement();
    if (rc != 5 || attempt == 2000) return rc;
    usleep(200);
  }
}

// `operations` mixed statements; confirmed changes go to `log` (a file
// descriptor) when given, and into `mine`.  0 or the failed step.
int MixedWork(const std::string& path, uint8_t attributes, int worker, int workers, int operations, int log,
              Records* mine) {
  PartnerFile file(path, attributes);
  if (Retrying([&] { return file.Open(); }) != 0) return 30;
  std::mt19937 rng(77 + worker);
  for (int n = 0; n < operations; ++n) {
    unsigned pick = rng() % 10;
    if (pick == 0) {  // read someone else's record: present or not, whole
      int32_t id = OwnId(static_cast<int>(rng() % workers), static_cast<int>(rng() % kOwnIds));
      int rc = Retrying([&] { return file.GetById(id); });
      if (rc != 0 && rc != 35) return 31;
      if (rc == 0 && (file.Id() != id || file.Name().rfind("w", 0) != 0)) return 32;
      continue;
    }
    int32_t id = OwnId(worker, static_cast<int>(rng() % kOwnIds));
    std::string name = "w" + std::to_string(worker) + "-" + std::to_string(n);
    auto it = mine->find(id);
    char op;
    if (it == mine->end()) {
      op = 'A';
      if (Retrying([&] { return file.Add(id, name); }) != 0) return 33;
    } else {
      if (Retrying([&] { return file.GetById(id); }) != 0) return 34;
      if (file.Name() != it->second) return 35;  // what it confirmed last
      op = pick < 6 ? 'P' : 'D';
      if (op == 'P') {
        file.Set(id, name);
        if (Retrying([&] { return file.Run(files::OP_PUT); }) != 0) return 36;
      } else if (Retrying([&] { return file.Run(files::OP_DELETE); }) != 0) {
        return 37;
      }
    }
    if (op == 'D')
      mine->erase(id);
    else
      (*mine)[id] = name;
    if (log >= 0 && !SendOperation(log, true, op, id, name)) return 38;
  }
  return file.Close() == 0 ? 0 : 39;
}

std::string MakeShared(const std::string& dir) {
  std::string path = dir + "/SHARED";
  PartnerFile file(path);
  EXPECT_EQ(file.Open(), 0);
  EXPECT_EQ(file.Close(), 0);
  return path;
}

void NoFlushes() {
  if (!getenv("PR_REAL_FLUSH")) PlatformFileSyscalls().fdatasync = [](int) { return 0; };
}

TEST(Concurrency, FourProcessesLoseAndDoubleNothing) {
  NoFlushes();
  const std::string dir = store::testing::MakeTempDir();
  const std::string path = MakeShared(dir);
  constexpr int kWorkers = 4;
  const int operations = Trials(2000);
  std::vector<pid_t> children;
  for (int w = 0; w < kWorkers; ++w) {
    pid_t child = fork();
    if (child == 0) {
      std::string logPath = dir + "/log" + std::to_string(w);
      int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
      Records mine;
      int rc = MixedWork(path, files::ATTR_CREATE, w, kWorkers, operations, log, &mine);
      close(log);
      _exit(rc);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    std::string why;
    EXPECT_TRUE(ExitedWith(child, 0, &why)) << why;
  }
  Records expected;
  long confirmed = 0;
  for (int w = 0; w < kWorkers; ++w) {
    int log = open((dir + "/log" + std::to_string(w)).c_str(), O_RDONLY);
    ASSERT_GE(log, 0);
    for (const OperationMessage& m : ReceiveOperations(log)) {
      Apply(m, &expected);
      ++confirmed;
    }
    close(log);
  }
  ResetPlatformFileSyscalls();
  int rc = 0;
  EXPECT_EQ(ReadRecords(path, &rc), expected);
  EXPECT_EQ(rc, 33);
  EXPECT_EQ(VerifyFile(path + ".TWL"), "");
  std::printf("%d processes, %ld confirmed changes, %zu records\n", kWorkers, confirmed, expected.size());
  EXPECT_GT(confirmed, kWorkers * operations / 2);
}

TEST(Concurrency, EightThreadsWithThreadInstancesLoseAndDoubleNothing) {
  NoFlushes();
  const std::string dir = store::testing::MakeTempDir();
  const std::string path = MakeShared(dir);
  constexpr int kWorkers = 8;
  const int operations = Trials(2000);
  std::vector<Records> models(kWorkers);
  std::vector<int> results(kWorkers, -1);
  std::vector<std::thread> threads;
  for (int w = 0; w < kWorkers; ++w)
    threads.emplace_back([&, w] {
      results[w] =
          MixedWork(path, files::ATTR_CREATE | files::ATTR_THREAD, w, kWorkers, operations, -1, &models[w]);
    });
  for (std::thread& t : threads) t.join();
  Records expected;
  for (int w = 0; w < kWorkers; ++w) {
    EXPECT_EQ(results[w], 0) << "thread " << w;
    expected.insert(models[w].begin(), models[w].end());
  }
  ResetPlatformFileSyscalls();
  int rc = 0;
  EXPECT_EQ(ReadRecords(path, &rc), expected);
  EXPECT_EQ(rc, 33);
  EXPECT_EQ(VerifyFile(path + ".TWL"), "");
}

}  // namespace
}  // namespace pr::reliability

namespace pr::reliability {
namespace {

// An opener that then sits idle holds nothing that a writer waits for.  (A
// reader slot left held by the open once made a writer on another THREAD
// instance wait, under the driver's critical section, for a statement the
// idle thread could never run.)
TEST(Concurrency, IdleThreadInstanceDoesNotBlockAnotherThread) {
  const std::string dir = store::testing::MakeTempDir();
  const std::string path = MakeShared(dir);
  pid_t trial = fork();
  if (trial == 0) {
    alarm(10);
    PartnerFile idle(path, files::ATTR_CREATE | files::ATTR_THREAD);
    if (idle.Open() != 0) _exit(1);
    int added = -1;
    std::thread writer([&] {
      PartnerFile file(path, files::ATTR_CREATE | files::ATTR_THREAD);
      added = file.Open() == 0 ? file.Add(1, "written") : -2;
    });
    writer.join();
    _exit(added == 0 && idle.GetById(1) == 0 ? 0 : 2);
  }
  std::string why;
  EXPECT_TRUE(ExitedWith(trial, 0, &why)) << why;
}

}  // namespace
}  // namespace pr::reliability
