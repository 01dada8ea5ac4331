// Read-only file mappings and the guarded copy out of a view.
#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/file_system.h"
#include "platform/kernel_file_object.h"

namespace {

// The mapping keeps a descriptor of its own, so it outlives the file handle
// it was made from, as a section object does.
class MappingObject : public prk::KernelObject {
 public:
  MappingObject(int fd, uint64_t size) : fd(fd), size(size) {}
  ~MappingObject() override { ::close(fd); }
  const int fd;
  const uint64_t size;
};

std::mutex g_viewsMutex;
std::map<uintptr_t, size_t>& Views() {
  static std::map<uintptr_t, size_t> views;  // base -> length
  return views;
}

// ---------------------------------------------------------------- the guard
// A copy out of a view runs with this thread's jump buffer armed; a bus
// error raised inside it (the file was cut shorter than the view) jumps back
// and the copy fails.  Any other bus error goes to the handler that was there
// before, or kills the process as it would have.
thread_local sigjmp_buf* t_guard = nullptr;
struct sigaction g_previousBusHandler;
std::once_flag g_busHandlerOnce;

void OnBusError(int signal, siginfo_t* info, void* context) {
  if (sigjmp_buf* guard = t_guard) {
    t_guard = nullptr;
    siglongjmp(*guard, 1);
  }
  if ((g_previousBusHandler.sa_flags & SA_SIGINFO) && g_previousBusHandler.sa_sigaction != nullptr) {
    g_previousBusHandler.sa_sigaction(signal, info, context);
    return;
  }
  if (g_previousBusHandler.sa_handler != SIG_DFL && g_previousBusHandler.sa_handler != SIG_IGN &&
      g_previousBusHandler.sa_handler != nullptr) {
    g_previousBusHandler.sa_handler(signal);
    return;
  }
  // Returning re-runs the faulting access, which now meets the default action.
  ::signal(SIGBUS, SIG_DFL);
}

void InstallBusHandler() {
  std::call_once(g_busHandlerOnce, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    // Not blocked while it runs: the jump out leaves no mask to restore.
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &g_previousBusHandler);
  });
}

}  // namespace

HANDLE CreateFileMappingA(HANDLE file, void* /*securityAttributes*/, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, const char* name) {
  if (protect != PAGE_READONLY || maximumSizeHigh != 0 || maximumSizeLow != 0 || name != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto object = prk::Lookup<prk::FileObject>(file);
  if (!object) return nullptr;
  if (!prk::ReadsAreReal()) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  struct stat status {};
  if (fstat(object->fd, &status) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return nullptr;
  }
  if (status.st_size <= 0) {
    SetLastError(ERROR_FILE_INVALID);
    return nullptr;
  }
  int fd = fcntl(object->fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    SetLastError(ErrorFromErrno(errno));
    return nullptr;
  }
  InstallBusHandler();
  return prk::AddHandle(std::make_shared<MappingObject>(fd, static_cast<uint64_t>(status.st_size)));
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow, size_t bytes) {
  auto object = prk::Lookup<MappingObject>(mapping);
  if (!object) return nullptr;
  const uint64_t offset = (uint64_t{offsetHigh} << 32) | offsetLow;
  if (desiredAccess != FILE_MAP_READ || offset % 4096 != 0 || offset >= object->size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (bytes == 0) bytes = static_cast<size_t>(object->size - offset);
  void* base = prk::CurrentFileSystem().Map(bytes, object->fd, static_cast<int64_t>(offset));
  if (base == MAP_FAILED) {
    SetLastError(errno == ENOMEM ? DWORD{ERROR_NOT_ENOUGH_MEMORY} : ErrorFromErrno(errno));
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(g_viewsMutex);
  Views()[reinterpret_cast<uintptr_t>(base)] = bytes;
  return base;
}

BOOL UnmapViewOfFile(const void* base) {
  size_t length = 0;
  {
    std::lock_guard<std::mutex> lock(g_viewsMutex);
    auto it = Views().find(reinterpret_cast<uintptr_t>(base));
    if (it == Views().end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    length = it->second;
    Views().erase(it);
  }
  prk::CurrentFileSystem().Unmap(const_cast<void*>(base), length);
  return TRUE;
}

size_t ViewSize(const void* base) {
  std::lock_guard<std::mutex> lock(g_viewsMutex);
  auto it = Views().find(reinterpret_cast<uintptr_t>(base));
  return it == Views().end() ? 0 : it->second;
}

BOOL CopyFromView(void* destination, const void* source, size_t length) {
  struct Copy {
    void* destination;
    const void* source;
    size_t length;
  } copy{destination, source, length};
  return CallWithViewGuard(
      [](void* context) {
        const Copy* c = static_cast<const Copy*>(context);
        std::memcpy(c->destination, c->source, c->length);
      },
      &copy);
}

BOOL CallWithViewGuard(void (*body)(void* context), void* context) {
  sigjmp_buf guard;
  if (sigsetjmp(guard, 0) != 0) {
    SetLastError(ERROR_HANDLE_EOF);
    return FALSE;
  }
  t_guard = &guard;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  body(context);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  t_guard = nullptr;
  return TRUE;
}
