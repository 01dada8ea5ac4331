#include "store/inspect.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <utility>

#include "store/table.h"
#include "store/transaction.h"

namespace pr::store {

std::string NumberText(const RecordNumber& number) { return std::to_string(RecordNumberValue(number)); }

std::vector<TableEntry> ListTables(const Container& file) {
  std::vector<TableEntry> tables;
  std::string name, next;
  while (NextTableName(file, name, &next)) {
    RecordNumber number{};
    if (FindTable(file, next, &number).ok()) tables.push_back({next, number});
    name = next;
  }
  return tables;
}

bool InspectHooks::PendingAreaIsUnfinishedTransaction(Container& file) {
  areaComplete = true;
  unfinishedTransaction = TransactionRecoveryCheck(file, fileName_);
  return unfinishedTransaction;
}

namespace {

std::string Hex(uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

struct TableCheck {
  TableEntry entry;
  std::unique_ptr<Table> table;  // null when it could not be opened
  uint64_t dataRecords = 0;
  std::vector<uint64_t> keyEntries;
  std::map<std::pair<uint32_t, uint8_t>, RecordNumber> memos;  // (record, memo index)
  bool unknownKindReported = false;

  std::string Where() const { return "table " + entry.name; }
  std::string Where(const RecordNumber& record) const { return Where() + " record " + NumberText(record); }
  std::string WhereKey(size_t k) const {
    const auto& keys = table->definition().keys;
    std::string label = k < keys.size() ? keys[k].label : std::string();
    return Where() + " key " + std::to_string(k + 1) + (label.empty() ? "" : " (" + label + ")");
  }
};

class TableVerifier {
 public:
  TableVerifier(Container& file, std::vector<Fault>* faults) : file_(file), faults_(faults) {
    lastNumber_ = RecordNumberValue(file.header().lastRecordNumber);
  }

  void Run(const std::function<void(uint64_t)>& progress) {
    OpenTables();
    Cursor cursor(file_);
    uint64_t seen = 0;
    for (bool more = cursor.First(); more; more = cursor.Next()) {
      CheckRecord(cursor.key(), cursor.data());
      if (++seen % 4096 == 0 && progress) progress(seen);
    }
    if (progress) progress(seen);
    for (auto& [number, check] : tables_) Finish(check);
  }

 private:
  void Add(std::string where, std::string what) { faults_->push_back({std::move(where), std::move(what)}); }

  void CheckNumber(const std::string& where, const RecordNumber& number) {
    if (RecordNumberValue(number) > lastNumber_)
      Add(where, "its number is past the header's last record number " + std::to_string(lastNumber_));
  }

  void OpenTables() {
    for (TableEntry& entry : ListTables(file_)) {
      TableCheck check;
      check.entry = entry;
      CheckNumber(check.Where(), entry.number);
      const Status rc = Table::Open(file_, entry.name, nullptr, Table::OpenOptions{}, &check.table);
      if (!rc.ok()) {
        Add(check.Where(),
            "its definition or collation cannot be read (error " + std::to_string(FileErrorOf(rc)) + ")");
        check.table.reset();
      } else {
        check.keyEntries.assign(check.table->keyCount(), 0);
        image_.resize(check.table->recordLength());
      }
      tables_.emplace(RecordNumberValue(entry.number), std::move(check));
    }
  }

  void CheckRecord(ByteView key, ByteView data) {
    if (!key.empty() && key[0] == kKindTableName) {
      std::string name(key.begin() + 1, key.end());
      if (data.size() != 4 || data[0] >= kKindTableName) Add("table " + name, "its name record is damaged");
      return;
    }
    if (key.size() == 1 && key[0] == 0xFF) return;  // transaction marker
    if (key.size() < 5) {
      Add("record of " + std::to_string(key.size()) + " key bytes", "it belongs to no table");
      return;
    }
    RecordNumber tableNumber;
    std::memcpy(tableNumber.data(), key.data(), 4);
    auto it = tables_.find(RecordNumberValue(tableNumber));
    if (it == tables_.end()) {
      if (orphans_.insert(RecordNumberValue(tableNumber)).second)
        Add("table number " + NumberText(tableNumber), "records of a table that has no name record");
      return;
    }
    TableCheck& check = it->second;
    if (!check.table) return;
    const uint8_t kind = key[4];
    if (kind < check.table->keyCount() && !check.table->key(kind).inMemory()) {
      CheckKeyEntry(check, kind, key, data);
    } else if (kind == kKindData) {
      CheckDataRecord(check, key, data);
    } else if (kind == kKindMemo) {
      if (key.size() != kMemoKeyLength) {
        Add(check.Where(), "a memo piece has a key of " + std::to_string(key.size()) + " bytes");
        return;
      }
      RecordNumber record;
      std::memcpy(record.data(), key.data() + 5, 4);
      check.memos.emplace(std::make_pair(RecordNumberValue(record), key[9]), record);
    } else if (kind == kKindCounters || kind == kKindDefinition || kind == kKindCollation) {
      // Read through the table itself.
    } else if (!check.unknownKindReported) {
      check.unknownKindReported = true;
      Add(check.Where(), "holds records of unknown kind " + Hex(kind));
    }
  }

  void CheckDataRecord(TableCheck& check, ByteView key, ByteView data) {
    Table& table = *check.table;
    if (key.size() != kDataKeyLength) {
      Add(check.Where(), "a data record has a key of " + std::to_string(key.size()) + " bytes");
      return;
    }
    ++check.dataRecords;
    RecordNumber record;
    std::memcpy(record.data(), key.data() + 5, 4);
    const std::string where = check.Where(record);
    CheckNumber(where, record);
    if (data.size() != table.recordLength()) {
      Add(where, "holds " + std::to_string(data.size()) + " bytes, the definition " +
                     std::to_string(table.recordLength()));
      return;
    }
    image_.resize(table.recordLength());
    if (Status rc = table.Fetch(record, image_.data()); !rc.ok()) {
      Add(where, "cannot be read (error " + std::to_string(FileErrorOf(rc)) + ")");
      return;
    }
    for (size_t k = 0; k < table.keyCount(); ++k) {
      if (table.key(k).inMemory() || !table.HasEntry(k, image_.data())) continue;
      entry_.resize(table.key(k).entryKeyLength());
      size_t length = table.EncodeEntry(k, record, image_.data(), entry_.data());
      if (!file_.Find(ByteView(entry_.data(), length), &found_) || found_.size() != 4 ||
          std::memcmp(found_.data(), record.data(), 4) != 0)
        Add(where, "has no entry in " + check.WhereKey(k).substr(check.Where().size() + 1));
    }
  }

  void CheckKeyEntry(TableCheck& check, size_t k, ByteView key, ByteView data) {
    Table& table = *check.table;
    ++check.keyEntries[k];
    const std::string where = check.WhereKey(k);
    if (key.size() != table.key(k).entryKeyLength() || data.size() != 4) {
      Add(where, "an entry has " + std::to_string(key.size()) + " key and " + std::to_string(data.size()) +
                     " data bytes, not " + std::to_string(table.key(k).entryKeyLength()) + " and 4");
      return;
    }
    RecordNumber record;
    std::memcpy(record.data(), data.data(), 4);
    const std::string entryWhere = where + " entry for record " + NumberText(record);
    image_.resize(table.recordLength());
    if (!table.Exists(record)) {
      Add(entryWhere, "points at no data record");
      return;
    }
    if (!table.Fetch(record, image_.data()).ok()) return;  // reported with the data record
    if (!table.HasEntry(k, image_.data())) {
      Add(entryWhere, "the record's key fields are blank, so this OPT key should hold no entry");
      return;
    }
    entry_.resize(table.key(k).entryKeyLength());
    size_t length = table.EncodeEntry(k, record, image_.data(), entry_.data());
    if (length != key.size() || std::memcmp(entry_.data(), key.data(), length) != 0)
      Add(entryWhere, "differs from the entry the record's fields encode");
  }

  void Finish(TableCheck& check) {
    if (!check.table) return;
    Table& table = *check.table;
    Counters data = table.ReadCounters(kDataCounters);
    if (data.count != check.dataRecords)
      Add(check.Where(), "its record counter says " + std::to_string(data.count) + ", the table holds " +
                             std::to_string(check.dataRecords) + " records");
    for (size_t k = 0; k < table.keyCount(); ++k) {
      if (table.key(k).inMemory()) continue;
      Counters counters = table.ReadCounters(uint8_t(k));
      if (counters.count != check.keyEntries[k])
        Add(check.WhereKey(k), "its entry counter says " + std::to_string(counters.count) + ", the key holds " +
                                   std::to_string(check.keyEntries[k]) + " entries");
    }
    std::vector<uint8_t> content;
    for (const auto& [id, record] : check.memos) {
      const std::string where = check.Where(record) + " memo " + std::to_string(id.second + 1);
      if (id.second >= table.definition().memos.size()) {
        Add(where, "the definition has no such memo");
        continue;
      }
      if (!table.Exists(record)) {
        Add(where, "its pieces belong to no data record");
        continue;
      }
      if (Status rc = table.ReadMemo(record, id.second, &content); !rc.ok())
        Add(where, "its pieces are incomplete or damaged (error " + std::to_string(FileErrorOf(rc)) + ")");
    }
  }

  Container& file_;
  std::vector<Fault>* faults_;
  uint32_t lastNumber_ = 0;
  std::map<uint32_t, TableCheck> tables_;
  std::set<uint32_t> orphans_;
  std::vector<uint8_t> image_, entry_, found_;
};

}  // namespace

void VerifyTables(Container& file, std::vector<Fault>* faults, const std::function<void(uint64_t)>& progress) {
  TableVerifier(file, faults).Run(progress);
}

}  // namespace pr::store
