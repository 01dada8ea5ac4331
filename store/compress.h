// Run compression of the packed part of a page image.
//
// Counts use a variable-length form: 7 bits per byte, least significant group
// first, every byte but the last with 0x80 set (200 -> C8 01, 127 -> 7F).
//
// Compressed stream: repeated (count L, L literal bytes, count M) where M more
// copies of the last literal follow; the stream ends after a literal group
// that completes the output.  A run is coded only when at least 4 equal bytes
// follow one another; input without such a run is reported incompressible.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pr::store {

// Appends the count to out.
void PutCount(std::vector<uint8_t>* out, uint32_t value);
// Reads a count at *at (advancing it).  False when the input ends inside the
// count or the value exceeds 32 bits.
bool GetCount(const uint8_t* in, size_t length, size_t* at, uint32_t* value);

// Compresses n bytes into out (cleared first).  Returns out's length, or n
// with out untouched beyond being cleared when no run was found.
size_t Compress(const uint8_t* in, size_t n, std::vector<uint8_t>* out);

// Expands `length` compressed bytes into exactly `expanded` bytes at out.
// Returns 0 on success or the driver error number: 522 (a literal count past
// the end of the output, or literals past the end of the input), 530 (a run
// past the end of the output or a run with nothing before it).
int Expand(const uint8_t* in, size_t length, uint8_t* out, size_t expanded);
// Expand over input that another process may be rewriting while it runs (a
// stored image in the file mapping): the same answers on input that holds
// still, each input byte loaded once, and whatever the bytes, no access
// outside in[0, length) and out[0, expanded), no allocation and an end
// within `length` turns.  The caller validates the output afterwards.
int ExpandShared(const uint8_t* in, size_t length, uint8_t* out, size_t expanded);

}  // namespace pr::store
