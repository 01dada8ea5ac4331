#include "store/physical.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "store/locks.h"
#include "store/transaction.h"

namespace pr::store {
namespace {

// The open lists.  Process-wide objects live in g_sharedFiles; THREAD files
// in the calling thread's own list.  Both are used only under the driver's
// critical section (the thread list needs no lock at all).
std::vector<PhysicalFile*> g_sharedFiles;
thread_local std::vector<PhysicalFile*> t_threadFiles;

std::vector<PhysicalFile*>& ListFor(bool threadFile) { return threadFile ? t_threadFiles : g_sharedFiles; }

DWORD OpenHandle(const std::string& name, uint32_t mode, bool create, HANDLE* out, bool* created) {
  DWORD access = GENERIC_READ;
  if ((mode & kAccessMask) != 0) access |= GENERIC_WRITE;
  DWORD share = 0;
  switch (mode & kShareMask) {
    case kShareDenyNone: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    case kShareDenyWrite: share = FILE_SHARE_READ; break;
    default: share = 0; break;  // deny all, deny read
  }
  DWORD disposition = create ? CREATE_ALWAYS : OPEN_ALWAYS;
  // A read-only open cannot create the file it is looking for.
  if ((mode & kAccessMask) == 0 && !create) disposition = OPEN_EXISTING;
  SetLastError(0);
  HANDLE handle = CreateFileA(name.c_str(), access, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return MapOpenError(error != 0 ? error : ERROR_ACCESS_DENIED);
  }
  *out = handle;
  *created = GetLastError() != ERROR_ALREADY_EXISTS && disposition != OPEN_EXISTING;
  return 0;
}

}  // namespace

DWORD MapOpenError(DWORD systemError) {
  return systemError == ERROR_SHARING_VIOLATION ? ERROR_ACCESS_DENIED : systemError;
}

Status UpdateStatus(DWORD beginUpdate) {
  if (beginUpdate == 0) return Status::Ok();
  if (beginUpdate == static_cast<DWORD>(err::InvalidDataFile)) return Status::File(err::InvalidDataFile);
  return Status::System(beginUpdate);
}

DWORD MapLockError(DWORD systemError) {
  if (systemError == 0) return 0;
  // A lock refused after its attempts: the file is in use by another program
  // right now.  Reported as "Access Denied", never as a record error.
  if (systemError == ERROR_LOCK_VIOLATION || systemError == ERROR_SHARING_VIOLATION) return ERROR_ACCESS_DENIED;
  return systemError;
}

// ------------------------------------------------------------ FileLocks

FileLocks::FileLocks(HANDLE handle, uint32_t mode) : handle_(handle), mode_(mode), readerSlot_(InitialReaderSlot()) {}

FileLocks::~FileLocks() = default;

DWORD FileLocks::LockUpdate() {
  if (!denyNone() || updateLockHeld_) return 0;
  DWORD error = TakeLockRange(handle_, kUpdateLockOffset, 1, /*wait=*/true);
  if (error == 0) updateLockHeld_ = true;
  return error;
}

void FileLocks::UnlockUpdate() {
  if (!updateLockHeld_) return;
  ReleaseLockRange(handle_, kUpdateLockOffset, 1);
  updateLockHeld_ = false;
}

DWORD FileLocks::LockAllReaders() {
  if ((!denyNone() && !denyWrite()) || allReadersHeld_) return 0;
  DWORD error = TakeLockRange(handle_, kAllReaderSlotsOffset, kReaderSlotCount, /*wait=*/true);
  if (error == 0) allReadersHeld_ = true;
  return error;
}

void FileLocks::UnlockAllReaders() {
  if (!allReadersHeld_) return;
  ReleaseLockRange(handle_, kAllReaderSlotsOffset, kReaderSlotCount);
  allReadersHeld_ = false;
}

DWORD FileLocks::LockReaderSlot() {
  if (!denyNone() || readerSlotHeld_ || allReadersHeld_) return 0;
  DWORD error = TakeReaderSlot(handle_, &readerSlot_, /*wait=*/false);
  if (error == 0) readerSlotHeld_ = true;
  return error;
}

void FileLocks::UnlockReaderSlot() {
  if (!readerSlotHeld_) return;
  ReleaseLockRange(handle_, kLockBase + readerSlot_, 1);
  readerSlotHeld_ = false;
}

void FileLocks::ReleaseProtocolLocks() {
  UnlockReaderSlot();
  UnlockAllReaders();
  UnlockUpdate();
}

// ------------------------------------------------------------ PhysicalFile

PhysicalFile::PhysicalFile(HANDLE handle, std::string name, uint32_t mode, std::string_view owner,
                           bool threadFile)
    : FileLocks(handle, mode),
      name_(std::move(name)),
      threadFile_(threadFile),
      ownerThread_(GetCurrentThreadId()) {
  ContainerOptions options;
  options.ownerPassword = owner;
  options.readOnly = readOnly();
  container_ = std::make_unique<Container>(handle, name_, options);
  container_->SetHooks(this);
  const int fd = FileDescriptorOf(handle);
  if (fd >= 0) {
    const int flags = fcntl(fd, F_GETFL);
    sharedLocksOnly_ = flags >= 0 && (flags & O_ACCMODE) == O_RDONLY;
  }
}

DWORD PhysicalFile::TakeCompanionByte(uint32_t number) {
  if (!sharedLocksOnly_) return 0;
  if (companion_ == nullptr) {
    struct stat info {};
    const int fd = FileDescriptorOf(handle_);
    if (fd < 0 || fstat(fd, &info) != 0) return ERROR_ACCESS_DENIED;
    char path[96];
    std::snprintf(path, sizeof path, "/tmp/.pr-holds-%llx-%llx", static_cast<unsigned long long>(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    // The folder is everyone's: a name planted there as a link or as anything
    // but a plain file is not ours to open, let alone to open up to others.
    struct stat planted {};
    if (lstat(path, &planted) == 0 && !S_ISREG(planted.st_mode)) return ERROR_ACCESS_DENIED;
    SetLastError(0);
    HANDLE companion = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (companion == INVALID_HANDLE_VALUE) {
      // Without a companion no such reader could ever exclude another: the
      // hold is refused rather than granted to two of them.
      return ERROR_ACCESS_DENIED;
    }
    struct stat opened {};
    const int companionFd = FileDescriptorOf(companion);
    if (companionFd < 0 || fstat(companionFd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_nlink != 1) {
      CloseHandle(companion);
      return ERROR_ACCESS_DENIED;
    }
    // Every user who can read the data file must be able to lock here; only
    // the user who made the companion can (and need) open it up.
    if (opened.st_uid == geteuid() && (opened.st_mode & 0777) != 0666) fchmod(companionFd, 0666);
    companion_ = companion;
  }
  return TakeLockRange(companion_, HoldLockOffset(number), 1, /*wait=*/false);
}

void PhysicalFile::ReleaseCompanionByte(uint32_t number) {
  if (companion_ != nullptr) ReleaseLockRange(companion_, HoldLockOffset(number), 1);
}

PhysicalFile::~PhysicalFile() {
  container_.reset();
  for (auto& [number, count] : holds_) {
    ReleaseLockRange(handle_, HoldLockOffset(number), 1);
    ReleaseCompanionByte(number);
  }
  holds_.clear();
  if (companion_ != nullptr) CloseHandle(companion_);
  ReleaseProtocolLocks();
  if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

bool PhysicalFile::PendingAreaIsUnfinishedTransaction(Container& file) {
  return TransactionRecoveryCheck(file, name_);
}

// A refresh's answer: 1 is a file that is not a keyed file of this format,
// anything else but 0 a failed lock or read, whose system error the
// container keeps.
Status PhysicalFile::RefreshStatus(int refresh) const {
  if (refresh == 0) return Status::Ok();
  if (refresh == 1) return Status::File(err::InvalidDataFile);
  const DWORD error = container_->LastError();
  return Status::System(MapLockError(error != 0 ? error : ERROR_ACCESS_DENIED));
}

Status PhysicalFile::BeginRead(bool unguarded) {
  container_->SetReadState(true);
  if (unguarded) container_->AllowUnguardedRead();
  int refresh = container_->RefreshHeader();
  if (refresh == 0 && !readOnly() && container_->pendingAreaOnDisk()) {
    // An update cut short by another program: a reader only reads through
    // its pending area, so settle it now as a writer would, then read.  The
    // header at offset 0 tells that one is there; the copy inside the area
    // may show equal lengths when another program wrote it.
    container_->SetReadState(false);
    refresh = container_->RefreshHeader();
    container_->SetReadState(true);
    if (refresh == 0) refresh = container_->RefreshHeader();
  }
  return refresh == 0 ? Status::Ok() : RefreshStatus(refresh);
}

Status PhysicalFile::BeginChange() {
  if (readOnly()) return Status::System(ERROR_ACCESS_DENIED);
  container_->SetReadState(false);
  const DWORD start = GetTickCount();
  for (;;) {
    // Each round looks again at what may have changed during the pause:
    // another thread's transaction may have taken or left the file, another
    // declaration of it may have taken the update lock.
    if (inTransaction_ && TransactionOwnerThread() != GetCurrentThreadId()) {
      WaitOutsideDriverSection(5);
      continue;
    }
    if (!denyNone() || updateLockHeld_) break;
    DWORD error = TakeLockRange(handle_, kUpdateLockOffset, 1, /*wait=*/false);
    if (error == 0) {
      updateLockHeld_ = true;
      break;
    }
    if (error != ERROR_LOCK_VIOLATION) return Status::System(MapLockError(error));
    if (inTransaction_ && GetTickCount() - start >= TransactionLockPatience())
      return Status::System(MapLockError(error));
    // This thread's own THREAD object of the same file holds the lock (its
    // changes deferred): only this thread could let it go, so waiting would
    // never end.
    for (PhysicalFile* mine : t_threadFiles)
      if (mine != this && mine->name() == name_ && mine->updateLockHeld())
        return Status::System(MapLockError(error));
    WaitOutsideDriverSection(2);
  }
  // Another declaration's operation during a pause ends in the read state.
  container_->SetReadState(false);
  const Status status = UpdateStatus(container_->BeginUpdate());
  if (status.kind() != Status::Kind::kSystem) return status;
  return Status::System(MapLockError(static_cast<DWORD>(status.code())));
}

Status PhysicalFile::Finish(bool skipWrite) {
  if (!container_->updateOpen() && !container_->HasChanges()) {
    // A read (or a change that opened nothing): nothing to write or close,
    // only the reader slot to give back.
    container_->SetReadState(false);
    container_->SetReadState(true);
    return Status::Ok();
  }
  DWORD error = 0;
  if (!readOnly() && !inTransaction_ && !skipWrite && container_->HasChanges()) {
    container_->SetReadState(false);
    error = container_->WriteUpdate();
    if (error != 0) container_->Discard();
  }
  // An update opened by an operation that changed nothing is closed again.
  if (!inTransaction_ && !skipWrite && container_->updateOpen() && !container_->HasChanges()) {
    container_->SetReadState(false);
    (void)container_->WriteUpdate();
  }
  // Between operations no reader slot is held: leaving the read state frees
  // it, and entering it again takes nothing until the next refresh.
  container_->SetReadState(false);
  container_->SetReadState(true);
  return WrittenStatus(error);
}

void PhysicalFile::DiscardChanges() {
  if (inTransaction_) return;  // a transaction's changes go with its rollback
  container_->SetReadState(false);
  container_->Discard();
}

Status PhysicalFile::Hold(uint32_t number) {
  auto it = holds_.find(number);
  if (it != holds_.end()) {
    ++it->second;
    return Status::Ok();
  }
  DWORD error = TakeCompanionByte(number);
  if (error != 0) return Status::System(error);
  error = TakeLockRange(handle_, HoldLockOffset(number), 1, /*wait=*/false);
  if (error != 0) {
    ReleaseCompanionByte(number);
    return Status::System(error);
  }
  holds_[number] = 1;
  return Status::Ok();
}

void PhysicalFile::Release(uint32_t number, int count) {
  auto it = holds_.find(number);
  if (it == holds_.end() || count <= 0) return;
  it->second -= count;
  if (it->second <= 0) {
    ReleaseLockRange(handle_, HoldLockOffset(number), 1);
    ReleaseCompanionByte(number);
    holds_.erase(it);
  }
}

// ------------------------------------------------------------ open list

Status OpenPhysicalFile(const std::string& name, uint32_t mode, std::string_view owner, bool threadFile,
                        PhysicalFile** out) {
  *out = nullptr;
  const bool create = (mode & kCreateBit) != 0;
  const uint32_t normalized = NormalizeAccessMode(mode);
  auto& list = ListFor(threadFile);
  for (PhysicalFile* file : list) {
    if (file->name() != name || file->mode() != normalized) continue;
    if (create) return Status::System(ERROR_ACCESS_DENIED);  // cannot truncate a file in use
    ++file->useCount_;
    *out = file;
    return Status::Ok();
  }
  HANDLE handle = nullptr;
  bool created = false;
  if (DWORD error = OpenHandle(name, normalized, create, &handle, &created)) return Status::System(error);
  std::unique_ptr<PhysicalFile> file(new PhysicalFile(handle, name, normalized, owner, threadFile));
  file->createdByOpen_ = created;
  Status status = file->BeginRead();
  file->container().SetReadState(false);
  if (status.kind() == Status::Kind::kSystem) return Status::System(MapOpenError(static_cast<DWORD>(status.code())));
  if (!status.ok()) return status;
  file->useCount_ = 1;
  list.push_back(file.get());
  *out = file.release();
  return Status::Ok();
}

void ClosePhysicalFile(PhysicalFile* file) {
  if (file == nullptr) return;
  if (--file->useCount_ > 0) return;
  auto& list = ListFor(file->threadFile_);
  list.erase(std::remove(list.begin(), list.end(), file), list.end());
  delete file;
}

bool PhysicalFileIsOpen(const std::string& name) {
  for (PhysicalFile* file : g_sharedFiles)
    if (file->name() == name) return true;
  for (PhysicalFile* file : t_threadFiles)
    if (file->name() == name) return true;
  return false;
}

}  // namespace pr::store
