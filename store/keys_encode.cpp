#include "store/keys_encode.h"

#include <cstring>

namespace pr::store {

namespace {

// Field type codes of the declaration.
constexpr uint8_t kShort = 2, kUShort = 3, kDate = 4, kTime = 5, kLong = 6, kULong = 7, kSReal = 8, kReal = 9,
                  kDecimal = 10, kString = 18, kCString = 19, kPString = 20, kGroup = 22;

void Reverse(const uint8_t* src, uint8_t* out, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = src[n - 1 - i];
}

void Complement(uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = uint8_t(0xFF - p[i]);
}

}  // namespace

bool IsStringLike(uint8_t type) {
  return type == kString || type == kGroup || type == kCString || type == kPString;
}

void EncodeKeyComponents(const KeyLayout& layout, const CollationState& collation, const uint8_t* record,
                         uint8_t* out) {
  for (const KeyComponent& c : layout.components) {
    const uint8_t* src = record + c.offset;
    const size_t n = c.size;
    bool descending = c.descending;
    if (n == 0) continue;
    switch (c.type) {
      case kCString: {
        const void* end = std::memchr(src, 0, n);
        size_t len = end ? size_t(static_cast<const uint8_t*>(end) - src) : n;
        std::memcpy(out, src, len);
        std::memset(out + len, 0, n - len);
        break;
      }
      case kPString: {
        // The length byte may claim more than the field holds.
        size_t len = src[0] < n ? src[0] : n - 1;
        std::memcpy(out, src + 1, len);
        std::memset(out + len, 0, n - len);
        break;
      }
      case kUShort:
      case kULong:
      case kDate:
      case kTime:
        Reverse(src, out, n);
        break;
      case kShort:
      case kLong:
        Reverse(src, out, n);
        out[0] ^= 0x80;
        break;
      case kSReal:
      case kReal:
        Reverse(src, out, n);
        if (out[0] & 0x80) {
          descending = !descending;
        } else {
          out[0] |= 0x80;
        }
        break;
      case kDecimal:
        std::memcpy(out, src, n);
        if (out[0] & 0xF0) {
          out[0] &= 0x0F;
          descending = !descending;
        }
        out[0] ^= 0x80;
        break;
      default:
        std::memcpy(out, src, n);
        break;
    }
    if (IsStringLike(c.type)) {
      if (layout.nocase()) collation.FoldCase(out, n);
      collation.ApplyWeights(out, n, false);
    }
    if (descending) Complement(out, n);
    out += n;
  }
}

bool KeyIsBlank(const KeyLayout& layout, const uint8_t* record) {
  for (const KeyComponent& c : layout.components) {
    const uint8_t* src = record + c.offset;
    if (c.size == 0) continue;
    switch (c.type) {
      case kString:
      case kGroup:
        for (size_t i = 0; i < c.size; ++i) {
          if (src[i] != ' ') return false;
        }
        break;
      case kCString:
      case kPString:
        if (src[0] != 0) return false;
        break;
      default:
        for (size_t i = 0; i < c.size; ++i) {
          if (src[i] != 0) return false;
        }
        break;
    }
  }
  return true;
}

size_t BuildKeyEntry(const KeyLayout& layout, const CollationState& collation, const RecordNumber& table,
                     const RecordNumber& record, const uint8_t* image, uint8_t* out) {
  std::memcpy(out, table.data(), 4);
  out[4] = layout.index;
  EncodeKeyComponents(layout, collation, image, out + 5);
  size_t length = 5 + layout.encodedLength;
  if (layout.dup()) {
    std::memcpy(out + length, record.data(), 4);
    length += 4;
  }
  return length;
}

}  // namespace pr::store
