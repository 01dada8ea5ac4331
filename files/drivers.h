// The drivers linked into the module and the registration of their entry
// points.
//
// The keyed-file driver lives in store/, above this layer; to keep files/
// free of a link dependency on it, each driver record's entry point is a
// forwarder of this layer that calls the entry registered for the driver's
// name.  Until one is registered the forwarder answers every operation with
// error 80 "Unsupported File Driver Function" (the DOS and ASCII drivers never
// register one).  Descriptors of compiled code carry the forwarder of their
// driver (DriverRecordFor(...)->entry).
//
// Thread safety: registration is atomic per record and may race with calls;
// a call sees either the old or the new entry.
#pragma once

#include <cstddef>
#include <string_view>

#include "files/descriptors.h"

namespace pr::files {

// The driver record whose name matches `name` without regard to case, or null.
const DriverRecord* DriverRecordFor(std::string_view name);

// Makes `entry` perform the operations of the driver called `name`.  Returns
// false (and changes nothing) when no such driver is linked.  A null entry
// returns the driver to answering 80.
bool RegisterDriverEntry(std::string_view name, DriverEntry entry);

}  // namespace pr::files
