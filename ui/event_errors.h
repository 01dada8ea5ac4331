// Raising the window engine's runtime errors (502 to 545).
//
// A raised error sets the calling thread's error state (ERRORCODE() is the
// number, ERROR() its text from the string table, "Internal error 02" for
// 502) and is handed to the runtime-error reporter, which the application
// layer may replace to show a stop box.  The operation that raised the error
// then fails and returns; nothing is thrown and the process goes on.
#pragma once

#include <string>

namespace pr::ui {

// Receives each raised error with its text (Windows-1250).  Runs on the
// raising thread.
using RuntimeErrorReporter = void (*)(int code, const std::string& text);

// Sets the thread's error state to `code` and reports it.
void RaiseRuntimeError(int code);

// Replaces the reporter (null restores the default, which writes
// "runtime error N: text" to the window system's transcript).  Process-wide.
void SetRuntimeErrorReporter(RuntimeErrorReporter reporter);

// The last error raised on the calling thread, 0 when none; for callers that
// test for one after an operation, and for tests.
int LastRuntimeError();
void ClearLastRuntimeError();

}  // namespace pr::ui
