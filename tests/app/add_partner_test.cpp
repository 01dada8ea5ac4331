// ADD_PARTNER end to end on real files in a scratch folder, with the message
// and stop boxes recorded instead of shown.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/module.h"
#include "app/partner_file.h"
#include "app/warnings.h"
#include "files/drivers.h"
#include "files/errors.h"
#include "files/statements.h"
#include "files/string_stack.h"
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

// Stores a partner with a chosen identifier through the file statements.
void StorePartner(int32_t id, const char* name) {
  files::FileDescriptor* file = Partneri();
  files::Open(file, 0x42);
  ASSERT_EQ(files::ErrorCode(), 0) << files::Error();
  std::memset(PartnerBuffer()->naziv, ' ', 20);
  std::memcpy(PartnerBuffer()->naziv, name, std::strlen(name));
  PartnerBuffer()->id = id;
  files::Add(file);
  ASSERT_EQ(files::ErrorCode(), 0) << files::Error();
  files::Close(file);
}

TEST_F(AddPartnerTest, NextIdentifierIsOneAboveTheHighestDespiteGaps) {
  StorePartner(3, "A");
  StorePartner(41, "B");
  StorePartner(17, "C");
  EXPECT_EQ(ADD_PARTNER("Novi"), 42);
}

// Runs `body` in a child process whose boxes and halt are written to a pipe;
// answers what the child wrote and its exit code.
std::string g_childLog;
int g_logFd = -1;
void LogLine(const std::string& line) {
  std::string text = line + "\n";
  (void)!write(g_logFd, text.data(), text.size());
}
int LogMessage(std::string_view text, std::string_view caption, std::string_view, std::string_view, int, int) {
  LogLine("BOX " + std::string(caption) + ": " + std::string(text));
  return 1;
}
void LogHalt(int code, std::optional<std::string_view> text) {
  LogLine("HALT " + std::string(text.value_or("")));
  _exit(code);
}
void LogStop(std::string_view text, bool) { LogLine("STOP " + std::string(text)); }

template <typename Body>
std::pair<std::string, int> InChild(Body body) {
  int fds[2];
  if (pipe(fds) != 0) return {"", -1};
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    g_logFd = fds[1];
    ui::SetMessageFunction(LogMessage);
    ui::SetHaltFunction(LogHalt);
    ui::SetStopFunction(LogStop);
    body();
    _exit(99);
  }
  close(fds[1]);
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST_F(AddPartnerTest, FileHeldExclusivelyElsewhereEndsWithDiskError) {
  ASSERT_EQ(ADD_PARTNER("Ana"), 1);
  // Another program holds the file alone (deny all).
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  pid_t holder = fork();
  if (holder == 0) {
    files::FileDescriptor* file = Partneri();
    files::Open(file, 0x12);
    char c = files::ErrorCode() == 0 ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    (void)!read(done[0], &c, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  auto [log, code] = InChild([] { ADD_PARTNER("Ivo"); });
  (void)!write(done[1], "x", 1);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(code, 0);
  EXPECT_NE(log.find("BOX File Access Error: File (PARTNERI.TWL) could not be opened.  Error: Access Denied (5)."),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("HALT Disk Error"), std::string::npos) << log;
}

TEST_F(AddPartnerTest, FileOfAnotherDeclarationIsAnInvalidFile) {
  // PARTNERI.TWL made by a declaration with a different record.
  static const files::FieldDescriptor fields[] = {
      {.place = 0, .size = 8, .type = files::TYPE_STRING, .label = "OTH:CODE", .name = {}},
  };
  static uint8_t record[8];
  files::FileDescriptor other;
  other.driver = files::DriverRecordFor("TARNWELL");
  other.entry = other.driver->entry;
  other.label = "PARTNERI";
  other.record = record;
  other.recordLength = sizeof record;
  other.declaration.fields = fields;
  other.declaration.fieldCount = 1;
  files::Create(&other);
  ASSERT_EQ(files::ErrorCode(), 0) << files::Error();
  files::Destroy(&other);  // the descriptor goes out of scope: release its driver state
  auto [log, code] = InChild([] { ADD_PARTNER("Ivo"); });
  EXPECT_EQ(code, 0);
  EXPECT_NE(log.find("BOX Invalid File: Error: ("), std::string::npos) << log;
  EXPECT_NE(log.find("HALT Invalid File!"), std::string::npos) << log;
}

TEST_F(AddPartnerTest, TwoProcessesAddingAtOnceLoseNothing) {
  ASSERT_EQ(ADD_PARTNER("Seed"), 1);
  constexpr int kPerProcess = 40;
  std::vector<pid_t> children;
  for (int p = 0; p < 2; ++p) {
    pid_t pid = fork();
    if (pid == 0) {
      ui::SetMessageFunction(RecordMessage);
      ui::SetStopFunction(RecordStop);
      int added = 0;
      for (int i = 0; i < kPerProcess; ++i)
        if (ADD_PARTNER(("P" + std::to_string(p) + "-" + std::to_string(i)).c_str()) > 0) ++added;
      _exit(added);
    }
    children.push_back(pid);
  }
  int added = 0;
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    added += WEXITSTATUS(status);
  }
  // Every ADD that succeeded is in the file once; identifiers are unique.
  files::FileDescriptor* file = Partneri();
  files::Open(file, 0x42);
  ASSERT_EQ(files::ErrorCode(), 0);
  files::Set(PartnerIdKey());
  int count = 0, last = 0;
  for (;;) {
    files::Next(file);
    if (files::ErrorCode() != 0) break;
    EXPECT_GT(PartnerBuffer()->id, last);
    last = PartnerBuffer()->id;
    ++count;
  }
  files::Close(file);
  EXPECT_EQ(count, added + 1);
}

TEST_F(AddPartnerTest, LockedFileIsRetriedOnceAfterRecoverOption) {
  // A driver that answers every OPEN with 32 and records what it is sent.
  static std::vector<std::string> sent;
  sent.clear();
  static uint8_t record[4];
  files::FileDescriptor locked;
  locked.label = "LOCKED";
  locked.record = record;
  locked.recordLength = sizeof record;
  locked.entry = [](int32_t op, files::FileDescriptor*, intptr_t*) -> int32_t {
    if (op == files::OP_OPEN) {
      sent.push_back("OPEN");
      files::SetErrorCode(32);
      return 0;
    }
    if (op == files::OP_SEND) {
      sent.push_back("SEND");
      files::ClearError();
      return 0;
    }
    if (op == files::OP_NAME) {
      files::ClearError();
      files::PushString("LOCKED.DAT");
      return 0;
    }
    files::SetErrorCode(80);
    return 0;
  };
  auto [log, code] = InChild([&] {
    OpenWithRecovery(&locked, true, false, 0, true);
    LogLine("SENT " + std::to_string(sent.size()) + (sent.size() == 3 ? " " + sent[1] : ""));
  });
  EXPECT_EQ(code, 0);
  EXPECT_NE(log.find("BOX File Access Error: File (LOCKED.DAT) could not be opened.  Error: File Is Already Locked (32)."),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("HALT Disk Error"), std::string::npos) << log;
}

}  // namespace
}  // namespace pr::app
