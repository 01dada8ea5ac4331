// The generic view engine over a small in-memory keyed driver: records of a
// LONG id and a STRING(8) name, one key on the id, positions as the id in
// decimal.  The driver keeps the file semantics the engine relies on: SET on
// a key puts the file before its first (NEXT) or after its last (PREVIOUS)
// entry, SET(key, key) starts at the record buffer's value, RESET positions
// at a record so the next read in either direction returns it.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <thread>

#include "files/dispatch.h"
#include "files/drivers.h"
#include "files/errors.h"
#include "files/statements.h"
#include "files/string_stack.h"
#include "files/view.h"

namespace pr::files {
namespace {

struct Row {
  int32_t id;
  char name[8];
};

class KeyedMemoryDriver {
 public:
  std::map<int32_t, std::string> rows;  // id -> name
  int32_t putError = 0;
  int queryViewCalls = 0;
  int nextCalls = 0;
  std::vector<int32_t> ops;  // the view's brackets and key queries received

  static int32_t Entry(int32_t op, FileDescriptor* file, intptr_t* args) {
    return static_cast<KeyedMemoryDriver*>(file->driverState)->Run(op, file, args);
  }

 private:
  // The position: `at` is the id of the current record; `before` says the
  // next NEXT returns `at` itself (after RESET), and `start`/`end` mark the
  // ends after SET.
  int32_t at_ = 0;
  enum { kNone, kBeforeAt, kStart, kEnd, kCurrent } mode_ = kNone;

  Row& Buffer(FileDescriptor* file) { return *reinterpret_cast<Row*>(file->record); }
  void Load(FileDescriptor* file, std::map<int32_t, std::string>::iterator it) {
    Buffer(file).id = it->first;
    std::memset(Buffer(file).name, ' ', 8);
    std::memcpy(Buffer(file).name, it->second.data(), std::min<size_t>(8, it->second.size()));
    at_ = it->first;
    mode_ = kCurrent;
  }

  int32_t Run(int32_t op, FileDescriptor* file, intptr_t* args) {
    ClearError();
    switch (op) {
      case OP_QUERY_VIEW:
        ++queryViewCalls;
        return 0;
      case OP_OPEN:
      case OP_CLOSE:
        return 0;
      case OP_SETfileptr:
        at_ = static_cast<int32_t>(args[0]);
        mode_ = kBeforeAt;
        return 0;
      case OP_INVIEW:
      case OP_ENDVIEW:
      case OP_QUERY_KEY:
        ops.push_back(op);
        return 0;
      case OP_DELETE:
        rows.erase(Buffer(file).id);
        return 0;
      case OP_SETfile:
      case OP_SETkey:
        mode_ = kStart;  // NEXT from the start; PREVIOUS from the end
        return 0;
      case OP_SETkeykey:
        at_ = Buffer(file).id;
        mode_ = kBeforeAt;
        return 0;
      case OP_NEXT: {
        ++nextCalls;
        auto it = mode_ == kStart ? rows.begin()
                  : mode_ == kBeforeAt ? rows.lower_bound(at_)
                  : rows.upper_bound(at_);
        if (mode_ == kEnd || it == rows.end()) return Fail(33);
        Load(file, it);
        return 0;
      }
      case OP_PREVIOUS: {
        std::map<int32_t, std::string>::iterator it;
        if (mode_ == kStart || mode_ == kEnd) {
          if (rows.empty()) return Fail(33);
          it = std::prev(rows.end());
        } else {
          it = mode_ == kBeforeAt ? rows.upper_bound(at_) : rows.lower_bound(at_);
          if (it == rows.begin()) return Fail(33);
          --it;
        }
        Load(file, it);
        return 0;
      }
      case OP_POSITIONkey:
        PushString(std::to_string(at_));
        return 0;
      case OP_RESETkey:
        at_ = std::atoi(PopString().c_str());
        mode_ = kBeforeAt;
        return 0;
      case OP_REGETkey: {
        int32_t id = std::atoi(PopString().c_str());
        auto it = rows.find(id);
        if (it == rows.end()) return Fail(35);
        Load(file, it);
        return 0;
      }
      case OP_POINTERfile:
        return at_;
      case OP_GETfileptr: {
        auto it = rows.find(static_cast<int32_t>(args[0]));
        if (it == rows.end()) return Fail(35);
        Load(file, it);
        return 0;
      }
      case OP_RECORDSfile:
        return static_cast<int32_t>(rows.size());
      case OP_PUT:
        if (putError != 0) return Fail(putError);
        rows[Buffer(file).id] = std::string(Buffer(file).name, 8);
        return 0;
      case OP_WATCH:
        return 0;
      default:
        return Fail(80);
    }
  }
  int32_t Fail(int32_t code) {
    SetErrorCode(code);
    return 0;
  }
};

const FieldDescriptor kFields[] = {
    {.place = 0, .size = 4, .type = TYPE_LONG, .label = "MEM:ID", .name = ""},
    {.place = 4, .size = 8, .type = TYPE_STRING, .label = "MEM:NAME", .name = ""},
};
const int32_t kIdComponents[] = {1};

class ViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    key.label = "MEM:IdKey";
    key.componentCount = 1;
    key.components = kIdComponents;
    key.file = &file;
    file.entry = KeyedMemoryDriver::Entry;
    file.driverState = &driver;
    file.label = "MEMORY";
    file.record = reinterpret_cast<uint8_t*>(&row);
    file.recordLength = sizeof row;
    file.declaration.fields = kFields;
    file.declaration.fieldCount = 2;
    file.declaration.keyCount = 1;
    file.keys = &key;
    structure.primary = &file;
    InitViewDescriptor(&view, &structure, "VIEW");
    Open(&file, 0x42);
  }
  void TearDown() override {
    Destroy(&view);
    Close(&file);
  }

  void Fill(int32_t count) {
    for (int32_t id = 1; id <= count; ++id) driver.rows[id] = "N" + std::to_string(id);
  }
  // Reads `n` records in one direction; the ids read.
  std::vector<int32_t> Read(int n, bool forward) {
    std::vector<int32_t> ids;
    for (int i = 0; i < n; ++i) {
      forward ? Next(&view) : Previous(&view);
      if (ErrorCode() != 0) break;
      ids.push_back(row.id);
    }
    return ids;
  }

  KeyedMemoryDriver driver;
  Row row{};
  KeyDescriptor key;
  FileDescriptor file;
  ViewStructure structure;
  FileDescriptor view;
};

TEST_F(ViewTest, NeverOpenedViewRefusesFetchesAndClosesQuietly) {
  Next(&view);
  EXPECT_EQ(ErrorCode(), 37);
  Previous(&view);
  EXPECT_EQ(ErrorCode(), 37);
  Close(&view);
  EXPECT_EQ(ErrorCode(), 0);
}

TEST_F(ViewTest, BindingAsksTheDriverOnEveryOperationAndCloseRebinds) {
  Fill(3);
  Open(&view, 0x22);
  Next(&view);
  Next(&view);
  EXPECT_EQ(driver.queryViewCalls, 3);
  EXPECT_EQ(view.entry, &ViewBindingEntry);
  Close(&view);
  EXPECT_EQ(view.entry, &ViewBindingEntry);
  Next(&view);
  EXPECT_EQ(ErrorCode(), 37);  // closed: no walk until the next OPEN
  Open(&view, 0x22);
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_EQ(driver.queryViewCalls, 5);  // the refused NEXT asked too
}

TEST_F(ViewTest, OrderByKeyWalksBothWaysFromSet) {
  Fill(20);
  SetProperty(&view, PROP_VIEW_ORDER, "+MEM:ID");
  ASSERT_EQ(ErrorCode(), 0);
  Open(&view, 0x22);
  SetView(&view);
  EXPECT_EQ(Read(3, true), (std::vector<int32_t>{1, 2, 3}));
  SetView(&view);
  EXPECT_EQ(Read(3, false), (std::vector<int32_t>{20, 19, 18}));
  // SET(view, 1) starts from the record buffer's id.
  row.id = 10;
  SetView(&view, 5);  // clamped to the one component
  EXPECT_EQ(Read(2, true), (std::vector<int32_t>{10, 11}));
  // Reading to the end reports 33.
  SetView(&view);
  EXPECT_EQ(Read(100, true).size(), 20u);
  EXPECT_EQ(ErrorCode(), 33);
}

TEST_F(ViewTest, DescendingOrderWalksTheAscendingKeyBackwards) {
  Fill(5);
  SetProperty(&view, PROP_VIEW_ORDER, "-MEM:ID");
  Open(&view, 0x22);
  SetView(&view);
  EXPECT_EQ(Read(3, true), (std::vector<int32_t>{5, 4, 3}));
  EXPECT_EQ(GetProperty(&view, 0x731F), "0");  // walked through the key
}

TEST_F(ViewTest, OrderNoKeyServesIsSortedOnceAndPositionsRoundTrip) {
  driver.rows = {{1, "delta"}, {2, "alpha"}, {3, "charlie"}, {4, "bravo"}};
  SetProperty(&view, PROP_VIEW_ORDER, "+MEM:NAME");
  Open(&view, 0x22);
  EXPECT_EQ(GetProperty(&view, 0x731F), "2");  // sorted walk
  SetView(&view);
  EXPECT_EQ(Read(4, true), (std::vector<int32_t>{2, 4, 3, 1}));
  SetView(&view);
  EXPECT_EQ(Read(2, false), (std::vector<int32_t>{1, 3}));
  // From "charlie" (record 3) on, by its position.
  SetView(&view);
  Read(3, true);
  std::string position = Position(&view);
  Reset(&view, position);
  EXPECT_EQ(Read(2, true), (std::vector<int32_t>{3, 1}));
  // SET(view, 1) starts at the first name not below the buffer's.
  std::memcpy(row.name, "bz      ", 8);
  SetView(&view, 1);
  EXPECT_EQ(Read(1, true), (std::vector<int32_t>{3}));
}

TEST_F(ViewTest, ResetToASavedPositionReadsFromThatRecord) {
  Fill(50);
  SetProperty(&view, PROP_VIEW_ORDER, "+MEM:ID");
  Open(&view, 0x22);
  SetView(&view);
  Read(15, true);
  std::string position = Position(&view);
  ASSERT_EQ(position, "15");
  // Records added and deleted meanwhile do not disturb the walk.
  driver.rows.erase(16);
  driver.rows[100] = "late";
  Reset(&view, position);
  EXPECT_EQ(Read(3, true), (std::vector<int32_t>{15, 17, 18}));
  Reset(&view, position);
  EXPECT_EQ(Read(2, false), (std::vector<int32_t>{15, 14}));
  SetView(&view);
  EXPECT_EQ(Read(1, false), (std::vector<int32_t>{100}));
}

TEST_F(ViewTest, SkipZeroReadsNothingAndSkipStopsAtTheFirstError) {
  Fill(5);
  SetProperty(&view, PROP_VIEW_ORDER, "+MEM:ID");
  Open(&view, 0x22);
  SetView(&view);
  int before = driver.nextCalls;
  Skip(&view, 0);
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_EQ(driver.nextCalls, before);
  Skip(&view, 3);
  EXPECT_EQ(row.id, 3);
  Skip(&view, 10);
  EXPECT_EQ(ErrorCode(), 33);
}

TEST_F(ViewTest, ForwardedPutLeavesItsErrorOnTheView) {
  Fill(2);
  Open(&view, 0x22);
  driver.putError = 89;
  Put(&view);
  EXPECT_EQ(ErrorCode(), 89);
  driver.putError = 0;
  Put(&view);
  EXPECT_EQ(ErrorCode(), 0);
}

TEST_F(ViewTest, PropertiesReadBackAndTextsThatDoNotCompileAreRefusedWhenSet) {
  SetProperty(&view, PROP_VIEW_ORDER, "+MEM:ID, -SUB(MEM:NAME, 1, 2)");
  ASSERT_EQ(ErrorCode(), 0);
  EXPECT_EQ(GetProperty(&view, PROP_VIEW_ORDER), "+MEM:ID, -SUB(MEM:NAME, 1, 2)");
  EXPECT_EQ(GetProperty(&view, PROP_VIEW_ORDER, 2), "-SUB(MEM:NAME, 1, 2)");
  SetProperty(&view, PROP_VIEW_WANTED, "15");
  EXPECT_EQ(GetProperty(&view, PROP_VIEW_WANTED), "15");
  SetProperty(&view, PROP_VIEW_FILTER, "MEM:ID > 3");
  EXPECT_EQ(ErrorCode(), 0);
  // Refused at the write, with the evaluator's number and the place; the
  // filter and order in force stay.
  SetProperty(&view, PROP_VIEW_FILTER, "MEM:IDX > 3");
  EXPECT_EQ(ErrorCode(), 80);
  EXPECT_EQ(FileErrorCode(), "1011");
  EXPECT_EQ(FileError(), "View filter: Unknown field MEM:IDX at 1");
  SetProperty(&view, PROP_VIEW_FILTER, "MEM:ID >");
  EXPECT_EQ(FileErrorCode(), "1010");
  SetProperty(&view, PROP_VIEW_ORDER, "UPPER(MEM:NAME");
  EXPECT_EQ(ErrorCode(), 80);
  EXPECT_EQ(FileErrorCode(), "1010");
  std::string many = "MEM:ID";
  for (int i = 0; i < 32; ++i) many += ",MEM:ID";
  SetProperty(&view, PROP_VIEW_ORDER, many);  // 33 components: a sort key too long
  EXPECT_EQ(FileErrorCode(), "1013");
  EXPECT_EQ(GetProperty(&view, PROP_VIEW_FILTER), "MEM:ID > 3");
  EXPECT_EQ(GetProperty(&view, PROP_VIEW_ORDER), "+MEM:ID, -SUB(MEM:NAME, 1, 2)");
  // Operations the engine does not know.
  Open(&view, 0x22);
  ASSERT_EQ(ErrorCode(), 0);
  Dispatch(OP_BUILDfile, &view);
  EXPECT_EQ(ErrorCode(), 80);
}

TEST_F(ViewTest, JoinWhoseConditionDoesNotCompileFailsAtOpen) {
  ViewJoin join;
  join.file = &file;
  join.expression = "MEM:ID = OTHER:ID";
  structure.joins.push_back(join);
  Open(&view, 0x22);
  EXPECT_EQ(ErrorCode(), 80);
  EXPECT_EQ(FileError(), "View join: Unknown field OTHER:ID at 10");
  Next(&view);
  EXPECT_EQ(ErrorCode(), 37);
}

TEST_F(ViewTest, EveryRefusalOverwritesTheWholeErrorState) {
  // An earlier statement leaves file error texts behind.
  auto dirty = [&] {
    SetProperty(&view, PROP_VIEW_FILTER, "NOPE");
    ASSERT_EQ(ErrorCode(), 80);
    ASSERT_FALSE(FileError().empty());
  };
  dirty();
  Next(&view);  // never opened
  EXPECT_EQ(ErrorCode(), 37);
  EXPECT_EQ(FileError(), "");
  EXPECT_EQ(FileErrorCode(), "");
  dirty();
  Set(static_cast<KeyDescriptor*>(nullptr));
  EXPECT_EQ(ErrorCode(), 37);
  EXPECT_EQ(FileError(), "");
  FileDescriptor flat;
  flat.driver = DriverRecordFor("DOS");
  flat.entry = flat.driver->entry;
  dirty();
  Open(&flat, 0x42);
  EXPECT_EQ(ErrorCode(), 80);
  EXPECT_EQ(FileError(), "");
  FileDescriptor noDriver;
  dirty();
  Open(&noDriver, 0x42);
  EXPECT_EQ(ErrorCode(), 80);
  EXPECT_EQ(FileError(), "");
}

TEST_F(ViewTest, CloseAndThreadEndFreeTheViewsState) {
  Fill(3);
  SetProperty(&view, PROP_VIEW_ORDER, "-MEM:ID");
  SetProperty(&view, PROP_VIEW_WANTED, "9");
  SetProperty(&view, PROP_VIEW_ORDER, "-MEM:NAME");  // a sorted walk
  Open(&view, 0x22);
  EXPECT_EQ(GetProperty(&view, 0x734A), "3");
  // CLOSE releases the walk and its positions; the order and filter stay
  // for the next OPEN of this thread.
  Close(&view);
  EXPECT_EQ(GetProperty(&view, 0x734A), "0");
  EXPECT_EQ(GetProperty(&view, PROP_VIEW_WANTED), "0");
  EXPECT_EQ(GetProperty(&view, PROP_VIEW_ORDER), "-MEM:NAME");
  // A view closed with neither has no state left.
  SetProperty(&view, PROP_VIEW_ORDER, "");
  Close(&view);
  EXPECT_FALSE(ViewHasState(&view));
  // A thread that ends with its view open (or only set up) sends it DESTROY:
  // a later thread whose view lands at the same address starts clean.
  FileDescriptor threadView;
  InitViewDescriptor(&threadView, &structure, "THREADVIEW");
  bool hadState = false;
  std::thread worker([&] {
    SetProperty(&threadView, PROP_VIEW_FILTER, "MEM:ID > 1");
    Open(&threadView, 0x22);
    hadState = ViewHasState(&threadView) && ErrorCode() == 0;
  });
  worker.join();
  EXPECT_TRUE(hadState);
  EXPECT_FALSE(ViewHasState(&threadView));
  EXPECT_EQ(threadView.entry, &ViewBindingEntry);
}

TEST_F(ViewTest, DriversAreAskedForKeysAndToldOfTheViewBracket) {
  Fill(2);
  SetProperty(&view, PROP_VIEW_ORDER, "+MEM:ID");
  Open(&view, 0x22);
  EXPECT_EQ(driver.ops, (std::vector<int32_t>{OP_QUERY_KEY, OP_INVIEW}));
  Close(&view);
  EXPECT_EQ(driver.ops, (std::vector<int32_t>{OP_QUERY_KEY, OP_INVIEW, OP_ENDVIEW}));
  Close(&view);  // closed already: nothing more is sent
  EXPECT_EQ(driver.ops.size(), 3u);
}

TEST_F(ViewTest, ProjectListsChangeOnlyTheirFieldsAndPutWritesTheRecordWhole) {
  driver.rows = {{1, "one"}, {2, "two"}};
  structure.project = {1};  // MEM:ID only
  SetProperty(&view, PROP_VIEW_ORDER, "+MEM:ID");
  Open(&view, 0x22);
  std::memcpy(row.name, "mine    ", 8);
  SetView(&view);
  Next(&view);
  ASSERT_EQ(ErrorCode(), 0);
  EXPECT_EQ(row.id, 1);
  EXPECT_EQ(std::string(row.name, 8), "mine    ");
  // The filter still sees the whole record.
  SetProperty(&view, PROP_VIEW_FILTER, "CLIP(MEM:NAME) = 'two'");
  SetView(&view);
  Next(&view);
  ASSERT_EQ(ErrorCode(), 0);
  EXPECT_EQ(row.id, 2);
  EXPECT_EQ(std::string(row.name, 8), "mine    ");
  Put(&view);
  ASSERT_EQ(ErrorCode(), 0);
  EXPECT_EQ(driver.rows[2], "two     ");
  EXPECT_EQ(std::string(row.name, 8), "mine    ");
}

TEST_F(ViewTest, SortedWalksKeepRecordPointersAboveTwoToThe31) {
  // Record pointers are unsigned 32-bit numbers (here the driver's ids).
  const int32_t high = static_cast<int32_t>(0x80000005u);
  driver.rows = {{1, "c"}, {INT32_MAX, "a"}, {high, "b"}};
  SetProperty(&view, PROP_VIEW_ORDER, "+MEM:NAME");
  Open(&view, 0x22);
  EXPECT_EQ(Read(5, true), (std::vector<int32_t>{INT32_MAX, high, 1}));
  // A record added above the highest pointer is read in.
  driver.rows[high + 1] = "bb";
  SetView(&view);
  EXPECT_EQ(Read(5, true), (std::vector<int32_t>{INT32_MAX, high, high + 1, 1}));
}

}  // namespace
}  // namespace pr::files
