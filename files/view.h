// Views: a read cursor over a primary file, optionally joined to further
// files, with a filter and an order.  To compiled code a view is a file: its
// descriptor has kind tag 32 and the file statements reach it through the
// dispatcher.
//
// Binding.  A view descriptor starts with the binding entry point.  On each
// operation the binding entry asks the primary file's driver for a view
// engine (QUERY_VIEW); a driver that offers one takes the view over for good
// (until CLOSE), otherwise the generic engine below runs the operation and
// the binding stays, so the next operation asks again.  CLOSE puts the
// binding entry back.
//
// The generic engine walks the primary file through the key whose components
// are the order's components when they are plain fields of the primary file
// ("+PAR:ID" walks PAR:IdKey with the driver's own SET, NEXT and PREVIOUS, so
// a page costs only the records it reads; a changed file is seen as the
// driver sees it).  Without an order it walks the file in record order.  Any
// other order (expressions, fields of joined files, fields no key leads with)
// is walked through a sorted index of every record's sort key, built once by
// reading the file in sequence and kept true while the file changes: records
// added since are read into it (from above the highest record pointer seen),
// a record found deleted leaves it, and a record whose key changed moves to
// its new place.  A page then costs a binary search per record read.
//
// Filters, order components and join conditions are expressions
// (files/expr.h), compiled when they are set (a text that does not compile
// is refused then, error 80 with the evaluator's number and message as file
// error code and text) and evaluated on the record buffers as the walk reads.
// Records that fail the filter are passed over.  A join by key reads the
// joined file through its key; a join by expression reads the joined file in
// sequence up to the first record the condition holds for.
//
// PROJECT lists: after a fetch only the projected bytes of each buffer
// change; a PUT through the view writes the record whole, with the bytes
// outside the list as they were read.
//
// Position strings: the key's or file's own for key and record-order walks;
// "S" and the sort key's bytes for sorted walks, so a RESET finds the place
// even after the record itself has gone.  An order has at most 32 components.
//
// View states live in one list guarded by a lock, keyed by descriptor; a
// THREAD view has a descriptor (and so a state) per thread.  CLOSE releases
// the walk but keeps the filter and order texts; DESTROY releases the state
// whole.  As with files, a descriptor that has state must get DESTROY before
// it goes away; the thread that made a state sends DESTROY to its views at
// its end (files/thread_files.h).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "files/descriptors.h"

namespace pr::files {

// Property numbers of a view.
enum ViewProperty : int32_t {
  PROP_VIEW_FILTER = 0x7CB8,
  PROP_VIEW_ORDER = 0x7CE6,
  PROP_VIEW_WANTED = 0x7355,  // a stored number the browse uses for its page fill
};

// A JOIN of the view's structure.
struct ViewJoin {
  FileDescriptor* file = nullptr;       // the joined file
  KeyDescriptor* key = nullptr;         // key join: the joined file's key ...
  std::vector<uint32_t> parentFields;   // ... compared with these fields of the parent (numbers from 1)
  std::string_view expression;          // expression join: the condition, over the view's files
  bool inner = false;                   // only parents with a match
  std::vector<uint32_t> project;        // PROJECT fields; empty = all
  std::vector<ViewJoin> joins;          // nested joins under this file
};

// The view's structure, from its declaration.
struct ViewStructure {
  FileDescriptor* primary = nullptr;
  std::vector<uint32_t> project;  // PROJECT fields of the primary file; empty = all
  std::vector<ViewJoin> joins;
};

// Makes `view` a view descriptor over `structure` (kind 32, binding entry,
// label).  The structure must outlive the descriptor.
void InitViewDescriptor(FileDescriptor* view, const ViewStructure* structure, std::string_view label);

// The binding entry point and the generic engine's entry point.
int32_t ViewBindingEntry(int32_t op, FileDescriptor* view, intptr_t* args);
int32_t GenericViewEntry(int32_t op, FileDescriptor* view, intptr_t* args);

// Whether `view` has a state (was opened, or had properties set, and was not
// closed since).
bool ViewHasState(const FileDescriptor* view);

// Whether `view`'s state was made by the calling thread (the thread-end step
// sends DESTROY to those).
bool ViewStateOwnedByThisThread(const FileDescriptor* view);

}  // namespace pr::files
