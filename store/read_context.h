// The state a read of a keyed file carries from its start to its end, and
// from one read to the next: the reader slot, and every page pointer that a
// read keeps beyond the moment it got it.
//
// Who owns which cached page pointer:
//  - the read context (one per Container, for the operation in progress):
//    the finger (the last two decoded leaves read) and the place of the last
//    exact find, each as a PageMark;
//  - each Cursor: the mark of its current leaf;
//  - the B-tree's write path: its remembered leaves (they hold while the
//    page is cached under its reference and the nodes are as they were);
//  - the page cache: its table of recent finds, emptied slot by slot as
//    pages leave it.
// A mark is checked against the cache each time it is used (PageCache::
// Recall): the eviction or change of other pages leaves it standing, the
// eviction or change of its own page ends it.  Nothing else may keep a
// Page* across a load of another page without a PagePin.
//
// The reader slot is the read context's too: whether the read holds it,
// whether it may go without it (the file was unchanged when the read began,
// as the header in the mapping shows), and whether it does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "store/page_cache.h"

namespace pr::store {

// One step of a descent: the node page and the entry followed (-1: below
// every entry).
struct PathStep {
  int32_t reference;
  long index;
};

struct ReadContext {
  // The reader slot is held by this object until the read state ends.
  bool slotHeld = false;
  // The next refresh in read state may skip the slot (AllowUnguardedRead).
  bool unguardedAllowed = false;
  // The read in progress runs without the slot, on a file it found unchanged.
  bool unguarded = false;

  // The last two decoded leaves read, each good while its page is cached
  // and unchanged.
  PageMark finger[2];
  // The place of the last exact find, good while its leaf is unchanged.
  PageMark lastFind;
  size_t lastFindIndex = 0;

  // Scratch of the read path, kept to spare an allocation per read: the
  // descent's path and the image of a page being loaded.
  std::vector<PathStep> path;
  std::vector<uint8_t> loadImage;
  // Statistics: node steps of descents answered in the mapping.
  uint64_t nodeStepsInPlace = 0;

  // Forgets the remembered pages (the slot state stays).
  void ForgetPages() {
    finger[0] = finger[1] = lastFind = PageMark{};
    lastFindIndex = 0;
  }
};

}  // namespace pr::store
