// Share modes and byte-range locks between handles of one process and
// between processes.
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/kernel.h"
#include "tests/platform/temp_dir.h"

namespace {
constexpr DWORD kRW = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareRW = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE Open(const std::string& path, DWORD access, DWORD share) {
  return CreateFileA(path.c_str(), access, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Runs `body` in a forked child and answers its result: 0 when every step
// went as expected, otherwise the number of the first step that did not.
int InChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

// Opens in the calling process and answers the error it left (0 when it
// opened; the handle is closed again).
DWORD TryOpen(const std::string& path, DWORD access, DWORD share) {
  HANDLE h = Open(path, access, share);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(h);
  return 0;
}

struct ShareCase {
  DWORD firstAccess, firstShare, secondAccess, secondShare;
  DWORD expected;
};

TEST(Sharing, ShareModesDecideLikeWindows) {
  TempDir dir;
  const std::string path = dir.File("share.dat");
  const ShareCase cases[] = {
      {kRW, kShareRW, kRW, kShareRW, 0},                                     // deny none both
      {kRW, FILE_SHARE_READ, GENERIC_WRITE, kShareRW, ERROR_SHARING_VIOLATION},  // deny write vs writer
      {kRW, FILE_SHARE_READ, GENERIC_READ, kShareRW, 0},                     // deny write lets a reader in
      {kRW, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, ERROR_SHARING_VIOLATION},  // reader denies the writer
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, 0},     // two deny-write readers
      {kRW, 0, GENERIC_READ, kShareRW, ERROR_SHARING_VIOLATION},             // deny all
      {kRW, FILE_SHARE_WRITE, GENERIC_READ, kShareRW, ERROR_SHARING_VIOLATION},  // deny read
      {kRW, FILE_SHARE_WRITE, GENERIC_WRITE, kShareRW, 0},
      {kRW, 0, 0, 0, 0},                                                     // no access: not checked
      {0, 0, kRW, kShareRW, 0},
  };
  int i = 0;
  for (const ShareCase& c : cases) {
    SCOPED_TRACE(i++);
    HANDLE first = Open(path, c.firstAccess, c.firstShare);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    // Another handle of this process, and another process, meet the same rule.
    EXPECT_EQ(TryOpen(path, c.secondAccess, c.secondShare), c.expected);
    EXPECT_EQ(InChild([&] { return static_cast<int>(TryOpen(path, c.secondAccess, c.secondShare)); }),
              static_cast<int>(c.expected));
    CloseHandle(first);
    // Closing the first open ends its denials.
    EXPECT_EQ(TryOpen(path, c.secondAccess, c.secondShare), 0u);
  }
}

TEST(Sharing, RefusedCreateAlwaysDoesNotTruncate) {
  TempDir dir;
  const std::string path = dir.File("keep.dat");
  HANDLE first = Open(path, kRW, FILE_SHARE_READ);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(first, "data", 4, &n, nullptr));
  HANDLE second = CreateFileA(path.c_str(), kRW, kShareRW, nullptr, CREATE_ALWAYS, 0, nullptr);
  EXPECT_EQ(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(GetFileSize(first, nullptr), 4u);
  CloseHandle(first);
}

TEST(Sharing, ConcurrentOpenersNeverBothGetExclusiveAccess) {
  TempDir dir;
  const std::string path = dir.File("race.dat");
  CloseHandle(Open(path, kRW, kShareRW));
  // Two processes race 200 times for a deny-all open while holding it for a
  // moment; the holder marks the file, and a second holder would see the mark.
  auto racer = [&] {
    for (int round = 0; round < 200; ++round) {
      HANDLE h = Open(path, kRW, 0);
      if (h == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_SHARING_VIOLATION) return 1;
        continue;
      }
      DWORD n = 0;
      char mark = 0;
      OVERLAPPED at{};
      if (!ReadFile(h, &mark, 1, &n, &at)) return 2;
      if (n == 1 && mark == 'X') return 3;  // someone else holds it too
      if (!WriteFile(h, "X", 1, &n, &at)) return 4;
      if (!WriteFile(h, "-", 1, &n, &at)) return 5;
      CloseHandle(h);
    }
    return 0;
  };
  pid_t other = fork();
  if (other == 0) _exit(racer());
  int mine = racer();
  int status = 0;
  waitpid(other, &status, 0);
  EXPECT_EQ(mine, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

constexpr DWORD kLockBase = 0x80000000u;

TEST(Sharing, ByteLocksBetweenHandlesAndProcesses) {
  TempDir dir;
  const std::string path = dir.File("locks.dat");
  HANDLE a = Open(path, kRW, kShareRW);
  HANDLE b = Open(path, kRW, kShareRW);
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  ASSERT_NE(b, INVALID_HANDLE_VALUE);

  ASSERT_TRUE(LockFile(a, kLockBase + 10, 0, 5, 0));
  // A second handle of the same process is refused, as on Windows.
  EXPECT_FALSE(LockFile(b, kLockBase + 12, 0, 1, 0));
  EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
  EXPECT_TRUE(LockFile(b, kLockBase + 15, 0, 1, 0));  // the byte after is free
  EXPECT_TRUE(UnlockFile(b, kLockBase + 15, 0, 1, 0));
  // The same handle cannot lock over its own lock, nor unlock a part of it.
  EXPECT_FALSE(LockFile(a, kLockBase + 14, 0, 2, 0));
  EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
  EXPECT_FALSE(UnlockFile(a, kLockBase + 10, 0, 1, 0));
  EXPECT_EQ(GetLastError(), ERROR_NOT_LOCKED);

  auto childTries = [&](DWORD offset) {
    return InChild([&] {
      HANDLE h = Open(path, kRW, kShareRW);
      if (h == INVALID_HANDLE_VALUE) return 1;
      if (LockFile(h, offset, 0, 1, 0)) return 0;
      return GetLastError() == ERROR_LOCK_VIOLATION ? 33 : 2;
    });
  };
  EXPECT_EQ(childTries(kLockBase + 11), 33);
  EXPECT_EQ(childTries(kLockBase + 9), 0);

  ASSERT_TRUE(UnlockFile(a, kLockBase + 10, 0, 5, 0));
  EXPECT_EQ(childTries(kLockBase + 11), 0);
  EXPECT_TRUE(LockFile(b, kLockBase + 11, 0, 1, 0));

  // Closing a handle frees its locks and only its locks.
  ASSERT_TRUE(LockFile(a, kLockBase + 20, 0, 1, 0));
  ASSERT_TRUE(CloseHandle(b));
  EXPECT_EQ(childTries(kLockBase + 11), 0);
  EXPECT_EQ(childTries(kLockBase + 20), 33);
  CloseHandle(a);
  EXPECT_EQ(childTries(kLockBase + 20), 0);
}

TEST(Sharing, LocksOnHighOffsetsAndReadOnlyHandles) {
  TempDir dir;
  const std::string path = dir.File("high.dat");
  HANDLE w = Open(path, kRW, kShareRW);
  HANDLE r = Open(path, GENERIC_READ, kShareRW);
  ASSERT_NE(w, INVALID_HANDLE_VALUE);
  ASSERT_NE(r, INVALID_HANDLE_VALUE);
  // Offsets above 4 GiB.
  ASSERT_TRUE(LockFile(r, 0x100, 1, 1, 0));
  EXPECT_FALSE(LockFile(w, 0x100, 1, 1, 0));
  EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
  EXPECT_TRUE(LockFile(w, 0x100, 0, 1, 0));  // same low part, 4 GiB lower
  // The share-mode area is not for callers.
  EXPECT_FALSE(LockFile(w, 0, 0x40000000u, 1, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CloseHandle(w);
  CloseHandle(r);
}
}  // namespace
