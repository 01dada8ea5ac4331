// Loads of bytes that another process may be rewriting while they are read
// (a page in the file mapping while an update writes it).
//
// SharedBytes reads every byte exactly once, with an atomic load: a value
// that decides a position or a length is checked in a local and then used
// from that local, never read a second time from memory (where it may have
// changed in between).  Runs of bytes that are only copied go through
// memcpy; under the thread checker they are copied a byte at a time with
// the same loads, so that a test writing the bytes from another thread
// with atomic stores races with nothing the checker can see.  PlainBytes
// is the same interface over memory the caller owns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SANITIZE_THREAD__)
#define PR_VIEW_BYTES_ONE_AT_A_TIME 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PR_VIEW_BYTES_ONE_AT_A_TIME 1
#endif
#endif

namespace pr::store {

struct PlainBytes {
  static uint8_t Byte(const uint8_t* p) { return *p; }
  static void Copy(uint8_t* to, const uint8_t* from, size_t n) { std::memcpy(to, from, n); }
};

struct SharedBytes {
  static uint8_t Byte(const uint8_t* p) { return __atomic_load_n(p, __ATOMIC_RELAXED); }
  static void Copy(uint8_t* to, const uint8_t* from, size_t n) {
#if defined(PR_VIEW_BYTES_ONE_AT_A_TIME)
    for (size_t i = 0; i < n; ++i) to[i] = Byte(from + i);
#else
    std::memcpy(to, from, n);
#endif
  }
};

// Little-endian fields, each byte loaded once.
template <class Bytes>
inline uint32_t LoadU16From(const uint8_t* p) {
  return static_cast<uint32_t>(Bytes::Byte(p)) | (static_cast<uint32_t>(Bytes::Byte(p + 1)) << 8);
}
template <class Bytes>
inline uint32_t LoadU32From(const uint8_t* p) {
  return LoadU16From<Bytes>(p) | (LoadU16From<Bytes>(p + 2) << 16);
}

}  // namespace pr::store
