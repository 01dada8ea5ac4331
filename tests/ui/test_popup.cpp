#include <gtest/gtest.h>

#include <random>

#include "platform/winuser.h"
#include "tests/ui/event_test_support.h"
#include "tests/ui/fuzz_controls.h"
#include "ui/popup.h"

namespace pr::ui {
namespace {

class PopupTest : public testing::HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    HeadlessClearTranscript();
  }
};

constexpr char kBrowseMenu[] = "&Insert|&Change|&Delete|-|&Select";

TEST(PopupText, NumbersItemsAcrossSubmenus) {
  auto items = ParsePopupText("A|More{B|C}|D");
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].id, 1u);
  EXPECT_EQ(items[1].kind, PopupItem::Kind::kSubmenu);
  EXPECT_EQ(items[1].caption, "More");
  EXPECT_EQ(items[1].id, 0u);
  ASSERT_EQ(items[1].items.size(), 2u);
  EXPECT_EQ(items[1].items[0].id, 2u);
  EXPECT_EQ(items[1].items[1].id, 3u);
  EXPECT_EQ(items[2].caption, "D");
  EXPECT_EQ(items[2].id, 4u);

  items = ParsePopupText(kBrowseMenu);
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[3].kind, PopupItem::Kind::kSeparator);
  EXPECT_EQ(items[4].id, 4u);
}

TEST(PopupText, FlagsAndBoundaries) {
  auto items = ParsePopupText("|~+One|-Two|~[1(x)]Three|+~Four");
  ASSERT_EQ(items.size(), 4u);
  EXPECT_TRUE(items[0].disabled);
  EXPECT_TRUE(items[0].checked);
  EXPECT_EQ(items[0].caption, "One");
  EXPECT_FALSE(items[1].checked);
  EXPECT_EQ(items[1].caption, "Two");
  EXPECT_TRUE(items[2].ownerDrawn);
  EXPECT_EQ(items[2].attributes, "1(x)");
  EXPECT_EQ(items[2].caption, "Three");
  // "~" must come first: after "+" it is caption text.
  EXPECT_FALSE(items[3].disabled);
  EXPECT_EQ(items[3].caption, "~Four");

  // A lone "}" ends the top level.
  items = ParsePopupText("A}B|C");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].caption, "A");
  EXPECT_TRUE(ParsePopupText("").empty());
  EXPECT_TRUE(ParsePopupText("|").empty());
  // An unclosed submenu takes the rest of the text.
  items = ParsePopupText("S{x|y");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].items.size(), 2u);
}

TEST(PopupText, TextAfterASubmenuLoneMinusAndEmptyItems) {
  // Text right after a submenu's "}" is an item of its own.
  auto items = ParsePopupText("A|More{B|C}D");
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[2].caption, "D");
  EXPECT_EQ(items[2].id, 4u);
  items = ParsePopupText("S{x{y}z}w");
  ASSERT_EQ(items.size(), 2u);
  ASSERT_EQ(items[0].items.size(), 2u);
  EXPECT_EQ(items[0].items[1].caption, "z");
  EXPECT_EQ(items[0].items[1].id, 2u);
  EXPECT_EQ(items[1].caption, "w");
  EXPECT_EQ(items[1].id, 3u);

  // A "-" with nothing after it is the caption, not the no-check mark.
  items = ParsePopupText("~-|-{X}|-|--");
  ASSERT_EQ(items.size(), 4u);
  EXPECT_TRUE(items[0].disabled);
  EXPECT_EQ(items[0].caption, "-");
  EXPECT_EQ(items[1].kind, PopupItem::Kind::kSubmenu);
  EXPECT_EQ(items[1].caption, "-");
  EXPECT_EQ(items[2].kind, PopupItem::Kind::kSeparator);
  EXPECT_EQ(items[3].caption, "-");
  EXPECT_EQ(items[3].id, 3u);

  // An empty item keeps its number (the callers count "|"), greyed; a final
  // "|" adds none.
  items = ParsePopupText("A||B|");
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[1].id, 2u);
  EXPECT_TRUE(items[1].disabled);
  EXPECT_EQ(items[1].caption, "");
  EXPECT_EQ(items[2].caption, "B");
  EXPECT_EQ(items[2].id, 3u);
}

// Random mutations of menu texts: parsing ends, stays inside the text and
// numbers the items 1, 2, 3 ... (the fuzz entry point aborts otherwise).
TEST(PopupText, RandomMutationsStaySound) {
  const std::string seeds[] = {"&Insert|&Change|&Delete|-|&Select", "A|~+More{B|-C|[1(x)]D{E}}|F", "|{}}|-|~"};
  const char alphabet[] = "|{}~+-[]&()ab ";
  std::mt19937 rng(7121);
  for (int i = 0; i < 6000; ++i) {
    std::string s = seeds[i % 3];
    for (int e = 0, n = 1 + static_cast<int>(rng() % 6); e < n; ++e) {
      size_t at = rng() % (s.size() + 1);
      char c = alphabet[rng() % (sizeof alphabet - 1)];
      if (rng() % 2 == 0 || at == s.size())
        s.insert(s.begin() + static_cast<ptrdiff_t>(at), c);
      else
        s[at] = c;
    }
    fuzz::PopupText(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  }
  std::string deep(50000, '{');
  fuzz::PopupText(reinterpret_cast<const uint8_t*>(deep.data()), deep.size());
}

TEST_F(PopupTest, BrowseMenuChoices) {
  HeadlessScript("menu \"Delete\"");
  EXPECT_EQ(Popup(kBrowseMenu, 10, 5), 3);
  HeadlessScript("menu \"Select\"");
  EXPECT_EQ(Popup(kBrowseMenu, 10, 5), 4);
  HeadlessScript("menu cancel");
  EXPECT_EQ(Popup(kBrowseMenu, 10, 5), 0);
  // Trailing spaces of the text are removed; an empty text has no items.
  EXPECT_EQ(Popup("    "), 0);
  EXPECT_EQ(HeadlessPendingCommands(), 0u);
}

TEST_F(PopupTest, DisabledItemsCannotBeChosen) {
  HeadlessScript("menu \"Delete\"\nkey Esc");
  EXPECT_EQ(Popup("&Insert|~&Change|~&Delete|-|~&Select", 0, 0), 0);
  std::string t = HeadlessTranscript();
  EXPECT_NE(t.find("~\"&Change\" ~\"&Delete\" - ~\"&Select\""), std::string::npos) << t;
  EXPECT_NE(t.find("refused"), std::string::npos) << t;
}

TEST_F(PopupTest, SubmenuAndCheckMarks) {
  HeadlessScript("menu \"More\" \"C\"");
  EXPECT_EQ(Popup("A|More{B|C}|D", 1, 1), 3);
  HeadlessScript("menu \"D\"");
  EXPECT_EQ(Popup("A|More{B|C}|D", 1, 1), 4);
  // Directly after the "}", and after an empty item that keeps its number.
  HeadlessScript("menu \"D\"");
  EXPECT_EQ(Popup("A|More{B|C}D", 1, 1), 4);
  HeadlessScript("menu \"B\"");
  EXPECT_EQ(Popup("A||B", 1, 1), 3);

  HMENU menu = BuildPopupMenu(ParsePopupText("+Yes|-No"), 0);
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(GetMenuState(menu, 0, MF_BYPOSITION) & MF_CHECKED);
  EXPECT_FALSE(GetMenuState(menu, 1, MF_BYPOSITION) & MF_CHECKED);
  char caption[16] = {};
  GetMenuStringA(menu, 1, caption, sizeof caption, MF_BYPOSITION);
  EXPECT_STREQ(caption, "No");
  DestroyMenu(menu);
}

TEST_F(PopupTest, LongMenuBreaksIntoColumns) {
  std::string text;
  for (int i = 1; i <= 50; ++i) text += (i > 1 ? "|" : "") + std::string("Item") + std::to_string(i);
  HMENU menu = BuildPopupMenu(ParsePopupText(text), 40);
  ASSERT_NE(menu, nullptr);
  EXPECT_FALSE(GetMenuState(menu, 39, MF_BYPOSITION) & MF_MENUBARBREAK);
  EXPECT_TRUE(GetMenuState(menu, 40, MF_BYPOSITION) & MF_MENUBARBREAK);
  DestroyMenu(menu);
  // The screen is 40 lines high: item 45 is in the second column and can be chosen.
  HeadlessScript("menu 45");
  EXPECT_EQ(Popup(text, 0, 0), 45);
}

TEST_F(PopupTest, OpensAtTheMouseAndRestoresFocus) {
  HWND top = CreateWindowExA(0, "Static", "top", WS_POPUP | WS_VISIBLE, 0, 0, 20, 5, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(top, nullptr);
  SetFocus(top);
  HeadlessScript("mouse 30 12\nmenu 1");
  // The first script line is consumed while the menu waits; the menu still
  // opens where the mouse was when POPUP was called.
  EXPECT_EQ(Popup("One|Two"), 1);
  EXPECT_EQ(GetFocus(), top);
  DestroyWindow(top);
}

}  // namespace
}  // namespace pr::ui
