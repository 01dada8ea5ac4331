// Key build and record throughput of a table in a keyed file.
//
//   bench_keybuild [records] [run-bytes]
//
// Fills a new file in a temporary folder with `records` partner-like records
// (LONG id, STRING(20) name; a unique key on the id written on every add),
// then times fetches by record number, a full rebuild of the id key in the
// file, and the build of an in-memory INDEX on the name.  Peak memory is the
// process's high-water mark (VmHWM), reset before each build so that the
// figure is the build's own.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "platform/kernel.h"
#include "store/container.h"
#include "store/table.h"

using namespace pr::store;

namespace {

// Wall and processor time since a mark; the machine may be shared, so both
// are printed.
struct Mark {
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  std::clock_t cpu = std::clock();
};

double Seconds(const Mark& since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since.wall).count();
}

double Cpu(const Mark& since) { return double(std::clock() - since.cpu) / CLOCKS_PER_SEC; }

long StatusKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

void ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
}

TableDefinition Partners() {
  TableDefinition d;
  d.recordLength = 24;
  FieldDefinition id;
  id.type = 6;
  id.size = 4;
  id.name = "PAR:ID";
  FieldDefinition name;
  name.type = kTypeString;
  name.offset = 4;
  name.size = 20;
  name.declaredLength = 20;
  name.name = "PAR:NAZIV";
  d.fields = {id, name};
  KeyDefinition idKey;
  idKey.label = "PAR:IdKey";
  idKey.attributes = 0x10;
  idKey.components = {{0, 0}};
  KeyDefinition nameIndex;
  nameIndex.label = "PAR:NameIndex";
  nameIndex.attributes = kKeyDup | kKeyNoCase;
  nameIndex.inMemory = true;
  nameIndex.components = {{1, 0}};
  d.keys = {idKey, nameIndex};
  return d;
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t records = argc > 1 ? uint32_t(std::atol(argv[1])) : 1000000;
  const size_t runBytes = argc > 2 ? size_t(std::atol(argv[2])) : size_t{16} << 20;

  char pattern[] = "/tmp/keybuild-bench-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  const std::string path = dir + "/BENCH.TWL";
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot create %s\n", path.c_str());
    return 1;
  }
  int rc = 0;
  {
    Container file(h, path);
    file.RefreshHeader();
    std::unique_ptr<Table> table;
    if (!Table::Create(file, "PARTNERI", Partners(), false, CollationState(), &table).ok()) return 1;

    // Adds, with an update written every 10,000 records.
    uint8_t image[24];
    uint32_t x = 2463534242u;
    Mark start;
    for (uint32_t i = 0; i < records; ++i) {
      int32_t id = int32_t(i + 1);
      std::memcpy(image, &id, 4);
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      for (int c = 0; c < 20; ++c) image[4 + c] = c < 8 ? uint8_t('a' + (x >> (c * 3)) % 26) : ' ';
      if (!table->Add(image, nullptr).ok()) return 1;
      if (i % 10000 == 9999) file.WriteUpdate();
    }
    file.WriteUpdate();
    const double addSeconds = Seconds(start);
    const double addCpu = Cpu(start);
    std::printf("add:   %u records in %.2f s (cpu %.2f s), %.0f records/s of cpu (file %.1f MiB)\n", records,
                addSeconds, addCpu, records / addCpu, double(file.header().PageAreaEnd()) / (1 << 20));

    start = Mark();
    uint64_t sum = 0;
    for (uint32_t i = 0; i < records; ++i) {
      uint32_t n = 2 + (uint32_t(i) * 2654435761u) % records;
      if (!table->Fetch(MakeRecordNumber(n), image).ok()) return 1;
      sum += image[0];
    }
    const double fetchSeconds = Seconds(start);
    const double fetchCpu = Cpu(start);
    std::printf("fetch: %u random records in %.2f s (cpu %.2f s), %.0f records/s of cpu (%llu)\n", records,
                fetchSeconds, fetchCpu, records / fetchCpu, static_cast<unsigned long long>(sum % 10));

    Table::BuildHooks hooks;
    hooks.runBytes = runBytes;
    hooks.fullBuild = true;
    long before = StatusKiB("VmRSS:");
    ResetPeak();
    start = Mark();
    rc = FileErrorOf(table->BuildKey(0, hooks));
    file.WriteUpdate();
    std::printf("build: file key over %u records in %.2f s (cpu %.2f s, rc %d), peak %ld KiB, before %ld KiB\n",
                records, Seconds(start), Cpu(start), rc, StatusKiB("VmHWM:"), before);

    before = StatusKiB("VmRSS:");
    ResetPeak();
    start = Mark();
    rc |= FileErrorOf(table->BuildKey(1, hooks));
    std::printf("build: INDEX over %u records in %.2f s (cpu %.2f s, rc %d), peak %ld KiB, before %ld KiB\n",
                records, Seconds(start), Cpu(start), rc, StatusKiB("VmHWM:"), before);
  }
  CloseHandle(h);
  DeleteFileA(path.c_str());
  rmdir(dir.c_str());
  return rc;
}
