// The search of a page image in record order, shared by a page kept in its
// expanded image (PageCodec::LowerBoundInImage) and a stored image searched
// where it lies in the file mapping (image_search.h).  Internal to the
// store.
//
// The walk keeps `matched`: how many leading bytes the last record passed
// over shares with the key.  A record that shares more than that with its
// predecessor differs from the key exactly where its predecessor did, so it
// is smaller too and needs no comparison.
//
// Every byte comes through Bytes (view_bytes.h), once; every length is
// checked in a local before it moves the position, and each turn moves it
// forward, so whatever the bytes the walk reads only body[at, end) and ends
// within `count` turns.  It allocates nothing and raises nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "store/container_format.h"
#include "store/page.h"
#include "store/view_bytes.h"

namespace pr::store::image_walk {

enum Outcome : int {
  kFault = -2,   // the record area does not parse
  kDecode = -1,  // a shared prefix past the end of a key part: the full decode answers
  kNone = 0,     // every record is less than the key
  kFound = 1,
};

struct Hit {
  uint32_t index;
  uint32_t shared;        // leading bytes the record shares with the key
  uint32_t keyLength;
  uint32_t recordLength;
  uint32_t restAt;        // offset in the body of the record's bytes from `shared` on
};

// The first of `count` records, starting at body + at and ending before
// body + end, whose key is not less than key.
template <class Bytes>
inline int LowerBound(const uint8_t* body, uint32_t end, uint32_t count, uint32_t at, bool node, ByteView key,
                      Hit* hit) {
  uint32_t recordLength = 0, keyLength = 0, previousKey = 0, previousLength = 0;
  uint32_t matched = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (at >= end) return kFault;
    const uint32_t flags = Bytes::Byte(body + at++);
    const uint32_t shared = flags & 0x3F;
    // Most records carry no lengths: theirs are those of the record before,
    // already checked, and the only checks left are a prefix inside the key
    // part (hence inside the record) and bytes enough for the rest.  Any
    // other record takes every check, in the order that decides which
    // answer a damaged record gets.
    if ((flags & 0xC0) != 0 || i == 0 || shared >= keyLength || end - at < recordLength - shared) {
      if (i == 0 && (flags & 0xC0) != 0xC0) return kFault;
      if (flags & 0x80) {
        if (end - at < 2) return kFault;
        recordLength = LoadU16From<Bytes>(body + at);
        at += 2;
      }
      if (flags & 0x40) {
        if (end - at < 2) return kFault;
        keyLength = LoadU16From<Bytes>(body + at);
        at += 2;
      }
      if (shared > previousLength || shared > recordLength || keyLength > recordLength ||
          recordLength > kMaxRecordLength || (node && keyLength != recordLength) || end - at < recordLength - shared)
        return kFault;
      if (i > 0 && (shared >= keyLength || shared >= previousKey)) return kDecode;
    }
    if (i == 0 || shared <= matched) {
      // The record's first `shared` bytes equal the key's: compare the rest.
      if (key.size() < shared) return kDecode;  // cannot happen: shared <= matched <= key size
      const uint8_t* mine = body + at;
      const uint32_t mineKey = keyLength - shared;
      const size_t theirs = key.size() - shared;
      const size_t common = mineKey < theirs ? mineKey : theirs;
      size_t k = 0;
      int order = 0;
      for (; k < common; ++k) {
        const uint8_t b = Bytes::Byte(mine + k);
        if (b != key[shared + k]) {
          order = b < key[shared + k] ? -1 : 1;
          break;
        }
      }
      const bool less = k < common ? order < 0 : mineKey < theirs;
      if (!less) {
        hit->index = i;
        hit->shared = shared;
        hit->keyLength = keyLength;
        hit->recordLength = recordLength;
        hit->restAt = at;
        return kFound;
      }
      matched = shared + static_cast<uint32_t>(k);
    }
    at += recordLength - shared;
    previousKey = keyLength;
    previousLength = recordLength;
  }
  return kNone;
}

// The record found is the key itself (its first `shared` bytes are the key's).
template <class Bytes>
inline bool KeyEquals(const uint8_t* body, const Hit& hit, ByteView key) {
  if (hit.keyLength != key.size()) return false;
  for (uint32_t k = 0; k < hit.keyLength - hit.shared; ++k)
    if (Bytes::Byte(body + hit.restAt + k) != key[hit.shared + k]) return false;
  return true;
}

}  // namespace pr::store::image_walk
