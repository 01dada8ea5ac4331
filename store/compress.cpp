#include "store/compress.h"

#include <cstring>

namespace pr::store {

void PutCount(std::vector<uint8_t>* out, uint32_t value) {
  while (value >= 128) {
    out->push_back(static_cast<uint8_t>((value & 0x7F) + 0x80));
    value >>= 7;
  }
  out->push_back(static_cast<uint8_t>(value));
}

bool GetCount(const uint8_t* in, size_t length, size_t* at, uint32_t* value) {
  uint64_t v = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    if (*at >= length) return false;
    uint8_t b = in[(*at)++];
    v |= static_cast<uint64_t>(b & 0x7F) << shift;
    if (b < 0x80) {
      if (v > 0xFFFFFFFFu) return false;
      *value = static_cast<uint32_t>(v);
      return true;
    }
  }
  return false;
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
  size_t at = 0, produced = 0;
  while (true) {
    uint32_t literals;
    if (!GetCount(in, length, &at, &literals) || literals > expanded - produced || literals > length - at) return 522;
    std::memcpy(out + produced, in + at, literals);
    at += literals;
    produced += literals;
    if (produced == expanded) return 0;
    uint32_t copies;
    if (!GetCount(in, length, &at, &copies) || copies > expanded - produced) return 530;
    if (produced == 0) return 530;
    std::memset(out + produced, out[produced - 1], copies);
    produced += copies;
    if (produced == expanded) return 0;
  }
}

}  // namespace pr::store
