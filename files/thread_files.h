// Files declared THREAD: one instance of the descriptor, its keys and its
// record buffer per thread, made from the compiled template on the thread's
// first use and discarded at thread end, after the driver has been told with
// DESTROY (104).
//
// The template's static parts (declaration block, fields, memos, driver) are
// shared by all instances; the instance's keys point back at the instance.
// Everything here is per thread and needs no lock.
#pragma once

#include <cstdint>

#include "files/descriptors.h"

namespace pr::files {

// The compiled form of a THREAD file: a descriptor, its keys and the initial
// image of its record buffer (null: zero bytes).  The template's own record
// buffer and keys' file pointers are not used.
struct ThreadFileTemplate {
  const FileDescriptor* descriptor;
  const KeyDescriptor* keys;  // descriptor->declaration.keyCount entries
  const uint8_t* initialRecord;
};

// The calling thread's instance, made on first use; null when it cannot be
// made (no memory, or the thread is ending).
FileDescriptor* ThreadInstance(const ThreadFileTemplate& file);

// Sends DESTROY to every instance of the calling thread and frees them (the
// thread-end step; also run automatically when the thread ends).  A later
// ThreadInstance in the same thread makes a fresh instance.
void ReleaseThreadFiles();

}  // namespace pr::files
