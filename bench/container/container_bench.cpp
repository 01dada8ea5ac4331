// Container benchmark: bulk insertion of 1,000,000 records (a big-endian
// int32 key and a 20-byte name) within one update, ascending and shuffled,
// then warm lookups and full scans.  Prints one line per measurement.
//
//   bench_container [records] [directory]
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "store/container.h"
#include "store/container_verify.h"

using pr::store::ByteView;
using pr::store::Container;
using pr::store::Cursor;

namespace {

// Process CPU time: the machine is shared, so wall time says more about the
// neighbours than about the container.  I/O waits are not counted.
struct CpuClock {
  using time_point = double;
  static double now() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
  }
};
double Seconds(double since) { return CpuClock::now() - since; }

void Report(const char* what, uint64_t count, double seconds) {
  std::printf("%-34s %9llu in %8.3f s cpu  %12.0f /s\n", what, static_cast<unsigned long long>(count), seconds,
              count / seconds);
}

void KeyOf(uint32_t n, uint8_t key[4]) {
  key[0] = static_cast<uint8_t>(n >> 24);
  key[1] = static_cast<uint8_t>(n >> 16);
  key[2] = static_cast<uint8_t>(n >> 8);
  key[3] = static_cast<uint8_t>(n);
}

void Run(const std::string& path, const std::vector<uint32_t>& order, const char* label) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot create %s\n", path.c_str());
    std::exit(1);
  }
  const uint64_t n = order.size();
  {
    Container c(h, path);
    c.RefreshHeader();
    uint8_t key[4];
    char name[21];
    auto start = CpuClock::now();
    for (uint32_t id : order) {
      KeyOf(id, key);
      std::snprintf(name, sizeof name, "Partner %012u", id);
      c.Insert(ByteView(key, 4), ByteView(reinterpret_cast<uint8_t*>(name), 20));
    }
    double insert = Seconds(start);
    auto writeStart = CpuClock::now();
    if (c.WriteUpdate() != 0) std::fprintf(stderr, "update failed: %u\n", c.LastError());
    double write = Seconds(writeStart);
    std::string what = std::string("insert ") + label + " (cache)";
    Report(what.c_str(), n, insert);
    what = std::string("insert ") + label + " + update";
    Report(what.c_str(), n, insert + write);
    std::printf("  dirty pages written: update took %.3f s, file %.1f MB\n", write,
                std::filesystem::file_size(path) / 1048576.0);
  }
  Container c(h, path);
  c.RefreshHeader();
  std::mt19937 rng(17);
  std::vector<uint8_t> data;
  uint8_t key[4];
  // Warm the cache once (it keeps at most 100 clean pages: lookups are mostly misses).
  auto start = CpuClock::now();
  uint64_t found = 0;
  const uint64_t lookups = std::min<uint64_t>(n, 300000);
  for (uint64_t i = 0; i < lookups; ++i) {
    KeyOf(static_cast<uint32_t>(rng() % n), key);
    found += c.Find(ByteView(key, 4), &data);
  }
  Report("random lookups", lookups, Seconds(start));
  if (found != lookups) std::fprintf(stderr, "lookups found %llu of %llu\n", (unsigned long long)found, (unsigned long long)lookups);

  start = CpuClock::now();
  for (uint64_t i = 0; i < lookups; ++i) {
    KeyOf(static_cast<uint32_t>(i % 1000), key);
    c.Find(ByteView(key, 4), &data);
  }
  Report("lookups within 1000 keys (warm)", lookups, Seconds(start));

  for (int pass = 0; pass < 2; ++pass) {
    start = CpuClock::now();
    Cursor cursor(c);
    uint64_t seen = 0;
    for (bool ok = cursor.First(); ok; ok = cursor.Next()) ++seen;
    Report(pass ? "cursor scan (second pass)" : "cursor scan", seen, Seconds(start));
  }
  start = CpuClock::now();
  auto report = pr::store::VerifyContainer(c);
  std::printf("verify: %s, %llu records, %llu pages, %d levels (%.3f s)\n", report.ok ? "ok" : report.problem.c_str(),
              static_cast<unsigned long long>(report.records), static_cast<unsigned long long>(report.pages),
              report.levels, Seconds(start));
  CloseHandle(h);
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t n = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1000000;
  std::string dir;
  if (argc > 2) {
    dir = argv[2];
  } else {
    char pattern[] = "/tmp/pr_bench_XXXXXX";
    dir = mkdtemp(pattern);
  }
  std::vector<uint32_t> order(n);
  for (uint32_t i = 0; i < n; ++i) order[i] = i;
  Run(dir + "/ascending.twl", order, "ascending");
  std::shuffle(order.begin(), order.end(), std::mt19937(3));
  Run(dir + "/shuffled.twl", order, "shuffled");
  if (argc <= 2) std::filesystem::remove_all(dir);
  return 0;
}
