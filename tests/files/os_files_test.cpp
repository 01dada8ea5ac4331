#include "files/os_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "files/errors.h"
#include "platform/kernel.h"
#include "resources/module_resources.h"

namespace pr::files {
namespace {

class OsFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pr_files_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
  }
  void TearDown() override {
    for (const char* name : {"a.dat", "b.dat", "ro.dat"}) std::remove(Path(name).c_str());
    rmdir(dir_.c_str());
  }
  std::string Path(const char* name) const { return dir_ + "/" + name; }

  std::string dir_;
};

TEST_F(OsFilesTest, MissingFilesAndPathsMapToTheirCodes) {
  HANDLE handle = nullptr;
  EXPECT_EQ(2, OsOpen(Path("none.dat").c_str(), 2, &handle));
  EXPECT_EQ(INVALID_HANDLE_VALUE, handle);
  EXPECT_EQ(3, OsOpen(Path("no/such/dir.dat").c_str(), 0, &handle));
  EXPECT_EQ(2, OsExists(Path("none.dat").c_str()));
  EXPECT_NE(0, OsDelete(Path("none.dat").c_str()));

  // What a driver makes of it: the OS number plus 300.
  SetLastError(3);
  SetErrorCode(0);
  EXPECT_EQ(303, ErrorCode());
  EXPECT_EQ("Path Not Found", Error());
}

TEST_F(OsFilesTest, CreateWriteReadSeekTruncateRename) {
  HANDLE h = nullptr;
  ASSERT_EQ(0, OsCreate(Path("a.dat").c_str(), 0, &h));
  uint32_t done = 0;
  ASSERT_EQ(0, OsWrite(h, "0123456789", 10, &done));
  EXPECT_EQ(10u, done);
  int64_t at = -1;
  EXPECT_EQ(0, OsTell(h, &at));
  EXPECT_EQ(10, at);
  EXPECT_EQ(0, OsSeek(h, 4, FILE_BEGIN, &at));
  EXPECT_EQ(4, at);
  EXPECT_EQ(0, OsTruncate(h));
  int64_t size = 0;
  EXPECT_EQ(0, OsSize(h, &size));
  EXPECT_EQ(4, size);
  EXPECT_EQ(0, OsSeek(h, 0, FILE_BEGIN, nullptr));
  char buffer[16] = {};
  EXPECT_EQ(0, OsRead(h, buffer, sizeof buffer, &done));
  EXPECT_EQ(4u, done);  // a short count is the caller's to judge
  EXPECT_EQ("0123", std::string(buffer, done));
  EXPECT_EQ(0, OsFlush(h));
  EXPECT_EQ(0, OsClose(h));

  EXPECT_EQ(0, OsRename(Path("a.dat").c_str(), Path("b.dat").c_str()));
  EXPECT_EQ(0, OsExists(Path("b.dat").c_str()));
  EXPECT_EQ(2, OsExists(Path("a.dat").c_str()));
  EXPECT_EQ(0, OsDelete(Path("b.dat").c_str()));
}

TEST_F(OsFilesTest, SharingViolationIsAccessDeniedAndLocksConflict) {
  HANDLE first = nullptr;
  ASSERT_EQ(0, OsCreate(Path("a.dat").c_str(), 0, &first));
  OsClose(first);
  ASSERT_EQ(0, OsOpen(Path("a.dat").c_str(), 0x12, &first));  // deny all
  HANDLE second = nullptr;
  EXPECT_EQ(5, OsOpen(Path("a.dat").c_str(), 0x40, &second));
  OsClose(first);

  ASSERT_EQ(0, OsOpen(Path("a.dat").c_str(), 0x42, &first));
  ASSERT_EQ(0, OsOpen(Path("a.dat").c_str(), 0x42, &second));
  EXPECT_EQ(0, OsLock(first, 0x80000000u, 1));
  EXPECT_EQ(33, OsLock(second, 0x80000000u, 1));
  EXPECT_EQ(0, OsUnlock(first, 0x80000000u, 1));
  EXPECT_EQ(0, OsLock(second, 0x80000000u, 1));
  OsClose(first);
  OsClose(second);
}

TEST_F(OsFilesTest, FileTimeRoundTripsAsDosWords) {
  HANDLE h = nullptr;
  ASSERT_EQ(0, OsCreate(Path("a.dat").c_str(), 0, &h));
  // 14 March 2021, 09:26:52.
  const uint16_t date = static_cast<uint16_t>(((2021 - 1980) << 9) | (3 << 5) | 14);
  const uint16_t time = static_cast<uint16_t>((9 << 11) | (26 << 5) | (52 / 2));
  ASSERT_EQ(0, OsSetTime(h, date, time));
  uint16_t gotDate = 0;
  uint16_t gotTime = 0;
  ASSERT_EQ(0, OsGetTime(h, &gotDate, &gotTime));
  EXPECT_EQ(date, gotDate);
  EXPECT_EQ(time, gotTime);
  EXPECT_EQ(87, OsSetTime(h, static_cast<uint16_t>((41 << 9) | (13 << 5) | 1), 0));  // month 13
  OsClose(h);
}

TEST(StringTable, RegisteredTableIsReadWithLoadString) {
  HMODULE self = ModuleFromAddress(reinterpret_cast<const void*>(&MessageText));
  pr::RegisterModuleResources(self);
  char buffer[64];
  ASSERT_EQ(14, LoadStringA(self, 303, buffer, sizeof buffer));
  EXPECT_STREQ("Path Not Found", buffer);
  EXPECT_EQ("Invalid Record Declaration", MessageText(47));
  EXPECT_EQ("Unknown Error Posted : 100", MessageText(100));
}

}  // namespace
}  // namespace pr::files
