// Physical files: one open keyed file shared by every table and every file
// declaration that names it.
//
// The open list holds one PhysicalFile per (file name, access mode), process
// wide, or per thread for files declared THREAD.  Each open of a table takes
// one use; the last Close closes the handle.  The object owns the handle, the
// Container (header copy, page cache, pending-area machinery) and the lock
// state, and gives the Container its locks through ContainerHooks:
//
//   deny none     reader slot for reads, update lock and all reader slots for
//                 writes (other programs may read and write the file)
//   deny write    all reader slots while writing (others may only read)
//   exclusive     no locks (deny all, deny read: the file is ours alone)
//
// Operation bracket (the driver entry does this around every operation):
//   BeginRead   enter the read state and refresh the header; a deny-none file
//               takes its reader slot for the read
//   BeginChange leave the read state (releasing the slot) and open an update:
//               update lock, then a refresh
//   Finish      write the pending update unless in a transaction, release the
//               reader slot: between operations a program holds no reader
//               slot, so a writer never waits on an idle reader
//
// Thread safety: none of its own.  Every call is made under the driver's
// process-wide critical section (store/driver.h); THREAD files are further
// confined to their thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/kernel.h"
#include "store/container.h"
#include "store/status.h"

namespace pr::store {

// Access mode bits as given to OPEN.
enum AccessModeBits : uint32_t {
  kAccessMask = 0x03,     // 0 read only; 1, 2 read and write
  kShareMask = 0x70,      // 0x00/0x40 deny none, 0x10 deny all, 0x20 deny write, 0x30 deny read
  kShareDenyAll = 0x10,
  kShareDenyWrite = 0x20,
  kShareDenyRead = 0x30,
  kShareDenyNone = 0x40,
  kCreateBit = 0x200,     // create (truncate) the file
};

// A mode below 0x10 is that mode plus 0x40 (deny none).  The create bit is
// kept apart from the mode that names the object.
inline uint32_t NormalizeAccessMode(uint32_t mode) {
  uint32_t base = mode & 0xFF;
  if (base < 0x10) base |= kShareDenyNone;
  return base;
}

class PhysicalFile;

// The lock protocol of one handle, given to a Container.  Also used alone for
// transaction control files, which have no tables.
class FileLocks : public ContainerHooks {
 public:
  FileLocks(HANDLE handle, uint32_t mode);
  ~FileLocks() override;

  DWORD LockUpdate() override;
  void UnlockUpdate() override;
  DWORD LockAllReaders() override;
  void UnlockAllReaders() override;
  DWORD LockReaderSlot() override;
  void UnlockReaderSlot() override;

  bool denyNone() const { return (mode_ & kShareMask) == kShareDenyNone; }
  bool denyWrite() const { return (mode_ & kShareMask) == kShareDenyWrite; }
  bool readOnly() const { return (mode_ & kAccessMask) == 0; }
  bool updateLockHeld() const { return updateLockHeld_; }
  // Frees every lock above still held (close, rollback).
  void ReleaseProtocolLocks();

 protected:
  HANDLE handle_;
  uint32_t mode_;
  uint32_t readerSlot_;
  bool readerSlotHeld_ = false;
  bool updateLockHeld_ = false;
  bool allReadersHeld_ = false;
};

class PhysicalFile final : public FileLocks {
 public:
  ~PhysicalFile() override;

  const std::string& name() const { return name_; }
  uint32_t mode() const { return mode_; }
  Container& container() { return *container_; }
  // One more use, dropped by ClosePhysicalFile (a transaction keeps its
  // files open this way).
  void AddUse() { ++useCount_; }
  // True when the open that made this object created the file (it was not
  // there before); the answer of the open itself, not of a look before it.
  bool createdByOpen() const { return createdByOpen_; }

  // ---- ContainerHooks: the recovery check of an interrupted update
  bool PendingAreaIsUnfinishedTransaction(Container& file) override;

  // ---- operation bracket
  // Enters the read state and refreshes the header.  Ok, InvalidDataFile for
  // a file that is not a keyed file of this format, or the system error of
  // the lock or the read.  With
  // `unguarded`, an operation that finds nothing changed runs without the
  // reader slot on the cached pages and on pages copied out of the mapping
  // while the file stays unchanged (Container::AllowUnguardedRead); it must
  // be ready to be repeated when StaleRead comes out of it.
  Status BeginRead(bool unguarded = false);
  // Leaves the read state and opens the update (update lock, refresh).  Ok,
  // InvalidDataFile, the system's access denied for a read-only file, or the
  // lock's system error.  The waits here
  // are made outside the driver's critical section: for another thread's
  // transaction on this file to end (its change would otherwise be rolled
  // back with a transaction it is no part of), and for the update lock.  A
  // file in this thread's transaction waits for the update lock no longer
  // than TransactionLockPatience() and then answers access denied, as for
  // any lock that cannot be had.
  Status BeginChange();
  // Writes the pending update when there is one and the file is not in a
  // transaction (nothing when read only or unchanged), then releases the
  // reader slot and re-enters the read state.  Ok or the write's system
  // error.  `skipWrite` leaves the changes in the cache (delayed writing).
  Status Finish(bool skipWrite = false);
  // Throws away the changes in the cache (a failed operation or open).
  void DiscardChanges();

  // ---- holds, counted per physical file
  // Every declaration that opened this file keeps its own count of the holds
  // it took (store/access.h); the file keeps their sum.  Hold takes the hold
  // byte of `number` when no declaration holds it yet, else only the count
  // grows.  Never waits: Ok or the system error; nothing held on failure.
  Status Hold(uint32_t number);
  bool Holds(uint32_t number) const { return holds_.count(number) != 0; }
  // Gives back `count` holds of `number`; the byte is freed when none is left.
  void Release(uint32_t number, int count = 1);

  // ---- transactions
  bool inTransaction() const { return inTransaction_; }
  void SetInTransaction(bool on) { inTransaction_ = on; }

 private:
  friend Status OpenPhysicalFile(const std::string&, uint32_t, std::string_view, bool, PhysicalFile**);
  friend void ClosePhysicalFile(PhysicalFile*);
  PhysicalFile(HANDLE handle, std::string name, uint32_t mode, std::string_view owner, bool threadFile);

  std::string name_;
  std::unique_ptr<Container> container_;
  bool threadFile_;
  DWORD ownerThread_;
  int useCount_ = 0;
  bool inTransaction_ = false;
  bool createdByOpen_ = false;
  std::map<uint32_t, int> holds_;  // record or table number -> hold count
  // A descriptor the system opened only for reading (the file is not
  // writable for this program) can hold shared byte locks alone, which keep
  // writers out but not another such reader.  Its hold bytes are then also
  // taken, exclusively, in a companion lock file that every such opener of
  // the same file (device and inode) shares.  Opened at the first hold.
  bool sharedLocksOnly_ = false;
  HANDLE companion_ = nullptr;
  DWORD TakeCompanionByte(uint32_t number);
  Status RefreshStatus(int refresh) const;
  void ReleaseCompanionByte(uint32_t number);
};

// Opens (or reuses) the physical file `name` for `mode` (the OPEN access
// mode; bit 0x200 creates or truncates the file).  On success *out holds one
// more use and the header has been read.  Failure results: the system error
// (file not found, path not found, access denied, a sharing violation
// reported as access denied), InvalidDataFile when the file is not a keyed
// file of this format.
Status OpenPhysicalFile(const std::string& name, uint32_t mode, std::string_view owner, bool threadFile,
                       PhysicalFile** out);

// Drops one use; the last use releases every lock and closes the handle.
void ClosePhysicalFile(PhysicalFile* file);

// True when some open object (of this thread's or the process's list) names
// `name`.
bool PhysicalFileIsOpen(const std::string& name);

// The answer of Container::BeginUpdate: the container reports a header that
// is no keyed file's with the catalogue's InvalidDataFile, and a failed lock
// or read with the system's error number.
Status UpdateStatus(DWORD beginUpdate);
// The answer of a write of the container (WriteUpdate and its phases): the
// system's error number.
inline Status WrittenStatus(DWORD error) { return error == 0 ? Status::Ok() : Status::System(error); }

// Maps a system error of an open to the driver's answer (a sharing
// violation becomes access denied).
DWORD MapOpenError(DWORD systemError);
// Maps the error of a lock refused after its attempts to access denied;
// others pass.
DWORD MapLockError(DWORD systemError);

}  // namespace pr::store
