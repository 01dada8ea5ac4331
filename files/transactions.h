// LOGOUT, COMMIT and ROLLBACK: the layer's own transactions over several
// files, built on the per-file driver steps STARTRAN, LOGOUT, COMMIT,
// ROLLBACK and ENDTRAN.
//
// A transaction belongs to the thread that started it (its frame hangs off
// the thread's runtime state); frames nest through their links.  Every file
// gets a transaction record when it is opened through the dispatcher; the
// record names the frame the file is logged out in, if any.  Claiming a
// record is atomic, so a shared file cannot be taken by two threads at once:
// the second LOGOUT fails with reason 2.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "files/descriptors.h"

namespace pr::files {

struct TransactionFrame;

enum TransactionFlags : uint32_t {
  // Set by a driver: LOGOUT must LOCK the file first.
  TXN_WANTS_LOCK = 0x01,
  // Set by the layer: LOGOUT locked the file, COMMIT/ROLLBACK unlock it.
  TXN_LOCKED = 0x02,
  // Set by a driver that knows the file has nothing to commit or undo; the
  // layer then sends it no COMMIT or ROLLBACK.  Without it every taken file
  // is treated as changed, so nothing a driver kept is ever left pending.
  TXN_CLEAN = 0x04,
};

struct TransactionRecord {
  std::atomic<TransactionFrame*> frame{nullptr};  // the frame that took the file
  uint16_t sequence = 0;                          // recorded by LOGOUT
  std::atomic<uint32_t> flags{0};                 // TransactionFlags
};

// Reasons of a failed LOGOUT (message override numbers 260001..260007).
enum LogoutReason : int32_t {
  LOGOUT_NO_RECORD = 1,
  LOGOUT_OTHER_THREAD = 2,
  LOGOUT_WHO_AM_I = 3,
  LOGOUT_CANNOT_START = 4,
  LOGOUT_MIXED_DRIVERS = 5,
  LOGOUT_NO_LOCK = 6,
  LOGOUT_CANNOT_LOGOUT = 7,
};
// The reason's text: override 260000 + reason, else the built-in text.
std::string LogoutReasonText(int32_t reason);

// LOGOUT(seconds, files...): starts one transaction over `files` (null
// entries end the list), or, with none, over the thread's transaction file
// list.  Errors: 56 while a transaction is active (nothing changes), 37 for a
// file not open, 48 otherwise, with the reason number as file error code
// text, its message as file error text and the failing file as error file;
// whatever was taken is rolled back.  0 after success.
void Logout(int32_t seconds, const FileDescriptor* const* files, size_t count);
void Logout(int32_t seconds, std::initializer_list<FileDescriptor*> files);

// Ends the active transaction.  91 when none is active.  Every taken file is
// committed (or rolled back), last taken first; the statement ends with the
// first error met.
void Commit();
void Rollback();

// True while the calling thread has an active transaction.
bool TransactionActive();

// The thread's transaction file list, which LOGOUT with no files takes.
// Drivers add their files with the sequence value to record.  Adding a file
// already listed updates its sequence value.
void AddTransactionFile(FileDescriptor* file, uint16_t sequence);
void RemoveTransactionFile(FileDescriptor* file);

// Used by the dispatcher: gives an opened file its record, and releases it
// when the file is closed or destroyed and no frame holds it.
void AttachTransactionRecord(FileDescriptor* file);
void ReleaseTransactionRecord(FileDescriptor* file);

}  // namespace pr::files
