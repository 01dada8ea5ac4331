// A file system for tests that fails chosen calls, loses power, and lets a
// process die with its locks.  It passes every call to the file system below
// it (the real one by default) and keeps, per file, what a power loss could
// take away.
//
//   failures     FailCall(kind, n): the n-th call of a kind (counted from the
//                installation, or from ResetCounts) fails with the given
//                errno; with `fromThenOn` every later one too.  BeforeCall
//                (a hook) sees every call first and may stop the process
//                there, which is how a trial ends at a chosen sync.
//   power loss   Every write and truncation since the file's last completed
//                sync is kept in a log beside the file's image at that sync.
//                PowerLoss(pattern) rewrites each file as the disk might
//                hold it after the power came back: the synced image plus
//                the logged changes the pattern keeps, whole, torn into
//                512-byte sectors, or out of order.  A 512-byte sector on a
//                512-byte boundary is written whole or not at all, as a disk
//                does.
//   dead process ReleaseLocksOfDeadProcess() frees every byte-range lock
//                taken through it, as the kernel does when their holder dies,
//                while the handles stay open (their owner is gone and will
//                never use them again).
//
// Files are known by device and inode; a file is first seen (and its
// contents taken as synced) when it is opened through this file system.
// Mappings are refused (ENOTSUP) unless allowMapping is set, so that every
// read meets the injected faults.
//
// Thread safety: all state is under one mutex; calls may come from any thread.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"

namespace prk {

class FaultFileSystem : public FileSystem {
 public:
  enum Call { kOpen, kClose, kRead, kWrite, kSync, kTruncate, kLock, kMap, kCallKinds };

  explicit FaultFileSystem(FileSystem* below = nullptr);
  ~FaultFileSystem() override;

  // ---- failures
  void FailCall(Call call, long nth, int error, bool fromThenOn = false);
  void ClearFailures();
  long Count(Call call) const;
  void ResetCounts();
  // Called before each call with its kind and its number (1, 2, ... per
  // kind).  It may end the process.
  std::function<void(Call call, long number)> beforeCall;

  // ---- power loss
  enum class Loss {
    kDropAll,        // nothing since the last sync reached the disk
    kKeepAll,        // everything did (what a process that ends leaves)
    kPrefixTorn,     // the first writes in order, then half of the next one
    kRandomSubset,   // each write kept or lost on its own, in order
    kRandomSectors,  // each sector of each write kept or lost on its own
    kReordered,      // a random subset, written in a random order
  };
  void PowerLoss(Loss pattern, uint32_t seed);
  size_t UnsyncedChanges() const;

  // ---- dead process
  void ReleaseLocksOfDeadProcess();
  size_t LocksHeld() const;

  bool allowMapping = false;

  // ---- FileSystem
  int Open(const char* path, int flags, mode_t mode) override;
  int Close(int fd) override;
  long Pread(int fd, void* buffer, size_t n, int64_t offset) override;
  long Pwrite(int fd, const void* buffer, size_t n, int64_t offset) override;
  int Sync(int fd) override;
  int Truncate(int fd, int64_t length) override;
  int Lock(int fd, int command, struct flock* range) override;
  void* Map(size_t length, int fd, int64_t offset) override;
  int Unmap(void* base, size_t length) override;

 private:
  struct Change {
    bool truncate = false;
    int64_t offset = 0;  // or the new length
    std::vector<uint8_t> bytes;
  };
  struct Tracked {
    std::string path;
    std::vector<uint8_t> synced;  // the image at the last sync
    std::vector<Change> unsynced;
  };
  using FileKey = std::pair<dev_t, ino_t>;
  struct HeldLock {
    int fd;
    off_t start;
    off_t length;
  };

  // 0 to go on, or the errno the call fails with.
  int Enter(Call call);
  Tracked* TrackedFor(int fd);
  std::vector<uint8_t> ReadImage(int fd) const;

  FileSystem* below_;
  mutable std::mutex mutex_;
  long counts_[kCallKinds] = {};
  struct Failure {
    long nth;
    int error;
    bool fromThenOn;
  };
  std::map<Call, Failure> failures_;
  std::map<int, FileKey> fds_;
  std::map<FileKey, Tracked> files_;
  std::vector<HeldLock> locks_;
};

}  // namespace prk
