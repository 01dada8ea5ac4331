// The definition stream: write, compare and read from one walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "store/definition_stream.h"

namespace pr::store {
namespace {

constexpr uint8_t kLong = 6;

TableDefinition Partner() {
  TableDefinition d;
  d.recordLength = 24;
  FieldDefinition id;
  id.type = kLong;
  id.offset = 0;
  id.name = "PAR:ID";
  id.size = 4;
  FieldDefinition name;
  name.type = kTypeString;
  name.offset = 4;
  name.name = "PAR:NAZIV";
  name.size = 20;
  name.declaredLength = 20;
  d.fields = {id, name};
  KeyDefinition key;
  key.label = "PAR:IdKey";
  key.attributes = 0x10;
  key.components = {{0, 0}};
  d.keys = {key};
  return d;
}

// Cuts a stream into 512-byte blocks the way a table stores them.
struct Blocks {
  std::map<uint16_t, std::vector<uint8_t>> blocks;
  explicit Blocks(const std::vector<uint8_t>& stream) {
    for (size_t at = 0; at < stream.size(); at += 512) {
      size_t n = std::min<size_t>(512, stream.size() - at);
      blocks[uint16_t(at / 512)].assign(stream.begin() + at, stream.begin() + at + n);
    }
  }
  DefinitionBlockLoader Loader() const {
    return [this](uint16_t k, uint8_t* out) -> int {
      auto it = blocks.find(k);
      if (it == blocks.end()) return 0;
      std::memcpy(out, it->second.data(), it->second.size());
      return int(it->second.size());
    };
  }
};

TEST(DefinitionStream, PartnerBytesAndRoundTrip) {
  TableDefinition d = Partner();
  std::vector<uint8_t> s = WriteDefinition(d);
  // version 1, record length 24, 2 fields, 0 memos, 1 key, then PAR:ID.
  const std::vector<uint8_t> head = {1, 0, 24, 0, 2, 0, 0, 0, 1, 0, kLong, 0, 0, 'P', 'A', 'R', ':', 'I', 'D', 0};
  ASSERT_GE(s.size(), head.size());
  EXPECT_TRUE(std::equal(head.begin(), head.end(), s.begin()));
  // The key: empty external name (two zeros), label, attributes, one component.
  const std::vector<uint8_t> tail = {0, 0, 'P', 'A', 'R', ':', 'I', 'd', 'K', 'e', 'y', 0, 0x10, 1, 0, 0, 0, 0, 0};
  EXPECT_TRUE(std::equal(tail.rbegin(), tail.rend(), s.rbegin()));

  Blocks b(s);
  TableDefinition back;
  ASSERT_EQ(ReadDefinition(b.Loader(), &back, nullptr), WalkResult::kOk);
  EXPECT_EQ(back, d);
  ASSERT_EQ(CompareDefinition(d, b.Loader(), true, nullptr), WalkResult::kOk);
}

TEST(DefinitionStream, BlobMakesVersionTwo) {
  TableDefinition d = Partner();
  EXPECT_EQ(d.RequiredVersion(), 1);
  d.memos.push_back({"", "PAR:NOTE", 100, 0});
  EXPECT_EQ(d.RequiredVersion(), 1);
  d.memos.push_back({"", "PAR:PIC", 0, kMemoBlob | kMemoBinary});
  EXPECT_EQ(d.RequiredVersion(), 2);
}

TEST(DefinitionStream, LongDefinitionReadsAcrossBlocks) {
  TableDefinition d = Partner();
  d.fields[1].name = std::string(700, 'N');  // pushes everything after it past block 0
  std::vector<uint8_t> s = WriteDefinition(d);
  Blocks b(s);
  ASSERT_EQ(b.blocks.size(), 2u);
  TableDefinition back;
  ASSERT_EQ(ReadDefinition(b.Loader(), &back, nullptr), WalkResult::kOk);
  EXPECT_EQ(back, d);
}

struct CompareCase {
  const char* what;
  void (*change)(TableDefinition&);
  CheckCategory category;
  const char* item;
  int itemNumber;
};

TEST(DefinitionStream, CompareNamesTheFirstDifference) {
  const CompareCase cases[] = {
      {"field count", [](TableDefinition& d) { d.fields.pop_back(); }, CheckCategory::kFile, "FIELDS", 0},
      {"key count", [](TableDefinition& d) { d.keys.clear(); }, CheckCategory::kFile, "KEYS", 0},
      {"memo count", [](TableDefinition& d) { d.memos.push_back({}); }, CheckCategory::kFile, "MEMOS", 0},
      {"type", [](TableDefinition& d) { d.fields[1].type = kTypeCString; }, CheckCategory::kField, "TYPE", 2},
      {"size", [](TableDefinition& d) { d.fields[1].size = 21; }, CheckCategory::kField, "SIZE", 2},
      {"over", [](TableDefinition& d) { d.fields[1].over = 1; }, CheckCategory::kField, "OVER", 2},
      {"dim", [](TableDefinition& d) { d.fields[0].dim = 3; }, CheckCategory::kField, "DIM", 1},
      {"dup", [](TableDefinition& d) { d.keys[0].attributes |= 0x01; }, CheckCategory::kKey, "ATTRIBUTE", 1},
      {"key fields", [](TableDefinition& d) { d.keys[0].components.push_back({1, 0}); }, CheckCategory::kKey,
       "FIELDS", 1},
      {"component field", [](TableDefinition& d) { d.keys[0].components[0].field = 1; },
       CheckCategory::kComponent, "FIELD", 1001},
      {"direction", [](TableDefinition& d) { d.keys[0].components[0].direction = 1; },
       CheckCategory::kComponent, "ASCENDING", 1001},
  };
  Blocks stored(WriteDefinition(Partner()));
  for (const CompareCase& c : cases) {
    TableDefinition declared = Partner();
    c.change(declared);
    DefinitionMismatch m;
    ASSERT_EQ(CompareDefinition(declared, stored.Loader(), true, &m), WalkResult::kMismatch) << c.what;
    EXPECT_EQ(m, (DefinitionMismatch{c.category, 0, c.item, c.itemNumber})) << c.what << ": " << m.item;
  }
}

TEST(DefinitionStream, CompareIgnoresWhatIsNotChecked) {
  Blocks stored(WriteDefinition(Partner()));
  TableDefinition declared = Partner();
  declared.keys[0].attributes &= ~0x10;  // PRIMARY alone
  declared.recordLength = 99;
  declared.fields[0].offset = 8;
  declared.fields[0].name = "X:ID";
  declared.fields[1].picture = "s20";
  declared.keys[0].label = "PAR:Other";
  EXPECT_EQ(CompareDefinition(declared, stored.Loader(), true, nullptr), WalkResult::kOk);
}

TEST(DefinitionStream, MemoChecksSizeOfMemosAndBinaryOnly) {
  TableDefinition d = Partner();
  d.memos = {{"", "PAR:NOTE", 100, 0}, {"", "PAR:PIC", 0, kMemoBlob}};
  Blocks stored(WriteDefinition(d));
  DefinitionMismatch m;
  TableDefinition other = d;
  other.memos[1].size = 5000;  // a BLOB's size is not compared
  EXPECT_EQ(CompareDefinition(other, stored.Loader(), true, &m), WalkResult::kOk);
  other.memos[0].size = 200;
  ASSERT_EQ(CompareDefinition(other, stored.Loader(), true, &m), WalkResult::kMismatch);
  EXPECT_EQ(m, (DefinitionMismatch{CheckCategory::kMemo, 0, "SIZE", 1}));
  other = d;
  other.memos[1].flags |= kMemoBinary;
  ASSERT_EQ(CompareDefinition(other, stored.Loader(), true, &m), WalkResult::kMismatch);
  EXPECT_EQ(m, (DefinitionMismatch{CheckCategory::kMemo, 0, "BINARY", 2}));
}

TEST(DefinitionStream, DecimalPlacesComparedOnlyWithDecimalCheck) {
  TableDefinition d = Partner();
  FieldDefinition amount;
  amount.type = kTypeDecimal;
  amount.offset = 24;
  amount.name = "PAR:AMOUNT";
  amount.size = 4;
  amount.decimalSize = 4;
  amount.decimalPlaces = 2;
  d.fields.push_back(amount);
  Blocks stored(WriteDefinition(d));
  TableDefinition declared = d;
  declared.fields[2].decimalPlaces = 3;
  DefinitionMismatch m;
  ASSERT_EQ(CompareDefinition(declared, stored.Loader(), true, &m), WalkResult::kMismatch);
  EXPECT_EQ(m, (DefinitionMismatch{CheckCategory::kField, 0, "PLACES", 3}));
  EXPECT_EQ(CompareDefinition(declared, stored.Loader(), false, &m), WalkResult::kOk);
}

TEST(DefinitionStream, NewerVersionAndDamageAreRefused) {
  std::vector<uint8_t> s = WriteDefinition(Partner());
  s[0] = 3;
  Blocks newer(s);
  DefinitionMismatch m;
  ASSERT_EQ(CompareDefinition(Partner(), newer.Loader(), true, &m), WalkResult::kMismatch);
  EXPECT_EQ(m, (DefinitionMismatch{CheckCategory::kFile, kNewerFormatCheck, "VERSION", 0}));
  TableDefinition back;
  EXPECT_EQ(ReadDefinition(newer.Loader(), &back, &m), WalkResult::kMismatch);

  // A read failure, and a name that never ends, are damage rather than a crash.
  DefinitionBlockLoader failing = [](uint16_t, uint8_t*) { return -1; };
  EXPECT_EQ(ReadDefinition(failing, &back, nullptr), WalkResult::kCorrupt);
  DefinitionBlockLoader endless = [](uint16_t block, uint8_t* out) {
    std::memset(out, 'x', 512);
    if (block == 0) {
      const uint8_t head[] = {1, 0, 24, 0, 1, 0, 0, 0, 0, 0, kLong, 0, 0};
      std::memcpy(out, head, sizeof head);
    }
    return 512;
  };
  EXPECT_EQ(ReadDefinition(endless, &back, nullptr), WalkResult::kCorrupt);
  // Huge counts over missing blocks read as zeros and stay bounded.
  DefinitionBlockLoader huge = [](uint16_t block, uint8_t* out) {
    if (block != 0) return 0;
    const uint8_t head[] = {1, 0, 24, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::memcpy(out, head, sizeof head);
    return int(sizeof head);
  };
  ASSERT_EQ(ReadDefinition(huge, &back, nullptr), WalkResult::kOk);
  EXPECT_EQ(back.fields.size(), 65535u);
}

}  // namespace
}  // namespace pr::store
