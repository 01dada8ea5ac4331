#include "store/page_codec.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "store/compress.h"
#include "store/container_format.h"
#include "store/fatal_error.h"
#include "store/image_walk.h"

namespace pr::store {

namespace {

// Reads the flags and lengths of record i at *at (advanced past them) and
// checks them against the previous record and the end of the image; answers
// the shared-prefix count.  The lengths carry over from record to record.
inline uint32_t ReadRecordHead(const uint8_t* body, uint32_t expanded, uint32_t i, bool node, size_t* at,
                               uint32_t previousLength, uint32_t* recordLength, uint32_t* keyLength,
                               const char* fileName) {
  if (*at >= expanded) RaiseDriverError(kErrPageParse, fileName);
  const uint8_t flags = body[(*at)++];
  const uint32_t shared = flags & 0x3F;
  if (i == 0 && (flags & 0xC0) != 0xC0) RaiseDriverError(kErrPageParse, fileName);
  if (flags & 0x80) {
    if (expanded - *at < 2) RaiseDriverError(kErrPageParse, fileName);
    *recordLength = LoadU16(body + *at);
    *at += 2;
  }
  if (flags & 0x40) {
    if (expanded - *at < 2) RaiseDriverError(kErrPageParse, fileName);
    *keyLength = LoadU16(body + *at);
    *at += 2;
  }
  if (shared > previousLength || shared > *recordLength || *keyLength > *recordLength ||
      *recordLength > kMaxRecordLength || (node && *keyLength != *recordLength) ||
      expanded - *at < *recordLength - shared)
    RaiseDriverError(kErrPageParse, fileName);
  return shared;
}

// Copies n bytes forward where the destination has 16 bytes of slack past
// n and lies after the source (the shared prefix of the record before).
inline void CopyShort(uint8_t* to, const uint8_t* from, size_t n) {
  if (n > 16 || static_cast<size_t>(to - from) < 16) {
    std::memmove(to, from, n);
    return;
  }
  uint64_t a, b;
  std::memcpy(&a, from, 8);
  std::memcpy(&b, from + 8, 8);
  std::memcpy(to, &a, 8);
  std::memcpy(to + 8, &b, 8);
}

// Leading bytes a and b share, at most limit.
size_t SharedPrefix(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t i = 0;
  for (; i + 8 <= limit; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) {
      if constexpr (std::endian::native == std::endian::little) return i + static_cast<size_t>(std::countr_zero(x ^ y)) / 8;
      break;
    }
  }
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

}  // namespace

void PageCodec::Build(const Page& page, int32_t reference, std::vector<uint8_t>* image,
                      std::vector<uint8_t>* scratch, const char* fileName) {
  const size_t n = page.count();
  const uint32_t prefix = kPageHeaderSize + (page.isNode() ? 4 * static_cast<uint32_t>(n) : 0);
  // A record packs into at most its bytes, a flag byte and two lengths.
  size_t bound = prefix;
  for (size_t i = 0; i < n; ++i) bound += page.At(i).recordLength + 5u;
  std::vector<uint8_t>& out = *image;
  out.resize(std::max<size_t>(bound, kUnit) + kUnit);
  uint8_t* const base = out.data();
  if (page.isNode())
    for (size_t i = 0; i < n; ++i) StoreU32(base + kPageHeaderSize + 4 * i, static_cast<uint32_t>(page.Child(i)));

  uint8_t* w = base + prefix;
  ByteView previous;
  uint16_t previousKeyLength = 0;
  for (size_t i = 0; i < n; ++i) {
    ByteView rec = page.Record(i);
    const uint16_t keyLength = page.At(i).keyLength;
    size_t shared = 0;
    uint8_t flags = 0;
    if (i == 0) {
      flags = 0xC0;
    } else {
      shared = SharedPrefix(previous.data(), rec.data(), std::min<size_t>({63, previous.size(), rec.size()}));
      if (rec.size() != previous.size()) flags |= 0x80;
      if (keyLength != previousKeyLength) flags |= 0x40;
    }
    *w++ = static_cast<uint8_t>(flags | shared);
    if (flags & 0x80) {
      StoreU16(w, static_cast<uint16_t>(rec.size()));
      w += 2;
    }
    if (flags & 0x40) {
      StoreU16(w, keyLength);
      w += 2;
    }
    std::memcpy(w, rec.data() + shared, rec.size() - shared);
    w += rec.size() - shared;
    previous = rec;
    previousKeyLength = keyLength;
  }
  out.resize(static_cast<size_t>(w - base));
  const uint32_t expanded = static_cast<uint32_t>(out.size());
  if (expanded > page.estimate()) RaiseDriverError(kErrImageOverEstimate, fileName);

  uint32_t stored = expanded;
  size_t packed = Compress(out.data() + prefix, expanded - prefix, scratch);
  if (RoundUpToUnit(prefix + static_cast<uint32_t>(packed)) < RoundUpToUnit(expanded)) {
    stored = prefix + static_cast<uint32_t>(packed);
    out.resize(prefix);
    out.insert(out.end(), scratch->begin(), scratch->end());
  }
  const uint32_t rounded = RoundUpToUnit(stored);
  if (rounded > kMaxPageBytes) RaiseDriverError(kErrPageTooLarge, fileName);
  out.resize(rounded, kPadByte);
  StoreU32(out.data() + 0, static_cast<uint32_t>(PageOffset(reference)));
  StoreU16(out.data() + 4, static_cast<uint16_t>(stored));
  StoreU16(out.data() + 6, static_cast<uint16_t>(expanded));
  StoreU16(out.data() + 8, static_cast<uint16_t>(std::min<uint32_t>(page.estimate(), 0xFFFF)));
  StoreU16(out.data() + 10, static_cast<uint16_t>(n));
  out[12] = page.level();
}

void PageCodec::Parse(const uint8_t* image, uint32_t length, int32_t reference, bool checkHome, Page* page,
                      std::vector<uint8_t>* scratch, const char* fileName) {
  Load(image, length, reference, checkHome, false, page, scratch, fileName);
}

void PageCodec::Load(const uint8_t* image, uint32_t length, int32_t reference, bool checkHome, bool lazy,
                     Page* page, std::vector<uint8_t>* scratch, const char* fileName) {
  if (length < kPageHeaderSize) RaiseDriverError(kErrPageLengthMismatch, fileName);
  const uint32_t stored = LoadU16(image + 4);
  const uint32_t expanded = LoadU16(image + 6);
  const uint32_t n = LoadU16(image + 10);
  const uint8_t level = image[12];
  if (RoundUpToUnit(stored) != length) RaiseDriverError(kErrPageLengthMismatch, fileName);
  if (checkHome && LoadU32(image) != static_cast<uint32_t>(PageOffset(reference)))
    RaiseDriverError(kErrPageHomeMismatch, fileName);
  const uint32_t prefix = kPageHeaderSize + (level > 0 ? 4 * n : 0);
  if (stored < prefix || expanded < stored) RaiseDriverError(kErrPageParse, fileName);

  page->Clear();
  page->level_ = level;
  // A page kept lazily holds its expanded image; otherwise it is decoded
  // from the image (expanded into scratch when it was compressed).
  std::vector<uint8_t>& body = lazy ? page->lazyImage_ : *scratch;
  const uint8_t* bytes = image;
  if (lazy && stored == expanded && scratch->data() == image) {
    // The image was read into scratch: the page takes that buffer as it is.
    body.swap(*scratch);
    body.resize(expanded);
    bytes = body.data();
  } else if (stored < expanded || lazy) {
    body.resize(expanded);
    std::memcpy(body.data(), image, stored < expanded ? prefix : expanded);
    if (stored < expanded) {
      int rc = Expand(image + prefix, stored - prefix, body.data() + prefix, expanded - prefix);
      if (rc != 0) RaiseDriverError(rc, fileName);
    }
    bytes = body.data();
  }
  if (lazy) {
    page->lazy_ = true;
    page->lazyCount_ = static_cast<uint16_t>(n);
    page->lazyFileName_ = fileName;
    return;
  }
  DecodeRecords(bytes, expanded, n, page, fileName);
}

void PageCodec::DecodeRecords(const uint8_t* body, uint32_t expanded, uint32_t n, Page* page,
                              const char* fileName) {
  const uint8_t level = page->level_;
  const uint32_t prefix = kPageHeaderSize + (level > 0 ? 4 * n : 0);
  page->records_.reserve(n);
  // Every record is at most its stored bytes plus a 63-byte shared prefix:
  // the arena is sized once for that bound and cut to the bytes used.
  const size_t bound = static_cast<size_t>(expanded) + 63u * n;
  // Sixteen bytes of slack let short copies move whole words.
  page->arena_.reserve(std::max<size_t>(bound + 16, expanded * 2 + 256));
  page->arena_.resize(bound + 16);
  uint32_t used = 0;
  // Records are decoded in order, each borrowing its missing lengths and its
  // shared prefix from the one decoded just before it; the bytes go straight
  // into the page's arena.
  size_t at = prefix;
  uint32_t recordLength = 0, keyLength = 0;
  uint32_t previousOffset = 0, previousLength = 0, previousKey = 0;
  uint32_t estimate = kPageHeaderSize;
  std::vector<uint8_t>& arena = page->arena_;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t shared = ReadRecordHead(body, expanded, i, level > 0, &at, previousLength, &recordLength,
                                           &keyLength, fileName);
    const uint32_t rest = recordLength - shared;
    uint32_t offset = used;
    if (offset + recordLength > bound) RaiseDriverError(kErrPageParse, fileName);
    used += recordLength;
    CopyShort(arena.data() + offset, arena.data() + previousOffset, shared);
    std::memcpy(arena.data() + offset + shared, body + at, rest);
    at += rest;
    if (i > 0) {
      // Keys must ascend; the shared prefix needs no second look.
      const uint8_t* a = arena.data() + previousOffset;
      const uint8_t* b = arena.data() + offset;
      uint32_t common = std::min(previousKey, keyLength);
      uint32_t k = std::min(shared, common);
      while (k < common && a[k] == b[k]) ++k;
      bool ascending = k < common ? a[k] < b[k] : previousKey < keyLength;
      if (!ascending) RaiseDriverError(kErrPageOrder, fileName);
    }
    int32_t child = level > 0 ? static_cast<int32_t>(LoadU32(body + kPageHeaderSize + 4 * i)) : 0;
    page->records_.push_back(
        {offset, static_cast<uint16_t>(keyLength), static_cast<uint16_t>(recordLength), child});
    estimate += Page::RecordEstimate(recordLength, level > 0);
    previousOffset = offset;
    previousLength = recordLength;
    previousKey = keyLength;
  }
  arena.resize(used);
  page->estimate_ = estimate;
  if (at != expanded) RaiseDriverError(kErrPageParse, fileName);
  page->InvalidateImage();
}

void Page::Decode() const {
  // The image moves out first: decoding fills the records and clears the
  // lazy state.
  Page* self = const_cast<Page*>(this);
  std::vector<uint8_t> image;
  image.swap(self->lazyImage_);
  const uint32_t n = lazyCount_;
  self->lazy_ = false;
  self->lazyCount_ = 0;
  PageCodec::DecodeRecords(image.data(), static_cast<uint32_t>(image.size()), n, self, lazyFileName_);
  self->lazyImage_.swap(image);  // keeps the buffer (and its length) for the next load
}

int PageCodec::LowerBoundInImage(const Page& page, ByteView key, ImageHit* hit) {
  const std::vector<uint8_t>& image = page.lazyImage_;
  const uint8_t* body = image.data();
  const uint32_t n = page.lazyCount_;
  image_walk::Hit found;
  const int outcome =
      image_walk::LowerBound<PlainBytes>(body, static_cast<uint32_t>(image.size()), n,
                                         kPageHeaderSize + (page.isNode() ? 4u * n : 0u), page.isNode(), key, &found);
  if (outcome == image_walk::kFault) RaiseDriverError(kErrPageParse, page.lazyFileName_);
  if (outcome != image_walk::kFound) return outcome;
  hit->shared = found.shared;
  hit->rest = body + found.restAt;
  hit->keyLength = found.keyLength;
  hit->recordLength = found.recordLength;
  hit->index = found.index;
  return 1;
}

long PageCodec::FindLEInImage(const Page& page, ByteView key) {
  ImageHit hit;
  switch (LowerBoundInImage(page, key, &hit)) {
    case 0: return static_cast<long>(page.count()) - 1;
    case 1: return static_cast<long>(hit.index) - (hit.KeyEquals(key) ? 0 : 1);
    default: return kDecodeToAnswer;
  }
}

int32_t PageCodec::ChildInImage(const Page& page, size_t index) {
  return static_cast<int32_t>(LoadU32(page.lazyImage_.data() + kPageHeaderSize + 4 * index));
}

}  // namespace pr::store
