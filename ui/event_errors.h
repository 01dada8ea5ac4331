// Raising the window engine's runtime errors (502 to 545).
//
// A raised error sets the calling thread's error state (ERRORCODE() is the
// number, ERROR() its text from the string table, "Internal error 02" for
// 502) and is written to the window system's transcript as "runtime error N:
// text".  The operation that raised the error then fails and returns; nothing
// is thrown and the process goes on.
#pragma once

#include <string>

namespace pr::ui {

// Sets the thread's error state to `code` and writes it to the transcript.
void RaiseRuntimeError(int code);

// The last error raised on the calling thread, 0 when none; for callers that
// test for one after an operation, and for tests.
int LastRuntimeError();
void ClearLastRuntimeError();

}  // namespace pr::ui
