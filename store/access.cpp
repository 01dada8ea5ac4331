#include "store/access.h"

#include <cstring>

#include "files/errors.h"
#include "store/access_declaration.h"
#include "store/collation_state.h"
#include "store/locks.h"
#include "store/names_table.h"
#include "store/options.h"
#include "store/transaction.h"

namespace pr::store {
namespace {

bool StartsWith(const std::vector<uint8_t>& key, const std::vector<uint8_t>& prefix) {
  return key.size() >= prefix.size() && std::memcmp(key.data(), prefix.data(), prefix.size()) == 0;
}

RecordNumber NumberAt(const uint8_t* p) { return {p[0], p[1], p[2], p[3]}; }

bool FileExists(const std::string& name) { return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

TableAccess::~TableAccess() {
  if (isOpen()) (void)Close();
}

// ------------------------------------------------------------ open and close

Status TableAccess::NameForOpen(std::string* file, std::string* table) const {
  std::string_view declared = fd_->declaration.name.empty() ? fd_->label : fd_->declaration.name;
  SplitName split;
  if (!SplitTableName(declared, &split)) return Status::File(err::InvalidFilename);
  *file = split.file;
  *table = split.table;
  return Status::Ok();
}

void TableAccess::ApplyDriverString() {
  // A driver string holds its options one after another, separated by ";"
  // (as the driver string builder writes them); each is applied as SEND
  // would apply it.
  std::string_view text = fd_->declaration.driverString;
  while (!text.empty()) {
    const size_t end = text.find(';');
    std::string_view item = text.substr(0, end);
    if (item.find_first_not_of(' ') != std::string_view::npos) ApplyOption(this, std::string(item));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
}

Status TableAccess::Open(uint32_t mode) {
  if (isOpen()) return Status::File(err::FileAlreadyOpen);
  std::string tableName;
  if (Status named = NameForOpen(&physicalName_, &tableName); !named.ok()) return named;
  ApplyDriverString();
  const bool existed = FileExists(physicalName_);
  const bool threadFile = (fd_->declaration.attributes & files::ATTR_THREAD) != 0;
  PhysicalFile* file = nullptr;
  Status rc = OpenPhysicalFile(physicalName_, mode, fd_->declaration.owner, threadFile, &file);
  if (!rc.ok()) return rc;
  file_ = file;
  ForgetStepCursor();

  rc = BeginRead();
  RecordNumber number{};
  if (rc.ok()) rc = FindTable(file_->container(), tableName, &number);
  TableDefinition declared = DefinitionFromDeclaration(*fd_);
  const TableDefinition* declaration = fd_->declaration.fields != nullptr ? &declared : nullptr;
  auto openTable = [&] {
    Table::OpenOptions options;
    options.decimalCheck = decimalCheck_;
    return Table::Open(file_->container(), tableName, declaration, options, &table_);
  };
  if (rc == Status::File(err::FileNotFound) && (fd_->declaration.attributes & files::ATTR_CREATE) != 0 &&
      declaration) {
    rc = BeginChange();
    // The update lock may have been awaited outside the driver's critical
    // section, while another declaration of this file created the table.
    if (rc.ok() && FindTable(file_->container(), tableName, &number).ok()) {
      rc = openTable();
    } else if (rc.ok()) {
      bool oem = (fd_->declaration.attributes & files::ATTR_OEM) != 0;
      rc = Table::Create(file_->container(), tableName, declared, oem, CollationState::Current(), &table_);
    }
  } else if (rc.ok()) {
    rc = openTable();
  }
  if (rc.ok() && table_->recordLength() != fd_->recordLength && declaration == nullptr)
    rc = Status::File(err::InvalidRecordDeclaration);
  // End the open as every operation ends: a created table is written, and
  // the reader slot is given back, so that an idle opener never keeps other
  // writers waiting on it.
  if (rc.ok()) rc = file_->Finish(false);
  if (!rc.ok()) {
    table_.reset();
    file_->DiscardChanges();
    (void)file_->Finish(true);
    ClosePhysicalFile(file_);
    file_ = nullptr;
    // An open that found nothing leaves no empty file behind.
    if (!existed && !PhysicalFileIsOpen(physicalName_)) DeleteFileA(physicalName_.c_str());
    return rc;
  }
  sequence_ = Sequence{};
  lastImage_.assign(fd_->record, fd_->record + fd_->recordLength);
  return Status::Ok();
}

void TableAccess::DropTable() {
  // Every record of the table begins with its number; the name record is the
  // table-name kind.
  Container& container = file_->container();
  RecordNumber number{};
  std::string file, name;
  if (!NameForOpen(&file, &name).ok()) return;
  if (!FindTable(container, name, &number).ok()) return;
  container.ErasePrefix(ByteView(number.data(), number.size()));
  std::vector<uint8_t> nameKey{kKindTableName};
  nameKey.insert(nameKey.end(), name.begin(), name.end());
  container.Erase(ByteView(nameKey.data(), nameKey.size()));
}

Status TableAccess::Create() {
  if (isOpen()) return Status::File(err::FileAlreadyOpen);
  std::string tableName;
  if (Status named = NameForOpen(&physicalName_, &tableName); !named.ok()) return named;
  ApplyDriverString();
  const bool threadFile = (fd_->declaration.attributes & files::ATTR_THREAD) != 0;
  PhysicalFile* file = nullptr;
  const uint32_t readWriteDenyNone = kShareDenyNone | 0x02;
  Status rc = OpenPhysicalFile(physicalName_, readWriteDenyNone, fd_->declaration.owner, threadFile, &file);
  if (!rc.ok()) return rc;
  file_ = file;
  rc = BeginChange();
  if (rc.ok()) {
    DropTable();
    TableDefinition declared = DefinitionFromDeclaration(*fd_);
    bool oem = (fd_->declaration.attributes & files::ATTR_OEM) != 0;
    rc = Table::Create(file_->container(), tableName, declared, oem, CollationState::Current(), &table_);
  }
  table_.reset();
  if (!rc.ok()) file_->DiscardChanges();
  const Status written = file_->Finish(false);
  ClosePhysicalFile(file_);
  file_ = nullptr;
  return !rc.ok() ? rc : written;
}

Status TableAccess::Close() {
  if (!isOpen()) return Status::File(err::FileNotOpen);
  ReleaseAllHolds();
  Unlock();
  Status rc;
  if (!file_->inTransaction()) rc = file_->Finish(false);
  table_.reset();
  ForgetStepCursor();
  ClosePhysicalFile(file_);
  file_ = nullptr;
  watchValid_ = false;
  return rc;
}

Status TableAccess::Remove() {
  std::string name, table;
  if (Status named = NameForOpen(&name, &table); !named.ok()) return named;
  if (isOpen()) (void)Close();
  if (PhysicalFileIsOpen(name)) return Status::System(ERROR_ACCESS_DENIED);
  SetLastError(0);
  if (!DeleteFileA(name.c_str())) {
    DWORD error = GetLastError();
    return Status::System(MapOpenError(error != 0 ? error : ERROR_ACCESS_DENIED));
  }
  return Status::Ok();
}

// ------------------------------------------------------------ bracket

Status TableAccess::BeginRead(bool unguarded) { return file_->BeginRead(unguarded); }

Status TableAccess::BeginChange() {
  watchArmed_ = false;
  return file_->BeginChange();
}

Status TableAccess::Finish(Status result) {
  if (file_ == nullptr) return result;
  bool skip = skipWrite_;
  if (!skip && delayedWrite_ && file_->container().HasChanges()) {
    if (file_->container().dirtyPageCount() < kDelayedWritePages && skippedWrites_ < kDelayedWriteOperations) {
      ++skippedWrites_;
      skip = true;
    }
  }
  if (!skip) skippedWrites_ = 0;
  const Status written = file_->Finish(skip);
  return !result.ok() ? result : written;
}

// ------------------------------------------------------------ records

Status TableAccess::ReadRecord(const RecordNumber& number, const ByteView* stored) {
  const uint32_t value = RecordNumberValue(number);
  bool tookHold = false;
  if (holdArmed_) {
    // One attempt, never a wait: a wait happens between whole reads, with
    // the reader slot and the driver's critical section let go (driver.cpp).
    holdArmed_ = false;
    if (!file_->Hold(value).ok()) return Status::File(err::RecordAlreadyHeld);
    tookHold = true;
  }
  // Fetch writes its image only when it succeeds, so a record buffer of the
  // table's own length takes the record directly; only a buffer of another
  // length needs the copy through the scratch image.
  const bool direct = fd_->recordLength == table_->recordLength();
  uint8_t* image = fd_->record;
  if (!direct) {
    scratch_.resize(table_->recordLength());
    image = scratch_.data();
  }
  const Status rc = stored != nullptr ? table_->CopyOut(number, *stored, image) : table_->Fetch(number, image);
  if (!rc.ok()) {
    if (tookHold) file_->Release(value);
    return rc;
  }
  if (tookHold) {
    if (holding_ && holdNumber_ == value) {
      ++holdCount_;
    } else {
      if (holding_) file_->Release(holdNumber_, holdCount_);
      holding_ = true;
      holdNumber_ = value;
      holdCount_ = 1;
    }
  }
  if (!direct) std::memcpy(fd_->record, image, fd_->recordLength);
  // The kept image has the table's length from the open on; a copy into it
  // is all a read needs.
  if (lastImage_.size() == table_->recordLength())
    std::memcpy(lastImage_.data(), image, lastImage_.size());
  else
    lastImage_.assign(image, image + table_->recordLength());
  watchValid_ = false;
  if (watchArmed_) {
    watchArmed_ = false;
    watchValid_ = true;
    watchNumber_ = number;
    watchImage_.assign(image, image + table_->recordLength());
    watchMemos_.assign(table_->definition().memos.size(), {});
    for (size_t m = 0; m < watchMemos_.size(); ++m) (void)table_->ReadMemo(number, m, &watchMemos_[m]);
  }
  noMemoArmed_ = false;
  return Status::Ok();
}

Status TableAccess::HoldForChange(const RecordNumber& number, bool* taken) {
  *taken = false;
  const uint32_t value = RecordNumberValue(number);
  if (file_->Holds(value)) return Status::Ok();
  // A record held elsewhere refuses the change as the system refuses access.
  if (!file_->Hold(value).ok()) return Status::System(ERROR_ACCESS_DENIED);
  *taken = true;
  return Status::Ok();
}

Status TableAccess::CheckWatch(const RecordNumber& number) {
  if (!watchValid_ || watchNumber_ != number) return Status::Ok();
  if (scratch_ != watchImage_) return Status::File(err::RecordChangedByAnotherStation);
  std::vector<uint8_t> memo;
  for (size_t m = 0; m < watchMemos_.size(); ++m) {
    (void)table_->ReadMemo(number, m, &memo);
    if (memo != watchMemos_[m]) return Status::File(err::RecordChangedByAnotherStation);
  }
  return Status::Ok();
}

Status TableAccess::Add() {
  RecordNumber assigned{};
  const Status rc = table_->Add(fd_->record, &assigned);
  if (rc.ok()) lastImage_.assign(fd_->record, fd_->record + fd_->recordLength);
  return rc;
}

// The current record as stored, into scratch_, for a change: a record gone
// meanwhile is no longer available.
Status TableAccess::FetchForChange(const RecordNumber& number) {
  scratch_.resize(table_->recordLength());
  const Status rc = table_->Fetch(number, scratch_.data());
  if (rc == Status::File(err::RecordNotFound)) return Status::File(err::RecordNotAvailable);
  return rc;
}

Status TableAccess::Put() {
  if (!table_->hasCurrent()) return Status::File(err::RecordNotAvailable);
  const RecordNumber number = table_->current();
  bool taken = false;
  if (Status held = HoldForChange(number, &taken); !held.ok()) return held;
  Status rc = FetchForChange(number);
  if (rc.ok()) rc = CheckWatch(number);
  if (rc.ok() && std::memcmp(scratch_.data(), fd_->record, fd_->recordLength) != 0)
    rc = table_->Replace(number, fd_->record);
  if (rc.ok()) {
    lastImage_.assign(fd_->record, fd_->record + fd_->recordLength);
    watchValid_ = false;
  }
  if (taken) file_->Release(RecordNumberValue(number));
  return rc;
}

Status TableAccess::Delete() {
  if (!table_->hasCurrent()) return Status::File(err::RecordNotAvailable);
  const RecordNumber number = table_->current();
  bool taken = false;
  if (Status held = HoldForChange(number, &taken); !held.ok()) return held;
  Status rc = FetchForChange(number);
  if (rc.ok()) rc = CheckWatch(number);
  if (rc.ok()) rc = table_->Delete(number);
  if (taken) file_->Release(RecordNumberValue(number));
  if (rc.ok()) {
    table_->ClearCurrent();
    watchValid_ = false;
    if (holding_ && holdNumber_ == RecordNumberValue(number)) ReleaseAllHolds();
  }
  return rc;
}

Status TableAccess::GetByPointer(uint32_t pointer) { return ReadRecord(MakeRecordNumber(pointer)); }

Status TableAccess::GetByKey(size_t key) {
  std::vector<uint8_t>& value = stepProbe_;
  value.assign(table_->number().begin(), table_->number().end());
  value.push_back(table_->key(key).index);
  const size_t at = value.size();
  value.resize(at + table_->key(key).encodedLength);
  table_->EncodeComponents(key, fd_->record, value.data() + at);
  std::vector<uint8_t>& found = stepFound_;
  std::vector<uint8_t>& data = stepData_;
  Container& tree = table_->keyTree(key);
  if (!tree.SeekGE(ByteView(value.data(), value.size()), &found, &data) || !StartsWith(found, value) ||
      data.size() < 4)
    return Status::File(err::RecordNotFound);
  return ReadRecord(NumberAt(data.data()));
}

std::vector<uint8_t> TableAccess::KeyPrefix(int key) const {
  std::vector<uint8_t> prefix(table_->number().begin(), table_->number().end());
  prefix.push_back(key < 0 ? kKindData : table_->key(static_cast<size_t>(key)).index);
  return prefix;
}

std::vector<uint8_t> TableAccess::ValueBytes(size_t key, const uint8_t* image) const {
  std::vector<uint8_t> bytes = KeyPrefix(static_cast<int>(key));
  size_t at = bytes.size();
  bytes.resize(at + table_->key(key).encodedLength);
  table_->EncodeComponents(key, image, bytes.data() + at);
  return bytes;
}

Status TableAccess::KeyStep(bool forward) {
  const int key = sequence_.key;
  // The working vectors are members: a step allocates nothing once warm.
  // The prefix of the walk's records (table number, kind or key index) is
  // made again only when the walk changes key.
  std::vector<uint8_t>& prefix = stepPrefix_;
  if (!stepPrefixValid_ || stepPrefixKey_ != key) {
    prefix.assign(table_->number().begin(), table_->number().end());
    prefix.push_back(key < 0 ? kKindData : table_->key(static_cast<size_t>(key)).index);
    stepPrefixKey_ = key;
    stepPrefixValid_ = true;
  }
  Container& tree = key < 0 ? table_->file() : table_->keyTree(static_cast<size_t>(key));
  // The walk goes through a cursor kept from step to step: while it still
  // stands at the position's entry and the tree has not changed, the
  // neighbour is the next record of the same leaf and needs no search.
  if (!stepCursor_ || stepTree_ != &tree) {
    stepCursor_ = std::make_unique<Cursor>(tree);
    stepTree_ = &tree;
  }
  Cursor& cursor = *stepCursor_;
  bool ok = false;
  // The position is searched where it stands; only a search that must alter
  // it works on a copy.
  std::vector<uint8_t>& probe = stepProbe_;
  const ByteView at(sequence_.bytes.data(), sequence_.bytes.size());
  switch (sequence_.at) {
    case At::kStart:
      if (forward) {
        ok = cursor.SeekGE(ByteView(prefix.data(), prefix.size()));
      } else {
        probe = prefix;
        ++probe.back();  // key indexes and the data kind never reach 0xFF
        ok = cursor.SeekLT(ByteView(probe.data(), probe.size()));
      }
      break;
    case At::kValue:
      if (forward) {
        ok = cursor.SeekGE(at);
      } else {
        probe.assign(sequence_.bytes.begin(), sequence_.bytes.end());
        // Entries of a DUP key carry the record number after the value.
        if (key >= 0 && table_->key(static_cast<size_t>(key)).dup() &&
            probe.size() == prefix.size() + table_->key(static_cast<size_t>(key)).encodedLength)
          probe.insert(probe.end(), 4, 0xFF);
        ok = cursor.SeekLE(ByteView(probe.data(), probe.size()));
      }
      break;
    case At::kEntry:
      if (cursor.valid() && CompareKeys(cursor.key(), at) == 0)
        ok = forward ? cursor.Next() : cursor.Prev();
      else
        ok = forward ? cursor.SeekGT(at) : cursor.SeekLT(at);
      break;
  }
  if (!ok) return Status::File(err::RecordNotAvailable);
  std::vector<uint8_t>& found = stepFound_;
  found.assign(cursor.key().begin(), cursor.key().end());
  const ByteView data = cursor.data();
  if (!StartsWith(found, prefix)) return Status::File(err::RecordNotAvailable);
  RecordNumber number{};
  if (key < 0) {
    if (found.size() != kDataKeyLength) return Status::File(err::InvalidDataFile);
    number = NumberAt(found.data() + 5);
  } else {
    if (data.size() < 4) return Status::File(err::InvalidDataFile);
    number = NumberAt(data.data());
  }
  ByteView stored;
  const bool onCursor = key >= 0 && StepDataCursor(number, forward, &stored);
  const Status rc = ReadRecord(number, onCursor ? &stored : nullptr);
  // A held record leaves the position where it was so the read can be
  // repeated; anything else moves on.
  if (rc != Status::File(err::RecordAlreadyHeld)) {
    sequence_.at = At::kEntry;
    sequence_.bytes.swap(found);
  }
  return rc;
}

bool TableAccess::StepDataCursor(const RecordNumber& number, bool forward, ByteView* stored) {
  const uint32_t value = RecordNumberValue(number);
  const bool neighbour =
      hasLastStepRecord_ && (forward ? value == lastStepRecord_ + 1 : value + 1 == lastStepRecord_);
  lastStepRecord_ = value;
  hasLastStepRecord_ = true;
  // Records reached in no order are looked up one by one: a lookup searches
  // a leaf where it lies, a cursor would decode it.
  if (!neighbour) return false;
  Container& data = table_->file();
  if (!dataCursor_ || dataTree_ != &data) {
    dataCursor_ = std::make_unique<Cursor>(data);
    dataTree_ = &data;
    dataCursorAt_ = 0;
  }
  uint8_t key[kDataKeyLength];
  const ByteView target(key, DataKey(table_->number(), number, key));
  Cursor& cursor = *dataCursor_;
  // The cursor's answer is taken only for the very key looked for.
  bool at = false;
  if (cursor.valid() && dataCursorAt_ + (forward ? 1 : -1) == value && (forward ? cursor.Next() : cursor.Prev()))
    at = CompareKeys(cursor.key(), target) == 0;
  if (!at) at = cursor.SeekGE(target) && CompareKeys(cursor.key(), target) == 0;
  if (!at) {
    dataCursorAt_ = 0;
    return false;
  }
  dataCursorAt_ = value;
  *stored = cursor.data();
  return true;
}

Status TableAccess::Next() { return KeyStep(true); }
Status TableAccess::Previous() { return KeyStep(false); }

void TableAccess::SetFile() { sequence_ = Sequence{}; }

Status TableAccess::SetFileKey(size_t key) {
  std::vector<uint8_t> value = ValueBytes(key, fd_->record);
  std::vector<uint8_t> found, data;
  const std::vector<uint8_t> prefix = KeyPrefix(static_cast<int>(key));
  sequence_ = Sequence{};
  sequence_.at = At::kValue;
  sequence_.bytes = KeyPrefix(-1);
  Container& tree = table_->keyTree(key);
  if (tree.SeekGE(ByteView(value.data(), value.size()), &found, &data) && StartsWith(found, prefix) &&
      data.size() >= 4) {
    sequence_.bytes.insert(sequence_.bytes.end(), data.begin(), data.begin() + 4);
  } else {
    sequence_.bytes.back() = kKindData + 1;  // past every record: NEXT ends, PREVIOUS takes the last
  }
  return Status::Ok();
}

void TableAccess::SetFilePointer(uint32_t pointer) {
  sequence_ = Sequence{};
  sequence_.at = At::kValue;
  sequence_.bytes = KeyPrefix(-1);
  RecordNumber number = MakeRecordNumber(pointer);
  sequence_.bytes.insert(sequence_.bytes.end(), number.begin(), number.end());
}

void TableAccess::SetKey(size_t key) {
  sequence_ = Sequence{};
  sequence_.key = static_cast<int>(key);
}

void TableAccess::SetKeyValue(size_t key) {
  sequence_ = Sequence{};
  sequence_.key = static_cast<int>(key);
  sequence_.at = At::kValue;
  sequence_.bytes = ValueBytes(key, fd_->record);
}

Status TableAccess::SetKeyPointer(size_t key, uint32_t pointer) {
  std::vector<uint8_t> image(table_->recordLength());
  const bool hadCurrent = table_->hasCurrent();
  const RecordNumber current = table_->current();
  RecordNumber number = MakeRecordNumber(pointer);
  const Status rc = table_->Fetch(number, image.data());
  if (hadCurrent)
    table_->SetCurrent(current);
  else
    table_->ClearCurrent();
  if (!rc.ok()) return rc;
  sequence_ = Sequence{};
  sequence_.key = static_cast<int>(key);
  sequence_.at = At::kValue;
  sequence_.bytes.resize(table_->key(key).entryKeyLength());
  table_->EncodeEntry(key, number, image.data(), sequence_.bytes.data());
  return Status::Ok();
}

void TableAccess::SetKeyValuePointer(size_t key, uint32_t pointer) {
  SetKeyValue(key);
  if (table_->key(key).dup()) {
    RecordNumber number = MakeRecordNumber(pointer);
    sequence_.bytes.insert(sequence_.bytes.end(), number.begin(), number.end());
  }
}

std::string TableAccess::PositionFile() const {
  RecordNumber number = table_->hasCurrent() ? table_->current() : RecordNumber{};
  return std::string(number.begin(), number.end());
}

std::string TableAccess::PositionKey(size_t key) const {
  std::string out(table_->key(key).encodedLength + 4, '\0');
  RecordNumber number = table_->hasCurrent() ? table_->current() : RecordNumber{};
  std::vector<uint8_t> image = lastImage_;
  image.resize(table_->recordLength());
  table_->PositionKey(key, number, image.data(), reinterpret_cast<uint8_t*>(out.data()));
  return out;
}

Status TableAccess::ResetFile(const std::string& position) {
  if (position.size() < 4) return Status::File(err::InvalidIndexString);
  SetFilePointer(RecordNumberValue(NumberAt(reinterpret_cast<const uint8_t*>(position.data()))));
  return Status::Ok();
}

Status TableAccess::ResetKey(size_t key, const std::string& position) {
  const KeyLayout& layout = table_->key(key);
  if (position.size() < 4 + layout.encodedLength) return Status::File(err::InvalidIndexString);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(position.data());
  sequence_ = Sequence{};
  sequence_.key = static_cast<int>(key);
  sequence_.at = At::kValue;
  sequence_.bytes = KeyPrefix(static_cast<int>(key));
  sequence_.bytes.insert(sequence_.bytes.end(), p + 4, p + 4 + layout.encodedLength);
  if (layout.dup()) sequence_.bytes.insert(sequence_.bytes.end(), p, p + 4);
  return Status::Ok();
}

Status TableAccess::RegetFile(const std::string& position) {
  if (position.size() < 4) return Status::File(err::InvalidIndexString);
  return ReadRecord(NumberAt(reinterpret_cast<const uint8_t*>(position.data())));
}

Status TableAccess::RegetKey(size_t key, const std::string& position) {
  if (position.size() < 4 + table_->key(key).encodedLength) return Status::File(err::InvalidIndexString);
  RecordNumber number = NumberAt(reinterpret_cast<const uint8_t*>(position.data()));
  if (Status rc = ReadRecord(number); !rc.ok()) return rc;
  sequence_ = Sequence{};
  sequence_.key = static_cast<int>(key);
  sequence_.at = At::kEntry;
  sequence_.bytes.resize(table_->key(key).entryKeyLength());
  table_->EncodeEntry(key, number, lastImage_.data(), sequence_.bytes.data());
  return Status::Ok();
}

uint32_t TableAccess::Records() const { return table_->RecordCount(); }

uint32_t TableAccess::RecordsInKey(size_t key) const { return table_->ReadCounters(table_->key(key).index).count; }

uint32_t TableAccess::Pointer() const { return table_->hasCurrent() ? RecordNumberValue(table_->current()) : 0; }

bool TableAccess::Duplicates(size_t key) {
  if (!table_->HasEntry(key, fd_->record)) return false;
  std::vector<uint8_t> value = ValueBytes(key, fd_->record);
  std::vector<uint8_t> found, data;
  Container& tree = table_->keyTree(key);
  std::vector<uint8_t> probe = value;
  bool ok = tree.SeekGE(ByteView(probe.data(), probe.size()), &found, &data);
  while (ok && StartsWith(found, value) && data.size() >= 4) {
    if (!table_->hasCurrent() || NumberAt(data.data()) != table_->current()) return true;
    probe = found;
    ok = tree.SeekGT(ByteView(probe.data(), probe.size()), &found, &data);
  }
  return false;
}

bool TableAccess::DuplicatesAnyUniqueKey() {
  for (size_t k = 0; k < table_->keyCount(); ++k)
    if (!table_->key(k).dup() && Duplicates(k)) return true;
  return false;
}

Status TableAccess::Build(int key) {
  ForgetStepCursor();
  Table::BuildHooks hooks;
  hooks.fullBuild = fullBuild_;
  PhysicalFile* file = file_;
  hooks.writeUpdate = [file]() -> Status {
    if (file->inTransaction()) return Status::Ok();
    if (DWORD error = file->container().WriteUpdate()) return WrittenStatus(error);
    return UpdateStatus(file->container().BeginUpdate());
  };
  Status first;
  for (size_t k = 0; k < table_->keyCount(); ++k) {
    if (key >= 0 && static_cast<size_t>(key) != k) continue;
    const Status rc = table_->BuildKey(k, hooks);
    if (first.ok()) first = rc;
  }
  return first;
}

// ------------------------------------------------------------ holds and locks

void TableAccess::ReleaseHold() {
  holdArmed_ = false;
  if (!holding_) return;
  file_->Release(holdNumber_);
  if (--holdCount_ <= 0) {
    holding_ = false;
    holdCount_ = 0;
  }
}

void TableAccess::ReleaseAllHolds() {
  holdArmed_ = false;
  if (!holding_) return;
  file_->Release(holdNumber_, holdCount_);
  holding_ = false;
  holdCount_ = 0;
}

Status TableAccess::Lock(int32_t seconds) {
  if (tableLocked_) return Status::Ok();
  const uint32_t number = RecordNumberValue(table_->number());
  // Inside this thread's transaction no wait is without end: two programs
  // that lock the same tables in opposite orders would wait for each other.
  const bool inTransaction = TransactionOwnerThread() == GetCurrentThreadId();
  const DWORD start = GetTickCount();
  if (seconds < 0) {
    // LOCK without seconds repeats for as long as the table is locked
    // elsewhere.
    while (!file_->Hold(number).ok()) {
      if (inTransaction && GetTickCount() - start >= TransactionLockPatience())
        return Status::File(err::FileAlreadyLocked);
      WaitOutsideDriverSection(10);
    }
  } else {
    const DWORD deadline = GetClockHundredths() + static_cast<DWORD>(seconds) * 100u;
    while (!file_->Hold(number).ok()) {
      if (static_cast<int32_t>(deadline - GetClockHundredths()) <= 0) return Status::File(err::FileAlreadyLocked);
      if (inTransaction && GetTickCount() - start >= TransactionLockPatience())
        return Status::File(err::FileAlreadyLocked);
      WaitOutsideDriverSection(1000);
    }
  }
  tableLocked_ = true;
  return Status::Ok();
}

void TableAccess::Unlock() {
  if (!tableLocked_) return;
  file_->Release(RecordNumberValue(table_->number()));
  tableLocked_ = false;
}

}  // namespace pr::store
