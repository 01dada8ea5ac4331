// Pager: the file under a Container's page tree.  It keeps the header, the
// mapping, the page cache and its clean-page policy, the pending-update area
// and the two-phase write, the size-class regions and the page loads (with
// the sequence check that lets a read go without its reader slot).  What the
// pages hold, and how they form a tree, is the B-tree's business
// (Container, container.h): the pager asks it only to re-point the one
// entry naming a page it moves.
//
// A file Container works over a platform HANDLE.  Every read and write goes
// through ReadFile/WriteFile at explicit offsets, in whole multiples of 64
// bytes, enciphered with the owner password when one is given.  Changes stay
// in the page cache until an update writes them (WriteUpdate, or its two
// phases for a commit over several files).  An in-memory Container (the tree
// of an INDEX key) offers the same record operations and never touches a file:
// its updates do nothing and its pages are never evicted.
//
// Failure model.
//  - Inconsistencies in the file or in the container raise the driver error box
//    (fatal_error.h), which does not return.  With ThrowingFatalHandler it
//    throws DriverError; the Container may then only be discarded or destroyed.
//  - A header that is short or lacks the magic makes RefreshHeader return
//    kRefreshInvalidFile.
//  - Write failures are returned as Windows error numbers (ERROR_ACCESS_DENIED
//    for a short write) and also kept in LastError().
//
// Writing one update (the driver takes the locks through ContainerHooks):
//   1  BeginUpdate: update lock (waiting), refresh the header.  Record changes
//      call it themselves when no update is open.
//   2  WriteUpdatePhaseOne: lock all reader slots; keep a copy of the header.
//   3  give every dirty page its final slot (re-home pages whose size class
//      changed, allocate new pages), then compact the regions;
//   4  committed length = max(new end, old end) of the page area; counter + 1;
//   5  write dirty pages: those inside the old page area (and the header, last)
//      into the pending-update area from the committed length, the others home;
//   6  flush; write the kept header copy with the new committed and pending
//      lengths at offset 0; flush.  A reader now knows an update is pending.
//   7  WriteUpdatePhaseTwo: write the pages home and the header at offset 0;
//      re-read it, committed = pending = end of the page area, counter + 1,
//      write, flush; cut the file back to the end of the page area; release
//      all reader slots and the update lock.
// A reader that refreshes while committed != pending finishes a complete
// pending area (or discards an incomplete one); see RefreshHeader.
//
// Thread safety: none.  The driver serialises every use of one Container.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/kernel.h"
#include "store/cipher.h"
#include "store/container_format.h"
#include "store/page.h"
#include "store/page_cache.h"
#include "store/read_context.h"
#include "store/status.h"

namespace pr::store {

class Container;

// Filled by the driver.  Lock calls return 0 or a Windows error number; the
// container calls them at the steps named above and keeps no count of its
// own beyond "held by this object".  The defaults lock nothing (exclusive
// opens, tests, in-memory trees).
class ContainerHooks {
 public:
  virtual ~ContainerHooks() = default;
  virtual DWORD LockUpdate() { return 0; }  // byte 1023, waiting
  virtual void UnlockUpdate() {}
  virtual DWORD LockAllReaders() { return 0; }  // bytes 0..1022, waiting
  virtual void UnlockAllReaders() {}
  virtual DWORD LockReaderSlot() { return 0; }  // taken by a refresh in read state
  virtual void UnlockReaderSlot() {}
  // Called by a refresh that found a complete pending area, with the
  // container reading through that area (its records are readable with
  // Find).  True: the area belongs to a transaction that never reached its
  // point of commit and is discarded.  False: it is finished.
  virtual bool PendingAreaIsUnfinishedTransaction(Container& /*file*/) { return false; }
};

// Thrown out of a read of the tree that ran without its reader slot (see
// AllowUnguardedRead) when a page had to come from disk and, once the slot
// was taken, the file turned out to have changed since the operation began:
// the pages it already read may be stale.  The operation has produced no
// result the caller keeps; it is repeated after a full header refresh.
struct StaleRead {};

struct ContainerOptions {
  std::string_view ownerPassword;  // empty: no encryption
  bool readOnly = false;           // never writes, never finishes a pending area
};

// What RefreshHeader found.  The numbers are those the driver has always
// been given (0, 1, 2), so a caller comparing with them is unchanged.
enum RefreshResult : int {
  kRefreshOk = 0,
  kRefreshInvalidFile = 1,  // short header, wrong magic or an impossible layout
  kRefreshFailed = 2,       // a lock or a read failed; LastError() says why
};

class Pager {
 public:
  // A lazy node page is decoded at this many cache hits.
  static constexpr int kNodeHitsBeforeDecoding = 8;
  Pager(const Pager&) = delete;
  Pager& operator=(const Pager&) = delete;

  const std::string& fileName() const { return fileName_; }
  bool inMemory() const { return file_ == nullptr; }
  // The hooks must outlive the container (its destructor releases locks
  // through them); nullptr restores the defaults.
  void SetHooks(ContainerHooks* hooks) { hooks_ = hooks ? hooks : &defaultHooks_; }

  // ---- header
  // Reads the header at offset 0 (see the pending-area rules in the file
  // comment).  0: ok (also for a zero-length file, and for one whose header
  // block is all zeros: a first update cut short before it wrote the header,
  // both of which stay empty new files); 1: short header, wrong magic or an
  // impossible layout (a pending area whose images name homes outside the
  // page area included); 2: a lock (reader slot or update lock) or a read
  // failed, LastError() says why (RefreshResult names them).  Caches are
  // dropped when the change counter on disk differs from the one last read.
  // A pending area is finished or discarded unless the file is read-only or
  // in its read state; then the tree is read through it.  Finishing or
  // discarding happens under the update lock and on the header and area as
  // they stand once it is held.
  // REQUIRES: no uncommitted changes unless this object holds the update lock.
  int RefreshHeader();
  // The header the tree is read by (the pending area's copy while reading
  // through one).
  const FileHeader& header() const { return header_; }
  // The header block at offset 0 as last read: whether an update is pending
  // is decided from it, never from the copy inside the area (another program
  // may store any lengths there, since settling overwrites them).
  const FileHeader& diskHeader() const { return diskHeader_; }
  bool pendingAreaOnDisk() const { return diskHeader_.committedLength != diskHeader_.pendingLength; }
  // Issues the next record number: increments the header's big-endian last
  // record number and returns its image in `number`.  False (header
  // unchanged) when the first byte would reach 0xFE; the driver raises 1173.
  bool NextRecordNumber(uint8_t number[4]);
  // Changes whenever the tree or the cache changes shape.  Cursors and the
  // read caches no longer go by it: each checks its own page (PageMark).
  uint64_t version() const { return modifications_ + cache_.epoch(); }

  // ---- update machinery
  // Read state: a reading operation is in progress.  Entering it makes a
  // refresh take the reader slot; leaving it releases the slot.  Changes and
  // record numbers are refused in it (1194, 1203, 1163).
  void SetReadState(bool on);
  bool readState() const { return readState_; }
  // For the next refresh in read state only: when the header in the file's
  // mapping shows the change counter unchanged and no update pending, the
  // refresh takes no reader slot and reads nothing, and the operation runs
  // on the cached pages and on pages copied out of the mapping while the
  // header there shows that same state before and after the copy.  A load
  // that sees a change takes the slot and looks at the header again; if the
  // file changed meanwhile, that read throws StaleRead.  Leaving the read state ends the permission.
  void AllowUnguardedRead() { read_.unguardedAllowed = true; }
  bool unguarded() const { return read_.unguarded; }
  // Step 1: takes the update lock and refreshes the header; 0 or the lock's
  // error.  A second call while the update is open does nothing.
  DWORD BeginUpdate();
  bool updateOpen() const { return updateLockHeld_; }
  bool HasChanges() const;
  // Steps 3-7.  0 or a Windows error (also kept in LastError()).
  DWORD WriteUpdate();
  DWORD WriteUpdatePhaseOne();  // steps 2-6
  DWORD WriteUpdatePhaseTwo();  // step 7
  // For a multi-file commit that failed after phase one: the header block is
  // rewritten with committed = pending = the old end of the page area and the
  // change counter + 1; then the changes are discarded.
  DWORD DropPendingArea();
  // What a statement that fails must give back when earlier changes of the
  // same update stay in the cache: the record numbers it drew.  (Its records
  // it takes back itself; a number drawn by a refused ADD is not lost.)
  struct StatementMark {
    std::array<uint8_t, 4> lastRecordNumber{};
  };
  StatementMark MarkStatement() const { return {header_.lastRecordNumber}; }
  void ReturnRecordNumbers(const StatementMark& mark) { header_.lastRecordNumber = mark.lastRecordNumber; }
  // Rollback: clears the dirty state, drops the cache and the header copy (the
  // next refresh reads the header from disk) and releases the update locks.
  void Discard();
  DWORD LastError() const { return lastError_; }

  // ---- statistics and test access
  PageCache& cache() { return cache_; }
  size_t dirtyPageCount() const { return cache_.dirtyCount(); }
  // Node steps of read descents answered in the mapping, without a load.
  uint64_t nodeStepsInPlace() const { return read_.nodeStepsInPlace; }

 protected:
  friend struct ContainerVerifier;
  // A file pager.  The handle stays the caller's (it is not closed).
  Pager(HANDLE file, std::string fileName, const ContainerOptions& options);
  // An in-memory tree's: no file, no update, no eviction.
  explicit Pager(std::string name);
  virtual ~Pager();

  // What the tree above must do for the pager.
  // Re-points the one entry that names the page at `from` (or the header's
  // root reference) to `to`, the page having been re-filed there.
  virtual void MovePage(int32_t from, int32_t to) = 0;
  // The update just written is settled: places the tree remembered for its
  // writes no longer hold.
  virtual void ForgetWritePlaces() = 0;
  // Asks the driver whether a complete pending area belongs to a
  // transaction that never reached its point of commit.
  virtual bool PendingAreaIsUnfinishedTransaction() = 0;

  // pages (container_io.cpp)
  // The page of a reference, from the cache or loaded; with a level >= 0 it
  // must be of that level.  A load during an unguarded read goes through the
  // sequence check and takes the slot when it sees a change; Status::Stale()
  // when the file changed since the read began.
  Status LoadPage(int32_t reference, int expectedLevel, Page** page) const;
  // The same for the write path and the verifier, which never read without
  // the slot: a stale read cannot reach them, and would leave as StaleRead.
  Page* GetPage(int32_t reference, int expectedLevel) const;
  Page* NewPage(uint8_t level);
  void BeginChange(int readStateError);

  // regions (container_regions.cpp)
  void FreeSlot(int32_t reference);  // deferred until the next update
  void FreeSlotNow(int32_t reference, int cls);
  void ProcessDeferredFrees();
  int32_t AllocateSlot(int cls);
  bool MakeRoomBelow(int cls, int32_t need);
  void MakeRoomAbove(int cls, int32_t need);
  void PlacePages();
  bool CompactRegions();  // true when a page moved
  int32_t NextTemporaryReference() { return --temporaryCounter_; }

  // I/O and the pending area (container_io.cpp, container_update.cpp)
  DWORD ReadAt(uint64_t offset, uint8_t* buffer, uint32_t length, uint32_t* bytesRead) const;
  // Copies from the file's read-only mapping when it covers the range,
  // mapping the file again once it has grown; false: read with ReadFile.
  bool ReadMapped(uint64_t offset, uint8_t* buffer, uint32_t length) const;
  void Unmap() const;
  // The header in the mapping shows the state this object last read.
  bool MappedHeaderUnchanged() const;
  // A page needed during an unguarded read, copied out of the mapping
  // without the slot when the header's counters in the mapping show the
  // state the operation began on, both before and after the copy.  False:
  // the counters moved (or the page lies outside the mapping); the caller
  // takes the slot.
  bool LoadPageUnguarded(int32_t reference, std::vector<uint8_t>* image) const;
  // Runs read(bytes, length) on the slot of page `reference` in the mapping
  // when the header there shows the state this read began on, and answers
  // true only when read did and the header still shows it afterwards.
  template <typename Read>
  bool ReadSlotInMapping(int32_t reference, Read&& read) const;
  // During an unguarded read: the entry a descent follows in node
  // `reference` of `level` for key, searched where the node lies in the
  // mapping (no copy, no decoding, and the node does not enter the cache),
  // under the same sequence check as LoadPageUnguarded.  Only for a node
  // stored uncompressed; false for anything else, and the caller loads the
  // node as usual (which reports a damaged one).  *index is as Page::FindLE
  // answers (-1 below every entry); *child is the child followed.
  bool NodeChildUnguarded(int32_t reference, int level, ByteView key, long* index, int32_t* child) const;
  // A page is needed from disk during an unguarded read and cannot be had
  // without the slot: take it; Status::Stale() if the file changed (or the
  // slot could not be had: the full refresh of the repeat reports why).
  Status GuardRead() const;
  DWORD WriteAt(uint64_t offset, const uint8_t* buffer, uint32_t length);
  DWORD Flush();
  uint64_t Relocated(uint64_t home) const;
  void LoadPageImage(int32_t reference, std::vector<uint8_t>* image) const;
  void DropCaches();
  RefreshResult ReadHeaderAt0(FileHeader* header, bool* empty);
  RefreshResult ResolvePendingArea();
  DWORD WriteSettledHeader(FileHeader header);
  // Writes the images of pages beyond the old end of the page area home,
  // neighbours in one write, and lets the pages go (marked clean when
  // pinned).  The vector is sorted by reference.
  DWORD WriteHome(std::vector<Page*>* pages);
  DWORD FinishPendingArea();
  // Regions holding pages hold a tree; the counter is no guide (it may have
  // wrapped to 0 in another program's hands).
  bool TreeExists() const { return header_.EndReference() != 0; }
  void ReleaseUpdateLocks();

  std::string fileName_;
  HANDLE file_ = nullptr;
  bool readOnly_ = false;
  std::unique_ptr<CipherKey> cipher_;
  ContainerHooks defaultHooks_;
  ContainerHooks* hooks_ = &defaultHooks_;

  FileHeader header_;
  bool headerDirty_ = false;
  // The decoded pages are a cache of the file: a const read that loads a
  // page (or decodes one it holds) changes what is cached, never what the
  // file or the tree holds.
  mutable PageCache cache_;
  int32_t temporaryCounter_ = 0;
  uint64_t modifications_ = 0;
  std::unordered_map<uint64_t, uint64_t> relocations_;  // home offset -> file offset
  std::vector<int32_t> deferredFrees_;

  bool readState_ = false;
  // The read in progress: its reader slot and the pages it remembers.
  // Everything in it is a cache of the file or a lock on it, which a const
  // read takes and drops (read_context.h).
  mutable ReadContext read_;
  // The read-only mapping of the whole file (none for an in-memory tree, or
  // while the platform refuses one): a cache of the file's bytes, mapped
  // again by a const read once the file has grown.
  mutable HANDLE mapping_ = nullptr;
  mutable const uint8_t* view_ = nullptr;
  mutable size_t viewSize_ = 0;
  bool updateLockHeld_ = false;
  bool allReadersHeld_ = false;
  bool phaseOneDone_ = false;
  FileHeader diskHeader_;  // the committed state last read or written: the copy of step 2
  bool headerLoaded_ = false;
  uint32_t oldPageAreaEnd_ = 0;
  DWORD lastError_ = 0;
  std::vector<uint8_t> scratchImage_;
  std::vector<uint8_t> classImage_;  // an image built for its class or for a batch
  std::vector<uint8_t> batchImage_;  // neighbouring images written home together
};

}  // namespace pr::store
