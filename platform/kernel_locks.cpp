// Byte-range locks and share modes on open-file-description locks.
//
// Linux has no share modes, so every open records what it does and what it
// denies as shared locks on reserved bytes above kShareRecordBase:
//
//   base + 0   held by opens with read access
//   base + 1   held by opens with write access
//   base + 2   held by opens that deny read   (no FILE_SHARE_READ)
//   base + 3   held by opens that deny write  (no FILE_SHARE_WRITE)
//   base + 4   held by opens that deny delete (no FILE_SHARE_DELETE)
//
// A new open asks (F_OFD_GETLK with a write lock) whether any other open holds
// the bytes it must not meet: its read access meets "deny read", its denial of
// read meets "read access", and so on.  The check and the recording run under
// flock() on the new descriptor: flock locks are separate from fcntl locks on
// Linux and also per open file description, so two opens, in one process or
// in two, take turns there and cannot both pass the check before either
// records.  Because the records are locks, they vanish with the descriptor
// when the handle is closed or the process dies.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_system.h"
#include "platform/kernel_file_object.h"

namespace prk {
namespace {
enum ShareRecord : uint64_t { kHasRead = 0, kHasWrite = 1, kDenyRead = 2, kDenyWrite = 3, kDenyDelete = 4 };

enum class Probe { kFree, kHeld, kUnsupported };

Probe ProbeRecord(int fd, uint64_t record) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(kShareRecordBase + record);
  fl.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return Probe::kUnsupported;
  return fl.l_type == F_UNLCK ? Probe::kFree : Probe::kHeld;
}

bool HoldRecord(int fd, uint64_t record) {
  struct flock fl {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(kShareRecordBase + record);
  fl.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// flock with EINTR handled; false when the file system has no flock.
bool Flock(int fd, int operation) {
  while (flock(fd, operation) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

struct Need {
  uint64_t record;
  bool when;
};
}  // namespace

BOOL CheckAndRecordShare(int fd, bool readableFd, DWORD access, DWORD shareMode) {
  const bool reads = (access & GENERIC_READ) != 0;
  const bool writes = (access & GENERIC_WRITE) != 0;
  // An open with neither access takes part in neither side of the check.
  if (!reads && !writes) return TRUE;
  const bool deniesRead = (shareMode & FILE_SHARE_READ) == 0;
  const bool deniesWrite = (shareMode & FILE_SHARE_WRITE) == 0;
  const bool deniesDelete = (shareMode & FILE_SHARE_DELETE) == 0;

  const bool guarded = Flock(fd, LOCK_EX);
  const Need mustBeFree[] = {
      {kDenyRead, reads}, {kDenyWrite, writes}, {kHasRead, deniesRead}, {kHasWrite, deniesWrite}};
  bool conflict = false;
  bool unsupported = false;
  for (const Need& n : mustBeFree) {
    if (!n.when) continue;
    Probe p = ProbeRecord(fd, n.record);
    if (p == Probe::kUnsupported) {
      unsupported = true;
      break;
    }
    if (p == Probe::kHeld) {
      conflict = true;
      break;
    }
  }
  if (!conflict && !unsupported && readableFd) {
    // Shared locks need a descriptor open for reading; a write-only open (a
    // file this user may write but not read) leaves no records.
    const Need records[] = {{kHasRead, reads},
                            {kHasWrite, writes},
                            {kDenyRead, deniesRead},
                            {kDenyWrite, deniesWrite},
                            {kDenyDelete, deniesDelete}};
    for (const Need& n : records) {
      if (n.when) HoldRecord(fd, n.record);
    }
  }
  if (guarded) Flock(fd, LOCK_UN);
  if (conflict) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  return TRUE;
}

bool DeleteIsDenied(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  bool denied = ProbeRecord(fd, kDenyDelete) == Probe::kHeld;
  close(fd);
  return denied;
}

}  // namespace prk

namespace {
// Turns a Windows range into a checked POSIX one.  The range must lie below
// the share-mode records.
bool ToRange(DWORD offsetLow, DWORD offsetHigh, DWORD bytesLow, DWORD bytesHigh, prk::FileObject::Range* range) {
  uint64_t offset = (uint64_t{offsetHigh} << 32) | offsetLow;
  uint64_t length = (uint64_t{bytesHigh} << 32) | bytesLow;
  if (offset >= prk::kShareRecordBase || length > prk::kShareRecordBase - offset) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  *range = {offset, length};
  return true;
}

bool Overlaps(const prk::FileObject::Range& a, const prk::FileObject::Range& b) {
  return a.offset < b.offset + b.length && b.offset < a.offset + a.length;
}

int SetLock(int fd, short type, const prk::FileObject::Range& range) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(range.offset);
  fl.l_len = static_cast<off_t>(range.length);
  while (prk::CurrentFileSystem().Lock(fd, F_OFD_SETLK, &fl) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}
}  // namespace

BOOL LockFile(HANDLE file, DWORD offsetLow, DWORD offsetHigh, DWORD bytesLow, DWORD bytesHigh) {
  auto object = prk::Lookup<prk::FileObject>(file);
  if (!object) return FALSE;
  prk::FileObject::Range range{};
  if (!ToRange(offsetLow, offsetHigh, bytesLow, bytesHigh, &range)) return FALSE;
  if (range.length == 0) return TRUE;  // an empty range locks nothing
  std::lock_guard<std::mutex> lock(object->mutex);
  // A handle cannot lock over its own locks either.
  for (const auto& held : object->locks) {
    if (Overlaps(held, range)) {
      SetLastError(ERROR_LOCK_VIOLATION);
      return FALSE;
    }
  }
  // A descriptor opened only for reading can hold read locks alone; such a
  // lock still keeps every writer's lock out.
  int err = SetLock(object->fd, object->writableFd ? F_WRLCK : F_RDLCK, range);
  if (err != 0) {
    SetLastError(err == EAGAIN || err == EACCES ? ERROR_LOCK_VIOLATION : ErrorFromErrno(err));
    return FALSE;
  }
  object->locks.push_back(range);
  return TRUE;
}

BOOL UnlockFile(HANDLE file, DWORD offsetLow, DWORD offsetHigh, DWORD bytesLow, DWORD bytesHigh) {
  auto object = prk::Lookup<prk::FileObject>(file);
  if (!object) return FALSE;
  prk::FileObject::Range range{};
  if (!ToRange(offsetLow, offsetHigh, bytesLow, bytesHigh, &range)) return FALSE;
  if (range.length == 0) return TRUE;
  std::lock_guard<std::mutex> lock(object->mutex);
  // As on Windows, only a range exactly as it was locked can be unlocked.
  for (auto it = object->locks.begin(); it != object->locks.end(); ++it) {
    if (it->offset == range.offset && it->length == range.length) {
      int err = SetLock(object->fd, F_UNLCK, range);
      if (err != 0) {
        SetLastError(ErrorFromErrno(err));
        return FALSE;
      }
      object->locks.erase(it);
      return TRUE;
    }
  }
  SetLastError(ERROR_NOT_LOCKED);
  return FALSE;
}
