#include "store/driver.h"

#include <array>
#include <string>

#include "files/drivers.h"
#include "files/errors.h"
#include "files/runtime_state.h"
#include "platform/kernel.h"
#include "store/access.h"
#include "store/fatal_error.h"
#include "store/locks.h"
#include "store/options.h"
#include "store/options_parse.h"
#include "store/status.h"
#include "store/transaction.h"

namespace pr::store {
namespace {

using files::FileDescriptor;

// Short names for the answers this entry gives most.
constexpr Status kFileNotOpen = Status::File(err::FileNotOpen);
constexpr Status kBadKey = Status::File(err::UnableToAccessIndex);
constexpr Status kParameters = Status::File(err::InvalidParameterCount);
constexpr Status kUnsupported = Status::File(err::UnsupportedFunction);
constexpr Status kRecordHeld = Status::File(err::RecordAlreadyHeld);

class SectionGuard {
 public:
  explicit SectionGuard(bool enter) : entered_(enter) {
    if (entered_) EnterDriverSection();
  }
  ~SectionGuard() {
    if (entered_) LeaveDriverSection();
  }

 private:
  bool entered_;
};

TableAccess* StateOf(FileDescriptor* file, bool create) {
  auto* state = static_cast<TableAccess*>(file->driverState);
  if (state == nullptr && create) {
    state = new TableAccess(file);
    file->driverState = state;
  }
  return state;
}

bool PopString(std::string* out) {
  files::RuntimeState* runtime = files::CurrentRuntimeState();
  if (runtime == nullptr || runtime->strings.empty()) return false;
  *out = std::move(runtime->strings.back());
  runtime->strings.pop_back();
  return true;
}

void PushString(std::string text) {
  if (files::RuntimeState* runtime = files::CurrentRuntimeState()) runtime->strings.push_back(std::move(text));
}

// The key named by the first argument, as an index into the file's keys.
bool KeyArgument(FileDescriptor* file, intptr_t* args, TableAccess* access, size_t* index) {
  if (args == nullptr || file->keys == nullptr) return false;
  auto* key = reinterpret_cast<files::KeyDescriptor*>(args[0]);
  if (key < file->keys || key >= file->keys + file->declaration.keyCount) return false;
  *index = static_cast<size_t>(key - file->keys);
  return *index < access->table()->keyCount();
}

bool EqualsProperty(const std::string& a, const char* b) { return EqualsNoCase(a, b); }

uint32_t Argument(intptr_t* args, int i) { return args == nullptr ? 0 : static_cast<uint32_t>(args[i]); }

std::string PropertyValue(TableAccess* access, const std::string& name) {
  if (EqualsProperty(name, "DelayWrite")) return access->delayedWrite() ? "1" : "0";
  if (EqualsProperty(name, "SkipWrite")) return access->skipWrite() ? "1" : "0";
  if (EqualsProperty(name, "Silent")) return access->silent() ? "1" : "0";
  return "";
}


constexpr bool IsChange(int32_t op) {
  switch (op) {
    case files::OP_ADD:
    case files::OP_PUT:
    case files::OP_DELETE:
    case files::OP_BUILDfile:
    case files::OP_BUILDkey:
      return true;
    default:
      return false;
  }
}

// Reads that keep their result in the record buffer (or the answer) alone,
// and change the position only from inputs a repetition finds unchanged, so
// they can be repeated from the start when an unguarded read turns out
// stale; and operations that read no page at all (positions, pointers).
constexpr bool IsRepeatableRead(int32_t op) {
  switch (op) {
    case files::OP_GETfileptr: case files::OP_GETfileptrlen: case files::OP_GETkeyptr:
    case files::OP_GETfilekey: case files::OP_NEXT: case files::OP_PREVIOUS: case files::OP_RECORDSfile:
    case files::OP_RECORDSkey: case files::OP_DUPLICATE: case files::OP_DUPLICATEkey: case files::OP_SETfile:
    case files::OP_SETfilekey: case files::OP_SETfileptr: case files::OP_SETkey: case files::OP_SETkeykey:
    case files::OP_SETkeyptr: case files::OP_SETkeykeyptr: case files::OP_POSITIONfile:
    case files::OP_POSITIONkey: case files::OP_RESETfile: case files::OP_RESETkey: case files::OP_POINTERfile:
    case files::OP_POINTERkey:
      return true;
    default:
      return false;
  }
}

// Operations on an open table that read no page: they run without the
// read state, so no reader slot is ever held across the waits of LOCK.
constexpr bool ReadsNoPage(int32_t op) {
  switch (op) {
    case files::OP_HOLDfile: case files::OP_HOLDfilesec: case files::OP_RELEASE: case files::OP_LOCKfile:
    case files::OP_LOCKfilesec: case files::OP_UNLOCK: case files::OP_WATCH: case files::OP_NOMEMO:
      return true;
    default:
      return false;
  }
}

constexpr bool IsTableOperation(int32_t op) {
  switch (op) {
    case files::OP_ADD: case files::OP_PUT: case files::OP_DELETE: case files::OP_BUILDfile:
    case files::OP_BUILDkey: case files::OP_GETfileptr: case files::OP_GETfileptrlen: case files::OP_GETkeyptr:
    case files::OP_GETfilekey: case files::OP_NEXT: case files::OP_PREVIOUS: case files::OP_SETfile:
    case files::OP_SETfilekey: case files::OP_SETfileptr: case files::OP_SETkey: case files::OP_SETkeykey:
    case files::OP_SETkeyptr: case files::OP_SETkeykeyptr: case files::OP_POSITIONfile: case files::OP_POSITIONkey:
    case files::OP_RESETfile: case files::OP_REGETfile: case files::OP_RESETkey: case files::OP_REGETkey:
    case files::OP_RECORDSfile: case files::OP_RECORDSkey: case files::OP_POINTERfile: case files::OP_POINTERkey:
    case files::OP_DUPLICATE: case files::OP_DUPLICATEkey: case files::OP_HOLDfile: case files::OP_HOLDfilesec:
    case files::OP_RELEASE: case files::OP_LOCKfile: case files::OP_LOCKfilesec: case files::OP_UNLOCK:
    case files::OP_WATCH: case files::OP_NOMEMO: case files::OP_LOGOUT:
      return true;
    default:
      return false;
  }
}

// How the entry runs an operation on an open table; kNone for the others.
enum class TableOpKind : uint8_t { kNone, kNoPage, kChange, kRead, kRepeatableRead };

constexpr TableOpKind KindOf(int32_t op) {
  if (!IsTableOperation(op)) return TableOpKind::kNone;
  if (ReadsNoPage(op)) return TableOpKind::kNoPage;
  if (IsChange(op)) return TableOpKind::kChange;
  return IsRepeatableRead(op) ? TableOpKind::kRepeatableRead : TableOpKind::kRead;
}

// The kinds by operation number, so that a statement is classified by one
// look instead of a run of switches.
constexpr int32_t kOperationCount = files::OP_DESTROY + 1;
constexpr std::array<TableOpKind, kOperationCount> kTableOpKinds = [] {
  std::array<TableOpKind, kOperationCount> kinds{};
  for (int32_t op = 0; op < kOperationCount; ++op) kinds[static_cast<size_t>(op)] = KindOf(op);
  return kinds;
}();

TableOpKind TableKindOf(int32_t op) {
  return op >= 0 && op < kOperationCount ? kTableOpKinds[static_cast<size_t>(op)] : TableOpKind::kNone;
}

// Operations on an open table, inside the operation bracket.
Status TableOperation(int32_t op, FileDescriptor* file, intptr_t* args, TableAccess* access, int32_t* result) {
  size_t key = 0;
  auto needKey = [&]() { return KeyArgument(file, args, access, &key); };
  switch (op) {
    case files::OP_ADD: return access->Add();
    case files::OP_PUT: return access->Put();
    case files::OP_DELETE: return access->Delete();
    case files::OP_BUILDfile: return access->Build(-1);
    case files::OP_BUILDkey:
      if (!needKey()) return kBadKey;
      return access->Build(static_cast<int>(key));
    case files::OP_GETfileptr:
    case files::OP_GETfileptrlen:
      return access->GetByPointer(Argument(args, 0));
    case files::OP_GETkeyptr:
      if (!needKey()) return kBadKey;
      return access->GetByPointer(Argument(args, 1));
    case files::OP_GETfilekey:
      if (!needKey()) return kBadKey;
      return access->GetByKey(key);
    case files::OP_NEXT: return access->Next();
    case files::OP_PREVIOUS: return access->Previous();
    case files::OP_SETfile: access->SetFile(); return Status::Ok();
    case files::OP_SETfilekey:
      if (!needKey()) return kBadKey;
      return access->SetFileKey(key);
    case files::OP_SETfileptr: access->SetFilePointer(Argument(args, 0)); return Status::Ok();
    case files::OP_SETkey:
      if (!needKey()) return kBadKey;
      access->SetKey(key);
      return Status::Ok();
    case files::OP_SETkeykey:
      if (!needKey()) return kBadKey;
      access->SetKeyValue(key);
      return Status::Ok();
    case files::OP_SETkeyptr:
      if (!needKey()) return kBadKey;
      return access->SetKeyPointer(key, Argument(args, 1));
    case files::OP_SETkeykeyptr:
      if (!needKey()) return kBadKey;
      access->SetKeyValuePointer(key, Argument(args, 1));
      return Status::Ok();
    case files::OP_POSITIONfile: PushString(access->PositionFile()); return Status::Ok();
    case files::OP_POSITIONkey:
      if (!needKey()) return kBadKey;
      PushString(access->PositionKey(key));
      return Status::Ok();
    case files::OP_RESETfile:
    case files::OP_REGETfile: {
      std::string position;
      if (!PopString(&position)) return kParameters;
      return op == files::OP_RESETfile ? access->ResetFile(position) : access->RegetFile(position);
    }
    case files::OP_RESETkey:
    case files::OP_REGETkey: {
      std::string position;
      if (!PopString(&position)) return kParameters;
      if (!needKey()) return kBadKey;
      return op == files::OP_RESETkey ? access->ResetKey(key, position) : access->RegetKey(key, position);
    }
    case files::OP_RECORDSfile: *result = static_cast<int32_t>(access->Records()); return Status::Ok();
    case files::OP_RECORDSkey:
      if (!needKey()) return kBadKey;
      *result = static_cast<int32_t>(access->RecordsInKey(key));
      return Status::Ok();
    case files::OP_POINTERfile: *result = static_cast<int32_t>(access->Pointer()); return Status::Ok();
    case files::OP_POINTERkey: *result = static_cast<int32_t>(access->Pointer()); return Status::Ok();
    case files::OP_DUPLICATE: *result = access->DuplicatesAnyUniqueKey() ? 1 : 0; return Status::Ok();
    case files::OP_DUPLICATEkey:
      if (!needKey()) return kBadKey;
      *result = access->Duplicates(key) ? 1 : 0;
      return Status::Ok();
    case files::OP_HOLDfile: access->ArmHold(-1); return Status::Ok();
    case files::OP_HOLDfilesec: access->ArmHold(static_cast<int32_t>(Argument(args, 0))); return Status::Ok();
    case files::OP_RELEASE: access->ReleaseHold(); return Status::Ok();
    case files::OP_LOCKfile: return access->Lock(-1);
    case files::OP_LOCKfilesec: return access->Lock(static_cast<int32_t>(Argument(args, 0)));
    case files::OP_UNLOCK: access->Unlock(); return Status::Ok();
    case files::OP_WATCH: access->ArmWatch(); return Status::Ok();
    case files::OP_NOMEMO: access->ArmNoMemo(); return Status::Ok();
    case files::OP_LOGOUT: return TransactionLogout(access->file());
    default: return kUnsupported;
  }
}

bool OwnTransaction() { return TransactionActive() && TransactionOwnerThread() == GetCurrentThreadId(); }

int32_t PerformOnTable(int32_t op, TableOpKind kind, FileDescriptor* file, intptr_t* args, Status* error);

int32_t Perform(int32_t op, FileDescriptor* file, intptr_t* args, Status* error) {
  *error = Status::Ok();
  // The statements on a table (reads, changes, holds and locks) first: they
  // are the ones a program makes by the thousand.
  if (const TableOpKind kind = TableKindOf(op); kind != TableOpKind::kNone)
    return PerformOnTable(op, kind, file, args, error);
  switch (op) {
    case files::OP_Internal91: return kTarnwellIdentity;
    case files::OP_QUERY_VIEW: return 0;
    case files::OP_STREAM:
    case files::OP_FLUSH: {
      TableAccess* access = StateOf(file, false);
      if (op == files::OP_FLUSH && access != nullptr && access->isOpen()) *error = access->Finish(Status::Ok());
      return 0;
    }
    case files::OP_STARTRAN:
      return 0;
    // A transaction is ended only by the thread that runs it: another
    // thread's COMMIT or ROLLBACK has no transaction of its own to end.
    case files::OP_ENDTRAN:
      if (args != nullptr && args[0] == files::OP_COMMIT && OwnTransaction())
        *error = TransactionCommit();
      else if (args != nullptr && args[0] == files::OP_ROLLBACK && OwnTransaction())
        TransactionRollback();
      return 0;
    case files::OP_COMMIT:
      if (OwnTransaction()) *error = TransactionCommit();
      return 0;
    case files::OP_ROLLBACK:
      if (OwnTransaction()) TransactionRollback();
      return 0;
    case files::OP_DESTROY:
      if (TableAccess* access = StateOf(file, false)) {
        delete access;  // closes the table
        file->driverState = nullptr;
      }
      return 0;
    default: break;
  }

  TableAccess* access = StateOf(file, true);
  switch (op) {
    case files::OP_OPEN: *error = access->Open(Argument(args, 0)); return 0;
    case files::OP_CREATE: *error = access->Create(); return 0;
    case files::OP_CLOSE:
      if (access->isOpen()) *error = access->Close();
      return 0;
    case files::OP_REMOVE: *error = access->Remove(); return 0;
    case files::OP_NAME: {
      std::string name, table;
      if (!access->NameForOpen(&name, &table).ok()) name.clear();
      PushString(access->isOpen() ? access->physicalName() : name);
      return 0;
    }
    case files::OP_SEND: {
      std::string text;
      if (!PopString(&text)) {
        *error = kParameters;
        return 0;
      }
      if (access->isOpen()) *error = access->BeginRead();
      std::string answer;
      if (error->ok()) answer = SendRequest(access, text, error, access->silent());
      if (access->isOpen()) *error = access->Finish(*error);
      PushString(answer);
      return 0;
    }
    case files::OP_GET_PROPERTY: {
      std::string name;
      if (!PopString(&name)) {
        *error = kParameters;
        return 0;
      }
      PushString(PropertyValue(access, name));
      return 0;
    }
    case files::OP_SET_PROPERTY: {
      std::string value, name;
      if (!PopString(&value) || !PopString(&name)) {
        *error = kParameters;
        return 0;
      }
      const bool on = value == "1";
      if (EqualsProperty(name, "DelayWrite")) access->setDelayedWrite(on);
      if (EqualsProperty(name, "SkipWrite")) access->setSkipWrite(on);
      if (EqualsProperty(name, "Silent")) access->setSilent(on);
      if (access->isOpen() && !on) *error = access->Finish(Status::Ok());
      return 0;
    }
    default: break;
  }
  *error = kUnsupported;
  return 0;
}

int32_t PerformOnTable(int32_t op, TableOpKind kind, FileDescriptor* file, intptr_t* args, Status* error) {
  int32_t result = 0;
  TableAccess* access = StateOf(file, true);
  if (!access->isOpen()) {
    *error = kFileNotOpen;
    return 0;
  }
  if (kind == TableOpKind::kNoPage) {
    *error = TableOperation(op, file, args, access, &result);
    return result;
  }
  if (kind == TableOpKind::kChange) {
    // A failed statement undoes its own changes and nothing else.  With no
    // earlier changes waiting in the cache, that is all of them.  Changes
    // deferred by earlier statements (delayed writing, this file's
    // transaction, another declaration of the same file) must stay: the
    // table operations take back their own records when they refuse (a
    // duplicate changes nothing), and the record numbers the statement drew
    // are given back.
    Container& container = access->file()->container();
    if ((op == files::OP_BUILDfile || op == files::OP_BUILDkey) && container.HasChanges() &&
        !access->file()->inTransaction()) {
      // A key build is undone by throwing its pages away: write what earlier
      // statements deferred first, so that nothing else goes with them.
      if (Status written = access->file()->Finish(false); !written.ok()) {
        *error = written;
        return 0;
      }
    }
    Status rc = access->BeginChange();
    if (rc.ok()) {
      // Looked at once the update is open: BeginChange may have waited
      // outside the critical section while other declarations of the file
      // deferred changes, and its refresh may bring in numbers other
      // programs drew.
      const bool keepOthers = container.HasChanges() || access->file()->inTransaction();
      const Container::StatementMark mark = container.MarkStatement();
      rc = TableOperation(op, file, args, access, &result);
      if (!rc.ok()) {
        if (keepOthers)
          container.ReturnRecordNumbers(mark);
        else
          access->file()->DiscardChanges();
      }
    }
    *error = access->Finish(rc);
    return result;
  }
  // HOLD with seconds: a read whose record is held elsewhere is repeated,
  // whole, until the hold is had or the seconds have passed.  Between tries
  // the read is over (no reader slot) and the critical section is let go,
  // so the holder can change the record and release it.
  const bool timedHold = access->holdArmed() && access->holdSeconds() > 0;
  const int32_t holdSeconds = access->holdSeconds();
  // The clock is read only for a timed hold: a read costs less than it.
  const DWORD deadline = timedHold ? GetClockHundredths() + static_cast<DWORD>(holdSeconds) * 100u : 0;
  for (;;) {
    // A read that finds the file unchanged runs on the cached pages without
    // its reader slot; when it needs the disk and the file changed meanwhile,
    // it is repeated once with the slot held from the start.
    const bool unguarded = kind == TableOpKind::kRepeatableRead && access->repeatable();
    Status rc = access->BeginRead(unguarded);
    if (rc.ok()) {
      try {
        rc = TableOperation(op, file, args, access, &result);
      } catch (const StaleRead&) {
        result = 0;
        rc = access->BeginRead(false);
        if (rc.ok()) rc = TableOperation(op, file, args, access, &result);
      }
    }
    *error = access->Finish(rc);
    if (!(timedHold && *error == kRecordHeld && static_cast<int32_t>(deadline - GetClockHundredths()) > 0))
      return result;
    WaitOutsideDriverSection(50);
    if (!access->isOpen()) return result;
    access->ArmHold(holdSeconds);
    result = 0;
  }
}

}  // namespace

int32_t FileErrorOf(const Status& status) {
  switch (status.kind()) {
    case Status::Kind::kOk: return 0;
    // The runtime's numbers, and the system's as the platform numbers them:
    // the catalogue shares its low numbers with the system's (2, 3, 4, 5),
    // and compiled code has always seen a refused open, lock or write by the
    // system's own number.
    case Status::Kind::kFile:
    case Status::Kind::kSystem: return status.code();
    // A damaged file: the driver error's number and text go to the file
    // error (the entry sets them); the statement sees a file system error.
    case Status::Kind::kDamaged: return err::FileSystemError;
    // A read that met a change and could not be repeated: the file is in
    // use by another program right now.
    case Status::Kind::kStale: return err::AccessDenied;
  }
  return err::FileSystemError;
}

int32_t TarnwellEntry(int32_t op, FileDescriptor* file, intptr_t* args) {
  files::ClearError();
  if (file == nullptr) {
    files::SetErrorCode(err::FileNotOpen);
    return 0;
  }
  SectionGuard guard((file->flags & files::FD_SKIP_DRIVER_LOCK) == 0);
  Status error;
  int32_t result = 0;
  try {
    result = Perform(op, file, args, &error);
  } catch (const DriverError& failure) {
    // Only a program that installed a throwing fatal handler gets here: the
    // file's memory state is undefined, so its changes are thrown away.
    if (TableAccess* access = StateOf(file, false); access && access->isOpen()) access->file()->DiscardChanges();
    error = Status::Damaged(failure.number());
  }
  if (error.ok()) return result;
  const int32_t code = FileErrorOf(error);
  files::SetErrorCode(code);
  if (error.kind() == Status::Kind::kDamaged)
    files::SetFileError(std::to_string(error.code()), DriverErrorText(error.code()).c_str());
  files::SetErrorFile(file);
  return error.kind() == Status::Kind::kDamaged ? 0 : result;
}

void RegisterTarnwellDriver() { files::RegisterDriverEntry("TARNWELL", &TarnwellEntry); }

}  // namespace pr::store
