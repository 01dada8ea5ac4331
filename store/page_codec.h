// Page images: building the disk form of a page and reading it back.
//
// Record area (after the 13-byte header, and on node pages after the child
// array), one record after another in key order:
//   flags   u8   0x80: u16 record length follows; 0x40: u16 key length
//                follows; 0x3F: leading bytes shared with the previous record
//   [u16 record length]   else that of the previous record
//   [u16 key length]      else that of the previous record
//   record bytes from the shared prefix on
// The first record carries both lengths and shares nothing.  The record area
// is run-compressed (compress.h) when that saves at least one 256-byte unit;
// the image is padded with 0xB0 to a multiple of 256.
//
// Errors are raised through the driver error box with the file name given.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "store/page.h"

namespace pr::store {

class PageCodec {
 public:
  // Builds the image of page into *image (resized to a multiple of 256) with
  // the home offset of page reference `reference`.  Raises 1659 when the
  // packed records outgrow the page's estimate and 1678 when the image would
  // exceed 15104 bytes.  `scratch` is working space.
  static void Build(const Page& page, int32_t reference, std::vector<uint8_t>* image, std::vector<uint8_t>* scratch,
                    const char* fileName);
  // The size class (units) that an image built by Build occupies.
  static int ClassOfImage(const std::vector<uint8_t>& image) { return static_cast<int>(image.size() / 256); }

  // Rebuilds page (empty, any level) from an image of `length` bytes read
  // from the slot of `reference`.  Raises 1477 (stored size does not match
  // the bytes read), 522/530 (expansion), 1602 (records do not end at the
  // expanded size), 2401 (home offset of another slot), 2403 (records out of
  // order).  When checkHome is false the home offset is not compared.
  static void Parse(const uint8_t* image, uint32_t length, int32_t reference, bool checkHome, Page* page,
                    std::vector<uint8_t>* scratch, const char* fileName);
  // Parse, but with `lazy` set the page keeps its expanded image and decodes
  // its records on first use (Page::Materialize); its header is checked now.
  // When `image` is the data of *scratch, the page may take that buffer
  // (scratch then holds another).
  static void Load(const uint8_t* image, uint32_t length, int32_t reference, bool checkHome, bool lazy,
                   Page* page, std::vector<uint8_t>* scratch, const char* fileName);

  // The first record of a lazy leaf whose key is not less than `key`.  Its
  // first `shared` bytes are the key's own; `rest` points at the others
  // (recordLength - shared bytes) inside the page's image.
  struct ImageHit {
    uint32_t shared;
    const uint8_t* rest;
    uint32_t keyLength;
    uint32_t recordLength;
    uint32_t index;
    // The record's key is `key` itself (whose first `shared` bytes it shares).
    bool KeyEquals(ByteView key) const {
      return keyLength == key.size() && std::memcmp(rest, key.data() + shared, keyLength - shared) == 0;
    }
  };
  // 1: found; 0: every record of the page is less; -1: the page must be
  // decoded to answer.  Raises 1602 on a record area that does not parse.
  static int LowerBoundInImage(const Page& page, ByteView key, ImageHit* hit);
  // Page::FindLE on a lazy page: the index of the greatest record not
  // greater than key, -1 when none is, or kDecodeToAnswer.
  static constexpr long kDecodeToAnswer = -2;
  static long FindLEInImage(const Page& page, ByteView key);
  // Child reference `index` (< count) of a lazy node page.
  static int32_t ChildInImage(const Page& page, size_t index);

 private:
  friend class Page;
  static void DecodeRecords(const uint8_t* body, uint32_t expanded, uint32_t n, Page* page, const char* fileName);
};

}  // namespace pr::store
