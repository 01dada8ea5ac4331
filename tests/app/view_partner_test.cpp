// A view over a real partner file in "+PAR:ID" order: reading forward and
// backward from a SET and from a RESET to a saved POSITION, across records
// added and deleted meanwhile.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/partner_file.h"
#include "files/errors.h"
#include "files/statements.h"
#include "files/transactions.h"
#include "files/view.h"

namespace pr::app {
namespace {

class PartnerViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pr_view_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    file_ = Partneri();
    files::Create(file_);
    ASSERT_EQ(files::ErrorCode(), 0) << files::Error();
    files::Open(file_, 0x42);
    ASSERT_EQ(files::ErrorCode(), 0) << files::Error();
    // 10,000 partners, every identifier from 1 to 10,000, added in one transaction.
    files::Logout(1, {file_});
    for (int32_t id = 1; id <= 10000; ++id) Add(id);
    files::Commit();
    ASSERT_EQ(files::ErrorCode(), 0) << files::Error();
    structure_.primary = file_;
    files::InitViewDescriptor(&view_, &structure_, "BRW1");
    files::SetProperty(&view_, files::PROP_VIEW_ORDER, "+PAR:ID");
  }
  void TearDown() override {
    files::Destroy(&view_);
    files::Close(file_);
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  void Add(int32_t id) {
    PartnerRecord* record = PartnerBuffer();
    record->id = id;
    std::memset(record->naziv, ' ', sizeof record->naziv);
    std::string name = "Partner " + std::to_string(id);
    std::memcpy(record->naziv, name.data(), name.size());
    files::Add(file_);
    ASSERT_EQ(files::ErrorCode(), 0) << files::Error();
  }
  std::vector<int32_t> Read(int n, bool forward) {
    std::vector<int32_t> ids;
    for (int i = 0; i < n; ++i) {
      forward ? files::Next(&view_) : files::Previous(&view_);
      if (files::ErrorCode() != 0) break;
      ids.push_back(PartnerBuffer()->id);
    }
    return ids;
  }

  std::string dir_;
  std::filesystem::path old_;
  files::FileDescriptor* file_ = nullptr;
  files::ViewStructure structure_;
  files::FileDescriptor view_;
};

TEST_F(PartnerViewTest, ReadsForwardAndBackwardFromSet) {
  files::Set(PartnerIdKey());
  files::Open(&view_, 0x22);
  ASSERT_EQ(files::ErrorCode(), 0) << files::Error();
  EXPECT_EQ(Read(3, true), (std::vector<int32_t>{1, 2, 3}));
  files::SetView(&view_);
  EXPECT_EQ(Read(3, false), (std::vector<int32_t>{10000, 9999, 9998}));
  PartnerBuffer()->id = 5000;
  files::SetView(&view_, 1);
  EXPECT_EQ(Read(2, true), (std::vector<int32_t>{5000, 5001}));
  EXPECT_EQ(files::Records(&view_), 10000);
  // The whole file in order, once each.
  files::SetView(&view_);
  std::vector<int32_t> all = Read(20000, true);
  EXPECT_EQ(files::ErrorCode(), 33);
  ASSERT_EQ(all.size(), 10000u);
  for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], static_cast<int32_t>(i + 1));
}

TEST_F(PartnerViewTest, ResetToASavedPositionAcrossChanges) {
  files::Set(PartnerIdKey());
  files::Open(&view_, 0x22);
  Read(15, true);
  const std::string position = files::Position(&view_);
  ASSERT_EQ(files::ErrorCode(), 0);
  ASSERT_FALSE(position.empty());
  // Meanwhile record 16 goes and 10001 comes.
  PartnerBuffer()->id = 16;
  files::Get(file_, PartnerIdKey());
  ASSERT_EQ(files::ErrorCode(), 0) << files::Error();
  files::Delete(file_);
  ASSERT_EQ(files::ErrorCode(), 0) << files::Error();
  Add(10001);
  // The page after row 15, as the browse reads it: the saved record first
  // (the browse skips it), then the rows after it.
  files::Close(&view_);
  files::Reset(PartnerIdKey(), position);
  files::Open(&view_, 0x22);
  EXPECT_EQ(Read(3, true), (std::vector<int32_t>{15, 17, 18}));
  files::Close(&view_);
  files::Reset(PartnerIdKey(), position);
  files::Open(&view_, 0x22);
  EXPECT_EQ(Read(3, false), (std::vector<int32_t>{15, 14, 13}));
  // RESET through the view itself, and REGET of the saved record.
  files::Reset(&view_, position);
  EXPECT_EQ(Read(2, true), (std::vector<int32_t>{15, 17}));
  files::Reget(&view_, position);
  ASSERT_EQ(files::ErrorCode(), 0) << files::Error();
  EXPECT_EQ(PartnerBuffer()->id, 15);
  files::SetView(&view_);
  EXPECT_EQ(Read(1, false), (std::vector<int32_t>{10001}));
}

}  // namespace
}  // namespace pr::app
