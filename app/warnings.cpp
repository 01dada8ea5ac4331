// The catalogue of standard warnings.
#include "app/warnings.h"

#include <cctype>
#include <cstdlib>
#include <string>

#include "files/errors.h"
#include "files/transactions.h"
#include "ui/message.h"

namespace pr::app {
namespace {

// Icon codes: byte 0xFF, byte 0x01, then the system icon number plus one.
const std::string kIconExclamation("\xFF\x01\x04\x7F", 4);
const std::string kIconQuestion("\xFF\x01\x03\x7F", 4);

constexpr size_t kDescriptionMax = 150;

SavedError g_savedError;

bool IsFileErrorCode(int32_t code) { return code == files::err::FileSystemError || code == files::err::CallbackFailed; }

// The error description: from the saved error when there is one, else from
// the thread's current error; cut to 150 characters.  The saved error is
// cleared afterwards.
std::string ErrorDescription() {
  std::string desc;
  SavedError& saved = g_savedError;
  if (saved.code != 0) {
    if (IsFileErrorCode(saved.code))
      desc = Clip(saved.fileText) + " (" + std::to_string(saved.fileCode) + ")";
    else
      desc = Clip(saved.text) + " (" + std::to_string(saved.code) + ")";
  } else {
    int32_t code = files::ErrorCode();
    if (IsFileErrorCode(code))
      desc = Clip(files::FileError()) + " (" + Clip(files::FileErrorCode()) + ")";
    else
      desc = Clip(files::Error()) + " (" + std::to_string(code) + ")";
  }
  if (desc.size() > kDescriptionMax) desc.resize(kDescriptionMax);
  saved = SavedError{};
  return desc;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

void Set(WarningBox* box, std::string caption, std::string text, const std::string& icon, int32_t buttons,
         int32_t defaultButton) {
  box->caption = std::move(caption);
  box->text = std::move(text);
  box->icon = icon;
  box->buttons = buttons;
  box->defaultButton = defaultButton;
}

const char kEndApp[] = ".  Press OK to end this application.";
const char kNotAllowedTail[] = ".  Press OK to return to the calling procedure";

}  // namespace

std::string Clip(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  return std::string(text.substr(0, end));
}

SavedError& TheSavedError() { return g_savedError; }

void SaveError() {
  g_savedError.code = files::ErrorCode();
  g_savedError.text = files::Error();
  // The file error code is kept as a number; a code text that is not a
  // number reads as 0.
  g_savedError.fileCode = std::atoi(files::FileErrorCode().c_str());
  g_savedError.fileText = files::FileError();
  files::Rollback();
}

bool BuildWarning(int32_t number, std::string_view t1View, std::string_view t2View, WarningBox* box) {
  if (number < 1 || number > 38) return false;
  // The code that decides warning 15 is read before the description clears
  // the saved error.
  const int32_t codeNow = g_savedError.code != 0 ? g_savedError.code : files::ErrorCode();
  const std::string desc = ErrorDescription();
  const std::string t1 = Clip(t1View), t2 = Clip(t2View);
  *box = WarningBox{};
  const std::string& E = kIconExclamation;
  const std::string& Q = kIconQuestion;
  switch (number) {
    case 1:
      Set(box, "Invalid File", "Error: (" + desc + ") accessing " + t1 + kEndApp, E, 1, 1);
      box->haltText = "Invalid File!";
      break;
    case 2:
      Set(box, "Invalid Key", t1 + " key file is invalid.  Do you " + "want to rebuild the key?", Q, 6, 2);
      box->haltOnNoText = "Invalid Key!";
      break;
    case 3:
      Set(box, "Key Rebuild Error", "Error: (" + desc + ") repairing key for " + t1 + kEndApp, E, 1, 1);
      box->haltText = "Error Rebuilding Key!";
      break;
    case 4:
      Set(box, "File Creation Error", "Error: (" + desc + ") creating " + t1 + kEndApp, E, 1, 1);
      box->haltText = "File Creation Error!";
      break;
    case 5:
      Set(box, "File Creation Error", "Error: (" + desc + ") opening created " + "file:" + t1 + kEndApp, E, 1, 1);
      box->haltText = "File Creation Error!";
      break;
    case 6:
      Set(box, "Procedure not defined", "The Procedure " + t1 + " has not " + "been defined.", E, 1, 1);
      break;
    case 7:
      // No caption text is stored for this warning.
      Set(box, "", "Unable to read keyed record.  Error: " + desc + ".  Insert Aborted", E, 1, 0);
      break;
    case 8:
      Set(box, "Range Error", "The value of " + t1 + " must" + " be lower than " + t2 + ".", E, 1, 1);
      break;
    case 9:
      Set(box, "Range Error", "The value of " + t1 + " must be" + " higher than " + t2 + ".", E, 1, 1);
      break;
    case 10:
      Set(box, "Range Error", "The value of " + t1 + " must be " + "between " + t2 + ".", E, 1, 1);
      break;
    case 11:
      Set(box, "Field Contents Error", "The value for " + t1 + " must be " + "found in the " + t2 + " file.", E, 1,
          1);
      break;
    case 12:
      Set(box, "Referential Integrity Update Error",
          "This record is referenced from the file " + t1 + ".  Linking field(s) have been restricted" +
              " from change and have been reset to original values.",
          E, 1, 1);
      break;
    case 13:
      Set(box, "Referential Integrity Delete Error",
          "This record is referenced from the file " + t1 + ".  This record cannot be deleted while" +
              " these references exist.",
          E, 1, 1);
      break;
    case 14:
      Set(box, "Record Insert Error", "An error was experienced during the update of record.  Error: " + desc + ".",
          E, 1, 1);
      break;
    case 15:
      if (codeNow == 0 || codeNow == files::err::RecordChangedByAnotherStation)
        Set(box, "Update Operation Error", "This record was changed by another station.", E, 1, 1);
      else
        Set(box, "Update Operation Error",
            "An error (" + desc + ") was experienced" +
                " when attempting to update a record from the file.  Probable Cause: " + t1 + ".",
            E, 1, 1);
      break;
    case 16:
      Set(box, "Record Update Error",
          "An error was experienced changing this record.  Do you want to try to save again?", E, 70, 64);
      break;
    case 17:
      Set(box, "Delete Operation Error",
          "An error (" + desc + ") was experienced" + " when attempting to delete a record from the file " + t1 +
              ".",
          E, 1, 1);
      break;
    case 18:
      Set(box, "Record Update Error",
          "An error was experienced deleting this record.  Do you want to try to save again?", E, 70, 64);
      break;
    case 19:
      Set(box, "Invalid Request",
          std::string("This procedure was called to insert a record, however inserts are not allowed for this "
                      "procedure") + kNotAllowedTail,
          E, 1, 1);
      break;
    case 20:
      Set(box, "Invalid Request",
          std::string("This procedure was called to change a record, however changes are not allowed for this "
                      "procedure") + kNotAllowedTail,
          E, 1, 1);
      break;
    case 21:
      Set(box, "Invalid Request",
          std::string("This procedure was called to delete a record, however deletions are not allowed for this "
                      "procedure") + kNotAllowedTail,
          E, 1, 1);
      break;
    case 22:
      Set(box, "File Creation Not Allowed",
          "The File " + t1 + "was not found, " + "and creation of the file is not allowed.  Press OK to end " +
              "this application.",
          E, 1, 1);
      box->haltText = "File Creation Error!";
      break;
    case 23:
      Set(box, "Update Cancelled", "Are you sure you want to cancel?", Q, 6, 4);
      break;
    case 24:
      Set(box, "Duplicate Key Error", "Adding this record creates a duplicate entry for the key:" + t1, E, 1, 1);
      break;
    case 25:
      Set(box, "Auto Increment Error",
          "Attempts to automatically number this record have failed.  Error: " + desc + ".", E, 80, 64);
      break;
    case 26:
      Set(box, "File Load Error", t1 + " File Load Error.  " + "Error: " + desc + ".", E, 1, 1);
      break;
    case 27:
      Set(box, "Cancel Request", "Are you certain you want to stop loading " + t1 + "?", Q, 65, 64);
      break;
    case 28:
      Set(box, "File Load Error", t1 + " File Load Error.  " + "The file you've requested contains no text.", E, 1,
          1);
      break;
    case 29:
      if (t1 == "Down")
        Set(box, "End of File Error",
            "The end of the viewed file was encountered.  Do you want to start again from the beginning?", Q, 6, 2);
      else
        Set(box, "Beginning of File Error",
            "The beginning of the viewed file was encountered.  Do you want to start again from the end of the file?",
            Q, 6, 2);
      break;
    case 30:
      Set(box, "File Access Error", "File (" + t1 + ") could not be " + "opened.  Error: " + desc + ".", E, 1, 1);
      break;
    case 31:
      if (t1 == "Put")
        Set(box, "Process PUT Error",
            "An error was experienced when making changes to the " + t2 + " file.  Error: " + desc, E, 1, 1);
      else
        Set(box, "Process DELETE Error",
            "An error was experienced when deleting a record from the " + t2 + " file.  Error: " + desc, E, 1, 1);
      break;
    case 32:
      Set(box, "Confirm Delete",
          "You've selected to delete the highlighted record.  Press OK to confirm deletion of this record.", Q, 65,
          64);
      break;
    case 33:
      Set(box, "Update Cancelled", "Do you want to save the changes to this record?", Q, 70, 4);
      break;
    case 34:
      Set(box, "Transaction Framing Error",
          "Error: (" + desc + ") attempting to frame the " + Upper(t1) + " transaction on " + t2 + ".  " + t1 +
              " transaction cancelled.",
          E, 1, 1);
      break;
    case 35:
      Set(box, "Record Retrieval Error",
          "Error: (" + desc + ") attempting to access a " + "record from the " + t1 + " file.  Returning to " +
              "previous window.",
          E, 1, 1);
      break;
    case 36:
      Set(box, "View Open Error",
          "Error: (" + desc + ") attempting to open the " + "current VIEW. Filter and Range Limits ignored.", E, 1,
          1);
      break;
    case 37:
      Set(box, "Record Added", "This record has been added to the file. Do you want to add another record?", Q, 6,
          2);
      break;
    case 38:
      Set(box, "Record Was Not Updated",
          "This record was changed by another station. Those changes will now be displayed. Use the Ditto Button or "
          "Ctrl+D to recall your changes.",
          E, 1, 1);
      break;
  }
  return true;
}

namespace {
int32_t Show(const WarningBox& box) {
  return ui::Message(box.text, box.caption, box.icon, std::to_string(box.buttons), box.defaultButton, 0);
}
}  // namespace

void BuildRecordDeleted(WarningBox* box) {
  *box = WarningBox{};
  Set(box, "Record Retrieval Error", "This record was deleted by another station.", kIconExclamation, 1, 1);
}

int32_t WarnRecordDeleted() {
  WarningBox box;
  BuildRecordDeleted(&box);
  return Show(box);
}

int32_t WarnUser(int32_t number, std::string_view t1, std::string_view t2) {
  WarningBox box;
  if (!BuildWarning(number, t1, t2, &box)) return 0;
  const int32_t answer = Show(box);
  if (!box.haltText.empty()) ui::Halt(0, box.haltText);
  if (!box.haltOnNoText.empty() && answer == kButtonNo) ui::Halt(0, box.haltOnNoText);
  return answer;
}

}  // namespace pr::app
