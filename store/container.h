// Container: one keyed file (or one in-memory tree) holding records
// (key part, data part) in a single page tree ordered by key.  It is the
// B-tree over a Pager (pager.h: the file, its header, its page cache, the
// pending area and the two-phase write): descent, search, splits, the
// cursors and the places the write path remembers.  The read context
// (read_context.h) holds what one read keeps between its steps.
//
// A file Container works over a platform HANDLE; an in-memory Container (the
// tree of an INDEX key) offers the same record operations and never touches
// a file: its updates do nothing and its pages are never evicted.
//
// Key order: unsigned bytes over the shorter length, then the shorter key
// first.  A record (key plus data) is at most 15093 bytes; a longer one raises
// the driver error box (824).
//
// Inconsistencies in the tree raise the driver error box (fatal_error.h),
// which does not return.  With ThrowingFatalHandler it throws DriverError;
// the Container may then only be discarded or destroyed.
//
// Thread safety: none.  The driver serialises every use of one Container.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/pager.h"

namespace pr::store {

class Container : public Pager {
 public:
  // A file container.  The handle stays the caller's (it is not closed).
  Container(HANDLE file, std::string fileName, const ContainerOptions& options = {});
  // An in-memory tree.
  static std::unique_ptr<Container> CreateInMemory(std::string name = "(memory)");
  ~Container() override;

  // ---- records
  // False when the key exists (nothing changes).
  bool Insert(ByteView key, ByteView data);
  // False when the key is absent (nothing changes).
  bool Replace(ByteView key, ByteView data);
  // Insert or replace.
  void Put(ByteView key, ByteView data);
  // False when the key is absent.
  bool Erase(ByteView key);
  // Erases every record whose key starts with prefix.  A record that the
  // ordered search finds and the exact one does not means a damaged tree:
  // the driver error 2405, not a loop that never ends.
  void ErasePrefix(ByteView prefix);
  // Read-modify-write of a data part that keeps its length (a counter): calls
  // change(data, length, context) on a copy of the data of `key`, which it
  // may alter, and stores the result.  False (nothing changes, change is not
  // called) when the key is absent or its data is not `length` bytes long.
  // length <= 64.
  using DataChange = void (*)(uint8_t* data, size_t length, void* context);
  bool ChangeData(ByteView key, size_t length, DataChange change, void* context);
  // Exact search; data (if given) receives the data part.
  bool Find(ByteView key, std::vector<uint8_t>* data) const;
  // Ordered navigation; outKey/outData (either may be null) receive the
  // record found.  False when there is none.
  bool SeekGE(ByteView key, std::vector<uint8_t>* outKey, std::vector<uint8_t>* outData) const;
  bool SeekGT(ByteView key, std::vector<uint8_t>* outKey, std::vector<uint8_t>* outData) const;
  bool SeekLE(ByteView key, std::vector<uint8_t>* outKey, std::vector<uint8_t>* outData) const;
  bool SeekLT(ByteView key, std::vector<uint8_t>* outKey, std::vector<uint8_t>* outData) const;
  bool First(std::vector<uint8_t>* outKey, std::vector<uint8_t>* outData) const;
  bool Last(std::vector<uint8_t>* outKey, std::vector<uint8_t>* outData) const;
 private:
  friend class Cursor;
  friend struct ContainerVerifier;
  enum class Seek { kGE, kGT, kLE, kLT };

  explicit Container(std::string name);  // in-memory

  // What the pager asks of the tree.
  void MovePage(int32_t from, int32_t to) override;  // container_regions.cpp
  void ForgetWritePlaces() override { ++nodeVersion_; }
  bool PendingAreaIsUnfinishedTransaction() override { return hooks_->PendingAreaIsUnfinishedTransaction(*this); }

  // tree (container_tree.cpp)
  Page* Root(bool create);
  // Every change to a page of the tree passes here.
  void MarkDirty(Page* page);
  // The write path remembers the last few leaves it reached, each with the
  // key range [low, high) that the entries on the way down send to it (the
  // greatest entry followed and the least entry after one followed).  A key
  // inside a remembered range reaches the same leaf by the same entries, so
  // the descent is skipped.  An entry holds while its leaf is still cached
  // under its reference (the mark; changes to the leaf itself keep it) and
  // the node version (every entry on the path is as it was) is the value it
  // was made at.
  struct LeafMemo {
    Page* leaf = nullptr;
    PageMark mark;
    uint64_t nodeVersion = 0;
    uint64_t lastUse = 0;
    bool hasLow = false;
    bool hasHigh = false;
    std::vector<uint8_t> low;
    std::vector<uint8_t> high;
    // Places in the leaf where the next keys are likely to go, the most
    // recent first: just after the last insertion, and the records last
    // changed in place (a table's counters share a leaf with its newest
    // records).  Guesses only: each is checked against the keys around it.
    static constexpr size_t kHints = 3;
    size_t hints[kHints] = {};
    // Records a change at `index` (an insertion moves the places after it).
    void Hint(size_t index, bool inserted);
  };
  static constexpr size_t kLeafMemos = 4;
  struct LeafSpot {
    Page* leaf;
    size_t index;     // the first record not less than the key
    LeafMemo* memo;   // null when the root is the leaf
  };
  // The remembered leaf whose range holds key, or null.
  LeafMemo* RememberedLeaf(ByteView key);
  // The leaf for key (level 0) and its place there: through `memo` (what
  // RememberedLeaf found for key), or when that is null a descent that
  // records a memo; the path (scratchPath_) is only filled by a descent.
  // With `exact` the record is expected to exist: only a place holding key
  // is taken from the memo's guesses (the index is still the lower bound).
  LeafSpot LeafForWrite(ByteView key, bool lowerSeparators, LeafMemo* memo, bool exact = false);
  // Descends to the page of `level` for key, recording the path from the
  // root (excluding that page).  Lowers leftmost separators on the way when
  // lowerSeparators is set.  With `memo` (level 0) it also records the key
  // range of the leaf reached (the caller stamps and keeps it).
  Page* Descend(ByteView key, int level, std::vector<PathStep>* path, bool lowerSeparators,
                LeafMemo* memo = nullptr);
  void InsertAtLevel(ByteView key, ByteView data, int32_t child, int level);
  void CheckSplit(Page* page);
  void SplitRoot(Page* root);
  void SplitPage(Page* page);
  void FixAfterRemoval(const std::vector<PathStep>& path, Page* leaf);
  // The read path (const: it changes only the read context and the page
  // cache, both caches).
  // The leaf that holds key if any does, with the path to it; with
  // useFinger, a leaf remembered from the reads just before when key lies
  // within its keys (the path is then left empty).
  // A read that met a change of the file while it ran without its reader
  // slot returns Status::Stale() (the facade turns it into StaleRead).
  Status DescendRead(ByteView key, std::vector<PathStep>* path, const Page** leaf, bool useFinger = true) const;
  const Page* FingerLeaf(ByteView key) const;
  void RememberLeaf(const Page* leaf) const;
  // The next (previous) non-empty leaf along path; none: *leaf is null.
  Status StepLeaf(std::vector<PathStep>* path, bool forward, const Page** leaf) const;
  // The record the seek lands on; none: *leaf is null.
  Status Locate(Seek mode, ByteView key, const Page** leaf, long* index) const;
  Status LocateEdge(bool last, const Page** leaf, long* index) const;
  Status FindRead(ByteView key, std::vector<uint8_t>* data, bool* found) const;
  Status SeekRead(Seek mode, ByteView key, std::vector<uint8_t>* outKey, std::vector<uint8_t>* outData,
                  bool* found) const;
  // 1: the first record not less than key is on this lazy leaf, copied out;
  // 0: none is; -1: the leaf must be decoded to tell.
  int FindInLazyLeaf(const Page* leaf, ByteView key, std::vector<uint8_t>* outKey,
                     std::vector<uint8_t>* outData) const;
  bool SeekInternal(Seek mode, ByteView key, std::vector<uint8_t>* outKey, std::vector<uint8_t>* outData) const;
  void CheckRecordSize(size_t keyLength, size_t dataLength) const;

  // The write path's scratch: the path of its last descent.
  std::vector<PathStep> scratchPath_;
  bool loweredSeparator_ = false;
  LeafMemo leafMemo_[kLeafMemos];
  uint64_t memoTick_ = 0;
  size_t lastMemo_ = 0;  // the memo entry used last
  // Advanced on every change to a node page and to the root (whose level may
  // change); starts above the zero of an unused memo entry.
  uint64_t nodeVersion_ = 1;
};

// A position in a Container that walks forward and backward.  It copies the
// current key and data, so they stay valid across changes to the tree; when
// the tree changed between steps it finds its place again by its key.
class Cursor {
 public:
  explicit Cursor(const Container& container) : container_(&container) {}

  bool First();
  bool Last();
  bool SeekGE(ByteView key);
  bool SeekGT(ByteView key);
  bool SeekLE(ByteView key);
  bool SeekLT(ByteView key);
  // Step to the next (previous) record; false at the end, and the cursor then
  // becomes invalid.
  bool Next();
  bool Prev();
  bool valid() const { return valid_; }
  ByteView key() const { return key_; }
  ByteView data() const { return data_; }

 private:
  bool Position(int mode, ByteView key);
  bool Load(const Page* leaf, long index);

  const Container* container_;
  bool valid_ = false;
  std::vector<uint8_t> key_;
  std::vector<uint8_t> data_;
  // Fast path: the leaf and index of the current record, good while that
  // leaf is cached and unchanged (loads and evictions of other pages do not
  // disturb it).
  PageMark leaf_;
  long index_ = 0;
};

}  // namespace pr::store
