#include "files/dispatch.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <new>
#include <unordered_map>

#include "files/errors.h"
#include "files/string_stack.h"
#include "files/transactions.h"

namespace pr::files {
namespace {

// ---------------------------------------------------------------- registry
// The file callback registry: a table keyed by descriptor with a one-entry
// cache of the last lookup (statements tend to hit one file many times).
struct CallbackRegistry {
  std::mutex lock;
  std::unordered_map<const FileDescriptor*, FileCallback*> table;
  const FileDescriptor* cachedFile = nullptr;
  FileCallback* cachedCallback = nullptr;
};

// How many files have a callback, read without the registry's lock: a
// statement on a file without one (the usual case) learns so by one load.
// Constant-initialised, so it needs no first-use check either.
std::atomic<size_t> g_callbackCount{0};

CallbackRegistry& Registry() {
  static CallbackRegistry* registry = new CallbackRegistry;  // lives to process end
  return *registry;
}

bool GoesStraightToDriver(int32_t op) {
  switch (op) {
    case OP_QUERY_KEY:
    case OP_QUERY_VIEW:
    case OP_Internal87:
    case OP_Internal91:
    case OP_Internal94:
    case OP_COUNTRECORDS:
    case OP_SQLCALLBACK:
      return true;
    default:
      return false;
  }
}

// How many strings of the string stack an operation takes as arguments.
size_t StringArgumentCount(int32_t op) {
  switch (op) {
    case OP_RESETfile:
    case OP_RESETkey:
    case OP_REGETfile:
    case OP_REGETkey:
    case OP_SEND:
    case OP_GET_PROPERTY:
    case OP_BLOB_SET_PROP:
    case OP_RENAME:
    case OP_COPY:
      return 1;
    case OP_SET_PROPERTY:
      return 2;
    default:
      return 0;
  }
}

int32_t CallDriver(int32_t op, FileDescriptor* file, intptr_t* args) {
  if (file->entry == nullptr) {
    ClearError();
    SetErrorCode(err::UnsupportedFunction);
    return 0;
  }
  return file->entry(op, file, args);
}

// The key (null: record order) each file was last positioned on by this
// thread's statements.  A view opened over the file goes on from there only
// when that is the view's own walk.
struct Sequences;
thread_local Sequences* t_sequences = nullptr;
thread_local bool t_sequencesGone = false;  // the thread is ending: no more notes
struct Sequences {
  std::unordered_map<const FileDescriptor*, const KeyDescriptor*> map;
  ~Sequences() {
    t_sequences = nullptr;
    t_sequencesGone = true;
  }
};

void NoteSequence(int32_t op, const FileDescriptor* file, const intptr_t* args) {
  const KeyDescriptor* key = nullptr;
  switch (op) {
    case OP_SETkey:
    case OP_SETkeykey:
    case OP_SETkeyptr:
    case OP_SETkeykeyptr:
    case OP_RESETkey:
      if (args == nullptr) return;
      key = reinterpret_cast<const KeyDescriptor*>(args[0]);
      break;
    case OP_SETfile:
    case OP_SETfilekey:
    case OP_SETfileptr:
    case OP_RESETfile:
      break;
    case OP_OPEN:
    case OP_CLOSE:
    case OP_DESTROY:
      if (t_sequences != nullptr) t_sequences->map.erase(file);
      return;
    default:
      return;
  }
  if (file->kind != KIND_FILE || ErrorCode() != 0 || t_sequencesGone) return;
  try {
    static thread_local Sequences sequences;
    t_sequences = &sequences;
    sequences.map[file] = key;
  } catch (const std::bad_alloc&) {
  }
}

// The layer's own bookkeeping after an operation reached the driver.
// The operations AfterDriver has anything to do for: those that set or
// reset a sequence, OPEN, CLOSE and DESTROY.  Reads and changes pass by one
// look.
constexpr bool ConcernsAfterDriver(int32_t op) {
  switch (op) {
    case OP_SETkey: case OP_SETkeykey: case OP_SETkeyptr: case OP_SETkeykeyptr: case OP_RESETkey:
    case OP_SETfile: case OP_SETfilekey: case OP_SETfileptr: case OP_RESETfile:
    case OP_OPEN: case OP_CLOSE: case OP_DESTROY:
      return true;
    default:
      return false;
  }
}

constexpr int32_t kOperationCount = OP_DESTROY + 1;
constexpr std::array<bool, kOperationCount> kConcernsAfterDriver = [] {
  std::array<bool, kOperationCount> concerns{};
  for (int32_t op = 0; op < kOperationCount; ++op) concerns[static_cast<size_t>(op)] = ConcernsAfterDriver(op);
  return concerns;
}();

bool NeedsAfterDriver(int32_t op) {
  return !(op >= 0 && op < kOperationCount && !kConcernsAfterDriver[static_cast<size_t>(op)]);
}

void AfterDriver(int32_t op, FileDescriptor* file, const intptr_t* args) {
  if (!NeedsAfterDriver(op)) return;
  NoteSequence(op, file, args);
  switch (op) {
    case OP_OPEN:
      if (ErrorCode() == 0) {
        file->flags |= FD_OPEN;
        AttachTransactionRecord(file);
      }
      break;
    case OP_CLOSE:
    case OP_DESTROY:
      file->flags &= ~uint32_t{FD_OPEN};
      ReleaseTransactionRecord(file);
      break;
    default:
      break;
  }
}

void FailByCallback(FileDescriptor* file, const std::string& code, const std::string& text) {
  SetErrorCode(err::CallbackFailed);
  SetFileError(code, text.empty() ? nullptr : text.c_str());
  SetErrorFile(file);
}

}  // namespace

void RegisterFileCallback(FileDescriptor* file, FileCallback* callback) {
  CallbackRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  if (callback == nullptr) {
    registry.table.erase(file);
  } else {
    registry.table[file] = callback;
  }
  registry.cachedFile = nullptr;
  registry.cachedCallback = nullptr;
  g_callbackCount.store(registry.table.size(), std::memory_order_release);
}

bool LastSequence(const FileDescriptor* file, const KeyDescriptor** key) {
  if (t_sequences == nullptr) return false;
  auto it = t_sequences->map.find(file);
  if (it == t_sequences->map.end()) return false;
  *key = it->second;
  return true;
}

FileCallback* FindFileCallback(FileDescriptor* file) {
  if (g_callbackCount.load(std::memory_order_acquire) == 0) return nullptr;
  CallbackRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  if (registry.cachedFile == file) return registry.cachedCallback;
  FileCallback* found = nullptr;
  if (!registry.table.empty()) {
    auto it = registry.table.find(file);
    if (it != registry.table.end()) found = it->second;
  }
  registry.cachedFile = file;
  registry.cachedCallback = found;
  return found;
}

int32_t Dispatch(int32_t op, FileDescriptor* file, intptr_t* args, size_t argCount) {
  if (file == nullptr) {
    ClearError();
    SetErrorCode(err::FileNotOpen);
    return 0;
  }
  // 1. The one-shot hook: cleared first, so it runs exactly once even if the
  //    hook itself or the operation fails.
  if (OneShotHook hook = file->hook) {
    file->hook = nullptr;
    hook(file);
  }
  if (argCount > 0 && args == nullptr) argCount = 0;

  // 2. Queries go straight to the driver.
  if (GoesStraightToDriver(op)) return CallDriver(op, file, args);

  // 3. Callbacks: the file's own, and for a view its primary file's.
  const bool anyCallback = g_callbackCount.load(std::memory_order_acquire) != 0;
  FileCallback* callbacks[2] = {anyCallback ? FindFileCallback(file) : nullptr, nullptr};
  if (anyCallback && file->kind == KIND_VIEW && file->primary != nullptr && file->primary != file) {
    FileCallback* primary = FindFileCallback(file->primary);
    if (callbacks[0] == nullptr) {
      callbacks[0] = primary;
    } else if (primary != callbacks[0]) {
      callbacks[1] = primary;
    }
  }

  // 4. No callback: the driver alone.
  if (callbacks[0] == nullptr) {
    int32_t result = CallDriver(op, file, args);
    if (NeedsAfterDriver(op)) AfterDriver(op, file, args);
    return result;
  }

  // 5. With callbacks.
  FileCallbackParams params;
  try {
    params.op = op;
    params.file = file;
    params.args.assign(args, args + argCount);
    size_t strings = std::min(StringArgumentCount(op), StringStackDepth());
    for (size_t i = strings; i > 0; --i) params.strings.push_back(PeekString(i - 1));
    if (file->record != nullptr) params.record.assign(file->record, file->record + file->recordLength);
  } catch (const std::bad_alloc&) {
    SetErrorCode(err::InsufficientMemory);
    return 0;
  }

  std::string failCode;
  std::string failText;
  int32_t result = 0;
  bool handled = false;
  bool failed = false;
  for (FileCallback* callback : callbacks) {
    if (callback == nullptr) continue;
    CallbackVerdict verdict = callback->Before(params, result, failCode, failText);
    if (verdict == CallbackVerdict::kHandled) {
      handled = true;
      break;
    }
    if (verdict == CallbackVerdict::kFailed) {
      failed = true;
      break;
    }
  }

  if (failed) {
    FailByCallback(file, failCode, failText);
  } else if (handled) {
    ClearError();
  } else {
    result = CallDriver(op, file, args);
    AfterDriver(op, file, args);
  }

  params.handledByCallback = handled;
  params.result = result;
  params.errorCode = ErrorCode();
  for (FileCallback* callback : callbacks) {
    if (callback == nullptr) continue;
    std::string code;
    std::string text;
    if (callback->After(params, code, text) == CallbackVerdict::kFailed) FailByCallback(file, code, text);
  }
  return result;
}

}  // namespace pr::files
