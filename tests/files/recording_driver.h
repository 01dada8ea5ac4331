// A small in-memory driver for the file layer's tests: it records every
// operation it receives and answers as it is told.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "files/descriptors.h"
#include "files/dispatch.h"
#include "files/errors.h"
#include "files/string_stack.h"

namespace pr::files::testing {

struct Call {
  int32_t op;
  FileDescriptor* file;
  std::vector<intptr_t> args;  // the first four words of the block
};

// One driver instance is bound to the descriptors made by MakeFile; the entry
// point finds it through the descriptor's driverState.
class RecordingDriver {
 public:
  std::vector<Call> calls;
  std::map<int32_t, int32_t> failWith;  // op -> error code
  std::map<int32_t, int32_t> results;   // op -> result
  std::map<int32_t, std::string> stringResults;  // op -> string pushed after success
  size_t stringArgs = 0;                // strings popped by every operation
  std::vector<std::string> poppedStrings;

  static int32_t Entry(int32_t op, FileDescriptor* file, intptr_t* args) {
    auto* self = static_cast<RecordingDriver*>(file->driverState);
    Call call{op, file, {}};
    // Blocks built by the statements hold kArgumentBlockWords words.
    if (args != nullptr) call.args.assign(args, args + kArgumentBlockWords);
    self->calls.push_back(call);
    for (size_t i = 0; i < self->stringArgs; ++i) self->poppedStrings.push_back(PopString());
    auto fail = self->failWith.find(op);
    if (fail != self->failWith.end()) {
      SetErrorCode(fail->second);
      return 0;
    }
    ClearError();
    auto text = self->stringResults.find(op);
    if (text != self->stringResults.end()) PushString(text->second);
    auto result = self->results.find(op);
    return result != self->results.end() ? result->second : 0;
  }

  // The operations received, in order.
  std::vector<int32_t> Ops() const {
    std::vector<int32_t> ops;
    for (const Call& call : calls) ops.push_back(call.op);
    return ops;
  }
  // The operations `file` received, in order.
  std::vector<int32_t> OpsOf(const FileDescriptor* file) const {
    std::vector<int32_t> ops;
    for (const Call& call : calls) {
      if (call.file == file) ops.push_back(call.op);
    }
    return ops;
  }
};

inline FileDescriptor MakeFile(RecordingDriver& driver, std::string_view label = "TESTFILE") {
  FileDescriptor file;
  file.kind = KIND_FILE;
  file.entry = &RecordingDriver::Entry;
  file.driverState = &driver;
  file.label = label;
  return file;
}

}  // namespace pr::files::testing
