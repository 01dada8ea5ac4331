// The standard warnings: texts joined from their pieces, the error
// description from the saved or the current error, and the halts.
#include <gtest/gtest.h>

#include <string>

#include "app/warnings.h"
#include "files/errors.h"

namespace pr::app {
namespace {

class WarningsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TheSavedError() = SavedError{};
    files::ClearError();
  }
  WarningBox Build(int32_t number, std::string_view t1 = {}, std::string_view t2 = {}) {
    WarningBox box;
    EXPECT_TRUE(BuildWarning(number, t1, t2, &box));
    return box;
  }
};

TEST_F(WarningsTest, DescriptionComesFromTheCurrentErrorAndTextsAreClipped) {
  files::SetErrorCode(2);
  WarningBox box = Build(30, "PARTNERI.TWL   ");
  EXPECT_EQ(box.caption, "File Access Error");
  EXPECT_EQ(box.text, "File (PARTNERI.TWL) could not be opened.  Error: File Not Found (2).");
  EXPECT_EQ(box.icon, std::string("\xFF\x01\x04\x7F", 4));
  EXPECT_EQ(box.buttons, 1);
  EXPECT_EQ(box.defaultButton, 1);
  EXPECT_TRUE(box.haltText.empty());
}

TEST_F(WarningsTest, SavedErrorWinsAndIsClearedAfterUse) {
  files::SetErrorCode(2);
  TheSavedError() = SavedError{40, "Creates Duplicate Key", 0, ""};
  WarningBox first = Build(17, "Partneri");
  EXPECT_EQ(first.text,
            "An error (Creates Duplicate Key (40)) was experienced when attempting to delete a record from the file "
            "Partneri.");
  EXPECT_EQ(TheSavedError().code, 0);
  // The next warning reads the current error again.
  WarningBox second = Build(17, "Partneri");
  EXPECT_NE(second.text.find("(File Not Found (2))"), std::string::npos);
}

TEST_F(WarningsTest, FileErrorCodesNinetyAndHundredDescribeTheDriversOwnError) {
  TheSavedError() = SavedError{90, "File System Error", 1234, "Disk on fire"};
  EXPECT_NE(Build(14).text.find("Error: Disk on fire (1234)."), std::string::npos);
}

TEST_F(WarningsTest, DescriptionIsCutTo150Characters) {
  TheSavedError() = SavedError{5, std::string(300, 'x'), 0, ""};
  WarningBox box = Build(30, "F");
  std::string prefix = "File (F) could not be opened.  Error: ";
  ASSERT_EQ(box.text.substr(0, prefix.size()), prefix);
  EXPECT_EQ(box.text.size(), prefix.size() + 150 + 1);  // the description, then "."
}

TEST_F(WarningsTest, TextVariantsAndUpperCasePieces) {
  files::SetErrorCode(56);
  WarningBox framing = Build(34, "Update", "Partneri");
  EXPECT_EQ(framing.caption, "Transaction Framing Error");
  EXPECT_NE(framing.text.find("attempting to frame the UPDATE transaction on Partneri.  Update transaction cancelled."),
            std::string::npos);

  files::ClearError();
  EXPECT_EQ(Build(15, "Partneri").text, "This record was changed by another station.");
  TheSavedError() = SavedError{89, "Record Changed By Another Station", 0, ""};
  EXPECT_EQ(Build(15, "x").text, "This record was changed by another station.");
  TheSavedError() = SavedError{5, "Access Denied", 0, ""};
  EXPECT_NE(Build(15, "Partneri").text.find("Probable Cause: Partneri."), std::string::npos);

  EXPECT_EQ(Build(29, "Down").caption, "End of File Error");
  EXPECT_EQ(Build(29, "Up").caption, "Beginning of File Error");
  EXPECT_EQ(Build(31, "Put", "Partneri").caption, "Process PUT Error");
  EXPECT_EQ(Build(31, "Delete", "Partneri").caption, "Process DELETE Error");
  EXPECT_EQ(Build(22, "X").text,
            "The File Xwas not found, and creation of the file is not allowed.  Press OK to end this application.");
}

TEST_F(WarningsTest, ButtonsDefaultsAndHalts) {
  WarningBox key = Build(2, "PARTNERI");
  EXPECT_EQ(key.text, "PARTNERI key file is invalid.  Do you want to rebuild the key?");
  EXPECT_EQ(key.buttons, 6);
  EXPECT_EQ(key.defaultButton, 2);
  EXPECT_EQ(key.haltOnNoText, "Invalid Key!");
  EXPECT_TRUE(key.haltText.empty());
  EXPECT_EQ(Build(1, "P").haltText, "Invalid File!");
  EXPECT_EQ(Build(3, "P").haltText, "Error Rebuilding Key!");
  EXPECT_EQ(Build(4, "P").haltText, "File Creation Error!");
  EXPECT_NE(Build(5, "P").text.find(") opening created file:P.  Press OK to end this application."),
            std::string::npos);
  WarningBox save = Build(33);
  EXPECT_EQ(save.buttons, 70);
  EXPECT_EQ(save.defaultButton, 4);
  EXPECT_EQ(Build(16).defaultButton, 64);
  EXPECT_EQ(Build(25).buttons, 80);
  EXPECT_EQ(Build(7).caption, "");
  EXPECT_EQ(Build(7).defaultButton, 0);
}

TEST_F(WarningsTest, NumbersOutsideTheCatalogueShowNothing) {
  WarningBox box;
  EXPECT_FALSE(BuildWarning(0, {}, {}, &box));
  EXPECT_FALSE(BuildWarning(39, {}, {}, &box));
  EXPECT_EQ(WarnUser(39), 0);
}

}  // namespace
}  // namespace pr::app
