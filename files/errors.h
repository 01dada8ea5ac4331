// The per-thread error state, the error functions of compiled code, the
// message texts of error numbers and the message override list.
//
// Every statement overwrites its thread's error state: error code 0 after
// success, otherwise the code with its error text, and where the driver has
// them its own code text (file error code) and message (file error).  The
// state is created on first use in a thread and lives as long as the thread;
// it is never shared between threads, so none of the per-thread functions
// needs a lock.
//
// Error numbers: 2..97 file errors, 300 + the OS error number, 401..412
// runtime faults, 100 a failure reported by a file callback.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "files/error_codes.h"
#include "values/message_overrides.h"

namespace pr::files {

struct FileDescriptor;

// Widths of the texts, as compiled code sees them.
inline constexpr size_t kErrorTextMax = 255;      // error text and file error text
inline constexpr size_t kFileErrorCodeMax = 80;   // file error code text

// ------------------------------------------------------------ setting
// Clear: code 0, no error file, all three texts blank.
void ClearError();

// Saves the OS last-error value (GetLastError); a code of 0 becomes 300 plus
// that value.  Stores the code, clears the error file and sets the error text
// to MessageText(code).  The file error texts are left as they are.
void SetErrorCode(int32_t code);

// Stores `codeText` (leading spaces skipped, at most 80 characters) as the
// file error code text and `message` (leading spaces skipped, at most 255
// characters) as the file error text; with no message (null), the message of
// code 90 followed by " : " and the code text.
void SetFileError(std::string_view codeText, const char* message);

// The file that caused the error (may be null).
void SetErrorFile(FileDescriptor* file);

// Adds `text` after the last non-blank character of the error text, cut at
// 255 characters.
void AppendErrorText(std::string_view text);

// Pushes a copy of the whole state (and the OS last-error value) on the
// thread's save stack; RestoreErrors pops it back and restores the OS value.
// Nesting has no limit.  RestoreErrors with an empty stack does nothing.
void SaveErrors();
void RestoreErrors();

// ------------------------------------------------------------ reading
// The error code; 99 when the thread's state cannot be had.
int32_t ErrorCode();
// The texts, trailing spaces removed.
std::string Error();
std::string FileErrorCode();
std::string FileError();
// The file that caused the last error, or null.
FileDescriptor* ErrorFile();

// ------------------------------------------------------------ message texts
// The text of message `number`: an override first, then the module's string
// table (LoadStringA on the module that holds this code; the table itself
// when that module has registered none), else the text of 81 followed by " : " and the number in decimal.
// Number 0 is looked up as 81.  At most 255 characters.
std::string MessageText(int32_t number);

// ------------------------------------------------------------ overrides
// Numbered texts from the environment file that replace built-in messages
// and captions.  The list lives with the environment file's reader, below
// this layer (values/message_overrides.h); MessageText consults it first.
using values::AddMessageOverride;
using values::ClearMessageOverrides;
using values::FindMessageOverride;

}  // namespace pr::files
