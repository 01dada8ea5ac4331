// Reads of a page's stored image where it lies in the file mapping, without
// copying it first: the lower bound of a key in an uncompressed image, the
// entry a descent follows in a node, and the expansion of an image straight
// into the buffer that becomes the page's own.
//
// Another process may be rewriting the bytes while these run (an update
// writing its pending area, a page going home in phase two), and the file
// may be cut shorter than the mapping under them.  So, whatever the bytes:
//  - they read only image[0, length) and write only out[0, capacity);
//  - each byte that decides a position or a length is loaded once and
//    checked in a local before use (view_bytes.h), and they end within a
//    number of steps bounded by the length;
//  - they allocate nothing, throw nothing and take no lock, so that the
//    bus-error guard (CallWithViewGuard) may jump out of them at any point
//    and leave nothing behind;
//  - they answer "not usable" for anything they cannot vouch for: a damaged
//    image as much as a torn one.  The caller then copies the image and
//    parses it, and that read names the fault.
// An answer is worth something only when the caller's sequence check (the
// header's lengths and change counter in the mapping, unchanged before and
// after) passes; on an image that holds still the answers are exactly those
// of PageCodec on the same image.
//
// Thread safety: none needed; they keep no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "store/image_walk.h"
#include "store/page.h"

namespace pr::store {

// The 13-byte header of a stored image, read once and checked against its
// slot: `length` bytes (its class's size) at the home of `reference`.
struct StoredShape {
  uint32_t home = 0;      // file offset the image names as its own
  uint32_t stored = 0;    // bytes of the image before its padding
  uint32_t expanded = 0;  // bytes once the record area is expanded
  uint32_t estimate = 0;
  uint32_t count = 0;     // records
  uint32_t prefix = 0;    // the header and, on a node, its child array
  uint8_t level = 0;
  bool compressed() const { return stored < expanded; }
  bool node() const { return level > 0; }
};

// False unless the image is at least a header long, its stored length fills
// exactly the slot (whole 256-byte units), it names the home of `reference`,
// and its record area starts within it and does not shrink when expanded.
bool ReadStoredShape(const uint8_t* image, size_t length, int32_t reference, StoredShape* shape);

// Answers of the in-place searches.
enum StoredAnswer : int {
  kStoredUnusable = -1,  // compressed, damaged, torn, or left to the full decode
  kStoredAfterAll = 0,   // every record is less than the key
  kStoredFound = 1,
};
using StoredHit = image_walk::Hit;  // restAt: an offset into the image

// The first record of an uncompressed stored image whose key is not less
// than key.  The record's bytes from hit->shared on lie at image +
// hit->restAt, (recordLength - shared) of them, inside the image.
int LowerBoundInStored(const uint8_t* image, size_t length, int32_t reference, ByteView key, StoredShape* shape,
                       StoredHit* hit);

// On an uncompressed stored node: *index is the greatest entry not greater
// than key (-1 when none is, as Page::FindLE), and *child the child of the
// entry a descent follows (that one, or the first when none is).  False
// when the answer cannot be given from the image (kStoredUnusable).
// With expectedLevel >= 0, an image of another level is not usable either.
bool ChildInStored(const uint8_t* image, size_t length, int32_t reference, ByteView key, long* index,
                   int32_t* child, int expectedLevel = -1);

// Writes the page's image in its uncompressed form to out[0, shape.expanded):
// the header of `shape` (its stored length now the expanded one), the child
// array, the record area copied or expanded out of `image`.  `shape` is what
// ReadStoredShape answered for the same image.  False when out is too small
// or the compressed area does not expand to exactly its length.
bool ExpandStored(const uint8_t* image, const StoredShape& shape, uint8_t* out, size_t capacity);

// The whole load of page `reference` from its slot in a view (`length`
// bytes at `image`), under the bus-error guard: *out becomes the page's
// uncompressed image, RoundUpToUnit(expanded) bytes long (the bytes after
// `expanded` are left as they were), in the form PageCodec::Load takes.  A
// compressed image is expanded out of the view with no copy of its stored
// bytes first.  False, with *out's content undefined, when the image cannot
// be vouched for or the file was cut short under the view.  The buffer is
// sized between the two guarded steps: nothing is allocated under the guard.
bool LoadStoredFromView(const uint8_t* image, size_t length, int32_t reference, std::vector<uint8_t>* out);

// LowerBoundInStored and ChildInStored under the bus-error guard
// (kStoredUnusable / false when the file was cut short under the view).
int LowerBoundInView(const uint8_t* image, size_t length, int32_t reference, ByteView key, StoredShape* shape,
                     StoredHit* hit);
bool ChildInView(const uint8_t* image, size_t length, int32_t reference, ByteView key, long* index, int32_t* child,
                 int expectedLevel = -1);

}  // namespace pr::store
