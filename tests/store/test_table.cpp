// Tables in a container: numbers, record kinds, data records, memos, keys.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "files/errors.h"
#include "store/access_declaration.h"
#include "store/container.h"
#include "store/definition_descriptors.h"
#include "store/table.h"

namespace pr::store {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kLong = 6;

FieldDefinition Field(uint8_t type, uint16_t offset, uint16_t size, const char* name) {
  FieldDefinition f;
  f.type = type;
  f.offset = offset;
  f.size = size;
  f.name = name;
  if (type == kTypeString || type == kTypeCString || type == kTypePString) f.declaredLength = size;
  return f;
}

KeyDefinition Key(const char* label, uint8_t attributes, std::vector<KeyComponentDefinition> components,
                  bool inMemory = false) {
  KeyDefinition k;
  k.label = label;
  k.attributes = attributes;
  k.components = std::move(components);
  k.inMemory = inMemory;
  return k;
}

// PAR:ID LONG, PAR:NAZIV STRING(20); key on the id, key on the name.
TableDefinition Partner(uint8_t nameKeyAttributes = kKeyDup) {
  TableDefinition d;
  d.recordLength = 24;
  d.fields = {Field(kLong, 0, 4, "PAR:ID"), Field(kTypeString, 4, 20, "PAR:NAZIV")};
  d.keys = {Key("PAR:IdKey", 0x10, {{0, 0}}), Key("PAR:NameKey", nameKeyAttributes, {{1, 0}})};
  return d;
}

struct Partner24 {
  int32_t id;
  char name[20];
};
static_assert(sizeof(Partner24) == 24);

Partner24 Rec(int32_t id, const char* name) {
  Partner24 r;
  r.id = id;
  std::memset(r.name, ' ', sizeof r.name);
  std::memcpy(r.name, name, std::strlen(name));
  return r;
}

const uint8_t* Bytes_(const Partner24& r) { return reinterpret_cast<const uint8_t*>(&r); }

class TableTest : public ::testing::Test {
 protected:
  std::unique_ptr<Container> file = Container::CreateInMemory("T.TWL");

  std::unique_ptr<Table> Make(const TableDefinition& d, bool oem = false, const char* name = "UNNAMED") {
    std::unique_ptr<Table> t;
    EXPECT_TRUE(Table::Create(*file, name, d, oem, CollationState(), &t).ok());
    return t;
  }
  bool Raw(const Bytes& key, Bytes* data = nullptr) { return file->Find(ByteView(key.data(), key.size()), data); }
  // Record numbers of the entries of key k in key order.
  std::vector<uint32_t> Entries(const Table& t, size_t k) {
    std::vector<uint32_t> out;
    Cursor c(t.keyTree(k));
    const uint8_t prefix[5] = {t.number()[0], t.number()[1], t.number()[2], t.number()[3], uint8_t(k)};
    for (bool ok = c.SeekGE(ByteView(prefix, 5)); ok; ok = c.Next()) {
      if (c.key().size() < 5 || std::memcmp(c.key().data(), prefix, 5) != 0) break;
      const uint8_t* d = c.data().data();
      out.push_back(RecordNumberValue({d[0], d[1], d[2], d[3]}));
    }
    return out;
  }
};

TEST_F(TableTest, NumbersComeFromOneCounterAcrossByteBoundaries) {
  auto t = Make(Partner());
  EXPECT_EQ(t->number(), (RecordNumber{0, 0, 0, 1}));
  RecordNumber n;
  ASSERT_TRUE(t->Add(Bytes_(Rec(1, "A")), &n).ok());
  EXPECT_EQ(n, (RecordNumber{0, 0, 0, 2}));
  for (int i = 2; i <= 255; ++i) ASSERT_TRUE(t->Add(Bytes_(Rec(i, "B")), &n).ok());
  EXPECT_EQ(n, (RecordNumber{0, 0, 1, 0}));
  // A second table takes the next number of the same sequence.
  std::unique_ptr<Table> second;
  ASSERT_TRUE(Table::Create(*file, "SECOND", Partner(), false, CollationState(), &second).ok());
  EXPECT_EQ(second->number(), (RecordNumber{0, 0, 1, 1}));
  EXPECT_EQ(t->RecordCount(), 255u);
}

TEST_F(TableTest, CreateStoresEveryRecordKind) {
  auto t = Make(Partner(), false, "PARTNERI");
  Bytes number;
  ASSERT_TRUE(Raw({0xFE, 'P', 'A', 'R', 'T', 'N', 'E', 'R', 'I'}, &number));
  EXPECT_EQ(number, (Bytes{0, 0, 0, 1}));
  Bytes collation, counters;
  ASSERT_TRUE(Raw({0, 0, 0, 1, 0xFB, 0x01}, &collation));
  EXPECT_EQ(collation.size(), 1153u);
  EXPECT_EQ(collation[0], 0);
  for (uint8_t subject : {uint8_t(0xF3), uint8_t(0), uint8_t(1)}) {
    ASSERT_TRUE(Raw({0, 0, 0, 1, 0xF6, subject}, &counters)) << int(subject);
    EXPECT_EQ(counters, Bytes(8, 0));
  }
  EXPECT_TRUE(Raw({0, 0, 0, 1, 0xFA, 0, 0}));
  RecordNumber found;
  EXPECT_TRUE(FindTable(*file, "PARTNERI", &found).ok());
  EXPECT_EQ(FindTable(*file, "OTHER", &found), Status::File(err::FileNotFound));
  std::unique_ptr<Table> again;
  EXPECT_EQ(Table::Create(*file, "PARTNERI", Partner(), false, CollationState(), &again), Status::File(err::AccessDenied));
  std::string next;
  ASSERT_TRUE(NextTableName(*file, "", &next));
  EXPECT_EQ(next, "PARTNERI");
  EXPECT_FALSE(NextTableName(*file, "PARTNERI", &next));
}

TEST_F(TableTest, DataRecordsAddFetchReplaceDelete) {
  auto t = Make(Partner());
  RecordNumber a, b;
  ASSERT_TRUE(t->Add(Bytes_(Rec(7, "Seven")), &a).ok());
  ASSERT_TRUE(t->Add(Bytes_(Rec(8, "Eight")), &b).ok());
  Bytes stored;
  ASSERT_TRUE(Raw({0, 0, 0, 1, 0xF3, a[0], a[1], a[2], a[3]}, &stored));
  const Partner24 seven = Rec(7, "Seven");
  EXPECT_EQ(stored, Bytes(Bytes_(seven), Bytes_(seven) + 24));

  Partner24 got;
  ASSERT_TRUE(t->Fetch(a, reinterpret_cast<uint8_t*>(&got)).ok());
  EXPECT_EQ(got.id, 7);
  EXPECT_EQ(t->current(), a);

  // A change to a duplicate id is refused and changes nothing.
  EXPECT_EQ(t->Replace(a, Bytes_(Rec(8, "Seven"))), Status::File(err::CreatesDuplicateKey));
  EXPECT_EQ(Entries(*t, 0), (std::vector<uint32_t>{RecordNumberValue(a), RecordNumberValue(b)}));
  ASSERT_TRUE(t->Fetch(a, reinterpret_cast<uint8_t*>(&got)).ok());
  EXPECT_EQ(got.id, 7);
  // A change that moves the record before the other in the id key.
  ASSERT_TRUE(t->Replace(a, Bytes_(Rec(9, "Seven"))).ok());
  EXPECT_EQ(Entries(*t, 0), (std::vector<uint32_t>{RecordNumberValue(b), RecordNumberValue(a)}));
  EXPECT_EQ(t->ReadCounters(0).count, 2u);

  ASSERT_TRUE(t->Delete(b).ok());
  EXPECT_EQ(t->Fetch(b, reinterpret_cast<uint8_t*>(&got)), Status::File(err::RecordNotFound));
  EXPECT_EQ(t->Delete(b), Status::File(err::RecordNotFound));
  EXPECT_EQ(Entries(*t, 0), (std::vector<uint32_t>{RecordNumberValue(a)}));
  EXPECT_EQ(Entries(*t, 1), (std::vector<uint32_t>{RecordNumberValue(a)}));
  EXPECT_EQ(t->RecordCount(), 1u);
  EXPECT_EQ(t->ReadCounters(1).count, 1u);
  RecordNumber first;
  ASSERT_TRUE(t->NextDataRecord(RecordNumber{}, &first));
  EXPECT_EQ(first, a);
}

TEST_F(TableTest, DuplicateRefusalTakesOutEarlierEntries) {
  // Key 0 DUP on the name, key 1 unique on the id: the second key refuses.
  TableDefinition d = Partner();
  std::swap(d.keys[0], d.keys[1]);
  auto t = Make(d);
  ASSERT_TRUE(t->Add(Bytes_(Rec(1, "A")), nullptr).ok());
  EXPECT_EQ(t->Add(Bytes_(Rec(1, "B")), nullptr), Status::File(err::CreatesDuplicateKey));
  EXPECT_EQ(Entries(*t, 0).size(), 1u);
  EXPECT_EQ(t->RecordCount(), 1u);
  RecordNumber n;
  ASSERT_TRUE(t->NextDataRecord(RecordNumber{}, &n));
  EXPECT_FALSE(t->NextDataRecord(MakeRecordNumber(RecordNumberValue(n) + 1), &n));
}

TEST_F(TableTest, DupEntriesComeBackInRecordNumberOrder) {
  auto t = Make(Partner());
  std::vector<uint32_t> added;
  for (int i = 0; i < 5; ++i) {
    RecordNumber n;
    ASSERT_TRUE(t->Add(Bytes_(Rec(100 - i, "Same")), &n).ok());
    added.push_back(RecordNumberValue(n));
  }
  EXPECT_EQ(Entries(*t, 1), added);
}

TEST_F(TableTest, NoCaseDuplicatesAreRefused) {
  auto t = Make(Partner(kKeyNoCase));
  ASSERT_TRUE(t->Add(Bytes_(Rec(1, "Marko")), nullptr).ok());
  EXPECT_EQ(t->Add(Bytes_(Rec(2, "MARKO")), nullptr), Status::File(err::CreatesDuplicateKey));
  EXPECT_EQ(t->RecordCount(), 1u);
}

TEST_F(TableTest, OptionalKeyLeavesOutEmptyCString) {
  TableDefinition d;
  d.recordLength = 14;
  d.fields = {Field(kLong, 0, 4, "T:ID"), Field(kTypeCString, 4, 10, "T:CODE")};
  d.keys = {Key("T:CodeKey", kKeyOpt, {{1, 0}})};
  auto t = Make(d);
  uint8_t rec[14] = {};
  ASSERT_TRUE(t->Add(rec, nullptr).ok());
  rec[14 - 10] = 0;
  rec[5] = 'x';  // bytes after an empty terminator do not count
  ASSERT_TRUE(t->Add(rec, nullptr).ok());
  std::memcpy(rec + 4, "AB", 3);
  RecordNumber n;
  ASSERT_TRUE(t->Add(rec, &n).ok());
  EXPECT_EQ(Entries(*t, 0), (std::vector<uint32_t>{RecordNumberValue(n)}));
  EXPECT_EQ(t->ReadCounters(0).count, 1u);
  // Blank again: the entry goes, and the count with it.
  rec[4] = 0;
  ASSERT_TRUE(t->Replace(n, rec).ok());
  EXPECT_TRUE(Entries(*t, 0).empty());
  EXPECT_EQ(t->ReadCounters(0).count, 0u);
}

TEST_F(TableTest, MemosAreCutIntoPieces) {
  TableDefinition d = Partner();
  d.memos = {{"", "PAR:NOTE", 1000, 0}, {"", "PAR:PIC", 0, kMemoBlob | kMemoBinary}};
  auto t = Make(d);
  RecordNumber r;
  ASSERT_TRUE(t->Add(Bytes_(Rec(1, "A")), &r).ok());
  auto piece = [&](uint8_t memo, uint16_t p, Bytes* data) {
    return Raw({0, 0, 0, 1, 0xFC, r[0], r[1], r[2], r[3], memo, uint8_t(p >> 8), uint8_t(p)}, data);
  };
  Bytes text(256, 'm'), data, back;
  ASSERT_TRUE(t->WriteMemo(r, 0, text.data(), text.size()).ok());
  ASSERT_TRUE(piece(0, 0, &data));
  EXPECT_EQ(data.size(), 260u);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 4), (Bytes{0, 1, 0, 0}));
  EXPECT_FALSE(piece(0, 1, nullptr));

  text.push_back('z');
  ASSERT_TRUE(t->WriteMemo(r, 0, text.data(), text.size()).ok());
  ASSERT_TRUE(piece(0, 1, &data));
  EXPECT_EQ(data, Bytes{'z'});
  ASSERT_TRUE(t->ReadMemo(r, 0, &back).ok());
  EXPECT_EQ(back, text);
  // Shorter again: the old second piece goes.
  ASSERT_TRUE(t->WriteMemo(r, 0, text.data(), 10).ok());
  EXPECT_FALSE(piece(0, 1, nullptr));

  Bytes blob(10241);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = uint8_t(i * 7);
  ASSERT_TRUE(t->WriteMemo(r, 1, blob.data(), blob.size()).ok());
  ASSERT_TRUE(piece(1, 0, &data));
  EXPECT_EQ(data.size(), 10244u);
  ASSERT_TRUE(piece(1, 1, &data));
  EXPECT_EQ(data.size(), 1u);
  ASSERT_TRUE(t->ReadMemo(r, 1, &back).ok());
  EXPECT_EQ(back, blob);

  // A missing piece is a damaged memo, not a short read.
  file->Erase(ByteView(Bytes{0, 0, 0, 1, 0xFC, r[0], r[1], r[2], r[3], 1, 0, 1}));
  EXPECT_EQ(t->ReadMemo(r, 1, &back), Status::File(err::InvalidMemoFile));
  EXPECT_TRUE(back.empty());

  // An empty memo kept as piece 0 with total 0 (as other programs may store
  // it) reads as empty; total 0 with content after it is damage.
  file->Put(ByteView(Bytes{0, 0, 0, 1, 0xFC, r[0], r[1], r[2], r[3], 0, 0, 0}), ByteView(Bytes{0, 0, 0, 0}));
  back.assign(3, 'x');
  EXPECT_TRUE(t->ReadMemo(r, 0, &back).ok());
  EXPECT_TRUE(back.empty());
  file->Put(ByteView(Bytes{0, 0, 0, 1, 0xFC, r[0], r[1], r[2], r[3], 0, 0, 0}), ByteView(Bytes{0, 0, 0, 0, 'q'}));
  EXPECT_EQ(t->ReadMemo(r, 0, &back), Status::File(err::InvalidMemoFile));

  ASSERT_TRUE(t->Delete(r).ok());
  EXPECT_FALSE(piece(0, 0, nullptr));
  EXPECT_FALSE(piece(1, 0, nullptr));
}

TEST_F(TableTest, DefinitionBlocksAndVersion) {
  TableDefinition d = Partner();
  // Grow a label until the stream is exactly 600 bytes.
  const size_t base = WriteDefinition(d).size();
  d.keys[1].label += std::string(600 - base, 'x');
  ASSERT_EQ(WriteDefinition(d).size(), 600u);
  auto t = Make(d);
  Bytes block;
  ASSERT_TRUE(Raw({0, 0, 0, 1, 0xFA, 0, 0}, &block));
  EXPECT_EQ(block.size(), 512u);
  EXPECT_EQ(block[0], 1);
  ASSERT_TRUE(Raw({0, 0, 0, 1, 0xFA, 1, 0}, &block));
  EXPECT_EQ(block.size(), 88u);
  EXPECT_FALSE(Raw({0, 0, 0, 1, 0xFA, 2, 0}));

  TableDefinition withBlob = Partner();
  withBlob.memos = {{"", "PAR:PIC", 0, kMemoBlob}};
  auto b = Make(withBlob, false, "BLOBS");
  ASSERT_TRUE(Raw({0, 0, 0, 2, 0xFA, 0, 0}, &block));
  EXPECT_EQ(block[0], 2);
  EXPECT_EQ(b->definition().version, 2);
}

TEST_F(TableTest, OpenComparesAndReadsTheDefinition) {
  Make(Partner(), false, "P");
  std::unique_ptr<Table> t;
  TableDefinition declared = Partner();
  declared.keys[0].attributes = 0;  // PRIMARY only
  EXPECT_TRUE(Table::Open(*file, "P", &declared, {}, &t).ok());

  declared.keys[0].attributes = kKeyDup;
  files::ClearError();
  EXPECT_EQ(Table::Open(*file, "P", &declared, {}, &t), Status::File(err::InvalidRecordDeclaration));
  EXPECT_EQ(files::FileErrorCode(), "KEY : 1 : ATTRIBUTE : D00001");
  EXPECT_EQ(files::FileError(), "Component does not match physical file structure");

  std::unique_ptr<Table> read;
  ASSERT_TRUE(Table::Open(*file, "P", nullptr, {}, &read).ok());
  EXPECT_EQ(read->definition(), Partner());
  EXPECT_EQ(read->keyCount(), 2u);
  EXPECT_EQ(Table::Open(*file, "NOPE", nullptr, {}, &read), Status::File(err::FileNotFound));

  // Descriptors for a file opened without a declaration.
  BuiltDescriptors built(read->definition());
  files::FileDescriptor fd;
  built.AttachTo(&fd);
  ASSERT_EQ(fd.declaration.fieldCount, 2u);
  EXPECT_EQ(fd.declaration.fields[1].label, "PAR:NAZIV");
  EXPECT_EQ(fd.keys[0].components[0], 1);
  EXPECT_EQ(fd.keys[0].file, &fd);
  EXPECT_EQ(DefinitionFromDeclaration(fd), Partner());
}

TEST_F(TableTest, KeySizeLimitAtCreate) {
  TableDefinition d;
  d.recordLength = 7527;
  d.fields = {Field(kTypeString, 0, 3000, "K:A"), Field(kTypeString, 3000, 3000, "K:B"),
              Field(kTypeString, 6000, 1526, "K:C"), Field(1, 7526, 1, "K:D")};
  d.keys = {Key("K:Big", 0, {{0, 0}, {1, 0}, {2, 0}})};
  std::unique_ptr<Table> t;
  EXPECT_TRUE(Table::Create(*file, "OK", d, false, CollationState(), &t).ok());
  d.keys[0].components.push_back({3, 0});
  files::ClearError();
  EXPECT_EQ(Table::Create(*file, "BIG", d, false, CollationState(), &t), Status::File(err::InvalidRecordDeclaration));
  EXPECT_EQ(files::FileErrorCode(), "KEY : 1 : SIZE : D00101");
  EXPECT_EQ(files::FileError(), "Key components are more than a total of 7526 bytes long");
  RecordNumber n;
  EXPECT_EQ(FindTable(*file, "BIG", &n), Status::File(err::FileNotFound));  // nothing stored
  // The same check at open.
  EXPECT_EQ(Table::Open(*file, "OK", &d, {}, &t), Status::File(err::InvalidRecordDeclaration));
}

TEST_F(TableTest, DupKeyLimitCountsItsRecordNumber) {
  // A DUP key's entries carry the record number inside the key part, so its
  // components get four bytes less: 7522 still works for many records, 7523
  // to 7526 are refused at create and at open instead of failing later.
  for (uint16_t total : {uint16_t(7522), uint16_t(7523), uint16_t(7526)}) {
    SCOPED_TRACE(total);
    TableDefinition d;
    d.recordLength = total;
    d.fields = {Field(kTypeString, 0, 4000, "K:A"), Field(kTypeString, 4000, uint16_t(total - 4000), "K:B")};
    d.keys = {Key("K:Dup", kKeyDup, {{0, 0}, {1, 0}})};
    const std::string name = "D" + std::to_string(total);
    std::unique_ptr<Table> t;
    files::ClearError();
    const Status rc = Table::Create(*file, name, d, false, CollationState(), &t);
    if (total == 7522) {
      ASSERT_TRUE(rc.ok());
      Bytes image(total, 'x');
      RecordNumber n;
      for (int i = 0; i < 12; ++i) {
        image[total - 1] = uint8_t('a' + i % 3);
        ASSERT_TRUE(t->Add(image.data(), &n).ok()) << i;
      }
      EXPECT_EQ(Entries(*t, 0).size(), 12u);
      continue;
    }
    EXPECT_EQ(rc, Status::File(err::InvalidRecordDeclaration));
    EXPECT_EQ(files::FileErrorCode(), "KEY : 1 : SIZE : D00101");
    EXPECT_EQ(files::FileError(), "Key components are more than a total of 7526 bytes long");
    RecordNumber n;
    EXPECT_EQ(FindTable(*file, name, &n), Status::File(err::FileNotFound));
    // A declaration with such a key is refused at open by the same check.
    d.keys[0].attributes = 0;
    ASSERT_TRUE(Table::Create(*file, name, d, false, CollationState(), &t).ok());
    t.reset();
    d.keys[0].attributes = kKeyDup;
    files::ClearError();
    EXPECT_EQ(Table::Open(*file, name, &d, {}, &t), Status::File(err::InvalidRecordDeclaration));
    EXPECT_EQ(files::FileErrorCode(), "KEY : 1 : SIZE : D00101");
  }
}

TEST_F(TableTest, RecordThatCannotFitAPageIsRefusedAtCreate) {
  // The largest image whose data record still fits a page by itself is added;
  // one byte more is a declaration error instead of a driver error box later.
  TableDefinition d;
  d.recordLength = 15077;
  d.fields = {Field(kTypeString, 0, 15077, "L:TEXT")};
  auto t = Make(d, false, "LONG");
  std::vector<uint8_t> image(15077, 'x');
  EXPECT_TRUE(t->Add(image.data(), nullptr).ok());
  d.recordLength = 15078;
  d.fields[0].size = 15078;
  std::unique_ptr<Table> longer;
  files::ClearError();
  EXPECT_EQ(Table::Create(*file, "LONGER", d, false, CollationState(), &longer), Status::File(err::InvalidRecordDeclaration));
  EXPECT_EQ(files::FileErrorCode(), "FIELD : 1 : SIZE : D00005");
}

TEST_F(TableTest, OemTableConvertsTextUpToTheTerminator) {
  TableDefinition d;
  d.recordLength = 10;
  d.fields = {Field(kTypeCString, 0, 10, "O:NAME")};
  auto t = Make(d, /*oem=*/true);
  // Windows-1250 "Čć" then the terminator, then bytes that are no text.
  const uint8_t image[10] = {0xC8, 0xE6, 'a', 0, 0xC8, 0xE6, 0x8A, 0, 0xFF, 0xC8};
  RecordNumber r;
  ASSERT_TRUE(t->Add(image, &r).ok());
  Bytes stored;
  ASSERT_TRUE(Raw({0, 0, 0, 1, 0xF3, r[0], r[1], r[2], r[3]}, &stored));
  // Code page 852: Č = AC, ć = 86.
  EXPECT_EQ(stored, (Bytes{0xAC, 0x86, 'a', 0, 0xC8, 0xE6, 0x8A, 0, 0xFF, 0xC8}));
  uint8_t back[10];
  ASSERT_TRUE(t->Fetch(r, back).ok());
  EXPECT_EQ(Bytes(back, back + 10), Bytes(image, image + 10));

  // The flag comes from the collation record at every later open.
  std::unique_ptr<Table> reopened;
  ASSERT_TRUE(Table::Open(*file, "UNNAMED", &d, {}, &reopened).ok());
  EXPECT_TRUE(reopened->oem());
}

TEST_F(TableTest, DamagedRecordsAreReportedNotTrusted) {
  auto t = Make(Partner(), false, "P");
  RecordNumber r;
  ASSERT_TRUE(t->Add(Bytes_(Rec(1, "A")), &r).ok());
  file->Replace(ByteView(Bytes{0, 0, 0, 1, 0xF3, r[0], r[1], r[2], r[3]}), ByteView(Bytes{1, 2, 3}));
  uint8_t image[24];
  EXPECT_EQ(t->Fetch(r, image), Status::File(err::InvalidDataFile));
  EXPECT_EQ(t->Replace(r, Bytes_(Rec(2, "B"))), Status::File(err::InvalidDataFile));

  file->Replace(ByteView(Bytes{0, 0, 0, 1, 0xFB, 1}), ByteView(Bytes(100, 0)));
  std::unique_ptr<Table> other;
  EXPECT_EQ(Table::Open(*file, "P", nullptr, {}, &other), Status::File(err::InvalidDataFile));
  file->Replace(ByteView(Bytes{0xFE, 'P'}), ByteView(Bytes{0xFF, 0, 0, 1}));
  EXPECT_EQ(Table::Open(*file, "P", nullptr, {}, &other), Status::File(err::InvalidDataFile));
}

}  // namespace
}  // namespace pr::store
