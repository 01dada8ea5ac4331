#include "store/compress.h"

#include <bit>
#include <cstring>

#include "store/view_bytes.h"

namespace pr::store {

namespace {

// Each input byte is loaded once (Bytes says how); every count is checked
// in a local before it moves a position.  The loop ends: each turn reads at
// least one byte of the input, and a turn that reads none has failed.
template <class Bytes>
bool GetCountFrom(const uint8_t* in, size_t length, size_t* at, uint32_t* value) {
  uint64_t v = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    if (*at >= length) return false;
    const uint8_t b = Bytes::Byte(in + (*at)++);
    v |= static_cast<uint64_t>(b & 0x7F) << shift;
    if (b < 0x80) {
      if (v > 0xFFFFFFFFu) return false;
      *value = static_cast<uint32_t>(v);
      return true;
    }
  }
  return false;
}

template <class Bytes>
int ExpandFrom(const uint8_t* in, size_t length, uint8_t* out, size_t expanded) {
  size_t at = 0, produced = 0;
  while (true) {
    uint32_t literals;
    if (!GetCountFrom<Bytes>(in, length, &at, &literals) || literals > expanded - produced || literals > length - at)
      return 522;
    Bytes::Copy(out + produced, in + at, literals);
    at += literals;
    produced += literals;
    if (produced == expanded) return 0;
    uint32_t copies;
    if (!GetCountFrom<Bytes>(in, length, &at, &copies) || copies > expanded - produced) return 530;
    if (produced == 0) return 530;
    std::memset(out + produced, out[produced - 1], copies);
    produced += copies;
    if (produced == expanded) return 0;
  }
}

}  // namespace

void PutCount(std::vector<uint8_t>* out, uint32_t value) {
  while (value >= 128) {
    out->push_back(static_cast<uint8_t>((value & 0x7F) + 0x80));
    value >>= 7;
  }
  out->push_back(static_cast<uint8_t>(value));
}

bool GetCount(const uint8_t* in, size_t length, size_t* at, uint32_t* value) {
  return GetCountFrom<PlainBytes>(in, length, at, value);
}

namespace {

uint8_t* WriteCount(uint8_t* at, uint32_t value) {
  while (value >= 128) {
    *at++ = static_cast<uint8_t>((value & 0x7F) + 0x80);
    value >>= 7;
  }
  *at++ = static_cast<uint8_t>(value);
  return at;
}

// The first position q >= p where four equal bytes begin (n when there is
// none), found eight bytes at a time.  Called with p at the start of a run
// of equal bytes, it returns the start of one too: a byte equal to the one
// before q would begin four equal bytes itself.
size_t NextRunOfFour(const uint8_t* in, size_t n, size_t p) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  if constexpr (std::endian::native == std::endian::little) {
    while (p + 8 <= n) {
      uint64_t x;
      std::memcpy(&x, in + p, 8);
      // Byte j of d is zero when bytes j and j + 1 are equal (j <= 6).
      const uint64_t d = x ^ (x >> 8);
      const uint64_t zero = ~(((d & kLow7) + kLow7) | d | kLow7);  // 0x80 in each zero byte
      // Byte j: bytes j .. j + 3 are equal (j <= 4).
      const uint64_t four = zero & (zero >> 8) & (zero >> 16) & 0x0000008080808080ull;
      if (four) return p + static_cast<size_t>(std::countr_zero(four)) / 8;
      p += 5;
    }
  }
  for (; p + 4 <= n; ++p)
    if (in[p] == in[p + 1] && in[p] == in[p + 2] && in[p] == in[p + 3]) return p;
  return n;
}

}  // namespace

size_t Compress(const uint8_t* in, size_t n, std::vector<uint8_t>* out) {
  // A group of L literals and a run of M >= 3 copies takes cnt(L) + L +
  // cnt(M) bytes for L + M bytes of input, and cnt(M) <= M - 2: a group
  // grows the output past its input only when L needs three or more count
  // bytes (L >= 16384), by at most 3.  The last literal group adds a count.
  out->resize(n + 16 + n / 4096);
  uint8_t* const begin = out->data();
  uint8_t* w = begin;
  size_t p = 0, s = 0;
  bool wroteRun = false;
  while (p < n) {
    p = NextRunOfFour(in, n, p);
    if (p >= n) break;
    const uint8_t b = in[p];
    size_t r = 1;
    while (p + r < n && in[p + r] == b) ++r;
    if (r >= 4) {
      const size_t literals = p + 1 - s;
      w = WriteCount(w, static_cast<uint32_t>(literals));
      std::memcpy(w, in + s, literals);
      w += literals;
      w = WriteCount(w, static_cast<uint32_t>(r - 1));
      s = p + r;
      wroteRun = true;
    }
    p += r;
  }
  if (!wroteRun) {
    out->clear();
    return n;
  }
  w = WriteCount(w, static_cast<uint32_t>(n - s));
  std::memcpy(w, in + s, n - s);
  w += n - s;
  out->resize(static_cast<size_t>(w - begin));
  return out->size();
}

int Expand(const uint8_t* in, size_t length, uint8_t* out, size_t expanded) {
  return ExpandFrom<PlainBytes>(in, length, out, expanded);
}

int ExpandShared(const uint8_t* in, size_t length, uint8_t* out, size_t expanded) {
  return ExpandFrom<SharedBytes>(in, length, out, expanded);
}

}  // namespace pr::store
