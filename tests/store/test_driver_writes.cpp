// Failed writes and delayed writing.
#include <cerrno>

#include "tests/store/test_driver_support.h"

namespace pr::store {
namespace {

using testing::MakeTempDir;
using testing::PartnerFile;

long FullDisk(int, const void*, size_t, int64_t) {
  errno = ENOSPC;
  return -1;
}

class WriteFailures : public ::testing::Test {
 protected:
  void TearDown() override { ResetPlatformFileSyscalls(); }
};

TEST_F(WriteFailures, AreReportedAndLoseNothingCommitted) {
  std::string dir = MakeTempDir();
  PartnerFile file(dir + "/W");
  ASSERT_EQ(file.Open(), 0);
  for (int id = 1; id <= 5; ++id) ASSERT_EQ(file.Add(id, "kept"), 0);

  PlatformFileSyscalls().pwrite = FullDisk;
  EXPECT_EQ(file.Add(6, "lost"), static_cast<int>(ErrorFromErrno(ENOSPC)));
  ResetPlatformFileSyscalls();

  // The failed updates left the file as it was, for this program and the
  // next.
  EXPECT_EQ(file.GetById(6), 35);
  EXPECT_EQ(file.Records(), 5);
  ASSERT_EQ(file.Add(8, "after"), 0);
  ASSERT_EQ(file.Close(), 0);
  PartnerFile again(dir + "/W");
  ASSERT_EQ(again.Open(), 0);
  EXPECT_EQ(again.Records(), 6);
  for (int id : {1, 5, 8}) EXPECT_EQ(again.GetById(id), 0);
}

TEST(DelayedWriting, DefersUpdatesUntilCloseOrThreshold) {
  std::string dir = MakeTempDir();
  std::string path = dir + "/D";
  PartnerFile file(path);
  ASSERT_EQ(file.Open(), 0);
  ASSERT_EQ(file.Add(1, "first"), 0);
  auto sizeOnDisk = [&] {
    FILE* f = std::fopen((path + ".TWL").c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    std::fclose(f);
    return size;
  };
  PartnerFile::Push("DelayWrite");
  PartnerFile::Push("1");
  ASSERT_EQ(file.Run(files::OP_SET_PROPERTY), 0);
  PartnerFile::Push("delaywrite");
  file.Run(files::OP_GET_PROPERTY);
  EXPECT_EQ(PartnerFile::Pop(), "1");
  long before = sizeOnDisk();
  for (int id = 2; id <= 20; ++id) ASSERT_EQ(file.Add(id, "deferred"), 0);
  EXPECT_EQ(sizeOnDisk(), before);  // still in the cache
  EXPECT_EQ(file.Records(), 20);    // and visible to this program
  ASSERT_EQ(file.Close(), 0);       // close writes it
  PartnerFile again(path);
  ASSERT_EQ(again.Open(), 0);
  EXPECT_EQ(again.Records(), 20);
}

}  // namespace
}  // namespace pr::store
