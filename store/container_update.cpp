// The pager writing one update: the order of writes and flushes that lets a
// reader always find either the old state or a complete pending area.
//
//   BeginUpdate            1  update lock, refresh
//   WriteUpdatePhaseOne    2  all reader slots; the committed header is the copy
//                             (a file never written: that copy, empty, is
//                             written at 0 and flushed first)
//                          3  final slots for dirty pages, region compaction
//                          4  committed = max(new end, old end), counter + 1
//                          5  images inside the old area -> pending area,
//                             others home; the header image last
//                          6  flush; header at 0 names the area; flush
//   WriteUpdatePhaseTwo    7  images home, header at 0; flush; settled
//                             header (committed = pending, counter + 1); flush;
//                             the file cut back to the page area
//
// The flush between the images going home and the settled header is ours:
// without it the settled header could reach the disk before the pages it
// describes, and nothing would be left to finish them from.
#include <algorithm>

#include "files/error_codes.h"
#include "store/container.h"
#include "store/fatal_error.h"
#include "store/page_codec.h"

namespace pr::store {

namespace {
// What an update that finds the file unreadable as a keyed file reports:
// the runtime's "Invalid Data File", as the driver passes it on.
constexpr DWORD kInvalidFile = files::err::InvalidDataFile;
// Up to this much past the page area (a pending area for the next update)
// stays in the file after an update.
constexpr LONGLONG kTailKeptBytes = 256 * 1024;
}

DWORD Pager::BeginUpdate() {
  if (inMemory() || updateLockHeld_) return 0;
  DWORD error = hooks_->LockUpdate();
  if (error) {
    lastError_ = error;
    return error;
  }
  updateLockHeld_ = true;
  const int status = RefreshHeader();
  if (status != kRefreshOk) {
    hooks_->UnlockUpdate();
    updateLockHeld_ = false;
    if (status == kRefreshInvalidFile) lastError_ = kInvalidFile;
    return lastError_;
  }
  return 0;
}

DWORD Pager::WriteUpdate() {
  DWORD error = WriteUpdatePhaseOne();
  if (error) return error;
  return WriteUpdatePhaseTwo();
}

DWORD Pager::WriteUpdatePhaseOne() {
  if (inMemory()) return 0;
  if (phaseOneDone_) return 0;
  if (!HasChanges()) {
    ReleaseUpdateLocks();
    return 0;
  }
  if (readOnly_) return lastError_ = ERROR_ACCESS_DENIED;
  if (!updateLockHeld_) {
    DWORD error = hooks_->LockUpdate();
    if (error) return lastError_ = error;
    updateLockHeld_ = true;
  }
  if (!allReadersHeld_) {
    DWORD error = hooks_->LockAllReaders();
    if (error) return lastError_ = error;
    allReadersHeld_ = true;
  }

  // A file never written gets its header block before anything else: pages
  // of a first update go straight home, and a cut before the header names
  // the pending area must leave a file that opens as new and empty, not
  // pages under a block of zeros that no reader can place.
  if (diskHeader_.changeCounter == 0 && diskHeader_.EndReference() == 0) {
    diskHeader_.committedLength = diskHeader_.pendingLength = diskHeader_.PageAreaEnd();
    uint8_t raw[kHeaderSize];
    diskHeader_.Serialize(raw);
    if (DWORD error = WriteAt(0, raw, kHeaderSize)) return lastError_ = error;
    if (DWORD error = Flush()) return lastError_ = error;
  }

  // Step 3.
  oldPageAreaEnd_ = diskHeader_.PageAreaEnd();
  PlacePages();

  // Step 4.
  const uint32_t newEnd = header_.PageAreaEnd();
  const uint32_t committed = std::max(newEnd, oldPageAreaEnd_);
  header_.committedLength = committed;
  header_.changeCounter = NextChangeCounter(header_.changeCounter);

  // Step 5: lay out the area first so that every image, the header's too,
  // names the area's true end.
  struct Placed {
    Page* page;
    uint64_t at;
  };
  std::vector<Placed> inside;
  std::vector<Page*> beyond;
  uint64_t pending = committed;
  cache_.ForEachDirty([&](Page* page) {
    if (PageOffset(page->reference()) >= oldPageAreaEnd_) {
      beyond.push_back(page);
      return;
    }
    PageCodec::Build(*page, page->reference(), &page->image(), &scratchImage_, fileName_.c_str());
    inside.push_back({page, pending});
    pending += page->image().size();
  });
  // A page beyond the old end goes home at once and leaves the cache, so
  // that a large update never holds every page and every image together.
  // Neighbouring slots go out in one write.
  if (DWORD error = WriteHome(&beyond)) return lastError_ = error;
  const uint64_t headerAt = pending;
  pending += kHeaderSize;
  if (pending > kPageAreaLimit) RaiseDriverError(kErrPageAreaFull, fileName_.c_str());
  header_.pendingLength = static_cast<uint32_t>(pending);

  for (const Placed& p : inside) {
    DWORD error = WriteAt(p.at, p.page->image().data(), static_cast<uint32_t>(p.page->image().size()));
    if (error) return lastError_ = error;
  }
  uint8_t raw[kHeaderSize];
  header_.Serialize(raw);
  if (DWORD error = WriteAt(headerAt, raw, kHeaderSize)) return lastError_ = error;

  // Step 6.
  if (DWORD error = Flush()) return lastError_ = error;
  FileHeader marker = diskHeader_;
  marker.committedLength = header_.committedLength;
  marker.pendingLength = header_.pendingLength;
  marker.Serialize(raw);
  if (DWORD error = WriteAt(0, raw, kHeaderSize)) return lastError_ = error;
  if (DWORD error = Flush()) return lastError_ = error;
  phaseOneDone_ = true;
  return 0;
}

DWORD Pager::WriteHome(std::vector<Page*>* pages) {
  constexpr size_t kBatchBytes = size_t{64} << 10;
  std::sort(pages->begin(), pages->end(), [](const Page* a, const Page* b) { return a->reference() < b->reference(); });
  std::vector<uint8_t>& batch = batchImage_;
  batch.clear();
  if (pages->empty()) return 0;
  batch.reserve(kBatchBytes + kMaxPageBytes);
  uint64_t batchAt = 0;
  size_t first = 0;  // the first page of the batch
  auto flush = [&](size_t end) -> DWORD {
    if (batch.empty()) return 0;
    if (DWORD error = WriteAt(batchAt, batch.data(), static_cast<uint32_t>(batch.size()))) return error;
    batch.clear();
    for (size_t i = first; i < end; ++i) {
      Page* page = (*pages)[i];
      if (page->useCount > 0) {
        cache_.MarkClean(page);
      } else {
        cache_.Erase(page);
      }
    }
    first = end;
    return 0;
  };
  for (size_t i = 0; i < pages->size(); ++i) {
    Page* page = (*pages)[i];
    const uint64_t home = PageOffset(page->reference());
    if (!batch.empty() && (home != batchAt + batch.size() || batch.size() >= kBatchBytes)) {
      if (DWORD error = flush(i)) return error;
    }
    if (batch.empty()) batchAt = home;
    PageCodec::Build(*page, page->reference(), &classImage_, &scratchImage_, fileName_.c_str());
    batch.insert(batch.end(), classImage_.begin(), classImage_.end());
  }
  DWORD error = flush(pages->size());
  std::vector<uint8_t>().swap(batch);
  return error;
}

DWORD Pager::WriteUpdatePhaseTwo() {
  if (inMemory()) return 0;
  if (!phaseOneDone_) {
    if (!HasChanges()) ReleaseUpdateLocks();
    return 0;
  }
  // Step 7.  A failure here leaves a complete pending area: whoever refreshes
  // next finishes it, so the in-memory state is simply dropped.
  auto fail = [this](DWORD error) {
    lastError_ = error;
    Discard();
    return error;
  };
  DWORD error = 0;
  cache_.ForEachDirty([&](Page* page) {
    if (error) return;
    error = WriteAt(PageOffset(page->reference()), page->image().data(), static_cast<uint32_t>(page->image().size()));
  });
  if (error) return fail(error);
  uint8_t raw[kHeaderSize];
  header_.Serialize(raw);
  if ((error = WriteAt(0, raw, kHeaderSize))) return fail(error);
  if ((error = Flush())) return fail(error);

  FileHeader written;
  bool empty = false;
  if (ReadHeaderAt0(&written, &empty) != 0 || empty) return fail(lastError_ ? lastError_ : DWORD{ERROR_READ_FAULT});
  written.committedLength = written.pendingLength = written.PageAreaEnd();
  written.changeCounter = NextChangeCounter(written.changeCounter);
  written.Serialize(raw);
  if ((error = WriteAt(0, raw, kHeaderSize))) return fail(error);
  if ((error = Flush())) return fail(error);

  // The pending area (and any slots the page area gave up) lies past the
  // settled page area.  When that tail is large the file is cut back to the
  // page area: every reader slot is still ours, and a reader that comes
  // later reads the settled header before any page.  A small tail stays: the
  // next update writes its pending area there again, and a file whose length
  // does not change is flushed without a journal commit, which is what a
  // durable single change costs most.  A failure only leaves the file
  // longer, which is as sound, so it is not reported.
  LONGLONG size = 0;
  const LONGLONG end = written.PageAreaEnd();
  if (GetFileSizeEx(file_, &size) && size - end > kTailKeptBytes && size - end > end / 16 &&
      SetFilePointerEx(file_, end, nullptr, FILE_BEGIN))
    SetEndOfFile(file_);

  header_ = diskHeader_ = written;
  headerDirty_ = false;
  phaseOneDone_ = false;
  // The leaves remembered by the write path belong to the update just
  // written; the next one starts from the root.
  ForgetWritePlaces();
  cache_.ForEachDirty([&](Page* page) {
    page->image().clear();
    page->image().shrink_to_fit();
    cache_.MarkClean(page);
  });
  ReleaseUpdateLocks();
  return 0;
}

DWORD Pager::DropPendingArea() {
  DWORD error = 0;
  if (phaseOneDone_ && !inMemory()) {
    FileHeader old = diskHeader_;
    old.committedLength = old.pendingLength = old.PageAreaEnd();
    old.changeCounter = NextChangeCounter(old.changeCounter);
    uint8_t raw[kHeaderSize];
    old.Serialize(raw);
    error = WriteAt(0, raw, kHeaderSize);
    if (!error) error = Flush();
    if (error) lastError_ = error;
  }
  Discard();
  return error;
}

}  // namespace pr::store
