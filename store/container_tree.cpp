// The page tree: descent, insertion with splits, deletion with separator
// upkeep, and ordered navigation.
//
// Invariants (VerifyContainer checks them):
//  - every node page holds at least one entry; entry i names child i, whose
//    level is exactly one less, and entry i is not greater than any key of
//    child i and greater than every key of child i - 1;
//  - hence a descent that follows the greatest entry not greater than the key
//    (or the first entry when none is) reaches the only leaf that may hold it.
//    The first entry of a node is lowered when a smaller key passes through.
//  - only the root may be empty; an empty root is a leaf.
#include <algorithm>

#include "store/container.h"
#include "store/fatal_error.h"
#include "store/page_codec.h"

namespace pr::store {

void Container::CheckRecordSize(size_t keyLength, size_t dataLength) const {
  // A page holding one record must fit the largest class: 13 header bytes and
  // 5 bytes of flags and lengths leave 15086 for the record; a node entry also
  // needs its 4-byte child reference.
  constexpr size_t kLargestRecord = kMaxPageBytes - kPageHeaderSize - 5;  // 15086
  constexpr size_t kLargestKey = kLargestRecord - 4;
  if (keyLength + dataLength > kLargestRecord || keyLength > kLargestKey)
    RaiseDriverError(kErrRecordTooLong, fileName_.c_str());
}

void Pager::BeginChange(int readStateError) {
  if (readState_) RaiseDriverError(readStateError, fileName_.c_str());
  if (!inMemory() && !updateLockHeld_) BeginUpdate();
}

Page* Pager::GetPage(int32_t reference, int expectedLevel) const {
  Page* page = nullptr;
  if (!LoadPage(reference, expectedLevel, &page).ok()) throw StaleRead{};
  return page;
}

Status Pager::LoadPage(int32_t reference, int expectedLevel, Page** out) const {
  Page* page = cache_.Find(reference);
  if (page && page->lazy()) {
    // A leaf used again is worth its decoding.  A node is searched in its
    // image until it has proved to be one of the few in constant use: under
    // random reads most nodes leave the cache after two or three uses, and
    // decoding one costs as much as several searches.
    if (!page->isNode() || ++page->lazyHits >= kNodeHitsBeforeDecoding) page->Materialize();
  } else if (!page) {
    if (inMemory() || reference < 0) RaiseDriverError(kErrTreeInconsistent, fileName_.c_str());
    // The image buffer and the page object are reused from miss to miss.
    std::vector<uint8_t>& image = read_.loadImage;
    const bool loaded = read_.unguarded && LoadPageUnguarded(reference, &image);
    if (read_.unguarded && !loaded)
      if (Status guarded = GuardRead(); !guarded.ok()) return guarded;
    cache_.EvictBeforeLoad();
    if (!loaded) LoadPageImage(reference, &image);
    std::unique_ptr<Page> fresh = cache_.TakeSpare(reference);
    PageCodec::Load(image.data(), static_cast<uint32_t>(image.size()), reference, true, true, fresh.get(), &image,
                    fileName_.c_str());
    page = cache_.Add(std::move(fresh), false);
  }
  if (expectedLevel >= 0 && page->level() != expectedLevel) RaiseDriverError(kErrPageLevelMismatch, fileName_.c_str());
  *out = page;
  return Status::Ok();
}

Page* Pager::NewPage(uint8_t level) {
  auto page = std::make_unique<Page>(NextTemporaryReference(), level);
  return cache_.Add(std::move(page), true);
}

void Container::MarkDirty(Page* page) {
  // Every change to a node passes here, as does a change of the root's level:
  // the paths remembered by the leaf memo may no longer hold.
  if (page->isNode() || page->reference() == header_.rootReference) ++nodeVersion_;
  cache_.MarkDirty(page);
}

Page* Container::Root(bool create) {
  // The cache is asked first: a cached root answers without a walk over the
  // header's regions.
  if (!cache_.Find(header_.rootReference) && !TreeExists()) {
    // A file never written (or written without a page): the root is created.
    if (!create) return nullptr;
    if (header_.changeCounter == 0) header_.changeCounter = 1;
    header_.rootReference = NextTemporaryReference();
    headerDirty_ = true;
    return cache_.Add(std::make_unique<Page>(header_.rootReference, 0), true);
  }
  Page* root = GetPage(header_.rootReference, -1);
  if (root->isNode() && root->empty()) {
    // A node without entries leads nowhere: it is an empty tree.
    if (!create) return root;
    root->SetLevel(0);
    MarkDirty(root);
  }
  return root;
}

Page* Container::Descend(ByteView key, int level, std::vector<PathStep>* path, bool lowerSeparators,
                         LeafMemo* memo) {
  path->clear();
  Page* page = Root(true);
  if (page->level() < level) RaiseDriverError(kErrTreeInconsistent, fileName_.c_str());
  if (memo) memo->hasLow = memo->hasHigh = false;
  while (page->level() > level) {
    long index = page->FindLE(key);
    if (index < 0) {
      if (page->empty()) RaiseDriverError(kErrTreeInconsistent, fileName_.c_str());
      index = 0;
      if (lowerSeparators) {
        page->ReplaceKeyAt(0, key);
        MarkDirty(page);
        loweredSeparator_ = true;
      }
    }
    if (memo) {
      // The bytes are copied now: loading the child may evict this node.
      const size_t i = static_cast<size_t>(index);
      ByteView entry = page->Key(i);
      if (!memo->hasLow || CompareKeys(entry, memo->low) > 0) {
        memo->low.assign(entry.begin(), entry.end());
        memo->hasLow = true;
      }
      if (i + 1 < page->count()) {
        ByteView next = page->Key(i + 1);
        if (!memo->hasHigh || CompareKeys(next, memo->high) < 0) {
          memo->high.assign(next.begin(), next.end());
          memo->hasHigh = true;
        }
      }
    }
    path->push_back({page->reference(), index});
    page = GetPage(page->Child(static_cast<size_t>(index)), page->level() - 1);
  }
  return page;
}

void Container::LeafMemo::Hint(size_t index, bool inserted) {
  if (inserted)
    for (size_t& h : hints)
      if (h >= index) ++h;
  const size_t at = inserted ? index + 1 : index;
  size_t i = 0;
  while (i + 1 < kHints && hints[i] != at) ++i;
  for (; i > 0; --i) hints[i] = hints[i - 1];
  hints[0] = at;
}

Container::LeafMemo* Container::RememberedLeaf(ByteView key) {
  auto holds = [&](const LeafMemo& m) {
    return m.leaf && m.nodeVersion == nodeVersion_ && cache_.Holds(m.mark) &&
           (!m.hasLow || CompareKeys(key, m.low) >= 0) && (!m.hasHigh || CompareKeys(key, m.high) < 0);
  };
  // Changes come in short cycles over a few leaves (an entry, a record, its
  // counters): the leaf used last is asked first.
  LeafMemo* found = nullptr;
  if (holds(leafMemo_[lastMemo_])) {
    found = &leafMemo_[lastMemo_];
  } else {
    for (size_t i = 0; i < kLeafMemos && !found; ++i)
      if (i != lastMemo_ && holds(leafMemo_[i])) found = &leafMemo_[i];
  }
  if (found) {
    found->lastUse = ++memoTick_;
    lastMemo_ = static_cast<size_t>(found - leafMemo_);
  }
  return found;
}

Container::LeafSpot Container::LeafForWrite(ByteView key, bool lowerSeparators, LeafMemo* memo, bool exact) {
  Page* leaf;
  if (memo) {
    leaf = memo->leaf;
  } else {
    memo = &leafMemo_[0];
    for (LeafMemo& m : leafMemo_)
      if (m.lastUse < memo->lastUse) memo = &m;
    leaf = Descend(key, 0, &scratchPath_, lowerSeparators, memo);
    if (scratchPath_.empty()) {
      // The root is the leaf: its changes move the node version, so there is
      // nothing worth remembering.
      memo->leaf = nullptr;
      return {leaf, leaf->LowerBound(key), nullptr};
    }
    // Stamped after the descent: a separator it lowered is part of the path.
    memo->leaf = leaf;
    memo->mark = PageCache::Mark(leaf);
    memo->nodeVersion = nodeVersion_;
    memo->lastUse = ++memoTick_;
    lastMemo_ = static_cast<size_t>(memo - leafMemo_);
    for (size_t& h : memo->hints) h = 0;
    // A leaf just reached has no places to suggest yet.
    return {leaf, leaf->LowerBound(key), memo};
  }
  // The places recent changes suggest are tried before a search; a search
  // for a record that must exist only needs the one holding the key.
  const size_t n = leaf->count();
  if (exact) {
    for (size_t index : memo->hints) {
      if (index >= n) continue;
      ByteView there = leaf->Key(index);
      if (there.size() == key.size() && CompareKeys(there, key) == 0) return {leaf, index, memo};
    }
    return {leaf, leaf->LowerBound(key), memo};
  }
  for (size_t index : memo->hints) {
    if (index > n || (index < n && CompareKeys(key, leaf->Key(index)) > 0)) continue;
    if (index > 0 && CompareKeys(leaf->Key(index - 1), key) >= 0) continue;
    return {leaf, index, memo};
  }
  return {leaf, leaf->LowerBound(key), memo};
}

bool Container::Insert(ByteView key, ByteView data) {
  CheckRecordSize(key.size(), data.size());
  BeginChange(kErrStoreInReadState);
  loweredSeparator_ = false;
  LeafSpot spot = LeafForWrite(key, true, RememberedLeaf(key));
  Page* leaf = spot.leaf;
  size_t index = spot.index;
  if (index < leaf->count() && CompareKeys(leaf->Key(index), key) == 0) return false;
  leaf->InsertAt(index, key, data);
  if (spot.memo) spot.memo->Hint(index, true);
  MarkDirty(leaf);
  ++modifications_;
  if (!loweredSeparator_) {
    CheckSplit(leaf);
    return true;
  }
  // A lowered separator may have grown a node past its limit.
  std::vector<PathStep> path = scratchPath_;
  CheckSplit(leaf);
  for (const PathStep& step : path) {
    if (step.index != 0) continue;
    if (Page* node = cache_.Find(step.reference)) CheckSplit(node);
  }
  return true;
}

bool Container::Replace(ByteView key, ByteView data) {
  CheckRecordSize(key.size(), data.size());
  BeginChange(kErrStoreInReadState);
  LeafSpot spot = LeafForWrite(key, false, RememberedLeaf(key), true);
  Page* leaf = spot.leaf;
  size_t index = spot.index;
  if (index >= leaf->count() || CompareKeys(leaf->Key(index), key) != 0) return false;
  leaf->ReplaceDataAt(index, data);
  if (spot.memo) spot.memo->Hint(index, false);
  MarkDirty(leaf);
  ++modifications_;
  CheckSplit(leaf);
  return true;
}

void Container::Put(ByteView key, ByteView data) {
  if (!Replace(key, data)) Insert(key, data);
}

bool Container::ChangeData(ByteView key, size_t length, DataChange change, void* context) {
  uint8_t copy[64];
  if (length > sizeof copy) RaiseDriverError(kErrTreeInconsistent, fileName_.c_str());
  BeginChange(kErrStoreInReadState);
  LeafMemo* memo = RememberedLeaf(key);
  if (!memo) {
    const Page* root = Root(false);
    if (!root || root->empty()) return false;
  }
  LeafSpot spot = LeafForWrite(key, false, memo, true);
  Page* leaf = spot.leaf;
  size_t index = spot.index;
  if (index >= leaf->count() || CompareKeys(leaf->Key(index), key) != 0) return false;
  ByteView data = leaf->Data(index);
  if (data.size() != length) return false;
  std::memcpy(copy, data.data(), length);
  change(copy, length, context);
  leaf->ReplaceDataAt(index, ByteView(copy, length));
  if (spot.memo) spot.memo->Hint(index, false);
  MarkDirty(leaf);
  ++modifications_;
  return true;
}

void Container::InsertAtLevel(ByteView key, ByteView data, int32_t child, int level) {
  std::vector<PathStep> path;
  Page* page = Descend(key, level, &path, true);
  size_t index = page->LowerBound(key);
  if (index < page->count() && CompareKeys(page->Key(index), key) == 0)
    RaiseDriverError(kErrTreeInconsistent, fileName_.c_str());
  page->InsertAt(index, key, data, child);
  MarkDirty(page);
  CheckSplit(page);
}

void Container::CheckSplit(Page* page) {
  uint32_t estimate = page->estimate();
  bool over = estimate > kSplitHardLimit || (estimate > kSplitSoftLimit && page->count() > kSplitSoftCount);
  // A single record fits a page by the size rule on records; it stays alone.
  if (!over || page->count() == 1) return;
  if (page->reference() == header_.rootReference)
    SplitRoot(page);
  else
    SplitPage(page);
}

void Container::SplitRoot(Page* root) {
  // The root keeps its reference: its records move one level down.
  Page* child = NewPage(root->level());
  root->MoveAllTo(child);
  root->SetLevel(static_cast<uint8_t>(root->level() + 1));
  root->InsertAt(0, child->Key(0), {}, child->reference());
  MarkDirty(root);
  SplitPage(child);
}

void Container::SplitPage(Page* page) {
  size_t n = page->count();
  if (n < 2) RaiseDriverError(kErrSplitTooFewRecords, fileName_.c_str());
  // Cut at the middle record; it joins the half with fewer records, the
  // upper one on a tie.
  size_t middle = n / 2;
  size_t lower = middle, upper = n - middle - 1;
  size_t from = lower < upper ? middle + 1 : middle;
  Page* upperPage = NewPage(page->level());
  page->MoveTailTo(from, upperPage);
  MarkDirty(page);
  std::vector<uint8_t> entry(upperPage->Key(0).begin(), upperPage->Key(0).end());
  InsertAtLevel(entry, {}, upperPage->reference(), page->level() + 1);
  // Dirty pages stay in the cache, so both pointers are still good.
  CheckSplit(page);
  CheckSplit(upperPage);
}

bool Container::Erase(ByteView key) {
  BeginChange(kErrDeleteInReadState);
  if (!Root(false)) return false;
  std::vector<PathStep>& path = scratchPath_;  // only the descent and the walk back use it
  Page* leaf = Descend(key, 0, &path, false);
  size_t index = leaf->LowerBound(key);
  if (index >= leaf->count() || CompareKeys(leaf->Key(index), key) != 0) return false;
  leaf->RemoveAt(index);
  MarkDirty(leaf);
  ++modifications_;
  FixAfterRemoval(path, leaf);
  return true;
}

void Container::ErasePrefix(ByteView prefix) {
  std::vector<uint8_t> key;
  while (SeekGE(prefix, &key, nullptr) && key.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), key.begin())) {
    if (!Erase(ByteView(key.data(), key.size()))) RaiseDriverError(kErrTreeInconsistent, fileName_.c_str());
  }
}

void Container::FixAfterRemoval(const std::vector<PathStep>& path, Page* leaf) {
  Page* child = leaf;
  std::vector<int32_t> grown;
  for (auto step = path.rbegin(); step != path.rend(); ++step) {
    Page* parent;
    {
      PagePin pin(child);  // loading the parent must not evict the child
      parent = GetPage(step->reference, child->level() + 1);
    }
    size_t index = static_cast<size_t>(step->index);
    if (index >= parent->count() || parent->Child(index) != child->reference())
      RaiseDriverError(kErrTreeInconsistent, fileName_.c_str());
    if (child->empty()) {
      parent->RemoveAt(index);
      MarkDirty(parent);
      int32_t ref = child->reference();
      cache_.Erase(child);
      if (ref >= 0) FreeSlot(ref);
    } else if (CompareKeys(child->Key(0), parent->Key(index)) > 0) {
      std::vector<uint8_t> lowest(child->Key(0).begin(), child->Key(0).end());
      parent->ReplaceKeyAt(index, lowest);
      MarkDirty(parent);
      grown.push_back(parent->reference());
    }
    child = parent;
  }
  // The root never goes away; a root node left without entries is an empty leaf.
  if (child->isNode() && child->empty()) {
    child->SetLevel(0);
    MarkDirty(child);
  }
  for (int32_t ref : grown)
    if (Page* node = cache_.Find(ref)) CheckSplit(node);
}

// ---------------------------------------------------------------- navigation

namespace {
void CopyOut(const Page* leaf, size_t i, std::vector<uint8_t>* key, std::vector<uint8_t>* data) {
  if (key) key->assign(leaf->Key(i).begin(), leaf->Key(i).end());
  if (data) data->assign(leaf->Data(i).begin(), leaf->Data(i).end());
}
}  // namespace

int Container::FindInLazyLeaf(const Page* leaf, ByteView key, std::vector<uint8_t>* outKey,
                              std::vector<uint8_t>* outData) const {
  PageCodec::ImageHit hit;
  int found = PageCodec::LowerBoundInImage(*leaf, key, &hit);
  if (found != 1) return found;
  const uint8_t* rest = hit.rest;
  if (outKey) {
    outKey->assign(key.begin(), key.begin() + hit.shared);
    outKey->insert(outKey->end(), rest, rest + (hit.keyLength - hit.shared));
  }
  if (outData) outData->assign(rest + (hit.keyLength - hit.shared), rest + (hit.recordLength - hit.shared));
  return 1;
}

namespace {
// The facade's one conversion: a read that met a change of the file leaves
// the container as StaleRead, which the driver's entry catches to repeat it.
inline void LeaveIfStale(const Status& status) {
  if (!status.ok()) throw StaleRead{};
}
}  // namespace

bool Container::Find(ByteView key, std::vector<uint8_t>* data) const {
  bool found = false;
  LeaveIfStale(FindRead(key, data, &found));
  return found;
}

Status Container::FindRead(ByteView key, std::vector<uint8_t>* data, bool* result) const {
  *result = false;
  // The one leaf a descent reaches holds the key if any leaf does.
  const Page* leaf = nullptr;
  if (Status s = DescendRead(key, &read_.path, &leaf); !s.ok()) return s;
  if (!leaf) return Status::Ok();
  if (leaf->lazy()) {
    PageCodec::ImageHit hit;
    int found = PageCodec::LowerBoundInImage(*leaf, key, &hit);
    if (found == 0) return Status::Ok();
    if (found == 1) {
      if (!hit.KeyEquals(key)) return Status::Ok();
      if (data) data->assign(hit.rest + (hit.keyLength - hit.shared), hit.rest + (hit.recordLength - hit.shared));
      *result = true;
      return Status::Ok();
    }
  }
  // Records read in key order (a scan reaching data records numbered in the
  // order of its key) are found right after the one found before.
  size_t index = read_.lastFindIndex + 1;
  if (leaf != read_.lastFind.page || cache_.Recall(read_.lastFind) != leaf || index >= leaf->count() ||
      CompareKeys(leaf->Key(index), key) != 0)
    index = leaf->LowerBound(key);
  if (index >= leaf->count() || CompareKeys(leaf->Key(index), key) != 0) return Status::Ok();
  read_.lastFind = PageCache::Mark(leaf);
  read_.lastFindIndex = index;
  CopyOut(leaf, index, nullptr, data);
  *result = true;
  return Status::Ok();
}

const Page* Container::FingerLeaf(ByteView key) const {
  // Lookups in random order rarely meet a remembered leaf: an empty finger
  // costs two tests, and one whose page went away is forgotten at once.
  for (PageMark& mark : read_.finger) {
    if (mark.empty()) continue;
    const Page* leaf = cache_.Recall(mark);
    if (leaf == nullptr) {
      mark = PageMark{};
      continue;
    }
    if (leaf->empty()) continue;
    if (CompareKeys(leaf->Key(0), key) <= 0 && CompareKeys(key, leaf->Key(leaf->count() - 1)) <= 0) return leaf;
  }
  return nullptr;
}

void Container::RememberLeaf(const Page* leaf) const {
  // A leaf still in its image was read for one lookup: not worth decoding,
  // so not worth remembering either (it is remembered once it is decoded).
  if (leaf->lazy() || leaf->isNode()) return;
  if (read_.finger[0].page == leaf && cache_.Recall(read_.finger[0]) == leaf) return;
  read_.finger[1] = read_.finger[0];
  read_.finger[0] = PageCache::Mark(leaf);
}

Status Container::DescendRead(ByteView key, std::vector<PathStep>* path, const Page** leafOut, bool useFinger) const {
  path->clear();
  *leafOut = nullptr;
  // A key between the lowest and the highest key of a leaf read just before
  // can only be on that leaf: the descent is skipped (and no path is kept).
  if (useFinger)
    if (const Page* leaf = FingerLeaf(key)) {
      *leafOut = leaf;
      return Status::Ok();
    }
  if (!TreeExists() && !cache_.Find(header_.rootReference)) return Status::Ok();
  Page* page = nullptr;
  if (Status s = LoadPage(header_.rootReference, -1, &page); !s.ok()) return s;
  if (page->isNode() && page->empty()) return Status::Ok();
  while (page->isNode()) {
    if (page->empty()) RaiseDriverError(kErrTreeInconsistent, fileName_.c_str());
    // A node still in its image is searched there.
    long index = page->lazy() ? PageCodec::FindLEInImage(*page, key) : PageCodec::kDecodeToAnswer;
    if (index == PageCodec::kDecodeToAnswer) index = page->FindLE(key);
    if (index < 0) index = 0;
    path->push_back({page->reference(), index});
    int32_t child = page->lazy() ? PageCodec::ChildInImage(*page, static_cast<size_t>(index))
                                 : page->Child(static_cast<size_t>(index));
    int level = page->level() - 1;
    // While the cache is full, a node it lacks is searched where it lies in
    // the mapping: loading it would push out a page in use for a node that,
    // under reads spread over the file, leaves again before its next use.
    long nodeIndex = 0;
    int32_t below = 0;
    while (level > 0 && cache_.UnderPressure() && cache_.Lookup(child) == nullptr &&
           NodeChildUnguarded(child, level, key, &nodeIndex, &below)) {
      path->push_back({child, nodeIndex < 0 ? 0 : nodeIndex});
      child = below;
      --level;
    }
    if (Status s = LoadPage(child, level, &page); !s.ok()) return s;
  }
  RememberLeaf(page);
  *leafOut = page;
  return Status::Ok();
}

Status Container::StepLeaf(std::vector<PathStep>* path, bool forward, const Page** leafOut) const {
  *leafOut = nullptr;
  while (!path->empty()) {
    PathStep& step = path->back();
    Page* node = nullptr;
    if (Status s = LoadPage(step.reference, -1, &node); !s.ok()) return s;
    long next = step.index + (forward ? 1 : -1);
    if (next < 0 || next >= static_cast<long>(node->count())) {
      path->pop_back();
      continue;
    }
    step.index = next;
    Page* page = nullptr;
    if (Status s = LoadPage(node->Child(static_cast<size_t>(next)), node->level() - 1, &page); !s.ok()) return s;
    while (page->isNode()) {
      if (page->empty()) RaiseDriverError(kErrTreeInconsistent, fileName_.c_str());
      long index = forward ? 0 : static_cast<long>(page->count()) - 1;
      path->push_back({page->reference(), index});
      if (Status s = LoadPage(page->Child(static_cast<size_t>(index)), page->level() - 1, &page); !s.ok()) return s;
    }
    if (!page->empty()) {
      *leafOut = page;
      return Status::Ok();
    }
  }
  return Status::Ok();
}

Status Container::Locate(Seek mode, ByteView key, const Page** leafOut, long* indexOut) const {
  *leafOut = nullptr;
  std::vector<PathStep>& path = read_.path;
  const Page* leaf = nullptr;
  if (Status s = DescendRead(key, &path, &leaf); !s.ok()) return s;
  if (!leaf) return Status::Ok();
  long index;
  switch (mode) {
    case Seek::kGE: index = static_cast<long>(leaf->LowerBound(key)); break;
    case Seek::kGT: index = leaf->FindLE(key) + 1; break;
    case Seek::kLE: index = leaf->FindLE(key); break;
    case Seek::kLT: default: index = static_cast<long>(leaf->LowerBound(key)) - 1; break;
  }
  bool forward = mode == Seek::kGE || mode == Seek::kGT;
  const bool step = forward ? index >= static_cast<long>(leaf->count()) : index < 0;
  if (step && path.empty() && leaf->reference() != header_.rootReference) {
    // Reached without a descent: the neighbour needs the path from the root.
    if (Status s = DescendRead(key, &path, &leaf, false); !s.ok()) return s;
    if (!leaf) RaiseDriverError(kErrTreeInconsistent, fileName_.c_str());
  }
  if (forward && index >= static_cast<long>(leaf->count())) {
    if (Status s = StepLeaf(&path, true, &leaf); !s.ok()) return s;
    index = 0;
  } else if (!forward && index < 0) {
    if (Status s = StepLeaf(&path, false, &leaf); !s.ok()) return s;
    index = leaf ? static_cast<long>(leaf->count()) - 1 : 0;
  }
  if (!leaf) return Status::Ok();
  if (step) {
    // A search inside one leaf answers by the leaf's own order, which every
    // decode checks.  The neighbouring leaf is trusted to lie beyond the key
    // only because the entries above say so; in a damaged tree it may not,
    // and a walk taking it would meet the same records again and never end.
    const int c = CompareKeys(leaf->Key(static_cast<size_t>(index)), key);
    const bool beyond = mode == Seek::kGE ? c >= 0 : mode == Seek::kGT ? c > 0 : mode == Seek::kLE ? c <= 0 : c < 0;
    if (!beyond) RaiseDriverError(kErrTreeInconsistent, fileName_.c_str());
  }
  *leafOut = leaf;
  *indexOut = index;
  return Status::Ok();
}

Status Container::LocateEdge(bool last, const Page** leafOut, long* indexOut) const {
  *leafOut = nullptr;
  if (!TreeExists() && !cache_.Find(header_.rootReference)) return Status::Ok();
  Page* page = nullptr;
  if (Status s = LoadPage(header_.rootReference, -1, &page); !s.ok()) return s;
  while (page->isNode()) {
    if (page->empty()) return Status::Ok();
    size_t index = last ? page->count() - 1 : 0;
    if (Status s = LoadPage(page->Child(index), page->level() - 1, &page); !s.ok()) return s;
  }
  if (page->empty()) return Status::Ok();
  *leafOut = page;
  *indexOut = last ? static_cast<long>(page->count()) - 1 : 0;
  return Status::Ok();
}

bool Container::SeekInternal(Seek mode, ByteView key, std::vector<uint8_t>* outKey,
                             std::vector<uint8_t>* outData) const {
  bool found = false;
  LeaveIfStale(SeekRead(mode, key, outKey, outData, &found));
  return found;
}

Status Container::SeekRead(Seek mode, ByteView key, std::vector<uint8_t>* outKey, std::vector<uint8_t>* outData,
                           bool* found) const {
  *found = false;
  if (mode == Seek::kGE || mode == Seek::kGT) {
    // Forward: answered from the leaf the descent reaches when the record is
    // there (from its image while it has not been decoded); the walk to the
    // next leaf is left to Locate.
    const Page* leaf = nullptr;
    if (Status s = DescendRead(key, &read_.path, &leaf); !s.ok()) return s;
    if (leaf) {
      if (leaf->lazy() && mode == Seek::kGE && FindInLazyLeaf(leaf, key, outKey, outData) == 1) {
        *found = true;
        return Status::Ok();
      }
      const size_t index = mode == Seek::kGE ? leaf->LowerBound(key) : static_cast<size_t>(leaf->FindLE(key) + 1);
      if (index < leaf->count()) {
        CopyOut(leaf, index, outKey, outData);
        *found = true;
        return Status::Ok();
      }
    }
  }
  const Page* leaf = nullptr;
  long index = 0;
  if (Status s = Locate(mode, key, &leaf, &index); !s.ok() || !leaf) return s;
  CopyOut(leaf, static_cast<size_t>(index), outKey, outData);
  *found = true;
  return Status::Ok();
}

bool Container::SeekGE(ByteView k, std::vector<uint8_t>* ok, std::vector<uint8_t>* od) const {
  return SeekInternal(Seek::kGE, k, ok, od);
}
bool Container::SeekGT(ByteView k, std::vector<uint8_t>* ok, std::vector<uint8_t>* od) const {
  return SeekInternal(Seek::kGT, k, ok, od);
}
bool Container::SeekLE(ByteView k, std::vector<uint8_t>* ok, std::vector<uint8_t>* od) const {
  return SeekInternal(Seek::kLE, k, ok, od);
}
bool Container::SeekLT(ByteView k, std::vector<uint8_t>* ok, std::vector<uint8_t>* od) const {
  return SeekInternal(Seek::kLT, k, ok, od);
}
bool Container::First(std::vector<uint8_t>* ok, std::vector<uint8_t>* od) const {
  const Page* leaf = nullptr;
  long index = 0;
  LeaveIfStale(LocateEdge(false, &leaf, &index));
  if (!leaf) return false;
  CopyOut(leaf, static_cast<size_t>(index), ok, od);
  return true;
}
bool Container::Last(std::vector<uint8_t>* ok, std::vector<uint8_t>* od) const {
  const Page* leaf = nullptr;
  long index = 0;
  LeaveIfStale(LocateEdge(true, &leaf, &index));
  if (!leaf) return false;
  CopyOut(leaf, static_cast<size_t>(index), ok, od);
  return true;
}

// ---------------------------------------------------------------- cursor

bool Cursor::Load(const Page* leaf, long index) {
  leaf_ = PageCache::Mark(leaf);
  index_ = index;
  key_.assign(leaf->Key(static_cast<size_t>(index)).begin(), leaf->Key(static_cast<size_t>(index)).end());
  data_.assign(leaf->Data(static_cast<size_t>(index)).begin(), leaf->Data(static_cast<size_t>(index)).end());
  valid_ = true;
  return true;
}

bool Cursor::Position(int mode, ByteView key) {
  const Page* leaf = nullptr;
  long index = 0;
  if (mode == 4 || mode == 5)
    LeaveIfStale(container_->LocateEdge(mode == 5, &leaf, &index));
  else
    LeaveIfStale(container_->Locate(static_cast<Container::Seek>(mode), key, &leaf, &index));
  if (!leaf) {
    valid_ = false;
    leaf_ = PageMark{};
    return false;
  }
  return Load(leaf, index);
}

bool Cursor::First() { return Position(4, {}); }
bool Cursor::Last() { return Position(5, {}); }
bool Cursor::SeekGE(ByteView key) { return Position(0, key); }
bool Cursor::SeekGT(ByteView key) { return Position(1, key); }
bool Cursor::SeekLE(ByteView key) { return Position(2, key); }
bool Cursor::SeekLT(ByteView key) { return Position(3, key); }

bool Cursor::Next() {
  if (!valid_) return false;
  // A step on the kept leaf is a use of it: a scan's leaf must not age out
  // of the cache while lookups elsewhere load pages.
  const Page* leaf = container_->cache_.Recall(leaf_);
  if (leaf && index_ + 1 < static_cast<long>(leaf->count())) {
    container_->cache_.Touch(leaf);
    return Load(leaf, index_ + 1);
  }
  std::vector<uint8_t> current;
  current.swap(key_);
  bool ok = Position(1, current);
  if (!ok) key_.swap(current);
  return ok;
}

bool Cursor::Prev() {
  if (!valid_) return false;
  const Page* leaf = container_->cache_.Recall(leaf_);
  if (leaf && index_ > 0) {
    container_->cache_.Touch(leaf);
    return Load(leaf, index_ - 1);
  }
  std::vector<uint8_t> current;
  current.swap(key_);
  bool ok = Position(3, current);
  if (!ok) key_.swap(current);
  return ok;
}

}  // namespace pr::store
