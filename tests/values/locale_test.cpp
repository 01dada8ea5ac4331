#include "values/locale.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "files/errors.h"
#include "platform/kernel.h"
#include "test_support.h"
#include "values/env_file.h"

namespace pr::values {
namespace {

using testing::Fmt;
using testing::ValuesTest;

// A temporary folder for files the tests write; removed with its files.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/pr_values_XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() {
    for (const std::string& f : files_) unlink(f.c_str());
    rmdir(path_.c_str());
  }
  std::string Write(const std::string& name, const std::string& content) {
    std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary) << content;
    files_.push_back(file);
    return file;
  }

 private:
  std::string path_;
  std::vector<std::string> files_;
};

TEST(EnvironmentText, LinesKeysAndValues) {
  auto entries = ParseEnvironmentText(
      "VELMON=a\r\n"
      " VEL MONTH =b  \t\n"  // blanks in the key are ignored, trailing ones off the value
      "\n"
      "NOEQUALS\r"
      "KEY\tX=abandoned\n"  // a control character before "=" abandons the line
      "=no key\n"
      "LAST=c\x1Aignored=after ctrl-z\n");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].key, "VELMON");
  EXPECT_EQ(entries[0].value, "a");
  EXPECT_EQ(entries[1].key, "VELMONTH");
  EXPECT_EQ(entries[1].value, "b");
  EXPECT_EQ(entries[2].key, "LAST");
  EXPECT_EQ(entries[2].value, "c");
}

TEST(EnvironmentText, EscapesAndLimits) {
  auto value = [](const std::string& raw) {
    auto entries = ParseEnvironmentText("K=" + raw);
    return entries.empty() ? std::string("<none>") : entries[0].value;
  };
  EXPECT_EQ(value("<65>XY"), "AXY");
  EXPECT_EQ(value("<65"), "A");
  EXPECT_EQ(value("<<65>"), "<65>");
  EXPECT_EQ(value("a<b"), "a<b");
  EXPECT_EQ(value("a<"), "a<");
  EXPECT_EQ(value("<300>x"), "<300>x");  // no such character: stays
  EXPECT_EQ(value("<0>x"), "<0>x");
  EXPECT_EQ(value("<99999999999999999999>"), "<99999999999999999999>");
  EXPECT_EQ(value("<32>"), "");  // a blank at the end is trailing
  // Leading blanks written after "=" are layout; those of escapes are text.
  EXPECT_EQ(value("<9>x"), "\tx");
  EXPECT_EQ(value(" \t<32><32>x"), "  x");
  EXPECT_EQ(WholeText(value("<32>a, b")), " a, b");
  EXPECT_EQ(value(std::string(5000, 'v')).size(), kEnvironmentValueMax);
  auto longKey = ParseEnvironmentText(std::string(100, 'K') + "=v");
  ASSERT_EQ(longKey.size(), 1u);
  EXPECT_EQ(longKey[0].key.size(), kEnvironmentKeyMax);
}

TEST(EnvironmentText, Items) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitItems("Jan, Feb ,Mar"), (V{"Jan", "Feb", "Mar"}));
  EXPECT_EQ(SplitItems("New Year,x"), (V{"New Year", "x"}));
  EXPECT_EQ(SplitItems("\"a b\" c,d"), (V{"a b", "c", "d"}));
  EXPECT_EQ(SplitItems("\"a, \"\"b\"\"\",\"c\""), (V{"a, \"b\"", "c"}));
  EXPECT_EQ(SplitItems("\"unterminated, x"), (V{"unterminated, x"}));
  EXPECT_EQ(SplitItems("a,,c"), (V{"a", "", "c"}));
  EXPECT_EQ(SplitItems(""), V{});
  EXPECT_EQ(WholeText("Text, with commas"), "Text, with commas");
  EXPECT_EQ(WholeText("\"quoted, text\""), "quoted, text");
}

TEST(EnvironmentText, FileNameBesideTheHost) {
  EXPECT_EQ(EnvironmentFileName("C:\\APP\\HOST.EXE"), "C:\\APP\\HOST.ENV");
  EXPECT_EQ(EnvironmentFileName("/opt/app/prhost"), "/opt/app/prhost.ENV");
  EXPECT_EQ(EnvironmentFileName("/opt/a.b/prhost"), "/opt/a.b/prhost.ENV");
  EXPECT_EQ(EnvironmentFileName("/opt/app/host.bin.exe"), "/opt/app/host.bin.ENV");
  EXPECT_EQ(EnvironmentFileName("HOST"), "HOST.ENV");
}

TEST_F(ValuesTest, DefaultsWithoutProfileOrFile) {
  const LocaleSettings& l = Locale();
  EXPECT_STREQ(l.longMonth[0], "January");
  EXPECT_STREQ(l.shortMonth[11], "Dec");
  EXPECT_STREQ(l.am, "AM");
  EXPECT_EQ(l.timeSeparator, ':');
  EXPECT_TRUE(l.twelveHourClock);
  EXPECT_TRUE(l.identityCollation);
  EXPECT_EQ(l.upper[static_cast<uint8_t>('a')], 'A');
  EXPECT_EQ(l.lower[static_cast<uint8_t>('Z')], 'z');
  EXPECT_EQ(l.charClass[static_cast<uint8_t>('a')], kCharLower);
  EXPECT_EQ(l.charClass[static_cast<uint8_t>('Q')], kCharUpper);
  EXPECT_EQ(l.charClass[static_cast<uint8_t>('7')], kCharDigit);
  EXPECT_EQ(l.upper[0x9A], 0x9A);  // no pairs above 127 by default
  EXPECT_EQ(l.charClass[0x9A], 0);
  EXPECT_FALSE(l.oem);
}

TEST_F(ValuesTest, MessageOverridesFromTheFile) {
  ApplyEnvironmentText("VELMSG401=Moja poruka, s zarezom\nVELBUTTON=&U redu,\"&Odustani\"\nvelmsg260001=\"Quoted\"\n");
  EXPECT_EQ(files::MessageText(401), "Moja poruka, s zarezom");
  EXPECT_STREQ(files::FindMessageOverride(401), "Moja poruka, s zarezom");
  EXPECT_STREQ(files::FindMessageOverride(32512), "&U redu");
  EXPECT_STREQ(files::FindMessageOverride(32513), "&Odustani");
  EXPECT_STREQ(files::FindMessageOverride(260001), "Quoted");
  ApplyEnvironmentText("VELMSG401=Second\nVELMSGX=ignored\nVELMSG99999999999=ignored\n");
  EXPECT_STREQ(files::FindMessageOverride(401), "Second");
}

TEST_F(ValuesTest, MonthNamesAndAmPmFromTheFile) {
  ApplyEnvironmentText(
      "VELMONTH=Sijecanj,Veljaca,Ozujak,Travanj,Svibanj,Lipanj,Srpanj,Kolovoz,Rujan,Listopad,Studeni,Prosinac\n"
      "VELMON=sij,vel,ozu\n"
      "VELAMPM=\"prije podne\" po\n");
  Value jan5 = Value::Long(MakeDate(2004, 1, 5));
  EXPECT_EQ(Fmt("@d4", jan5), "Sijecanj   5, 2004");
  EXPECT_EQ(Fmt("@d3", jan5), "SIJ  5,2004");
  EXPECT_EQ(Fmt("@d3", Value::Long(MakeDate(2004, 4, 5))), "APR  5,2004");  // not named: kept
  EXPECT_STREQ(Locale().am, "pr");  // cut to two characters
  EXPECT_EQ(Fmt("@t7", Value::Long(TimeFromParts(13, 5, 0, 0))), "01:05 po");
  Value back;
  ASSERT_TRUE(Deformat(CompilePicture("@d3"), "vel 5,2004", &back));
  EXPECT_EQ(back.AsLong(), MakeDate(2004, 2, 5));
  ApplyEnvironmentText("VELAMPM=WINDOWS\n");
  EXPECT_STREQ(Locale().am, "AM");
}

TEST_F(ValuesTest, CaseCollationAndDigraphs) {
  // Windows-1250: Š 0x8A / š 0x9A, Č 0xC8 / č 0xE8.
  ApplyEnvironmentText("VELCASE=\"\x8A\xC8\",\"\x9A\xE8\"\n");
  const LocaleSettings& l = Locale();
  EXPECT_EQ(l.upper[0x9A], 0x8A);
  EXPECT_EQ(l.lower[0xC8], 0xE8);
  EXPECT_EQ(l.partner[0xE8], 0xC8);
  EXPECT_EQ(l.charClass[0x8A], kCharUpper);
  EXPECT_EQ(l.charClass[0xE8], kCharLower);
  EXPECT_EQ(l.upper[0xF0], 0xF0);  // not named
  ApplyEnvironmentText("VELCASE=WINDOWS\n");
  EXPECT_EQ(l.upper[0xF0], 0xD0);
  EXPECT_EQ(l.upper[0xF7], 0xF7);  // the division sign is no letter
  ApplyEnvironmentText("VELCASE=\n");
  EXPECT_EQ(l.upper[0x9A], 0x9A);

  EXPECT_LT(CompareCollated("B", "a"), 0);  // identity: by code
  ApplyEnvironmentText("VELCOLSEQ=AaBbCc\xC8\xE8\x44\x64\n");
  EXPECT_FALSE(l.identityCollation);
  EXPECT_LT(CompareCollated("a", "B"), 0);
  EXPECT_LT(CompareCollated("c", "\xC8"), 0);
  EXPECT_LT(CompareCollated("\xE8", "d"), 0);
  EXPECT_LT(CompareCollated("1", "A"), 0);  // unnamed characters keep their place
  EXPECT_EQ(CompareCollated("ab", "ab"), 0);
  EXPECT_LT(CompareCollated("ab", "abc"), 0);
  // Every weight table stays a permutation.
  bool seen[256] = {};
  for (int c = 0; c < 256; ++c) seen[l.collation[c]] = true;
  for (int c = 0; c < 256; ++c) EXPECT_TRUE(seen[c]) << c;

  ApplyEnvironmentText("VELCOLSEQ=WINDOWS\n");
  EXPECT_LT(CompareCollated("a", "B"), 0);
  EXPECT_LT(CompareCollated("a", "A"), 0);
  EXPECT_LT(CompareCollated("9", "a"), 0);
  EXPECT_LT(CompareCollated("-", "0"), 0);
  ApplyEnvironmentText("VELCOLSEQ=\n");
  EXPECT_TRUE(l.identityCollation);

  // LJ sorts as one letter after L: "LJ..." after "LZ...".
  ApplyEnvironmentText("VELDIGRAPH=LJL,NJN\n");
  EXPECT_EQ(l.digraphCount, 2);
  EXPECT_GT(CompareCollated("LJA", "LZA"), 0);
  EXPECT_LT(CompareCollated("LJA", "M"), 0);
  ApplyEnvironmentText("VELDIGRAPH=\"DZD,XX\",ABCD\n");  // only three-character pieces count
  EXPECT_EQ(l.digraphCount, 1);
}

TEST_F(ValuesTest, OemValuesAreConvertedAfterCharset) {
  char oem[2] = {}, ansi[2] = {static_cast<char>(0x9A), 0};  // š
  ASSERT_TRUE(CharToOemBuffA(ansi, oem, 1));
  ApplyEnvironmentText(std::string("VELMON=") + ansi + "ij\nVELCHARSET=OEM\nVELMONTH=" + oem + "ij\n");
  const LocaleSettings& l = Locale();
  EXPECT_TRUE(l.oem);
  EXPECT_EQ(std::string(l.shortMonth[0]), std::string(ansi) + "ij");
  EXPECT_EQ(std::string(l.longMonth[0]), std::string(ansi) + "ij");
  // The collation sequence names OEM characters: š (OEM) sorts before a.
  ApplyEnvironmentText(std::string("VELCOLSEQ=") + oem + "a\n");
  EXPECT_LT(CompareCollated(ansi, "a"), 0);
  EXPECT_LT(CompareCollated(oem, "a", true), 0);
  ApplyEnvironmentText("VELCHARSET=ANSI\nVELLFN=On\nVELLAYOUT=rtl\nVELSYSTEMCHARSET=EASTEUROPE\n");
  EXPECT_FALSE(l.oem);
  EXPECT_TRUE(l.longFileNames);
  EXPECT_TRUE(l.rightToLeft);
  EXPECT_STREQ(l.systemCharset, "EASTEUROPE");
}

TEST_F(ValuesTest, LoadLocaleFromAFile) {
  TempDir dir;
  std::string path = dir.Write("HOST.ENV", "VELMSG401=From file\r\nVELMON=<74>an\r\n\x1A");
  EXPECT_TRUE(LoadLocale(path));
  EXPECT_STREQ(files::FindMessageOverride(401), "From file");
  EXPECT_STREQ(Locale().shortMonth[0], "Jan");
  files::SetErrorCode(2);
  EXPECT_FALSE(LoadLocale(path + ".missing"));
  EXPECT_EQ(files::ErrorCode(), 0);  // a missing file is no error
  EXPECT_TRUE(LoadLocale("windows"));
  EXPECT_EQ(Locale().upper[0x9A], 0x8A);
  EXPECT_FALSE(Locale().identityCollation);
  // Č (0xC8) and č (0xE8) sort with C, after the plain letter, before D.
  EXPECT_LT(CompareCollated("cz", "\xE8" "a"), 0);
  EXPECT_LT(CompareCollated("\xE8" "z", "d"), 0);
  EXPECT_LT(CompareCollated("\xE8", "\xC8"), 0);
  EXPECT_GT(CompareCollated("Zvirko", "\x8A" "ime"), 0);
  EXPECT_LT(CompareCollated("\x9A" "ime", "Tomo"), 0);
}

TEST_F(ValuesTest, LoadingOnFirstUseKeepsTheCallersErrorState) {
  files::SetErrorCode(33);
  SetLastError(ERROR_LOCK_VIOLATION);
  ResetLocaleForTesting();
  EXPECT_STREQ(Locale().am, "AM");
  EXPECT_EQ(files::ErrorCode(), 33);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
  files::ClearError();
}

TEST_F(ValuesTest, SystemPicturesFromTheProfile) {
  TempDir dir;
  std::string ini = dir.Write("win.ini",
                              "[intl]\niTime=1\niTLzero=0\nsTime=.\nsShortDate=dd.MM.yyyy\n"
                              "sLongDate=yyyy'. 'MMMM d\n");
  setenv("PR_WININI", ini.c_str(), 1);
  ResetLocaleForTesting();
  Value jan5 = Value::Long(MakeDate(2004, 1, 5));
  Value t = Value::Long(TimeFromParts(9, 5, 7, 0));
  EXPECT_EQ(Fmt("@d17", jan5), "05.01.2004");
  EXPECT_EQ(Fmt("@d18", jan5), "2004 January    5");
  EXPECT_EQ(Fmt("@t7", t), " 9.05");
  EXPECT_EQ(Fmt("@t8", t), " 9.05.07");
  Value back;
  ASSERT_TRUE(Deformat(CompilePicture("@d17"), "5.1.2004", &back));
  EXPECT_EQ(back.AsLong(), MakeDate(2004, 1, 5));

  ini = dir.Write("win2.ini", "[intl]\nsShortDate=yy/M/d\n");
  setenv("PR_WININI", ini.c_str(), 1);
  ResetLocaleForTesting();
  EXPECT_EQ(Fmt("@d17", jan5), "04/ 1/ 5");
  unsetenv("PR_WININI");
}

TEST_F(ValuesTest, FirstUseFromManyThreadsLoadsOnce) {
  std::vector<std::thread> threads;
  std::vector<const LocaleSettings*> seen(8);
  std::vector<int> weights(8);
  for (int k = 0; k < 8; ++k) {
    threads.emplace_back([&, k] {
      seen[k] = &Locale();
      weights[k] = Locale().upper[static_cast<uint8_t>('q')];
    });
  }
  for (auto& t : threads) t.join();
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(seen[k], &Locale());
    EXPECT_EQ(weights[k], 'Q');
  }
}

}  // namespace
}  // namespace pr::values
