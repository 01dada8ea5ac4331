#include "files/statements.h"

#include <gtest/gtest.h>

#include <functional>

#include "files/errors.h"
#include "files/string_stack.h"
#include "tests/files/recording_driver.h"

namespace pr::files {
namespace {

using testing::MakeFile;
using testing::RecordingDriver;

TEST(Statements, EachSendsItsOperationWithItsArgumentBlock) {
  RecordingDriver driver;
  FileDescriptor file = MakeFile(driver);
  KeyDescriptor key;
  KeyDescriptor other;
  key.file = &file;
  other.file = &file;
  const intptr_t k = reinterpret_cast<intptr_t>(&key);
  const intptr_t o = reinterpret_cast<intptr_t>(&other);
  struct Case {
    const char* name;
    std::function<void()> run;
    int32_t op;
    std::vector<intptr_t> args;  // leading words of the block; empty: no block
  };
  const Case cases[] = {
      {"OPEN", [&] { Open(&file, 0x42); }, OP_OPEN, {0x42}},
      {"CLOSE", [&] { Close(&file); }, OP_CLOSE, {}},
      {"CREATE", [&] { Create(&file); }, OP_CREATE, {}},
      {"BUILD", [&] { Build(&file); }, OP_BUILDfile, {}},
      {"ADD", [&] { Add(&file); }, OP_ADD, {}},
      {"PUT", [&] { Put(&file); }, OP_PUT, {}},
      {"DELETE", [&] { Delete(&file); }, OP_DELETE, {}},
      {"GET(file,ptr)", [&] { Get(&file, 17); }, OP_GETfileptr, {17}},
      {"GET(file,key)", [&] { Get(&file, &key); }, OP_GETfilekey, {k}},
      {"GET(key,ptr)", [&] { Get(&key, 5); }, OP_GETkeyptr, {k, 5}},
      {"DUPLICATE", [&] { Duplicate(&key); }, OP_DUPLICATEkey, {k}},
      {"NEXT", [&] { Next(&file); }, OP_NEXT, {}},
      {"PREVIOUS", [&] { Previous(&file); }, OP_PREVIOUS, {}},
      {"SKIP", [&] { Skip(&file, -3); }, OP_SKIP, {-3}},
      {"SET(file)", [&] { Set(&file); }, OP_SETfile, {}},
      {"SET(file,key)", [&] { Set(&file, &key); }, OP_SETfilekey, {k}},
      {"SET(file,ptr)", [&] { Set(&file, 9); }, OP_SETfileptr, {9}},
      {"SET(key)", [&] { Set(&key); }, OP_SETkey, {k}},
      {"SET(key,key)", [&] { Set(&key, &other); }, OP_SETkeykey, {k, o}},
      {"SET(key,ptr)", [&] { Set(&key, 11); }, OP_SETkeyptr, {k, 11}},
      {"SET(key,key,ptr)", [&] { Set(&key, &other, 12); }, OP_SETkeykeyptr, {k, 12, o}},
      {"SET(view)", [&] { SetView(&file); }, OP_SETview, {0}},
      {"SET(view,n)", [&] { SetView(&file, 2); }, OP_SETview, {2}},
      {"POSITION(key)", [&] { Position(&key); }, OP_POSITIONkey, {k}},
      {"RESET(key)", [&] { Reset(&key, "p"); }, OP_RESETkey, {k}},
      {"REGET(file)", [&] { Reget(&file, "p"); }, OP_REGETfile, {}},
      {"REGET(key)", [&] { Reget(&key, "p"); }, OP_REGETkey, {k}},
      {"RESETviewfile", [&] { ResetViewFile(&file); }, OP_RESETviewfile, {}},
      {"RECORDS(file)", [&] { Records(&file); }, OP_RECORDSfile, {}},
      {"RECORDS(key)", [&] { Records(&key); }, OP_RECORDSkey, {k}},
      {"POINTER(file)", [&] { Pointer(&file); }, OP_POINTERfile, {}},
      {"POINTER(key)", [&] { Pointer(&key); }, OP_POINTERkey, {k}},
      {"HOLD", [&] { Hold(&file); }, OP_HOLDfile, {}},
      {"HOLD(sec)", [&] { Hold(&file, 4); }, OP_HOLDfilesec, {4}},
      {"RELEASE", [&] { Release(&file); }, OP_RELEASE, {}},
      {"LOCK", [&] { Lock(&file); }, OP_LOCKfile, {}},
      {"LOCK(sec)", [&] { Lock(&file, 6); }, OP_LOCKfilesec, {6}},
      {"UNLOCK", [&] { Unlock(&file); }, OP_UNLOCK, {}},
      {"WATCH", [&] { Watch(&file); }, OP_WATCH, {}},
      {"STREAM", [&] { Stream(&file); }, OP_STREAM, {}},
      {"FLUSH", [&] { Flush(&file); }, OP_FLUSH, {}},
      {"NOMEMO", [&] { NoMemo(&file); }, OP_NOMEMO, {}},
      {"SHARE", [&] { Share(&file, 0x22); }, OP_SHARE, {0x22}},
      {"GET_PROPERTY", [&] { GetProperty(&file, 0x7CB8, 3); }, OP_GET_PROPERTY, {3}},
      {"SET_PROPERTY", [&] { SetProperty(&file, 0x7CE6, "+PAR:ID"); }, OP_SET_PROPERTY, {0}},
      {"BLOB_SET_PROP", [&] { SetBlobProperty(&file, 0x7A01, "v"); }, OP_BLOB_SET_PROP, {0x7A01}},
      {"INVIEW", [&] { ViewBracket(&file, true); }, OP_INVIEW, {}},
      {"ENDVIEW", [&] { ViewBracket(&file, false); }, OP_ENDVIEW, {}},
      {"BUILDevent", [&] { BuildEvent(&file); }, OP_BUILDevent, {}},
      {"DESTROY", [&] { Destroy(&file); }, OP_DESTROY, {}},
  };
  for (const Case& c : cases) {
    driver.calls.clear();
    c.run();
    ASSERT_EQ(1u, driver.calls.size()) << c.name;
    const auto& call = driver.calls[0];
    EXPECT_EQ(c.op, call.op) << c.name;
    EXPECT_EQ(&file, call.file) << c.name;
    if (c.args.empty()) {
      EXPECT_TRUE(call.args.empty()) << c.name;
    } else {
      ASSERT_FALSE(call.args.empty()) << c.name;
      for (size_t i = 0; i < c.args.size(); ++i) EXPECT_EQ(c.args[i], call.args[i]) << c.name << " word " << i;
    }
    EXPECT_EQ(0u, StringStackDepth()) << c.name;
  }
}

TEST(Statements, StringArgumentsAndResultsTravelOnTheStringStack) {
  RecordingDriver driver;
  FileDescriptor file = MakeFile(driver);
  driver.stringResults[OP_POSITIONfile] = "\x01\x02pos";
  EXPECT_EQ("\x01\x02pos", Position(&file));

  driver.stringArgs = 1;
  driver.stringResults[OP_SEND] = "ON";
  EXPECT_EQ("ON", Send(&file, "DecimalCheck"));
  Reset(&file, "saved position");
  EXPECT_EQ(std::vector<std::string>({"DecimalCheck", "saved position"}), driver.poppedStrings);

  // A property write pushes the number (as text) and then the value.
  driver.stringArgs = 2;
  driver.poppedStrings.clear();
  SetProperty(&file, 0x7CB8, "PAR:ID > 5");
  EXPECT_EQ(std::vector<std::string>({"PAR:ID > 5", "31928"}), driver.poppedStrings);

  // A failed statement returns no result and leaves the stack balanced, even
  // when the driver does not pop its arguments.
  driver.stringArgs = 0;
  driver.failWith[OP_SEND] = 80;
  EXPECT_EQ("", Send(&file, "Recover=10"));
  EXPECT_EQ(80, ErrorCode());
  EXPECT_EQ(0u, StringStackDepth());
  driver.failWith.clear();
  driver.stringResults[OP_NAME] = "PARTNERI.TWL";
  EXPECT_EQ("PARTNERI.TWL", Name(&file));
  EXPECT_EQ(0u, StringStackDepth());
}

TEST(Statements, ResultsAndNullKeys) {
  RecordingDriver driver;
  FileDescriptor file = MakeFile(driver);
  driver.results[OP_RECORDSfile] = 1234;
  driver.results[OP_DUPLICATEkey] = 1;
  KeyDescriptor key;
  key.file = &file;
  EXPECT_EQ(1234, Records(&file));
  EXPECT_TRUE(Duplicate(&key));
  FileDescriptor view = MakeFile(driver, "VIEW");
  view.kind = KIND_VIEW;
  Set(&view);
  Set(&view, 2);
  ASSERT_EQ(4u, driver.calls.size());
  EXPECT_EQ(OP_SETview, driver.calls[2].op);
  EXPECT_EQ(0, driver.calls[2].args[0]);
  EXPECT_EQ(OP_SETview, driver.calls[3].op);
  EXPECT_EQ(2, driver.calls[3].args[0]);

  driver.calls.clear();
  Set(static_cast<KeyDescriptor*>(nullptr));
  EXPECT_EQ(37, ErrorCode());
  EXPECT_EQ(0, Records(static_cast<KeyDescriptor*>(nullptr)));
  EXPECT_TRUE(driver.calls.empty());
}

}  // namespace
}  // namespace pr::files
