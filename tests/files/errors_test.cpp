#include "files/errors.h"

#include <gtest/gtest.h>

#include <thread>

#include "files/message_table.h"
#include "files/structure_check.h"
#include "platform/kernel.h"

namespace pr::files {
namespace {

class ErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearMessageOverrides();
    ClearError();
  }
  void TearDown() override { ClearMessageOverrides(); }
};

TEST_F(ErrorsTest, ClearLeavesCodeZeroAndBlankTexts) {
  SetErrorCode(35);
  SetFileError("X1", "driver text");
  SetErrorFile(reinterpret_cast<FileDescriptor*>(this));
  ClearError();
  EXPECT_EQ(0, ErrorCode());
  EXPECT_EQ("", Error());
  EXPECT_EQ("", FileErrorCode());
  EXPECT_EQ("", FileError());
  EXPECT_EQ(nullptr, ErrorFile());
}

TEST_F(ErrorsTest, MessageLookupRules) {
  EXPECT_EQ("Record Not Found", MessageText(35));
  EXPECT_EQ("Not Supported ", MessageText(350));  // the trailing blank is part of the text
  EXPECT_EQ("Unknown Error Posted", MessageText(0));
  EXPECT_EQ("Unknown Error Posted : 100", MessageText(100));
  EXPECT_EQ("Unknown Error Posted : 314", MessageText(314));
  EXPECT_EQ("Unknown Error Posted : -7", MessageText(-7));
  EXPECT_EQ("Attempt to execute a modal event for not current thread", MessageText(545));

  AddMessageOverride(35, "Zapis nije na\x9A" "en");
  AddMessageOverride(81, "Nepoznata gre\x9A" "ka");
  EXPECT_EQ("Zapis nije na\x9A" "en", MessageText(35));
  EXPECT_EQ("Nepoznata gre\x9A" "ka : 100", MessageText(100));
  AddMessageOverride(35, "second");  // replaces, does not add
  EXPECT_STREQ("second", FindMessageOverride(35));
  ClearMessageOverrides();
  EXPECT_EQ(nullptr, FindMessageOverride(35));

  // An over-long override is cut at 255 characters.
  AddMessageOverride(36, std::string(400, 'x'));
  EXPECT_EQ(255u, MessageText(36).size());
}

TEST_F(ErrorsTest, TableIsSortedUniqueAndCoversTheCatalogue) {
  size_t count = 0;
  const StringTableEntry* table = pr::ModuleStringTable(&count);
  ASSERT_GT(count, 150u);
  for (size_t i = 1; i < count; ++i) EXPECT_LT(table[i - 1].id, table[i].id) << table[i].id;
  for (UINT id : {2u, 97u, 301u, 391u, 401u, 412u, 502u, 545u}) {
    EXPECT_EQ(std::string::npos, MessageText(static_cast<int32_t>(id)).find("Unknown Error Posted")) << id;
  }
}

TEST_F(ErrorsTest, SetCodeZeroTakesTheOperatingSystemError) {
  SetLastError(3);
  SetErrorCode(0);
  EXPECT_EQ(303, ErrorCode());
  EXPECT_EQ("Path Not Found", Error());
  SetErrorFile(reinterpret_cast<FileDescriptor*>(this));
  SetErrorCode(40);  // a new code clears the error file
  EXPECT_EQ(nullptr, ErrorFile());
  EXPECT_EQ("Creates Duplicate Key", Error());
}

TEST_F(ErrorsTest, FileErrorTextsAndAppend) {
  SetFileError("   E42", "   leading spaces go");
  EXPECT_EQ("E42", FileErrorCode());
  EXPECT_EQ("leading spaces go", FileError());
  SetFileError("E43", nullptr);
  EXPECT_EQ("File System Error : E43", FileError());
  SetFileError(std::string(100, 'c'), std::string(300, 'm').c_str());
  EXPECT_EQ(80u, FileErrorCode().size());
  EXPECT_EQ(255u, FileError().size());

  SetErrorCode(2);
  AppendErrorText(": PARTNERI.TWL");
  EXPECT_EQ("File Not Found: PARTNERI.TWL", Error());
  AppendErrorText(std::string(300, 'z'));
  EXPECT_EQ(255u, Error().size());
}

TEST_F(ErrorsTest, SaveFailRestoreNests) {
  SetErrorCode(35);
  SetFileError("A", "first");
  SetLastError(5);
  SaveErrors();
  ClearError();
  SaveErrors();  // an inner save of the clear state
  SetLastError(2);
  SetErrorCode(0);
  SetFileError("B", "second");
  EXPECT_EQ(302, ErrorCode());
  RestoreErrors();
  EXPECT_EQ(0, ErrorCode());
  RestoreErrors();
  EXPECT_EQ(35, ErrorCode());
  EXPECT_EQ("Record Not Found", Error());
  EXPECT_EQ("A", FileErrorCode());
  EXPECT_EQ("first", FileError());
  EXPECT_EQ(5u, GetLastError());
  RestoreErrors();  // nothing saved: no change
  EXPECT_EQ(35, ErrorCode());
}

TEST_F(ErrorsTest, StateIsPerThread) {
  SetErrorCode(33);
  int32_t other = -1;
  std::thread([&] {
    other = ErrorCode();
    SetErrorCode(40);
  }).join();
  EXPECT_EQ(0, other);
  EXPECT_EQ(33, ErrorCode());
}

TEST_F(ErrorsTest, StructureCheckTexts) {
  EXPECT_EQ(47, StructureCheck(CHECK_FIELD, 2, nullptr, 2, CHECK_GROUP_D));
  EXPECT_EQ("FIELD : 2 : TYPE : D00003", FileErrorCode());
  EXPECT_EQ("Data type not supported", FileError());

  // The same check in group S, and the override numbers of both groups.
  StructureCheck(CHECK_FIELD, 2, nullptr, 2, CHECK_GROUP_S);
  EXPECT_EQ("No Type Specified", FileError());
  AddMessageOverride(220003, "Tip nije podr\x9A" "an");
  StructureCheck(CHECK_FIELD, 2, nullptr, 2, CHECK_GROUP_D);
  EXPECT_EQ("Tip nije podr\x9A" "an", FileError());
  StructureCheck(CHECK_FIELD, 2, nullptr, 2, CHECK_GROUP_S);
  EXPECT_EQ("No Type Specified", FileError());
  AddMessageOverride(120003, "S override");
  StructureCheck(CHECK_FIELD, 2, nullptr, 2, CHECK_GROUP_S);
  EXPECT_EQ("S override", FileError());

  // A ready-made message wins; an index beyond the list is "Unknown Error".
  StructureCheck(CHECK_KEY, 100, "SIZE", 1, CHECK_GROUP_D, "Key components are more than a total of 7526 bytes long");
  EXPECT_EQ("KEY : 1 : SIZE : D00101", FileErrorCode());
  EXPECT_EQ("Key components are more than a total of 7526 bytes long", FileError());
  StructureCheck(CHECK_KEY, 3, nullptr, 2, CHECK_GROUP_D);
  EXPECT_EQ("KEY : 2 : UNKNOWN : D00004", FileErrorCode());
  EXPECT_EQ("Unknown Error", FileError());
  StructureCheck(CHECK_KEY, 3, nullptr, 2, CHECK_GROUP_S);
  EXPECT_EQ("Key is defined as PRIMARY and DUP", FileError());

  // Category above 6 reports as SYSTEM; UNKNOWN has no messages.
  StructureCheck(9, 0, "X", 0, CHECK_GROUP_S);
  EXPECT_EQ("SYSTEM : 0 : X : S00001", FileErrorCode());
  EXPECT_EQ("Unknown Error", FileError());
  StructureCheck(CHECK_UNKNOWN, 0, "Y", 0, CHECK_GROUP_S);
  EXPECT_EQ("UNKNOWN : 0 : Y : S00001", FileErrorCode());
  EXPECT_EQ("Unknown Error", FileError());

  StructureCheck(CHECK_COMPONENT, 1, nullptr, 2001, CHECK_GROUP_D);
  EXPECT_EQ("COMPONENT : 2001 : ASCENDING : D00002", FileErrorCode());
  EXPECT_EQ("Driver does not support Descending Key Components", FileError());
  StructureCheck(CHECK_MEMO, 6, nullptr, 1, CHECK_GROUP_D);
  EXPECT_EQ("MEMO/BLOB : 1 : BINARY : D00007", FileErrorCode());

  // The caller's SetErrorCode(47) keeps the texts.
  SetErrorCode(47);
  EXPECT_EQ("Invalid Record Declaration", Error());
  EXPECT_EQ("MEMO/BLOB : 1 : BINARY : D00007", FileErrorCode());
}

TEST_F(ErrorsTest, DynamicFileSupportMissing) {
  FileDescriptor* file = nullptr;
  EXPECT_FALSE(ChangeFile(file));
  EXPECT_EQ(47, ErrorCode());
  EXPECT_EQ("SYSTEM : 0 : Driver : S00002", FileErrorCode());
  EXPECT_EQ("Dynamic File Support Not Found", FileError());
  ClearError();
  EXPECT_FALSE(ChangeDriver(file, nullptr));
  EXPECT_EQ("Dynamic File Support Not Found", FileError());
}

}  // namespace
}  // namespace pr::files
