// Key builds, the collation state taken from the locale, and table names.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "store/container.h"
#include "store/keybuild_sort.h"
#include "store/names_table.h"
#include "store/table.h"
#include "values/locale.h"

namespace pr::store {
namespace {

constexpr uint8_t kLong = 6;

struct Row {
  int32_t id;
  char name[12];
};

FieldDefinition Field(uint8_t type, uint16_t offset, uint16_t size, const char* name) {
  FieldDefinition f;
  f.type = type;
  f.offset = offset;
  f.size = size;
  f.name = name;
  return f;
}

// R:ID LONG, R:NAME STRING(12); key 0 per `first`, key 1 DUP on the name.
TableDefinition Rows(uint8_t idAttributes, bool idInMemory) {
  TableDefinition d;
  d.recordLength = sizeof(Row);
  d.fields = {Field(kLong, 0, 4, "R:ID"), Field(kTypeString, 4, 12, "R:NAME")};
  KeyDefinition id;
  id.label = "R:IdKey";
  id.attributes = idAttributes;
  id.inMemory = idInMemory;
  id.components = {{0, 0}};
  KeyDefinition name;
  name.label = "R:NameKey";
  name.attributes = kKeyDup;
  name.components = {{1, 0}};
  d.keys = {id, name};
  return d;
}

Row MakeRow(int32_t id, const char* name) {
  Row r;
  r.id = id;
  std::memset(r.name, ' ', sizeof r.name);
  std::memcpy(r.name, name, std::strlen(name));
  return r;
}

const uint8_t* Image(const Row& r) { return reinterpret_cast<const uint8_t*>(&r); }

// (encoded id, record number) of every entry of key k, in tree order.
std::vector<std::pair<int32_t, uint32_t>> Entries(const Table& t, size_t k) {
  std::vector<std::pair<int32_t, uint32_t>> out;
  const uint8_t prefix[5] = {t.number()[0], t.number()[1], t.number()[2], t.number()[3], uint8_t(k)};
  Cursor c(t.keyTree(k));
  for (bool ok = c.SeekGE(ByteView(prefix, 5)); ok; ok = c.Next()) {
    if (c.key().size() < 5 || std::memcmp(c.key().data(), prefix, 5) != 0) break;
    const uint8_t* key = c.key().data() + 5;
    int32_t id = int32_t(uint32_t(key[0] ^ 0x80) << 24 | uint32_t(key[1]) << 16 | uint32_t(key[2]) << 8 | key[3]);
    const uint8_t* d = c.data().data();
    out.emplace_back(id, RecordNumberValue({d[0], d[1], d[2], d[3]}));
  }
  return out;
}

TEST(KeyBuild, HundredThousandRecordsWithOneDuplicate) {
  auto file = Container::CreateInMemory("B.TWL");
  std::unique_ptr<Table> t;
  ASSERT_TRUE(Table::Create(*file, "B", Rows(0, /*INDEX*/ true), false, CollationState(), &t).ok());
  // Ids descend so that key order is the reverse of record order; the
  // records with ids 70000 and (again) 70000 are refused in the lower one's
  // favour.
  const int kRows = 100000;
  uint32_t firstOfPair = 0, secondOfPair = 0;
  for (int i = 0; i < kRows; ++i) {
    int32_t id = kRows - i;
    if (i == 60000) id = 70000;
    RecordNumber n;
    ASSERT_TRUE(t->Add(Image(MakeRow(id, "x")), &n).ok());
    if (id == 70000) {
      (firstOfPair == 0 ? firstOfPair : secondOfPair) = RecordNumberValue(n);
    }
  }
  ASSERT_NE(secondOfPair, 0u);

  Table::BuildHooks hooks;
  hooks.runBytes = 64 << 10;  // many runs to merge
  std::vector<int> progress;
  hooks.progress = [&](int percent) {
    progress.push_back(percent);
    return true;
  };
  EXPECT_EQ(t->BuildKey(0, hooks), Status::File(err::CreatesDuplicateKey));
  Counters c = t->ReadCounters(0);
  EXPECT_EQ(c.count, uint32_t(kRows - 1));
  EXPECT_EQ(c.second, secondOfPair);

  auto entries = Entries(*t, 0);
  ASSERT_EQ(entries.size(), size_t(kRows - 1));
  for (size_t i = 1; i < entries.size(); ++i) ASSERT_LT(entries[i - 1].first, entries[i].first) << i;
  for (auto& [id, record] : entries) {
    if (id == 70000) {
      EXPECT_EQ(record, firstOfPair);
    }
  }
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.front(), 0);
  EXPECT_EQ(progress.back(), 99);
  for (size_t i = 1; i < progress.size(); ++i) EXPECT_LT(progress[i - 1], progress[i]);
}

TEST(KeyBuild, CancelFilterOptAndDupOrder) {
  auto file = Container::CreateInMemory("C.TWL");
  std::unique_ptr<Table> t;
  ASSERT_TRUE(Table::Create(*file, "C", Rows(kKeyOpt, true), false, CollationState(), &t).ok());
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(t->Add(Image(MakeRow(i % 3 == 0 ? 0 : i, "same")), nullptr).ok());

  Table::BuildHooks cancel;
  cancel.progress = [](int percent) { return percent < 50; };
  EXPECT_EQ(t->BuildKey(0, cancel), Status::File(err::BuildCancelled));

  // OPT leaves out the zero ids; the filter the odd ones.
  Table::BuildHooks even;
  even.filter = [](const uint8_t* image) {
    int32_t id;
    std::memcpy(&id, image, 4);
    return id % 2 == 0;
  };
  ASSERT_TRUE(t->BuildKey(0, even).ok());
  auto entries = Entries(*t, 0);
  for (auto& [id, record] : entries) EXPECT_TRUE(id != 0 && id % 2 == 0) << id;
  EXPECT_EQ(t->ReadCounters(0).count, uint32_t(entries.size()));
  EXPECT_EQ(entries.size(), 100u);  // of 1..299, not multiples of 3, even

  // A full rebuild of the file DUP key gives record-number order for equal names.
  const uint8_t prefix[5] = {0, 0, 0, 1, 1};
  std::vector<uint8_t> key;
  ASSERT_TRUE(file->SeekGE(ByteView(prefix, 5), &key, nullptr));
  file->Erase(ByteView(key.data(), key.size()));
  Table::BuildHooks full;
  full.fullBuild = true;
  ASSERT_TRUE(t->BuildKey(1, full).ok());
  auto dup = Entries(*t, 1);
  ASSERT_EQ(dup.size(), 300u);
  for (size_t i = 1; i < dup.size(); ++i) EXPECT_LT(dup[i - 1].second, dup[i].second);
  EXPECT_EQ(t->ReadCounters(1).count, 300u);
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/tables-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() {
    std::string cmd = "rm -rf '" + path_ + "'";
    (void)!system(cmd.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(KeyBuild, FileKeyBuildWritesUpdatesAsPagesGetDirty) {
  TempDir dir;
  const std::string name = dir.path() + "/K.TWL";
  HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  {
    Container file(h, name);
    ASSERT_EQ(file.RefreshHeader(), 0);
    std::unique_ptr<Table> t;
    TableDefinition d = Rows(0, false);
    d.recordLength = 200;  // long records: many pages
    d.fields[1].size = 196;
    ASSERT_TRUE(Table::Create(file, "K", d, false, CollationState(), &t).ok());
    std::vector<uint8_t> image(200, 'n');
    for (int32_t i = 0; i < 20000; ++i) {
      std::memcpy(image.data(), &i, 4);
      std::memset(image.data() + 4, 'a' + i % 26, 196);
      ASSERT_TRUE(t->Add(image.data(), nullptr).ok());
    }
    ASSERT_EQ(file.WriteUpdate(), 0u);
    Table::BuildHooks hooks;
    hooks.fullBuild = true;
    int updates = 0;
    hooks.writeUpdate = [&]() {
      ++updates;
      const DWORD error = file.WriteUpdate();
      return error == 0 ? Status::Ok() : Status::System(error);
    };
    ASSERT_TRUE(t->BuildKey(1, hooks).ok());
    EXPECT_GE(updates, 1);
    ASSERT_EQ(file.WriteUpdate(), 0u);
  }
  {
    // Everything reached the disk.
    Container file(h, name);
    ASSERT_EQ(file.RefreshHeader(), 0);
    std::unique_ptr<Table> t;
    ASSERT_TRUE(Table::Open(file, "K", nullptr, {}, &t).ok());
    EXPECT_EQ(t->ReadCounters(1).count, 20000u);
    EXPECT_EQ(Entries(*t, 1).size(), 20000u);
    EXPECT_EQ(t->RecordCount(), 20000u);
  }
  CloseHandle(h);
}

TEST(KeyBuild, SorterMergesRunsInByteOrder) {
  KeySorter sorter(3, 64);  // a handful of entries per run
  std::vector<std::vector<uint8_t>> added;
  uint32_t x = 12345;
  for (int i = 0; i < 500; ++i) {
    x = x * 1103515245 + 12345;
    std::vector<uint8_t> e = {uint8_t(x >> 24), uint8_t(x >> 16), uint8_t(i)};
    ASSERT_TRUE(sorter.Add(e.data()));
    added.push_back(e);
  }
  ASSERT_TRUE(sorter.Finish());
  EXPECT_GT(sorter.runCount(), 10u);
  std::sort(added.begin(), added.end());
  for (const auto& expected : added) {
    const uint8_t* got = sorter.Next();
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(got, got + 3), expected);
  }
  EXPECT_EQ(sorter.Next(), nullptr);
}

TEST(Collation, StateFollowsTheLocaleTables) {
  values::ApplyEnvironmentText("VELCASE=\"\xC8\",\"\xE8\"\nVELCOLSEQ=BA\n");
  CollationState s = CollationState::Current();
  EXPECT_TRUE(s.IsLower(0xE8));
  EXPECT_EQ(s.Upper(0xE8), 0xC8);
  EXPECT_FALSE(s.IsLower(0xC8));
  EXPECT_LT(s.Weight('B', false), s.Weight('A', false));
  // The stored form reads back as the same state.
  uint8_t bytes[kCollationStateSize];
  s.ToBytes(bytes);
  EXPECT_EQ(CollationState::FromBytes(bytes), s);
  values::ApplyEnvironmentText("VELCASE=\nVELCOLSEQ=\n");
  EXPECT_FALSE(CollationState::Current().IsLower(0xE8));
  EXPECT_TRUE(CollationState::Current().IsLower('q'));
  EXPECT_TRUE(CollationState::Current().IdentityWeights());
}

TEST(TableNames, SplitAtTheMarkOutsideDirectories) {
  TempDir dir;
  SplitName s;
  ASSERT_TRUE(SplitTableName("PARTNERI", &s));
  EXPECT_EQ(s.file, "PARTNERI.TWL");
  EXPECT_EQ(s.table, "UNNAMED");
  ASSERT_TRUE(SplitTableName("data.dat\\!customers", &s));
  EXPECT_EQ(s.file, "data.dat");
  EXPECT_EQ(s.table, "CUSTOMERS");
  // "DIR\!" where DIR exists: that mark is part of the path.
  const std::string inner = dir.path() + "\\!";
  ASSERT_TRUE(SplitTableName(dir.path() + "\\!file\\!t1", &s));
  EXPECT_EQ(s.file, inner + "file.TWL");
  EXPECT_EQ(s.table, "T1");
  ASSERT_TRUE(SplitTableName(dir.path() + "\\!file", &s));
  EXPECT_EQ(s.table, "UNNAMED");
  EXPECT_FALSE(SplitTableName("\\!x", &s));
  EXPECT_FALSE(SplitTableName("f\\!" + std::string(kMaxTableNameLength + 1, 'n'), &s));
}

}  // namespace
}  // namespace pr::store
