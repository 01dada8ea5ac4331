// The catalogue of standard warnings.
#include "app/warnings.h"

#include <cctype>
#include <cstdlib>
#include <iterator>
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

// The catalogue.  A box's text is a template: {1} and {2} stand for the two
// texts given to the warning, {U} for the first in upper case and {E} for
// the error description.  The texts themselves are put in as they are and
// never read as a template.
enum class Choice : uint8_t {
  kOne,               // one box
  kChangedElsewhere,  // the first box when the error is none or 89, else the second
  kDown,              // the first box when {1} is "Down"
  kPut,               // the first box when {1} is "Put"
};

struct Box {
  const char* caption;
  const char* text;
  bool question;  // the question icon, else the exclamation icon
  int32_t buttons;
  int32_t defaultButton;
  const char* haltText = "";      // halt after the box
  const char* haltOnNoText = "";  // halt after the box answered No
};

struct Entry {
  Box box;
  Choice choice = Choice::kOne;
  Box otherwise = {};
};

constexpr bool Q = true, E = false;
constexpr int32_t kOk = kButtonOk, kYesNo = kButtonYes | kButtonNo,
                  kYesNoCancel = kButtonYes | kButtonNo | kButtonCancel, kOkCancel = kButtonOk | kButtonCancel,
                  kRetryCancel = kButtonRetry | kButtonCancel;

const Entry kWarnings[] = {
    /* 1 */
    {{"Invalid File", "Error: ({E}) accessing {1}.  Press OK to end this application.", E, kOk, kButtonOk,
      "Invalid File!"}},
    /* 2 */
    {{"Invalid Key", "{1} key file is invalid.  Do you want to rebuild the key?", Q, kYesNo, kButtonYes, "",
      "Invalid Key!"}},
    /* 3 */
    {{"Key Rebuild Error", "Error: ({E}) repairing key for {1}.  Press OK to end this application.", E, kOk,
      kButtonOk, "Error Rebuilding Key!"}},
    /* 4 */
    {{"File Creation Error", "Error: ({E}) creating {1}.  Press OK to end this application.", E, kOk, kButtonOk,
      "File Creation Error!"}},
    /* 5 */
    {{"File Creation Error", "Error: ({E}) opening created file:{1}.  Press OK to end this application.", E, kOk,
      kButtonOk, "File Creation Error!"}},
    /* 6 */ {{"Procedure not defined", "The Procedure {1} has not been defined.", E, kOk, kButtonOk}},
    // No caption text is stored for this warning, and it has no default button.
    /* 7 */ {{"", "Unable to read keyed record.  Error: {E}.  Insert Aborted", E, kOk, 0}},
    /* 8 */ {{"Range Error", "The value of {1} must be lower than {2}.", E, kOk, kButtonOk}},
    /* 9 */ {{"Range Error", "The value of {1} must be higher than {2}.", E, kOk, kButtonOk}},
    /* 10 */ {{"Range Error", "The value of {1} must be between {2}.", E, kOk, kButtonOk}},
    /* 11 */ {{"Field Contents Error", "The value for {1} must be found in the {2} file.", E, kOk, kButtonOk}},
    /* 12 */
    {{"Referential Integrity Update Error",
      "This record is referenced from the file {1}.  Linking field(s) have been restricted from change and have "
      "been reset to original values.",
      E, kOk, kButtonOk}},
    /* 13 */
    {{"Referential Integrity Delete Error",
      "This record is referenced from the file {1}.  This record cannot be deleted while these references exist.", E,
      kOk, kButtonOk}},
    /* 14 */
    {{"Record Insert Error", "An error was experienced during the update of record.  Error: {E}.", E, kOk,
      kButtonOk}},
    /* 15 */
    {{"Update Operation Error", "This record was changed by another station.", E, kOk, kButtonOk},
     Choice::kChangedElsewhere,
     {"Update Operation Error",
      "An error ({E}) was experienced when attempting to update a record from the file.  Probable Cause: {1}.", E,
      kOk, kButtonOk}},
    /* 16 */
    {{"Record Update Error", "An error was experienced changing this record.  Do you want to try to save again?", E,
      kYesNoCancel, kButtonCancel}},
    /* 17 */
    {{"Delete Operation Error",
      "An error ({E}) was experienced when attempting to delete a record from the file {1}.", E, kOk, kButtonOk}},
    /* 18 */
    {{"Record Update Error", "An error was experienced deleting this record.  Do you want to try to save again?", E,
      kYesNoCancel, kButtonCancel}},
    /* 19 */
    {{"Invalid Request",
      "This procedure was called to insert a record, however inserts are not allowed for this procedure.  Press OK "
      "to return to the calling procedure",
      E, kOk, kButtonOk}},
    /* 20 */
    {{"Invalid Request",
      "This procedure was called to change a record, however changes are not allowed for this procedure.  Press OK "
      "to return to the calling procedure",
      E, kOk, kButtonOk}},
    /* 21 */
    {{"Invalid Request",
      "This procedure was called to delete a record, however deletions are not allowed for this procedure.  Press "
      "OK to return to the calling procedure",
      E, kOk, kButtonOk}},
    /* 22 */
    {{"File Creation Not Allowed",
      "The File {1}was not found, and creation of the file is not allowed.  Press OK to end this application.", E,
      kOk, kButtonOk, "File Creation Error!"}},
    /* 23 */ {{"Update Cancelled", "Are you sure you want to cancel?", Q, kYesNo, kButtonNo}},
    /* 24 */
    {{"Duplicate Key Error", "Adding this record creates a duplicate entry for the key:{1}", E, kOk, kButtonOk}},
    /* 25 */
    {{"Auto Increment Error", "Attempts to automatically number this record have failed.  Error: {E}.", E,
      kRetryCancel, kButtonCancel}},
    /* 26 */ {{"File Load Error", "{1} File Load Error.  Error: {E}.", E, kOk, kButtonOk}},
    /* 27 */
    {{"Cancel Request", "Are you certain you want to stop loading {1}?", Q, kOkCancel, kButtonCancel}},
    /* 28 */
    {{"File Load Error", "{1} File Load Error.  The file you've requested contains no text.", E, kOk, kButtonOk}},
    /* 29 */
    {{"End of File Error",
      "The end of the viewed file was encountered.  Do you want to start again from the beginning?", Q, kYesNo,
      kButtonYes},
     Choice::kDown,
     {"Beginning of File Error",
      "The beginning of the viewed file was encountered.  Do you want to start again from the end of the file?", Q,
      kYesNo, kButtonYes}},
    /* 30 */
    {{"File Access Error", "File ({1}) could not be opened.  Error: {E}.", E, kOk, kButtonOk}},
    /* 31 */
    {{"Process PUT Error", "An error was experienced when making changes to the {2} file.  Error: {E}", E, kOk,
      kButtonOk},
     Choice::kPut,
     {"Process DELETE Error", "An error was experienced when deleting a record from the {2} file.  Error: {E}", E,
      kOk, kButtonOk}},
    /* 32 */
    {{"Confirm Delete",
      "You've selected to delete the highlighted record.  Press OK to confirm deletion of this record.", Q,
      kOkCancel, kButtonCancel}},
    /* 33 */
    {{"Update Cancelled", "Do you want to save the changes to this record?", Q, kYesNoCancel, kButtonNo}},
    /* 34 */
    {{"Transaction Framing Error",
      "Error: ({E}) attempting to frame the {U} transaction on {2}.  {1} transaction cancelled.", E, kOk,
      kButtonOk}},
    /* 35 */
    {{"Record Retrieval Error",
      "Error: ({E}) attempting to access a record from the {1} file.  Returning to previous window.", E, kOk,
      kButtonOk}},
    /* 36 */
    {{"View Open Error",
      "Error: ({E}) attempting to open the current VIEW. Filter and Range Limits ignored.", E, kOk, kButtonOk}},
    /* 37 */
    {{"Record Added", "This record has been added to the file. Do you want to add another record?", Q, kYesNo,
      kButtonYes}},
    /* 38 */
    {{"Record Was Not Updated",
      "This record was changed by another station. Those changes will now be displayed. Use the Ditto Button or "
      "Ctrl+D to recall your changes.",
      E, kOk, kButtonOk}},
};

static_assert(std::size(kWarnings) == 38, "the catalogue has 38 warnings");

// The text of `pattern` with its markers replaced, in one pass.
std::string Fill(std::string_view pattern, const std::string& t1, const std::string& t2, const std::string& desc) {
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '{' && i + 2 < pattern.size() && pattern[i + 2] == '}') {
      switch (pattern[i + 1]) {
        case '1': out += t1; i += 2; continue;
        case '2': out += t2; i += 2; continue;
        case 'U': out += Upper(t1); i += 2; continue;
        case 'E': out += desc; i += 2; continue;
        default: break;
      }
    }
    out += pattern[i];
  }
  return out;
}

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
  if (number < 1 || number > static_cast<int32_t>(std::size(kWarnings))) return false;
  const Entry& w = kWarnings[number - 1];
  // The code that decides warning 15 is read before the description clears
  // the saved error.
  const int32_t codeNow = g_savedError.code != 0 ? g_savedError.code : files::ErrorCode();
  const std::string desc = ErrorDescription();
  const std::string t1 = Clip(t1View), t2 = Clip(t2View);
  bool first = true;
  switch (w.choice) {
    case Choice::kOne: break;
    case Choice::kChangedElsewhere:
      first = codeNow == 0 || codeNow == files::err::RecordChangedByAnotherStation;
      break;
    case Choice::kDown: first = t1 == "Down"; break;
    case Choice::kPut: first = t1 == "Put"; break;
  }
  const Box& b = first ? w.box : w.otherwise;
  *box = WarningBox{};
  Set(box, b.caption, Fill(b.text, t1, t2, desc), b.question ? kIconQuestion : kIconExclamation, b.buttons,
      b.defaultButton);
  box->haltText = b.haltText;
  box->haltOnNoText = b.haltOnNoText;
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
