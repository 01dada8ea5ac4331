// Transactions over several keyed files, made atomic with transaction
// control files.
//
// A transaction runs from Logout to Commit or Rollback; only one is active in
// the process at a time.  Its files keep their changes in their page caches
// (and their update locks) until the commit.  A commit over several files:
//
//   1  take a transaction number from the local date and time;
//   2  add a record with that number (a 4-byte key, no data) to the
//      transaction's one control file (the one named by the "TCF" option,
//      else the default "tarnwell.tcf" of the first data file's directory);
//      a number that is already there restarts the step with the number + 1;
//   3  in every data file replace the marker record (key 0xFF; data: the
//      transaction number, u32 little-endian, then the control file's name
//      and a zero byte; "C:\tarNwelL.TCF" stands for the default control
//      file of the data file's own directory, and a data file in another
//      directory names the control file by its full path) and write
//      the update up to its pending-update area; if one file fails, the files
//      already written drop their pending areas and the commit ends with that
//      error;
//   4  delete the number from the control file: the point of commit.  One
//      control file makes it one step, so files in several directories
//      commit or roll back together;
//   5  finish every data file's update (the second phase).
//
// A program that reopens a data file with a complete pending area asks the
// recovery check: no marker, or a control file that no longer holds the
// number, finishes the update; a number still present means the transaction
// never reached its point of commit, and the pending area is discarded.
//
// Thread safety: all calls are made under the driver's critical section.
#pragma once

#include <cstdint>
#include <string>

#include "platform/kernel.h"
#include "store/container.h"
#include "store/status.h"

namespace pr::store {

class PhysicalFile;

// The name a marker record carries for "the default control file of the
// data file's own directory".
inline constexpr const char* kDefaultControlPlaceholder = "C:\\tarNwelL.TCF";
inline constexpr const char* kDefaultControlFileName = "tarnwell.tcf";
inline constexpr size_t kMaxDefaultControlFiles = 100;

// The process-wide explicit control file ("TCF" option).  An empty value set
// on purpose is kept as an empty name.
void SetTransactionControlFile(const std::string& name);
const std::string& TransactionControlFile();

// The default control file of the directory holding `dataFile`.
std::string DefaultControlFileFor(const std::string& dataFile);

// A 32-bit transaction number from the local date and time.
uint32_t TransactionNumberNow();

// True while a transaction is active (between the first Logout and the
// Commit or Rollback that ends it).
bool TransactionActive();
// The thread that runs the active transaction (0 when none is active).
DWORD TransactionOwnerThread();
// True when `file` belongs to the active transaction.
bool InTransaction(const PhysicalFile* file);

// Adds `file` to the transaction (once; it takes one use of the file until
// the transaction ends) and its directory's default control file to the list
// of control files.  Ok, LogoutAlreadyActive when another thread's
// transaction is active, or the error of writing the file's earlier changes.
Status TransactionLogout(PhysicalFile* file);

// Commits every file of the transaction and ends it.  Ok or the first error
// (a system error of a write, or the error of a control file: its open, a
// control file that is no keyed file, or no free transaction number).  On
// failure the changes of every file are discarded.
Status TransactionCommit();

// Throws away the changes of every file of the transaction and ends it.
void TransactionRollback();

// The recovery check the header refresh of `dataFile` calls on finding a
// complete pending-update area.  True: discard the area.
bool TransactionRecoveryCheck(Container& dataFile, const std::string& dataFileName);

// Test support: called at the named stages of a multi-file commit (a test
// ends its process there to leave a commit cut short).  Null: nothing.
enum class CommitStage { kBeforePointOfCommit, kAfterPointOfCommit };
using CommitStageHook = void (*)(CommitStage stage);
void SetCommitStageHook(CommitStageHook hook);

}  // namespace pr::store
