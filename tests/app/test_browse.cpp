// The browse window and the update form end to end: prhost runs them over a
// partner file in a scratch folder, a headless script plays the user, and the
// transcript (screen dumps, dialogs, menus) and prhost's output are checked.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "prhost_test_util.h"

namespace pr::app {
namespace {

using testing::HostRun;
using testing::ReadFile;

class BrowseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pr_browse_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Runs `prhost --ui=headless ARGS` in the scratch folder with `script` as
  // the user.
  HostRun Prhost(const std::string& args, const std::string& script) { return Prhost(args, script, 0); }
  HostRun Prhost(const std::string& args, const std::string& script, int status) {
    HostRun run = testing::RunPrhost(dir_, args, script);
    EXPECT_EQ(run.status, status) << run.output;
    return run;
  }

  void Store(const std::vector<std::string>& names) { testing::StorePartners(dir_, names); }
  void Store(const std::vector<std::pair<int32_t, std::string>>& partners) { testing::StorePartners(dir_, partners); }

  // What the select command says was selected ("" when nothing).
  static std::string Selected(const HostRun& run) {
    std::smatch m;
    static const std::regex kPartner("partner (-?\\d+)\\t([^\\n]*)");
    return std::regex_search(run.output, m, kPartner) ? m[1].str() + " " + m[2].str() : "";
  }

  std::string dir_;
};

// The identifiers in the list of each screen dump, one vector per dump.
std::vector<std::vector<int>> ListedIds(const std::string& transcript) {
  std::vector<std::vector<int>> dumps;
  std::istringstream in(transcript);
  static const std::regex kRow("^\\| \\S+ +\\S+ +([0-9,]+) \\| ");  // @n-14 groups thousands
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("screen ", 0) == 0) dumps.emplace_back();
    std::smatch m;
    if (dumps.empty() || !std::regex_search(line, m, kRow)) continue;
    std::string digits = m[1].str();
    std::erase(digits, ',');
    dumps.back().push_back(std::stoi(digits));
  }
  return dumps;
}

TEST_F(BrowseTest, EmptyFileGreysThePopupAndInsertReservesOneThatCancelTakesBack) {
  HostRun run = Prhost("select",
                   "rclick 30 8\n"
                   "menu cancel\n"
                   "press \"Insert\"\n"
                   "dump\n"
                   "press \"Cancel\"\n"
                   "dump\n"
                   "press \"Close\"\n");
  EXPECT_NE(run.transcript.find("menu \"&Insert\" ~\"&Change\" ~\"&Delete\" - ~\"&Select\""), std::string::npos)
      << run.transcript;
  std::vector<std::vector<int>> dumps = ListedIds(run.transcript);
  ASSERT_EQ(dumps.size(), 2u) << run.transcript;
  EXPECT_NE(run.transcript.find("Update Records..."), std::string::npos);
  // The form showed the reserved identifier 1; after Cancel the list is
  // empty again and Close answers Cancelled for a selector.
  EXPECT_TRUE(dumps[1].empty()) << run.transcript;
  EXPECT_NE(run.output.find("response 2"), std::string::npos) << run.output;

  // The reservation is gone from the file: the next insert gets 1 again.
  run = Prhost("form insert", "key Tab\ntype \"Prvi\"\nkey Enter\n");
  EXPECT_NE(run.output.find("response 1"), std::string::npos) << run.output;
  EXPECT_EQ(Selected(run), "1 Prvi");
}

TEST_F(BrowseTest, SelectAndCloseAnswerByRequest) {
  Store({"Alfa", "Beta", "Gama"});
  HostRun run = Prhost("select", "key Down\npress \"Select\"\n");
  EXPECT_NE(run.output.find("response 1"), std::string::npos) << run.output;
  EXPECT_EQ(Selected(run), "2 Beta");
  run = Prhost("select", "key Down\nkey Down\nrclick 30 8\nmenu 4\n");
  EXPECT_EQ(Selected(run), "3 Gama") << run.transcript;
  run = Prhost("select", "press \"Close\"\n");
  EXPECT_NE(run.output.find("response 2"), std::string::npos) << run.output;
  run = Prhost("browse", "press \"Close\"\n");
  EXPECT_NE(run.output.find("response 1"), std::string::npos) << run.output;
  // A maintenance window has no Select button and greys it in the popup.
  run = Prhost("browse", "rclick 30 8\nmenu cancel\nkey Esc\n");
  EXPECT_NE(run.transcript.find("menu \"&Insert\" \"&Change\" \"&Delete\" - ~\"&Select\""), std::string::npos)
      << run.transcript;
}

TEST_F(BrowseTest, InsertedPartnerIsHighlighted) {
  Store({"A", "B", "C", "D", "E", "F"});
  HostRun run = Prhost("select", "key Insert\nkey Tab\ntype \"Sedmi\"\nkey Enter\ndump\npress \"Select\"\n");
  EXPECT_EQ(Selected(run), "7 Sedmi") << run.transcript;
  std::vector<std::vector<int>> dumps = ListedIds(run.transcript);
  ASSERT_FALSE(dumps.empty());
  EXPECT_EQ(dumps.back(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(BrowseTest, NextRecordFromTheFormSavesAndMovesOn) {
  Store({"A", "B", "C"});
  // From a Change form: F10 (toolbar 2008) saves row 1 and opens row 2.
  HostRun run = Prhost("select",
                       "key Ctrl+Enter\nkey Tab\nkey End\ntype \"x\"\nkey F10\n"
                       "press \"Cancel\"\ndump\npress \"Select\"\n");
  EXPECT_EQ(Selected(run), "2 B") << run.transcript;
  EXPECT_NE(run.transcript.find("| Ax "), std::string::npos) << run.transcript;
  // From an Insert form it saves and offers a fresh Insert form, whose
  // reservation (5) goes again on Cancel.
  run = Prhost("browse", "key Insert\nkey Tab\ntype \"Novi\"\nkey F10\ndump\npress \"Cancel\"\ndump\nkey Esc\n");
  std::vector<std::vector<int>> dumps = ListedIds(run.transcript);
  ASSERT_EQ(dumps.size(), 2u) << run.transcript;
  EXPECT_NE(run.transcript.find("Update Records..."), std::string::npos);
  EXPECT_EQ(dumps[1], (std::vector<int>{1, 2, 3, 4})) << run.transcript;
  EXPECT_NE(run.transcript.find("| Novi "), std::string::npos) << run.transcript;
}

TEST_F(BrowseTest, UnchangedChangeWritesNothingAndCompletes) {
  Store({"Alfa"});
  const std::string file = dir_ + "/PARTNERI.TWL";
  const std::string before = ReadFile(file);
  HostRun run = Prhost("form change 1", "press \"OK\"\n");
  EXPECT_NE(run.output.find("response 1"), std::string::npos) << run.output;
  EXPECT_EQ(ReadFile(file), before);
  run = Prhost("form change 1", "key Tab\nkey End\ntype \"2\"\npress \"OK\"\n");
  EXPECT_EQ(Selected(run), "1 Alfa2");
  EXPECT_NE(ReadFile(file), before);
}

TEST_F(BrowseTest, ZvirkoIsNeverDeleted) {
  Store({"Zvirko", "Zvirko", "Ostali"});
  // The name is padded with spaces in the record; either way it is refused.
  for (const char* id : {"1", "2"}) {
    HostRun run = Prhost(std::string("form delete ") + id, "press \"OK\"\npress \"OK\"\n");
    EXPECT_NE(run.transcript.find("dialog \"Greška\" icon (X) text \"Ne moš brisat Zvirku, čovječe!\""),
              std::string::npos)
        << run.transcript;
    EXPECT_NE(run.output.find("response 2"), std::string::npos) << run.output;
  }
  HostRun run = Prhost("form delete 3", "press \"OK\"\n");
  EXPECT_NE(run.output.find("response 1"), std::string::npos) << run.output;
  run = Prhost("browse", "dump\nkey Esc\n");
  std::vector<std::vector<int>> dumps = ListedIds(run.transcript);
  ASSERT_EQ(dumps.size(), 1u);
  EXPECT_EQ(dumps[0], (std::vector<int>{1, 2}));
}

TEST_F(BrowseTest, DittoCopiesTheLastSavedName) {
  // Ditto is Ctrl+D (key code 0x244).
  HostRun run = Prhost("browse",
                       "key Insert\nkey Tab\ntype \"Dito\"\nkey Enter\n"
                       "key Insert\nkey Tab\nkey Ctrl+D\nkey Enter\ndump\nkey Esc\n");
  std::vector<std::vector<int>> dumps = ListedIds(run.transcript);
  ASSERT_FALSE(dumps.empty()) << run.transcript;
  EXPECT_EQ(dumps.back(), (std::vector<int>{1, 2})) << run.transcript;
  const size_t second = run.transcript.rfind("| Dito ");
  ASSERT_NE(second, std::string::npos) << run.transcript;
  EXPECT_NE(run.transcript.rfind("| Dito ", second - 1), std::string::npos) << run.transcript;
}

TEST_F(BrowseTest, ClosingAChangedFormAsksAndCancelKeepsItOpen) {
  Store({"Alfa"});
  HostRun run = Prhost("form change 1",
                   "key Tab\nkey End\ntype \"Z\"\nkey Tab\nkey Esc\npress \"Cancel\"\ndump\n"
                   "key Esc\npress \"No\"\n");
  const std::string question = "text \"Do you want to save the changes to this record?\"";
  size_t asked = run.transcript.find(question);
  ASSERT_NE(asked, std::string::npos) << run.transcript;
  EXPECT_NE(run.transcript.find("Update Records...", asked), std::string::npos);  // still open after Cancel
  EXPECT_NE(run.transcript.find(question, asked + 1), std::string::npos);           // asked again
  EXPECT_NE(run.output.find("response 2"), std::string::npos) << run.output;
  EXPECT_EQ(Selected(Prhost("form view 1", "press \"OK\"\nkey Esc\n")), "1 Alfa");
}

TEST_F(BrowseTest, PagingThroughTenThousandShowsEveryIdentifierOnceInOrder) {
  constexpr int kPartners = 10000;
  std::vector<std::string> names;
  for (int i = 1; i <= kPartners; ++i) names.push_back("P" + std::to_string(i));
  Store(names);
  // Enough pages to reach the end and come back even with one row a page.
  std::string script = "dump\n";
  const int pages = 1100;
  for (int i = 0; i < pages; ++i) script += "key PgDn\ndump\n";
  for (int i = 0; i < pages; ++i) script += "key PgUp\ndump\n";
  script += "key Esc\n";
  HostRun run = Prhost("browse", script);
  std::vector<std::vector<int>> dumps = ListedIds(run.transcript);
  ASSERT_EQ(dumps.size(), static_cast<size_t>(2 * pages + 1));
  const size_t rows = dumps[0].size();
  ASSERT_GT(rows, 1u);
  std::vector<int> seen;
  int last = 0;
  bool down = true;
  for (size_t d = 0; d < dumps.size(); ++d) {
    const std::vector<int>& page = dumps[d];
    ASSERT_EQ(page.size(), rows) << "dump " << d << " first " << (page.empty() ? -1 : page.front()) << " prev " << dumps[d - 1].front() << ".." << dumps[d - 1].back();
    for (size_t r = 1; r < page.size(); ++r) ASSERT_EQ(page[r], page[r - 1] + 1) << "dump " << d;
    if (d == static_cast<size_t>(pages) + 1) down = false;
    if (down) {
      // Going down, each page starts where the last one ended (or overlaps
      // it at the end of the file); the new rows are taken in order.
      ASSERT_LE(page.front(), last + 1) << "dump " << d;
      for (int id : page)
        if (id > last) seen.push_back(last = id);
    }
  }
  ASSERT_EQ(seen.size(), static_cast<size_t>(kPartners));
  EXPECT_EQ(seen.front(), 1);
  EXPECT_EQ(seen.back(), kPartners);
  EXPECT_EQ(dumps[pages].back(), kPartners);
  // And back up: each page ends where the next one starts, down to 1.
  std::vector<int> back;
  int first = kPartners + 1;
  for (size_t d = pages; d < dumps.size(); ++d) {
    const std::vector<int>& page = dumps[d];
    ASSERT_GE(page.back(), first - 1) << "dump " << d;
    for (auto it = page.rbegin(); it != page.rend(); ++it)
      if (*it < first) back.push_back(first = *it);
  }
  ASSERT_EQ(back.size(), static_cast<size_t>(kPartners));
  EXPECT_EQ(back.back(), 1);
}

// A file the store finds damaged (here cut short) shows the driver error box
// in the window system before the program ends, and prhost ends with its one
// status for a program the module halted, whatever the error number.
TEST_F(BrowseTest, DriverErrorIsShownBeforeTheHalt) {
  std::vector<std::string> names;
  for (int i = 1; i <= 300; ++i) names.push_back("P" + std::to_string(i));
  Store(names);
  std::filesystem::resize_file(dir_ + "/PARTNERI.TWL", 4096);
  for (const char* command : {"add x", "browse"}) {
    HostRun run = Prhost(command, "", 3);
    EXPECT_NE(run.transcript.find("dialog \"Halt\" icon (X) text \"Possible data corruption in file (2172)\" "
                                  "buttons \"OK\""),
              std::string::npos)
        << command << "\n" << run.transcript << run.output;
  }
  // A warning's halt (exit code 0 in the module) is no success either: a
  // file that is not a keyed file ends in warning 30 and "Disk Error".
  std::ofstream(dir_ + "/PARTNERI.TWL", std::ios::trunc) << std::string(2048, 'x');
  HostRun run = Prhost("add x", "press \"OK\"\npress \"OK\"\n", 3);
  EXPECT_NE(run.transcript.find("dialog \"Halt\" icon (X) text \"Disk Error\""), std::string::npos)
      << run.transcript;
  EXPECT_EQ(run.output.find("-1\tx"), std::string::npos) << run.output;
}

// The form and the list show whole values where their labels are: the ID
// value on its label's row, all 20 characters of a name in the entry and in
// the list, the lowest LONG with its sign; a disabled default button loses
// its default marks.
TEST_F(BrowseTest, LayoutShowsWholeValuesBesideTheirLabels) {
  Store({{INT32_MIN, "ABCDEFGHIJKLMNOPQRST"}, {7, "Sedam"}});
  HostRun run = Prhost("form change 7", "dump\npress \"Cancel\"\n");
  EXPECT_TRUE(std::regex_search(run.transcript, std::regex("ID: +7 +\xe2\x94\x82"))) << run.transcript;
  run = Prhost("form view -2147483648", "dump\npress \"OK\"\nkey Esc\n");
  EXPECT_TRUE(std::regex_search(run.transcript, std::regex("Name : +ABCDEFGHIJKLMNOPQRST"))) << run.transcript;
  EXPECT_TRUE(std::regex_search(run.transcript, std::regex("ID: +-2,147,483,648"))) << run.transcript;
  run = Prhost("browse", "dump\nkey Esc\n");
  EXPECT_NE(run.transcript.find("-2,147,483,648 | ABCDEFGHIJKLMNOPQRST|"), std::string::npos) << run.transcript;
}

TEST_F(BrowseTest, DisabledDefaultButtonHasNoDefaultMarks) {
  HostRun run = Prhost("browse", "dump\nkey Esc\n");
  EXPECT_NE(run.transcript.find("[ Change ]"), std::string::npos) << run.transcript;
  EXPECT_EQ(run.transcript.find("\u00bb Change \u00ab"), std::string::npos) << run.transcript;
}

// The form says what OK will do in the status line, and gives the caller's
// status back; View and Delete show the record without taking typing.
TEST_F(BrowseTest, FormSaysWhatItWillDoAndViewAndDeleteAreReadOnly) {
  Store({"Alfa"});
  const std::pair<const char*, const char*> kForms[] = {{"form insert", "Record will be Added"},
                                                        {"form change 1", "Record will be Changed"},
                                                        {"form delete 1", "Record will be Deleted"},
                                                        {"form view 1", "View Record"}};
  for (const auto& [command, message] : kForms) {
    HostRun run = Prhost(command, "key Tab\nkey End\ntype \"zz\"\ndump\npress \"Cancel\"\npress \"No\"\n");
    EXPECT_TRUE(std::regex_search(run.transcript, std::regex("\\| \xe2\x94\x82" + std::string(message) + " ")))
        << command << "\n" << run.transcript;
    const bool typed = run.transcript.find("zz ") != std::string::npos;
    const bool readOnly = std::string(command).find("view") != std::string::npos ||
                          std::string(command).find("delete") != std::string::npos;
    EXPECT_EQ(typed, !readOnly) << command << "\n" << run.transcript;
  }
  EXPECT_EQ(Selected(Prhost("form view 1", "key Esc\n")), "1 Alfa");
}

// A right click highlights the row under the mouse before the popup opens,
// so the popup's Change and Delete act on that row; Shift+F10 and the Menu
// key open the popup from the keyboard.
TEST_F(BrowseTest, PopupActsOnTheRowRightClicked) {
  Store({"Alfa", "Beta", "Gama"});
  // At 80 x 25 the list's first row is screen line 6.
  HostRun run = Prhost("browse", "key Down\nkey Down\nrclick 20 6\nmenu 2\ndump\npress \"Cancel\"\nkey Esc\n");
  EXPECT_TRUE(std::regex_search(run.transcript, std::regex("ID: +1 +\xe2\x94\x82"))) << run.transcript;
  run = Prhost("browse", "rclick 20 7\nmenu 3\npress \"OK\"\ndump\nkey Esc\n");
  std::vector<std::vector<int>> dumps = ListedIds(run.transcript);
  ASSERT_FALSE(dumps.empty()) << run.transcript;
  EXPECT_EQ(dumps.back(), (std::vector<int>{1, 3})) << run.transcript;

  run = Prhost("browse", "key Shift+F10\nmenu cancel\nkey Apps\nmenu 2\ndump\npress \"Cancel\"\nkey Esc\n");
  size_t first = run.transcript.find("menu \"&Insert\"");
  ASSERT_NE(first, std::string::npos) << run.transcript;
  EXPECT_NE(run.transcript.find("menu \"&Insert\"", first + 1), std::string::npos) << run.transcript;
  EXPECT_NE(run.transcript.find("Update Records..."), std::string::npos) << run.transcript;
}

// Typed digits position the browse on that identifier anywhere in the file
// (through the key, not among the rows on screen), and the status line says
// what is being located; past the last identifier the last page shows.
TEST_F(BrowseTest, TypedDigitsLocateTheIdentifierInTheWholeFile) {
  std::vector<std::string> names;
  for (int i = 1; i <= 3000; ++i) names.push_back("P" + std::to_string(i));
  Store(names);
  HostRun run = Prhost("select", "type \"2500\"\ndump\npress \"Select\"\n");
  EXPECT_EQ(Selected(run), "2500 P2500") << run.transcript;
  std::vector<std::vector<int>> dumps = ListedIds(run.transcript);
  ASSERT_EQ(dumps.size(), 1u) << run.transcript;
  ASSERT_FALSE(dumps[0].empty());
  EXPECT_EQ(dumps[0].front(), 2500) << run.transcript;
  EXPECT_NE(run.transcript.find("Locate ID: 2500"), std::string::npos) << run.transcript;
  // Backspace takes the last digit back (250), beyond the end is the end.
  run = Prhost("select", "type \"2500\"\nkey Backspace\npress \"Select\"\n");
  EXPECT_EQ(Selected(run), "250 P250") << run.transcript;
  run = Prhost("select", "type \"99999\"\npress \"Select\"\n");
  EXPECT_EQ(Selected(run), "3000 P3000") << run.transcript;
  // A scroll key ends the locate: the next digits start a new one.
  run = Prhost("select", "type \"12\"\nkey Down\ntype \"7\"\npress \"Select\"\n");
  EXPECT_EQ(Selected(run), "7 P7") << run.transcript;
}

// The name search ("/" or F12, then the text) and prhost's --filter go
// through the view's filter property: the list holds only the matches.  A
// filter the view refuses is said in a box, and every partner is listed.
TEST_F(BrowseTest, NameSearchAndFilterGoThroughTheViewFilter) {
  Store({"Alfa", "Beta", "alfonso", "Gama", "O'Hara"});
  HostRun run = Prhost("select", "type \"/\"\ntype \"alf\"\ndump\npress \"Select\"\n");
  EXPECT_EQ(run.transcript.find("dialog \"View Filter Error\""), std::string::npos) << run.transcript;
  std::vector<std::vector<int>> dumps = ListedIds(run.transcript);
  ASSERT_FALSE(dumps.empty()) << run.transcript;
  EXPECT_EQ(dumps.back(), (std::vector<int>{1, 3})) << run.transcript;
  EXPECT_NE(run.transcript.find("Search name: alf"), std::string::npos) << run.transcript;
  EXPECT_EQ(Selected(run), "1 Alfa");
  // F12 starts a search too; a quote in the text is taken as a letter.
  run = Prhost("select", "key F12\ntype \"'h\"\npress \"Select\"\n");
  EXPECT_EQ(Selected(run), "5 O'Hara") << run.transcript;
  // Backspace widens the search again.
  run = Prhost("select", "type \"/\"\ntype \"alfo\"\nkey Backspace\nkey Backspace\ndump\nkey Esc\n");
  dumps = ListedIds(run.transcript);
  ASSERT_FALSE(dumps.empty());
  EXPECT_EQ(dumps.back(), (std::vector<int>{1, 3})) << run.transcript;
  run = Prhost("select --filter \"PAR:ID>3\"", "dump\npress \"Select\"\n");
  EXPECT_EQ(Selected(run), "4 Gama") << run.transcript;
  run = Prhost("select --filter \"PAR:ID>\"", "press \"OK\"\ndump\npress \"Select\"\n");
  EXPECT_NE(run.transcript.find("The filter \\\"PAR:ID>\\\" cannot be used"), std::string::npos) << run.transcript;
  dumps = ListedIds(run.transcript);
  ASSERT_FALSE(dumps.empty()) << run.transcript;
  EXPECT_EQ(dumps.back(), (std::vector<int>{1, 2, 3, 4, 5})) << run.transcript;
  EXPECT_EQ(Selected(run), "1 Alfa");
}

TEST_F(BrowseTest, OrderFromTheHostAndBadViewOptions) {
  Store({"Alfa", "Beta", "Gama"});
  HostRun run = Prhost("select --order \"-PAR:ID\"", "dump\npress \"Select\"\n");
  std::vector<std::vector<int>> dumps = ListedIds(run.transcript);
  ASSERT_FALSE(dumps.empty());
  EXPECT_EQ(dumps.back(), (std::vector<int>{3, 2, 1})) << run.transcript;
  EXPECT_EQ(Selected(run), "3 Gama");
  for (const char* bad : {"browse --filter", "select --order a --order b", "browse --sort x", "browse extra"})
    Prhost(bad, "", 2);
}

// F1 shows the keys of the window in use, the toolbar's keys with what they
// do there; the form's status line says what F10 does in it.
TEST_F(BrowseTest, F1ShowsTheKeysOfTheWindowInUse) {
  Store({"Alfa"});
  HostRun run = Prhost("browse", "key F1\npress \"OK\"\nkey Esc\n");
  EXPECT_NE(run.transcript.find("dialog \"Keys of Browse Records\""), std::string::npos) << run.transcript;
  EXPECT_NE(run.transcript.find("Digits: go to that ID"), std::string::npos) << run.transcript;
  EXPECT_NE(run.transcript.find("F10: Go to the Next Record"), std::string::npos) << run.transcript;
  run = Prhost("form insert", "dump\nkey F1\npress \"OK\"\npress \"Cancel\"\n");
  EXPECT_NE(run.transcript.find("dialog \"Keys of Update Records\""), std::string::npos) << run.transcript;
  EXPECT_NE(run.transcript.find("F10: Save record and add another\\n"), std::string::npos) << run.transcript;
  EXPECT_NE(run.transcript.find("Record will be Added   F10: Save record and add another"), std::string::npos)
      << run.transcript;
  run = Prhost("form change 1", "key Tab\nkey F1\npress \"OK\"\npress \"Cancel\"\n");
  EXPECT_NE(run.transcript.find("F10: Save changes and go to next record"), std::string::npos) << run.transcript;
}

// The status line of each screen dump: the frame's last row inside its border.
std::vector<std::string> StatusLines(const std::string& transcript) {
  std::vector<std::string> out;
  std::istringstream in(transcript);
  std::string previous;
  for (std::string line; std::getline(in, line); previous = line) {
    if (line.rfind("| \xe2\x94\x94", 0) != 0 || previous.rfind("| \xe2\x94\x82", 0) != 0) continue;
    std::string text = previous.substr(5, previous.size() - 5 - 3);  // inside the two borders
    text.erase(text.find_last_not_of(' ') + 1);
    out.push_back(text);
  }
  return out;
}

// The mouse resting on a toolbar control or on a control of the window in
// use puts its tip on the status line; off them, the window's own status
// comes back, and so it does when the window says something new.
TEST_F(BrowseTest, TipOfTheControlUnderTheMouseIsOnTheStatusLine) {
  Store({"Alfa"});
  // (50, 1) is "F6 Last" on the toolbar's first row, (12, 2) "F10 Next" on its
  // second, (10, 8) the list, (79, 12) the frame's border.
  HostRun run = Prhost("browse", "mouse 50 1\ndump\nmouse 10 8\ndump\nmouse 79 12\ndump\n"
                                 "mouse 50 1\ntype \"2\"\ndump\nkey Esc\nkey Esc\n");
  std::vector<std::string> lines = StatusLines(run.transcript);
  ASSERT_EQ(lines.size(), 4u) << run.transcript;
  EXPECT_EQ(lines[0], "Go to the Last Page");
  EXPECT_EQ(lines[1], "Browsing Records");
  EXPECT_EQ(lines[2].rfind("F1: keys", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3], "Locate ID: 2");

  run = Prhost("form insert", "mouse 12 2\ndump\nmouse 79 12\ndump\npress \"Cancel\"\n");
  lines = StatusLines(run.transcript);
  ASSERT_EQ(lines.size(), 2u) << run.transcript;
  EXPECT_EQ(lines[0], "Save record and add another");
  EXPECT_EQ(lines[1].rfind("Record will be Added   F10: Save record and add another", 0), 0u) << lines[1];
}

// Escape first takes back what is being typed: an ID (the list stays where
// it went) or a name search (every partner is listed again); only then does
// it close the window.
TEST_F(BrowseTest, EscapeEndsTypingBeforeItClosesTheWindow) {
  Store({"Ana", "Ben", "Cvita"});
  HostRun run = Prhost("browse", "type \"3\"\nkey Esc\ndump\ntype \"/vi\"\ndump\nkey Esc\ndump\nkey Esc\n");
  EXPECT_NE(run.output.find("response 2"), std::string::npos) << run.output;
  std::vector<std::string> lines = StatusLines(run.transcript);
  std::vector<std::vector<int>> ids = ListedIds(run.transcript);
  ASSERT_EQ(lines.size(), 3u) << run.transcript;
  ASSERT_EQ(ids.size(), 3u) << run.transcript;
  EXPECT_EQ(lines[0].rfind("F1: keys", 0), 0u) << lines[0];
  EXPECT_EQ(ids[0], (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(lines[1].rfind("Search name: vi", 0), 0u) << lines[1];
  EXPECT_EQ(ids[1], (std::vector<int>{3}));
  EXPECT_EQ(lines[2].rfind("F1: keys", 0), 0u) << lines[2];
  EXPECT_EQ(ids[2], (std::vector<int>{1, 2, 3}));
}

}  // namespace
}  // namespace pr::app
