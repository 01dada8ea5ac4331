// Files: CreateFileA and the calls on file handles, through the installed
// file system (platform/file_system.h).
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/file_system.h"
#include "platform/kernel_file_object.h"
#include "platform/kernel_paths.h"

namespace {
long RealPread(int fd, void* buf, size_t n, int64_t offset) { return ::pread(fd, buf, n, offset); }
long RealPwrite(int fd, const void* buf, size_t n, int64_t offset) { return ::pwrite(fd, buf, n, offset); }
int RealFdatasync(int fd) { return ::fdatasync(fd); }
int RealFtruncate(int fd, int64_t length) { return ::ftruncate(fd, length); }

constexpr FileSyscalls kRealSyscalls{RealPread, RealPwrite, RealFdatasync, RealFtruncate};
FileSyscalls g_syscalls = kRealSyscalls;

constexpr int64_t kMaxOffset = std::numeric_limits<int64_t>::max();

// Offset 1601-01-01 to 1970-01-01 in 100-nanosecond units.
constexpr uint64_t kEpochDifference = 116444736000000000ull;

FILETIME ToFileTime(const struct timespec& ts) {
  uint64_t ticks = kEpochDifference + static_cast<uint64_t>(ts.tv_sec) * 10000000ull +
                   static_cast<uint64_t>(ts.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

struct timespec FromFileTime(const FILETIME* ft) {
  struct timespec ts {};
  if (ft == nullptr || (ft->dwLowDateTime == 0xFFFFFFFFu && ft->dwHighDateTime == 0xFFFFFFFFu)) {
    ts.tv_nsec = UTIME_OMIT;
    return ts;
  }
  uint64_t ticks = (uint64_t{ft->dwHighDateTime} << 32) | ft->dwLowDateTime;
  if (ticks < kEpochDifference) ticks = kEpochDifference;  // before 1970: clamp
  ticks -= kEpochDifference;
  ts.tv_sec = static_cast<time_t>(ticks / 10000000ull);
  ts.tv_nsec = static_cast<long>((ticks % 10000000ull) * 100);
  return ts;
}

// Sets the last error from errno and answers FALSE.
BOOL FailErrno() {
  SetLastError(ErrorFromErrno(errno));
  return FALSE;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Opens `path` for the requested access.  Asks for read and write where the
// file allows it, so that byte locks can be exclusive and share records can be
// kept whatever the handle's own access; the handle's access is enforced by
// ReadFile and WriteFile.
int OpenForAccess(const std::string& path, DWORD access, int extraFlags, bool* writable, bool* readable) {
  const bool wantsWrite = (access & GENERIC_WRITE) != 0;
  const bool wantsRead = (access & GENERIC_READ) != 0;
  const int base = O_CLOEXEC | O_NOCTTY | extraFlags;
  prk::FileSystem& fs = prk::CurrentFileSystem();
  int fd = fs.Open(path.c_str(), base | O_RDWR, 0666);
  if (fd >= 0) {
    *writable = *readable = true;
    return fd;
  }
  const int firstErrno = errno;
  if (firstErrno != EACCES && firstErrno != EROFS && firstErrno != EPERM && firstErrno != ETXTBSY) return -1;
  if (wantsWrite && !wantsRead) {
    fd = fs.Open(path.c_str(), base | O_WRONLY, 0666);
    *writable = true;
    *readable = false;
  } else if (!wantsWrite) {
    fd = fs.Open(path.c_str(), base | O_RDONLY, 0666);
    *writable = false;
    *readable = true;
  } else {
    errno = firstErrno;
    return -1;
  }
  return fd;
}

DWORD OpenError(int err, const std::string& path) {
  if (err == ENOENT && !prk::ParentExists(path)) return ERROR_PATH_NOT_FOUND;
  return ErrorFromErrno(err);
}

// Reads into buf at offset until n bytes or the end of the file.
bool ReadAll(int fd, char* buf, size_t n, int64_t offset, size_t* done) {
  *done = 0;
  while (*done < n) {
    long got = prk::CurrentFileSystem().Pread(fd, buf + *done, n - *done, offset + static_cast<int64_t>(*done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) break;
    if (static_cast<size_t>(got) > n - *done) {  // a call that claims too much
      errno = EIO;
      return false;
    }
    *done += static_cast<size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const char* buf, size_t n, int64_t offset, size_t* done) {
  *done = 0;
  while (*done < n) {
    long put = prk::CurrentFileSystem().Pwrite(fd, buf + *done, n - *done, offset + static_cast<int64_t>(*done));
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (put == 0) {  // no progress: the device is full
      errno = ENOSPC;
      return false;
    }
    if (static_cast<size_t>(put) > n - *done) {
      errno = EIO;
      return false;
    }
    *done += static_cast<size_t>(put);
  }
  return true;
}

int64_t OverlappedOffset(const OVERLAPPED* o) { return static_cast<int64_t>((uint64_t{o->OffsetHigh} << 32) | o->Offset); }
}  // namespace

namespace prk {
FileObject::~FileObject() { CurrentFileSystem().Close(fd); }
}  // namespace prk

FileSyscalls& PlatformFileSyscalls() { return g_syscalls; }
void ResetPlatformFileSyscalls() { g_syscalls = kRealSyscalls; }
bool prk::ReadsAreReal() { return g_syscalls.pread == RealPread; }

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  (void)securityAttributes;
  (void)templateFile;
  std::string path;
  if (!prk::ToPosixPath(fileName, &path)) return INVALID_HANDLE_VALUE;
  if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING ||
      (creationDisposition == TRUNCATE_EXISTING && !(desiredAccess & GENERIC_WRITE))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const bool mayCreate = creationDisposition == CREATE_NEW || creationDisposition == CREATE_ALWAYS ||
                         creationDisposition == OPEN_ALWAYS;
  if (!mayCreate) prk::ResolveCase(&path);
  int extra = (flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) ? O_DSYNC : 0;
  bool writable = false;
  bool readable = false;
  bool existed = true;
  int fd = -1;
  if (creationDisposition == CREATE_NEW) {
    fd = OpenForAccess(path, desiredAccess, extra | O_CREAT | O_EXCL, &writable, &readable);
    existed = false;
  } else if (mayCreate) {
    // Open first without O_CREAT to learn whether the file was there: Windows
    // reports ERROR_ALREADY_EXISTS after a successful open of an existing file.
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
      fd = OpenForAccess(path, desiredAccess, extra, &writable, &readable);
      if (fd >= 0 || errno != ENOENT) break;
      std::string withCase = path;
      if (prk::ResolveCase(&withCase)) {
        path = withCase;
        continue;
      }
      fd = OpenForAccess(path, desiredAccess, extra | O_CREAT | O_EXCL, &writable, &readable);
      existed = fd < 0;
      if (fd < 0 && errno != EEXIST) break;
    }
  } else {
    fd = OpenForAccess(path, desiredAccess, extra, &writable, &readable);
  }
  if (fd < 0) {
    SetLastError(OpenError(errno, path));
    return INVALID_HANDLE_VALUE;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    // Directories are not files for CreateFileA.
    prk::CurrentFileSystem().Close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (!existed && (flagsAndAttributes & FILE_ATTRIBUTE_READONLY)) fchmod(fd, st.st_mode & ~0222u);
  if (!prk::CheckAndRecordShare(fd, readable, desiredAccess, shareMode)) {
    prk::CurrentFileSystem().Close(fd);
    return INVALID_HANDLE_VALUE;  // ERROR_SHARING_VIOLATION
  }
  // Truncation only after the share check, so a refused open never cuts a file
  // that another open is using.
  if (existed && (creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING)) {
    if (prk::CurrentFileSystem().Truncate(fd, 0) != 0) {
      DWORD error = ErrorFromErrno(errno);
      prk::CurrentFileSystem().Close(fd);
      SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
  }
  if (flagsAndAttributes & FILE_FLAG_RANDOM_ACCESS) posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  if (flagsAndAttributes & FILE_FLAG_SEQUENTIAL_SCAN) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  auto object = std::make_shared<prk::FileObject>(fd, desiredAccess & (GENERIC_READ | GENERIC_WRITE), writable, path);
  HANDLE handle = prk::AddHandle(std::move(object));
  const bool reportExisting =
      existed && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS);
  SetLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, OVERLAPPED* overlapped) {
  if (bytesRead) *bytesRead = 0;
  auto object = prk::Lookup<prk::FileObject>(file);
  if (!object) return FALSE;
  if (!(object->access & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
  if (bytesToRead == 0) return TRUE;
  if (buffer == nullptr) return Fail(ERROR_NOACCESS);
  size_t done = 0;
  bool ok;
  if (overlapped) {
    int64_t offset = OverlappedOffset(overlapped);
    if (offset > kMaxOffset - bytesToRead) return Fail(ERROR_INVALID_PARAMETER);
    ok = ReadAll(object->fd, static_cast<char*>(buffer), bytesToRead, offset, &done);
    overlapped->InternalHigh = done;
  } else {
    std::lock_guard<std::mutex> lock(object->mutex);
    if (object->position > kMaxOffset - bytesToRead) return Fail(ERROR_INVALID_PARAMETER);
    ok = ReadAll(object->fd, static_cast<char*>(buffer), bytesToRead, object->position, &done);
    object->position += static_cast<int64_t>(done);
  }
  if (bytesRead) *bytesRead = static_cast<DWORD>(done);
  return ok ? TRUE : FailErrno();
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten, OVERLAPPED* overlapped) {
  if (bytesWritten) *bytesWritten = 0;
  auto object = prk::Lookup<prk::FileObject>(file);
  if (!object) return FALSE;
  if (!(object->access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  if (bytesToWrite == 0) return TRUE;
  if (buffer == nullptr) return Fail(ERROR_NOACCESS);
  size_t done = 0;
  bool ok;
  if (overlapped) {
    int64_t offset = OverlappedOffset(overlapped);
    if (offset > kMaxOffset - bytesToWrite) return Fail(ERROR_INVALID_PARAMETER);
    ok = WriteAll(object->fd, static_cast<const char*>(buffer), bytesToWrite, offset, &done);
    overlapped->InternalHigh = done;
  } else {
    std::lock_guard<std::mutex> lock(object->mutex);
    if (object->position > kMaxOffset - bytesToWrite) return Fail(ERROR_INVALID_PARAMETER);
    ok = WriteAll(object->fd, static_cast<const char*>(buffer), bytesToWrite, object->position, &done);
    object->position += static_cast<int64_t>(done);
  }
  if (bytesWritten) *bytesWritten = static_cast<DWORD>(done);
  return ok ? TRUE : FailErrno();
}

namespace {
// Moves the file pointer unless the new position would be negative or above
// `limit`, in which case the pointer stays where it was.
BOOL MovePointer(HANDLE file, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod, int64_t limit) {
  auto object = prk::Lookup<prk::FileObject>(file);
  if (!object) return FALSE;
  std::lock_guard<std::mutex> lock(object->mutex);
  int64_t base;
  switch (moveMethod) {
    case FILE_BEGIN:
      base = 0;
      break;
    case FILE_CURRENT:
      base = object->position;
      break;
    case FILE_END: {
      struct stat st {};
      if (fstat(object->fd, &st) != 0) return FailErrno();
      base = st.st_size;
      break;
    }
    default:
      return Fail(ERROR_INVALID_PARAMETER);
  }
  int64_t target;
  if (__builtin_add_overflow(base, distance, &target)) return Fail(ERROR_INVALID_PARAMETER);
  if (target < 0) return Fail(ERROR_NEGATIVE_SEEK);
  if (target > limit) return Fail(ERROR_INVALID_PARAMETER);
  object->position = target;
  if (newPosition) *newPosition = target;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
}  // namespace

BOOL SetFilePointerEx(HANDLE file, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod) {
  return MovePointer(file, distance, newPosition, moveMethod, kMaxOffset);
}

DWORD SetFilePointer(HANDLE file, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod) {
  // Without a high part the distance is the signed 32-bit low part.
  int64_t distance = distanceHigh
                         ? static_cast<int64_t>((uint64_t(uint32_t(*distanceHigh)) << 32) | uint32_t(distanceLow))
                         : int64_t{distanceLow};
  LONGLONG position = 0;
  // Without a high part a position that 32 bits cannot tell is refused.
  if (!MovePointer(file, distance, &position, moveMethod, distanceHigh ? kMaxOffset : 0xFFFFFFFEll)) {
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
  return static_cast<DWORD>(position);
}

BOOL SetEndOfFile(HANDLE file) {
  auto object = prk::Lookup<prk::FileObject>(file);
  if (!object) return FALSE;
  if (!(object->access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  std::lock_guard<std::mutex> lock(object->mutex);
  while (prk::CurrentFileSystem().Truncate(object->fd, object->position) != 0) {
    if (errno != EINTR) return FailErrno();
  }
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
  auto object = prk::Lookup<prk::FileObject>(file);
  if (!object) return FALSE;
  if (!(object->access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  while (prk::CurrentFileSystem().Sync(object->fd) != 0) {
    if (errno != EINTR) return FailErrno();
  }
  return TRUE;
}

BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite) {
  auto object = prk::Lookup<prk::FileObject>(file);
  if (!object) return FALSE;
  struct statx sx {};
  if (statx(object->fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return FailErrno();
  auto toSpec = [](const struct statx_timestamp& t) {
    struct timespec ts {};
    ts.tv_sec = t.tv_sec;
    ts.tv_nsec = t.tv_nsec;
    return ts;
  };
  // Without a birth time the file system's change of contents stands in.
  if (creation) *creation = ToFileTime(toSpec((sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime));
  if (lastAccess) *lastAccess = ToFileTime(toSpec(sx.stx_atime));
  if (lastWrite) *lastWrite = ToFileTime(toSpec(sx.stx_mtime));
  return TRUE;
}

BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess, const FILETIME* lastWrite) {
  (void)creation;  // POSIX cannot set a birth time
  auto object = prk::Lookup<prk::FileObject>(file);
  if (!object) return FALSE;
  if (!(object->access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  struct timespec times[2] = {FromFileTime(lastAccess), FromFileTime(lastWrite)};
  if (futimens(object->fd, times) != 0) return FailErrno();
  return TRUE;
}

BOOL GetFileSizeEx(HANDLE file, LONGLONG* size) {
  auto object = prk::Lookup<prk::FileObject>(file);
  if (!object) return FALSE;
  struct stat st {};
  if (fstat(object->fd, &st) != 0) return FailErrno();
  if (size) *size = st.st_size;
  return TRUE;
}

DWORD GetFileSize(HANDLE file, DWORD* fileSizeHigh) {
  LONGLONG size = 0;
  if (!GetFileSizeEx(file, &size)) return INVALID_FILE_SIZE;
  if (fileSizeHigh) *fileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(size) >> 32);
  SetLastError(ERROR_SUCCESS);  // a size of 0xFFFFFFFF is told apart by this
  return static_cast<DWORD>(size);
}

int FileDescriptorOf(HANDLE file) {
  auto object = prk::Lookup<prk::FileObject>(file);
  return object ? object->fd : -1;
}

BOOL DeleteFileA(const char* fileName) {
  std::string path;
  if (!prk::ToPosixPath(fileName, &path)) return FALSE;
  prk::ResolveCase(&path);
  if (prk::DeleteIsDenied(path)) return Fail(ERROR_SHARING_VIOLATION);
  if (unlink(path.c_str()) != 0) {
    SetLastError(OpenError(errno, path));
    return FALSE;
  }
  return TRUE;
}

BOOL MoveFileA(const char* existingName, const char* newName) {
  std::string from;
  std::string to;
  if (!prk::ToPosixPath(existingName, &from) || !prk::ToPosixPath(newName, &to)) return FALSE;
  prk::ResolveCase(&from);
  if (prk::DeleteIsDenied(from)) return Fail(ERROR_SHARING_VIOLATION);
  // MoveFile never replaces an existing file.
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    int err = errno;
    if (err == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
    if (err == ENOENT) {
      struct stat st {};
      if (lstat(from.c_str(), &st) != 0) {
        SetLastError(OpenError(ENOENT, from));
      } else {
        SetLastError(ERROR_PATH_NOT_FOUND);  // the target's folder is missing
      }
      return FALSE;
    }
    return Fail(ErrorFromErrno(err));
  }
  return TRUE;
}

DWORD GetFileAttributesA(const char* fileName) {
  std::string path;
  if (!prk::ToPosixPath(fileName, &path)) return INVALID_FILE_ATTRIBUTES;
  prk::ResolveCase(&path);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    SetLastError(OpenError(errno, path));
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return (st.st_mode & 0222) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}
