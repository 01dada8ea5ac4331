// The entry control inside a running ACCEPT loop: keys come from the
// headless script through the loop's own key handling, as a user types them,
// and events are read the way a procedure reads them.
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "event_test_support.h"
#include "ui/entry.h"
#include "ui/property.h"
#include "ui/window_controls.h"

namespace pr::ui {
namespace {

using namespace pr::ui::testing;

constexpr uint32_t kTrigger = 0x251;  // Ctrl+Q, an alert key of the number entry in these tests

// The update form's window: entry 2 the number (@n-14 over a LONG), entry 4
// the name (@s20 over a STRING(20)), button 5 the default OK.
class EntryLoopTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    HeadlessClearTranscript();
    RegisterEntryControl();
    SetEntryInsertMode(true);
    SetName("Ana");
  }
  void TearDown() override {
    SetEntryInsertMode(true);
    form_.Close();
    UnregisterControlClass(rsc::kEntry);
  }
  void Open() {
    ASSERT_TRUE(form_.Open({{2, &id_}, {4, name_}}));
    number_ = form_.ControlByFeq(2)->hwnd;
    nameEntry_ = form_.ControlByFeq(4)->hwnd;
    form_.ControlByFeq(2)->alertKeys.push_back(kTrigger);
    form_.ControlByFeq(4)->alertKeys.push_back(kTrigger);
  }
  void SetName(const char* text) {
    std::memset(name_, ' ', sizeof name_);
    std::memcpy(name_, text, std::strlen(text));
  }
  std::string Name() const {
    std::string n(name_, sizeof name_);
    return n.erase(n.find_last_not_of(' ') + 1);
  }
  // (event, field) pairs seen by the loop.
  static std::vector<std::pair<int32_t, int32_t>> Pairs(const std::vector<Seen>& seen) {
    std::vector<std::pair<int32_t, int32_t>> out;
    for (const Seen& s : seen) out.emplace_back(s.event, s.field);
    return out;
  }

  Window form_{kForm, kFormLabel};
  int32_t id_ = 42;
  char name_[20];
  HWND number_ = nullptr, nameEntry_ = nullptr;
};

using Pairs_ = std::vector<std::pair<int32_t, int32_t>>;

// Tab and Enter complete the entry being edited; Enter does so also when
// the window's default button is disabled, and then presses nothing.
TEST_F(EntryLoopTest, TabAndEnterCompleteTheEntryWithTheDefaultButtonDisabled) {
  Open();
  int32_t idAtAccept = 0;
  std::string nameAtAccept;
  HeadlessScript("type \"7\"\nkey Tab\ntype \"Zed\"\nkey Enter\n");
  auto seen = RunLoop([&](int32_t e, int32_t f) {
    if (e == event::OpenWindow) SetPropertyNumber(5, prop::Disable, 1);
    if (e == event::Accepted && f == 2) idAtAccept = id_;
    if (e == event::Accepted && f == 4) {
      nameAtAccept = Name();
      EXPECT_EQ(GetFocus(), nameEntry_);  // Enter completed it in place
      Post(event::CloseWindow);
    }
  });
  EXPECT_EQ(Pairs(seen), (Pairs_{{0x203, 0}, {1, 2}, {1, 4}, {0x201, 0}}));
  EXPECT_EQ(idAtAccept, 7);
  EXPECT_EQ(nameAtAccept, "Zed");
}

// PRESSKEY goes the way of a typed key: Tab completes the entry and moves
// the focus on; Escape undoes the entry's edit before the window closes.
TEST_F(EntryLoopTest, PressedTabMovesOnAndPressedEscapeUndoesBeforeTheClose) {
  Open();
  HeadlessScript("type \"9\"\nkey Ctrl+Q\n");
  auto seen = RunLoop([&](int32_t e, int32_t f) {
    if (e == event::AlertKey) PressKey(VK_TAB);
    if (e == event::Accepted && f == 2) {
      EXPECT_EQ(id_, 9);
      EXPECT_EQ(GetFocus(), nameEntry_);
      Post(event::CloseWindow);
    }
  });
  EXPECT_EQ(Pairs(seen), (Pairs_{{0x203, 0}, {0xF, 2}, {1, 2}, {0x201, 0}}));
  form_.Close();

  id_ = 42;
  Open();
  std::string shownAtClose;
  HeadlessScript("type \"7\"\nkey Ctrl+Q\n");
  seen = RunLoop([&](int32_t e, int32_t) {
    if (e == event::AlertKey) PressKey(VK_ESCAPE);
    if (e == event::CloseWindow) shownAtClose = EntryText(number_);
  });
  EXPECT_EQ(shownAtClose, "42");
  EXPECT_EQ(id_, 42);
  EXPECT_EQ(seen.back().event, 0x201);
}

// The Insert key leaves the insert mode alone; Ctrl+X cuts the selection;
// Ctrl+V inserts at the caret even in overwrite mode.
TEST_F(EntryLoopTest, InsertKeyCutAndPasteInOverwriteMode) {
  SetName("abcdef");
  Open();
  SetEntryInsertMode(false);
  std::string nameAtAccept;
  HeadlessScript(
      "key Tab\nkey Home\nkey Insert\ntype \"X\"\n"    // overwrites: Xbcdef
      "key End\nkey Shift+Home\nkey Ctrl+X\n"           // cut: empty
      "type \"12345\"\nkey Home\nkey Right\nkey Ctrl+V\n"  // 1 + Xbcdef + 2345
      "key Enter\n");
  RunLoop([&](int32_t e, int32_t f) {
    if (e == event::Accepted && f == 4) {
      nameAtAccept = Name();
      Post(event::CloseWindow);
    }
  });
  EXPECT_FALSE(EntryInsertMode());
  EXPECT_EQ(nameAtAccept, "1Xbcdef2345");
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_STREQ(static_cast<const char*>(GetClipboardData(CF_TEXT)), "Xbcdef");
  CloseClipboard();
}

// EM_UNDO brings back the text editing began with; a text whose modified
// flag was cleared is not converted on leaving; an accepted text clears it.
TEST_F(EntryLoopTest, UndoAndTheModifiedFlag) {
  Open();
  HeadlessScript("type \"99\"\nkey Ctrl+Q\nkey Tab\nkey Shift+Tab\ntype \"5\"\nkey Tab\n");
  auto seen = RunLoop([&](int32_t e, int32_t f) {
    if (e == event::AlertKey) {
      EXPECT_EQ(SendMessageA(number_, EM_GETMODIFY, 0, 0), TRUE);
      SendMessageA(number_, EM_UNDO, 0, 0);
      EXPECT_EQ(EntryText(number_), "42");
      SendMessageA(number_, EM_SETMODIFY, FALSE, 0);
    }
    if (e == event::Accepted && f == 2) {
      EXPECT_EQ(id_, 5);
      EXPECT_EQ(SendMessageA(number_, EM_GETMODIFY, 0, 0), FALSE);
      Post(event::CloseWindow);
    }
  });
  // Leaving after the undo raised nothing: the only Accepted is the 5.
  EXPECT_EQ(Pairs(seen), (Pairs_{{0x203, 0}, {0xF, 2}, {1, 2}, {0x201, 0}}));
}

// A key the loop takes as an alert key is not typed into the entry as well:
// neither a letter nor the control character of a Ctrl key.
TEST_F(EntryLoopTest, AlertKeysAreNotTypedAsWell) {
  Open();
  form_.ControlByFeq(4)->alertKeys.push_back('Z');
  int alerts = 0;
  std::string shown;
  HeadlessScript("key Tab\nkey z\nkey Ctrl+Q\n");
  RunLoop([&](int32_t e, int32_t) {
    if (e == event::AlertKey && ++alerts == 2) {
      shown = EntryText(nameEntry_);
      Post(event::CloseWindow);
    }
  });
  EXPECT_EQ(alerts, 2);
  EXPECT_EQ(shown, "Ana");
  EXPECT_EQ(HeadlessTranscript().find("beep"), std::string::npos) << HeadlessTranscript();
}

// BEEP and a refused keystroke both sound the message beep.
TEST_F(EntryLoopTest, BeepAndRefusedKeys) {
  Open();
  HeadlessScript("key Tab\ntype \"abcdefghijklmnopqrstu\"\nkey Tab\n");
  RunLoop([&](int32_t e, int32_t f) {
    if (e == event::OpenWindow) Beep(MB_ICONASTERISK);
    if (e == event::Accepted && f == 4) Post(event::CloseWindow);
  });
  const std::string transcript = HeadlessTranscript();
  EXPECT_NE(transcript.find("beep 0x40"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("beep 0x0"), std::string::npos) << transcript;  // the 21st letter
  EXPECT_EQ(Name(), "abcdefghijklmnopqrst");
}

// Lengths and positions are 16-bit numbers: a larger limit is held to
// 65,535 characters, so that a huge paste stops there and EM_GETSEL reads
// the caret right.
TEST_F(EntryLoopTest, TextLengthIsHeldTo16Bits) {
  Open();
  const std::string huge(1 << 20, 'a');
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  SetClipboardData(CF_TEXT, reinterpret_cast<HANDLE>(const_cast<char*>(huge.c_str())));
  CloseClipboard();
  SendMessageA(nameEntry_, EM_LIMITTEXT, 100000, 0);
  LRESULT selection = 0;
  size_t length = 0;
  HeadlessScript("key Tab\nkey Ctrl+V\nkey Ctrl+Q\n");
  RunLoop([&](int32_t e, int32_t f) {
    if (e == event::AlertKey && f == 4) {
      selection = SendMessageA(nameEntry_, EM_GETSEL, 0, 0);
      length = EntryText(nameEntry_).size();
      Post(event::CloseWindow);
    }
  });
  EXPECT_EQ(length, 0xFFFFu);
  EXPECT_EQ(LOWORD(selection), 0xFFFF);
  EXPECT_EQ(HIWORD(selection), 0xFFFF);
}

// A window opened where the window system cannot start raises 504, and the
// loop that follows has no window (537) and ends at once.
TEST_F(EntryLoopTest, NoWindowSystemRaises504) {
  ShutdownWindowSystem();
  // A script that cannot be read: the headless backend refuses to start.
  setenv("PR_UI", "headless", 1);
  setenv("PR_UI_SCRIPT", "/nonexistent/pr_entry_loop_script", 1);
  int opened = -1, afterOpen = 0, afterAccept = 0;
  bool ran = true;
  std::thread([&] {
    Window w(kForm, kFormLabel);
    opened = w.Open() ? 1 : 0;
    afterOpen = LastRuntimeError();
    Accept accept;
    ran = accept.Next();
    afterAccept = LastRuntimeError();
  }).join();
  unsetenv("PR_UI_SCRIPT");
  unsetenv("PR_UI");
  SetUpTestSuite();
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(afterOpen, 504);
  EXPECT_FALSE(ran);
  EXPECT_EQ(afterAccept, 537);
}

}  // namespace
}  // namespace pr::ui
