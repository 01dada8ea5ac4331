#include <gtest/gtest.h>

#include <cstring>

#include "event_test_support.h"
#include "ui/entry.h"
#include "ui/window_controls.h"

namespace pr::ui {
namespace {

using testing::HeadlessTest;

// The partner update form: entry 2 is the number (@n-14, LONG), entry 4 the
// name (@s20, STRING(20)).
class EntryTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    RegisterEntryControl();
    SetEntryInsertMode(true);
    std::memset(name_, ' ', sizeof name_);
    std::memcpy(name_, "Ana", 3);
    ASSERT_TRUE(form_.Open({{2, &id_}, {4, name_}}));
    number_ = form_.ControlByFeq(2)->hwnd;
    nameEntry_ = form_.ControlByFeq(4)->hwnd;
    Drain();
  }
  void TearDown() override {
    form_.Close();
    UnregisterControlClass(rsc::kEntry);  // other suites expect the placeholder
  }

  // The events queued so far, as (event, field), the queue emptied.
  std::vector<std::pair<uint32_t, int32_t>> Drain() {
    std::vector<std::pair<uint32_t, int32_t>> out;
    QueuedEvent e;
    while (form_.Dequeue(&e)) {
      out.emplace_back(e.code - kEventBase, e.feq);
      lastWhere_ = e.where;
    }
    return out;
  }
  void Type(HWND h, const char* text) {
    for (const char* p = text; *p; ++p) SendMessageA(h, WM_CHAR, static_cast<unsigned char>(*p), 0);
  }
  void Key(HWND h, UINT vk) { SendMessageA(h, WM_KEYDOWN, vk, 0); }
  std::string Name() const { return std::string(name_, sizeof name_); }

  Window form_{testing::kForm, testing::kFormLabel};
  int32_t id_ = 42;
  char name_[20];
  HWND number_ = nullptr, nameEntry_ = nullptr;
  intptr_t lastWhere_ = 0;
};

using Events = std::vector<std::pair<uint32_t, int32_t>>;

TEST_F(EntryTest, LeavingUntouchedRaisesNothing) {
  SetFocus(number_);
  EXPECT_EQ(EntryText(number_), "42");
  SetFocus(nameEntry_);
  SetFocus(number_);
  EXPECT_EQ(Drain(), Events{});
  EXPECT_EQ(id_, 42);
}

TEST_F(EntryTest, AcceptedValueIsStoredAndRedisplayed) {
  SetFocus(number_);
  Type(number_, "1234");  // replaces the selected text
  SetFocus(nameEntry_);
  EXPECT_EQ(id_, 1234);
  EXPECT_EQ(Drain(), (Events{{event::Accepted, 2}}));
  EXPECT_EQ(EntryText(number_), "1,234");  // formatted again by @n-14

  Key(nameEntry_, VK_END);
  Type(nameEntry_, "\bnica");
  SetFocus(number_);
  EXPECT_EQ(Name(), "Annica              ");
  EXPECT_EQ(Drain(), (Events{{event::Accepted, 4}}));
}

TEST_F(EntryTest, RejectedTextKeepsVariableAndIsCheckedAgain) {
  SetFocus(number_);
  Type(number_, "12x");
  SetFocus(nameEntry_);
  EXPECT_EQ(id_, 42);
  EXPECT_EQ(Drain(), (Events{{event::Rejected, 2}}));
  EXPECT_NE(lastWhere_, 0);
  EXPECT_NE(EntryRejectCode(number_), 0);
  EXPECT_EQ(GetFocus(), number_);  // the refused entry keeps the focus
  EXPECT_EQ(EntryText(number_), "12x");  // ready to be corrected, not selected
  // Leaving again without a change checks the same text once more.
  EXPECT_FALSE(EntryComplete(number_));
  EXPECT_EQ(Drain(), (Events{{event::Rejected, 2}}));
  Type(number_, "\b");  // the caret is at the end: "12"
  EXPECT_TRUE(EntryComplete(number_));
  EXPECT_EQ(id_, 12);
  // A number too large for a LONG is refused as well.
  Key(number_, VK_HOME);
  SendMessageA(number_, EM_SETSEL, 0, -1);
  Type(number_, "99999999999");
  EXPECT_FALSE(EntryComplete(number_));
  EXPECT_EQ(EntryRejectCode(number_), kRejectOutOfRange);
  EXPECT_EQ(id_, 12);
  SendMessageA(number_, EM_SETSEL, 0, -1);
  Type(number_, "7");
  EXPECT_TRUE(EntryComplete(number_));
  EXPECT_EQ(id_, 7);
  EXPECT_EQ(EntryRejectCode(number_), 0);
}

TEST_F(EntryTest, InsertModeOffOverwritesButAppendsAtTheEnd) {
  SetFocus(nameEntry_);
  Key(nameEntry_, VK_HOME);
  SetEntryInsertMode(false);
  Type(nameEntry_, "E");
  Key(nameEntry_, VK_END);
  Type(nameEntry_, "-b");
  SetEntryInsertMode(true);
  EXPECT_EQ(EntryText(nameEntry_), "Ena-b");
  SendMessageA(nameEntry_, EM_SETSEL, 3, 3);
  SetEntryInsertMode(false);
  Type(nameEntry_, "xyz");
  SetEntryInsertMode(true);
  EXPECT_EQ(EntryText(nameEntry_), "Enaxyz");
}

TEST_F(EntryTest, RefusalsBeep) {
  SetFocus(nameEntry_);
  // @s20 holds 20 characters: a further one is refused.
  Key(nameEntry_, VK_END);
  Type(nameEntry_, "BCDEFGHIJKLMNOPQR");
  EXPECT_EQ(EntryText(nameEntry_).size(), 20u);
  HeadlessClearTranscript();
  Type(nameEntry_, "z");
  EXPECT_EQ(EntryText(nameEntry_).size(), 20u);
  EXPECT_NE(HeadlessTranscript().find("beep"), std::string::npos);
  // A control character other than Enter, Tab, Escape beeps too.
  HeadlessClearTranscript();
  Type(nameEntry_, "\x01");
  EXPECT_NE(HeadlessTranscript().find("beep"), std::string::npos);
  HeadlessClearTranscript();
  Type(nameEntry_, "\t");
  EXPECT_EQ(HeadlessTranscript().find("beep"), std::string::npos);
}

TEST_F(EntryTest, EscapeRestoresTheStartingText) {
  SetFocus(nameEntry_);
  std::string start = EntryText(nameEntry_);
  Type(nameEntry_, "Zoran");
  Key(nameEntry_, VK_ESCAPE);
  EXPECT_EQ(EntryText(nameEntry_), start);
  SetFocus(number_);
  EXPECT_EQ(Name(), "Ana                 ");
}

TEST_F(EntryTest, ClipboardAndPassword) {
  SetFocus(nameEntry_);
  Key(nameEntry_, VK_HOME);
  SendMessageA(nameEntry_, WM_KEYDOWN, VK_RIGHT, 0);
  SendMessageA(nameEntry_, EM_SETSEL, 0, 3);
  Type(nameEntry_, "\x03");  // Ctrl+C
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_STREQ(static_cast<const char*>(GetClipboardData(CF_TEXT)), "Ana");
  CloseClipboard();
  Key(nameEntry_, VK_END);
  SendMessageA(nameEntry_, EM_SETSEL, 0, 20);
  Type(nameEntry_, "\x16");  // Ctrl+V replaces the selection
  EXPECT_EQ(EntryText(nameEntry_), "Ana");

  // Nothing is copied out of a password entry.
  HWND secret = CreateWindowExA(0, kEntryClass, "hidden", WS_CHILD | WS_VISIBLE | ES_PASSWORD | ES_AUTOHSCROLL, 0, 0,
                                10, 1, form_.hwnd(), nullptr, nullptr, nullptr);
  ASSERT_NE(secret, nullptr);
  SendMessageA(secret, EM_SETSEL, 0, -1);
  Type(secret, "\x03");
  Type(secret, "\x18");  // Ctrl+X neither copies nor cuts
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_STREQ(static_cast<const char*>(GetClipboardData(CF_TEXT)), "Ana");
  CloseClipboard();
  EXPECT_EQ(EntryText(secret), "hidden");
  DestroyWindow(secret);
}

TEST_F(EntryTest, UpperCaseCapitaliseReadOnlyAndWidth) {
  auto make = [&](DWORD style, int width) {
    return CreateWindowExA(0, kEntryClass, "", WS_CHILD | WS_VISIBLE | style, 0, 0, width, 1, form_.hwnd(), nullptr,
                           nullptr, nullptr);
  };
  HWND cap = make(kEntryCapitalise | ES_AUTOHSCROLL, 30);
  Type(cap, "ana o'neil-x");
  EXPECT_EQ(EntryText(cap), "Ana O'neil-X");
  HWND upper = make(ES_UPPERCASE | ES_AUTOHSCROLL, 30);
  Type(upper, "abc1");
  EXPECT_EQ(EntryText(upper), "ABC1");
  HWND fixed = make(0, 4);  // does not scroll: 4 cells hold 4 characters
  Type(fixed, "abcdef");
  EXPECT_EQ(EntryText(fixed), "abcd");
  HWND readOnly = make(ES_READONLY | ES_AUTOHSCROLL, 10);
  SetWindowTextA(readOnly, "keep");
  Type(readOnly, "x\b");
  Key(readOnly, VK_DELETE);
  EXPECT_EQ(EntryText(readOnly), "keep");
  for (HWND h : {cap, upper, fixed, readOnly}) DestroyWindow(h);
}

TEST_F(EntryTest, WordMovesAndShiftSelection) {
  HWND e = CreateWindowExA(0, kEntryClass, "one two  three", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0, 30, 1,
                           form_.hwnd(), nullptr, nullptr, nullptr);
  SetFocus(e);
  // Keys typed by the user, so that Ctrl and Shift are down as they arrive.
  auto keys = [&](const char* script) {
    HeadlessScript(script);
    MSG m;
    for (int guard = 0; guard < 1000 && HeadlessPendingCommands() > 0; ++guard)
      if (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  };
  auto sel = [&] {
    auto r = static_cast<DWORD>(SendMessageA(e, EM_GETSEL, 0, 0));
    return std::make_pair(LOWORD(r), HIWORD(r));
  };
  keys("key End\nkey Ctrl+Left");
  EXPECT_EQ(sel(), std::make_pair(WORD{9}, WORD{9}));
  keys("key Ctrl+Left");
  EXPECT_EQ(sel(), std::make_pair(WORD{4}, WORD{4}));
  keys("key Ctrl+Right");  // over the rest of the word, then the separators
  EXPECT_EQ(sel(), std::make_pair(WORD{9}, WORD{9}));
  keys("key Shift+Ctrl+Left\nkey Shift+Left");
  EXPECT_EQ(sel(), std::make_pair(WORD{3}, WORD{9}));
  keys("key Delete");
  EXPECT_EQ(EntryText(e), "onethree");
  keys("key Home\nkey Shift+Right x2\nkey Backspace");
  EXPECT_EQ(EntryText(e), "ethree");
  DestroyWindow(e);
}

TEST_F(EntryTest, NumberJustifiedRightWithIndent) {
  // Not focused: "42" drawn right-justified with one cell of indent.
  UpdateWindow(form_.hwnd());
  RECT r{};
  GetWindowRect(number_, &r);
  ScreenCell cell;
  ASSERT_TRUE(HeadlessCellAt(r.right - 2, r.top, &cell));
  EXPECT_EQ(cell.text, "2");
  ASSERT_TRUE(HeadlessCellAt(r.right - 1, r.top, &cell));
  EXPECT_EQ(cell.text, " ");
}

}  // namespace
}  // namespace pr::ui
