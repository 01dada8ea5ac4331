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

// Sends DESTROY to every view whose state the calling thread made and that
// still has it, then to every instance of the calling thread, and frees the
// instances (the thread-end step; also run automatically when the thread
// ends).  A later ThreadInstance in the same thread makes a fresh instance.
void ReleaseThreadFiles();

// Views with engine state made by the calling thread (the view engine keeps
// this list; a view whose state is gone is passed over at thread end).
void RegisterThreadView(FileDescriptor* view);
void UnregisterThreadView(const FileDescriptor* view);

}  // namespace pr::files
