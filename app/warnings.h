// The application's standard warnings and its file recovery.
//
// WarnUser shows one of 38 numbered warnings built from the current file
// error (or the error saved by a guarded routine) and up to two texts, and
// answers the value of the button pressed (1 OK, 2 Yes, 4 No, 16 Retry,
// 64 Cancel).  Some warnings end the program after their box (HALT, exit
// code 0).  OpenWithRecovery opens a file and recovers from a missing file, a
// key that must be rebuilt and a file locked by another process.  The guarded
// update and delete of Partneri frame their change in a transaction.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "files/descriptors.h"

namespace pr::app {

// Warning numbers the procedures use.
enum Warning : int32_t {
  kWarnInvalidFile = 1,
  kWarnInvalidKey = 2,
  kWarnKeyRebuildError = 3,
  kWarnFileCreationError = 4,
  kWarnCreatedFileOpenError = 5,
  kWarnInsertError = 14,
  kWarnUpdateOperationError = 15,
  kWarnRecordUpdateError = 16,
  kWarnDeleteOperationError = 17,
  kWarnDeleteError = 18,
  kWarnDuplicateKey = 24,
  kWarnAutoIncrementError = 25,
  kWarnFileAccessError = 30,
  kWarnSaveChanges = 33,
  kWarnTransactionFraming = 34,
  kWarnRecordRetrieval = 35,
  kWarnViewOpen = 36,
  kWarnRecordNotUpdated = 38,
};

// Button values of the answers.
enum Button : int32_t { kButtonOk = 1, kButtonYes = 2, kButtonNo = 4, kButtonRetry = 16, kButtonCancel = 64 };

// One warning as it is shown: everything the message box gets, and the text
// of the halt that follows it (empty when none).  Built without showing
// anything, so the catalogue can be checked on its own.
struct WarningBox {
  std::string caption;
  std::string text;
  std::string icon;  // four-byte icon code
  int32_t buttons = 0;
  int32_t defaultButton = 0;
  std::string haltText;          // after the box, whatever the answer
  std::string haltOnNoText;      // after the box, when the answer is No
};

// Builds warning `number` (1..38) with the error description of the moment,
// and clears the saved error.  False for numbers that show nothing.
bool BuildWarning(int32_t number, std::string_view t1, std::string_view t2, WarningBox* box);

// Shows warning `number` and answers the button pressed; 0 for numbers that
// show nothing.  Warnings with a halt end the process after their box.
int32_t WarnUser(int32_t number, std::string_view t1 = {}, std::string_view t2 = {});

// The box for a record that another station deleted after it was listed
// (built like the catalogue's boxes, outside its numbers): "This record was
// deleted by another station."  BuildRecordDeleted fills it without showing
// it; WarnRecordDeleted shows it and answers the button (OK).
void BuildRecordDeleted(WarningBox* box);
int32_t WarnRecordDeleted();

// The error saved by a guarded routine at the moment of its failure
// (process-wide, one copy, written without a lock).
struct SavedError {
  int32_t code = 0;
  std::string text;
  int32_t fileCode = 0;
  std::string fileText;
};
SavedError& TheSavedError();
// Copies the current error into the saved error, then ROLLBACK.
void SaveError();

// Opens `file` with recovery.  With `shared` the access mode is 0x42.
void OpenWithRecovery(files::FileDescriptor* file, bool createIfMissing, bool leaveMissingAlone,
                      int32_t accessMode, bool shared);

// The guarded change of the current Partneri record: 0 saved, 1 failed, 2 the
// record was changed by another station and has been read back.
int32_t GuardedUpdatePartneri(bool calledFromForm);
// The guarded delete of the current Partneri record: 0 deleted, 1 failed.
int32_t GuardedDeletePartneri();

// The exit code with which the module ends the program after the driver
// error box ("Possible data corruption in file (N)"); the number itself is
// in the box, not in the exit code, which would keep only its last byte.
inline constexpr int kDriverErrorExitCode = 3;

// Texts with trailing spaces removed.
std::string Clip(std::string_view text);

}  // namespace pr::app
