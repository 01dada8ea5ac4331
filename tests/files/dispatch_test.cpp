#include "files/dispatch.h"

#include <gtest/gtest.h>

#include "files/drivers.h"
#include "files/errors.h"
#include "files/statements.h"
#include "files/string_stack.h"
#include "tests/files/recording_driver.h"

namespace pr::files {
namespace {

using testing::MakeFile;
using testing::RecordingDriver;

int g_hookRuns = 0;
FileDescriptor* g_hookFile = nullptr;
void CountingHook(FileDescriptor* file) {
  ++g_hookRuns;
  g_hookFile = file;
}

TEST(Dispatch, OneShotHookRunsBeforeExactlyOneOperationEvenWhenRefused) {
  RecordingDriver driver;
  driver.failWith[OP_ADD] = 37;
  FileDescriptor file = MakeFile(driver);
  g_hookRuns = 0;
  file.hook = &CountingHook;

  Add(&file);  // refused by the driver
  EXPECT_EQ(37, ErrorCode());
  EXPECT_EQ(1, g_hookRuns);
  EXPECT_EQ(&file, g_hookFile);
  EXPECT_EQ(nullptr, file.hook);

  Next(&file);
  Dispatch(OP_QUERY_KEY, &file);
  EXPECT_EQ(1, g_hookRuns);

  // Also before an operation that goes straight to the driver.
  file.hook = &CountingHook;
  Dispatch(OP_Internal91, &file);
  EXPECT_EQ(2, g_hookRuns);
}

TEST(Dispatch, NullFileAndMissingEntryAreErrorsNotCrashes) {
  Dispatch(OP_NEXT, nullptr);
  EXPECT_EQ(37, ErrorCode());
  FileDescriptor file;
  Next(&file);
  EXPECT_EQ(80, ErrorCode());
  EXPECT_EQ("Unsupported File Driver Function", Error());
}

TEST(Dispatch, UnregisteredDriversAnswerEverythingWith80) {
  for (const char* name : {"DOS", "ASCII"}) {
    const DriverRecord* driver = DriverRecordFor(name);
    ASSERT_NE(nullptr, driver);
    FileDescriptor file;
    file.entry = driver->entry;
    Open(&file, 0x42);
    EXPECT_EQ(80, ErrorCode()) << name;
    EXPECT_EQ(0u, file.flags & FD_OPEN);
  }
  EXPECT_EQ(nullptr, DriverRecordFor("SQL"));
  EXPECT_FALSE(RegisterDriverEntry("SQL", &RecordingDriver::Entry));
  EXPECT_STREQ("Tarnwell (TWL)", DriverRecordFor("tarnwell")->description);
  EXPECT_STREQ("V60ASCX.DLL", DriverRecordFor("ASCII")->moduleName);
}

TEST(Dispatch, RegisteredEntryReceivesOperationsThroughTheRecordsForwarder) {
  RecordingDriver driver;
  FileDescriptor file = MakeFile(driver);
  file.entry = DriverRecordFor("DOS")->entry;
  ASSERT_TRUE(RegisterDriverEntry("DOS", &RecordingDriver::Entry));
  Open(&file, 0x22);
  EXPECT_EQ(0, ErrorCode());
  ASSERT_EQ(1u, driver.calls.size());
  EXPECT_EQ(OP_OPEN, driver.calls[0].op);
  EXPECT_EQ(0x22, driver.calls[0].args[0]);
  RegisterDriverEntry("DOS", nullptr);
  Close(&file);
  EXPECT_EQ(80, ErrorCode());
}

// A callback that logs what it sees and answers as configured.
class LoggingCallback : public FileCallback {
 public:
  explicit LoggingCallback(std::vector<std::string>* log, std::string tag) : log_(log), tag_(std::move(tag)) {}
  CallbackVerdict before = CallbackVerdict::kContinue;
  CallbackVerdict after = CallbackVerdict::kContinue;
  int32_t handledResult = 0;
  FileCallbackParams lastAfter;

  CallbackVerdict Before(FileCallbackParams& params, int32_t& result, std::string& failCode,
                         std::string& failText) override {
    log_->push_back(tag_ + ":before:" + std::to_string(params.op));
    if (before == CallbackVerdict::kHandled) result = handledResult;
    if (before == CallbackVerdict::kFailed) {
      failCode = "CB1";
      failText = "refused by callback";
    }
    return before;
  }
  CallbackVerdict After(FileCallbackParams& params, std::string& failCode, std::string& failText) override {
    log_->push_back(tag_ + ":after:" + std::to_string(params.op) + ":" + std::to_string(params.errorCode));
    lastAfter = params;
    if (after == CallbackVerdict::kFailed) {
      failCode = "CB2";
      failText = "after says no";
    }
    return after;
  }

 private:
  std::vector<std::string>* log_;
  std::string tag_;
};

struct CallbackGuard {
  FileDescriptor* file;
  ~CallbackGuard() { RegisterFileCallback(file, nullptr); }
};

TEST(Dispatch, CallbackIsToldBeforeAndAfterWithACopyOfTheArguments) {
  RecordingDriver driver;
  driver.failWith[OP_PUT] = 89;
  driver.stringArgs = 1;
  FileDescriptor file = MakeFile(driver);
  uint8_t record[4] = {1, 2, 3, 4};
  file.record = record;
  file.recordLength = 4;
  std::vector<std::string> log;
  LoggingCallback callback(&log, "file");
  RegisterFileCallback(&file, &callback);
  CallbackGuard guard{&file};

  Reset(&file, "POS-1");
  EXPECT_EQ(0, ErrorCode());
  EXPECT_EQ(std::vector<std::string>({"file:before:63", "file:after:63:0"}), log);
  EXPECT_EQ(std::vector<std::string>{"POS-1"}, callback.lastAfter.strings);
  EXPECT_EQ(std::vector<uint8_t>({1, 2, 3, 4}), callback.lastAfter.record);
  EXPECT_EQ(std::vector<std::string>{"POS-1"}, driver.poppedStrings);

  log.clear();
  driver.stringArgs = 0;
  Put(&file);
  EXPECT_EQ(89, ErrorCode());
  EXPECT_EQ(std::vector<std::string>({"file:before:30", "file:after:30:89"}), log);

  // Queries bypass the callbacks.
  log.clear();
  Dispatch(OP_QUERY_VIEW, &file);
  Dispatch(OP_COUNTRECORDS, &file);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(4u, driver.calls.size());
}

TEST(Dispatch, CallbackThatHandlesTheOperationKeepsTheDriverOut) {
  RecordingDriver driver;
  FileDescriptor file = MakeFile(driver);
  std::vector<std::string> log;
  LoggingCallback callback(&log, "file");
  callback.before = CallbackVerdict::kHandled;
  callback.handledResult = 42;
  RegisterFileCallback(&file, &callback);
  CallbackGuard guard{&file};

  EXPECT_EQ(42, Records(&file));
  EXPECT_EQ(0, ErrorCode());
  EXPECT_TRUE(driver.calls.empty());
  EXPECT_TRUE(callback.lastAfter.handledByCallback);
  EXPECT_EQ(42, callback.lastAfter.result);
  EXPECT_EQ(size_t{0}, StringStackDepth());
}

TEST(Dispatch, CallbackFailureIsError100WithItsOwnTexts) {
  RecordingDriver driver;
  FileDescriptor file = MakeFile(driver);
  std::vector<std::string> log;
  LoggingCallback callback(&log, "file");
  callback.before = CallbackVerdict::kFailed;
  RegisterFileCallback(&file, &callback);
  CallbackGuard guard{&file};

  Add(&file);
  EXPECT_TRUE(driver.calls.empty());
  EXPECT_EQ(100, ErrorCode());
  EXPECT_EQ("Unknown Error Posted : 100", Error());
  EXPECT_EQ("CB1", FileErrorCode());
  EXPECT_EQ("refused by callback", FileError());
  EXPECT_EQ(&file, ErrorFile());

  callback.before = CallbackVerdict::kContinue;
  callback.after = CallbackVerdict::kFailed;
  Add(&file);
  EXPECT_EQ(1u, driver.calls.size());
  EXPECT_EQ(100, ErrorCode());
  EXPECT_EQ("CB2", FileErrorCode());
}

TEST(Dispatch, ViewUsesItsPrimaryFilesCallbackAndNotifiesBoth) {
  RecordingDriver driver;
  FileDescriptor primary = MakeFile(driver, "PRIMARY");
  FileDescriptor view = MakeFile(driver, "VIEW");
  view.kind = KIND_VIEW;
  view.primary = &primary;
  std::vector<std::string> log;
  LoggingCallback primaryCallback(&log, "primary");
  RegisterFileCallback(&primary, &primaryCallback);
  CallbackGuard primaryGuard{&primary};

  Next(&view);
  EXPECT_EQ(std::vector<std::string>({"primary:before:24", "primary:after:24:0"}), log);

  log.clear();
  LoggingCallback viewCallback(&log, "view");
  RegisterFileCallback(&view, &viewCallback);
  CallbackGuard viewGuard{&view};
  Previous(&view);
  EXPECT_EQ(std::vector<std::string>(
                {"view:before:31", "primary:before:31", "view:after:31:0", "primary:after:31:0"}),
            log);

  // A plain file does not borrow anybody's callback.
  log.clear();
  RegisterFileCallback(&view, nullptr);
  Next(&primary);
  FileDescriptor other = MakeFile(driver, "OTHER");
  other.primary = &primary;  // ignored for files
  Next(&other);
  EXPECT_EQ(std::vector<std::string>({"primary:before:24", "primary:after:24:0"}), log);
}

TEST(Dispatch, OpenAndCloseKeepTheOpenMark) {
  RecordingDriver driver;
  FileDescriptor file = MakeFile(driver);
  driver.failWith[OP_OPEN] = 2;
  Open(&file, 0x42);
  EXPECT_EQ(0u, file.flags & FD_OPEN);
  EXPECT_EQ(nullptr, file.transaction);
  driver.failWith.clear();
  Open(&file, 0x42);
  EXPECT_NE(0u, file.flags & FD_OPEN);
  EXPECT_NE(nullptr, file.transaction);
  Close(&file);
  EXPECT_EQ(0u, file.flags & FD_OPEN);
  EXPECT_EQ(nullptr, file.transaction);
}

}  // namespace
}  // namespace pr::files
