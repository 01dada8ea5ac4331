// prbench: our keyed-file store against SQLite on the same machine, the same
// disk and the same records (an int32 identifier, the unique key, and a
// 20-byte name).  Each workload runs in a child process of its own, ours and
// SQLite's alternating, three times each; the table shows medians and the
// ratio ours / SQLite (for rates, higher is better for us above 1.0).
//
//   prbench [--records N] [--durable N] [--lookups N] [--dir DIR] [--quick]
//           [--ours-only] [--only durable,bulk,get,scan,paging,paging-views]   (a subset, for profiling;
//            scan-shuffled and scan-ascending name one of the two scans)
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "files/descriptors.h"
#include "files/drivers.h"
#include "files/errors.h"
#include "files/statements.h"
#include "files/transactions.h"
#include "files/view.h"
#include "store/driver.h"

namespace {

using Clock = std::chrono::steady_clock;
using pr::files::FileDescriptor;
using pr::files::KeyDescriptor;

struct Options {
  int records = 1000000;
  int durable = 1000;
  int lookups = 1000000;
  int repeats = 3;
  std::string dir;
  std::string only;  // comma-separated workloads; empty: all
  bool oursOnly = false;  // skip SQLite (for profiling our side alone)
  bool Want(const char* name) const {
    return only.empty() || ("," + only + ",").find(std::string(",") + name + ",") != std::string::npos;
  }
};

// ------------------------------------------------------------ our file
struct Record {
  int32_t id;
  char name[20];
};

const pr::files::FieldDescriptor kFields[] = {
    {.place = 0, .size = 4, .type = pr::files::TYPE_LONG, .label = "BEN:ID", .name = {}},
    {.place = 4, .size = 20, .type = pr::files::TYPE_STRING, .label = "BEN:NAME", .name = {}},
};
const int32_t kIdComponents[] = {1};

struct OurFile {
  Record record{};
  KeyDescriptor key;
  FileDescriptor file;
  explicit OurFile(const char* label) {
    key.label = "BEN:IdKey";
    key.flags = pr::files::KEY_PRIMARY;
    key.componentCount = 1;
    key.components = kIdComponents;
    key.file = &file;
    file.driver = pr::files::DriverRecordFor("TARNWELL");
    file.entry = file.driver->entry;
    file.label = label;
    file.record = reinterpret_cast<uint8_t*>(&record);
    file.recordLength = sizeof record;
    file.declaration.fields = kFields;
    file.declaration.fieldCount = 2;
    file.declaration.keyCount = 1;
    file.keys = &key;
  }
  void Fill(int32_t id) {
    record.id = id;
    std::snprintf(record.name, sizeof record.name, "Partner %-11d", id);
  }
};

void Check(const char* what) {
  if (pr::files::ErrorCode() != 0) {
    std::fprintf(stderr, "prbench: %s: %d %s\n", what, pr::files::ErrorCode(), pr::files::Error().c_str());
    std::exit(3);
  }
}

std::vector<int32_t> Ids(int n, bool shuffled) {
  std::vector<int32_t> ids(static_cast<size_t>(n));
  std::iota(ids.begin(), ids.end(), 1);
  if (shuffled) std::shuffle(ids.begin(), ids.end(), std::mt19937(12345));
  return ids;
}

void OurCreate(OurFile& f) {
  std::filesystem::remove(std::string(f.file.label));
  pr::files::Create(&f.file);
  Check("CREATE");
  pr::files::Open(&f.file, 0x42);
  Check("OPEN");
}

double OurBulk(OurFile& f, const std::vector<int32_t>& ids) {
  OurCreate(f);
  auto start = Clock::now();
  pr::files::Logout(0, {&f.file});
  Check("LOGOUT");
  for (int32_t id : ids) {
    f.Fill(id);
    pr::files::Add(&f.file);
    Check("ADD");
  }
  pr::files::Commit();
  Check("COMMIT");
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A file of `records` partners loaded in key order (made on first use),
// opened deny none, and a view over it in identifier order as the browse
// sets it up (not yet opened).
struct BrowsedFile {
  OurFile f;
  pr::files::ViewStructure structure;
  FileDescriptor view;
  BrowsedFile(const char* label, int records) : f(label) {
    if (!std::filesystem::exists(label)) {
      OurBulk(f, Ids(records, false));
      pr::files::Close(&f.file);
    }
    pr::files::Open(&f.file, 0x42);
    Check("OPEN");
    structure.primary = &f.file;
    pr::files::InitViewDescriptor(&view, &structure, "BROWSE");
    pr::files::SetProperty(&view, pr::files::PROP_VIEW_ORDER, "+BEN:ID");
  }
};

// ------------------------------------------------------------ SQLite
sqlite3* SqlOpen(const std::string& path, const char* journal) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    std::fprintf(stderr, "prbench: sqlite open failed\n");
    std::exit(3);
  }
  sqlite3_exec(db, (std::string("PRAGMA journal_mode=") + journal).c_str(), nullptr, nullptr, nullptr);
  sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  return db;
}

void SqlExec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "prbench: sqlite: %s\n", error ? error : "?");
    std::exit(3);
  }
}

// The partner table keyed by its identifier (the rowid tree itself).
constexpr const char* kRowidTable = "CREATE TABLE partner(id INTEGER PRIMARY KEY, name TEXT NOT NULL)";
// The same rows as our file holds them: a rowid of their own, numbered in the
// order of the load, and a unique index on the identifier.
constexpr const char* kIndexedTable =
    "CREATE TABLE partner(rid INTEGER PRIMARY KEY, id INTEGER NOT NULL UNIQUE, name TEXT NOT NULL)";

sqlite3* SqlCreate(const std::string& path, const char* journal, const char* table = kRowidTable) {
  std::filesystem::remove(path);
  std::filesystem::remove(path + "-journal");
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");
  sqlite3* db = SqlOpen(path, journal);
  SqlExec(db, table);
  return db;
}

void SqlInsert(sqlite3_stmt* insert, int32_t id) {
  char name[21];
  std::snprintf(name, sizeof name, "Partner %-11d", id);
  sqlite3_bind_int(insert, 1, id);
  sqlite3_bind_text(insert, 2, name, 20, SQLITE_STATIC);
  if (sqlite3_step(insert) != SQLITE_DONE) {
    std::fprintf(stderr, "prbench: sqlite insert failed\n");
    std::exit(3);
  }
  sqlite3_reset(insert);
}

double SqlBulk(const std::string& path, const std::vector<int32_t>& ids, bool indexed = false) {
  sqlite3* db = SqlCreate(path, "DELETE", indexed ? kIndexedTable : kRowidTable);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, indexed ? "INSERT INTO partner(id, name) VALUES(?, ?)" : "INSERT INTO partner VALUES(?, ?)",
                     -1, &insert, nullptr);
  auto start = Clock::now();
  SqlExec(db, "BEGIN");
  for (int32_t id : ids) SqlInsert(insert, id);
  SqlExec(db, "COMMIT");
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  sqlite3_finalize(insert);
  sqlite3_close(db);
  return seconds;
}

// Autocommit INSERTs, each its own durable transaction.
double SqlDurableRate(const std::string& path, const char* journal, int count) {
  sqlite3* db = SqlCreate(path, journal);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO partner VALUES(?, ?)", -1, &insert, nullptr);
  auto start = Clock::now();
  for (int32_t id = 1; id <= count; ++id) SqlInsert(insert, id);
  double rate = count / std::chrono::duration<double>(Clock::now() - start).count();
  sqlite3_finalize(insert);
  sqlite3_close(db);
  return rate;
}

// ------------------------------------------------------------ workloads
// A workload runs in a child and writes one number (and the child's peak
// memory comes from wait4).
struct Sample {
  double value = 0;
  long peakKb = 0;
};

long PeakKb() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

Sample RunInChild(const std::function<double()>& body) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(3);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    double value = body();
    (void)!write(fds[1], &value, sizeof value);
    _exit(0);
  }
  close(fds[1]);
  Sample sample;
  if (read(fds[0], &sample.value, sizeof sample.value) != sizeof sample.value) sample.value = -1;
  close(fds[0]);
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  sample.peakKb = usage.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) sample.value = -1;
  return sample;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

struct Row {
  std::string name;
  std::string unit;
  double ours = 0, sqlite = 0;
  long oursKb = 0, sqliteKb = 0;
  bool lowerIsBetter = false;
  std::string note;
};

Row Compare(const Options& options, const std::string& name, const std::string& unit, bool lowerIsBetter,
            const std::function<double()>& ours, const std::function<double()>& sqlite) {
  std::vector<double> a, b;
  long aKb = 0, bKb = 0;
  for (int i = 0; i < options.repeats; ++i) {
    Sample x = RunInChild(ours);
    Sample y = options.oursOnly ? Sample{} : RunInChild(sqlite);
    a.push_back(x.value);
    b.push_back(y.value);
    aKb = std::max(aKb, x.peakKb);
    bKb = std::max(bKb, y.peakKb);
  }
  Row row{name, unit, Median(a), Median(b), aKb, bKb, lowerIsBetter, ""};
  std::fprintf(stderr, "  %-40s ours %12.1f  sqlite %12.1f %s\n", name.c_str(), row.ours, row.sqlite, unit.c_str());
  return row;
}

// The physical floor of a durable update: write plus fdatasync of 512 bytes,
// as many times as one of our updates flushes.
double FlushFloorPerSecond(const std::string& dir, int updates, int flushesPerUpdate) {
  std::string path = dir + "/floor.bin";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  char block[512];
  std::memset(block, 0xAB, sizeof block);
  auto start = Clock::now();
  for (int i = 0; i < updates * flushesPerUpdate; ++i) {
    (void)!pwrite(fd, block, sizeof block, 0);
    fdatasync(fd);
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  close(fd);
  std::filesystem::remove(path);
  return updates / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto next = [&] { return i + 1 < argc ? std::atoi(argv[++i]) : 0; };
    if (arg == "--records") options.records = next();
    else if (arg == "--durable") options.durable = next();
    else if (arg == "--lookups") options.lookups = next();
    else if (arg == "--repeats") options.repeats = next();
    else if (arg == "--dir" && i + 1 < argc) options.dir = argv[++i];
    else if (arg == "--only" && i + 1 < argc) options.only = argv[++i];
    else if (arg == "--ours-only") options.oursOnly = true;
    else if (arg == "--quick") {
      options.records = 100000;
      options.durable = 200;
      options.lookups = 100000;
      options.repeats = 1;
    } else {
      std::fprintf(stderr, "usage: prbench [--records N] [--durable N] [--lookups N] [--repeats N] [--dir DIR] [--quick]\n"
                           "               [--ours-only] [--only durable,bulk,get,scan,scan-shuffled,scan-ascending,paging,paging-views]\n");
      return 2;
    }
  }
  if (options.dir.empty()) options.dir = std::filesystem::current_path().string() + "/prbench-data";
  std::filesystem::create_directories(options.dir);
  std::filesystem::current_path(options.dir);
  pr::store::RegisterTarnwellDriver();
  const std::string sqlPath = options.dir + "/bench.sqlite";
  std::vector<Row> rows;

  // 1. Durable single adds: each its own committed update.
  if (options.Want("durable")) {
  const int durable = options.durable;
  rows.push_back(Compare(options, "durable ADD vs INSERT (rollback journal)", "ops/s", false,
      [&] {
        OurFile f("DURABLE.TWL");
        OurCreate(f);
        auto start = Clock::now();
        for (int32_t id = 1; id <= durable; ++id) {
          f.Fill(id);
          pr::files::Add(&f.file);
          Check("ADD");
        }
        return durable / std::chrono::duration<double>(Clock::now() - start).count();
      },
      [&] { return SqlDurableRate(sqlPath, "DELETE", durable); }));
  rows.push_back(Compare(options, "durable ADD vs INSERT (WAL)", "ops/s", false,
      [&] { return rows[0].ours; },
      [&] { return SqlDurableRate(sqlPath, "WAL", durable); }));
  // Our update flushes four times: the pending area, the header that
  // announces it, the pages copied home, and the settled header.
  double floor = FlushFloorPerSecond(options.dir, durable, 4);
  rows.push_back(Row{"flush floor (4 x write+fdatasync 512 B)", "ops/s", floor, 0, 0, 0, false, "physical floor"});
  }

  // 2. Bulk adds in one transaction, ascending and shuffled.
  for (bool shuffled : {false, true}) {
    if (!options.Want("bulk")) break;
    std::string label = std::string("bulk ADD 1 txn, ") + (shuffled ? "shuffled" : "ascending");
    rows.push_back(Compare(options, label, "rec/s", false,
        [&] {
          OurFile f("BULK.TWL");
          auto ids = Ids(options.records, shuffled);
          return options.records / OurBulk(f, ids);
        },
        [&] { return options.records / SqlBulk(sqlPath, Ids(options.records, shuffled)); }));
  }

  // The read workloads use the files of a shuffled load (record numbers in
  // no order of the key) and, for the scan, those of an ascending load too.
  // They are made in a child so that the parent stays small: every child
  // inherits its pages, and the peak memory column would show them.
  const std::string sqlAscendingPath = options.dir + "/bench-asc.sqlite";
  const std::string sqlIndexedPath = options.dir + "/bench-ix.sqlite";
  // Files of another size are made again: the name records the count.
  const std::string madeFor = options.dir + "/records-" + std::to_string(options.records);
  if (options.Want("bulk") || !std::filesystem::exists(madeFor) || !std::filesystem::exists(options.dir + "/BULK.TWL") ||
      !std::filesystem::exists(options.dir + "/BULKASC.TWL") || !std::filesystem::exists(sqlPath) ||
      !std::filesystem::exists(sqlAscendingPath) || !std::filesystem::exists(sqlIndexedPath)) {
    for (const auto& entry : std::filesystem::directory_iterator(options.dir))
      if (entry.path().filename().string().rfind("records-", 0) == 0) std::filesystem::remove(entry.path());
    RunInChild([&] {
      for (bool shuffled : {true, false}) {
        OurFile f(shuffled ? "BULK.TWL" : "BULKASC.TWL");
        OurBulk(f, Ids(options.records, shuffled));
        pr::files::Close(&f.file);
        SqlBulk(shuffled ? sqlPath : sqlAscendingPath, Ids(options.records, shuffled));
      }
      SqlBulk(sqlIndexedPath, Ids(options.records, true), true);
      return 0.0;
    });
    std::FILE* mark = std::fopen(madeFor.c_str(), "w");
    if (mark) std::fclose(mark);
  }
  const double ourBytes = static_cast<double>(std::filesystem::file_size(options.dir + "/BULK.TWL"));
  const double sqlBytes = static_cast<double>(std::filesystem::file_size(sqlPath));
  if (options.Want("bulk"))
    rows.push_back(Row{"file size per record", "bytes", ourBytes / options.records, sqlBytes / options.records, 0, 0,
                       true, ""});

  // 3. Random lookups by key, warm.
  if (options.Want("get")) {
  rows.push_back(Compare(options, "random GET by key (warm)", "ops/s", false,
      [&] {
        OurFile f("BULK.TWL");
        pr::files::Open(&f.file, 0x42);
        Check("OPEN");
        std::mt19937 random(7);
        std::uniform_int_distribution<int32_t> pick(1, options.records);
        for (int i = 0; i < std::min(options.lookups, 100000); ++i) {  // warm the cache
          f.record.id = pick(random);
          pr::files::Get(&f.file, &f.key);
        }
        auto start = Clock::now();
        for (int i = 0; i < options.lookups; ++i) {
          f.record.id = pick(random);
          pr::files::Get(&f.file, &f.key);
          Check("GET");
        }
        return options.lookups / std::chrono::duration<double>(Clock::now() - start).count();
      },
      [&] {
        sqlite3* db = SqlOpen(sqlPath, "DELETE");
        sqlite3_stmt* select = nullptr;
        sqlite3_prepare_v2(db, "SELECT name FROM partner WHERE id = ?", -1, &select, nullptr);
        std::mt19937 random(7);
        std::uniform_int_distribution<int32_t> pick(1, options.records);
        SqlExec(db, "BEGIN");
        for (int i = 0; i < std::min(options.lookups, 100000); ++i) {
          sqlite3_bind_int(select, 1, pick(random));
          sqlite3_step(select);
          sqlite3_reset(select);
        }
        auto start = Clock::now();
        for (int i = 0; i < options.lookups; ++i) {
          sqlite3_bind_int(select, 1, pick(random));
          if (sqlite3_step(select) != SQLITE_ROW) std::exit(3);
          sqlite3_reset(select);
        }
        double rate = options.lookups / std::chrono::duration<double>(Clock::now() - start).count();
        SqlExec(db, "COMMIT");
        sqlite3_finalize(select);
        sqlite3_close(db);
        return rate;
      }));
  }

  // 4. A full scan in key order, over the file of the shuffled load (each
  // record reached at random) and over that of the ascending load.
  // The shuffled load is compared twice: with SQLite's rowid table (the
  // identifier is the rowid, so its scan reads the table in order) and with
  // a table of its own rowids, in load order, scanned through a unique index
  // on the identifier, which is what our file holds.
  struct Scan {
    bool shuffled;
    bool indexed;
  };
  for (Scan scanKind : {Scan{true, false}, Scan{true, true}, Scan{false, false}}) {
    const bool shuffled = scanKind.shuffled;
    if (!options.Want("scan") && !options.Want(shuffled ? "scan-shuffled" : "scan-ascending")) continue;
    const char* ourFile = shuffled ? "BULK.TWL" : "BULKASC.TWL";
    const std::string sqlFile = scanKind.indexed ? sqlIndexedPath : shuffled ? sqlPath : sqlAscendingPath;
    rows.push_back(Compare(options,
        std::string("full scan in key order, ") + (shuffled ? "shuffled" : "ascending") + " load" +
            (scanKind.indexed ? " (SQLite: UNIQUE index)" : ""),
        "rec/s", false,
        [&] {
          OurFile f(ourFile);
          pr::files::Open(&f.file, 0x42);
          Check("OPEN");
          auto start = Clock::now();
          pr::files::Set(&f.key);
          int count = 0;
          for (;;) {
            pr::files::Next(&f.file);
            if (pr::files::ErrorCode() != 0) break;
            ++count;
          }
          if (count != options.records) std::exit(4);
          return count / std::chrono::duration<double>(Clock::now() - start).count();
        },
        [&] {
          sqlite3* db = SqlOpen(sqlFile, "DELETE");
          sqlite3_stmt* scan = nullptr;
          sqlite3_prepare_v2(db, "SELECT id, name FROM partner ORDER BY id", -1, &scan, nullptr);
          auto start = Clock::now();
          int count = 0;
          while (sqlite3_step(scan) == SQLITE_ROW) ++count;
          if (count != options.records) std::exit(4);
          double rate = count / std::chrono::duration<double>(Clock::now() - start).count();
          sqlite3_finalize(scan);
          sqlite3_close(db);
          return rate;
        }));
  }

  // 6. Browse paging: one page of 15 rows through a view from a saved
  // position, on a small file and on the file of the ascending bulk load.
  auto paging = [&](const char* label, int records) {
    return RunInChild([&, label, records] {
      BrowsedFile browsed(label, records);
      OurFile& f = browsed.f;
      FileDescriptor& view = browsed.view;
      std::mt19937 random(3);
      std::uniform_int_distribution<int32_t> pick(1, records - 20);
      const int pages = 20000;
      // The saved positions (a browse keeps the one of its page's first row)
      // are taken before the clock starts.
      std::vector<std::string> positions;
      for (int p = 0; p < pages; ++p) {
        f.record.id = pick(random);
        pr::files::Set(&f.key, &f.key);
        pr::files::Next(&f.file);
        Check("NEXT");
        positions.push_back(pr::files::Position(&f.key));
      }
      auto start = Clock::now();
      for (int p = 0; p < pages; ++p) {
        pr::files::Close(&view);
        pr::files::Open(&view, 0x22);
        pr::files::Reset(&view, positions[static_cast<size_t>(p)]);
        for (int r = 0; r < 15; ++r) {
          pr::files::Next(&view);
          Check("NEXT view");
        }
      }
      return std::chrono::duration<double>(Clock::now() - start).count() / pages * 1e6;
    });
  };
  // 6b. Paging down as the browse does it: the view stays open, each page
  // starts at the saved position of the previous page's last row (the first
  // NEXT reads that row again and is skipped) and keeps the position of every
  // row it lists.  The small file is paged through again from its start when
  // its end is reached.
  // The same over a view with a filter or an order of its own (empty: as
  // the browse sets it up); the walk is built when the view opens, before
  // the clock starts.
  auto pagingDownThrough = [&](const char* label, int records, const char* order, const char* filter) {
    return RunInChild([&, label, records, order, filter] {
      BrowsedFile browsed(label, records);
      FileDescriptor& view = browsed.view;
      if (*order) pr::files::SetProperty(&view, pr::files::PROP_VIEW_ORDER, order);
      Check("order");
      if (*filter) pr::files::SetProperty(&view, pr::files::PROP_VIEW_FILTER, filter);
      Check("filter");
      auto opening = Clock::now();
      pr::files::Open(&view, 0x22);
      if (*order)
        std::fprintf(stderr, "    %s: view opened (walk built) over %d records in %.2f s, peak %ld KiB so far\n", order,
                     records, std::chrono::duration<double>(Clock::now() - opening).count(), PeakKb());
      Check("OPEN view");
      const int pages = 20000;
      const int32_t kRecordNotAvailable = 33;
      std::string last;
      auto start = Clock::now();
      for (int p = 0; p < pages; ++p) {
        if (last.empty())
          pr::files::SetView(&view);
        else
          pr::files::Reset(&view, last);
        bool first = !last.empty();
        for (int listed = 0; listed < 15;) {
          pr::files::Next(&view);
          if (pr::files::ErrorCode() == kRecordNotAvailable) {
            pr::files::SetView(&view);
            first = false;
            continue;
          }
          Check("NEXT view");
          std::string position = pr::files::Position(&view);
          const bool again = first && position == last;
          first = false;
          if (again) continue;
          last = std::move(position);
          ++listed;
        }
      }
      return std::chrono::duration<double>(Clock::now() - start).count() / pages * 1e6;
    });
  };
  auto pagingDown = [&](const char* label, int records) { return pagingDownThrough(label, records, "", ""); };
  // Small and large alternate, medians of the repeats.  Both files were
  // loaded in key order, as ADD_PARTNER numbers partners.
  auto pagingRow = [&](const std::string& name, const std::function<Sample(const char*, int)>& run) {
    std::vector<double> small, large;
    for (int i = 0; i < options.repeats; ++i) {
      small.push_back(run("PAGING.TWL", 1000).value);
      large.push_back(run("BULKASC.TWL", options.records).value);
    }
    Row row{name + ": 1,000 vs " + std::to_string(options.records) + " records", "us/page", Median(small),
            Median(large), 0, 0, true, "large / small"};
    std::fprintf(stderr, "  %-40s small %8.1f  large %8.1f us/page\n", name.c_str(), row.ours, row.sqlite);
    rows.push_back(row);
  };
  if (options.Want("paging")) {
    pagingRow("page of 15 rows from a random saved position", paging);
    pagingRow("page down through the browse's view", pagingDown);
  }
  if (options.Want("paging") || options.Want("paging-views")) {
    // A quarter of the partners pass the filter, in both files.
    pagingRow("page down, filtered view", [&](const char* label, int records) {
      return pagingDownThrough(label, records, "", "BEN:ID % 4 = 0 AND INSTRING('PARTNER', UPPER(BEN:NAME), 1, 1)");
    });
    // No key serves the name: the sorted walk.
    pagingRow("page down, name-ordered view", [&](const char* label, int records) {
      return pagingDownThrough(label, records, "+BEN:NAME", "");
    });
  }

  std::printf("\n| workload | ours | SQLite | unit | ratio ours/SQLite | peak KiB ours | peak KiB SQLite |\n");
  std::printf("|---|---:|---:|---|---:|---:|---:|\n");
  for (const Row& row : rows) {
    double ratio = row.sqlite > 0 ? row.ours / row.sqlite : 0;
    if (row.note == "large / small") ratio = row.ours > 0 ? row.sqlite / row.ours : 0;
    std::printf("| %s | %.1f | %.1f | %s | %.2f | %ld | %ld |\n", row.name.c_str(), row.ours, row.sqlite,
                row.unit.c_str(), ratio, row.oursKb, row.sqliteKb);
  }
  std::printf("\nFor the paging rows the second column is the large file and the ratio is large / small.\n");
  std::printf("For the flush floor row the SQLite column is empty: compare it with the durable ADD rate.\n");
  return 0;
}
