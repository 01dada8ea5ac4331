#include "files/transactions.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "files/dispatch.h"
#include "files/errors.h"
#include "files/runtime_state.h"

namespace pr::files {

// One active multi-file transaction of one thread.
struct TransactionFrame {
  TransactionFrame* previous = nullptr;  // the frame that was active before
  RuntimeState* owner = nullptr;         // the owning thread's state
  int32_t driverIdentity = 0;            // the answer of operation 91 for the first file
  int32_t taken = -1;                    // files taken so far; -1 before the first
  std::vector<FileDescriptor*> files;    // the files taken, in order
};

namespace {

constexpr const char* kReasonTexts[] = {
    "Cannot create Log Record",
    "File logged out on another thread",
    "Internal error: WHO AM I",
    "Could not start transaction",
    "Attempting to LOGOUT files from different file drivers",
    "Cannot obtain a lock on the file",
    "Cannot LOGOUT file",
};

bool HasError() { return ErrorCode() != 0; }

// The per-file steps: STARTRAN/ENDTRAN carry the statement's operation code
// (22 for LOGOUT, 8 for COMMIT, 40 for ROLLBACK) as their one argument.
void Step(int32_t op, FileDescriptor* file, int32_t statement) {
  intptr_t args[kArgumentBlockWords] = {statement};
  ClearError();
  Dispatch(op, file, args, 1);
}

// Ends `frame`: COMMIT (op 8) or ROLLBACK (op 40) of every taken file, last
// taken first, keeping the first error.  Leaves the error state as the
// statement ends.  Does not free the frame.
void Finish(TransactionFrame* frame, int32_t op) {
  bool saved = false;
  auto keepFirstError = [&saved](FileDescriptor* file) {
    if (saved || !HasError()) return;
    if (ErrorFile() == nullptr) SetErrorFile(file);
    SaveErrors();
    saved = true;
  };
  FileDescriptor* first = frame->files.empty() ? nullptr : frame->files.front();
  if (first != nullptr) {
    Step(OP_STARTRAN, first, op);
    keepFirstError(first);
  }
  for (auto it = frame->files.rbegin(); it != frame->files.rend(); ++it) {
    FileDescriptor* file = *it;
    TransactionRecord* record = file->transaction;
    uint32_t flags = record != nullptr ? record->flags.load() : 0;
    if ((flags & TXN_CLEAN) == 0) {
      ClearError();
      Dispatch(op, file);
      keepFirstError(file);
    }
    if ((flags & TXN_LOCKED) != 0) {
      ClearError();
      Dispatch(OP_UNLOCK, file);
      keepFirstError(file);
    }
    if (record != nullptr) {
      record->flags.fetch_and(~uint32_t{TXN_LOCKED | TXN_CLEAN});
      record->frame.store(nullptr);
      // A file closed while logged out kept its record for this step.
      if ((file->flags & FD_OPEN) == 0) ReleaseTransactionRecord(file);
    }
  }
  if (first != nullptr) {
    Step(OP_ENDTRAN, first, op);
    keepFirstError(first);
  }
  if (saved) {
    RestoreErrors();
  } else {
    ClearError();
  }
}

void EndTransaction(int32_t op) {
  ClearError();
  RuntimeState* state = CurrentRuntimeState();
  if (state == nullptr || state->transaction == nullptr) {
    SetErrorCode(err::LogoutNotActive);
    return;
  }
  std::unique_ptr<TransactionFrame> frame(state->transaction);
  state->transaction = frame->previous;
  Finish(frame.get(), op);
}

struct LogoutFailure {
  int32_t reason = 0;    // 0: none
  int32_t code = 0;      // FileNotOpen or UnableToLogTransaction
  FileDescriptor* file = nullptr;
  bool driverSaid90 = false;
  std::string driverCode;  // the driver's own texts for a failure with 90
  std::string driverText;
};

// Takes one file into `frame` (LOGOUT step 3).  Returns false on failure.
bool TakeFile(TransactionFrame* frame, FileDescriptor* file, uint16_t sequence, int32_t seconds,
              bool& startSent, FileDescriptor*& startFile, LogoutFailure& failure) {
  auto fail = [&](int32_t reason) {
    failure.reason = reason;
    failure.code = err::UnableToLogTransaction;
    failure.file = file;
    failure.driverSaid90 = ErrorCode() == err::FileSystemError;
    if (failure.driverSaid90) {
      failure.driverCode = FileErrorCode();
      failure.driverText = FileError();
    }
    return false;
  };
  if (file == nullptr || (file->flags & FD_OPEN) == 0) {
    failure.code = err::FileNotOpen;
    failure.file = file;
    return false;
  }
  TransactionRecord* record = file->transaction;
  if (record == nullptr) return fail(LOGOUT_NO_RECORD);
  TransactionFrame* holder = record->frame.load();
  if (holder == frame) return true;  // listed twice: taken already
  if (holder != nullptr) return fail(LOGOUT_OTHER_THREAD);

  ClearError();
  int32_t identity = Dispatch(OP_Internal91, file);
  if (HasError()) return fail(LOGOUT_WHO_AM_I);

  if (!startSent) {
    Step(OP_STARTRAN, file, OP_LOGOUT);
    startSent = true;
    startFile = file;
    if (HasError()) return fail(LOGOUT_CANNOT_START);
    frame->driverIdentity = identity;
  } else if (identity != frame->driverIdentity) {
    return fail(LOGOUT_MIXED_DRIVERS);
  }

  // Claim the record before the driver is told, so that no other thread can
  // take the file in between.
  TransactionFrame* expected = nullptr;
  if (!record->frame.compare_exchange_strong(expected, frame)) return fail(LOGOUT_OTHER_THREAD);

  bool locked = false;
  if ((record->flags.load() & TXN_WANTS_LOCK) != 0) {
    intptr_t args[kArgumentBlockWords] = {seconds};
    ClearError();
    Dispatch(OP_LOCKfilesec, file, args, 1);
    if (HasError() && ErrorCode() != err::UnsupportedFunction) {
      record->frame.store(nullptr);
      return fail(LOGOUT_NO_LOCK);
    }
    locked = !HasError();
  }

  ClearError();
  Dispatch(OP_LOGOUT, file);
  if (!HasError()) {
    record->sequence = sequence;
    if (locked) record->flags.fetch_or(TXN_LOCKED);
    try {
      frame->files.push_back(file);
    } catch (const std::bad_alloc&) {
      record->frame.store(nullptr);
      SetErrorCode(err::InsufficientMemory);
      return fail(LOGOUT_NO_RECORD);
    }
    frame->taken = static_cast<int32_t>(frame->files.size());
    return true;
  }
  record->frame.store(nullptr);
  if (locked) {
    SaveErrors();
    Dispatch(OP_UNLOCK, file);
    RestoreErrors();
  }
  return fail(LOGOUT_CANNOT_LOGOUT);
}

}  // namespace

std::string LogoutReasonText(int32_t reason) {
  if (reason < 1 || reason > 7) return MessageText(err::UnknownErrorPosted);
  if (const char* text = FindMessageOverride(260000u + static_cast<uint32_t>(reason))) return text;
  return kReasonTexts[reason - 1];
}

void Logout(int32_t seconds, const FileDescriptor* const* files, size_t count) {
  ClearError();
  RuntimeState* state = CurrentRuntimeState();
  if (state == nullptr) {
    SetErrorCode(err::UnableToLogTransaction);
    return;
  }
  if (state->transaction != nullptr) {
    SetErrorCode(err::LogoutAlreadyActive);
    return;
  }

  // The files: the statement's list up to its first null entry, each with its
  // place in the list; with none, the thread's transaction file list.
  std::vector<TransactionFileEntry> list;
  try {
    for (size_t i = 0; files != nullptr && i < count && files[i] != nullptr; ++i) {
      list.push_back({const_cast<FileDescriptor*>(files[i]), static_cast<uint16_t>(i + 1)});
    }
    if (list.empty()) list = state->transactionFiles;
  } catch (const std::bad_alloc&) {
    SetErrorCode(err::UnableToLogTransaction);
    return;
  }
  if (list.empty()) {
    SetErrorCode(err::UnableToLogTransaction);
    return;
  }

  std::unique_ptr<TransactionFrame> frame(new (std::nothrow) TransactionFrame);
  if (!frame) {
    SetErrorCode(err::UnableToLogTransaction);
    return;
  }
  frame->owner = state;

  LogoutFailure failure;
  bool startSent = false;
  FileDescriptor* startFile = nullptr;
  for (const TransactionFileEntry& entry : list) {
    if (!TakeFile(frame.get(), entry.file, entry.sequence, seconds, startSent, startFile, failure)) break;
  }

  if (startSent) {
    FileDescriptor* endFile = frame->files.empty() ? startFile : frame->files.front();
    if (failure.code != 0) SaveErrors();
    Step(OP_ENDTRAN, endFile, OP_LOGOUT);
    if (failure.code != 0) RestoreErrors();
  }

  if (failure.code == 0) {
    frame->previous = state->transaction;
    state->transaction = frame.release();
    ClearError();
    return;
  }

  if (!frame->files.empty()) Finish(frame.get(), OP_ROLLBACK);
  SetErrorCode(failure.code);
  if (failure.code == err::UnableToLogTransaction) {
    if (failure.driverSaid90) {
      SetFileError(failure.driverCode, failure.driverText.c_str());
    } else {
      std::string reason = LogoutReasonText(failure.reason);
      SetFileError(std::to_string(failure.reason), reason.c_str());
    }
  }
  SetErrorFile(failure.file);
}

void Logout(int32_t seconds, std::initializer_list<FileDescriptor*> files) {
  Logout(seconds, files.begin(), files.size());
}

void Commit() { EndTransaction(OP_COMMIT); }

void Rollback() { EndTransaction(OP_ROLLBACK); }

bool TransactionActive() {
  RuntimeState* state = CurrentRuntimeState();
  return state != nullptr && state->transaction != nullptr;
}

void AddTransactionFile(FileDescriptor* file, uint16_t sequence) {
  RuntimeState* state = CurrentRuntimeState();
  if (state == nullptr || file == nullptr) return;
  for (TransactionFileEntry& entry : state->transactionFiles) {
    if (entry.file == file) {
      entry.sequence = sequence;
      return;
    }
  }
  try {
    state->transactionFiles.push_back({file, sequence});
  } catch (const std::bad_alloc&) {
    SetErrorCode(err::InsufficientMemory);
  }
}

void RemoveTransactionFile(FileDescriptor* file) {
  RuntimeState* state = CurrentRuntimeState();
  if (state == nullptr) return;
  auto& list = state->transactionFiles;
  list.erase(std::remove_if(list.begin(), list.end(), [file](const TransactionFileEntry& e) { return e.file == file; }),
             list.end());
}

void AttachTransactionRecord(FileDescriptor* file) {
  if (file != nullptr && file->transaction == nullptr) file->transaction = new (std::nothrow) TransactionRecord;
}

void ReleaseTransactionRecord(FileDescriptor* file) {
  if (file == nullptr || file->transaction == nullptr) return;
  // A record still held by a frame stays until COMMIT or ROLLBACK unlinks it.
  if (file->transaction->frame.load() != nullptr) return;
  delete file->transaction;
  file->transaction = nullptr;
}

}  // namespace pr::files
