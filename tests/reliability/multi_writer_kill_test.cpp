// Multi-writer kill trials: four processes add to one file at once, deny
// none, with real flushes; one of them, picked at random, is killed with
// SIGKILL at a random moment and replaced at once.  The others go on, and
// finish or find the update the killed one left.  After every kill the
// survivors are paused between statements and the file is checked: every
// confirmed add is there with its name, none is doubled, nothing is there
// that was never asked for, and the file verifies.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <set>

#include "tests/reliability/operation_log.h"

namespace pr::reliability {
namespace {

constexpr int kWriters = 4;

// Shared with the writers: a pause request (a nonzero epoch) and each
// writer's answer (the epoch it paused for).
struct PauseBoard {
  std::atomic<int> pause;
  std::atomic<int> paused[kWriters];
};

int32_t IdOf(int generation, int n) { return generation * 100000 + n + 1; }

// Adds until killed; every add is logged before and after.  Exit codes name
// a failure: 100 + the error of an ADD, 200 + that of the OPEN (errors over
// 49 count as 49).
int Writer(const std::string& path, const std::string& logPath, int slot, int generation, PauseBoard* board) {
  auto retrying = [](auto&& statement) {
    for (int attempt = 0;; ++attempt) {
      int rc = statement();
      if (rc != 5 || attempt == 5000) return rc;
      usleep(200);
    }
  };
  int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log < 0) return 20;
  PartnerFile file(path);
  if (int rc = retrying([&] { return file.Open(); }); rc != 0) return 200 + std::min(rc, 49);
  for (int n = 0; n < 99999; ++n) {
    if (int epoch = board->pause.load()) {
      board->paused[slot].store(epoch);
      while (board->pause.load() == epoch) usleep(100);
    }
    const int32_t id = IdOf(generation, n);
    const std::string name = "g" + std::to_string(generation) + "-" + std::to_string(n);
    if (!SendOperation(log, false, 'A', id, name)) return 22;
    if (int rc = retrying([&] { return file.Add(id, name); }); rc != 0) return 100 + std::min(rc, 49);
    if (!SendOperation(log, true, 'A', id, name)) return 25;
  }
  return 26;
}

std::string LogPath(const std::string& dir, int generation) { return dir + "/log" + std::to_string(generation); }

TEST(MultiWriterKills, EveryConfirmedAddSurvivesWhileOthersWrite) {
  const std::string dir = store::testing::MakeTempDir();
  const std::string path = dir + "/MULTI";
  {
    PartnerFile file(path);
    ASSERT_EQ(file.Open(), 0);
    ASSERT_EQ(file.Close(), 0);
  }
  auto* board = static_cast<PauseBoard*>(
      mmap(nullptr, sizeof(PauseBoard), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(board, MAP_FAILED);
  new (board) PauseBoard{};

  pid_t pids[kWriters] = {};
  int generations = 0;
  auto spawn = [&](int slot) {
    const int generation = generations++;
    pid_t child = fork();
    if (child == 0) _exit(Writer(path, LogPath(dir, generation), slot, generation, board));
    pids[slot] = child;
  };
  for (int slot = 0; slot < kWriters; ++slot) spawn(slot);

  const int kills = Trials(200);
  std::mt19937 rng(20261208);
  long confirmed = 0, inFlightLanded = 0, inFlightLost = 0;
  int epoch = 0;
  std::string failure;
  for (int kill = 0; kill < kills && failure.empty(); ++kill) {
    timespec delay{0, static_cast<long>(2 + rng() % 40) * 1000000L};
    nanosleep(&delay, nullptr);
    const int victim = static_cast<int>(rng() % kWriters);
    ::kill(pids[victim], SIGKILL);
    int status = 0;
    waitpid(pids[victim], &status, 0);
    if (!WIFSIGNALED(status)) {
      failure = "kill " + std::to_string(kill) + ": a writer stopped by itself with " +
                std::to_string(WEXITSTATUS(status));
      break;
    }
    // Pause the others between statements, then look.
    board->pause.store(++epoch);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int slot = 0; slot < kWriters && failure.empty(); ++slot) {
      if (slot == victim) continue;
      while (board->paused[slot].load() != epoch) {
        if (waitpid(pids[slot], &status, WNOHANG) == pids[slot]) {
          failure = "kill " + std::to_string(kill) + ": writer " + std::to_string(slot) + " stopped with " +
                    (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                         : "exit " + std::to_string(WEXITSTATUS(status)));
          break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
          failure = "kill " + std::to_string(kill) + ": writer " + std::to_string(slot) + " never paused";
          break;
        }
        usleep(200);
      }
    }
    if (!failure.empty()) break;

    Records asked, done;
    for (int generation = 0; generation < generations; ++generation) {
      int fd = open(LogPath(dir, generation).c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      for (const OperationMessage& m : ReceiveOperations(fd)) Apply(m, m.done ? &done : &asked);
      close(fd);
    }
    int rc = 0;
    Records now = ReadRecords(path, &rc);
    std::string problem = VerifyFile(path + ".TWL");
    if (rc != 33 || !problem.empty()) {
      failure = "kill " + std::to_string(kill) + ": scan ended with " + std::to_string(rc) +
                (problem.empty() ? "" : ", verify: " + problem);
      break;
    }
    for (const auto& [id, name] : done) {
      auto it = now.find(id);
      if (it == now.end() || it->second != name) {
        failure = "kill " + std::to_string(kill) + ": confirmed add " + std::to_string(id) + " is " +
                  (it == now.end() ? "missing" : "changed to " + it->second);
        break;
      }
    }
    for (const auto& [id, name] : now) {
      auto it = asked.find(id);
      if (!done.count(id) && (it == asked.end() || it->second != name)) {
        failure = "kill " + std::to_string(kill) + ": record " + std::to_string(id) + " was never added";
        break;
      }
    }
    confirmed = static_cast<long>(done.size());
    inFlightLanded = static_cast<long>(now.size() - done.size());
    inFlightLost = static_cast<long>(asked.size() - now.size());
    board->pause.store(0);
    spawn(victim);
  }
  for (int slot = 0; slot < kWriters; ++slot) {
    ::kill(pids[slot], SIGKILL);
    waitpid(pids[slot], nullptr, 0);
  }
  munmap(board, sizeof(PauseBoard));
  ASSERT_EQ(failure, "");
  std::printf("%d kills, %d writers in all, %ld confirmed adds; in flight at a kill: %ld landed, %ld not\n", kills,
              generations, confirmed, inFlightLanded, inFlightLost);
  EXPECT_GT(confirmed, kills / 10);  // real work, even on a loaded machine
}

}  // namespace
}  // namespace pr::reliability
