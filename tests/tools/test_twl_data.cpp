// twl dump, import and build: a dump imported into a fresh file gives the
// same records byte for byte; a bad row refuses the whole import; a key
// build shows progress and Ctrl+C leaves the file as it was.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>

#include "store/definition_stream.h"
#include "store/record_kinds.h"
#include "twl_test_util.h"

namespace pr::twl::testing {
namespace {

class TwlData : public ::testing::Test {
 protected:
  void SetUp() override { store::SetFatalHandler(&store::ThrowingFatalHandler); }
  void TearDown() override { store::SetFatalHandler(nullptr); }
  Scratch dir;
};

// The data record images of table PARTNERI in record-number order.
std::vector<std::vector<uint8_t>> Images(const std::string& path) {
  std::vector<std::vector<uint8_t>> images;
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(handle, INVALID_HANDLE_VALUE);
  {
    store::Container file(handle, path, store::ContainerOptions{"", true});
    EXPECT_EQ(file.RefreshHeader(), 0);
    std::unique_ptr<store::Table> t;
    EXPECT_TRUE(store::Table::Open(file, "PARTNERI", nullptr, store::Table::OpenOptions{}, &t).ok());
    store::RecordNumber from = store::MakeRecordNumber(0), found;
    std::vector<uint8_t> image(t->recordLength());
    while (t->NextDataRecord(from, &found)) {
      EXPECT_TRUE(t->Fetch(found, image.data()).ok());
      images.push_back(image);
      from = store::MakeRecordNumber(store::RecordNumberValue(found) + 1);
    }
  }
  CloseHandle(handle);
  return images;
}

TEST_F(TwlData, DumpThenImportRoundTripsTenThousandPartners) {
  const std::string source = dir.File("SOURCE.TWL"), copy = dir.File("COPY.TWL");
  WritePartnerFile(source, 10000);
  Result dump = Twl({"dump", source}, dir.path());
  ASSERT_EQ(dump.exit, 0) << dump.err;
  // A name with a quote and a comma, Croatian letters in UTF-8, a negative
  // amount, a partner without a date.
  EXPECT_NE(dump.out.find("\n7,\"\"\"Quoted, 7\"\"\",554.33,2020-01-16\n"), std::string::npos);
  EXPECT_NE(dump.out.find("\n3,Partner 3 Ššč,237.57,"), std::string::npos);
  EXPECT_NE(dump.out.find("\n10,Partner 10,-791.90,"), std::string::npos);
  EXPECT_NE(dump.out.find("\n11,Partner 11,871.09,\n"), std::string::npos);
  WriteAll(dir.File("partners.csv"), dump.out);

  Result import = Twl({"import", copy, "--table", "partneri", "--like", source, "partners.csv"}, dir.path());
  ASSERT_EQ(import.exit, 0) << import.err;
  EXPECT_NE(import.out.find("imported 10000 rows"), std::string::npos) << import.out;
  Result again = Twl({"dump", copy}, dir.path());
  EXPECT_EQ(again.out, dump.out);
  EXPECT_EQ(Images(copy), Images(source));
  EXPECT_EQ(Twl({"verify", copy}, dir.path()).exit, 0);

  // Key order and JSON: the name key puts the quoted names first.
  Result json = Twl({"dump", copy, "--key", "2", "--format", "json"}, dir.path());
  ASSERT_EQ(json.exit, 0) << json.err;
  EXPECT_EQ(json.out.rfind("[\n{\"PAR:ID\": 1001, \"PAR:NAZIV\": \"\\\"Quoted, 1001\\\"\", ", 0), 0u)
      << json.out.substr(0, 200);
  EXPECT_NE(json.out.find("\"PAR:DATUM\": \"2020-"), std::string::npos);
  EXPECT_EQ(Twl({"dump", copy, "--key", "3"}, dir.path()).exit, 2);
}

TEST_F(TwlData, AwkwardValuesComeBackByteForByte) {
  const std::string model = dir.File("MODEL.TWL"), first = dir.File("FIRST.TWL"), second = dir.File("SECOND.TWL");
  WritePartnerFile(model, 1);
  // A leading backslash, a raw value, a line break inside quotes (control
  // bytes go out raw), a column order of our own and a missing column.
  WriteAll(dir.File("odd.csv"),
           "par:naziv,PAR:ID,PAR:IZNOS\n"
           "\\\\back,1,-0.00\n"
           "\\x41424344" "20202020202020202020202020202020,2,99999.99\n"
           "\"two\nlines\",3,0\n"
           " padded ,4,12\n");
  Result import = Twl({"import", first, "--table", "PARTNERI", "--like", model, "odd.csv"}, dir.path());
  ASSERT_EQ(import.exit, 0) << import.err;
  Result dump = Twl({"dump", first}, dir.path());
  EXPECT_EQ(dump.out,
            "PAR:ID,PAR:NAZIV,PAR:IZNOS,PAR:DATUM\n"
            "1,\\\\back,-0.00,\n"
            "2,ABCD,99999.99,\n"
            "3,\\x74776f0a6c696e65732020202020202020202020,0.00,\n"
            "4,\" padded\",12.00,\n");
  WriteAll(dir.File("again.csv"), dump.out);
  Result copy = Twl({"import", second, "--table", "PARTNERI", "--like", model, "again.csv"}, dir.path());
  ASSERT_EQ(copy.exit, 0) << copy.err;
  EXPECT_EQ(Images(second), Images(first));

  // Header faults are line 1.
  WriteAll(dir.File("header.csv"), "PAR:ID,PAR:NOSUCH\n1,2\n");
  Result unknown = Twl({"import", first, "--table", "PARTNERI", "header.csv"}, dir.path());
  EXPECT_EQ(unknown.exit, 1);
  EXPECT_NE(unknown.err.find("line 1: column \"PAR:NOSUCH\" names no field"), std::string::npos) << unknown.err;
  WriteAll(dir.File("twice.csv"), "ID,PAR:ID\n1,2\n");
  Result twice = Twl({"import", first, "--table", "PARTNERI", "twice.csv"}, dir.path());
  EXPECT_NE(twice.err.find("line 1: column \"PAR:ID\" is given twice"), std::string::npos) << twice.err;
}

std::string CsvWithRow57(const std::string& row57) {
  std::string csv = "PAR:ID,PAR:NAZIV,PAR:IZNOS,PAR:DATUM\n";
  for (int line = 2; line <= 100; ++line)
    csv += line == 57 ? row57 + "\n" : std::to_string(1000 + line) + ",Novi " + std::to_string(line) + ",1.50,\n";
  return csv;
}

TEST_F(TwlData, BadRowOnLine57RefusesTheWholeImport) {
  const struct {
    const char* name;
    std::string row;
    const char* reason;
  } cases[] = {
      {"name too long", "1057,A name of more than twenty characters,1.00,", "longer than the field's 20"},
      {"duplicate id", "5,Duplicate,1.00,", "error 40"},
      {"not a date", "1057,Bad date,1.00,31.02.2020", "not a date"},
      {"too many places", "1057,Cents,1.005,", "at most 2 decimals"},
      {"missing field", "1057,Short", "the row has 2 fields"},
  };
  const std::string path = dir.File("TARGET.TWL");
  WritePartnerFile(path, 10);
  const std::string before = ReadAll(path);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteAll(dir.File("bad.csv"), CsvWithRow57(c.row));
    Result run = Twl({"import", path, "--table", "PARTNERI", "bad.csv"}, dir.path());
    EXPECT_EQ(run.exit, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("line 57:"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    EXPECT_EQ(ReadAll(path), before);
  }
  // Into a file that did not exist: nothing is left behind.
  WriteAll(dir.File("bad.csv"), CsvWithRow57("x,y,z,"));
  Result fresh = Twl({"import", "NEW.TWL", "--table", "PARTNERI", "--like", path, "bad.csv"}, dir.path());
  EXPECT_EQ(fresh.exit, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("NEW.TWL")));
  // A name that a look before the open does not find but the open does (it
  // finds names regardless of case, as another program's file created in
  // between would be found): the refused import leaves that file alone.
  Result other = Twl({"import", "target.twl", "--table", "PARTNERI", "bad.csv"}, dir.path());
  EXPECT_EQ(other.exit, 1) << other.err;
  EXPECT_EQ(ReadAll(path), before);
  // The good rows go in.
  WriteAll(dir.File("good.csv"), CsvWithRow57("1057,Good,2.00,2026-12-07"));
  Result good = Twl({"import", path, "--table", "PARTNERI", "good.csv"}, dir.path());
  EXPECT_EQ(good.exit, 0) << good.err;
  Result check = Twl({"dump", path, "--key", "1"}, dir.path());
  EXPECT_NE(check.out.find("\n1057,Good,2.00,2026-12-07\n"), std::string::npos);
  EXPECT_EQ(Twl({"verify", path}, dir.path()).exit, 0);
}

TEST_F(TwlData, ModelWithAnOverlongDupKeyLeavesNoFileBehind) {
  // Another program stored a DUP key of 7523 bytes: two of its entries
  // cannot share a node page.  Opening such a table is refused, so an import
  // modelled on it creates nothing (before, the fifth row stopped the tool
  // with a driver error and an empty file stayed).
  const std::string model = dir.File("MODEL.TWL");
  store::TableDefinition d;
  d.recordLength = 7523;
  store::FieldDefinition a, b;
  a.type = b.type = files::TYPE_STRING;
  a.name = "K:A";
  a.size = a.declaredLength = 4000;
  b.name = "K:B";
  b.offset = 4000;
  b.size = b.declaredLength = 3523;
  d.fields = {a, b};
  store::KeyDefinition key;
  key.label = "K:Dup";
  key.components = {{0, 0}, {1, 0}};
  d.keys = {key};
  CreateTableFile(model, "BIG", d, [&d](store::Container& file, store::Table& t) {
    // The stored definition gets its DUP flag as the other program wrote it.
    const store::RecordNumber number = t.number();
    d.keys[0].attributes = store::kKeyDup;
    std::vector<uint8_t> block = store::WriteDefinition(d);
    ASSERT_LE(block.size(), store::kDefinitionBlockSize);
    block.resize(store::kDefinitionBlockSize, 0);
    const uint8_t definitionKey[] = {number[0], number[1], number[2], number[3], store::kKindDefinition, 0, 0};
    file.Put(store::ByteView(definitionKey, sizeof definitionKey), store::ByteView(block.data(), block.size()));
  });

  std::string csv = "K:A,K:B\n";
  for (int i = 0; i < 8; ++i) csv += "same,row " + std::to_string(i) + "\n";
  WriteAll(dir.File("rows.csv"), csv);
  Result run = Twl({"import", "NEW.TWL", "--table", "BIG", "--like", model, "rows.csv"}, dir.path());
  EXPECT_NE(run.exit, 0) << run.out << run.err;
  EXPECT_NE(run.err.find("error 47"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("NEW.TWL")));
}

// "ČX" (Windows-1250): T:ID LONG, T:WHEN TIME, T:R REAL, T:S SREAL; key on ID.
void WriteOddFile(const std::string& path, const std::vector<std::vector<uint8_t>>& images) {
  store::TableDefinition d;
  d.recordLength = 24;
  auto field = [](uint8_t type, uint16_t offset, uint16_t size, const char* name) {
    store::FieldDefinition f;
    f.type = type;
    f.offset = offset;
    f.size = size;
    f.name = name;
    return f;
  };
  d.fields = {field(files::TYPE_LONG, 0, 4, "T:ID"), field(files::TYPE_TIME, 4, 4, "T:WHEN"),
              field(files::TYPE_REAL, 8, 8, "T:R"), field(files::TYPE_SREAL, 16, 4, "T:S"),
              field(files::TYPE_LONG, 20, 4, "T:N")};
  store::KeyDefinition key;
  key.label = "T:IdKey";
  key.components = {{0, 0}};
  d.keys = {key};
  CreateTableFile(path, "\xC8X", d, [&images](store::Container&, store::Table& t) { AddRecords(t, images); });
}

TEST_F(TwlData, EdgeValuesAndNamesOutsideAsciiRoundTrip) {
  // Times of the first second, subnormal reals, a table name outside ASCII.
  std::vector<std::vector<uint8_t>> images;
  const int32_t times[] = {1, 2, 100, 101, 8640000};
  const double reals[] = {1e-310, -4.9406564584124654e-324, 2.2250738585072009e-308, 0.1, -0.0 + 1};
  const float singles[] = {1e-40f, 1.4e-45f, -1.17549421e-38f, 0.5f, 3.4e38f};
  for (int i = 0; i < 5; ++i) {
    std::vector<uint8_t> image(24, 0);
    const int32_t id = i + 1;
    std::memcpy(image.data(), &id, 4);
    std::memcpy(image.data() + 4, &times[i], 4);
    std::memcpy(image.data() + 8, &reals[i], 8);
    std::memcpy(image.data() + 16, &singles[i], 4);
    images.push_back(image);
  }
  const std::string source = dir.File("ODD.TWL"), copy = dir.File("COPY.TWL");
  WriteOddFile(source, images);
  Result info = Twl({"info", source}, dir.path());
  EXPECT_NE(info.out.find("table ČX, number"), std::string::npos) << info.out;
  Result dump = Twl({"dump", source, "--table", "ČX"}, dir.path());
  ASSERT_EQ(dump.exit, 0) << dump.err;
  EXPECT_NE(dump.out.find("\n1,\" 0:00:00\",9.9999999999999694e-311,9.9999461e-41,"), std::string::npos) << dump.out;
  EXPECT_NE(dump.out.find("\n3,\" 0:00:00.99\","), std::string::npos) << dump.out;
  WriteAll(dir.File("odd.csv"), dump.out);
  Result import = Twl({"import", copy, "--table", "ČX", "--like", source, "odd.csv"}, dir.path());
  ASSERT_EQ(import.exit, 0) << import.err;
  EXPECT_NE(import.out.find("into table ČX"), std::string::npos) << import.out;
  EXPECT_EQ(Twl({"dump", copy, "--table", "ČX"}, dir.path()).out, dump.out);

  // A NUL inside a numeric value is refused, not read up to the NUL; so are
  // reals the field cannot hold.
  const struct {
    std::string row;
    const char* reason;
  } refused[] = {
      {std::string("9\0 77", 5) + ",,0,0,0", "T:ID \"9\\0 77\" holds a NUL character"},
      {std::string("9,,0,0,1\0", 9), "T:N \"1\\0\" holds a NUL character"},
      {"9,,1e-400,0,0", "is not a number a REAL holds"},
      {"9,,0,1e39,0", "is not a number a SREAL holds"},
      {"9,,0,1e-50,0", "is not a number a SREAL holds"},
      {"9,24:00:00,0,0,0", "is not a time"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.reason);
    WriteAll(dir.File("bad.csv"), "T:ID,T:WHEN,T:R,T:S,T:N\n" + c.row + "\n");
    Result run = Twl({"import", copy, "--table", "ČX", "bad.csv"}, dir.path());
    EXPECT_EQ(run.exit, 1) << run.out << run.err;
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
  }
  EXPECT_EQ(Twl({"dump", copy, "--table", "ŽX"}, dir.path()).exit, 2);
}

TEST_F(TwlData, BuildShowsProgressAndCtrlCLeavesTheFileSound) {
  const std::string path = dir.File("BIG.TWL");
  WritePartnerFile(path, 100000);
  Result full = Twl({"build", path, "--progress"}, dir.path());
  ASSERT_EQ(full.exit, 0) << full.err;
  EXPECT_NE(full.err.find("build PARTNERI 100%"), std::string::npos) << full.err;
  EXPECT_EQ(Twl({"verify", path}, dir.path()).exit, 0);

  const std::string before = ReadAll(path);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], STDERR_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    std::string program = TwlPath();
    execl(program.c_str(), program.c_str(), "build", path.c_str(), "--key", "2", "--progress", nullptr);
    _exit(127);
  }
  close(pipeFds[1]);
  // Interrupt as soon as the build reports its first percentage.
  std::string err;
  char buffer[256];
  bool signalled = false;
  for (;;) {
    ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    err.append(buffer, static_cast<size_t>(got));
    if (!signalled && err.find('%') != std::string::npos) {
      kill(pid, SIGINT);
      signalled = true;
    }
  }
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(signalled) << err;
  ASSERT_TRUE(WIFEXITED(status)) << err;
  EXPECT_EQ(WEXITSTATUS(status), 1) << err;
  EXPECT_NE(err.find("error 93"), std::string::npos) << err;
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_EQ(Twl({"verify", path}, dir.path()).exit, 0);
}

}  // namespace
}  // namespace pr::twl::testing
