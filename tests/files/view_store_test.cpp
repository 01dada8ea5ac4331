// Views over real keyed files: sorted walks by value, SET with fewer
// components, the start after OPEN, filters, expression orders and joins,
// and orders that stay true while the file changes under an open view.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "files/errors.h"
#include "files/statements.h"
#include "files/view.h"
#include "store/driver.h"

namespace pr::files {
namespace {

#pragma pack(push, 1)
struct TRecord {
  int32_t id;
  char name[20];
  uint8_t amount[4];  // DECIMAL(7,2)
  uint8_t p[8];       // PSTRING(8)
  double real;
};
struct GRecord {
  int32_t id;
  char name[10];
};
#pragma pack(pop)

const FieldDescriptor kTFields[] = {
    {.place = 0, .size = 4, .type = TYPE_LONG, .label = "T:ID", .name = {}},
    {.place = 4, .size = 20, .type = TYPE_STRING, .label = "T:NAME", .name = {}},
    {.place = 24, .size = 4, .places = 2, .type = TYPE_DECIMAL, .label = "T:AMT", .name = {}},
    {.place = 28, .size = 8, .type = TYPE_PSTRING, .label = "T:P", .name = {}},
    {.place = 36, .size = 8, .type = TYPE_REAL, .label = "T:R", .name = {}},
};
const FieldDescriptor kGFields[] = {
    {.place = 0, .size = 4, .type = TYPE_LONG, .label = "G:ID", .name = {}},
    {.place = 4, .size = 10, .type = TYPE_STRING, .label = "G:NAME", .name = {}},
};
const int32_t kIdComponents[] = {1};
const int32_t kNameIdComponents[] = {2, 1};

// A whole number as DECIMAL(7,2): sign nibble, then seven digits.
void PutDecimal(uint8_t* p, int value) {
  unsigned v = static_cast<unsigned>(value < 0 ? -value : value) * 100;
  uint8_t digits[7];
  for (int i = 6; i >= 0; --i, v /= 10) digits[i] = static_cast<uint8_t>(v % 10);
  p[0] = static_cast<uint8_t>((value < 0 ? 0x10 : 0) | digits[0]);
  for (int i = 1; i < 4; ++i) p[i] = static_cast<uint8_t>(digits[2 * i - 1] << 4 | digits[2 * i]);
}

class ViewStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pr_views_XXXXXX";
    dir = mkdtemp(pattern);
    tPath = dir + "/T";
    gPath = dir + "/G";
    keys[0] = {};
    keys[0].label = "T:IdKey";
    keys[0].componentCount = 1;
    keys[0].components = kIdComponents;
    keys[0].file = &t;
    keys[1] = {};
    keys[1].label = "T:NameKey";
    keys[1].componentCount = 2;
    keys[1].components = kNameIdComponents;
    keys[1].file = &t;
    t.label = "T";
    t.entry = &store::TarnwellEntry;
    t.record = reinterpret_cast<uint8_t*>(&tr);
    t.recordLength = sizeof tr;
    t.declaration.name = tPath;
    t.declaration.attributes = ATTR_CREATE;
    t.declaration.fields = kTFields;
    t.declaration.fieldCount = 5;
    t.declaration.keyCount = 2;
    t.keys = keys;
    gKey = {};
    gKey.label = "G:IdKey";
    gKey.componentCount = 1;
    gKey.components = kIdComponents;
    gKey.file = &g;
    g.label = "G";
    g.entry = &store::TarnwellEntry;
    g.record = reinterpret_cast<uint8_t*>(&gr);
    g.recordLength = sizeof gr;
    g.declaration.name = gPath;
    g.declaration.attributes = ATTR_CREATE;
    g.declaration.fields = kGFields;
    g.declaration.fieldCount = 2;
    g.declaration.keyCount = 1;
    g.keys = &gKey;
    Open(&t, 0x42);
    ASSERT_EQ(ErrorCode(), 0) << FileError();
    Open(&g, 0x42);
    ASSERT_EQ(ErrorCode(), 0) << FileError();
    structure.primary = &t;
    InitViewDescriptor(&view, &structure, "V");
  }
  void TearDown() override {
    Close(&view);
    Destroy(&view);
    Close(&t);
    Close(&g);
    store::TarnwellEntry(OP_DESTROY, &t, nullptr);
    store::TarnwellEntry(OP_DESTROY, &g, nullptr);
    std::filesystem::remove_all(dir);
  }

  void Fill(int32_t id, const std::string& name) {
    std::memset(&tr, 0, sizeof tr);
    tr.id = id;
    std::memset(tr.name, ' ', 20);
    std::memcpy(tr.name, name.data(), std::min<size_t>(name.size(), 20));
  }
  void AddT(int32_t id, const std::string& name) {
    Fill(id, name);
    Add(&t);
    ASSERT_EQ(ErrorCode(), 0) << FileError();
  }
  void AddG(int32_t id, const std::string& name) {
    gr.id = id;
    std::memset(gr.name, ' ', 10);
    std::memcpy(gr.name, name.data(), std::min<size_t>(name.size(), 10));
    Add(&g);
    ASSERT_EQ(ErrorCode(), 0) << FileError();
  }
  // Reads by id through the id key.
  void GetT(int32_t id) {
    tr.id = id;
    Get(&t, &keys[0]);
    ASSERT_EQ(ErrorCode(), 0);
  }
  std::vector<int32_t> Read(int n, bool forward = true) {
    std::vector<int32_t> ids;
    for (int i = 0; i < n; ++i) {
      forward ? Next(&view) : Previous(&view);
      if (ErrorCode() != 0) break;
      ids.push_back(tr.id);
    }
    return ids;
  }
  std::vector<int32_t> All(bool forward = true) {
    SetView(&view);
    std::vector<int32_t> ids = Read(1000, forward);
    EXPECT_EQ(ErrorCode(), 33);
    return ids;
  }
  void Order(const std::string& text) {
    SetProperty(&view, PROP_VIEW_ORDER, text);
    ASSERT_EQ(ErrorCode(), 0) << FileError();
  }

  std::string dir, tPath, gPath;
  TRecord tr{};
  GRecord gr{};
  KeyDescriptor keys[2];
  KeyDescriptor gKey;
  FileDescriptor t, g;
  ViewStructure structure;
  FileDescriptor view;
};

TEST_F(ViewStoreTest, SortedWalksCompareFieldsByValue) {
  const int amounts[] = {2, 5, -7, -1};
  const char* ps[] = {"b", "aa", "ab", ""};
  const double reals[] = {1.5, -2.0, 0.25, -0.5};
  for (int i = 0; i < 4; ++i) {
    Fill(i + 1, "n");
    PutDecimal(tr.amount, amounts[i]);
    tr.p[0] = static_cast<uint8_t>(std::strlen(ps[i]));
    std::memcpy(tr.p + 1, ps[i], std::strlen(ps[i]));
    tr.real = reals[i];
    Add(&t);
    ASSERT_EQ(ErrorCode(), 0);
  }
  Order("+T:AMT");
  Open(&view, 0x22);
  ASSERT_EQ(ErrorCode(), 0) << FileError();
  EXPECT_EQ(GetProperty(&view, 0x731F), "2");  // a sorted walk
  EXPECT_EQ(All(), (std::vector<int32_t>{3, 4, 1, 2}));
  Order("+T:P");
  EXPECT_EQ(All(), (std::vector<int32_t>{4, 2, 3, 1}));
  Order("-T:R");
  EXPECT_EQ(All(), (std::vector<int32_t>{1, 3, 4, 2}));
  EXPECT_EQ(All(false), (std::vector<int32_t>{2, 4, 3, 1}));
}

TEST_F(ViewStoreTest, SetWithFewerComponentsStartsAtTheFirstRecordOfThoseValues) {
  AddT(1, "alpha");
  AddT(2, "bravo");
  AddT(3, "bravo");
  AddT(4, "bravo");
  AddT(5, "charlie");
  for (const char* order : {"+T:NAME", "+T:NAME, +T:ID"}) {
    SCOPED_TRACE(order);
    Close(&view);
    Order(order);
    Open(&view, 0x22);
    EXPECT_EQ(GetProperty(&view, 0x731F), "0");  // through T:NameKey
    Fill(999, "bravo");
    SetView(&view, 1);
    EXPECT_EQ(Read(2), (std::vector<int32_t>{2, 3}));
    Fill(999, "bravo");
    SetView(&view, 1);
    EXPECT_EQ(Read(2, false), (std::vector<int32_t>{4, 3}));
  }
  // With the order against the key, NEXT walks the key backwards.
  Close(&view);
  Order("-T:NAME");
  Open(&view, 0x22);
  Fill(0, "bravo");
  SetView(&view, 1);
  EXPECT_EQ(Read(4), (std::vector<int32_t>{4, 3, 2, 1}));
}

TEST_F(ViewStoreTest, NextAfterOpenStartsAtTheViewsOwnOrder) {
  AddT(1, "zulu");
  AddT(2, "alpha");
  AddT(3, "mike");
  // The primary file was last walked by its id key.
  Set(&keys[0]);
  Next(&t);
  Order("+T:NAME");
  Open(&view, 0x22);
  EXPECT_EQ(Read(3), (std::vector<int32_t>{2, 3, 1}));
  // Positioned on the view's own key, the primary file gives the start.
  Close(&view);
  Fill(0, "mike");
  Set(&keys[1], &keys[1]);
  Open(&view, 0x22);
  EXPECT_EQ(Read(3), (std::vector<int32_t>{3, 1}));
}

TEST_F(ViewStoreTest, OpenFailsWhenAFileOfTheViewIsClosed) {
  Close(&t);
  Open(&view, 0x22);
  EXPECT_EQ(ErrorCode(), 37);
  EXPECT_EQ(ErrorFile(), &t);
  EXPECT_FALSE(ViewHasState(&view));
  Open(&t, 0x42);
  Open(&view, 0x22);
  EXPECT_EQ(ErrorCode(), 0);
}

TEST_F(ViewStoreTest, FilterPassesOverRecordsThatFailInBothDirectionsAndInTheCount) {
  const char* names[] = {"Ana", "Ivo", "Mariana", "Petar", "Dijana", "Luka", "Jana"};
  for (int i = 0; i < 7; ++i) AddT(i + 1, names[i]);
  Order("+T:ID");
  SetProperty(&view, PROP_VIEW_FILTER, "INSTRING('ANA',UPPER(T:NAME),1,1)");
  ASSERT_EQ(ErrorCode(), 0);
  Open(&view, 0x22);
  EXPECT_EQ(All(), (std::vector<int32_t>{1, 3, 5, 7}));
  EXPECT_EQ(All(false), (std::vector<int32_t>{7, 5, 3, 1}));
  EXPECT_EQ(Records(&view), 4);
  // A new filter on the open view; the sorted walk keeps its index.
  SetProperty(&view, PROP_VIEW_FILTER, "T:ID % 2 = 0");
  EXPECT_EQ(All(), (std::vector<int32_t>{2, 4, 6}));
  Order("-UPPER(T:NAME)");
  EXPECT_EQ(All(), (std::vector<int32_t>{4, 6, 2}));
  // A filter changed in the middle of a walk applies from where it stands.
  SetProperty(&view, PROP_VIEW_FILTER, "");
  SetView(&view);
  EXPECT_EQ(Read(2), (std::vector<int32_t>{4, 3}));
  SetProperty(&view, PROP_VIEW_FILTER, "T:ID % 2 = 0");
  EXPECT_EQ(Read(2), (std::vector<int32_t>{6, 2}));
  SetProperty(&view, PROP_VIEW_FILTER, "");
  EXPECT_EQ(Records(&view), 7);
}

TEST_F(ViewStoreTest, ExpressionOrdersMixDirectionsAndPositionsSurviveDeletion) {
  const char* names[] = {"bb", "a", "ccc", "dd", "e"};
  for (int i = 0; i < 5; ++i) AddT(i + 1, names[i]);
  Order("-LEN(CLIP(T:NAME)), +T:NAME");
  Open(&view, 0x22);
  EXPECT_EQ(All(), (std::vector<int32_t>{3, 1, 4, 2, 5}));
  // A saved position finds its place even after its record has gone.
  SetView(&view);
  Read(2);
  std::string position = Position(&view);
  ASSERT_EQ(position.substr(0, 1), "S");
  Reset(&view, position);
  EXPECT_EQ(Read(2), (std::vector<int32_t>{1, 4}));
  GetT(1);
  Delete(&t);
  Reset(&view, position);
  EXPECT_EQ(Read(1), (std::vector<int32_t>{4}));
  Reset(&view, position);
  EXPECT_EQ(Read(1, false), (std::vector<int32_t>{3}));
  // A position that is no sort key is refused, not read.
  Reset(&view, "S0");
  Next(&view);
  EXPECT_EQ(ErrorCode(), 76);
  Reset(&view, "S02");
  Next(&view);
  EXPECT_EQ(ErrorCode(), 76);
}

TEST_F(ViewStoreTest, SortedOrderSeesRecordsAddedChangedAndDeletedAfterOpen) {
  // The same walk by an expression and by a plain field no key serves.
  auto add = [&](int32_t id, const std::string& name, int amount) {
    Fill(id, name);
    PutDecimal(tr.amount, amount);
    Add(&t);
    ASSERT_EQ(ErrorCode(), 0);
  };
  for (const char* order : {"+UPPER(T:NAME)", "+T:AMT"}) {
    SCOPED_TRACE(order);
    add(1, "delta", 40);
    add(2, "alpha", 10);
    add(3, "echo", 50);
    add(4, "charlie", 30);
    add(5, "golf", 70);
    Order(order);
    Open(&view, 0x22);
    ASSERT_EQ(ErrorCode(), 0);
    EXPECT_EQ(GetProperty(&view, 0x731F), "2");
    SetView(&view);
    EXPECT_EQ(Read(2), (std::vector<int32_t>{2, 4}));  // alpha, charlie
    // Meanwhile: delta goes, bravo and foxtrot come, golf becomes "beta".
    GetT(1);
    Delete(&t);
    add(6, "foxtrot", 60);
    add(7, "bravo", 20);
    GetT(5);
    std::memcpy(tr.name, "beta ", 5);
    PutDecimal(tr.amount, 15);
    Put(&t);
    ASSERT_EQ(ErrorCode(), 0);
    // The walk goes on from charlie: no error on the deleted record, the new
    // one in its place, the changed one not at its old place.
    EXPECT_EQ(Read(10), (std::vector<int32_t>{3, 6}));
    EXPECT_EQ(ErrorCode(), 33);
    EXPECT_EQ(All(), (std::vector<int32_t>{2, 5, 7, 4, 3, 6}));
    EXPECT_EQ(All(false), (std::vector<int32_t>{6, 3, 4, 7, 5, 2}));
    // One record goes and another comes: the count stays, the next SET
    // finds the new one all the same.
    GetT(6);
    Delete(&t);
    add(8, "hotel", 80);
    EXPECT_EQ(All(), (std::vector<int32_t>{2, 5, 7, 4, 3, 8}));
    // Everything deleted: the walk ends cleanly.
    for (int32_t id : {2, 3, 4, 5, 7, 8}) {
      GetT(id);
      Delete(&t);
    }
    SetView(&view);
    Next(&view);
    EXPECT_EQ(ErrorCode(), 33);
    EXPECT_EQ(GetProperty(&view, 0x734A), "0");
    Close(&view);
  }
}

TEST_F(ViewStoreTest, ExpressionJoinsReadTheFirstMatchAndInnerJoinsLeaveOutParents) {
  for (int32_t id = 1; id <= 4; ++id) AddT(id, "p" + std::to_string(id));
  AddG(10, "ten");
  AddG(30, "thirty");
  ViewJoin join;
  join.file = &g;
  join.expression = "G:ID = T:ID * 10";
  structure.joins.push_back(join);
  Order("+T:ID");
  Open(&view, 0x22);
  ASSERT_EQ(ErrorCode(), 0) << FileError();
  std::vector<std::string> joined;
  SetView(&view);
  for (;;) {
    Next(&view);
    if (ErrorCode() != 0) break;
    joined.push_back(std::to_string(tr.id) + ":" + std::string(gr.name, 10));
  }
  EXPECT_EQ(joined, (std::vector<std::string>{"1:ten       ", "2:          ", "3:thirty    ", "4:          "}));
  Close(&view);
  structure.joins[0].inner = true;
  Order("-G:NAME");  // an order over the joined file
  Open(&view, 0x22);
  EXPECT_EQ(All(), (std::vector<int32_t>{3, 1}));
  EXPECT_EQ(Records(&view), 2);
}

}  // namespace
}  // namespace pr::files
