// The file layer's per-thread runtime state: the error state, the runtime
// string stack, the active transaction frame and the thread's transaction
// file list.  Created on first use in a thread, released at thread end.
// Nothing here is shared between threads, so nothing needs a lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/kernel.h"

namespace pr::files {

struct FileDescriptor;
struct TransactionFrame;

struct ErrorState {
  struct Snapshot {
    DWORD osError;
    int32_t code;
    FileDescriptor* file;
    std::string text;
    std::string fileErrorText;
    std::string fileErrorCode;
  };
  DWORD savedOsError = 0;         // the OS last-error value at the last set or save
  int32_t code = 0;               // 0 after success
  FileDescriptor* file = nullptr;  // the file that caused the error
  std::string text;               // error text (at most 255 characters)
  std::string fileErrorText;      // driver's message (at most 255)
  std::string fileErrorCode;      // driver's code as text (at most 80)
  std::vector<Snapshot> saved;    // SaveErrors / RestoreErrors
};

// A file that drivers put on the thread's transaction file list, with the
// sequence value LOGOUT records for it.
struct TransactionFileEntry {
  FileDescriptor* file;
  uint16_t sequence;
};

struct RuntimeState {
  ErrorState errors;
  std::vector<std::string> strings;     // the runtime string stack, top at back
  TransactionFrame* transaction = nullptr;  // the active frame, or null
  std::vector<TransactionFileEntry> transactionFiles;
};

// The calling thread's state, created on first use; null when it cannot be
// had (no memory, or the thread is ending).
RuntimeState* CurrentRuntimeState();
ErrorState* CurrentErrorState();

}  // namespace pr::files
