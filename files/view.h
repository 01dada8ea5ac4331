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
// match the view's order ("+PAR:ID" walks PAR:IdKey with the driver's own
// SET, NEXT and PREVIOUS, so a page costs only the records it reads).  An
// order that no key serves is walked by reading the file in sequence once
// and sorting the record pointers (cost: one pass over the file per rebuild).
// Filters and join expressions need the expression evaluator, which this
// module does not carry: an empty filter passes every record, any other
// filter text is refused when it is set, and a join by expression is refused
// when the view is opened (error 80 with an explaining file error text).
//
// View states live in one list guarded by a lock, keyed by descriptor; a
// THREAD view has a descriptor (and so a state) per thread.
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
  std::string_view expression;          // expression join (needs the expression evaluator)
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

// Whether `view` has a state (was opened and not closed since).
bool ViewHasState(const FileDescriptor* view);

}  // namespace pr::files
