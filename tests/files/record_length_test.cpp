// A declaration whose record length differs from the stored table's: reading
// goes on, writing is refused, and the table's records keep their length.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "files/errors.h"
#include "files/statements.h"
#include "store/driver.h"

namespace pr::files {
namespace {

const FieldDescriptor kFields[] = {
    {.place = 0, .size = 4, .type = TYPE_LONG, .label = "L:ID", .name = {}},
    {.place = 4, .size = 20, .type = TYPE_STRING, .label = "L:NAME", .name = {}},
};
const int32_t kIdComponents[] = {1};

struct Declared {
  uint8_t record[40] = {};
  KeyDescriptor key;
  FileDescriptor fd;
  Declared(const std::string& path, uint32_t length) {
    key.label = "L:IdKey";
    key.componentCount = 1;
    key.components = kIdComponents;
    key.file = &fd;
    fd.label = "L";
    fd.entry = &store::TarnwellEntry;
    fd.record = record;
    fd.recordLength = length;
    fd.declaration.name = path;
    fd.declaration.attributes = ATTR_CREATE;
    fd.declaration.fields = kFields;
    fd.declaration.fieldCount = 2;
    fd.declaration.keyCount = 1;
    fd.keys = &key;
  }
  ~Declared() {
    Close(&fd);
    store::TarnwellEntry(OP_DESTROY, &fd, nullptr);
  }
  void Fill(int32_t id, const char* name) {
    std::memset(record, 'x', sizeof record);
    std::memcpy(record, &id, 4);
    std::memset(record + 4, ' ', 20);
    std::memcpy(record + 4, name, std::strlen(name));
  }
  int32_t Id() const {
    int32_t id;
    std::memcpy(&id, record, 4);
    return id;
  }
};

TEST(RecordLength, AShorterOrLongerDeclarationReadsButDoesNotWrite) {
  char pattern[] = "/tmp/pr_length_XXXXXX";
  const std::string dir = mkdtemp(pattern);
  const std::string path = dir + "/L";
  {
    Declared wide(path, 40);
    Open(&wide.fd, 0x42);
    ASSERT_EQ(ErrorCode(), 0) << FileError();
    wide.Fill(1, "one");
    Add(&wide.fd);
    ASSERT_EQ(ErrorCode(), 0);
  }
  for (uint32_t length : {24u, 36u}) {
    SCOPED_TRACE(length);
    Declared other(path, length);
    Open(&other.fd, 0x42);
    ASSERT_EQ(ErrorCode(), 0) << FileError();
    other.Fill(1, "");
    Get(&other.fd, &other.key);
    EXPECT_EQ(ErrorCode(), 0);
    EXPECT_EQ(other.Id(), 1);
    other.Fill(2, "two");
    Add(&other.fd);
    EXPECT_EQ(ErrorCode(), 47);
    EXPECT_NE(FileError().find("record length"), std::string::npos) << FileError();
    other.Fill(1, "");
    Get(&other.fd, &other.key);
    std::memcpy(other.record + 4, "changed", 7);
    Put(&other.fd);
    EXPECT_EQ(ErrorCode(), 47);
    Delete(&other.fd);
    EXPECT_EQ(ErrorCode(), 47);
  }
  // The table is as the 40-byte program left it.
  Declared wide(path, 40);
  Open(&wide.fd, 0x42);
  ASSERT_EQ(ErrorCode(), 0);
  EXPECT_EQ(Records(&wide.fd), 1);
  wide.Fill(1, "");
  Get(&wide.fd, &wide.key);
  ASSERT_EQ(ErrorCode(), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(wide.record) + 4, 3), "one");
  EXPECT_EQ(wide.record[39], 'x');
  // A longer declaration over a narrower table reads its records padded.
  const std::string narrowPath = dir + "/N";
  {
    Declared narrow(narrowPath, 24);
    Open(&narrow.fd, 0x42);
    narrow.Fill(5, "five");
    Add(&narrow.fd);
    ASSERT_EQ(ErrorCode(), 0);
  }
  Declared longer(narrowPath, 40);
  Open(&longer.fd, 0x42);
  ASSERT_EQ(ErrorCode(), 0);
  longer.Fill(5, "");
  Get(&longer.fd, &longer.key);
  ASSERT_EQ(ErrorCode(), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(longer.record) + 4, 4), "five");
  EXPECT_EQ(longer.record[24], 0);
  longer.Fill(6, "six");
  Add(&longer.fd);
  EXPECT_EQ(ErrorCode(), 47);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace pr::files
