// Bodies of the fuzz targets, shared by the libFuzzer entry points
// (fuzz_*.cpp built with PR_LIBFUZZER) and the bounded random-mutation tests
// of the normal suite.  Each aborts (through a failed check) on a broken
// invariant; sanitizers catch out-of-bounds access.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pr::values::fuzz {

// Compiles the bytes before the first NUL as a picture, formats a spread of
// values through it into exact-size buffers, and reads the rest of the input
// (and every formatted text) back through it.
int FuzzPicture(const uint8_t* data, size_t size);

// Parses the bytes as an environment file and applies them to the locale.
int FuzzEnvironment(const uint8_t* data, size_t size);

}  // namespace pr::values::fuzz
