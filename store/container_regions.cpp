// Page slots, the pager's: size-class regions, allocation, freeing, moving
// and compaction.  Re-pointing the entry that names a moved page is the
// tree's part (Container::MovePage, at the top of this file).
//
// Region i holds the pages of class i (i units each) back to back in
// [start i, end i); regions ascend with the class and never hold holes.  A
// new page lives under a temporary negative reference until an update gives
// it a slot.  Moving a page re-files it in the cache and fixes the one entry
// that names it (or the header's root reference).
//
// Slots are only ever handed out from gaps or from slots whose page has just
// moved away, so no page still unread on disk is overwritten by another's
// new home during an update.
#include <algorithm>
#include <set>

#include "store/container.h"
#include "store/fatal_error.h"
#include "store/page_codec.h"

namespace pr::store {

namespace {
constexpr int kMaxPlacementRounds = 64;
}

void Container::MovePage(int32_t from, int32_t to) {
  if (from == to) return;
  Page* page = GetPage(from, -1);
  if (cache_.Find(to)) RaiseDriverError(kErrTreeInconsistent, fileName_.c_str());
  // A move changes where a page lives, not what it holds: the size class
  // already learnt for its content stays (the image only names its home).
  const int cls = page->imageClass;
  MarkDirty(page);  // dirty pages stay cached: the pointer holds
  page->imageClass = cls;
  cache_.Rekey(page, to);
  ++modifications_;
  if (from == header_.rootReference) {
    header_.rootReference = to;
    headerDirty_ = true;
    return;
  }
  if (page->empty()) RaiseDriverError(kErrMovedPageEmpty, fileName_.c_str());
  std::vector<uint8_t> key(page->Key(0).begin(), page->Key(0).end());
  const int level = page->level();
  Page* node = Root(false);
  if (!node) RaiseDriverError(kErrMovedPageNoEntry, fileName_.c_str());
  while (node->level() > level) {
    long index = node->FindLE(key);
    if (index < 0) index = 0;
    if (node->empty()) RaiseDriverError(kErrMovedPageNoEntry, fileName_.c_str());
    size_t i = static_cast<size_t>(index);
    if (node->Child(i) == from) {
      const int nodeClass = node->imageClass;
      node->SetChild(i, to);  // child references are not packed: the class stays
      MarkDirty(node);
      node->imageClass = nodeClass;
      return;
    }
    node = GetPage(node->Child(i), node->level() - 1);
  }
  RaiseDriverError(kErrMovedPageNoEntry, fileName_.c_str());
}

void Pager::FreeSlot(int32_t reference) { deferredFrees_.push_back(reference); }

void Pager::FreeSlotNow(int32_t reference, int cls) {
  int32_t last = header_.regionEnd[cls] - cls;
  if (last != reference) MovePage(last, reference);
  header_.regionEnd[cls] -= cls;
  headerDirty_ = true;
}

void Pager::ProcessDeferredFrees() {
  // The last page of a region fills each freed slot; a last slot that is
  // itself freed simply goes.
  std::set<int32_t> freed(deferredFrees_.begin(), deferredFrees_.end());
  deferredFrees_.clear();
  while (!freed.empty()) {
    int32_t slot = *freed.begin();
    int cls = header_.ClassOf(slot);
    if (cls == 0 || (slot - header_.regionStart[cls]) % cls != 0)
      RaiseDriverError(kErrTreeInconsistent, fileName_.c_str());
    int32_t last = header_.regionEnd[cls] - cls;
    if (freed.count(last)) {
      freed.erase(last);
      header_.regionEnd[cls] -= cls;
    } else {
      MovePage(last, slot);
      header_.regionEnd[cls] -= cls;
      freed.erase(slot);
    }
    headerDirty_ = true;
  }
}

bool Pager::MakeRoomBelow(int cls, int32_t need) {
  // Room of `need` units above region cls, moving lower regions down.
  if (cls <= 0) return false;
  auto& start = header_.regionStart;
  auto& end = header_.regionEnd;
  int32_t gap = start[cls + 1] - end[cls];
  if (gap >= need) return true;
  int32_t pages = (need - gap + cls - 1) / cls;
  if (!MakeRoomBelow(cls - 1, pages * cls)) return false;
  while (start[cls + 1] - end[cls] < need) {
    if (end[cls] > start[cls]) MovePage(end[cls] - cls, start[cls] - cls);
    start[cls] -= cls;
    end[cls] -= cls;
    headerDirty_ = true;
  }
  return true;
}

void Pager::MakeRoomAbove(int cls, int32_t need) {
  // Room of `need` units above region cls, moving higher regions up.
  if (need > cls) RaiseDriverError(kErrRoomLargerThanClass, fileName_.c_str());
  if (cls == kMaxClass) return;  // the file simply grows
  auto& start = header_.regionStart;
  auto& end = header_.regionEnd;
  int32_t gap = start[cls + 1] - end[cls];
  if (gap >= need) return;
  const int up = cls + 1;
  if (header_.PagesInRegion(up) <= 1) {
    int32_t shift = need - gap;
    MakeRoomAbove(up, shift);
    if (end[up] > start[up]) MovePage(start[up], start[up] + shift);
    start[up] += shift;
    end[up] += shift;
  } else {
    MakeRoomAbove(up, up);
    MovePage(start[up], end[up]);
    start[up] += up;
    end[up] += up;
  }
  headerDirty_ = true;
}

int32_t Pager::AllocateSlot(int cls) {
  int32_t reference;
  if (MakeRoomBelow(cls - 1, cls)) {
    header_.regionStart[cls] -= cls;
    reference = header_.regionStart[cls];
  } else {
    MakeRoomAbove(cls, cls);
    reference = header_.regionEnd[cls];
    header_.regionEnd[cls] += cls;
  }
  headerDirty_ = true;
  if (PageOffset(header_.EndReference()) > kPageAreaLimit) RaiseDriverError(kErrPageAreaFull, fileName_.c_str());
  return reference;
}

bool Pager::CompactRegions() {
  bool moved = false;
  auto& start = header_.regionStart;
  auto& end = header_.regionEnd;
  for (int i = 2; i <= kMaxClass; ++i) {
    int32_t pages = header_.PagesInRegion(i);
    if (pages <= 1) {
      int32_t target = end[i - 1];
      if (start[i] > target) {
        if (pages == 1) MovePage(start[i], target);
        start[i] = target;
        end[i] = target + i * pages;
        moved = moved || pages == 1;
        headerDirty_ = true;
      }
      continue;
    }
    while (start[i] - end[i - 1] >= i) {
      MovePage(end[i] - i, start[i] - i);
      start[i] -= i;
      end[i] -= i;
      moved = true;
      headerDirty_ = true;
    }
  }
  return moved;
}

void Pager::PlacePages() {
  ProcessDeferredFrees();
  auto classOf = [this](Page* page) {
    if (page->imageClass == 0) {
      // Only the class is needed now; the image is built again when written.
      PageCodec::Build(*page, 0, &classImage_, &scratchImage_, fileName_.c_str());
      page->imageClass = PageCodec::ClassOfImage(classImage_);
    }
    return page->imageClass;
  };
  for (int round = 0; round < kMaxPlacementRounds; ++round) {
    bool changed = false;
    std::vector<Page*> dirty;
    cache_.ForEachDirty([&](Page* page) { dirty.push_back(page); });
    // Re-home pages whose class changed.
    for (Page* page : dirty) {
      int32_t ref = page->reference();
      if (ref < 0) continue;
      int wanted = classOf(page);
      // Most pages already sit in the region of their class.
      if (header_.regionStart[wanted] <= ref && ref < header_.regionEnd[wanted]) continue;
      int now = header_.ClassOf(ref);
      if (now == wanted) continue;
      if (now == 0) RaiseDriverError(kErrReferenceInNoRegion, fileName_.c_str());
      MovePage(ref, NextTemporaryReference());
      FreeSlotNow(ref, now);
      changed = true;
    }
    // Slots for new pages, smallest class first: a slot of class c shifts
    // every non-empty region above c, so the new pages of the larger
    // classes are better placed after the smaller ones have had theirs.
    // (Pages the loop above made dirty by moving them have real slots.)
    dirty.erase(std::remove_if(dirty.begin(), dirty.end(), [](const Page* page) { return page->reference() >= 0; }),
                dirty.end());
    for (Page* page : dirty) classOf(page);
    std::stable_sort(dirty.begin(), dirty.end(),
                     [](const Page* a, const Page* b) { return a->imageClass < b->imageClass; });
    for (Page* page : dirty) {
      int32_t slot = AllocateSlot(page->imageClass);
      MovePage(page->reference(), slot);
      changed = true;
    }
    if (!changed && !CompactRegions()) return;
  }
  RaiseDriverError(kErrTreeInconsistent, fileName_.c_str());
}

}  // namespace pr::store
