// The entries of the update form as a user meets them: prhost runs the form
// over a partner file in a scratch folder, a headless script types, and the
// test reads back what the file holds afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "prhost_test_util.h"
#include "app/partner_file.h"
#include "app/partner_open.h"
#include "app/warnings.h"
#include "files/errors.h"
#include "files/statements.h"

namespace pr::app {
namespace {

class FormEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pr_form_entry_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Runs `prhost --ui=headless ARGS` in the scratch folder with `script` as
  // the user; returns the transcript, with prhost's output in `output_`.
  std::string Prhost(const std::string& args, const std::string& script) {
    testing::HostRun run = testing::RunPrhost(dir_, args, script);
    output_ = run.output;
    EXPECT_EQ(run.status, 0) << output_;
    return run.transcript;
  }

  // Runs the Change form on partner 1.
  std::string Change(const std::string& script) { return Prhost("form change 1", script); }

  // Partners in the file, identifier to name (without the padding).
  std::map<int32_t, std::string> Partners() { return testing::StoredPartners(dir_); }
  void Store(const std::vector<std::string>& names) { testing::StorePartners(dir_, names); }

  using Map = std::map<int32_t, std::string>;
  std::string dir_;
  std::string output_;
};

// Escape is the entry's before it is the window's: the number typed into
// the focused entry is undone, the name accepted before it stays, and the
// save that the close question offers stores what the user saw.
TEST_F(FormEntryTest, EscapeUndoesTheFocusedEntryBeforeTheFormCloses) {
  Store({"Ana"});
  std::string transcript = Change(
      "key Tab\ntype \"Mara\"\nkey Shift+Tab\ntype \"7\"\nkey Esc\n"
      "expect \"Do you want to save the changes to this record?\"\npress \"Yes\"\n");
  EXPECT_EQ(transcript.find("expect failed"), std::string::npos) << transcript;
  EXPECT_EQ(Partners(), (Map{{1, "Mara"}})) << transcript;
  // Escape on an untouched form closes it at once and changes nothing.
  transcript = Change("key Tab\nkey Esc\n");
  EXPECT_EQ(transcript.find("Do you want to save"), std::string::npos) << transcript;
  EXPECT_NE(output_.find("response 2"), std::string::npos) << output_;
  EXPECT_EQ(Partners(), (Map{{1, "Mara"}}));
}

// Typing into the entry that has the focus replaces its value, on every way
// the entry comes to be edited: the first entry of the form, and the entry
// that a rejection displays and selects again.
TEST_F(FormEntryTest, TypingReplacesTheShownValueWhereverEditingStarts) {
  Store({"Ana", "Ben", "Cvita"});
  Change("type \"5\"\npress \"OK\"\n");
  EXPECT_EQ(Partners(), (Map{{2, "Ben"}, {3, "Cvita"}, {5, "Ana"}}));
  // Refused letters, then a number: the number replaces the redisplayed 2.
  std::string transcript = Prhost("form change 2", "type \"abc\"\nkey Enter\ntype \"77\"\npress \"OK\"\n");
  EXPECT_NE(transcript.find("beep"), std::string::npos) << transcript;
  EXPECT_EQ(Partners(), (Map{{3, "Cvita"}, {5, "Ana"}, {77, "Ben"}})) << transcript;
  // The name entry reached by Tab and typed over, then the number again
  // after the name: both replace.
  Prhost("form change 3", "key Tab\ntype \"Dora\"\nkey Shift+Tab\ntype \"4\"\npress \"OK\"\n");
  EXPECT_EQ(Partners(), (Map{{4, "Dora"}, {5, "Ana"}, {77, "Ben"}}));
}

// A refused number that was wider than the entry is redisplayed from its
// first character: the restored identifier is on the screen, not scrolled
// out of sight.
TEST_F(FormEntryTest, RedisplayAfterARejectionShowsTheValueFromItsStart) {
  Store({"Ana"});
  std::string transcript = Change("type \"99999999999999\"\nkey Enter\ndump\npress \"Cancel\"\n");
  const size_t dump = transcript.find("screen ");
  ASSERT_NE(dump, std::string::npos) << transcript;
  // The entry shows the identifier right-justified with one blank after it,
  // and nothing of the refused text.
  std::istringstream rows(transcript.substr(dump));
  bool shown = false;
  for (std::string row; std::getline(rows, row);) {
    EXPECT_EQ(row.find("999"), std::string::npos) << transcript;
    if (row.find(" 1 ") != std::string::npos) shown = true;
  }
  EXPECT_TRUE(shown) << transcript;
  EXPECT_EQ(Partners(), (Map{{1, "Ana"}}));
}

// A NUL byte in a script line makes that line a script error; the lines
// after it are still played.
TEST_F(FormEntryTest, NulByteInTheScriptIsAnErrorAndTheScriptGoesOn) {
  Store({"Ana"});
  std::string script = "key Tab\nkey End\ntype \"x\"\nkey Ta";
  script += '\0';
  script += "b\ntype \"y\"\npress \"OK\"\n";
  std::string transcript = Change(script);
  EXPECT_NE(transcript.find("script error: line 4: NUL byte in the line"), std::string::npos) << transcript;
  EXPECT_EQ(Partners(), (Map{{1, "Anaxy"}})) << transcript;
}

// Ctrl+H is Backspace, in the name entry as anywhere; Ctrl+D recalls the
// record last saved by a form, and it is the key warning 38 names.
TEST_F(FormEntryTest, CtrlHIsBackspaceAndCtrlDIsTheDittoTheWarningNames) {
  Store({"Zed", "Ana"});
  Change("key Tab\nkey End\nkey Ctrl+H\npress \"OK\"\n");
  EXPECT_EQ(Partners(), (Map{{1, "Ze"}, {2, "Ana"}}));
  // Within one process: the saved record of the first form is the ditto of
  // the second.  prhost browse runs both; partner 2 is changed to "Ze".
  std::string transcript = Prhost("browse",
                                  "key Ctrl+Enter\nkey Tab\ntype \"Zara\"\npress \"OK\"\n"
                                  "key Down\nkey Ctrl+Enter\nkey Tab\nkey Ctrl+D\npress \"OK\"\nkey Esc\n");
  EXPECT_EQ(Partners(), (Map{{1, "Zara"}, {2, "Zara"}})) << transcript;
  WarningBox box;
  ASSERT_TRUE(BuildWarning(38, "", "", &box));
  EXPECT_NE(box.text.find("Ctrl+D"), std::string::npos) << box.text;
}

}  // namespace
}  // namespace pr::app
