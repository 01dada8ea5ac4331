#include "files/thread_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "app/partner_file.h"
#include "files/drivers.h"
#include "files/errors.h"
#include "tests/files/recording_driver.h"

namespace pr::files {
namespace {


// Counts DESTROYs and remembers which descriptors received them.
std::atomic<int> g_destroys{0};
thread_local FileDescriptor* t_lastOp = nullptr;
int32_t CountingEntry(int32_t op, FileDescriptor* file, intptr_t*) {
  t_lastOp = file;
  if (op == OP_DESTROY) ++g_destroys;
  ClearError();
  return 0;
}

TEST(ThreadFiles, EachThreadHasItsOwnInstanceDestroyedAtThreadEnd) {
  const int32_t components[] = {1};
  const KeyDescriptor keys[] = {{.name = {}, .label = "T:K", .flags = 0, .componentCount = 1,
                                 .components = components, .file = nullptr, .driverState = nullptr}};
  const uint8_t initial[4] = {'a', 'b', 'c', 'd'};
  FileDescriptor descriptor;
  descriptor.entry = &CountingEntry;
  descriptor.label = "T";
  descriptor.recordLength = 4;
  descriptor.declaration.keyCount = 1;
  descriptor.declaration.attributes = ATTR_THREAD;
  const ThreadFileTemplate file{&descriptor, keys, initial};

  FileDescriptor* mine = ThreadInstance(file);
  ASSERT_NE(nullptr, mine);
  EXPECT_EQ(mine, ThreadInstance(file));
  EXPECT_NE(&descriptor, mine);
  EXPECT_EQ(mine, mine->keys[0].file);
  EXPECT_EQ(0, std::memcmp(mine->record, "abcd", 4));
  mine->record[0] = 'X';

  g_destroys = 0;
  FileDescriptor* theirs = nullptr;
  char theirFirst = 0;
  std::thread([&] {
    theirs = ThreadInstance(file);
    theirFirst = static_cast<char>(theirs->record[0]);
  }).join();
  EXPECT_NE(mine, theirs);
  EXPECT_EQ('a', theirFirst);
  EXPECT_EQ(1, g_destroys.load());
  EXPECT_EQ('X', mine->record[0]);

  // The thread-end step run by hand: DESTROY, then a fresh instance.
  ReleaseThreadFiles();
  EXPECT_EQ(2, g_destroys.load());
  FileDescriptor* again = ThreadInstance(file);
  ASSERT_NE(nullptr, again);
  EXPECT_EQ('a', again->record[0]);
  ReleaseThreadFiles();
}

TEST(ThreadFiles, PartnerFileInstances) {
  FileDescriptor* file = pr::app::Partneri();
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(KIND_FILE, file->kind);
  EXPECT_EQ("PARTNERI", file->label);
  EXPECT_EQ(24u, file->recordLength);
  EXPECT_EQ(DriverRecordFor("TARNWELL"), file->driver);
  EXPECT_EQ(DriverRecordFor("TARNWELL")->entry, file->entry);
  EXPECT_EQ(ATTR_CREATE | ATTR_THREAD, file->declaration.attributes);
  ASSERT_EQ(2u, file->declaration.fieldCount);
  EXPECT_EQ(4u, file->declaration.fields[1].place);
  EXPECT_EQ(20u, file->declaration.fields[1].size);
  pr::app::PartnerRecord* record = pr::app::PartnerBuffer();
  EXPECT_EQ(0, record->id);
  EXPECT_EQ(0, std::memcmp(record->naziv, "                    ", 20));
  KeyDescriptor* key = pr::app::PartnerIdKey();
  EXPECT_EQ(file, key->file);
  EXPECT_EQ("PAR:IdKey", key->label);

  record->id = 7;
  int32_t otherId = -1;
  KeyDescriptor* otherKey = nullptr;
  std::thread([&] {
    otherId = pr::app::PartnerBuffer()->id;
    otherKey = pr::app::PartnerIdKey();
  }).join();
  EXPECT_EQ(0, otherId);
  EXPECT_NE(key, otherKey);
  EXPECT_EQ(7, pr::app::PartnerBuffer()->id);
}

}  // namespace
}  // namespace pr::files
