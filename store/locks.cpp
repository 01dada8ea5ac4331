#include "store/locks.h"

#include <atomic>

namespace pr::store {
namespace {

std::atomic<DWORD> g_transactionLockPatience{5000};
thread_local int t_sectionDepth = 0;

CRITICAL_SECTION* DriverSection() {
  static CRITICAL_SECTION* section = [] {
    auto* s = new CRITICAL_SECTION;
    InitializeCriticalSection(s);
    return s;
  }();
  return section;
}

constexpr int kAttempts = 3;
constexpr DWORD kReaderPatienceMs = 5000;

BOOL LockAt(HANDLE file, uint64_t offset, uint32_t length) {
  return LockFile(file, static_cast<DWORD>(offset), static_cast<DWORD>(offset >> 32), length, 0);
}

}  // namespace

DWORD TakeLockRange(HANDLE file, uint64_t offset, uint32_t length, bool wait) {
  DWORD error = 0;
  for (int attempt = 0; wait || attempt < kAttempts; ++attempt) {
    SetLastError(0);
    if (LockAt(file, offset, length)) return 0;
    error = GetLastError();
    if (error == 0) error = ERROR_LOCK_VIOLATION;
    Sleep(1);
  }
  return error;
}

DWORD TakeReaderSlot(HANDLE file, uint32_t* slot, bool wait) {
  DWORD error = 0;
  // Three quick attempts move over the slots; after them a reader keeps
  // trying for a while, since a refusal means a writer holds every slot for
  // the few milliseconds of one update.
  const DWORD start = GetTickCount();
  for (int attempt = 0; wait || attempt < kAttempts || GetTickCount() - start < kReaderPatienceMs; ++attempt) {
    SetLastError(0);
    if (LockAt(file, kLockBase + *slot, 1)) return 0;
    error = GetLastError();
    if (error == 0) error = ERROR_LOCK_VIOLATION;
    Sleep(1);
    *slot = (*slot + 1) % kReaderSlotCount;
  }
  return error;
}

DWORD ReleaseLockRange(HANDLE file, uint64_t offset, uint32_t length) {
  SetLastError(0);
  if (UnlockFile(file, static_cast<DWORD>(offset), static_cast<DWORD>(offset >> 32), length, 0)) return 0;
  DWORD error = GetLastError();
  return error != 0 ? error : ERROR_LOCK_VIOLATION;
}

uint32_t InitialReaderSlot() { return GetClockHundredths() % kReaderSlotCount; }

void EnterDriverSection() {
  EnterCriticalSection(DriverSection());
  ++t_sectionDepth;
}

void LeaveDriverSection() {
  --t_sectionDepth;
  LeaveCriticalSection(DriverSection());
}

bool InDriverSection() { return t_sectionDepth > 0; }

void WaitOutsideDriverSection(DWORD milliseconds) {
  const int depth = t_sectionDepth;
  for (int i = 0; i < depth; ++i) LeaveDriverSection();
  Sleep(milliseconds);
  for (int i = 0; i < depth; ++i) EnterDriverSection();
}

DWORD TransactionLockPatience() { return g_transactionLockPatience.load(); }
void SetTransactionLockPatience(DWORD milliseconds) { g_transactionLockPatience.store(milliseconds); }

}  // namespace pr::store
