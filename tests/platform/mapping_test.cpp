// Read-only mappings: what a view shows, how it follows writes, and that a
// file cut shorter than its view makes a copy fail instead of killing us.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/kernel.h"
#include "tests/platform/temp_dir.h"

namespace {
constexpr DWORD kRW = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE OpenRW(const std::string& path) {
  return CreateFileA(path.c_str(), kRW, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void WriteAt(HANDLE h, uint64_t offset, const std::vector<uint8_t>& bytes) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, &at));
}

TEST(Mapping, ViewShowsTheFileAndLaterWritesOutlivingItsHandles) {
  TempDir dir;
  HANDLE file = OpenRW(dir.File("m.dat"));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  // An empty file cannot be mapped.
  EXPECT_EQ(CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_INVALID);

  std::vector<uint8_t> bytes(10000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  WriteAt(file, 0, bytes);
  EXPECT_EQ(CreateFileMappingA(file, nullptr, 0x04, 0, 0, nullptr), nullptr);  // writable: not offered
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 100, 0), nullptr);  // not page aligned
  auto* view = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(ViewSize(view), bytes.size());
  EXPECT_TRUE(CloseHandle(mapping));
  EXPECT_TRUE(CloseHandle(file));

  std::vector<uint8_t> out(bytes.size());
  ASSERT_TRUE(CopyFromView(out.data(), view, out.size()));
  EXPECT_EQ(out, bytes);

  // A write through another handle shows in the view at once.
  HANDLE writer = OpenRW(dir.File("m.dat"));
  WriteAt(writer, 4096, {1, 2, 3, 4});
  uint8_t four[4];
  ASSERT_TRUE(CopyFromView(four, view + 4096, 4));
  EXPECT_EQ(std::memcmp(four, "\x01\x02\x03\x04", 4), 0);
  CloseHandle(writer);

  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_FALSE(UnmapViewOfFile(view));
  EXPECT_EQ(ViewSize(view), 0u);
}

TEST(Mapping, CopyFromAFileCutShorterFailsInsteadOfCrashing) {
  TempDir dir;
  HANDLE file = OpenRW(dir.File("cut.dat"));
  WriteAt(file, 0, std::vector<uint8_t>(3 * 4096, 0xAB));
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  auto* view = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(truncate(dir.File("cut.dat").c_str(), 4096), 0);

  uint8_t buffer[64];
  ASSERT_TRUE(CopyFromView(buffer, view, sizeof buffer));
  EXPECT_EQ(buffer[63], 0xAB);
  for (int attempt = 0; attempt < 3; ++attempt) {  // the guard re-arms every time
    SetLastError(0);
    EXPECT_FALSE(CopyFromView(buffer, view + 2 * 4096, sizeof buffer));
    EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
  }
  ASSERT_TRUE(CopyFromView(buffer, view + 100, sizeof buffer));
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  CloseHandle(file);
}

TEST(Mapping, RefusedWhileReadsAreReplacedByATest) {
  TempDir dir;
  HANDLE file = OpenRW(dir.File("f.dat"));
  WriteAt(file, 0, std::vector<uint8_t>(512, 1));
  PlatformFileSyscalls().pread = [](int, void*, size_t, int64_t) -> long { return -1; };
  EXPECT_EQ(CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  ResetPlatformFileSyscalls();
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  EXPECT_NE(mapping, nullptr);
  CloseHandle(mapping);
  CloseHandle(file);
}

}  // namespace
