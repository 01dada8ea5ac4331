// Inspection of a keyed file from outside a program's own opens: the tables
// it holds, a look at its pending-update area, and a check of every table's
// records against its counters, keys and memos.  Used by the twl tool.
//
// Nothing here writes: the inspected Container should be opened read only.
// Damaged pages raise the driver error box as any read would; callers that
// want to go on install ThrowingFatalHandler (store/fatal_error.h) and catch
// DriverError.
//
// Thread safety: none.  One caller uses one Container.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "store/container.h"
#include "store/physical.h"
#include "store/record_kinds.h"

namespace pr::store {

struct TableEntry {
  std::string name;
  RecordNumber number{};
};

// Every table of the file in name order.  Name records that cannot be read
// (wrong length) are left out; VerifyTables reports them.
std::vector<TableEntry> ListTables(const Container& file);

// The lock protocol of a read-only, deny-none look at a file, which also
// tells whether a refresh met a complete pending-update area.  The answer to
// "does this area belong to an unfinished transaction" is the driver's own
// recovery check, so a look decides as a writer would.
class InspectHooks final : public FileLocks {
 public:
  InspectHooks(HANDLE handle, std::string fileName)
      : FileLocks(handle, kShareDenyNone), fileName_(std::move(fileName)) {}
  bool PendingAreaIsUnfinishedTransaction(Container& file) override;
  // Set by a refresh that walked a complete area (header copy included).
  bool areaComplete = false;
  // Set when that area's transaction never reached its point of commit.
  bool unfinishedTransaction = false;

 private:
  std::string fileName_;
};

// What a file's header says about its pending-update area.
struct PendingAreaState {
  bool present = false;   // committed length != pending length on disk
  bool complete = false;  // every image and the header copy are there
  bool unfinishedTransaction = false;
  uint32_t committedLength = 0;
  uint32_t pendingLength = 0;
};

// One fault found by VerifyTables: `where` names the table and record, key
// or page concerned ("table PARTNERI record 17").
struct Fault {
  std::string where;
  std::string what;
};

// Checks every table of `file`: its definition and collation records can be
// read; each data record has the definition's length and exactly the key
// entries its fields give (OPT keys none for blank fields); each key entry
// points at an existing data record and equals the entry its fields encode;
// the data and key counters equal what they count; memo pieces belong to an
// existing record and read back whole; no record of a table has an unknown
// kind, no record names a table that does not exist and no number is past
// the header's last record number.  `progress` (may be empty) is told the
// number of records checked so far, every few thousand records.  Faults are
// appended to `faults`.  The tables are opened on `file` without a
// declaration and closed again; nothing is written.
void VerifyTables(Container& file, std::vector<Fault>* faults,
                  const std::function<void(uint64_t recordsChecked)>& progress = {});

// Text of a record or table number for messages: its value in decimal.
std::string NumberText(const RecordNumber& number);

}  // namespace pr::store
