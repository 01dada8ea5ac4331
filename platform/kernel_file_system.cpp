// The real file system under the kernel's file calls, and the one installed.
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>

#include "platform/file_system.h"
#include "platform/kernel.h"

namespace prk {

int FileSystem::Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int FileSystem::Close(int fd) { return ::close(fd); }
long FileSystem::Pread(int fd, void* buffer, size_t n, int64_t offset) {
  return PlatformFileSyscalls().pread(fd, buffer, n, offset);
}
long FileSystem::Pwrite(int fd, const void* buffer, size_t n, int64_t offset) {
  return PlatformFileSyscalls().pwrite(fd, buffer, n, offset);
}
int FileSystem::Sync(int fd) { return PlatformFileSyscalls().fdatasync(fd); }
int FileSystem::Truncate(int fd, int64_t length) { return PlatformFileSyscalls().ftruncate(fd, length); }
int FileSystem::Lock(int fd, int command, struct flock* range) { return ::fcntl(fd, command, range); }
void* FileSystem::Map(size_t length, int fd, int64_t offset) {
  return ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(offset));
}
int FileSystem::Unmap(void* base, size_t length) { return ::munmap(base, length); }

namespace {
FileSystem g_real;
std::atomic<FileSystem*> g_current{&g_real};
}  // namespace

FileSystem& RealFileSystem() { return g_real; }
FileSystem& CurrentFileSystem() { return *g_current.load(std::memory_order_acquire); }
FileSystem* InstallFileSystem(FileSystem* fileSystem) {
  FileSystem* previous = g_current.exchange(fileSystem ? fileSystem : &g_real, std::memory_order_acq_rel);
  return previous == &g_real ? nullptr : previous;
}

}  // namespace prk
