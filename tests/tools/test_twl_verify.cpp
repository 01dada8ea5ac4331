// twl verify: silent on files the store wrote (also after an update cut
// short and settled), and one report for each kind of damage, without ever
// changing the file it looks at.
#include <signal.h>
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <functional>
#include <map>

#include "store/container_format.h"
#include "store/page.h"
#include "store/page_codec.h"
#include "store/record_kinds.h"
#include "twl_test_util.h"

namespace pr::twl::testing {
namespace {

class TwlVerify : public ::testing::Test {
 protected:
  void SetUp() override { store::SetFatalHandler(&store::ThrowingFatalHandler); }
  void TearDown() override { store::SetFatalHandler(nullptr); }
  Scratch dir;
};

TEST_F(TwlVerify, SoundFilesReportNothing) {
  // One leaf, and a tree of several levels after changes and deletes.
  const std::string small = dir.File("SMALL.TWL"), large = dir.File("LARGE.TWL");
  WritePartnerFile(small, 20);
  WritePartnerFile(large, 6000);
  ChangeFile(large, "PARTNERI", [](store::Container&, store::Table& t) {
    for (uint32_t i = 2; i < 6000; i += 3) ASSERT_TRUE(t.Delete(store::MakeRecordNumber(i + 1)).ok());
    std::vector<uint8_t> image = PartnerImage(999999);
    ASSERT_TRUE(t.Replace(store::MakeRecordNumber(2), image.data()).ok());
  });
  for (const std::string& path : {small, large}) {
    Result run = Twl({"verify", path}, dir.path());
    EXPECT_EQ(run.exit, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("sound"), std::string::npos) << run.out;
  }
  Result info = Twl({"info", large}, dir.path());
  EXPECT_EQ(info.exit, 0) << info.err;
  EXPECT_NE(info.out.find("key 2 PAR:NameKey: 4000 entries, DUP, NOCASE"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("DRIVER('TARNWELL')"), std::string::npos) << info.out;
}

TEST_F(TwlVerify, PartnerFileOfTheHostIsSound) {
  Result add = RunProgram(std::string(PR_BINARY_DIR) + "/prhost", {"add", "Ana"}, dir.path(), {"PR_UI=headless"});
  ASSERT_EQ(add.exit, 0) << add.out << add.err;
  Result run = Twl({"verify", "PARTNERI.TWL"}, dir.path());
  EXPECT_EQ(run.exit, 0) << run.out << run.err;
  Result dump = Twl({"dump", "PARTNERI.TWL"}, dir.path());
  EXPECT_EQ(dump.out, "PAR:ID,PAR:NAZIV\n1,Ana\n");
}

struct Damage {
  const char* name;
  void (*apply)(const std::string& path);
  const char* reported;
};

void RemoveKeyEntry(const std::string& path) {
  ChangeFile(path, "PARTNERI", [](store::Container& file, store::Table& t) {
    std::vector<uint8_t> image(t.recordLength()), entry(t.key(0).entryKeyLength());
    const store::RecordNumber record = store::MakeRecordNumber(50);
    ASSERT_TRUE(t.Fetch(record, image.data()).ok());
    size_t length = t.EncodeEntry(0, record, image.data(), entry.data());
    ASSERT_TRUE(file.Erase(store::ByteView(entry.data(), length)));
  });
}

void CounterOffByOne(const std::string& path) {
  ChangeFile(path, "PARTNERI", [](store::Container&, store::Table& t) {
    store::Counters counters = t.ReadCounters(store::kDataCounters);
    ++counters.count;
    t.WriteCounters(store::kDataCounters, counters);
  });
}

void FlipDataByte(const std::string& path) {
  // The lone leaf of a small file starts at 512; flip a byte well inside
  // its records.
  std::string bytes = ReadAll(path);
  ASSERT_GT(bytes.size(), 1024u);
  bytes[512 + 300] = static_cast<char>(bytes[512 + 300] ^ 0x5A);
  WriteAll(path, bytes);
}

TEST_F(TwlVerify, EachDamageIsReportedAndTheFileLeftAlone) {
  const Damage damages[] = {
      {"key entry removed", &RemoveKeyEntry, "record 50: has no entry in key 1 (PAR:IdKey)"},
      {"counter off by one", &CounterOffByOne, "its record counter says 101, the table holds 100 records"},
      {"flipped byte", &FlipDataByte, "fault"},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.name);
    const std::string path = dir.File(std::string(damage.name) + ".TWL");
    WritePartnerFile(path, 100);
    damage.apply(path);
    const std::string before = ReadAll(path);
    Result run = Twl({"verify", path}, dir.path());
    EXPECT_EQ(run.exit, 1) << run.out << run.err;
    EXPECT_NE(run.out.find(damage.reported), std::string::npos) << run.out << run.err;
    EXPECT_EQ(ReadAll(path), before) << "verify changed the file";
  }
}

// Rewrites the file at `path` as another program may write it: every page
// with both lengths on every record, no shared prefix and no compression,
// each in the size class its image then needs.  `tamper` may change the
// pages' records first.
struct LoosePage {
  int32_t oldReference;
  uint8_t level;
  std::vector<std::vector<uint8_t>> keys, data;
  std::vector<int32_t> children;
  std::vector<uint8_t> image;
  int32_t newReference = 0;
};

void RepackLoosely(const std::string& path, const std::function<void(std::vector<LoosePage>*)>& tamper = {}) {
  const std::string bytes = ReadAll(path);
  ASSERT_GE(bytes.size(), store::kHeaderSize);
  store::FileHeader header;
  ASSERT_TRUE(header.Parse(reinterpret_cast<const uint8_t*>(bytes.data())));
  using Loose = LoosePage;
  std::vector<Loose> pages;
  std::vector<uint8_t> scratch;
  for (int cls = 1; cls <= store::kMaxClass; ++cls) {
    for (int32_t ref = header.regionStart[cls]; ref < header.regionEnd[cls]; ref += cls) {
      const uint8_t* image = reinterpret_cast<const uint8_t*>(bytes.data()) + store::PageOffset(ref);
      store::Page page(ref, 0);
      store::PageCodec::Parse(image, static_cast<uint32_t>(cls) * store::kUnit, ref, true, &page, &scratch, "x");
      Loose loose{ref, page.level(), {}, {}, {}, {}};
      for (size_t i = 0; i < page.count(); ++i) {
        loose.keys.emplace_back(page.Key(i).begin(), page.Key(i).end());
        loose.data.emplace_back(page.Data(i).begin(), page.Data(i).end());
        if (page.isNode()) loose.children.push_back(page.Child(i));
      }
      pages.push_back(std::move(loose));
    }
  }
  if (tamper) tamper(&pages);
  // Images (home offsets later), then regions by class.
  std::map<int32_t, int32_t> moved;
  std::array<int32_t, store::kClassCount> perClass{};
  for (Loose& page : pages) {
    std::vector<uint8_t>& out = page.image;
    out.assign(13 + 4 * page.children.size(), 0);
    uint32_t estimate = 13;
    for (size_t i = 0; i < page.keys.size(); ++i) {
      const size_t length = page.keys[i].size() + page.data[i].size();
      out.push_back(0xC0);
      out.push_back(uint8_t(length));
      out.push_back(uint8_t(length >> 8));
      out.push_back(uint8_t(page.keys[i].size()));
      out.push_back(uint8_t(page.keys[i].size() >> 8));
      out.insert(out.end(), page.keys[i].begin(), page.keys[i].end());
      out.insert(out.end(), page.data[i].begin(), page.data[i].end());
      estimate += store::Page::RecordEstimate(static_cast<uint32_t>(length), page.level > 0);
    }
    const uint32_t stored = static_cast<uint32_t>(out.size());
    store::StoreU16(out.data() + 4, static_cast<uint16_t>(stored));
    store::StoreU16(out.data() + 6, static_cast<uint16_t>(stored));
    store::StoreU16(out.data() + 8, static_cast<uint16_t>(estimate));
    store::StoreU16(out.data() + 10, static_cast<uint16_t>(page.keys.size()));
    out[12] = page.level;
    out.resize(store::RoundUpToUnit(stored), store::kPadByte);
    ASSERT_LE(out.size(), store::kMaxPageBytes);
    ++perClass[out.size() / store::kUnit];
  }
  store::FileHeader fresh = header;
  int32_t cursor = header.regionEnd[0];
  std::array<int32_t, store::kClassCount> next{};
  for (int cls = 1; cls <= store::kMaxClass; ++cls) {
    fresh.regionStart[cls] = next[cls] = cursor;
    cursor += perClass[cls] * cls;
    fresh.regionEnd[cls] = cursor;
  }
  for (Loose& page : pages) {
    const int cls = static_cast<int>(page.image.size() / store::kUnit);
    page.newReference = next[cls];
    next[cls] += cls;
    moved[page.oldReference] = page.newReference;
  }
  fresh.rootReference = moved.at(header.rootReference);
  fresh.committedLength = fresh.pendingLength = fresh.PageAreaEnd();
  std::string out(fresh.PageAreaEnd(), '\0');
  fresh.Serialize(reinterpret_cast<uint8_t*>(out.data()));
  for (Loose& page : pages) {
    store::StoreU32(page.image.data(), static_cast<uint32_t>(store::PageOffset(page.newReference)));
    for (size_t i = 0; i < page.children.size(); ++i)
      store::StoreU32(page.image.data() + 13 + 4 * i, static_cast<uint32_t>(moved.at(page.children[i])));
    std::memcpy(out.data() + store::PageOffset(page.newReference), page.image.data(), page.image.size());
  }
  WriteAll(path, out);
}

TEST_F(TwlVerify, FilesPackedByOtherProgramsAreCheckedByTheFormatsRules) {
  const std::string one = dir.File("ONE.TWL"), tree = dir.File("TREE.TWL");
  WritePartnerFile(one, 20);
  WritePartnerFile(tree, 3000);
  for (const std::string& path : {one, tree}) {
    RepackLoosely(path);
    Result run = Twl({"verify", path}, dir.path());
    EXPECT_EQ(run.exit, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("sound"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("class"), std::string::npos) << run.out;
    // --strict notes where this module would have packed otherwise; notes
    // are no faults.
    Result strict = Twl({"verify", path, "--strict"}, dir.path());
    EXPECT_EQ(strict.exit, 0) << strict.out << strict.err;
    EXPECT_NE(strict.out.find("writing rule: page "), std::string::npos) << strict.out;
    EXPECT_EQ(Twl({"dump", path}, dir.path()).exit, 0);
  }

  // Real faults in such a tree are found, and the walk goes on past the
  // first: in every node page the entry that leads to the second child is
  // raised to that child's second key, above its first.
  WritePartnerFile(tree, 3000);
  int nodes = 0;
  RepackLoosely(tree, [&](std::vector<LoosePage>* pages) {
    for (LoosePage& node : *pages) {
      if (node.level == 0 || node.keys.size() < 2) continue;
      for (const LoosePage& child : *pages)
        if (child.oldReference == node.children[1] && child.keys.size() >= 2) {
          node.keys[1] = child.keys[1];
          ++nodes;
        }
    }
  });
  ASSERT_GE(nodes, 2) << "the tree needs two node pages";
  Result run = Twl({"verify", tree}, dir.path());
  EXPECT_EQ(run.exit, 1) << run.out << run.err;
  size_t first = run.out.find("holds a key below its entry");
  ASSERT_NE(first, std::string::npos) << run.out << run.err;
  EXPECT_NE(run.out.find("holds a key below its entry", first + 1), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("class"), std::string::npos) << run.out;
}

TEST_F(TwlVerify, ForeignAndMissingFilesAreOpenErrors) {
  WriteAll(dir.File("foreign.TWL"), std::string(2048, 'x'));
  Result foreign = Twl({"verify", "foreign.TWL"}, dir.path());
  EXPECT_EQ(foreign.exit, 2);
  EXPECT_NE(foreign.err.find("error 36"), std::string::npos) << foreign.err;
  Result missing = Twl({"verify", "missing.TWL"}, dir.path());
  EXPECT_EQ(missing.exit, 2);
  EXPECT_NE(missing.err.find("error 2:"), std::string::npos) << missing.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing.TWL")));
  Result usage = Twl({"verify"}, dir.path());
  EXPECT_EQ(usage.exit, 2);
  Result help = Twl({"verify", "--help"}, dir.path());
  EXPECT_EQ(help.exit, 0);
  EXPECT_NE(help.out.find("usage: twl verify"), std::string::npos);
}

// Leaves a pending-update area behind: a child writes the first phase of an
// update that adds partners 101..110 and dies before the second.
void CutShortUpdate(const std::string& path) {
  pid_t pid = fork();
  if (pid == 0) {
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    store::Container file(handle, path);
    if (file.RefreshHeader() != 0) _exit(3);
    std::unique_ptr<store::Table> t;
    if (!store::Table::Open(file, "PARTNERI", nullptr, store::Table::OpenOptions{}, &t).ok()) _exit(4);
    for (uint32_t i = 101; i <= 110; ++i) {
      store::RecordNumber record;
      if (!t->Add(PartnerImage(i).data(), &record).ok()) _exit(5);
    }
    _exit(file.WriteUpdatePhaseOne() == 0 ? 0 : 6);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
}

uint32_t PendingLength(const std::string& path) {
  std::string bytes = ReadAll(path);
  return static_cast<uint32_t>(static_cast<uint8_t>(bytes[0x0A]) | static_cast<uint8_t>(bytes[0x0B]) << 8 |
                               static_cast<uint8_t>(bytes[0x0C]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(bytes[0x0D])) << 24);
}

TEST_F(TwlVerify, CompletePendingAreaIsNoFaultAndRecoverFinishesIt) {
  const std::string path = dir.File("CUT.TWL");
  WritePartnerFile(path, 100);
  CutShortUpdate(path);
  Result look = Twl({"verify", path}, dir.path());
  EXPECT_EQ(look.exit, 0) << look.out << look.err;
  EXPECT_NE(look.out.find("pending-update area"), std::string::npos) << look.out;
  EXPECT_NE(look.out.find("complete"), std::string::npos) << look.out;

  Result recover = Twl({"recover", path}, dir.path());
  EXPECT_EQ(recover.exit, 0) << recover.err;
  EXPECT_NE(recover.out.find("finished the pending-update area"), std::string::npos) << recover.out;
  Result after = Twl({"verify", path}, dir.path());
  EXPECT_EQ(after.exit, 0) << after.out;
  EXPECT_EQ(after.out.find("pending-update area"), std::string::npos) << after.out;
  Result info = Twl({"info", path}, dir.path());
  EXPECT_NE(info.out.find("records 110,"), std::string::npos) << info.out;
  Result again = Twl({"recover", path}, dir.path());
  EXPECT_EQ(again.exit, 0);
  EXPECT_NE(again.out.find("nothing to do"), std::string::npos) << again.out;
}

TEST_F(TwlVerify, TruncatedPendingAreaIsAFaultAndRecoverDiscardsIt) {
  const std::string path = dir.File("TORN.TWL");
  WritePartnerFile(path, 100);
  CutShortUpdate(path);
  // The header points at an area the file no longer holds whole.
  ASSERT_EQ(truncate(path.c_str(), PendingLength(path) - 256), 0);
  const std::string before = ReadAll(path);
  Result look = Twl({"verify", path}, dir.path());
  EXPECT_EQ(look.exit, 1) << look.out << look.err;
  EXPECT_NE(look.out.find("incomplete"), std::string::npos) << look.out;
  EXPECT_EQ(ReadAll(path), before);

  Result recover = Twl({"recover", path}, dir.path());
  EXPECT_EQ(recover.exit, 0) << recover.err;
  EXPECT_NE(recover.out.find("discarded the pending-update area"), std::string::npos) << recover.out;
  EXPECT_NE(recover.out.find("incomplete"), std::string::npos) << recover.out;
  Result after = Twl({"verify", path}, dir.path());
  EXPECT_EQ(after.exit, 0) << after.out;
  Result info = Twl({"info", path}, dir.path());
  EXPECT_NE(info.out.find("records 100,"), std::string::npos) << info.out;
}

// A header block of zeros is a file never written (a first update cut short
// before its header), which the store opens as a new empty file: twl says
// so and finds it sound, and the host can then use it.  Zeros followed by
// what no cut-short first update leaves stay another program's file.
TEST_F(TwlVerify, NeverWrittenFileIsNewAndEmptyWhileForeignBytesStayInvalid) {
  auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(dir.File(name), std::ios::binary) << bytes;
    return dir.File(name);
  };
  const std::string zeros(512, '\0');
  std::string cutShort = zeros + std::string("\x00\x02\x00\x00", 4) + std::string(252, '\x5a');
  for (const std::string& path : {write("ZERO.TWL", zeros), write("ZEROS.TWL", std::string(4096, '\0')),
                                  write("CUT.TWL", cutShort)}) {
    Result run = Twl({"verify", path}, dir.path());
    EXPECT_EQ(run.exit, 0) << path << run.out << run.err;
    EXPECT_NE(run.out.find("sound (0 tables"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("a new file never written"), std::string::npos) << run.out;
    Result info = Twl({"info", path}, dir.path());
    EXPECT_EQ(info.exit, 0) << info.err;
    EXPECT_NE(info.out.find("empty: no header written yet"), std::string::npos) << info.out;
    Result dump = Twl({"dump", path}, dir.path());
    EXPECT_EQ(dump.err.find("error 36"), std::string::npos) << dump.err;
  }
  const std::string foreign = write("FOREIGN.TWL", zeros + "not ours" + std::string(56, '\0'));
  for (const char* command : {"verify", "info", "dump"}) {
    Result run = Twl({command, foreign}, dir.path());
    EXPECT_NE(run.exit, 0) << command;
    EXPECT_NE(run.err.find("error 36: Invalid Data File"), std::string::npos) << command << run.err;
  }

  // The host takes the never-written file over as a new one.
  const std::string partneri = write("PARTNERI.TWL", zeros);
  Result add = RunProgram(std::string(PR_BINARY_DIR) + "/prhost", {"add", "Ana"}, dir.path(), {"PR_UI=headless"});
  ASSERT_EQ(add.exit, 0) << add.out << add.err;
  Result after = Twl({"verify", partneri}, dir.path());
  EXPECT_EQ(after.exit, 0) << after.out;
  EXPECT_NE(after.out.find("sound (1 table,"), std::string::npos) << after.out;
}

}  // namespace
}  // namespace pr::twl::testing
