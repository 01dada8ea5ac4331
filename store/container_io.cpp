// The pager (pager.h): construction, file I/O with the cipher, the header
// refresh and the pending-update area as a reader meets it.
#include <algorithm>
#include <atomic>
#include <set>
#include <cstring>

#include "store/container.h"
#include "store/fatal_error.h"
#include "store/image_search.h"

namespace pr::store {

namespace {
FileHeader EmptyHeader() { return FileHeader{}; }

// Orders the loads from the mapping before it ahead of those after it.  The
// other side of these reads is another process's writes, which no thread
// checker sees; GCC's refuses thread fences, so under it the fence is only
// the compiler's (the loads stay in order on x86).
inline void LoadFence() {
#if defined(__SANITIZE_THREAD__)
  std::atomic_signal_fence(std::memory_order_seq_cst);
#else
  std::atomic_thread_fence(std::memory_order_acquire);
#endif
}
}  // namespace

Pager::Pager(HANDLE file, std::string fileName, const ContainerOptions& options)
    : fileName_(std::move(fileName)), file_(file), readOnly_(options.readOnly) {
  if (!options.ownerPassword.empty()) cipher_ = std::make_unique<CipherKey>(options.ownerPassword);
  header_ = diskHeader_ = EmptyHeader();
}

Pager::Pager(std::string name) : fileName_(std::move(name)) { header_ = diskHeader_ = EmptyHeader(); }

Container::Container(HANDLE file, std::string fileName, const ContainerOptions& options)
    : Pager(file, std::move(fileName), options) {}

Container::Container(std::string name) : Pager(std::move(name)) {}

std::unique_ptr<Container> Container::CreateInMemory(std::string name) {
  return std::unique_ptr<Container>(new Container(std::move(name)));
}

Container::~Container() = default;

Pager::~Pager() {
  // Locks go with the handle's owner; an update left open is simply dropped.
  ReleaseUpdateLocks();
  if (read_.slotHeld) hooks_->UnlockReaderSlot();
  Unmap();
}

// ---------------------------------------------------------------- mapping
// Reads copy out of a shared read-only mapping of the file: the same bytes a
// ReadFile would return (writes of every process show in it at once), without
// a system call.  The mapping covers the file as long as it was when mapped;
// a read beyond maps it again if the file has grown, else falls back to
// ReadFile, which reports the short read.

void Pager::Unmap() const {
  if (view_ != nullptr) UnmapViewOfFile(view_);
  if (mapping_ != nullptr) CloseHandle(mapping_);
  view_ = nullptr;
  mapping_ = nullptr;
  viewSize_ = 0;
}

bool Pager::ReadMapped(uint64_t offset, uint8_t* buffer, uint32_t length) const {
  if (file_ == nullptr) return false;
  if (offset + length > viewSize_) {
    LONGLONG size = 0;
    if (!GetFileSizeEx(file_, &size) || static_cast<uint64_t>(size) < offset + length ||
        static_cast<uint64_t>(size) <= viewSize_)
      return false;
    Unmap();
    mapping_ = CreateFileMappingA(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping_ == nullptr) return false;
    view_ = static_cast<const uint8_t*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
    if (view_ == nullptr) {
      Unmap();
      return false;
    }
    viewSize_ = ViewSize(view_);
    if (offset + length > viewSize_) return false;
  }
  if (!CopyFromView(buffer, view_ + offset, length)) {
    Unmap();  // the file was cut short under the view: ReadFile tells how
    return false;
  }
  return true;
}

bool Pager::MappedHeaderUnchanged() const {
  uint8_t block[kCipherBlock] = {};
  if (viewSize_ < kHeaderSize) return false;
  if (cipher_) {
    if (!CopyFromView(block, view_, sizeof block)) return false;
    cipher_->Decipher(block, sizeof block);
  } else {
    // The lengths before the counter, in two loads ordered by the fence: a
    // header being rewritten while it is read may show bytes of two writes,
    // and lengths from a later write then come with a counter at least as
    // new.  Every write of a header that could show our own counter with
    // equal lengths comes before the first page of an update goes home, so
    // a mix that passes is a header of the state we read.
    // Both loads under one guard: entering it costs more than the copies.
    struct Peek {
      uint8_t* block;
      const uint8_t* view;
    } peek{block, view_};
    if (!CallWithViewGuard(
            [](void* context) {
              constexpr size_t at = FileHeader::kChangeCounterOffset;
              const Peek* p = static_cast<const Peek*>(context);
              std::memcpy(p->block, p->view, at);
              LoadFence();
              std::memcpy(p->block + at, p->view + at, 4);
            },
            &peek))
      return false;
  }
  FileHeader::Counters now;
  if (!FileHeader::PeekCounters(block, &now)) return false;
  return now.committedLength == now.pendingLength && now.changeCounter == diskHeader_.changeCounter;
}

template <typename Read>
bool Pager::ReadSlotInMapping(int32_t reference, Read&& read) const {
  // An enciphered header block cannot be read in the two ordered parts the
  // check needs; such files take the slot.
  if (cipher_ || view_ == nullptr || !relocations_.empty()) return false;
  const int cls = header_.ClassOf(reference);
  const uint64_t offset = PageOffset(reference);
  const size_t length = static_cast<size_t>(cls) * kUnit;
  if (cls == 0 || offset + length > viewSize_) return false;  // the guarded load reports or maps
  // A sequence check: the counters are as the operation found them before
  // the read and still after it.  An update rewrites pages of the committed
  // state only after the header names its pending area, and settles with a
  // new counter; a read that met any of its writes fails the second look.
  if (!MappedHeaderUnchanged()) return false;
  LoadFence();
  if (!read(view_ + offset, length)) return false;
  LoadFence();
  return MappedHeaderUnchanged();
}

bool Pager::LoadPageUnguarded(int32_t reference, std::vector<uint8_t>* image) const {
  return ReadSlotInMapping(reference, [image](const uint8_t* slot, size_t length) {
    image->resize(length);
    return CopyFromView(image->data(), slot, length) != FALSE;  // cut short: the guarded load says how
  });
}

bool Pager::NodeChildUnguarded(int32_t reference, int level, ByteView key, long* index, int32_t* child) const {
  if (!read_.unguarded || level <= 0) return false;
  if (!ReadSlotInMapping(reference, [&](const uint8_t* slot, size_t length) {
        return ChildInView(slot, length, reference, key, index, child, level);
      }))
    return false;
  ++read_.nodeStepsInPlace;
  return true;
}

Status Pager::GuardRead() const {
  read_.unguarded = read_.unguardedAllowed = false;
  if (!read_.slotHeld) {
    if (hooks_->LockReaderSlot() != 0) return Status::Stale();  // the full refresh reports it
    read_.slotHeld = true;
  }
  return MappedHeaderUnchanged() ? Status::Ok() : Status::Stale();
}

// ---------------------------------------------------------------- raw I/O

DWORD Pager::ReadAt(uint64_t offset, uint8_t* buffer, uint32_t length, uint32_t* bytesRead) const {
  if (length % kCipherBlock != 0) RaiseDriverError(kErrReadNotBlockMultiple, fileName_.c_str());
  if (ReadMapped(offset, buffer, length)) {
    if (cipher_) cipher_->Decipher(buffer, length);
    *bytesRead = length;
    return 0;
  }
  OVERLAPPED at;
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  *bytesRead = 0;
  if (!ReadFile(file_, buffer, length, &got, &at)) {
    DWORD error = GetLastError();
    return error ? error : DWORD{ERROR_READ_FAULT};
  }
  if (cipher_) cipher_->Decipher(buffer, got / kCipherBlock * kCipherBlock);
  *bytesRead = got;
  return 0;
}

DWORD Pager::WriteAt(uint64_t offset, const uint8_t* buffer, uint32_t length) {
  if (length % kCipherBlock != 0) RaiseDriverError(kErrWriteNotBlockMultiple, fileName_.c_str());
  const uint8_t* source = buffer;
  std::vector<uint8_t> enciphered;
  if (cipher_) {  // the caller's buffer stays as it was
    enciphered.assign(buffer, buffer + length);
    cipher_->Encipher(enciphered.data(), length);
    source = enciphered.data();
  }
  OVERLAPPED at;
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD written = 0;
  if (!WriteFile(file_, source, length, &written, &at)) {
    DWORD error = GetLastError();
    return error ? error : DWORD{ERROR_WRITE_FAULT};
  }
  return written == length ? DWORD{0} : DWORD{ERROR_ACCESS_DENIED};  // a short write is reported as 5
}

DWORD Pager::Flush() {
  if (FlushFileBuffers(file_)) return 0;
  DWORD error = GetLastError();
  return error ? error : DWORD{ERROR_WRITE_FAULT};
}

uint64_t Pager::Relocated(uint64_t home) const {
  if (relocations_.empty()) return home;
  auto it = relocations_.find(home);
  return it == relocations_.end() ? home : it->second;
}

void Pager::LoadPageImage(int32_t reference, std::vector<uint8_t>* image) const {
  int cls = header_.ClassOf(reference);
  if (cls == 0) RaiseDriverError(kErrReferenceInNoRegion, fileName_.c_str());
  image->resize(static_cast<size_t>(cls) * kUnit);
  uint32_t got = 0;
  DWORD error = ReadAt(Relocated(PageOffset(reference)), image->data(), static_cast<uint32_t>(image->size()), &got);
  if (error) RaiseDriverError(kErrReadFailed, fileName_.c_str());
  if (got != image->size()) RaiseDriverError(kErrShortRead, fileName_.c_str());
}

void Pager::DropCaches() {
  cache_.Clear();
  deferredFrees_.clear();
  temporaryCounter_ = 0;
  ++modifications_;
}

// ---------------------------------------------------------------- header

RefreshResult Pager::ReadHeaderAt0(FileHeader* header, bool* empty) {
  uint8_t raw[kHeaderSize];
  uint32_t got = 0;
  *empty = false;
  DWORD error = ReadAt(0, raw, kHeaderSize, &got);
  if (error) {
    lastError_ = error;
    return kRefreshFailed;
  }
  // Nothing there, or a header block never written: a new file.  The first
  // update of a file writes an empty header before anything else, so an
  // all-zero block is left only by a first update cut short before that
  // (older versions wrote the pages first) and holds nothing committed.
  if (got == 0) {
    *empty = true;
    return kRefreshOk;
  }
  // Zeros as they lie on disk (a block of zeros deciphers to noise).
  auto zerosOnDisk = [this](const uint8_t* bytes, uint32_t length) {
    std::vector<uint8_t> copy(bytes, bytes + length);
    if (cipher_) cipher_->Encipher(copy.data(), length / kCipherBlock * kCipherBlock);
    return std::all_of(copy.begin(), copy.end(), [](uint8_t b) { return b == 0; });
  };
  if (got == kHeaderSize && zerosOnDisk(raw, kHeaderSize)) {
    // Such a first update wrote nothing but pages from offset 512 on, the
    // first of them homed there.  A file that shows something else there is
    // another program's, and is not taken over.
    uint8_t first[kCipherBlock];
    got = 0;
    if (ReadAt(kHeaderSize, first, kCipherBlock, &got) != 0) return kRefreshInvalidFile;
    const bool zeros = zerosOnDisk(first, got);
    if (got != 0 && !zeros && (got < kCipherBlock || LoadU32(first) != kHeaderSize)) return kRefreshInvalidFile;
    *empty = true;
    return kRefreshOk;
  }
  if (got < kHeaderSize || !header->Parse(raw) || !header->IsSane()) return kRefreshInvalidFile;
  return kRefreshOk;
}

int Pager::RefreshHeader() {
  // Between the phases of our own update the disk shows our pending area.
  if (inMemory() || phaseOneDone_) return kRefreshOk;
  if (readState_ && !read_.slotHeld) {
    if (read_.unguardedAllowed && headerLoaded_ && relocations_.empty() && MappedHeaderUnchanged()) {
      read_.unguarded = true;
      return kRefreshOk;
    }
    DWORD error = hooks_->LockReaderSlot();
    if (error) {
      lastError_ = error;
      return kRefreshFailed;
    }
    read_.slotHeld = true;
  }
  // Nothing changed, as the counters in the mapping show: no full read.
  if (headerLoaded_ && relocations_.empty() && MappedHeaderUnchanged()) return kRefreshOk;
  FileHeader disk;
  bool empty = false;
  RefreshResult status = ReadHeaderAt0(&disk, &empty);
  if (status != kRefreshOk) return status;
  if (empty) {
    // A new file: the in-memory header stands (magic set, nothing else),
    // unless what we hold came from a file that has since been emptied.
    if (!headerLoaded_ || !relocations_.empty() || diskHeader_.changeCounter != 0 ||
        diskHeader_.EndReference() != 0) {
      DropCaches();
      relocations_.clear();
      header_ = diskHeader_ = EmptyHeader();
      headerDirty_ = false;
      headerLoaded_ = true;
    }
    return kRefreshOk;
  }
  // Nothing changed since we last looked: keep the caches.  The counter
  // wraps, so only "the same" means unchanged.  A view through a pending
  // area is always looked at again.
  if (headerLoaded_ && relocations_.empty() && disk.changeCounter == diskHeader_.changeCounter &&
      disk.committedLength == disk.pendingLength)
    return kRefreshOk;
  DropCaches();
  relocations_.clear();
  header_ = diskHeader_ = disk;
  headerDirty_ = false;
  headerLoaded_ = true;
  if (disk.committedLength == disk.pendingLength) return kRefreshOk;
  return ResolvePendingArea();
}

RefreshResult Pager::ResolvePendingArea() {
  const bool mayWrite = !readOnly_ && !readState_;
  bool tookLock = false;
  auto unlock = [&] {
    if (!tookLock) return;
    hooks_->UnlockUpdate();
    updateLockHeld_ = false;
    tookLock = false;
  };
  if (mayWrite && !updateLockHeld_) {
    // The area is settled under the update lock, and on the file as it stands
    // once the lock is ours: while we waited, another program may have
    // settled it and written updates of its own.  What was read before the
    // lock is stale, so the header is read again and the area walked again.
    DWORD error = hooks_->LockUpdate();
    if (error) {
      lastError_ = error;
      relocations_.clear();
      header_ = diskHeader_;
      return kRefreshFailed;
    }
    tookLock = updateLockHeld_ = true;
    FileHeader now;
    bool empty = false;
    RefreshResult status = ReadHeaderAt0(&now, &empty);
    if (status != kRefreshOk) {
      unlock();
      headerLoaded_ = false;
      header_ = diskHeader_ = EmptyHeader();
      return status;
    }
    DropCaches();
    relocations_.clear();
    header_ = diskHeader_ = empty ? EmptyHeader() : now;
    headerDirty_ = false;
    if (diskHeader_.committedLength == diskHeader_.pendingLength) {
      unlock();
      return kRefreshOk;
    }
  }
  const FileHeader disk = diskHeader_;
  // Walk the area: each image begins with its home offset and stored size.
  bool complete = true;
  std::unordered_map<uint64_t, uint64_t> found;
  std::vector<std::pair<uint64_t, uint32_t>> pageImages;  // home, rounded size
  uint64_t at = disk.committedLength;
  uint8_t head[kHeaderSize];
  while (at < disk.pendingLength) {
    uint32_t got = 0;
    if (ReadAt(at, head, kHeaderSize, &got) != 0 || got < kHeaderSize) {
      complete = false;
      break;
    }
    uint32_t home = LoadU32(head);
    uint32_t size = LoadU16(head + 4);
    bool headerImage = home == 0 && size == kHeaderSize;
    bool pageImage = home >= kHeaderSize && (home - kHeaderSize) % kUnit == 0 && size >= kPageHeaderSize &&
                     size <= kMaxPageBytes;
    uint32_t rounded = RoundUpToUnit(size);
    if ((!headerImage && !pageImage) || at + rounded > disk.pendingLength) {
      complete = false;
      break;
    }
    found[home] = at;
    if (pageImage) pageImages.emplace_back(home, rounded);
    at += rounded;
  }
  FileHeader pending;
  if (complete) {
    auto it = found.find(0);
    uint32_t got = 0;
    complete = it != found.end() && ReadAt(it->second, head, kHeaderSize, &got) == 0 && got == kHeaderSize &&
               pending.Parse(head) && pending.IsSane();
  }
  if (complete) {
    // Every image must go home inside the page area its header describes.
    // No cut-short write leaves one that does not: the file is damaged, and
    // nothing is written on its word.
    const uint64_t end = pending.PageAreaEnd();
    for (const auto& [home, rounded] : pageImages) {
      if (home + rounded > end) {
        unlock();
        relocations_.clear();
        header_ = disk;
        return kRefreshInvalidFile;
      }
    }
  }
  if (complete) {
    // Read the tree as the area has it, and ask whether it may be finished.
    relocations_ = std::move(found);
    header_ = pending;
    if (PendingAreaIsUnfinishedTransaction()) complete = false;
    DropCaches();
  }
  if (!complete) {
    relocations_.clear();
    header_ = disk;
    if (!mayWrite) return kRefreshOk;  // read the old state; a writer will settle the file
  } else if (!mayWrite) {
    return kRefreshOk;  // keep reading through the area
  }

  DWORD error = complete ? FinishPendingArea() : WriteSettledHeader(disk);
  unlock();
  if (error) {
    lastError_ = error;
    return kRefreshFailed;
  }
  return kRefreshOk;
}

DWORD Pager::FinishPendingArea() {
  // Copy every image home, then settle the header taken from the area.
  std::vector<uint8_t> image;
  for (const auto& [home, at] : relocations_) {
    if (home == 0) continue;
    uint8_t head[kCipherBlock];
    uint32_t got = 0;
    DWORD error = ReadAt(at, head, kCipherBlock, &got);
    if (error) return error;
    if (got < kCipherBlock) return ERROR_READ_FAULT;
    image.resize(RoundUpToUnit(LoadU16(head + 4)));
    error = ReadAt(at, image.data(), static_cast<uint32_t>(image.size()), &got);
    if (error) return error;
    if (got != image.size()) return ERROR_READ_FAULT;
    error = WriteAt(home, image.data(), static_cast<uint32_t>(image.size()));
    if (error) return error;
  }
  DWORD error = Flush();
  if (error) return error;
  // The counter goes on from the later of the area's copy and the header at
  // offset 0 (another program may have left its copy behind), so that it
  // never goes back and every reader sees a change.
  FileHeader settled = header_;
  settled.changeCounter = LaterChangeCounter(settled.changeCounter, diskHeader_.changeCounter);
  relocations_.clear();
  return WriteSettledHeader(settled);
}

DWORD Pager::WriteSettledHeader(FileHeader header) {
  header.committedLength = header.pendingLength = header.PageAreaEnd();
  header.changeCounter = NextChangeCounter(header.changeCounter);
  uint8_t raw[kHeaderSize];
  header.Serialize(raw);
  DWORD error = WriteAt(0, raw, kHeaderSize);
  if (!error) error = Flush();
  DropCaches();
  relocations_.clear();
  if (error) {
    // The area is still there for the next one who looks.
    headerLoaded_ = false;
    header_ = diskHeader_ = EmptyHeader();
    return error;
  }
  header_ = diskHeader_ = header;
  headerDirty_ = false;
  return 0;
}

bool Pager::NextRecordNumber(uint8_t number[4]) {
  BeginChange(kErrNumberInReadState);
  std::array<uint8_t, 4> next = header_.lastRecordNumber;
  for (int i = 3; i >= 0; --i)
    if (++next[static_cast<size_t>(i)] != 0) break;
  if (next[0] >= 0xFE) return false;
  header_.lastRecordNumber = next;
  headerDirty_ = true;
  std::memcpy(number, next.data(), 4);
  return true;
}

void Pager::SetReadState(bool on) {
  if (readState_ == on) return;
  readState_ = on;
  if (!on) read_.unguardedAllowed = read_.unguarded = false;
  if (!on && read_.slotHeld) {
    hooks_->UnlockReaderSlot();
    read_.slotHeld = false;
  }
}

bool Pager::HasChanges() const { return headerDirty_ || cache_.dirtyCount() > 0 || !deferredFrees_.empty(); }

void Pager::ReleaseUpdateLocks() {
  if (allReadersHeld_) {
    hooks_->UnlockAllReaders();
    allReadersHeld_ = false;
  }
  if (updateLockHeld_) {
    hooks_->UnlockUpdate();
    updateLockHeld_ = false;
  }
}

void Pager::Discard() {
  DropCaches();
  relocations_.clear();
  headerDirty_ = false;
  phaseOneDone_ = false;
  header_ = diskHeader_ = EmptyHeader();
  headerLoaded_ = inMemory();
  ReleaseUpdateLocks();
  SetReadState(false);
}

}  // namespace pr::store
