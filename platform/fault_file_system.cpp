// The fault-injecting file system: counted and chosen failures, power loss
// over the writes since each file's last sync, and the locks of a dead
// process.
#include "platform/fault_file_system.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <numeric>
#include <random>

namespace prk {

namespace {
constexpr int64_t kSector = 512;
}

FaultFileSystem::FaultFileSystem(FileSystem* below) : below_(below ? below : &RealFileSystem()) {}

FaultFileSystem::~FaultFileSystem() = default;

void FaultFileSystem::FailCall(Call call, long nth, int error, bool fromThenOn) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_[call] = Failure{nth, error, fromThenOn};
}

void FaultFileSystem::ClearFailures() {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.clear();
}

long FaultFileSystem::Count(Call call) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_[call];
}

void FaultFileSystem::ResetCounts() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::fill(std::begin(counts_), std::end(counts_), 0);
}

int FaultFileSystem::Enter(Call call) {
  long number;
  Failure failure{0, 0, false};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    number = ++counts_[call];
    auto it = failures_.find(call);
    if (it != failures_.end()) failure = it->second;
  }
  if (beforeCall) beforeCall(call, number);
  if (failure.nth > 0 && (number == failure.nth || (failure.fromThenOn && number > failure.nth))) return failure.error;
  return 0;
}

std::vector<uint8_t> FaultFileSystem::ReadImage(int fd) const {
  std::vector<uint8_t> image;
  struct stat st {};
  if (fstat(fd, &st) != 0) return image;
  image.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < image.size()) {
    ssize_t got = ::pread(fd, image.data() + done, image.size() - done, static_cast<off_t>(done));
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  image.resize(done);
  return image;
}

FaultFileSystem::Tracked* FaultFileSystem::TrackedFor(int fd) {
  auto it = fds_.find(fd);
  if (it == fds_.end()) return nullptr;
  auto file = files_.find(it->second);
  return file == files_.end() ? nullptr : &file->second;
}

int FaultFileSystem::Open(const char* path, int flags, mode_t mode) {
  if (int error = Enter(kOpen)) {
    errno = error;
    return -1;
  }
  int fd = below_->Open(path, flags, mode);
  if (fd < 0) return fd;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    std::lock_guard<std::mutex> lock(mutex_);
    FileKey key{st.st_dev, st.st_ino};
    fds_[fd] = key;
    if (files_.find(key) == files_.end()) {
      Tracked& file = files_[key];
      file.path = path;
      file.synced = ReadImage(fd);  // what was there before is taken as synced
    }
  }
  return fd;
}

int FaultFileSystem::Close(int fd) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fds_.erase(fd);
    locks_.erase(std::remove_if(locks_.begin(), locks_.end(), [fd](const HeldLock& l) { return l.fd == fd; }),
                 locks_.end());
  }
  if (int error = Enter(kClose)) {
    below_->Close(fd);  // the descriptor is gone whatever close answers
    errno = error;
    return -1;
  }
  return below_->Close(fd);
}

long FaultFileSystem::Pread(int fd, void* buffer, size_t n, int64_t offset) {
  if (int error = Enter(kRead)) {
    errno = error;
    return -1;
  }
  return below_->Pread(fd, buffer, n, offset);
}

long FaultFileSystem::Pwrite(int fd, const void* buffer, size_t n, int64_t offset) {
  if (int error = Enter(kWrite)) {
    errno = error;
    return -1;
  }
  long put = below_->Pwrite(fd, buffer, n, offset);
  if (put > 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Tracked* file = TrackedFor(fd)) {
      Change change;
      change.offset = offset;
      const auto* bytes = static_cast<const uint8_t*>(buffer);
      change.bytes.assign(bytes, bytes + put);
      file->unsynced.push_back(std::move(change));
    }
  }
  return put;
}

int FaultFileSystem::Sync(int fd) {
  if (int error = Enter(kSync)) {
    errno = error;
    return -1;
  }
  int rc = below_->Sync(fd);
  if (rc == 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Tracked* file = TrackedFor(fd)) {
      file->synced = ReadImage(fd);
      file->unsynced.clear();
    }
  }
  return rc;
}

int FaultFileSystem::Truncate(int fd, int64_t length) {
  if (int error = Enter(kTruncate)) {
    errno = error;
    return -1;
  }
  int rc = below_->Truncate(fd, length);
  if (rc == 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Tracked* file = TrackedFor(fd)) {
      Change change;
      change.truncate = true;
      change.offset = length;
      file->unsynced.push_back(std::move(change));
    }
  }
  return rc;
}

int FaultFileSystem::Lock(int fd, int command, struct flock* range) {
  if (int error = Enter(kLock)) {
    errno = error;
    return -1;
  }
  int rc = below_->Lock(fd, command, range);
  if (rc == 0 && command == F_OFD_SETLK) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto same = [&](const HeldLock& l) { return l.fd == fd && l.start == range->l_start && l.length == range->l_len; };
    locks_.erase(std::remove_if(locks_.begin(), locks_.end(), same), locks_.end());
    if (range->l_type != F_UNLCK) locks_.push_back(HeldLock{fd, range->l_start, range->l_len});
  }
  return rc;
}

void* FaultFileSystem::Map(size_t length, int fd, int64_t offset) {
  if (!allowMapping) {
    errno = ENOTSUP;
    return MAP_FAILED;
  }
  if (int error = Enter(kMap)) {
    errno = error;
    return MAP_FAILED;
  }
  return below_->Map(length, fd, offset);
}

int FaultFileSystem::Unmap(void* base, size_t length) { return below_->Unmap(base, length); }

size_t FaultFileSystem::UnsyncedChanges() const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  for (const auto& [key, file] : files_) n += file.unsynced.size();
  return n;
}

size_t FaultFileSystem::LocksHeld() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return locks_.size();
}

void FaultFileSystem::ReleaseLocksOfDeadProcess() {
  std::vector<HeldLock> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held.swap(locks_);
  }
  for (const HeldLock& l : held) {
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = l.start;
    fl.l_len = l.length;
    below_->Lock(l.fd, F_OFD_SETLK, &fl);
  }
}

void FaultFileSystem::PowerLoss(Loss pattern, uint32_t seed) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::mt19937 rng(seed);
  for (auto& [key, file] : files_) {
    std::vector<uint8_t> image = file.synced;
    // One piece per sector a write touches: the unit the disk keeps or loses.
    struct Piece {
      const Change* change;
      int64_t from, to;  // within change->bytes
    };
    std::vector<Piece> pieces;
    std::vector<size_t> firstPiece;  // per change
    for (const Change& change : file.unsynced) {
      firstPiece.push_back(pieces.size());
      if (change.truncate) {
        pieces.push_back({&change, 0, 0});
        continue;
      }
      int64_t at = 0;
      const int64_t n = static_cast<int64_t>(change.bytes.size());
      while (at < n) {
        int64_t sectorEnd = ((change.offset + at) / kSector + 1) * kSector - change.offset;
        int64_t to = std::min(n, sectorEnd);
        pieces.push_back({&change, at, to});
        at = to;
      }
    }
    firstPiece.push_back(pieces.size());
    std::vector<bool> keep(pieces.size(), false);
    const size_t changes = file.unsynced.size();
    switch (pattern) {
      case Loss::kDropAll:
        break;
      case Loss::kKeepAll:
        std::fill(keep.begin(), keep.end(), true);
        break;
      case Loss::kPrefixTorn: {
        size_t whole = changes == 0 ? 0 : rng() % changes;
        for (size_t p = 0; p < firstPiece[whole]; ++p) keep[p] = true;
        if (whole < changes) {
          size_t n = firstPiece[whole + 1] - firstPiece[whole];
          for (size_t p = 0; p < (n + 1) / 2; ++p) keep[firstPiece[whole] + p] = true;
        }
        break;
      }
      case Loss::kRandomSubset:
      case Loss::kReordered:
        for (size_t c = 0; c < changes; ++c) {
          bool kept = rng() % 2 == 0;
          for (size_t p = firstPiece[c]; p < firstPiece[c + 1]; ++p) keep[p] = kept;
        }
        break;
      case Loss::kRandomSectors:
        for (size_t p = 0; p < pieces.size(); ++p) keep[p] = rng() % 2 == 0;
        break;
    }
    std::vector<size_t> order(pieces.size());
    std::iota(order.begin(), order.end(), size_t{0});
    if (pattern == Loss::kReordered || pattern == Loss::kRandomSectors) std::shuffle(order.begin(), order.end(), rng);
    for (size_t p : order) {
      if (!keep[p]) continue;
      const Piece& piece = pieces[p];
      if (piece.change->truncate) {
        image.resize(static_cast<size_t>(piece.change->offset));
        continue;
      }
      const size_t at = static_cast<size_t>(piece.change->offset + piece.from);
      const size_t n = static_cast<size_t>(piece.to - piece.from);
      if (image.size() < at + n) image.resize(at + n, 0);
      std::copy_n(piece.change->bytes.begin() + piece.from, n, image.begin() + static_cast<ptrdiff_t>(at));
    }
    // What the disk holds now, written past every open handle.
    int fd = ::open(file.path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) continue;
    size_t done = 0;
    while (done < image.size()) {
      ssize_t put = ::pwrite(fd, image.data() + done, image.size() - done, static_cast<off_t>(done));
      if (put <= 0) break;
      done += static_cast<size_t>(put);
    }
    if (::ftruncate(fd, static_cast<off_t>(image.size())) != 0) {
      // The file keeps its length; the test that reads it will say so.
    }
    ::close(fd);
    file.synced = std::move(image);
    file.unsynced.clear();
  }
}

}  // namespace prk
