// Opening a file with recovery, and the guarded change and delete of a
// partner record.
#include <cstring>

#include "app/module.h"
#include "app/partner_file.h"
#include "app/warnings.h"
#include "files/errors.h"
#include "files/statements.h"
#include "files/transactions.h"
#include "ui/message.h"

namespace pr::app {
namespace {

// Error codes the recovery reacts to.

// The guarded routines frame their change with a two-second LOGOUT.
constexpr int32_t kLogoutSeconds = 2;

// The file's name for a warning.  NAME is a statement of its own: the error
// the warning describes is kept across it.
std::string NameOf(files::FileDescriptor* file) {
  files::SaveErrors();
  std::string name = files::Name(file);
  files::RestoreErrors();
  return name;
}

// The creation steps: CREATE, then OPEN; a failure of either ends the
// program through its warning.
void CreateAndOpen(files::FileDescriptor* file, int32_t mode) {
  files::Create(file);
  if (files::ErrorCode() != 0) {
    WarnUser(kWarnFileCreationError, NameOf(file));
    return;
  }
  files::Open(file, mode);
  if (files::ErrorCode() == 0) return;
  WarnUser(kWarnCreatedFileOpenError, NameOf(file));
}

}  // namespace

void OpenWithRecovery(files::FileDescriptor* file, bool createIfMissing, bool leaveMissingAlone,
                      int32_t accessMode, bool shared) {
  const int32_t mode = shared ? (files::ACCESS_READ_WRITE | files::SHARE_DENY_NONE) : accessMode;
  files::Open(file, mode);
  if (files::ErrorCode() == files::err::FileAlreadyLocked) {
    files::Send(file, "Recover=10");
    files::Open(file, mode);
  }
  int32_t code = files::ErrorCode();
  if (code == 0 || code == files::err::FileAlreadyOpen) return;
  if (code == files::err::FileNotFound && !leaveMissingAlone) {
    if (createIfMissing) {
      CreateAndOpen(file, mode);
      return;
    }
    WarnUser(kWarnFileCreationError, NameOf(file));
  } else if (code == files::err::InvalidRecordDeclaration) {
    WarnUser(kWarnInvalidFile, NameOf(file));
  } else if (code == files::err::KeyFileMustBeRebuilt) {
    if (WarnUser(kWarnInvalidKey, NameOf(file)) != 0) {
      files::Build(file);
      if (files::ErrorCode() != 0)
        WarnUser(kWarnKeyRebuildError, NameOf(file));
      else
        files::Open(file, mode);
    }
  }
  // Final check: whatever is left is shown, and the user may end the program.
  if (files::ErrorCode() != 0) {
    if (WarnUser(kWarnFileAccessError, NameOf(file)) != 0) ui::Halt(0, "Disk Error");
  }
}

int32_t GuardedDeletePartneri() {
  files::FileDescriptor* file = Partneri();
  files::KeyDescriptor* key = PartnerIdKey();
  std::string position = files::Position(key);
  position.resize(512, ' ');
  files::Logout(kLogoutSeconds, {file});
  if (files::ErrorCode() != 0) {
    SaveError();
    WarnUser(kWarnTransactionFraming, "Delete", "Partneri");
    return 1;
  }
  files::Reget(key, position);
  if (files::ErrorCode() == 0) files::Delete(file);
  if (files::ErrorCode() != 0) {
    SaveError();
    WarnUser(kWarnDeleteOperationError, "Partneri");
    return 1;
  }
  files::Commit();
  return 0;
}

int32_t GuardedUpdatePartneri(bool calledFromForm) {
  files::FileDescriptor* file = Partneri();
  files::KeyDescriptor* key = PartnerIdKey();
  ThreadBlock& block = CurrentThreadBlock();
  files::Logout(kLogoutSeconds, {file});
  if (files::ErrorCode() != 0) {
    SaveError();
    WarnUser(kWarnTransactionFraming, "Update", "Partneri");
    return 1;
  }
  std::string position = files::Position(key);
  std::memset(block.positionText, ' ', sizeof block.positionText);
  std::memcpy(block.positionText, position.data(), std::min(position.size(), sizeof block.positionText));
  files::Put(file);
  if (files::ErrorCode() != 0) {
    SaveError();
    if (TheSavedError().code == files::err::RecordChangedByAnotherStation) {
      if (calledFromForm)
        WarnUser(kWarnRecordNotUpdated);
      else
        WarnUser(kWarnUpdateOperationError, "Record Changed by Another Station");
      files::Watch(file);
      files::Reget(key, std::string_view(block.positionText, sizeof block.positionText));
      return 2;
    }
    WarnUser(kWarnUpdateOperationError, "Partneri");
    return 1;
  }
  files::Commit();
  return 0;
}

}  // namespace pr::app
