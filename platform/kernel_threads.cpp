// Thread-local storage, critical sections, interlocked operations, clocks and
// the end of the process.
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>

#include "platform/kernel.h"

namespace {
// ---------------------------------------------------------------- TLS
// Windows guarantees at least 1088 indexes.  Each index carries a generation
// that TlsFree advances, so a value stored under a freed index reads back as
// null after the index is allocated again, in every thread, as on Windows.
constexpr DWORD kTlsSlots = 1088;

struct TlsRegistry {
  std::mutex mutex;
  bool used[kTlsSlots] = {};         // guarded by mutex
  std::atomic<uint32_t> generation[kTlsSlots] = {};
};

TlsRegistry& Registry() {
  static TlsRegistry* registry = new TlsRegistry;  // lives to the very end
  return *registry;
}

struct TlsValue {
  uint32_t generation;
  LPVOID value;
};

// Allocated on the first TlsSetValue of a thread and freed at its end.
thread_local std::unique_ptr<TlsValue[]> t_values;

bool ValidIndex(DWORD index) {
  if (index >= kTlsSlots) return false;
  TlsRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.used[index];
}

int64_t MonotonicMilliseconds() {
  struct timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::opaque));
static_assert(alignof(std::recursive_mutex) <= alignof(CRITICAL_SECTION));
std::recursive_mutex* MutexOf(CRITICAL_SECTION* section) {
  return std::launder(reinterpret_cast<std::recursive_mutex*>(section->opaque));
}
}  // namespace

DWORD TlsAlloc() {
  TlsRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (DWORD i = 0; i < kTlsSlots; ++i) {
    if (!r.used[i]) {
      r.used[i] = true;
      r.generation[i].fetch_add(1);
      return i;
    }
  }
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return TLS_OUT_OF_INDEXES;
}

BOOL TlsFree(DWORD index) {
  if (index >= kTlsSlots) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  TlsRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (!r.used[index]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  r.used[index] = false;
  r.generation[index].fetch_add(1);
  return TRUE;
}

LPVOID TlsGetValue(DWORD index) {
  if (index >= kTlsSlots) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);  // tells a stored null from a failure
  if (!t_values) return nullptr;
  const TlsValue& v = t_values[index];
  return v.generation == Registry().generation[index].load(std::memory_order_relaxed) ? v.value : nullptr;
}

BOOL TlsSetValue(DWORD index, LPVOID value) {
  if (!ValidIndex(index)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!t_values) {
    t_values.reset(new (std::nothrow) TlsValue[kTlsSlots]());
    if (!t_values) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return FALSE;
    }
  }
  t_values[index] = TlsValue{Registry().generation[index].load(std::memory_order_relaxed), value};
  return TRUE;
}

void InitializeCriticalSection(CRITICAL_SECTION* section) { new (section->opaque) std::recursive_mutex(); }
void DeleteCriticalSection(CRITICAL_SECTION* section) {
  using Mutex = std::recursive_mutex;
  MutexOf(section)->~Mutex();
}
void EnterCriticalSection(CRITICAL_SECTION* section) { MutexOf(section)->lock(); }
BOOL TryEnterCriticalSection(CRITICAL_SECTION* section) { return MutexOf(section)->try_lock() ? TRUE : FALSE; }
void LeaveCriticalSection(CRITICAL_SECTION* section) { MutexOf(section)->unlock(); }

LONG InterlockedExchange(volatile LONG* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
LONG InterlockedIncrement(volatile LONG* target) { return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedDecrement(volatile LONG* target) { return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST); }

void Sleep(DWORD milliseconds) {
  struct timespec ts {};
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000;
  while (nanosleep(&ts, &ts) != 0) {
  }
}

DWORD GetTickCount() { return static_cast<DWORD>(MonotonicMilliseconds()); }
DWORD GetClockHundredths() { return static_cast<DWORD>(MonotonicMilliseconds() / 10); }
DWORD GetCurrentThreadId() { return static_cast<DWORD>(syscall(SYS_gettid)); }
DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

void GetLocalTime(SYSTEMTIME* time) {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm local {};
  localtime_r(&ts.tv_sec, &local);
  time->wYear = static_cast<WORD>(local.tm_year + 1900);
  time->wMonth = static_cast<WORD>(local.tm_mon + 1);
  time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  time->wDay = static_cast<WORD>(local.tm_mday);
  time->wHour = static_cast<WORD>(local.tm_hour);
  time->wMinute = static_cast<WORD>(local.tm_min);
  time->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
  time->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

void ExitProcess(UINT exitCode) {
  std::fflush(nullptr);
  std::exit(static_cast<int>(exitCode));
}
