// One fuzz input for the container: the bytes of a whole keyed file.  The
// file is opened, its header refreshed (finishing or discarding a pending
// area), its tree walked both ways and then changed and written.  Any damage
// must end in refresh status 1 or the driver error box (thrown here), never
// in a crash, a hang or an out-of-bounds access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pr::store::testing {

// Runs the input through a file at `path`.  Returns 0 when the file was
// accepted, 1 when the refresh refused it, or the driver error number raised.
int FuzzContainerFile(const std::string& path, const uint8_t* data, size_t size);
// Feeds the input to the page reader directly, as a page of reference 0.
int FuzzPageImage(const uint8_t* data, size_t size);

}  // namespace pr::store::testing
