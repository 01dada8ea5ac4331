#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/winuser.h"
#include "tests/ui/event_test_support.h"
#include "ui/driver_dialogs.h"

namespace pr::ui {
namespace {

class DriverDialogTest : public testing::HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    HeadlessClearTranscript();
  }
  std::string Transcript() { return HeadlessTranscript(); }
};

std::string g_helpTopic;

TEST_F(DriverDialogTest, BuilderRebuildsTheDriverString) {
  std::string driver;
  HeadlessScript(
      "expect \"Tarnwell Driver String Builder\"\n"
      "expect \"of \\\\TARNWELL.TCF. This file is used in recovery after a power\"\n"
      "type \"c:\\\\data\\\\x.tcf\"\n"
      "press \"Check Decimal Places\"\n"
      "expect \"cause an Invalid Record Declaration error when\"\n"
      "press \"OK\"");
  EXPECT_EQ(DriverStringBuilder(&driver), 1);
  EXPECT_EQ(driver, "TCF=c:\\data\\x.tcf;DecimalCheck=OFF");
  EXPECT_EQ(Transcript().find("expect failed"), std::string::npos) << Transcript();

  // Read back: the check box starts checked; unchecked, it gives "ON".
  // Items the builder does not edit are kept.
  driver = "decimalcheck = OFF;FLAGS=3";
  HeadlessScript("press \"Check Decimal Places\"\npress \"OK\"");
  EXPECT_EQ(DriverStringBuilder(&driver), 1);
  EXPECT_EQ(driver, "DecimalCheck=ON;FLAGS=3");
}

TEST_F(DriverDialogTest, CancelAndHelpLeaveTheStringAlone) {
  SetDriverHelpHandler([](const char* topic) { g_helpTopic = topic; });
  std::string driver = "TCF=a.tcf";
  HeadlessScript("type \"zzz\"\npress \"Help\"\npress \"Cancel\"");
  EXPECT_EQ(DriverStringBuilder(&driver), 0);
  EXPECT_EQ(driver, "TCF=a.tcf");
  EXPECT_EQ(g_helpTopic, "~DrvStrTwl");
  SetDriverHelpHandler(nullptr);
  // The input running out ends the window without OK.
  EXPECT_EQ(DriverStringBuilder(&driver), 0);
  EXPECT_EQ(driver, "TCF=a.tcf");
}

class TableDialogTest : public DriverDialogTest {
 protected:
  void SetUp() override {
    DriverDialogTest::SetUp();
    char pattern[] = "/tmp/pr_driver_dialogs_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    std::ofstream("people.twl") << "x";
    std::ofstream("notes.txt") << "x";
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path dir_, old_;
};

TEST_F(TableDialogTest, PicksAFileAndATable) {
  std::string seenFile;
  TableLister lister = [&](const std::string& file, std::vector<std::string>* names) {
    seenFile = file;
    *names = {"ORDERS", "UNNAMED"};
    return 0;
  };
  HeadlessScript(
      "expect \"Open Tarnwell File\"\n"
      "expect \"people.twl\"\n"
      "key Tab\nkey Down\n"  // the file list: the first file
      "press \"OK\"\n"
      "expect \"Select Tarnwell Table\"\n"
      "expect \"UNNAMED\"\n"
      "key Down\n"
      "press \"OK\"");
  std::string file, table = "x";
  EXPECT_EQ(PickTable(lister, &file, &table), 1);
  EXPECT_EQ(seenFile, "people.twl");
  EXPECT_EQ(file, "people.twl");
  EXPECT_EQ(table, "");  // the default table
  std::string t = Transcript();
  EXPECT_EQ(t.find("expect failed"), std::string::npos) << t;
  EXPECT_EQ(t.find("notes.txt"), std::string::npos);

  HeadlessScript("type \"people.twl\"\npress \"OK\"\npress \"OK\"");
  EXPECT_EQ(PickTable(lister, &file, &table), 1);
  EXPECT_EQ(table, "ORDERS");
}

TEST_F(TableDialogTest, ErrorsAndCancel) {
  TableLister failing = [](const std::string&, std::vector<std::string>*) { return 36; };
  HeadlessScript("type \"notes.txt\"\npress \"OK\"\npress \"OK\"");
  std::string file, table;
  EXPECT_EQ(PickTable(failing, &file, &table), 0);
  EXPECT_NE(Transcript().find("dialog \"Open Tarnwell File\""), std::string::npos) << Transcript();
  HeadlessScript("press \"Cancel\"");
  EXPECT_EQ(PickTable(failing, &file, &table), 0);
  // A wildcard typed as the name filters the list again.
  HeadlessScript("type \"*.txt\"\npress \"OK\"\nexpect \"notes.txt\"\npress \"Cancel\"");
  HeadlessClearTranscript();
  std::string name;
  EXPECT_FALSE(ChooseFile("Pick", "Tarnwell Files (*.twl)|*.TWL", &name));
  EXPECT_EQ(Transcript().find("expect failed"), std::string::npos) << Transcript();
}

}  // namespace
}  // namespace pr::ui
