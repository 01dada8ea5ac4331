#include "store/table.h"

#include <algorithm>
#include <cstring>

#include "files/errors.h"
#include "files/structure_check.h"
#include "store/fatal_error.h"

namespace pr::store {

namespace {

ByteView View(const uint8_t* p, size_t n) { return ByteView(p, n); }
ByteView View(const std::vector<uint8_t>& v) { return ByteView(v.data(), v.size()); }

void NameKey(std::string_view name, std::vector<uint8_t>* key) {
  key->assign(1, kKindTableName);
  key->insert(key->end(), name.begin(), name.end());
}

bool HasPrefix(ByteView key, const uint8_t* prefix, size_t n) {
  return key.size() >= n && std::memcmp(key.data(), prefix, n) == 0;
}

const char* CategoryMessageOverride(int number, const char* message) {
  if (number != 0) {
    if (const char* text = files::FindMessageOverride(uint32_t(number))) return text;
  }
  return message;
}

}  // namespace

Status ReportStructureCheck(const LayoutProblem& p) {
  return Status::FromFileError(files::StructureCheck(int32_t(p.category), p.checkIndex, p.item, p.itemNumber,
                                            files::CHECK_GROUP_D, CategoryMessageOverride(p.overrideNumber, p.message)));
}

Status ReportStructureCheck(const DefinitionMismatch& m) {
  const bool newer = m.checkIndex == kNewerFormatCheck;
  return Status::FromFileError(
      files::StructureCheck(int32_t(m.category), m.checkIndex, m.item, m.itemNumber, files::CHECK_GROUP_D,
                            newer ? CategoryMessageOverride(kNewerFormatOverride, kNewerFormatMessage) : nullptr));
}

// Writes through a declaration of another record length are refused.
Status RefuseOtherLength(uint32_t declared, uint32_t stored) {
  if (stored == 0) return Status::Ok();
  const std::string text = "The declared record length " + std::to_string(declared) +
                           " differs from the file's record length " + std::to_string(stored) +
                           ": the file can be read but not written";
  files::SetFileError("47", text.c_str());
  return Status::File(err::InvalidRecordDeclaration);
}

Status FindTable(const Container& file, std::string_view name, RecordNumber* number) {
  std::vector<uint8_t> key, data;
  NameKey(name, &key);
  if (!file.Find(View(key), &data)) return Status::File(err::FileNotFound);
  if (data.size() != 4 || data[0] >= kKindTableName) return Status::File(err::InvalidDataFile);
  std::memcpy(number->data(), data.data(), 4);
  return Status::Ok();
}

bool NextTableName(const Container& file, std::string_view name, std::string* next) {
  std::vector<uint8_t> key, found;
  NameKey(name, &key);
  if (!file.SeekGT(View(key), &found, nullptr) || found.empty() || found[0] != kKindTableName) return false;
  next->assign(found.begin() + 1, found.end());
  return true;
}

// ------------------------------------------------------------ create and open

Table::Table(Container& file, const RecordNumber& number) : file_(&file), number_(number) {}

Table::~Table() = default;

Status Table::Create(Container& file, std::string_view name, const TableDefinition& declared, bool oem,
                  const CollationState& collation, std::unique_ptr<Table>* out) {
  RecordNumber existing;
  const Status found = FindTable(file, name, &existing);
  if (found.ok()) return Status::File(err::AccessDenied);
  if (found != Status::File(err::FileNotFound)) return found;

  TableLayout layout;
  LayoutProblem problem;
  if (!PrepareLayout(declared, &layout, &problem)) return ReportStructureCheck(problem);
  if (name.size() + 1 + 4 > kMaxRecordLength) return Status::File(err::InvalidDataFile);

  RecordNumber number;
  if (!file.NextRecordNumber(number.data())) RaiseDriverError(kErrNumbersExhausted, file.fileName().c_str());

  std::unique_ptr<Table> table(new Table(file, number));
  table->definition_ = declared;
  table->definition_.version = declared.RequiredVersion();
  table->layout_ = std::move(layout);
  table->oem_ = oem;
  table->collation_ = collation;

  std::vector<uint8_t> key;
  NameKey(name, &key);
  file.Insert(View(key), View(number.data(), 4));
  table->StoreDefinition();

  uint8_t collationKey[kCollationKeyLength];
  uint8_t record[kCollationRecordSize];
  record[0] = oem ? 1 : 0;
  collation.ToBytes(record + 1);
  file.Put(View(collationKey, CollationKey(number, collationKey)), View(record, sizeof record));

  table->WriteCounters(kDataCounters, {});
  for (size_t k = 0; k < table->keyCount(); ++k) table->WriteCounters(uint8_t(k), {});
  table->indexTrees_.resize(table->keyCount());
  for (size_t k = 0; k < table->keyCount(); ++k) {
    if (table->key(k).inMemory()) table->indexTrees_[k] = Container::CreateInMemory(file.fileName() + " index");
  }
  *out = std::move(table);
  return Status::Ok();
}

Status Table::Open(Container& file, std::string_view name, const TableDefinition* declared, const OpenOptions& options,
                std::unique_ptr<Table>* out) {
  RecordNumber number;
  if (Status rc = FindTable(file, name, &number); !rc.ok()) return rc;
  std::unique_ptr<Table> table(new Table(file, number));
  if (Status rc = table->LoadCollation(); !rc.ok()) return rc;
  if (Status rc = table->LoadStoredDefinition(declared, options); !rc.ok()) return rc;
  table->indexTrees_.resize(table->keyCount());
  for (size_t k = 0; k < table->keyCount(); ++k) {
    if (table->key(k).inMemory()) table->indexTrees_[k] = Container::CreateInMemory(file.fileName() + " index");
  }
  *out = std::move(table);
  return Status::Ok();
}

Status Table::LoadCollation() {
  uint8_t key[kCollationKeyLength];
  if (!file_->Find(View(key, CollationKey(number_, key)), &found_) || found_.size() != kCollationRecordSize) {
    return Status::File(err::InvalidDataFile);
  }
  oem_ = found_[0] != 0;
  collation_ = CollationState::FromBytes(found_.data() + 1);
  return Status::Ok();
}

void Table::StoreDefinition() {
  std::vector<uint8_t> stream = WriteDefinition(definition_);
  uint8_t key[kDefinitionKeyLength];
  for (size_t at = 0, block = 0; at < stream.size(); at += kDefinitionBlockSize, ++block) {
    size_t n = std::min(kDefinitionBlockSize, stream.size() - at);
    file_->Put(View(key, DefinitionKey(number_, uint16_t(block), key)), View(stream.data() + at, n));
  }
}

Status Table::LoadStoredDefinition(const TableDefinition* declared, const OpenOptions& options) {
  DefinitionBlockLoader load = [this](uint16_t block, uint8_t* out) -> int {
    uint8_t key[kDefinitionKeyLength];
    if (!file_->Find(View(key, DefinitionKey(number_, block, key)), &found_)) return 0;
    if (found_.size() > kDefinitionBlockSize) return -1;
    std::memcpy(out, found_.data(), found_.size());
    return int(found_.size());
  };

  LayoutProblem problem;
  DefinitionMismatch mismatch;
  if (declared != nullptr) {
    if (!PrepareLayout(*declared, &layout_, &problem)) return ReportStructureCheck(problem);
    switch (CompareDefinition(*declared, load, options.decimalCheck, &mismatch)) {
      case WalkResult::kOk:
        break;
      case WalkResult::kMismatch:
        return ReportStructureCheck(mismatch);
      case WalkResult::kCorrupt:
        return Status::File(err::InvalidDataFile);
    }
    definition_ = *declared;
    definition_.version = declared->RequiredVersion();
    TableDefinition stored;
    if (ReadDefinition(load, &stored, &mismatch) == WalkResult::kOk && stored.recordLength != declared->recordLength)
      storedLength_ = stored.recordLength;
    return Status::Ok();
  }

  switch (ReadDefinition(load, &definition_, &mismatch)) {
    case WalkResult::kOk:
      break;
    case WalkResult::kMismatch:
      return ReportStructureCheck(mismatch);
    case WalkResult::kCorrupt:
      return Status::File(err::InvalidDataFile);
  }
  if (!PrepareLayout(definition_, &layout_, &problem)) return ReportStructureCheck(problem);
  return Status::Ok();
}

Container& Table::keyTree(size_t k) const { return indexTrees_[k] ? *indexTrees_[k] : *file_; }

// ------------------------------------------------------------ counters

Counters Table::ReadCounters(uint8_t subject) const {
  uint8_t key[kCountersKeyLength];
  Counters c;
  if (file_->Find(View(key, CountersKey(number_, subject, key)), &found_) && found_.size() == kCountersDataLength) {
    c.count = GetU32LE(found_.data());
    c.second = GetU32LE(found_.data() + 4);
  }
  return c;
}

void Table::WriteCounters(uint8_t subject, const Counters& counters) {
  uint8_t key[kCountersKeyLength];
  uint8_t data[kCountersDataLength];
  PutU32LE(data, counters.count);
  PutU32LE(data + 4, counters.second);
  file_->Put(View(key, CountersKey(number_, subject, key)), View(data, sizeof data));
}

void Table::AdjustCount(uint8_t subject, int delta) {
  uint8_t key[kCountersKeyLength];
  const ByteView counterKey = View(key, CountersKey(number_, subject, key));
  // The usual case: the counters record is there and sound, and changes in
  // place.
  auto change = [](uint8_t* data, size_t, void* context) {
    const int d = *static_cast<const int*>(context);
    uint32_t count = GetU32LE(data);
    count = d < 0 && count < uint32_t(-d) ? 0 : count + uint32_t(d);
    PutU32LE(data, count);
  };
  if (file_->ChangeData(counterKey, kCountersDataLength, change, &delta)) return;
  // Missing, or not the length of a counters record: read as zeros (as
  // ReadCounters does) and written afresh.
  Counters c;
  if (delta > 0) c.count = uint32_t(delta);
  WriteCounters(subject, c);
}

void Table::SetFlags(uint32_t flags) {
  Counters c = ReadCounters(kDataCounters);
  c.second = flags;
  WriteCounters(kDataCounters, c);
}

// ------------------------------------------------------------ key entries

void Table::EncodeComponents(size_t k, const uint8_t* image, uint8_t* out) const {
  EncodeKeyComponents(layout_.keys[k], collation_, image, out);
}

size_t Table::EncodeEntry(size_t k, const RecordNumber& record, const uint8_t* image, uint8_t* out) const {
  return BuildKeyEntry(layout_.keys[k], collation_, number_, record, image, out);
}

size_t Table::PositionKey(size_t k, const RecordNumber& record, const uint8_t* image, uint8_t* out) const {
  std::memcpy(out, record.data(), 4);
  EncodeKeyComponents(layout_.keys[k], collation_, image, out + 4);
  return layout_.keys[k].encodedLength + 4;
}

Status Table::AddEntries(const RecordNumber& record, const uint8_t* image) {
  for (size_t k = 0; k < keyCount(); ++k) {
    const KeyLayout& key = layout_.keys[k];
    if (key.inMemory() || !HasEntry(k, image)) continue;
    entry_.resize(key.entryKeyLength());
    size_t n = EncodeEntry(k, record, image, entry_.data());
    if (!file_->Insert(View(entry_.data(), n), View(record.data(), 4))) {
      // Take out the entries of the keys before this one.
      for (size_t j = 0; j < k; ++j) {
        const KeyLayout& earlier = layout_.keys[j];
        if (earlier.inMemory() || !HasEntry(j, image)) continue;
        entry_.resize(earlier.entryKeyLength());
        file_->Erase(View(entry_.data(), EncodeEntry(j, record, image, entry_.data())));
      }
      return Status::File(err::CreatesDuplicateKey);
    }
  }
  return Status::Ok();
}

void Table::EraseEntries(const RecordNumber& record, const uint8_t* image) {
  for (size_t k = 0; k < keyCount(); ++k) {
    const KeyLayout& key = layout_.keys[k];
    if (key.inMemory() || !HasEntry(k, image)) continue;
    entry_.resize(key.entryKeyLength());
    if (file_->Erase(View(entry_.data(), EncodeEntry(k, record, image, entry_.data())))) {
      AdjustCount(uint8_t(k), -1);
    }
  }
}

// ------------------------------------------------------------ data records

Status Table::Add(const uint8_t* image, RecordNumber* assigned) {
  if (Status rc = RefuseOtherLength(recordLength(), storedLength_); !rc.ok()) return rc;
  RecordNumber record;
  if (!file_->NextRecordNumber(record.data())) RaiseDriverError(kErrNumbersExhausted, file_->fileName().c_str());
  if (Status rc = AddEntries(record, image); !rc.ok()) return rc;

  // The image is stored as given unless its strings go to the OEM set.
  ByteView stored = View(image, recordLength());
  if (oem_) {
    image_.assign(image, image + recordLength());
    RecordToOem(layout_.textFields, image_.data());
    stored = View(image_);
  }
  uint8_t key[kDataKeyLength];
  if (!file_->Insert(View(key, DataKey(number_, record, key)), stored)) {
    // A data record beyond the last issued number: the file is damaged.
    for (size_t k = 0; k < keyCount(); ++k) {
      if (layout_.keys[k].inMemory() || !HasEntry(k, image)) continue;
      entry_.resize(layout_.keys[k].entryKeyLength());
      file_->Erase(View(entry_.data(), EncodeEntry(k, record, image, entry_.data())));
    }
    return Status::File(err::InvalidDataFile);
  }
  AdjustCount(kDataCounters, 1);
  for (size_t k = 0; k < keyCount(); ++k) {
    if (!layout_.keys[k].inMemory() && HasEntry(k, image)) AdjustCount(uint8_t(k), 1);
  }
  SetCurrent(record);
  if (assigned != nullptr) *assigned = record;
  return Status::Ok();
}

bool Table::Exists(const RecordNumber& record) const {
  uint8_t key[kDataKeyLength];
  return file_->Find(View(key, DataKey(number_, record, key)), nullptr);
}

Status Table::Fetch(const RecordNumber& record, uint8_t* image) {
  uint8_t key[kDataKeyLength];
  if (!file_->Find(View(key, DataKey(number_, record, key)), &found_)) return Status::File(err::RecordNotFound);
  return CopyOut(record, ByteView(found_.data(), found_.size()), image);
}

Status Table::CopyOut(const RecordNumber& record, ByteView stored, uint8_t* image) {
  // A record of the stored length other than the declared one reads cut to
  // the declared length, or with zeros after its stored bytes.
  const bool otherLength = storedLength_ != 0 && stored.size() == storedLength_;
  if (!otherLength && stored.size() != recordLength()) return Status::File(err::InvalidDataFile);
  const size_t n = std::min<size_t>(stored.size(), recordLength());
  std::memcpy(image, stored.data(), n);
  if (n < recordLength()) std::memset(image + n, 0, recordLength() - n);
  if (oem_) RecordFromOem(layout_.textFields, image);
  SetCurrent(record);
  return Status::Ok();
}

Status Table::Replace(const RecordNumber& record, const uint8_t* image) {
  if (Status rc = RefuseOtherLength(recordLength(), storedLength_); !rc.ok()) return rc;
  uint8_t key[kDataKeyLength];
  const size_t keyLength = DataKey(number_, record, key);
  if (!file_->Find(View(key, keyLength), &found_)) return Status::File(err::RecordNotFound);
  if (found_.size() != recordLength()) return Status::File(err::InvalidDataFile);
  oldImage_.assign(found_.begin(), found_.end());
  if (oem_) RecordFromOem(layout_.textFields, oldImage_.data());
  const uint8_t* old = oldImage_.data();

  // New entries first, so that a duplicate leaves everything as it was.
  size_t inserted = 0;
  for (; inserted < keyCount(); ++inserted) {
    const size_t k = inserted;
    const KeyLayout& kl = layout_.keys[k];
    if (kl.inMemory() || !HasEntry(k, image)) continue;
    entry_.resize(kl.entryKeyLength());
    oldEntry_.resize(kl.entryKeyLength());
    size_t n = EncodeEntry(k, record, image, entry_.data());
    if (HasEntry(k, old) && EncodeEntry(k, record, old, oldEntry_.data()) == n &&
        std::memcmp(entry_.data(), oldEntry_.data(), n) == 0) {
      continue;
    }
    if (!file_->Insert(View(entry_.data(), n), View(record.data(), 4))) break;
  }
  // Then drop the entries that changed: the old ones after a full success,
  // the new ones after a refusal.
  const bool refused = inserted < keyCount();
  for (size_t k = 0; k < inserted; ++k) {
    const KeyLayout& kl = layout_.keys[k];
    if (kl.inMemory()) continue;
    const bool hadEntry = HasEntry(k, old), hasEntry = HasEntry(k, image);
    entry_.resize(kl.entryKeyLength());
    oldEntry_.resize(kl.entryKeyLength());
    size_t n = hasEntry ? EncodeEntry(k, record, image, entry_.data()) : 0;
    size_t m = hadEntry ? EncodeEntry(k, record, old, oldEntry_.data()) : 0;
    if (n == m && (n == 0 || std::memcmp(entry_.data(), oldEntry_.data(), n) == 0)) continue;
    if (refused) {
      if (hasEntry) file_->Erase(View(entry_.data(), n));
      continue;
    }
    if (hadEntry) file_->Erase(View(oldEntry_.data(), m));
    if (hadEntry != hasEntry) AdjustCount(uint8_t(k), hasEntry ? 1 : -1);
  }
  if (refused) return Status::File(err::CreatesDuplicateKey);

  image_.assign(image, image + recordLength());
  if (oem_) RecordToOem(layout_.textFields, image_.data());
  file_->Replace(View(key, keyLength), View(image_));
  SetCurrent(record);
  return Status::Ok();
}

Status Table::Delete(const RecordNumber& record) {
  if (Status rc = RefuseOtherLength(recordLength(), storedLength_); !rc.ok()) return rc;
  uint8_t key[kDataKeyLength];
  const size_t keyLength = DataKey(number_, record, key);
  if (!file_->Find(View(key, keyLength), &found_)) return Status::File(err::RecordNotFound);
  if (found_.size() != recordLength()) return Status::File(err::InvalidDataFile);
  oldImage_.assign(found_.begin(), found_.end());
  if (oem_) RecordFromOem(layout_.textFields, oldImage_.data());
  EraseEntries(record, oldImage_.data());
  file_->Erase(View(key, keyLength));
  DeleteMemos(record);
  AdjustCount(kDataCounters, -1);
  if (hasCurrent_ && current_ == record) ClearCurrent();
  return Status::Ok();
}

bool Table::NextDataRecord(const RecordNumber& from, RecordNumber* found) const {
  uint8_t key[kDataKeyLength];
  DataKey(number_, from, key);
  std::vector<uint8_t> at;
  if (!file_->SeekGE(View(key, sizeof key), &at, nullptr)) return false;
  if (at.size() != kDataKeyLength || !HasPrefix(View(at), key, 5)) return false;
  std::memcpy(found->data(), at.data() + 5, 4);
  return true;
}

// ------------------------------------------------------------ memos

namespace {

constexpr size_t kMaxPieces = 65536;

size_t PieceCapacity(const MemoDefinition& memo) { return memo.blob() ? kBlobPieceCapacity : kMemoPieceCapacity; }

}  // namespace

Status Table::WriteMemo(const RecordNumber& record, size_t memo, const uint8_t* content, size_t length) {
  if (memo >= definition_.memos.size()) return Status::File(err::InvalidMemoFile);
  const MemoDefinition& def = definition_.memos[memo];
  const size_t capacity = PieceCapacity(def);
  if (length > kMaxPieces * capacity || length > UINT32_MAX) return Status::File(err::InvalidMemoFile);

  uint8_t key[kMemoKeyLength];
  MemoKey(number_, record, uint8_t(memo), 0, key);
  file_->ErasePrefix(View(key, kMemoKeyLength - 2));
  if (length == 0) return Status::Ok();

  const bool convert = oem_ && !def.binary();
  size_t done = 0;
  for (uint16_t piece = 0; done < length; ++piece) {
    const size_t n = std::min(capacity, length - done);
    const size_t head = piece == 0 ? 4 : 0;
    image_.resize(head + n);
    if (piece == 0) PutU32LE(image_.data(), uint32_t(length));
    std::memcpy(image_.data() + head, content + done, n);
    if (convert) TextToOem(image_.data() + head, n);
    file_->Insert(View(key, MemoKey(number_, record, uint8_t(memo), piece, key)), View(image_));
    done += n;
  }
  return Status::Ok();
}

Status Table::ReadMemo(const RecordNumber& record, size_t memo, std::vector<uint8_t>* content) const {
  content->clear();
  if (memo >= definition_.memos.size()) return Status::File(err::InvalidMemoFile);
  const MemoDefinition& def = definition_.memos[memo];
  const size_t capacity = PieceCapacity(def);

  uint8_t key[kMemoKeyLength];
  if (!file_->Find(View(key, MemoKey(number_, record, uint8_t(memo), 0, key)), &found_)) return Status::Ok();
  if (found_.size() < 4) return Status::File(err::InvalidMemoFile);
  const size_t total = GetU32LE(found_.data());
  // Another program may keep an emptied memo as a lone piece 0 of total 0.
  if (total == 0) return found_.size() == 4 ? Status::Ok() : Status::File(err::InvalidMemoFile);
  if (total > kMaxPieces * capacity) return Status::File(err::InvalidMemoFile);
  // Reserve no more than the pieces actually found can justify.
  content->reserve(std::min(total, capacity * 16));

  for (uint32_t piece = 0; content->size() < total; ++piece) {
    if (piece > 0 && !file_->Find(View(key, MemoKey(number_, record, uint8_t(memo), uint16_t(piece), key)),
                                  &found_)) {
      content->clear();
      return Status::File(err::InvalidMemoFile);
    }
    const size_t head = piece == 0 ? 4 : 0;
    const size_t expected = std::min(capacity, total - content->size());
    if (found_.size() != head + expected) {
      content->clear();
      return Status::File(err::InvalidMemoFile);
    }
    content->insert(content->end(), found_.begin() + long(head), found_.end());
  }
  if (oem_ && !def.binary()) TextFromOem(content->data(), content->size());
  return Status::Ok();
}

void Table::DeleteMemos(const RecordNumber& record) {
  uint8_t key[kMemoKeyLength];
  MemoKey(number_, record, 0, 0, key);
  file_->ErasePrefix(View(key, 9));
}

}  // namespace pr::store
