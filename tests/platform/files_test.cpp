// Files through CreateFileA: dispositions, positions, error numbers, the
// system-call table.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/kernel.h"
#include "tests/platform/temp_dir.h"

namespace {
HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}
constexpr DWORD kRW = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

TEST(Files, DispositionsAndTheErrorsTheyLeave) {
  TempDir dir;
  const std::string path = dir.File("a.dat");

  EXPECT_EQ(Open(path, kRW, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(dir.File("no/such/a.dat"), kRW, kShareAll, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Open(dir.File("bad?name"), kRW, kShareAll, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  // A folder is not a file, for writing or for reading.
  EXPECT_EQ(Open(dir.path(), kRW, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Open(dir.path(), GENERIC_READ, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

  HANDLE h = Open(path, kRW, kShareAll, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "hello", 5, &n, nullptr));
  EXPECT_EQ(n, 5u);
  ASSERT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  EXPECT_EQ(Open(path, kRW, kShareAll, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

  h = Open(path, kRW, kShareAll, OPEN_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(GetFileSize(h, nullptr), 5u);
  CloseHandle(h);

  h = Open(path, kRW, kShareAll, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);
  CloseHandle(h);

  // Names match in any letter case, as on Windows.
  h = Open(dir.File("A.DAT"), GENERIC_READ, kShareAll, OPEN_EXISTING);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);

  EXPECT_EQ(Open(path, GENERIC_READ, kShareAll, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Open("", GENERIC_READ, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(Files, ErrorTableMapsTheCommonErrnoValues) {
  EXPECT_EQ(ErrorFromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ErrorFromErrno(ENOTDIR), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(ErrorFromErrno(EACCES), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ErrorFromErrno(EBADF), ERROR_INVALID_HANDLE);
  EXPECT_EQ(ErrorFromErrno(EEXIST), ERROR_FILE_EXISTS);
  EXPECT_EQ(ErrorFromErrno(EINVAL), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ErrorFromErrno(ENOSPC), ERROR_DISK_FULL);
  EXPECT_EQ(ErrorFromErrno(ENAMETOOLONG), ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(ErrorFromErrno(12345), ERROR_GEN_FAILURE);
}

TEST(Files, AccessIsEnforcedPerHandle) {
  TempDir dir;
  const std::string path = dir.File("b.dat");
  HANDLE w = Open(path, GENERIC_WRITE, kShareAll, CREATE_NEW);
  ASSERT_NE(w, INVALID_HANDLE_VALUE);
  char buf[4];
  DWORD n = 99;
  EXPECT_FALSE(ReadFile(w, buf, 4, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(n, 0u);
  HANDLE r = Open(path, GENERIC_READ, kShareAll, OPEN_EXISTING);
  ASSERT_NE(r, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(WriteFile(r, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(SetEndOfFile(r));
  EXPECT_FALSE(FlushFileBuffers(r));
  CloseHandle(w);
  CloseHandle(r);
  EXPECT_FALSE(ReadFile(reinterpret_cast<HANDLE>(0x1234), buf, 4, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Files, PointerPositionalIoAndSize) {
  TempDir dir;
  HANDLE h = Open(dir.File("c.dat"), kRW, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "0123456789", 10, &n, nullptr));
  // Positional I/O leaves the file pointer alone.
  OVERLAPPED at{};
  at.Offset = 2;
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(h, buf, 3, &n, &at));
  EXPECT_EQ(std::string(buf, n), "234");
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 10u);
  // A read at the end answers TRUE with nothing read.
  ASSERT_TRUE(ReadFile(h, buf, 3, &n, nullptr));
  EXPECT_EQ(n, 0u);

  EXPECT_EQ(SetFilePointer(h, -4, nullptr, FILE_END), 6u);
  ASSERT_TRUE(ReadFile(h, buf, 16, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "6789");
  EXPECT_EQ(SetFilePointer(h, -11, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);

  // Without a high part, a position past 32 bits is refused and the pointer
  // stays.
  EXPECT_EQ(SetFilePointer(h, 0x7FFFFFFF, nullptr, FILE_BEGIN), 0x7FFFFFFFu);
  EXPECT_EQ(SetFilePointer(h, 0x7FFFFFFF, nullptr, FILE_CURRENT), 0xFFFFFFFEu);
  EXPECT_EQ(SetFilePointer(h, 2, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 0xFFFFFFFEu);

  // A 64-bit position: 4 GiB + 16, then cut back, without writing data there.
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(h, 16, &high, FILE_BEGIN), 16u);
  EXPECT_EQ(high, 1);
  ASSERT_TRUE(SetEndOfFile(h));
  DWORD sizeHigh = 0;
  EXPECT_EQ(GetFileSize(h, &sizeHigh), 16u);
  EXPECT_EQ(sizeHigh, 1u);
  EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
  ASSERT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, &sizeHigh), 4u);
  EXPECT_EQ(sizeHigh, 0u);
  EXPECT_TRUE(FlushFileBuffers(h));

  FILETIME set{0x12345600u, 0x01D00000u};
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &set));
  FILETIME got{};
  ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &got));
  EXPECT_EQ(got.dwHighDateTime, set.dwHighDateTime);
  EXPECT_EQ(got.dwLowDateTime, set.dwLowDateTime);
  CloseHandle(h);
}

TEST(Files, DeleteMoveAndAttributes) {
  TempDir dir;
  const std::string a = dir.File("a.dat");
  const std::string b = dir.File("b.dat");
  EXPECT_FALSE(DeleteFileA(a.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(DeleteFileA(dir.File("x/y").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesA(a.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA(dir.path().c_str()), FILE_ATTRIBUTE_DIRECTORY);

  HANDLE h = Open(a, kRW, FILE_SHARE_READ, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // Open without FILE_SHARE_DELETE: neither delete nor move.
  EXPECT_FALSE(DeleteFileA(a.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(MoveFileA(a.c_str(), b.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  CloseHandle(h);

  ASSERT_TRUE(MoveFileA(a.c_str(), b.c_str()));
  EXPECT_EQ(GetFileAttributesA(b.c_str()), FILE_ATTRIBUTE_NORMAL);
  CloseHandle(Open(a, kRW, kShareAll, CREATE_NEW));
  EXPECT_FALSE(MoveFileA(a.c_str(), b.c_str()));  // never replaces
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(DeleteFileA(a.c_str()));
  EXPECT_TRUE(DeleteFileA("\\nonexistent-folder-pr\\x") == FALSE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

// Fault injection: a write that stops short is finished by a second call; a
// write that fails leaves the error and the count written so far.
int g_writeCalls = 0;
long ShortThenFailingWrite(int fd, const void* buf, size_t n, int64_t offset) {
  ++g_writeCalls;
  if (g_writeCalls == 1) return ::pwrite(fd, buf, n > 3 ? 3 : n, offset);
  if (g_writeCalls == 2) return ::pwrite(fd, buf, n, offset);
  errno = ENOSPC;
  return -1;
}
long OverClaimingRead(int, void*, size_t n, int64_t) { return static_cast<long>(n) + 100; }
int FailingSync(int) {
  errno = EIO;
  return -1;
}

TEST(Files, SyscallTableInjectsFaults) {
  TempDir dir;
  HANDLE h = Open(dir.File("d.dat"), kRW, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  g_writeCalls = 0;
  PlatformFileSyscalls().pwrite = ShortThenFailingWrite;
  PlatformFileSyscalls().fdatasync = FailingSync;
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "abcdefgh", 8, &n, nullptr));
  EXPECT_EQ(n, 8u);
  EXPECT_EQ(g_writeCalls, 2);
  EXPECT_FALSE(WriteFile(h, "ij", 2, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(FlushFileBuffers(h));
  EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
  // A read call that claims more than it was asked for is an I/O error, not
  // a count to trust.
  PlatformFileSyscalls().pread = OverClaimingRead;
  char buf[4];
  OVERLAPPED at{};
  EXPECT_FALSE(ReadFile(h, buf, sizeof buf, &n, &at));
  EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
  EXPECT_EQ(n, 0u);
  ResetPlatformFileSyscalls();
  EXPECT_TRUE(FlushFileBuffers(h));
  EXPECT_EQ(GetFileSize(h, nullptr), 8u);
  CloseHandle(h);
}
}  // namespace

namespace {
TEST(Files, AnsiNamesAreUtf8OnDisk) {
  TempDir dir;
  // "Košar.dat" in Windows-1250 is "Košar.dat" in UTF-8 in the folder.
  const std::string ansiName = dir.path() + "\\Ko\x9A" "ar.dat";
  HANDLE h = CreateFileA(ansiName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  struct stat st {};
  EXPECT_EQ(stat((dir.path() + "/Ko\xC5\xA1" "ar.dat").c_str(), &st), 0);
  EXPECT_TRUE(DeleteFileA(ansiName.c_str()));
}
}  // namespace

// The fault file system under every file call: chosen failures, a power loss
// that keeps only what the last sync covered (or more, in the patterns a
// disk may leave), and the locks of a process that died.
#include "platform/fault_file_system.h"

namespace {
std::string Contents(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

class FaultFiles : public ::testing::Test {
 protected:
  void SetUp() override { prk::InstallFileSystem(&fs_); }
  void TearDown() override { prk::InstallFileSystem(nullptr); }
  bool WriteAt(HANDLE h, const std::string& text, uint32_t offset) {
    OVERLAPPED at{};
    at.Offset = offset;
    DWORD n = 0;
    return WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, &at);
  }
  TempDir dir_;
  prk::FaultFileSystem fs_;
};

TEST_F(FaultFiles, ChosenCallsFailWithTheirErrors) {
  fs_.FailCall(prk::FaultFileSystem::kOpen, 1, EACCES);
  EXPECT_EQ(Open(dir_.File("f.dat"), kRW, kShareAll, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  HANDLE h = Open(dir_.File("f.dat"), kRW, kShareAll, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  fs_.ResetCounts();
  fs_.FailCall(prk::FaultFileSystem::kWrite, 2, ENOSPC, /*fromThenOn=*/true);
  EXPECT_TRUE(WriteAt(h, "one", 0));
  EXPECT_FALSE(WriteAt(h, "two", 3));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_FALSE(WriteAt(h, "three", 3));
  fs_.FailCall(prk::FaultFileSystem::kSync, 1, EIO);
  EXPECT_FALSE(FlushFileBuffers(h));
  EXPECT_TRUE(FlushFileBuffers(h));
  fs_.FailCall(prk::FaultFileSystem::kLock, 1, ENOLCK);
  EXPECT_FALSE(LockFile(h, 0x80000000u, 0, 1, 0));
  EXPECT_TRUE(LockFile(h, 0x80000000u, 0, 1, 0));
  EXPECT_EQ(fs_.Count(prk::FaultFileSystem::kWrite), 3);
  // Mappings are refused, so that reads meet the faults.
  if (HANDLE mapping = CreateFileMappingA(h, nullptr, PAGE_READONLY, 0, 0, nullptr)) {
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0), nullptr);
    CloseHandle(mapping);
  }
  CloseHandle(h);
}

TEST_F(FaultFiles, PowerLossKeepsWhatTheLastSyncCovered) {
  using Loss = prk::FaultFileSystem::Loss;
  const std::string path = dir_.File("p.dat");
  HANDLE h = Open(path, kRW, kShareAll, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const std::string synced(1024, 's');
  ASSERT_TRUE(WriteAt(h, synced, 0));
  ASSERT_TRUE(FlushFileBuffers(h));
  const std::string sector(512, 'n');
  ASSERT_TRUE(WriteAt(h, sector + sector, 0));  // two sectors over synced data
  ASSERT_TRUE(WriteAt(h, "tail", 1024));         // growth
  ASSERT_EQ(fs_.UnsyncedChanges(), 2u);

  fs_.PowerLoss(Loss::kDropAll, 1);
  EXPECT_EQ(Contents(path), synced);
  EXPECT_EQ(fs_.UnsyncedChanges(), 0u);

  ASSERT_TRUE(WriteAt(h, sector + sector, 0));
  ASSERT_TRUE(WriteAt(h, "tail", 1024));
  fs_.PowerLoss(Loss::kKeepAll, 1);
  EXPECT_EQ(Contents(path), sector + sector + "tail");

  // Torn and reordered writes keep whole sectors, each of which holds either
  // its old or its new bytes.
  ASSERT_TRUE(WriteAt(h, synced, 0));
  ASSERT_TRUE(SetFilePointerEx(h, 1024, nullptr, FILE_BEGIN) && SetEndOfFile(h));
  ASSERT_TRUE(FlushFileBuffers(h));
  bool sawMix = false;
  for (Loss loss : {Loss::kPrefixTorn, Loss::kRandomSubset, Loss::kRandomSectors, Loss::kReordered}) {
    for (uint32_t seed = 1; seed <= 8; ++seed) {
      ASSERT_TRUE(WriteAt(h, sector + sector, 0));
      fs_.PowerLoss(loss, seed);
      const std::string now = Contents(path);
      ASSERT_EQ(now.size(), 1024u);
      for (size_t s = 0; s < 2; ++s) {
        std::string part = now.substr(s * 512, 512);
        EXPECT_TRUE(part == std::string(512, 's') || part == sector) << static_cast<int>(loss) << " " << seed;
      }
      sawMix |= now.substr(0, 512) != now.substr(512, 512);
      ASSERT_TRUE(WriteAt(h, synced, 0));
      ASSERT_TRUE(FlushFileBuffers(h));
    }
  }
  EXPECT_TRUE(sawMix);
  CloseHandle(h);
}

TEST_F(FaultFiles, LocksOfADeadProcessAreFreed) {
  const std::string path = dir_.File("l.dat");
  HANDLE holder = Open(path, kRW, kShareAll, CREATE_NEW);
  HANDLE other = Open(path, kRW, kShareAll, OPEN_EXISTING);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(LockFile(holder, 0x80000000u, 0, 1023, 0));
  ASSERT_TRUE(LockFile(holder, 0x80000000u + 1023, 0, 1, 0));
  EXPECT_FALSE(LockFile(other, 0x80000000u + 1023, 0, 1, 0));
  EXPECT_EQ(fs_.LocksHeld(), 2u);
  fs_.ReleaseLocksOfDeadProcess();
  EXPECT_EQ(fs_.LocksHeld(), 0u);
  EXPECT_TRUE(LockFile(other, 0x80000000u + 1023, 0, 1, 0));
  EXPECT_TRUE(LockFile(other, 0x80000000u + 5, 0, 1, 0));
  CloseHandle(holder);
  CloseHandle(other);
}
}  // namespace
