// The TARNWELL driver entry point: every file statement on a keyed file ends
// here (files/dispatch.h calls it through the driver record).
//
// Each call runs under one process-wide critical section (skipped for a
// descriptor marked FD_SKIP_DRIVER_LOCK), clears the thread's error state and
// leaves 0 or the operation's error code there, with the descriptor as error
// file.  Reading operations run in the file's read state (a deny-none file
// holds its reader slot only while the operation reads); changing operations
// take the update lock and write their update before the call returns, unless
// the file is in a transaction or delayed writing defers it.
//
// Arguments (machine words): a statement on a key passes the KeyDescriptor*
// first; pointers are record numbers; seconds and modes are numbers.  String
// arguments (RESET, REGET, SEND, properties) are popped from the thread's
// string stack; string results (POSITION, NAME, SEND, property reads) are
// pushed there.  Operations the driver does not know answer error 80.
//
// Properties (GET_PROPERTY / SET_PROPERTY; the property name is the string
// pushed first): "DelayWrite" ("1" defers writing updates until 40 pages are
// dirty or 5000 operations were deferred), "SkipWrite" ("1" defers them until
// the flag is cleared or the file closed), "Silent" ("1": the table is used
// for silent operation; SEND "IMPORTFILE" then shows no box).  Others answer
// "".
#pragma once

#include <cstdint>

#include "files/descriptors.h"

namespace pr::store {

int32_t TarnwellEntry(int32_t op, files::FileDescriptor* file, intptr_t* args);

// Makes TarnwellEntry the entry of the files layer's "TARNWELL" driver
// record.  Idempotent; called at module start.
void RegisterTarnwellDriver();

// The value the identity query (operation 91) answers.
inline constexpr int32_t kTarnwellIdentity = 0x54574C31;  // "TWL1"

}  // namespace pr::store
