// One open table as a file declaration sees it: the physical file it shares,
// the Table inside it, the sequence position, holds, WATCH and NOMEMO, the
// per-table options and the delayed-writing flags.  The driver entry
// (store/driver.h) keeps one TableAccess in each open descriptor's
// driverState and calls the operations below inside its operation bracket.
//
// Results are Status values (store/status.h).  A refusal is a runtime file
// error (err::Name): FileNotFound no such table, AccessDenied a change to a
// record held elsewhere, FileAlreadyLocked table locked elsewhere,
// RecordNotAvailable no current record / end of the sequence, RecordNotFound,
// InvalidDataFile not a keyed file or a damaged record, FileNotOpen,
// CreatesDuplicateKey, RecordAlreadyHeld record held elsewhere,
// InvalidFilename, InvalidRecordDeclaration the declaration does not fit
// (structure-check texts already set), FileAlreadyOpen,
// RecordChangedByAnotherStation, InvalidIndexString a position too short.
// What the system refused (an open, a lock, a write) is a system error.
//
// Sequence position.  NEXT and PREVIOUS walk either record order or one key,
// from a position kept as tree key bytes, so it survives ADD, PUT and DELETE
// (a deleted record's neighbours are still found from its bytes):
//   start  before the first / after the last record (SET without a value)
//   value  at a value: NEXT takes the first record at or after it, PREVIOUS
//          the last at or before it (SET with a key value or a pointer)
//   entry  at a record read: NEXT and PREVIOUS take its neighbours
//
// Thread safety: none; the driver's critical section serialises every call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/descriptors.h"
#include "store/physical.h"
#include "store/status.h"
#include "store/table.h"

namespace pr::store {

// Delayed writing: the update is written once 40 pages are dirty or 5000
// operations have been skipped in a row.
inline constexpr size_t kDelayedWritePages = 40;
inline constexpr int kDelayedWriteOperations = 5000;

class TableAccess {
 public:
  explicit TableAccess(files::FileDescriptor* descriptor) : fd_(descriptor) {}
  ~TableAccess();

  bool isOpen() const { return table_ != nullptr; }
  PhysicalFile* file() const { return file_; }
  Table* table() const { return table_.get(); }
  const std::string& physicalName() const { return physicalName_; }

  // ---- open and close
  // The physical file name and the table name the declaration names;
  // InvalidFilename for a name that cannot be split.
  Status NameForOpen(std::string* file, std::string* table) const;
  Status Open(uint32_t mode);
  Status Create();
  Status Close();
  // Deletes the file (closing this declaration's use first).
  Status Remove();

  // ---- the operation bracket
  // `unguarded`: see PhysicalFile::BeginRead.
  Status BeginRead(bool unguarded = false);
  // No hold or WATCH is armed: the next read has no effect outside the
  // record buffer and the position, so it may be repeated.
  bool repeatable() const { return !holdArmed_ && !watchArmed_; }
  Status BeginChange();
  // Writes (or, with delayed writing, may skip) the pending update and
  // leaves the file between operations.
  Status Finish(Status result);

  // ---- records
  Status Add();
  Status Put();
  Status Delete();
  Status GetByPointer(uint32_t pointer);
  Status GetByKey(size_t key);
  Status Next();
  Status Previous();

  // ---- positions; key = -1 means record order
  void SetFile();
  Status SetFileKey(size_t key);
  void SetFilePointer(uint32_t pointer);
  void SetKey(size_t key);
  void SetKeyValue(size_t key);
  Status SetKeyPointer(size_t key, uint32_t pointer);
  void SetKeyValuePointer(size_t key, uint32_t pointer);
  std::string PositionFile() const;
  std::string PositionKey(size_t key) const;
  Status ResetFile(const std::string& position);
  Status ResetKey(size_t key, const std::string& position);
  Status RegetFile(const std::string& position);
  Status RegetKey(size_t key, const std::string& position);

  uint32_t Records() const;
  uint32_t RecordsInKey(size_t key) const;
  uint32_t Pointer() const;
  // True when the record buffer would duplicate an entry of `key` held by
  // another record.
  bool Duplicates(size_t key);
  // True when it would duplicate any key that allows no duplicates.
  bool DuplicatesAnyUniqueKey();
  Status Build(int key);  // -1: every key

  // ---- holds, locks, flags
  // HOLD arms a hold for the next read.  A read whose record is held
  // elsewhere answers RecordAlreadyHeld at once; with seconds given, the driver repeats the
  // whole read (outside its critical section and reader slot between tries)
  // until it succeeds or the seconds have passed, so the record read is the
  // one as it stands when the hold is finally had.
  void ArmHold(int32_t seconds) {
    holdArmed_ = true;
    holdSeconds_ = seconds;
  }
  bool holdArmed() const { return holdArmed_; }
  int32_t holdSeconds() const { return holdSeconds_; }
  // RELEASE: gives back one hold this declaration took.
  void ReleaseHold();
  // Holds belong to the declaration that took them: its close gives back
  // every one, and holding another record gives back only its own.
  void ReleaseAllHolds();
  // seconds < 0: wait for as long as the table is locked elsewhere (inside this thread's
  // transaction no longer than TransactionLockPatience()).  Waits outside the
  // driver's critical section.
  Status Lock(int32_t seconds);
  void Unlock();
  void ArmWatch() { watchArmed_ = true; }
  void ArmNoMemo() { noMemoArmed_ = true; }

  // ---- options
  bool decimalCheck() const { return decimalCheck_; }
  void setDecimalCheck(bool on) { decimalCheck_ = on; }
  bool fullBuild() const { return fullBuild_; }
  void setFullBuild(bool on) { fullBuild_ = on; }
  bool delayedWrite() const { return delayedWrite_; }
  void setDelayedWrite(bool on) { delayedWrite_ = on; }
  bool skipWrite() const { return skipWrite_; }
  void setSkipWrite(bool on) { skipWrite_ = on; }
  bool silent() const { return silent_; }
  void setSilent(bool on) { silent_ = on; }

 private:
  enum class At { kStart, kValue, kEntry };
  struct Sequence {
    int key = -1;  // -1: record order
    At at = At::kStart;
    std::vector<uint8_t> bytes;  // the tree key the position stands at
  };

  Status KeyStep(bool forward);
  // Reads record `number` into the record buffer with the hold, WATCH and
  // NOMEMO rules; the buffer is left unchanged on failure.
  // `stored`, when given, is the record's data as a cursor found it.
  Status ReadRecord(const RecordNumber& number, const ByteView* stored = nullptr);
  // Takes the hold byte of `number` for a change unless this file holds it.
  Status HoldForChange(const RecordNumber& number, bool* taken);
  Status FetchForChange(const RecordNumber& number);
  Status CheckWatch(const RecordNumber& number);
  std::vector<uint8_t> KeyPrefix(int key) const;
  std::vector<uint8_t> ValueBytes(size_t key, const uint8_t* image) const;
  void ApplyDriverString();
  void DropTable();

  files::FileDescriptor* fd_;
  PhysicalFile* file_ = nullptr;
  std::unique_ptr<Table> table_;
  std::string physicalName_;
  Sequence sequence_;
  std::vector<uint8_t> lastImage_;  // the record as last read (POSITION of a key)
  std::vector<uint8_t> scratch_;
  // Working space of one lookup or step (contents meaningless between calls).
  std::vector<uint8_t> stepPrefix_, stepProbe_, stepFound_, stepData_;
  // The cursor of the last step and the tree it walks.  Forgotten whenever
  // the table or its trees may be replaced (open, close, key builds): a new
  // tree may stand where the old one stood.
  std::unique_ptr<Cursor> stepCursor_;
  const Container* stepTree_ = nullptr;
  // A walk by key over records numbered in its order (a file loaded in key
  // order) reads each data record next to the one before: a cursor on the
  // data records follows it, with the record number it stands on and the
  // one the last step read.
  std::unique_ptr<Cursor> dataCursor_;
  const Container* dataTree_ = nullptr;
  uint32_t dataCursorAt_ = 0;
  uint32_t lastStepRecord_ = 0;
  bool hasLastStepRecord_ = false;
  // The walk's key whose prefix stepPrefix_ holds.
  int stepPrefixKey_ = 0;
  bool stepPrefixValid_ = false;
  void ForgetStepCursor() {
    stepPrefixValid_ = false;
    stepCursor_.reset();
    stepTree_ = nullptr;
    dataCursor_.reset();
    dataTree_ = nullptr;
    hasLastStepRecord_ = false;
  }
  // The data of record `number` through the data cursor when the last step
  // read its neighbour; false when it is to be looked up.
  bool StepDataCursor(const RecordNumber& number, bool forward, ByteView* stored);

  bool holdArmed_ = false;
  int32_t holdSeconds_ = -1;
  bool holding_ = false;  // this declaration holds holdNumber_ ...
  uint32_t holdNumber_ = 0;
  int holdCount_ = 0;     // ... this many times
  bool tableLocked_ = false;

  bool watchArmed_ = false;
  bool watchValid_ = false;
  RecordNumber watchNumber_{};
  std::vector<uint8_t> watchImage_;
  std::vector<std::vector<uint8_t>> watchMemos_;
  bool noMemoArmed_ = false;

  bool decimalCheck_ = true;
  bool fullBuild_ = false;
  bool delayedWrite_ = false;
  bool skipWrite_ = false;
  bool silent_ = false;
  int skippedWrites_ = 0;
};

}  // namespace pr::store
