// The body of the expression fuzz target, shared by the libFuzzer entry point
// (fuzz_expression.cpp built with PR_LIBFUZZER) and the bounded random
// mutation test of the normal suite.  It aborts on a broken invariant;
// sanitizers catch out-of-bounds access.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pr::files::fuzz {

// The first 64 bytes (zero-padded) are the record image of a file with a
// field of every kind (some dimensioned, one lying partly outside the
// record); the rest is compiled as an expression over it and, when it
// compiles, evaluated.
int FuzzExpression(const uint8_t* data, size_t size);

}  // namespace pr::files::fuzz
