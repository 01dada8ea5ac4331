// The TARNWELL driver entry under load, on a real file in a temporary folder
// (beside the working folder's disk unless PR_BENCH_DIR names another):
//
//   durable ADD      one ADD per update (update lock, two phases, three
//                    flushes), beside the time of three 4 KiB write+flush
//                    pairs alone on the same disk
//   bulk ADD         N records inside one LOGOUT/COMMIT
//   random GET       GET by the unique key, random identifiers
//   NEXT scan        SET on the key, NEXT to the end
//
// Usage: bench_driver [records=1000000] [durable=300]
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "files/descriptors.h"
#include "files/errors.h"
#include "store/driver.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace pr;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Processor time of this process (user + system), to read the results on a
// machine that other work keeps busy.
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct BenchFile {
  explicit BenchFile(const std::string& path) : name(path) {
    fields[0].place = 0;
    fields[0].size = 4;
    fields[0].type = files::TYPE_LONG;
    fields[0].label = "B:ID";
    fields[1].place = 4;
    fields[1].size = 20;
    fields[1].type = files::TYPE_STRING;
    fields[1].label = "B:NAME";
    key.label = "B:IdKey";
    key.componentCount = 1;
    key.components = components;
    key.file = &fd;
    fd.label = "BENCH";
    fd.record = record;
    fd.recordLength = sizeof record;
    fd.declaration.name = name;
    fd.declaration.attributes = files::ATTR_CREATE;
    fd.declaration.keyCount = 1;
    fd.declaration.fields = fields;
    fd.declaration.fieldCount = 2;
    fd.keys = &key;
  }
  ~BenchFile() { store::TarnwellEntry(files::OP_DESTROY, &fd, nullptr); }
  int Run(int32_t op, intptr_t a0 = 0) {
    intptr_t args[2] = {a0, 0};
    result = store::TarnwellEntry(op, &fd, args);
    return files::ErrorCode();
  }
  void Set(int32_t id) {
    std::memcpy(record, &id, 4);
    std::snprintf(reinterpret_cast<char*>(record) + 4, 21, "partner %-12d", id);
  }

  std::string name;
  uint8_t record[24] = {};
  files::FieldDescriptor fields[2];
  int32_t components[1] = {1};
  files::KeyDescriptor key;
  files::FileDescriptor fd;
  int32_t result = 0;
};

void Check(int rc, const char* what) {
  if (rc != 0) {
    std::fprintf(stderr, "%s failed with %d\n", what, rc);
    std::exit(1);
  }
}

// Three 4 KiB write+flush pairs: what one durable update must flush.
double FlushesAlone(const std::string& dir, int rounds) {
  std::string path = dir + "/flush.probe";
  int fd = ::open(path.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0644);
  std::vector<char> block(4096, 'x');
  auto start = Clock::now();
  for (int i = 0; i < rounds; ++i) {
    for (int k = 0; k < 3; ++k) {
      if (::pwrite(fd, block.data(), block.size(), k * 4096) < 0) std::perror("pwrite");
      ::fdatasync(fd);
    }
  }
  double seconds = Seconds(start);
  ::close(fd);
  ::unlink(path.c_str());
  return seconds / rounds;
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const int durable = argc > 2 ? std::atoi(argv[2]) : 300;
  std::string base = getenv("PR_BENCH_DIR") ? getenv("PR_BENCH_DIR") : ".";
  std::string pattern = base + "/bench_driver_XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  std::string dir = buffer.data();

  {  // durable single ADDs
    BenchFile file(dir + "/DURABLE");
    Check(file.Run(files::OP_OPEN, 0x42), "OPEN");
    auto start = Clock::now();
    for (int id = 1; id <= durable; ++id) {
      file.Set(id);
      Check(file.Run(files::OP_ADD), "ADD");
    }
    double perAdd = Seconds(start) / durable;
    double flushes = FlushesAlone(dir, durable);
    std::printf("durable ADD: %.0f adds/s (%.3f ms each); three write+flush pairs alone: %.3f ms (%.0f%% of an ADD)\n",
                1 / perAdd, perAdd * 1e3, flushes * 1e3, 100 * flushes / perAdd);
    file.Run(files::OP_CLOSE);
  }

  BenchFile file(dir + "/BULK");
  Check(file.Run(files::OP_OPEN, 0x42), "OPEN");
  {
    auto start = Clock::now();
    double cpu = CpuSeconds();
    Check(file.Run(files::OP_LOGOUT), "LOGOUT");
    for (int id = 1; id <= records; ++id) {
      file.Set(id);
      Check(file.Run(files::OP_ADD), "ADD");
    }
    Check(file.Run(files::OP_COMMIT), "COMMIT");
    double seconds = Seconds(start);
    cpu = CpuSeconds() - cpu;
    std::printf("bulk ADD in one LOGOUT/COMMIT: %d records in %.2f s, %.0f records/s (%.0f per CPU second)\n",
                records, seconds, records / seconds, records / cpu);
  }
  {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> pick(1, records);
    const int gets = std::min(records, 200000);
    auto start = Clock::now();
    double cpu = CpuSeconds();
    for (int i = 0; i < gets; ++i) {
      int id = pick(random);
      std::memcpy(file.record, &id, 4);
      Check(file.Run(files::OP_GETfilekey, reinterpret_cast<intptr_t>(&file.key)), "GET");
    }
    double seconds = Seconds(start);
    cpu = CpuSeconds() - cpu;
    std::printf("random GET by key: %d in %.2f s, %.0f records/s (%.0f per CPU second)\n", gets, seconds,
                gets / seconds, gets / cpu);
  }
  {
    auto start = Clock::now();
    double cpu = CpuSeconds();
    Check(file.Run(files::OP_SETkey, reinterpret_cast<intptr_t>(&file.key)), "SET");
    int count = 0;
    while (file.Run(files::OP_NEXT) == 0) ++count;
    double seconds = Seconds(start);
    if (count != records) std::fprintf(stderr, "scan saw %d of %d records\n", count, records);
    cpu = CpuSeconds() - cpu;
    std::printf("NEXT scan: %d records in %.2f s, %.0f records/s (%.0f per CPU second)\n", count, seconds,
                count / seconds, count / cpu);
  }
  file.Run(files::OP_CLOSE);
  std::string cleanup = "rm -rf '" + dir + "'";
  return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
