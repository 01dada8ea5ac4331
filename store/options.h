// Driver options and SEND requests of the keyed-file driver.
//
//   option          value                         answer
//   DecimalCheck    "OFF" turns checking off,      "OFF" or "ON"
//                   anything else on
//   FULLBUILD       "ON" on, anything else off     "ON" or "OFF"
//   FLAGS           decimal number (open table)    the stored flags, decimal
//   TCF             file name (blanks around it    the current name
//                   dropped)
//                   (process-wide, every later
//                   transaction uses it)
//   PNM             table name (open file)         next table name after it
//   PNMQ            table name; also on a closed   as PNM
//                   table (opens the file read
//                   only, deny none, for the query)
//
// SEND also knows "REGISTER" (answers "TARNWELL") and "IMPORTFILE" (shows
// "File Driver does not support File Import" in a message box titled "File
// Import" unless the table is silent, and fails with FileNotOpen).  Anything else is
// ignored and answers "".
//
// Thread safety: called under the driver's critical section.
#pragma once

#include <string>

#include "store/status.h"

namespace pr::store {

class TableAccess;

// Applies one option text to `table` (which may be closed).  Returns the
// option's answer; a text that is no option answers "".
std::string ApplyOption(TableAccess* table, const std::string& text);

// SEND: an option or one of the requests above.  *error receives Ok or the
// request's error.
std::string SendRequest(TableAccess* table, const std::string& text, Status* error, bool silent);

// The message box of IMPORTFILE: (title, text).  Replaceable so programs
// without a window system (and tests) can see what would be shown; the
// default shows an exclamation box through the window layer when one is
// registered, else writes to stderr.
using ImportMessageBox = void (*)(const char* title, const char* text);
void SetImportMessageBox(ImportMessageBox box);

}  // namespace pr::store
