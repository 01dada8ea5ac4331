// Key entries: how a record's key components become the bytes that order a
// key's entries in the page tree.
//
// Key part of an entry: table number (4), key index (1), the encoded
// components one after another (each exactly its field's size), and for a DUP
// key the record number (4).  Data part: the record number (4).
//
// Encoding of one component of n bytes taken from the record image:
//   STRING, GROUP        the n bytes
//   CSTRING              up to the first zero byte, zero-filled
//   PSTRING              the bytes its length byte counts, zero-filled
//   USHORT ULONG DATE TIME  byte order reversed
//   SHORT LONG           byte order reversed, top bit flipped
//   SREAL REAL           byte order reversed; negative values invert the
//                        component's direction, others get the top bit set
//   DECIMAL              a non-zero sign nibble is cleared and inverts the
//                        direction; then the top bit is flipped
//   anything else        the n bytes
// String-like components are then case-folded (NOCASE keys) and mapped
// through the table's sort weights; a descending component (after any
// inversion) has every byte b replaced by 0xFF - b.
//
// These functions are pure and thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "store/collation_state.h"
#include "store/record_kinds.h"

namespace pr::store {

// Key attribute flags as the declaration gives them.
inline constexpr uint32_t kKeyDup = 0x0001;
inline constexpr uint32_t kKeyOpt = 0x0002;
inline constexpr uint32_t kKeyNoCase = 0x0004;
inline constexpr uint32_t kKeyPrimary = 0x0010;
inline constexpr uint32_t kKeyIndex = 0x4000;

struct KeyComponent {
  uint32_t offset = 0;  // in the record image
  uint32_t size = 0;    // bytes; the component's encoded length
  uint8_t type = 0;     // field type code
  bool descending = false;
};

// A key prepared for encoding.  REQUIRES: every component lies inside the
// record image it is applied to (checked when the table is opened).
struct KeyLayout {
  uint8_t index = 0;  // key index, from 0 in declaration order
  uint32_t attributes = 0;
  std::vector<KeyComponent> components;
  size_t encodedLength = 0;  // sum of component sizes

  bool dup() const { return (attributes & kKeyDup) != 0; }
  bool opt() const { return (attributes & kKeyOpt) != 0; }
  bool nocase() const { return (attributes & kKeyNoCase) != 0; }
  bool inMemory() const { return (attributes & kKeyIndex) != 0; }
  // Length of the key part of an entry.
  size_t entryKeyLength() const { return 5 + encodedLength + (dup() ? 4 : 0); }
  // Adds a component and keeps encodedLength up to date.
  void Add(const KeyComponent& component) {
    components.push_back(component);
    encodedLength += component.size;
  }
};

// True for the types whose components are case-folded and weighted.
bool IsStringLike(uint8_t type);

// Writes the layout.encodedLength encoded bytes of `record` into `out`.
// The record image is in the ANSI character set (entries are built before
// the OEM conversion of a write and after the one of a read), so the ANSI
// weights apply whatever the table's OEM flag.
void EncodeKeyComponents(const KeyLayout& layout, const CollationState& collation, const uint8_t* record,
                         uint8_t* out);

// True when every component of `record` is blank, so an OPT key keeps no
// entry for it: STRING and GROUP all spaces, CSTRING and PSTRING an empty
// first byte, anything else all zero bytes.
bool KeyIsBlank(const KeyLayout& layout, const uint8_t* record);

// Writes the key part of the entry of `record` into `out` (which must hold
// layout.entryKeyLength() bytes) and returns its length.
size_t BuildKeyEntry(const KeyLayout& layout, const CollationState& collation, const RecordNumber& table,
                     const RecordNumber& record, const uint8_t* image, uint8_t* out);

}  // namespace pr::store
