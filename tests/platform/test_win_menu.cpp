// Popup menus: building, choosing by script, keyboard and mouse, greyed
// items, submenus, columns, and the command that reaches the owner.
#include <string>

#include "tests/platform/test_win_util.h"

namespace {

class MenuTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "MenuOwner";
    RegisterClassA(&wc);
    owner_ = CreateWindowExA(0, "MenuOwner", "Owner", WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 60, 20, nullptr,
                             nullptr, nullptr, nullptr);
    ASSERT_TRUE(owner_);
  }
  void TearDown() override {
    DestroyWindow(owner_);
    HeadlessTest::TearDown();
  }
  // The browse's menu: Insert, Change, Delete, a separator, Select; `grey`
  // greys the last three.
  HMENU Browse(bool grey) {
    HMENU m = CreatePopupMenu();
    UINT g = grey ? MF_GRAYED | MF_DISABLED : 0;
    InsertMenuA(m, 0xFFFFFFFFu, MF_BYPOSITION | MF_STRING, 1, "&Insert");
    InsertMenuA(m, 0xFFFFFFFFu, MF_BYPOSITION | MF_STRING | g, 2, "&Change");
    InsertMenuA(m, 0xFFFFFFFFu, MF_BYPOSITION | MF_STRING | g, 3, "&Delete");
    InsertMenuA(m, 0xFFFFFFFFu, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    InsertMenuA(m, 0xFFFFFFFFu, MF_BYPOSITION | MF_STRING | g, 4, "&Select");
    return m;
  }
  int Track(HMENU m, const char* script, int x = 10, int y = 5) {
    HeadlessScript(script);
    return TrackPopupMenu(m, TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, owner_, nullptr);
  }
  HWND owner_ = nullptr;
};

TEST_F(MenuTest, ChoicesReturnTheirCommands) {
  HMENU m = Browse(false);
  EXPECT_EQ(Track(m, "menu \"Delete\""), 3);
  EXPECT_EQ(Track(m, "menu 4"), 4);  // the separator has no number
  EXPECT_EQ(Track(m, "key Down x3\nkey Enter"), 3);
  EXPECT_EQ(Track(m, "key Down x4\nkey Enter"), 4);  // moving skips the separator
  EXPECT_EQ(Track(m, "key s"), 4);                   // mnemonic
  // The popup is drawn at (10, 5) with a frame: "Change" is on row 7.
  EXPECT_EQ(Track(m, "click 14 7"), 2);
  std::string log = HeadlessTranscript();
  EXPECT_TRUE(Has(log, "menu \"&Insert\" \"&Change\" \"&Delete\" - \"&Select\"")) << log;
  EXPECT_TRUE(Has(log, "chosen \"&Delete\" 3")) << log;
  DestroyMenu(m);
}

TEST_F(MenuTest, GreyedItemsCannotBeChosen) {
  HMENU m = Browse(true);
  EXPECT_EQ(Track(m, "menu \"Change\"\nmenu cancel"), 0);
  EXPECT_EQ(Track(m, "key c\nkey Escape"), 0);
  EXPECT_EQ(Track(m, "key Down x2\nkey Enter\nclick 70 20"), 0);  // Down lands on Change; Enter refuses; outside dismisses
  EXPECT_EQ(Track(m, "menu \"Insert\""), 1);
  std::string log = HeadlessTranscript();
  EXPECT_TRUE(Has(log, "menu \"&Insert\" ~\"&Change\" ~\"&Delete\" - ~\"&Select\"")) << log;
  EXPECT_TRUE(Has(log, "refused \"&Change\": the item is disabled")) << log;
  EXPECT_TRUE(Has(log, "menu dismissed")) << log;
  EXPECT_EQ(Track(m, ""), 0);  // the script ran out: dismissed, never blocked
  EXPECT_TRUE(Has(HeadlessTranscript(), "script exhausted: menu dismissed"));
  DestroyMenu(m);
}

TEST_F(MenuTest, SubmenusNumberTheirItemsInPlace) {
  HMENU m = CreatePopupMenu();
  HMENU more = CreatePopupMenu();
  AppendMenuA(m, MF_STRING, 1, "A");
  AppendMenuA(more, MF_STRING, 2, "B");
  AppendMenuA(more, MF_STRING | MF_CHECKED, 3, "C");
  AppendMenuA(m, MF_POPUP, reinterpret_cast<UINT_PTR>(more), "&More");
  AppendMenuA(m, MF_STRING, 4, "D");
  EXPECT_EQ(GetMenuItemID(m, 1), 0xFFFFFFFFu);
  EXPECT_EQ(GetSubMenu(m, 1), more);
  EXPECT_EQ(Track(m, "menu \"More\" \"C\""), 3);
  EXPECT_EQ(Track(m, "key Down x2\nkey Right\nkey Enter"), 2);  // opening selects the first item
  EXPECT_EQ(Track(m, "key m\nkey Left\nkey Down\nkey Enter"), 4);
  EXPECT_TRUE(Has(HeadlessTranscript(), "\"&More\" { \"B\" +\"C\" }"));
  DestroyMenu(m);
  EXPECT_FALSE(IsMenu(more));  // destroyed with its parent
}

TEST_F(MenuTest, ChecksAndColumns) {
  HMENU m = CreatePopupMenu();
  AppendMenuA(m, MF_STRING | MF_CHECKED, 1, "Plus");
  AppendMenuA(m, MF_STRING, 2, "Minus");
  for (int i = 3; i <= 30; ++i) AppendMenuA(m, MF_STRING, i, ("Item " + std::to_string(i)).c_str());
  EXPECT_EQ(Track(m, "dump\nmenu cancel", 0, 0), 0);
  std::string log = HeadlessTranscript();
  // 25 rows hold 23 items inside the frame: items 24 on go to a second column.
  EXPECT_TRUE(Has(log, "× Plus")) << log;
  EXPECT_FALSE(Has(log, "× Minus")) << log;
  size_t row = log.find("× Plus");
  std::string line = log.substr(row, log.find('\n', row) - row);
  EXPECT_TRUE(Has(line, "Item 24")) << line;
  DestroyMenu(m);
}

TEST_F(MenuTest, WithoutReturnCmdTheOwnerGetsTheCommand) {
  HMENU m = Browse(false);
  HeadlessScript("menu \"Select\"");
  EXPECT_TRUE(TrackPopupMenu(m, TPM_RIGHTBUTTON, 1, 1, 0, owner_, nullptr));
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, owner_, WM_COMMAND, WM_COMMAND, PM_REMOVE));
  EXPECT_EQ(LOWORD(msg.wParam), 4);
  HeadlessScript("menu cancel");
  EXPECT_FALSE(TrackPopupMenu(m, 0, 1, 1, 0, owner_, nullptr));
  EXPECT_FALSE(PeekMessageA(&msg, owner_, WM_COMMAND, WM_COMMAND, PM_REMOVE));
  DestroyMenu(m);
  EXPECT_FALSE(InsertMenuA(m, 0, MF_BYPOSITION, 5, "x"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_MENU_HANDLE);
  EXPECT_FALSE(TrackPopupMenu(m, TPM_RETURNCMD, 0, 0, 0, owner_, nullptr));
}

TEST_F(MenuTest, SystemMenuLosesItemsByCommand) {
  HMENU sys = GetSystemMenu(owner_, FALSE);
  ASSERT_TRUE(sys);
  for (UINT cmd : {SC_MAXIMIZE, SC_MINIMIZE, SC_RESTORE, SC_CLOSE, SC_SIZE, SC_TASKLIST})
    EXPECT_TRUE(DeleteMenu(sys, cmd, MF_BYCOMMAND));
  EXPECT_EQ(GetMenuState(sys, SC_MOVE, MF_BYCOMMAND), 0u);
  EXPECT_EQ(GetMenuState(sys, SC_CLOSE, MF_BYCOMMAND), 0xFFFFFFFFu);
  EXPECT_FALSE(DeleteMenu(sys, SC_CLOSE, MF_BYCOMMAND));
}

}  // namespace
