// Lock bytes of a keyed file.
//
// Every lock the driver takes is an exclusive byte-range lock far beyond the
// data, at 2 GiB and above, so locks never touch a page:
//
//   offset from kLockBase   length  lock
//   slot (0..1022)          1       reader slot: one reader, for one read
//   0                       1023    all reader slots: a writer while it writes
//   1023                    1       update lock: a writer from its first change
//                                   to the end of the update (also whoever
//                                   finishes an interrupted update)
//   1024 + n + 1            1       hold of record n, lock of table n (record
//                                   and table numbers never coincide)
//
// Readers never block one another: each holds one of 1023 slots and moves to
// the next slot on conflict.  A writer excludes readers only while it writes,
// by taking every slot at once.
//
// Thread safety: the functions here keep no state of their own; callers
// serialise use of one handle (the driver's critical section does).
#pragma once

#include <cstdint>

#include "platform/kernel.h"

namespace pr::store {

inline constexpr uint64_t kLockBase = 0x80000000ull;
inline constexpr uint32_t kReaderSlotCount = 1023;
inline constexpr uint64_t kAllReaderSlotsOffset = kLockBase;
inline constexpr uint64_t kUpdateLockOffset = kLockBase + 1023;

// The lock byte of record (or table) number n, the big-endian bytes of the
// number read as an unsigned value.
inline constexpr uint64_t HoldLockOffset(uint32_t number) { return kLockBase + 1024 + uint64_t{number} + 1; }

// Takes the lock on [offset, offset + length): up to three attempts 1 ms
// apart, or without limit when `wait` is set.  Returns 0, or the system error
// of the last attempt.  On failure nothing is held.
DWORD TakeLockRange(HANDLE file, uint64_t offset, uint32_t length, bool wait);

// Takes a reader slot starting at *slot, moving to the next slot after each
// refused attempt ((slot + 1) mod 1023); on success *slot is the slot held.
// Without `wait`, gives up after three attempts and 5 seconds: every slot is
// refused only while a writer writes one update, so a reader waits that out
// rather than failing.  Result as TakeLockRange.
DWORD TakeReaderSlot(HANDLE file, uint32_t* slot, bool wait);

// Frees a range taken above.  Returns 0 or the system error.
DWORD ReleaseLockRange(HANDLE file, uint64_t offset, uint32_t length);

// The first reader slot a new physical file object tries: the hundredths
// clock mod 1023, so programs spread over the slots.
uint32_t InitialReaderSlot();

// ---- the driver's process-wide critical section
//
// Every operation of the driver entry runs inside it.  A thread must never
// wait for a lock byte another thread of this process may hold while it is
// inside the section: the holder needs the section to let the lock go (to
// COMMIT, to write a deferred update, to UNLOCK or RELEASE).  Such waits go
// through WaitOutsideDriverSection, which lets the section go for the pause
// and takes it again (as often as this thread had entered it) before it
// returns.  Nothing that the caller keeps in memory about a shared physical
// file may be relied on across the pause.
void EnterDriverSection();
void LeaveDriverSection();
// True when the calling thread is inside the section.
bool InDriverSection();
// Sleeps `milliseconds` outside the section (just sleeps when the thread is
// not inside it).
void WaitOutsideDriverSection(DWORD milliseconds);

// How long a lock wait of a file inside a transaction may last before it is
// given up (the transaction's program then gets the lock's error and rolls
// back): two transactions that take the same files in opposite orders must
// not wait for each other for ever.  Default 5000 ms; tests shorten it.
DWORD TransactionLockPatience();
void SetTransactionLockPatience(DWORD milliseconds);

}  // namespace pr::store
