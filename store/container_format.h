// On-disk layout of a keyed file: the 512-byte file header and the page area.
//
// File layout
//   offset 0      file header, 512 bytes
//   offset 512    page area, addressed in 256-byte units
// A page reference R is a signed 32-bit count of units from offset 512; page R
// lies at file offset R * 256 + 512.  Every integer is little-endian, except
// the last record number, which is big-endian so that record numbers compare
// by their bytes.
//
// File header
//   0x000  u32      home offset            always 0
//   0x004  u16      header size            0x200
//   0x006  u32      committed length       where the pending-update area begins
//   0x00A  u32      pending length         where it ends (== committed: none)
//   0x00E  4 bytes  magic                  "vEkO"
//   0x012  u16      reserved               0
//   0x014  4 bytes  last record number     big-endian
//   0x018  u32      change counter         +1 per completed update step, 0 skipped
//   0x01C  u32      root page reference
//   0x020  u32 x 60 region start           per size class
//   0x110  u32 x 60 region end             per size class (one past the last)
//
// Size classes: a page of class i (1..59) takes exactly i units on disk; all
// pages of class i lie back to back in region i, [start i, end i).  Regions
// are in ascending class order; entry 0 is a fixed base holding no pages.
//
// Page header (13 bytes, at the start of every page image)
//   0   u32  home offset     file offset of the page's home slot
//   4   u16  stored size     bytes on disk before padding, header included
//   6   u16  expanded size   bytes after expansion, header included
//   8   u16  size estimate   working estimate of the expanded size
//   10  u16  record count
//   12  u8   level           0 leaf, >0 node (height above the leaves)
// A node page continues with record-count u32 child references; header and
// child array are never compressed.  The packed records follow (see
// page_codec.h) and the image is padded with 0xB0 to a multiple of 256.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

namespace pr::store {

inline constexpr uint32_t kHeaderSize = 0x200;
inline constexpr uint32_t kUnit = 256;          // page area granule
inline constexpr uint32_t kCipherBlock = 64;    // every read and write is a multiple
inline constexpr int kClassCount = 60;          // classes 0..59, 0 holds no pages
inline constexpr int kMaxClass = 59;
inline constexpr uint32_t kMaxPageBytes = kMaxClass * kUnit;  // 15104
inline constexpr uint32_t kPageHeaderSize = 13;
inline constexpr uint32_t kMaxRecordLength = 15093;  // key plus data
inline constexpr uint32_t kSplitHardLimit = 15094;   // 0x3AF6
inline constexpr uint32_t kSplitSoftLimit = 4096;
inline constexpr uint32_t kSplitSoftCount = 20;
inline constexpr uint8_t kPadByte = 0xB0;
inline constexpr uint8_t kMagic[4] = {'v', 'E', 'k', 'O'};
// The page area must stay below the lock bytes at 2 GiB.
inline constexpr uint64_t kPageAreaLimit = 0x80000000ull;

inline uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline void StoreU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// The change counter grows by one per update step and wraps round.  It never
// becomes 0 again, which marks a file never written; and since it wraps,
// readers ask only whether it differs from the value they last read.
inline uint32_t NextChangeCounter(uint32_t counter) { return counter == 0xFFFFFFFFu ? 1u : counter + 1; }
// Of two counters, the one further on (the distance read modulo 2^32).
inline uint32_t LaterChangeCounter(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0 ? b : a; }

inline uint64_t PageOffset(int32_t ref) { return static_cast<uint64_t>(ref) * kUnit + kHeaderSize; }
inline uint32_t RoundUpToUnit(uint32_t n) { return (n + kUnit - 1) / kUnit * kUnit; }

// The in-memory copy of the file header, field by field.
struct FileHeader {
  uint32_t committedLength = 0;
  uint32_t pendingLength = 0;
  std::array<uint8_t, 4> lastRecordNumber{};  // big-endian image
  uint32_t changeCounter = 0;
  int32_t rootReference = 0;
  std::array<int32_t, kClassCount> regionStart{};
  std::array<int32_t, kClassCount> regionEnd{};

  // Page count of region i.
  int32_t PagesInRegion(int i) const { return i == 0 ? 0 : (regionEnd[i] - regionStart[i]) / i; }
  // Region end of the highest non-empty class (0 when all are empty).
  int32_t EndReference() const {
    for (int i = kMaxClass; i >= 1; --i)
      if (regionEnd[i] > regionStart[i]) return regionEnd[i];
    return 0;
  }
  // File offset just past the page area.
  uint32_t PageAreaEnd() const { return static_cast<uint32_t>(PageOffset(EndReference())); }
  // The class whose region holds ref, or 0 when none does.
  int ClassOf(int32_t ref) const {
    for (int i = 1; i <= kMaxClass; ++i)
      if (regionStart[i] <= ref && ref < regionEnd[i]) return i;
    return 0;
  }

  void Serialize(uint8_t out[kHeaderSize]) const;
  // Parses 512 bytes; false when the magic or the header size is wrong.
  bool Parse(const uint8_t in[kHeaderSize]);
  // The fields a reader looks at to learn whether anything changed, from the
  // first 64 bytes of a header; false when the magic is wrong.
  struct Counters {
    uint32_t committedLength;
    uint32_t pendingLength;
    uint32_t changeCounter;
  };
  static bool PeekCounters(const uint8_t in[64], Counters* out);
  // The change counter follows the lengths and the magic in the header: a
  // reader that loads the bytes before this offset first, and the counter
  // after them, sees a counter at least as new as the lengths it saw.
  static constexpr size_t kChangeCounterOffset = 0x018;
  // True when the regions, lengths and root describe a layout this code can
  // use safely: regions ascending and whole, the page area below 2 GiB, the
  // committed length not past the pending length.
  bool IsSane() const;
};

}  // namespace pr::store
