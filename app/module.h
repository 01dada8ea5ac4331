// The module's per-thread data block and the module's life in a process.
//
// Every thread that runs a procedure of the module has its own block.  The
// block starts zeroed when the thread is made (so the three exported request
// variables read 0 in a new thread); the rest of the thread-start steps (the
// bindings to the thread's instance of Partneri) run on the thread's first
// CurrentThreadBlock().  They never touch the request variables: a host may
// set $GlobalRequest before its first call into the module.
//
// The exported variables $GlobalRequest, $GlobalResponse and $VCRRequest are
// the block's members of those names: a host that looks them up (GetProcAddress
// from a thread) gets that thread's members.
//
// Thread end (the thread-exit handler, or process detach for the thread that
// unloads the module): OnThreadEnd() for the browse's view, then the thread's
// file instances are released through the file layer.
#pragma once

#include <cstdint>

#include "app/partner_file.h"
#include "files/descriptors.h"

namespace pr::app {

// Requests in $GlobalRequest and responses in $GlobalResponse.
enum RequestCode : int32_t {
  kInsertRequest = 1,
  kChangeRequest = 2,
  kDeleteRequest = 3,
  kSelectRequest = 4,
  kViewRequest = 6,
};
enum ResponseCode : int32_t {
  kNoResponse = 0,
  kCompletedResponse = 1,
  kCancelledResponse = 2,
};

// The members in this order; the layout is fixed because three members are
// exported by name (static_asserts in module.cpp).
struct ThreadBlock {
  files::KeyDescriptor* idKey;       // 1. PAR:IdKey of this thread's Partneri
  files::FileDescriptor* partneri;   // 2. this thread's Partneri
  int32_t globalRequest;             // 3. $GlobalRequest
  int32_t globalResponse;            //    $GlobalResponse
  int32_t vcrRequest;                //    $VCRRequest
  PartnerRecord* record;             // 4. this thread's record buffer
  int32_t openCount;                 // 5. procedures holding Partneri open
  bool browseViewSetUp;              // 6. the browse's view is set up in this thread
  bool browseViewGuard;              //    the once-per-thread guard that sets it up
  files::FileDescriptor browseView;  // 7. the browse's view descriptor
  char positionText[512];            // 8. position text of the guarded update
  // Kept by module.cpp: the thread-start steps ran / the thread-end steps ran.
  bool started;
  bool ended;
};

// The calling thread's block, with the thread-start steps run on first use.
// Never null.  idKey, partneri and record are null when the thread's file
// instance cannot be made (no memory, or the thread is ending).
ThreadBlock& CurrentThreadBlock();

// Runs the thread-end steps for the calling thread now (the thread-exit
// handler calls it; calling it again does nothing until the thread starts
// the block anew).
void EndThread();

// HOOK for the browse window's owner: called at thread end before the file
// instances are released; closes the browse's view when block.browseViewSetUp
// is set.  module.cpp holds a weak default that does nothing; the browse
// provides the real one.
void OnThreadEnd(ThreadBlock& block);

}  // namespace pr::app
