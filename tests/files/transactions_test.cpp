#include "files/transactions.h"

#include <gtest/gtest.h>

#include <thread>

#include "files/errors.h"
#include "files/statements.h"
#include "tests/files/recording_driver.h"

namespace pr::files {
namespace {

using testing::MakeFile;
using testing::RecordingDriver;

class TransactionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearMessageOverrides();
    a_ = MakeFile(driverA_, "A");
    b_ = MakeFile(driverA_, "B");
    c_ = MakeFile(driverA_, "C");
    d_ = MakeFile(driverB_, "D");
    driverA_.results[OP_Internal91] = 1;
    driverB_.results[OP_Internal91] = 2;
    for (FileDescriptor* f : {&a_, &b_, &c_, &d_}) Open(f, 0x42);
    driverA_.calls.clear();
    driverB_.calls.clear();
  }
  void TearDown() override {
    if (TransactionActive()) Rollback();
    for (FileDescriptor* f : {&a_, &b_, &c_, &d_}) Close(f);
  }

  RecordingDriver driverA_;
  RecordingDriver driverB_;
  FileDescriptor a_, b_, c_, d_;
};

TEST_F(TransactionsTest, LogoutCommitSendsTheStepsInOrder) {
  Logout(1, {&a_, &b_});
  ASSERT_EQ(0, ErrorCode());
  EXPECT_TRUE(TransactionActive());
  EXPECT_EQ(std::vector<int32_t>({OP_Internal91, OP_STARTRAN, OP_LOGOUT, OP_Internal91, OP_LOGOUT, OP_ENDTRAN}),
            driverA_.Ops());
  EXPECT_EQ(1, a_.transaction->sequence);
  EXPECT_EQ(2, b_.transaction->sequence);

  driverA_.calls.clear();
  Commit();
  EXPECT_EQ(0, ErrorCode());
  EXPECT_FALSE(TransactionActive());
  // STARTRAN(8) to the first file, COMMIT last taken first, ENDTRAN(8).
  ASSERT_EQ(4u, driverA_.calls.size());
  EXPECT_EQ(OP_STARTRAN, driverA_.calls[0].op);
  EXPECT_EQ(OP_COMMIT, driverA_.calls[0].args[0]);
  EXPECT_EQ(&a_, driverA_.calls[0].file);
  EXPECT_EQ(&b_, driverA_.calls[1].file);
  EXPECT_EQ(&a_, driverA_.calls[2].file);
  EXPECT_EQ(OP_COMMIT, driverA_.calls[2].op);
  EXPECT_EQ(OP_ENDTRAN, driverA_.calls[3].op);
  EXPECT_EQ(nullptr, a_.transaction->frame.load());
}

TEST_F(TransactionsTest, LogoutWhileActiveIs56AndChangesNothing) {
  Logout(1, {&a_});
  ASSERT_EQ(0, ErrorCode());
  driverA_.calls.clear();
  Logout(1, {&b_});
  EXPECT_EQ(56, ErrorCode());
  EXPECT_EQ("LOGOUT Already Active", Error());
  EXPECT_TRUE(driverA_.calls.empty());
  EXPECT_EQ(nullptr, b_.transaction->frame.load());
  Rollback();
  EXPECT_EQ(0, ErrorCode());
}

TEST_F(TransactionsTest, CommitOrRollbackWithoutLogoutIs91) {
  Commit();
  EXPECT_EQ(91, ErrorCode());
  EXPECT_EQ("LOGOUT Not Active", Error());
  Rollback();
  EXPECT_EQ(91, ErrorCode());
  EXPECT_TRUE(driverA_.calls.empty());
}

TEST_F(TransactionsTest, LogoutOverTwoDriversFailsWithReason5AndRollsBackTheFirst) {
  Logout(1, {&a_, &d_});
  EXPECT_EQ(48, ErrorCode());
  EXPECT_EQ("Unable To Log Transaction", Error());
  EXPECT_EQ("5", FileErrorCode());
  EXPECT_EQ("Attempting to LOGOUT files from different file drivers", FileError());
  EXPECT_EQ(&d_, ErrorFile());
  EXPECT_FALSE(TransactionActive());
  EXPECT_EQ(nullptr, a_.transaction->frame.load());
  EXPECT_EQ(nullptr, d_.transaction->frame.load());
  EXPECT_EQ(std::vector<int32_t>({OP_Internal91, OP_STARTRAN, OP_LOGOUT, OP_ENDTRAN, OP_STARTRAN, OP_ROLLBACK,
                                  OP_ENDTRAN}),
            driverA_.Ops());
  EXPECT_EQ(std::vector<int32_t>({OP_Internal91}), driverB_.Ops());
  // The file is free again for a later transaction.
  Logout(1, {&a_});
  EXPECT_EQ(0, ErrorCode());
}

TEST_F(TransactionsTest, LogoutFailuresGiveTheirReasons) {
  Close(&c_);
  Logout(1, {&a_, &c_});
  EXPECT_EQ(37, ErrorCode());
  EXPECT_EQ(&c_, ErrorFile());
  EXPECT_EQ(nullptr, a_.transaction->frame.load());

  driverA_.failWith[OP_LOGOUT] = 5;
  Logout(1, {&a_});
  EXPECT_EQ(48, ErrorCode());
  EXPECT_EQ("7", FileErrorCode());
  EXPECT_EQ("Cannot LOGOUT file", FileError());

  driverA_.failWith.clear();
  driverA_.failWith[OP_STARTRAN] = 5;
  AddMessageOverride(260004, "Transakcija nije po\xE8" "eta");
  Logout(1, {&a_});
  EXPECT_EQ("4", FileErrorCode());
  EXPECT_EQ("Transakcija nije po\xE8" "eta", FileError());

  // A driver failing with 90 leaves no reason text.
  driverA_.failWith.clear();
  driverB_.failWith[OP_Internal91] = 90;
  Logout(1, {&d_});
  EXPECT_EQ(48, ErrorCode());
  EXPECT_EQ("", FileErrorCode());
  EXPECT_EQ("", FileError());

  // A lock the driver asks for; 80 means the driver has no locks.
  driverB_.failWith.clear();
  d_.transaction->flags |= TXN_WANTS_LOCK;
  driverB_.failWith[OP_LOCKfilesec] = 32;
  Logout(3, {&d_});
  EXPECT_EQ("6", FileErrorCode());
  driverB_.failWith[OP_LOCKfilesec] = 80;
  Logout(3, {&d_});
  EXPECT_EQ(0, ErrorCode());
  Rollback();
}

TEST_F(TransactionsTest, CommitEndsWithTheFirstErrorMet) {
  Logout(1, {&a_, &b_, &c_});
  ASSERT_EQ(0, ErrorCode());
  driverA_.calls.clear();
  driverA_.failWith[OP_COMMIT] = 90;
  // Only the second file committed fails: commit order is c, b, a.
  RecordingDriver& d = driverA_;
  struct FailOnlyB {
    static int32_t Entry(int32_t op, FileDescriptor* file, intptr_t* args) {
      auto* self = static_cast<RecordingDriver*>(file->driverState);
      if (op == OP_COMMIT && file->label != "B") {
        self->calls.push_back({op, file, {}});
        ClearError();
        return 0;
      }
      return RecordingDriver::Entry(op, file, args);
    }
  };
  for (FileDescriptor* f : {&a_, &b_, &c_}) f->entry = &FailOnlyB::Entry;
  Commit();
  EXPECT_EQ(90, ErrorCode());
  EXPECT_EQ(&b_, ErrorFile());
  EXPECT_FALSE(TransactionActive());
  std::vector<const FileDescriptor*> committed;
  for (const auto& call : d.calls) {
    if (call.op == OP_COMMIT) committed.push_back(call.file);
  }
  EXPECT_EQ(std::vector<const FileDescriptor*>({&c_, &b_, &a_}), committed);
  EXPECT_EQ(OP_ENDTRAN, d.calls.back().op);
}

TEST_F(TransactionsTest, CleanFilesAndLockedFiles) {
  a_.transaction->flags |= TXN_WANTS_LOCK;
  Logout(1, {&a_, &b_});
  ASSERT_EQ(0, ErrorCode());
  b_.transaction->flags |= TXN_CLEAN;
  driverA_.calls.clear();
  Rollback();
  EXPECT_EQ(0, ErrorCode());
  EXPECT_EQ(std::vector<int32_t>({OP_STARTRAN, OP_ROLLBACK, OP_UNLOCK, OP_ENDTRAN}), driverA_.Ops());
  EXPECT_EQ(0u, a_.transaction->flags & TXN_LOCKED);
}

TEST_F(TransactionsTest, ThreadListAndOtherThreads) {
  Logout(1, {});
  EXPECT_EQ(48, ErrorCode());
  AddTransactionFile(&b_, 7);
  AddTransactionFile(&a_, 3);
  Logout(1, {});
  ASSERT_EQ(0, ErrorCode());
  EXPECT_EQ(7, b_.transaction->sequence);
  EXPECT_EQ(3, a_.transaction->sequence);

  int32_t code = 0;
  std::string reason;
  std::thread([&] {
    Logout(1, {&a_});
    code = ErrorCode();
    reason = FileErrorCode();
    Commit();  // the other thread has no transaction of its own
  }).join();
  EXPECT_EQ(48, code);
  EXPECT_EQ("2", reason);
  Commit();
  EXPECT_EQ(0, ErrorCode());
  RemoveTransactionFile(&a_);
  RemoveTransactionFile(&b_);
}

TEST_F(TransactionsTest, FileClosedWhileLoggedOutIsReleasedByCommit) {
  Logout(1, {&a_});
  Close(&a_);
  EXPECT_NE(nullptr, a_.transaction);
  Commit();
  EXPECT_EQ(nullptr, a_.transaction);
}

}  // namespace
}  // namespace pr::files
