// The dispatcher: every file statement hands its operation here, and the
// dispatcher runs the descriptor's one-shot hook, the file callbacks and the
// driver entry point.
//
// Dispatch of one operation:
//   1. A set one-shot hook is cleared and then called with the descriptor,
//      whatever the operation and whether or not it is later refused.
//   2. Codes 73, 74, 87, 91, 94, 95 and 103 go straight to the driver.
//   3. Otherwise the callback registered for the file is looked up; a view
//      with none registered uses the one of its primary file.
//   4. With no callback the driver entry is called and its result returned.
//   5. With callbacks, a parameter block copies the operation's arguments
//      (strings and the record buffer by value); every callback is told
//      before the operation and may handle it (the driver is then not
//      called) or fail it (error 100 with the callback's own file error code
//      and text, the file as error file); then the driver runs, and every
//      callback is told after it with the outcome.
//
// The dispatcher also keeps the layer's own bookkeeping: FD_OPEN follows
// successful OPENs and CLOSEs, and a file gets its transaction record when it
// is opened (files/transactions.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/descriptors.h"

namespace pr::files {

// The argument blocks that this layer's statements build hold this many
// words, the unused ones 0, so a driver may read the first four words of any
// block it is given by a statement.
inline constexpr size_t kArgumentBlockWords = 4;

// Runs `op` on `file` with the argument block `args` (`argCount` machine
// words; `args` may be null when `argCount` is 0).  Returns the operation's
// result; the outcome is in the calling thread's error state.  A null file
// gives error 37, a descriptor without a driver entry error 80.
int32_t Dispatch(int32_t op, FileDescriptor* file, intptr_t* args = nullptr, size_t argCount = 0);

// The key `file` was last positioned on (SET or RESET) by a statement of the
// calling thread, null for record order; false when it was not positioned
// since it was opened.  The view engine starts a freshly opened view there
// when that is the view's own walk.
bool LastSequence(const FileDescriptor* file, const KeyDescriptor** key);

// ------------------------------------------------------------ file callbacks
// The parameter block handed to callbacks.  It owns copies of everything, so
// a callback may keep it past the call.
struct FileCallbackParams {
  int32_t op = 0;
  FileDescriptor* file = nullptr;
  std::vector<intptr_t> args;        // the argument block
  std::vector<std::string> strings;  // string arguments from the string stack, in push order
  std::vector<uint8_t> record;       // the record buffer before the operation
  // Filled before the After notification:
  bool handledByCallback = false;    // a callback handled it; the driver was not called
  int32_t result = 0;
  int32_t errorCode = 0;             // the outcome's error code
};

enum class CallbackVerdict {
  kContinue,  // let the operation go on
  kHandled,   // the callback did the work: skip the driver
  kFailed,    // refuse the operation: error 100 with failCode / failText
};

// Thread safety: callbacks are called on the thread that runs the operation;
// a callback registered for a shared file must cope with concurrent calls.
class FileCallback {
 public:
  virtual ~FileCallback() = default;
  // Before the operation.  On kHandled, `result` becomes the statement's
  // value.  On kFailed, `failCode` and `failText` become the file error code
  // text and file error text.
  virtual CallbackVerdict Before(FileCallbackParams& params, int32_t& result, std::string& failCode,
                                 std::string& failText) = 0;
  // After the operation (also after one that a callback handled or failed).
  // Returning kFailed sets error 100 as above; other verdicts change nothing.
  virtual CallbackVerdict After(FileCallbackParams& params, std::string& failCode, std::string& failText) = 0;
};

// Registers `callback` for `file` (replacing one already registered); null
// removes the registration.  The registry does not own callbacks; the caller
// removes one before destroying it.  Guarded by the registry's lock.
void RegisterFileCallback(FileDescriptor* file, FileCallback* callback);

// The callback registered for `file`, or null.
FileCallback* FindFileCallback(FileDescriptor* file);

}  // namespace pr::files
