// Readers under constant commits: one process rewrites records (and adds and
// deletes others, so that pages split, merge and move) in a commit per
// statement, while four reader processes GET records by key as fast as they
// can.  Reads that find the file unchanged copy pages out of the mapping
// without their reader slot, checked against the header's counters before
// and after each copy; this trial is what shows that such a read never
// returns what no single committed state held.
//
// Every name the writer stores says whose it is and which write made it
// ("id.generation.check"); after each commit the writer publishes, in
// memory shared with the readers, the generation now committed for that id.
#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>

#include "tests/reliability/reliability_support.h"

namespace pr::reliability {
namespace {

constexpr int32_t kMaxRecords = 60000;
constexpr int kReaders = 4;

struct Shared {
  int32_t records;                                  // ids 1..records always present
  std::atomic<int32_t> committed[kMaxRecords + 1];  // per id: the last generation committed
  std::atomic<int32_t> generation;               // the last generation handed out
  std::atomic<int32_t> stop;
  std::atomic<int64_t> reads[kReaders];
};

char Check(int32_t id, int32_t generation) {
  return static_cast<char>('A' + static_cast<uint32_t>(id * 31 + generation * 7) % 26);
}

std::string NameOf(int32_t id, int32_t generation) {
  char text[24];
  std::snprintf(text, sizeof text, "%d.%d.%c", id, generation, Check(id, generation));
  return text;
}

// The generation a name carries, or -1 when it is not a whole name of id.
int32_t GenerationOf(int32_t id, const std::string& name) {
  int32_t owner = 0, generation = 0;
  char check = 0;
  if (std::sscanf(name.c_str(), "%d.%d.%c", &owner, &generation, &check) != 3) return -1;
  if (owner != id || check != Check(id, generation) || name != NameOf(id, generation)) return -1;
  return generation;
}

int Writer(const std::string& path, Shared* shared, double seconds) {
  const int32_t records = shared->records;
  PartnerFile file(path);
  if (file.Open() != 0) return 20;
  std::mt19937 rng(11);
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int32_t extra = 0;  // ids above records come and go
  while (std::chrono::steady_clock::now() < end) {
    const unsigned pick = rng() % 8;
    if (pick == 0) {
      ++extra;
      if (file.Add(records + extra, "extra") != 0) return 21;
      continue;
    }
    if (pick == 1 && extra > 0) {
      const int32_t id = records + 1 + static_cast<int32_t>(rng() % static_cast<unsigned>(extra));
      int rc = file.GetById(id);
      if (rc == 0 && file.Run(files::OP_DELETE) != 0) return 22;
      if (rc != 0 && rc != 35) return 23;
      continue;
    }
    const int32_t id = 1 + static_cast<int32_t>(rng() % records);
    const int32_t generation = shared->generation.fetch_add(1) + 1;
    if (file.GetById(id) != 0) return 24;
    file.Set(id, NameOf(id, generation));
    if (file.Run(files::OP_PUT) != 0) return 25;
    shared->committed[id].store(generation, std::memory_order_release);
  }
  return file.Close() == 0 ? 0 : 26;
}

int Reader(const std::string& path, Shared* shared, int index) {
  const int32_t records = shared->records;
  PartnerFile file(path);
  if (file.Open() != 0) return 30;
  std::mt19937 rng(100 + index);
  int64_t reads = 0;
  while (shared->stop.load() == 0) {
    const int32_t id = 1 + static_cast<int32_t>(rng() % records);
    const int32_t before = shared->committed[id].load(std::memory_order_acquire);
    int rc = file.GetById(id);
    for (int attempt = 0; rc == 5 && attempt < 2000; ++attempt) {  // in use: asked again
      usleep(200);
      rc = file.GetById(id);
    }
    const int32_t after = shared->generation.load(std::memory_order_acquire);
    if (rc != 0) {
      std::fprintf(stderr, "reader %d: GET %d failed with %d\n", index, id, rc);
      return 31;
    }
    const int32_t generation = GenerationOf(id, file.Name());
    if (file.Id() != id || generation < 0) {
      std::fprintf(stderr, "reader %d: GET %d returned %d \"%s\"\n", index, id, file.Id(), file.Name().c_str());
      return 32;
    }
    // Committed before the GET began: the answer is that write or a later one.
    if (generation < before || generation > after) {
      std::fprintf(stderr, "reader %d: GET %d returned generation %d, committed %d before, %d handed out after\n",
                   index, id, generation, before, after);
      return 33;
    }
    ++reads;
  }
  shared->reads[index].store(reads);
  return file.Close() == 0 ? 0 : 34;
}

// A small file, whose tree is a root over its leaves, and a large one, whose
// reads search the nodes below the root where they lie in the mapping once
// the cache is full.
class ReadersUnderCommits : public ::testing::TestWithParam<int32_t> {};

TEST_P(ReadersUnderCommits, FourReadersCheckEveryAnswerWhileAWriterCommitsConstantly) {
  const int32_t records = GetParam();
  if (!getenv("PR_REAL_FLUSH")) PlatformFileSyscalls().fdatasync = [](int) { return 0; };
  const std::string dir = store::testing::MakeTempDir();
  const std::string path = dir + "/READERS";
  auto* shared = static_cast<Shared*>(
      mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(shared, MAP_FAILED);
  new (shared) Shared{};
  shared->records = records;
  {
    PartnerFile file(path);
    ASSERT_EQ(file.Open(), 0);
    ASSERT_EQ(file.Run(files::OP_STREAM), 0);
    for (int32_t id = 1; id <= records; ++id) ASSERT_EQ(file.Add(id, NameOf(id, 0)), 0);
    ASSERT_EQ(file.Run(files::OP_FLUSH), 0);
    ASSERT_EQ(file.Close(), 0);
  }
#ifdef PR_SANITIZED
  const double seconds = 1.5;
#else
  const double seconds = 4.0;
#endif
  std::vector<pid_t> readers;
  for (int r = 0; r < kReaders; ++r) {
    pid_t child = fork();
    if (child == 0) _exit(Reader(path, shared, r));
    readers.push_back(child);
  }
  pid_t writer = fork();
  if (writer == 0) _exit(Writer(path, shared, seconds));
  std::string why;
  EXPECT_TRUE(ExitedWith(writer, 0, &why)) << "writer: " << why;
  shared->stop.store(1);
  int64_t reads = 0;
  for (int r = 0; r < kReaders; ++r) {
    EXPECT_TRUE(ExitedWith(readers[static_cast<size_t>(r)], 0, &why)) << "reader " << r << ": " << why;
    reads += shared->reads[r].load();
  }
  ResetPlatformFileSyscalls();
  const int32_t commits = shared->generation.load();
  std::printf("%d rewrites committed, %lld checked reads\n", commits, static_cast<long long>(reads));
  EXPECT_GT(commits, 100);
  EXPECT_GT(reads, 1000);
  int rc = 0;
  Records onDisk = ReadRecords(path, &rc);
  EXPECT_EQ(rc, 33);
  for (int32_t id = 1; id <= records; ++id) {
    ASSERT_TRUE(onDisk.count(id)) << id;
    EXPECT_EQ(GenerationOf(id, onDisk[id]), shared->committed[id].load()) << id;
  }
  EXPECT_EQ(VerifyFile(path + ".TWL"), "");
  munmap(shared, sizeof(Shared));
}

INSTANTIATE_TEST_SUITE_P(Sizes, ReadersUnderCommits, ::testing::Values(3000, 60000));

}  // namespace
}  // namespace pr::reliability
