// The keyed-file driver's dialogs as twl commands, run headless from a
// script: what reaches standard output and the exit codes.
#include <gtest/gtest.h>

#include "tests/tools/twl_test_util.h"

namespace pr::twl::testing {
namespace {

Result Dialog(const Scratch& dir, const std::vector<std::string>& args, const std::string& script) {
  WriteAll(dir.File("script.txt"), script);
  return RunProgram(TwlPath(), args, dir.path(),
                    {"PR_UI=headless", "PR_UI_SCRIPT=" + dir.File("script.txt"),
                     "PR_UI_TRANSCRIPT=" + dir.File("transcript.txt")});
}

TEST(TwlDialogs, DriverStringPrintsTheRebuiltStringOrNothing) {
  Scratch dir;
  Result ok = Dialog(dir, {"driver-string", "FLAGS=3"},
                     "expect \"Tarnwell Driver String Builder\"\ntype \"x.tcf\"\npress \"OK\"\n");
  EXPECT_EQ(ok.exit, 0) << ok.err;
  EXPECT_EQ(ok.out, "TCF=x.tcf;DecimalCheck=ON;FLAGS=3\n");
  EXPECT_EQ(ReadAll(dir.File("transcript.txt")).find("expect failed"), std::string::npos);

  Result cancelled = Dialog(dir, {"driver-string", "TCF=a.tcf"}, "type \"zzz\"\npress \"Cancel\"\n");
  EXPECT_EQ(cancelled.exit, 1);
  EXPECT_EQ(cancelled.out, "");

  EXPECT_EQ(Dialog(dir, {"driver-string", "a", "b"}, "").exit, 2);
  Result badUi = Dialog(dir, {"driver-string", "--ui=window"}, "");
  EXPECT_EQ(badUi.exit, 2);
  EXPECT_NE(badUi.err.find("--ui"), std::string::npos) << badUi.err;
}

TEST(TwlDialogs, PickTableListsTheFilesTablesThroughTheStore) {
  Scratch dir;
  WritePartnerFile(dir.File("P.TWL"), 3, "PARTNERI");
  Result picked = Dialog(dir, {"pick-table", "--ui=headless"},
                         "type \"P.TWL\"\npress \"OK\"\nexpect \"Select Tarnwell Table\"\n"
                         "expect \"PARTNERI\"\npress \"OK\"\n");
  EXPECT_EQ(picked.exit, 0) << picked.err << ReadAll(dir.File("transcript.txt"));
  EXPECT_EQ(picked.out, "P.TWL\\!PARTNERI\n");
  EXPECT_EQ(ReadAll(dir.File("transcript.txt")).find("expect failed"), std::string::npos);

  // A file that is no keyed file: the error box, then nothing chosen.
  WriteAll(dir.File("notes.txt"), "not a keyed file");
  Result refused = Dialog(dir, {"pick-table", "notes.txt"}, "press \"OK\"\npress \"OK\"\n");
  EXPECT_EQ(refused.exit, 1);
  EXPECT_EQ(refused.out, "");
}

}  // namespace
}  // namespace pr::twl::testing
