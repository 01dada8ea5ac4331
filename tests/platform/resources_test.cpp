// The resource registry, modules, profile strings and code pages.
#include <stdlib.h>

#include <cstring>
#include <fstream>
#include <algorithm>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/kernel.h"
#include "tests/platform/temp_dir.h"

namespace {
void AnchorInTestProgram() {}

TEST(Resources, FoundByTypeAndNameInAnyCase) {
  HMODULE self = ModuleFromAddress(reinterpret_cast<const void*>(&AnchorInTestProgram));
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(self, GetModuleHandleA(nullptr));  // an address in the test program
  // The platform is a module of its own.
  EXPECT_NE(ModuleFromAddress(reinterpret_cast<const void*>(&GetLastError)), self);
  const char bytes[] = {1, 2, 3, 4, 5};
  RegisterResource(self, "VodeDav", "Pr_Dl004_Rsc", LANG_NEUTRAL_DEFAULT, bytes, sizeof bytes);
  RegisterResource(self, "VODEDAV", "ONLY_US", LANG_EN_US, bytes, 2);
  RegisterResource(self, reinterpret_cast<const char*>(10), "#007", LANG_NEUTRAL_DEFAULT, bytes, 3);

  HRSRC r = FindResourceA(nullptr, "pr_dl004_RSC", "vodedav");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(SizeofResource(self, r), sizeof bytes);
  const void* data = LockResource(LoadResource(self, r));
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::memcmp(data, bytes, sizeof bytes), 0);

  // A resource in one language only is found by FindResourceA, and by
  // FindResourceExA in that language only.
  EXPECT_NE(FindResourceA(self, "only_us", "VODEDAV"), nullptr);
  EXPECT_EQ(FindResourceExA(self, "VODEDAV", "ONLY_US", 1050), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_LANG_NOT_FOUND);
  // Numbered types and names: MAKEINTRESOURCE and "#n" are the same key.
  EXPECT_NE(FindResourceA(self, reinterpret_cast<const char*>(7), "#10"), nullptr);

  EXPECT_EQ(FindResourceA(self, "MISSING", "VODEDAV"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_EQ(FindResourceA(self, "PR_DL004_RSC", "NOTYPE"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
  EXPECT_EQ(LoadResource(self, reinterpret_cast<HRSRC>(0x10)), nullptr);
  EXPECT_EQ(SizeofResource(self, reinterpret_cast<HRSRC>(0x10)), 0u);

  // Registering again replaces the bytes.
  RegisterResource(self, "vodedav", "PR_DL004_RSC", LANG_NEUTRAL_DEFAULT, bytes, 1);
  EXPECT_EQ(SizeofResource(self, FindResourceA(self, "PR_DL004_RSC", "VODEDAV")), 1u);
}

TEST(Resources, StringTable) {
  HMODULE self = GetModuleHandleA(nullptr);
  const StringTableEntry table[] = {{2, "File Not Found"}, {37, "File Not Open"}, {1000, "\x9A\xE8"}};
  RegisterStringTable(self, table, 3);
  char buf[64];
  EXPECT_EQ(LoadStringA(self, 2, buf, sizeof buf), 14);
  EXPECT_STREQ(buf, "File Not Found");
  EXPECT_EQ(LoadStringA(nullptr, 1000, buf, sizeof buf), 2);
  EXPECT_STREQ(buf, "\x9A\xE8");
  EXPECT_EQ(LoadStringA(self, 37, buf, 5), 4);  // cut to the buffer
  EXPECT_STREQ(buf, "File");
  EXPECT_EQ(LoadStringA(self, 3, buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "");

  HMODULE listed[16];
  size_t n = EnumResourceModules(listed, 16);
  ASSERT_GE(n, 1u);
  EXPECT_NE(std::find(listed, listed + std::min<size_t>(n, 16), self), listed + std::min<size_t>(n, 16));
}

TEST(Modules, FileNamesAndMissingModules) {
  char path[512];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  ASSERT_GT(n, 0u);
  EXPECT_NE(std::string(path).find("test_platform"), std::string::npos);
  char tiny[4];
  EXPECT_EQ(GetModuleFileNameA(nullptr, tiny, sizeof tiny), 4u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(tiny[3], '\0');

  EXPECT_EQ(LoadLibraryA("V60dfx.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(GetModuleHandleA("NO_SUCH_MODULE"), nullptr);
  EXPECT_EQ(GetProcAddress(GetModuleHandleA(nullptr), "_Vel$NO_SUCH_SERVICE"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  // A library of the system, found through the loader's search.
  HMODULE libm = LoadLibraryA("libm.so.6");
  ASSERT_NE(libm, nullptr);
  EXPECT_NE(GetProcAddress(libm, "cos"), nullptr);
  EXPECT_EQ(GetModuleHandleA("libm"), nullptr);  // stem of "libm.so.6" is "libm.so"
  EXPECT_TRUE(FreeLibrary(libm));
}

class Profile : public ::testing::Test {
 protected:
  void Write(const std::string& text) {
    path_ = dir_.File("win.ini");
    std::ofstream(path_, std::ios::binary) << text;
    setenv("PR_WININI", path_.c_str(), 1);
  }
  void TearDown() override { unsetenv("PR_WININI"); }
  TempDir dir_;
  std::string path_;
};

TEST_F(Profile, ReadsTheIntlSection) {
  Write("; comment\n[windows]\nsDate=x\n[Intl]\r\n sDate = . \r\niDate=1\nsShortDate=\"dd.MM.yyyy\"\n"
        "iTLZero=abc\niNeg=-5\nbroken line\n[empty]\n");
  char buf[32];
  EXPECT_EQ(GetProfileStringA("intl", "SDATE", "/", buf, sizeof buf), 1u);
  EXPECT_STREQ(buf, ".");
  EXPECT_EQ(GetProfileStringA("intl", "sShortDate", "", buf, sizeof buf), 10u);
  EXPECT_STREQ(buf, "dd.MM.yyyy");
  EXPECT_EQ(GetProfileStringA("intl", "sShortDate", "", buf, 4), 3u);
  EXPECT_STREQ(buf, "dd.");
  EXPECT_EQ(GetProfileStringA("intl", "sTime", "def  ", buf, sizeof buf), 3u);
  EXPECT_STREQ(buf, "def");
  EXPECT_EQ(GetProfileIntA("intl", "iDate", 7), 1u);
  EXPECT_EQ(GetProfileIntA("intl", "iTLZero", 7), 0u);
  EXPECT_EQ(GetProfileIntA("intl", "iNeg", 7), 0u);
  EXPECT_EQ(GetProfileIntA("intl", "iMissing", 7), 7u);
  // Section and key listings.
  char list[64];
  DWORD n = GetProfileStringA(nullptr, nullptr, "", list, sizeof list);
  EXPECT_EQ(std::string(list, n), std::string("windows\0Intl\0empty\0", 19));
  n = GetProfileStringA("intl", nullptr, "", list, 12);
  EXPECT_EQ(n, 10u);
  EXPECT_EQ(std::string(list, 12), std::string("sDate\0iDat\0\0", 12));  // cut, two NULs
}

TEST_F(Profile, InputIsCappedWhileItIsRead) {
  // A device without line ends gives the defaults at once instead of one
  // line that grows without bound.
  setenv("PR_WININI", "/dev/zero", 1);
  char buf[32];
  EXPECT_EQ(GetProfileStringA("intl", "sDate", ".", buf, sizeof buf), 1u);
  EXPECT_STREQ(buf, ".");
  // A large file is read up to 1 MB: a key inside is found, a line cut by
  // the cap and anything after it are not.
  std::string text = "[intl]\nsDate=-\n";
  text += "; " + std::string((1 << 20) - text.size() - 3 - 8, 'x') + "\n";
  text += "sTime=.\n";  // ends at the cap exactly
  ASSERT_EQ(text.size(), size_t(1) << 20);
  text += "iDate=2\n";
  Write(text + "; " + std::string(3 << 20, 'y'));
  EXPECT_EQ(GetProfileStringA("intl", "sDate", "?", buf, sizeof buf), 1u);
  EXPECT_STREQ(buf, "-");
  EXPECT_EQ(GetProfileStringA("intl", "sTime", "?", buf, sizeof buf), 1u);
  EXPECT_STREQ(buf, ".");
  EXPECT_EQ(GetProfileIntA("intl", "iDate", 7), 7u);
  std::string cut = "[intl]\n; " + std::string((1 << 20) - 12, 'x') + "\nsDate=-\n";
  Write(cut);
  EXPECT_EQ(GetProfileStringA("intl", "sDate", "?", buf, sizeof buf), 1u);
  EXPECT_STREQ(buf, "?");
}

TEST_F(Profile, NoFileGivesTheDefaults) {
  setenv("PR_WININI", dir_.File("absent.ini").c_str(), 1);
  char buf[8];
  EXPECT_EQ(GetProfileStringA("intl", "sDate", ".", buf, sizeof buf), 1u);
  EXPECT_STREQ(buf, ".");
  EXPECT_EQ(GetProfileIntA("intl", "iDate", 2), 2u);
  unsetenv("PR_WININI");
  EXPECT_EQ(GetProfileIntA("intl", "iDate", 3), 3u);
}

TEST(CodePages, AnsiAndOemAgreeOnCroatianLetters) {
  // š č ć ž đ Š Č Ć Ž Đ in Windows-1250 and in code page 852.
  const char ansi[] = "\x9A\xE8\xE6\x9E\xF0\x8A\xC8\xC6\x8E\xD0";
  const char oem[] = "\xE7\x9F\x86\xA7\xD0\xE6\xAC\x8F\xA6\xD1";
  char out[16] = {};
  ASSERT_TRUE(CharToOemBuffA(ansi, out, 10));
  EXPECT_EQ(std::memcmp(out, oem, 10), 0);
  ASSERT_TRUE(OemToCharBuffA(out, out, 10));  // in place
  EXPECT_EQ(std::memcmp(out, ansi, 10), 0);
  EXPECT_TRUE(AreFileApisANSI());

  // Every character that both pages hold goes there and back unchanged, and
  // ASCII and control bytes pass as they are.
  int roundTrips = 0;
  for (int b = 0; b < 256; ++b) {
    char c = static_cast<char>(b), o = 0, back = 0;
    CharToOemBuffA(&c, &o, 1);
    OemToCharBuffA(&o, &back, 1);
    if (b < 0x80) {
      EXPECT_EQ(o, c) << b;
    }
    if (back == c) ++roundTrips;
  }
  EXPECT_GE(roundTrips, 220);  // all but typographic marks and undefined bytes
  char typographic[] = "\x84\x96";  // „ –
  CharToOemBuffA(typographic, typographic, 2);
  EXPECT_STREQ(typographic, "\"-");
}

TEST(CodePages, Utf8BothWays) {
  const char ansi[] = "Ko\x9A" "ar \x80";  // "Košar €"
  char utf8[32];
  size_t n = AnsiToUtf8(ansi, 7, utf8, sizeof utf8);
  EXPECT_EQ(std::string(utf8, n), "Ko\xC5\xA1" "ar \xE2\x82\xAC");
  char back[16];
  EXPECT_EQ(Utf8ToAnsi(utf8, n, back, sizeof back), 7u);
  EXPECT_STREQ(back, ansi);

  // Too small a buffer: whole characters only, NUL-terminated, full size told.
  char small[6];
  EXPECT_EQ(AnsiToUtf8(ansi, 7, small, sizeof small), 10u);
  EXPECT_STREQ(small, "Ko\xC5\xA1" "a");
  EXPECT_EQ(AnsiToUtf8(ansi, 7, nullptr, 0), 10u);

  // Malformed UTF-8, characters outside the code page: one '?' each.
  const char bad[] = "a\xC3\x28" "b\xE4\xB8\xAD\xF0\x9F\x98" "c\xC0\xAF";
  char out[32];
  size_t m = Utf8ToAnsi(bad, sizeof bad - 1, out, sizeof out);
  EXPECT_EQ(std::string(out, m), "a?(b??c?");  // the overlong pair is one
}

TEST(Threads, TlsIsPerThreadAndFreedIndexesReadNull) {
  DWORD index = TlsAlloc();
  ASSERT_NE(index, TLS_OUT_OF_INDEXES);
  int mine = 1, theirs = 2;
  ASSERT_TRUE(TlsSetValue(index, &mine));
  void* seenByOther = &mine;
  std::thread other([&] {
    seenByOther = TlsGetValue(index);
    TlsSetValue(index, &theirs);
  });
  other.join();
  EXPECT_EQ(seenByOther, nullptr);
  EXPECT_EQ(TlsGetValue(index), &mine);
  ASSERT_TRUE(TlsFree(index));
  EXPECT_FALSE(TlsFree(index));
  DWORD again = TlsAlloc();
  EXPECT_EQ(again, index);
  EXPECT_EQ(TlsGetValue(again), nullptr);  // not the value stored before the free
  TlsFree(again);
  EXPECT_FALSE(TlsSetValue(100000, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Threads, CriticalSectionIsRecursiveAndExcludesOthers) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs));  // recursive for the owner
  BOOL otherGot = TRUE;
  std::thread([&] { otherGot = TryEnterCriticalSection(&cs); }).join();
  EXPECT_FALSE(otherGot);
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  std::thread([&] {
    otherGot = TryEnterCriticalSection(&cs);
    if (otherGot) LeaveCriticalSection(&cs);
  }).join();
  EXPECT_TRUE(otherGot);
  DeleteCriticalSection(&cs);

  volatile LONG v = 5;
  EXPECT_EQ(InterlockedExchange(&v, 9), 5);
  EXPECT_EQ(InterlockedIncrement(&v), 10);
  EXPECT_EQ(InterlockedDecrement(&v), 9);
  DWORD before = GetClockHundredths();
  Sleep(30);
  DWORD elapsed = GetClockHundredths() - before;
  EXPECT_GE(elapsed, 2u);
  SYSTEMTIME now{};
  GetLocalTime(&now);
  EXPECT_GE(now.wYear, 2024);
  EXPECT_TRUE(now.wMonth >= 1 && now.wMonth <= 12);
}
}  // namespace
