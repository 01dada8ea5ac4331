// ADD_PARTNER end to end on real files in a scratch folder, with the message
// and stop boxes recorded instead of shown.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/module.h"
#include "app/partner_file.h"
#include "ui/message.h"

extern "C" int32_t ADD_PARTNER(const char* name);

namespace pr::app {
namespace {

struct Shown {
  std::string text, caption, icon;
};
std::vector<Shown> g_shown;
std::vector<std::string> g_stops;

int RecordMessage(std::string_view text, std::string_view caption, std::string_view icon, std::string_view,
                  int, int) {
  g_shown.push_back({std::string(text), std::string(caption), std::string(icon)});
  return 1;
}
void RecordStop(std::string_view text, bool) { g_stops.emplace_back(text); }

class AddPartnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pr_add_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    g_shown.clear();
    g_stops.clear();
    oldMessage_ = ui::SetMessageFunction(RecordMessage);
    oldStop_ = ui::SetStopFunction(RecordStop);
  }
  void TearDown() override {
    ui::SetMessageFunction(oldMessage_);
    ui::SetStopFunction(oldStop_);
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  bool FileExists() const { return std::filesystem::exists(dir_ + "/PARTNERI.TWL"); }

  std::string dir_;
  std::filesystem::path old_;
  ui::MessageFunction oldMessage_ = nullptr;
  ui::StopFunction oldStop_ = nullptr;
};

TEST_F(AddPartnerTest, BlankNamesAskForANameAndLeaveTheFileAlone) {
  for (const char* name : {static_cast<const char*>(nullptr), "", "     "}) {
    g_shown.clear();
    EXPECT_EQ(ADD_PARTNER(name), -1);
    ASSERT_EQ(g_shown.size(), 1u);
    EXPECT_EQ(g_shown[0].text, "Partner name must be entered !");
    EXPECT_EQ(g_shown[0].caption, "Info");
    EXPECT_EQ(g_shown[0].icon, std::string("\xFF\x01\x02\x7F", 4));
  }
  EXPECT_FALSE(FileExists());
}

TEST_F(AddPartnerTest, FirstCallCreatesTheFileAndIdentifiersFollowTheHighest) {
  EXPECT_EQ(ADD_PARTNER("Ana"), 1);
  EXPECT_TRUE(FileExists());
  ASSERT_EQ(g_shown.size(), 1u);
  EXPECT_EQ(g_shown[0].text, "Partner Ana is added to database!");
  EXPECT_EQ(g_shown[0].icon, std::string("\xFF\x01\x05\x7F", 4));
  EXPECT_EQ(ADD_PARTNER("Ivo"), 2);
  EXPECT_EQ(CurrentThreadBlock().openCount, 0);  // closed again
  // The record buffer holds the record just added, the name padded to 20.
  EXPECT_EQ(PartnerBuffer()->id, 2);
  EXPECT_EQ(std::string(PartnerBuffer()->naziv, 20), "Ivo                 ");
}

TEST_F(AddPartnerTest, LongNamesAreStoredCutAndShownWhole) {
  const std::string longName = "Trgovacko drustvo Zvirko d.o.o.";  // 31 characters
  EXPECT_EQ(ADD_PARTNER(longName.c_str()), 1);
  EXPECT_EQ(g_shown.back().text, "Partner " + longName + " is added to database!");
  EXPECT_EQ(std::string(PartnerBuffer()->naziv, 20), longName.substr(0, 20));
  // Trailing spaces stay in the message.
  EXPECT_EQ(ADD_PARTNER("Mate  "), 2);
  EXPECT_EQ(g_shown.back().text, "Partner Mate   is added to database!");
  // A name longer than the 1199-character copy is cut there.
  std::string huge(5000, 'x');
  EXPECT_EQ(ADD_PARTNER(huge.c_str()), 3);
  EXPECT_EQ(g_shown.back().text, "Partner " + std::string(1199, 'x') + " is added to database!");
}

}  // namespace
}  // namespace pr::app
