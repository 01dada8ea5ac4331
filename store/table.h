// A table inside a keyed file: its name, definition, collation, counters,
// data records, memos and key entries, all records of the file's one page
// tree (see store/record_kinds.h for their keys).
//
// Results.  Operations answer a Status (store/status.h); a refusal is a
// runtime file error:
//   FileNotFound               no table of that name (FindTable, Open)
//   AccessDenied               Create of a name that already exists
//   RecordNotFound             no data record with that number
//   InvalidDataFile            a stored record of this table is damaged
//                              (wrong length, bad number)
//   CreatesDuplicateKey        the record would duplicate the entry of a key
//                              without DUP
//   InvalidRecordDeclaration   the declaration does not fit (the
//                              structure-check texts are already in the
//                              thread's error state, files/structure_check.h)
//   InvalidMemoFile            a memo or blob is damaged
//   BuildCancelled             a key build was cancelled
// Inconsistencies of the container itself, running out of record numbers
// (1173) and an over-long record (824) raise the driver error box
// (store/fatal_error.h) and do not return.
//
// Failure effects.  A refused Add, Replace or Delete leaves the tree as it
// was (a record number issued for a refused Add stays used).  A build ends
// with whatever it inserted before its end.
//
// Thread safety: none.  The driver serialises all use of a table and of its
// file.  The table keeps a reference to its Container, which must outlive it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "store/collation_state.h"
#include "store/container.h"
#include "store/definition_stream.h"
#include "store/record_kinds.h"
#include "store/status.h"
#include "store/table_layout.h"

namespace pr::store {

// Counters subject of the data records.
inline constexpr uint8_t kDataCounters = kKindData;

struct Counters {
  uint32_t count = 0;
  uint32_t second = 0;  // data: the table's flags; key: its build mark
};

// Looks table `name` (already upper case) up in `file`: Ok with its number,
// FileNotFound when there is none, InvalidDataFile when its name record is
// damaged.
Status FindTable(const Container& file, std::string_view name, RecordNumber* number);

// The next table name after `name` in name order ("" for the first); false
// when there is none.
bool NextTableName(const Container& file, std::string_view name, std::string* next);

// Reports a layout problem or definition mismatch as a group D structure
// check and answers InvalidRecordDeclaration.
Status ReportStructureCheck(const LayoutProblem& problem);
Status ReportStructureCheck(const DefinitionMismatch& mismatch);

class Table {
 public:
  struct OpenOptions {
    bool decimalCheck = true;  // compare DECIMAL size and places
  };

  // Creates table `name` (upper case): checks the declaration, issues
  // the table number, stores the name record, the definition (version 2 when
  // a memo is a BLOB), the collation record with `oem` and `collation`, and
  // zero counters for the data and every key.  Then opens it.
  static Status Create(Container& file, std::string_view name, const TableDefinition& declared, bool oem,
                    const CollationState& collation, std::unique_ptr<Table>* out);

  // Opens table `name`.  With a declaration: checks it (a key over 7526
  // bytes or a type the driver cannot store) and compares it with the stored
  // definition (naming the first difference, or the newer-format check).  Without one (null): the definition is read from the file.  The
  // OEM flag and collation always come from the table's collation record.
  static Status Open(Container& file, std::string_view name, const TableDefinition* declared,
                  const OpenOptions& options, std::unique_ptr<Table>* out);

  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  Container& file() const { return *file_; }
  const RecordNumber& number() const { return number_; }
  const TableDefinition& definition() const { return definition_; }
  uint32_t recordLength() const { return definition_.recordLength; }
  bool oem() const { return oem_; }
  const CollationState& collation() const { return collation_; }
  size_t keyCount() const { return layout_.keys.size(); }
  const KeyLayout& key(size_t k) const { return layout_.keys[k]; }
  // The tree that holds the entries of key k: the file's, or the in-memory
  // tree of an INDEX.
  Container& keyTree(size_t k) const;

  // The current record: set by Add and Fetch, cleared by Delete of it.
  bool hasCurrent() const { return hasCurrent_; }
  const RecordNumber& current() const { return current_; }
  void SetCurrent(const RecordNumber& record) {
    current_ = record;
    hasCurrent_ = true;
  }
  void ClearCurrent() { hasCurrent_ = false; }

  // ---- data records; `image` is recordLength() bytes in the ANSI set
  // Issues a record number, adds the key entries (a duplicate takes them out
  // again),
  // stores the data record (in the OEM set when the table converts), counts
  // it and makes it current.
  Status Add(const uint8_t* image, RecordNumber* assigned);
  // Reads record `record` into `image` (converted back from OEM).
  // RecordNotFound when missing, InvalidDataFile when its length is wrong.
  // Makes it current.
  Status Fetch(const RecordNumber& record, uint8_t* image);
  // As Fetch, from `stored`: the data of record `record` as the caller found
  // it under the record's data key.
  Status CopyOut(const RecordNumber& record, ByteView stored, uint8_t* image);
  // True when data record `record` exists.
  bool Exists(const RecordNumber& record) const;
  // Replaces record `record` with `image`: changed key entries first (a
  // duplicate changes nothing), then the data.  RecordNotFound when missing.
  Status Replace(const RecordNumber& record, const uint8_t* image);
  // Deletes record `record` with its key entries and memos.  RecordNotFound
  // when missing.
  Status Delete(const RecordNumber& record);

  // ---- counters
  Counters ReadCounters(uint8_t subject) const;  // zeros when absent
  void WriteCounters(uint8_t subject, const Counters& counters);
  uint32_t RecordCount() const { return ReadCounters(kDataCounters).count; }
  uint32_t flags() const { return ReadCounters(kDataCounters).second; }
  void SetFlags(uint32_t flags);

  // ---- memos and blobs (index from 0 in declaration order)
  // Stores `length` bytes as memo `memo` of record `record` in pieces of 256
  // (MEMO) or 10240 (BLOB) bytes, replacing what was there; length 0 removes
  // it.  Content of a memo that is not BINARY goes to the OEM set when the
  // table converts.
  Status WriteMemo(const RecordNumber& record, size_t memo, const uint8_t* content, size_t length);
  // Reads memo `memo` of record `record` into `content` (empty when none).
  // InvalidMemoFile when a piece is missing or malformed.
  Status ReadMemo(const RecordNumber& record, size_t memo, std::vector<uint8_t>* content) const;
  // Removes every memo and blob piece of `record`.
  void DeleteMemos(const RecordNumber& record);

  // ---- key entries
  // The encoded components of `image` for key k (key(k).encodedLength bytes).
  void EncodeComponents(size_t k, const uint8_t* image, uint8_t* out) const;
  // The key part of the entry of `image` as record `record` (entryKeyLength
  // bytes); returns its length.
  size_t EncodeEntry(size_t k, const RecordNumber& record, const uint8_t* image, uint8_t* out) const;
  // False when an OPT key keeps no entry for `image`.
  bool HasEntry(size_t k, const uint8_t* image) const {
    return !(layout_.keys[k].opt() && KeyIsBlank(layout_.keys[k], image));
  }
  // POSITIONkey: the record number followed by the encoded components of
  // `image`; returns encodedLength + 4.
  size_t PositionKey(size_t k, const RecordNumber& record, const uint8_t* image, uint8_t* out) const;

  // ---- key build
  struct BuildHooks {
    // Called with the percentage read so far; false cancels the build (93).
    std::function<bool(int percent)> progress;
    // Called with each record image (ANSI); false leaves the record out.
    std::function<bool(const uint8_t* image)> filter;
    // Writes the pending update of the file; called whenever 400 or more
    // pages are dirty.  Returns Ok or the error that ends the build.
    // Default: the container's own WriteUpdate (a failure ends it with
    // FileSystemError).
    std::function<Status()> writeUpdate;
    // With full build the key's existing entries are removed first.
    bool fullBuild = false;
    // Bytes of sort buffer held in memory before a run goes to a temporary
    // file.
    size_t runBytes = size_t{16} << 20;
  };
  // Builds the entries of key k from the data records (an INDEX into a new
  // in-memory tree).  CreatesDuplicateKey when records were refused as
  // duplicates: the build mark in the key's counters then holds the lowest
  // refused record number.  BuildCancelled, InvalidDataFile for a stored
  // record of the wrong length, FileSystemError when the sort's temporary
  // files fail, or the error of writeUpdate.
  Status BuildKey(size_t k, const BuildHooks& hooks);

  // The first data record of the table at or after `from` (in record-number
  // order); false when there is none.
  bool NextDataRecord(const RecordNumber& from, RecordNumber* found) const;

 private:
  Table(Container& file, const RecordNumber& number);
  Status LoadCollation();
  void StoreDefinition();
  Status LoadStoredDefinition(const TableDefinition* declared, const OpenOptions& options);
  void AdjustCount(uint8_t subject, int delta);
  // Inserts the entries of `image` as `record` for every file key; on a
  // duplicate takes the inserted ones out and answers CreatesDuplicateKey.
  Status AddEntries(const RecordNumber& record, const uint8_t* image);
  void EraseEntries(const RecordNumber& record, const uint8_t* image);

  Container* file_;
  RecordNumber number_;
  TableDefinition definition_;
  TableLayout layout_;
  CollationState collation_;
  bool oem_ = false;
  // The stored record length when the declaration's differs (0 otherwise):
  // records are then read (cut or padded to the declared length) but never
  // written, which would store records of the wrong length.
  uint32_t storedLength_ = 0;
  std::vector<std::unique_ptr<Container>> indexTrees_;  // per key; null for file keys
  RecordNumber current_{};
  bool hasCurrent_ = false;

  // Scratch space kept between calls so that the record paths allocate
  // nothing once warm.
  mutable std::vector<uint8_t> found_;
  std::vector<uint8_t> image_;     // the image as stored (OEM form)
  std::vector<uint8_t> oldImage_;  // the stored image before a change, ANSI
  std::vector<uint8_t> entry_;
  std::vector<uint8_t> oldEntry_;
};

}  // namespace pr::store
