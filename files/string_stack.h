// The per-thread runtime string stack: string arguments of statements (the
// position of RESET and REGET, the text of SEND, property numbers and values)
// are pushed before the call and popped by the driver; string results
// (POSITION, NAME, property reads, SEND answers) are pushed by the driver and
// popped by the caller.  Per thread; no locks.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pr::files {

void PushString(std::string_view text);
// Pops the top string; an empty stack gives an empty string.
std::string PopString();
// The string `depth` places below the top (0: the top), or empty.
std::string PeekString(size_t depth = 0);
size_t StringStackDepth();
// Pops until the depth is `depth` (no-op when it is already lower).
void TrimStringStack(size_t depth);

}  // namespace pr::files
