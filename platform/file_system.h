// The file system under the kernel's file calls: every open, read, write,
// sync, truncation, byte-range lock and mapping that CreateFileA, ReadFile,
// WriteFile, FlushFileBuffers, SetEndOfFile, LockFile/UnlockFile and
// MapViewOfFile make goes through the one FileSystem installed here.  The
// real one calls the system; tests install a FaultFileSystem
// (platform/fault_file_system.h) to make calls fail, to lose power, or to let
// a process die with its locks.
//
// The calls have the POSIX shapes and conventions (-1 or MAP_FAILED with
// errno).  The real file system takes pread, pwrite, fdatasync and ftruncate
// from the older table of replaceable calls (PlatformFileSyscalls in
// platform/kernel.h), so faults installed there still apply.
//
// Thread safety: the installed pointer is atomic; install before other
// threads use files.  The real file system is stateless.
#pragma once

#include <fcntl.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace prk {

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual int Open(const char* path, int flags, mode_t mode);
  virtual int Close(int fd);
  virtual long Pread(int fd, void* buffer, size_t n, int64_t offset);
  virtual long Pwrite(int fd, const void* buffer, size_t n, int64_t offset);
  virtual int Sync(int fd);  // fdatasync
  virtual int Truncate(int fd, int64_t length);
  // fcntl with F_OFD_SETLK (or F_OFD_GETLK) on `range`.
  virtual int Lock(int fd, int command, struct flock* range);
  // A shared read-only mapping (mmap PROT_READ, MAP_SHARED).
  virtual void* Map(size_t length, int fd, int64_t offset);
  virtual int Unmap(void* base, size_t length);
};

// The real file system.
FileSystem& RealFileSystem();
// The file system in use.
FileSystem& CurrentFileSystem();
// Installs `fileSystem` for every call that follows (nullptr: the real one)
// and answers the one it replaces (nullptr for the real one).  The caller keeps it alive while it is
// installed.
FileSystem* InstallFileSystem(FileSystem* fileSystem);

}  // namespace prk
