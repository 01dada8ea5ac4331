// Every box of the warning catalogue, with each of its variants, exactly as
// the catalogue gave it when it was a switch: caption, text, icon, buttons,
// default button and halts.  The texts given to a warning are taken as they
// are, even when they look like the catalogue's own markers.
#include <gtest/gtest.h>

#include <string>

#include "app/warnings.h"
#include "files/errors.h"

namespace pr::app {
namespace {

struct Expected {
  int32_t number;
  const char* t1;
  const char* t2;
  int32_t savedCode;  // the error saved before the box is built (0: none)
  const char* caption;
  const char* text;
  const char* icon;  // "E" exclamation, "Q" question
  int32_t buttons;
  int32_t defaultButton;
  const char* haltText;
  const char* haltOnNoText;
};

TEST(WarningCatalogue, EveryBoxAndVariant) {
  const Expected kAll[] = {
    {1, "a{2}{E}", "B", 5, "Invalid File", "Error: (Access Denied (5)) accessing a{2}{E}.  Press OK to end this application.", "E", 1, 1, "Invalid File!", ""},
    {2, "a{2}{E}", "B", 5, "Invalid Key", "a{2}{E} key file is invalid.  Do you want to rebuild the key?", "Q", 6, 2, "", "Invalid Key!"},
    {3, "a{2}{E}", "B", 5, "Key Rebuild Error", "Error: (Access Denied (5)) repairing key for a{2}{E}.  Press OK to end this application.", "E", 1, 1, "Error Rebuilding Key!", ""},
    {4, "a{2}{E}", "B", 5, "File Creation Error", "Error: (Access Denied (5)) creating a{2}{E}.  Press OK to end this application.", "E", 1, 1, "File Creation Error!", ""},
    {5, "a{2}{E}", "B", 5, "File Creation Error", "Error: (Access Denied (5)) opening created file:a{2}{E}.  Press OK to end this application.", "E", 1, 1, "File Creation Error!", ""},
    {6, "a{2}{E}", "B", 5, "Procedure not defined", "The Procedure a{2}{E} has not been defined.", "E", 1, 1, "", ""},
    {7, "a{2}{E}", "B", 5, "", "Unable to read keyed record.  Error: Access Denied (5).  Insert Aborted", "E", 1, 0, "", ""},
    {8, "a{2}{E}", "B", 5, "Range Error", "The value of a{2}{E} must be lower than B.", "E", 1, 1, "", ""},
    {9, "a{2}{E}", "B", 5, "Range Error", "The value of a{2}{E} must be higher than B.", "E", 1, 1, "", ""},
    {10, "a{2}{E}", "B", 5, "Range Error", "The value of a{2}{E} must be between B.", "E", 1, 1, "", ""},
    {11, "a{2}{E}", "B", 5, "Field Contents Error", "The value for a{2}{E} must be found in the B file.", "E", 1, 1, "", ""},
    {12, "a{2}{E}", "B", 5, "Referential Integrity Update Error", "This record is referenced from the file a{2}{E}.  Linking field(s) have been restricted from change and have been reset to original values.", "E", 1, 1, "", ""},
    {13, "a{2}{E}", "B", 5, "Referential Integrity Delete Error", "This record is referenced from the file a{2}{E}.  This record cannot be deleted while these references exist.", "E", 1, 1, "", ""},
    {14, "a{2}{E}", "B", 5, "Record Insert Error", "An error was experienced during the update of record.  Error: Access Denied (5).", "E", 1, 1, "", ""},
    {15, "a{2}{E}", "B", 5, "Update Operation Error", "An error (Access Denied (5)) was experienced when attempting to update a record from the file.  Probable Cause: a{2}{E}.", "E", 1, 1, "", ""},
    {16, "a{2}{E}", "B", 5, "Record Update Error", "An error was experienced changing this record.  Do you want to try to save again?", "E", 70, 64, "", ""},
    {17, "a{2}{E}", "B", 5, "Delete Operation Error", "An error (Access Denied (5)) was experienced when attempting to delete a record from the file a{2}{E}.", "E", 1, 1, "", ""},
    {18, "a{2}{E}", "B", 5, "Record Update Error", "An error was experienced deleting this record.  Do you want to try to save again?", "E", 70, 64, "", ""},
    {19, "a{2}{E}", "B", 5, "Invalid Request", "This procedure was called to insert a record, however inserts are not allowed for this procedure.  Press OK to return to the calling procedure", "E", 1, 1, "", ""},
    {20, "a{2}{E}", "B", 5, "Invalid Request", "This procedure was called to change a record, however changes are not allowed for this procedure.  Press OK to return to the calling procedure", "E", 1, 1, "", ""},
    {21, "a{2}{E}", "B", 5, "Invalid Request", "This procedure was called to delete a record, however deletions are not allowed for this procedure.  Press OK to return to the calling procedure", "E", 1, 1, "", ""},
    {22, "a{2}{E}", "B", 5, "File Creation Not Allowed", "The File a{2}{E}was not found, and creation of the file is not allowed.  Press OK to end this application.", "E", 1, 1, "File Creation Error!", ""},
    {23, "a{2}{E}", "B", 5, "Update Cancelled", "Are you sure you want to cancel?", "Q", 6, 4, "", ""},
    {24, "a{2}{E}", "B", 5, "Duplicate Key Error", "Adding this record creates a duplicate entry for the key:a{2}{E}", "E", 1, 1, "", ""},
    {25, "a{2}{E}", "B", 5, "Auto Increment Error", "Attempts to automatically number this record have failed.  Error: Access Denied (5).", "E", 80, 64, "", ""},
    {26, "a{2}{E}", "B", 5, "File Load Error", "a{2}{E} File Load Error.  Error: Access Denied (5).", "E", 1, 1, "", ""},
    {27, "a{2}{E}", "B", 5, "Cancel Request", "Are you certain you want to stop loading a{2}{E}?", "Q", 65, 64, "", ""},
    {28, "a{2}{E}", "B", 5, "File Load Error", "a{2}{E} File Load Error.  The file you've requested contains no text.", "E", 1, 1, "", ""},
    {29, "a{2}{E}", "B", 5, "Beginning of File Error", "The beginning of the viewed file was encountered.  Do you want to start again from the end of the file?", "Q", 6, 2, "", ""},
    {30, "a{2}{E}", "B", 5, "File Access Error", "File (a{2}{E}) could not be opened.  Error: Access Denied (5).", "E", 1, 1, "", ""},
    {31, "a{2}{E}", "B", 5, "Process DELETE Error", "An error was experienced when deleting a record from the B file.  Error: Access Denied (5)", "E", 1, 1, "", ""},
    {32, "a{2}{E}", "B", 5, "Confirm Delete", "You've selected to delete the highlighted record.  Press OK to confirm deletion of this record.", "Q", 65, 64, "", ""},
    {33, "a{2}{E}", "B", 5, "Update Cancelled", "Do you want to save the changes to this record?", "Q", 70, 4, "", ""},
    {34, "a{2}{E}", "B", 5, "Transaction Framing Error", "Error: (Access Denied (5)) attempting to frame the A{2}{E} transaction on B.  a{2}{E} transaction cancelled.", "E", 1, 1, "", ""},
    {35, "a{2}{E}", "B", 5, "Record Retrieval Error", "Error: (Access Denied (5)) attempting to access a record from the a{2}{E} file.  Returning to previous window.", "E", 1, 1, "", ""},
    {36, "a{2}{E}", "B", 5, "View Open Error", "Error: (Access Denied (5)) attempting to open the current VIEW. Filter and Range Limits ignored.", "E", 1, 1, "", ""},
    {37, "a{2}{E}", "B", 5, "Record Added", "This record has been added to the file. Do you want to add another record?", "Q", 6, 2, "", ""},
    {38, "a{2}{E}", "B", 5, "Record Was Not Updated", "This record was changed by another station. Those changes will now be displayed. Use the Ditto Button or Ctrl+D to recall your changes.", "E", 1, 1, "", ""},
    {15, "a", "B", 0, "Update Operation Error", "This record was changed by another station.", "E", 1, 1, "", ""},
    {15, "a", "B", 89, "Update Operation Error", "This record was changed by another station.", "E", 1, 1, "", ""},
    {29, "Down", "B", 5, "End of File Error", "The end of the viewed file was encountered.  Do you want to start again from the beginning?", "Q", 6, 2, "", ""},
    {31, "Put", "B", 5, "Process PUT Error", "An error was experienced when making changes to the B file.  Error: Access Denied (5)", "E", 1, 1, "", ""},
  };
  const std::string exclamation("\xFF\x01\x04\x7F", 4), question("\xFF\x01\x03\x7F", 4);
  for (const Expected& e : kAll) {
    SCOPED_TRACE(std::to_string(e.number) + " " + e.t1);
    files::ClearError();
    TheSavedError() = SavedError{e.savedCode, e.savedCode == 5 ? "Access Denied" : "Record Changed", 0, ""};
    WarningBox box;
    ASSERT_TRUE(BuildWarning(e.number, e.t1, e.t2, &box));
    EXPECT_EQ(box.caption, e.caption);
    EXPECT_EQ(box.text, e.text);
    EXPECT_EQ(box.icon, std::string(e.icon) == "E" ? exclamation : question);
    EXPECT_EQ(box.buttons, e.buttons);
    EXPECT_EQ(box.defaultButton, e.defaultButton);
    EXPECT_EQ(box.haltText, e.haltText);
    EXPECT_EQ(box.haltOnNoText, e.haltOnNoText);
  }
}

}  // namespace
}  // namespace pr::app
