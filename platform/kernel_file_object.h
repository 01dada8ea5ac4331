// Inside platform/ only: the object behind a file HANDLE, and the share-mode
// records that emulate Windows sharing between processes.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel_objects.h"

namespace prk {

// One CreateFileA: its own open file description (never dup'ed), so its
// byte-range locks and share-mode records belong to it alone.
//
// Locking rules: fd, access and writableFd are fixed after construction;
// position and locks are guarded by mutex.
class FileObject : public KernelObject {
 public:
  FileObject(int fd, DWORD access, bool writableFd, std::string path)
      : fd(fd), access(access), writableFd(writableFd), path(std::move(path)) {}
  ~FileObject() override;  // closes fd, which drops its locks and records

  const int fd;
  const DWORD access;      // GENERIC_READ | GENERIC_WRITE as asked for
  const bool writableFd;   // fd was opened for writing (exclusive locks possible)
  const std::string path;  // the POSIX path it was opened by

  struct Range {
    uint64_t offset;
    uint64_t length;
  };
  std::mutex mutex;
  int64_t position = 0;       // the handle's file pointer
  std::vector<Range> locks;   // ranges this handle holds, never overlapping
};

// Share-mode records live as shared open-file-description locks on bytes from
// kShareRecordBase up.  They are far above any offset the store locks (which
// stay below 2^33) and far above any file length that can occur, and
// LockFile refuses ranges that reach them.
constexpr uint64_t kShareRecordBase = uint64_t{1} << 62;
constexpr uint64_t kShareRecordBytes = 8;

// Checks `access`/`shareMode` of a new open of fd against every other open of
// the file (in any process) and records them for later opens.  Check and
// record are one step between processes.  FALSE with ERROR_SHARING_VIOLATION
// on a conflict.  Files on file systems without locks are not checked.
BOOL CheckAndRecordShare(int fd, bool readableFd, DWORD access, DWORD shareMode);

// TRUE when some open of the file at `path` did not allow FILE_SHARE_DELETE
// (so DeleteFileA and MoveFileA must refuse it).  FALSE when the file cannot
// be opened to look.
bool DeleteIsDenied(const std::string& path);

// False while a test has replaced the pread entry of the system-call table.
bool ReadsAreReal();

}  // namespace prk
