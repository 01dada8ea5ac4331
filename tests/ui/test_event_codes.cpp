// Event names, key codes and cursor codes.
#include <gtest/gtest.h>

#include <string>

#include "platform/winuser.h"
#include "ui/event_codes.h"
#include "ui/event_cursor.h"
#include "ui/event_loop.h"
#include "ui/event_names.h"

namespace pr::ui {
namespace {

TEST(EventNames, TableCoversEventsQueriesAndMessages) {
  EXPECT_EQ(MessageNameCount(), 269u);
  struct Row {
    uint32_t code;
    const char* name;
  } rows[] = {
      {0xA001, "EVENT:Accepted"},     {0xA00F, "EVENT:AlertKey"},   {0xA01E, "EVENT:ColumnResize"},
      {0xA101, "EVENT:Selected"},     {0xA201, "EVENT:CloseWindow"}, {0xA206, "EVENT:GainFocus"},
      {0xA20B, "EVENT:Timer"},        {0xA211, "EVENT:DDEclosed"},  {0xA225, "EVENT:Completed"},
      {0xA231, "EVENT:Sized"},        {0xA242, "EVENT:BuildDone"},  {0xB000, "QUERY_SHUTDOWN"},
      {0xB01D, "QUERY_EDITDONE"},     {0xB02E, "QUERY_SIZEMOVE"},   {0x3E0, "WM_DDE_INITIATE"},
      {0x3E8, "WM_DDE_EXECUTE"},      {0x0000, "WM_NULL"},          {0x0111, "WM_COMMAND"},
  };
  for (const Row& r : rows) {
    ASSERT_NE(MessageName(r.code), nullptr) << std::hex << r.code;
    EXPECT_STREQ(MessageName(r.code), r.name);
    EXPECT_EQ(MessageCode(r.name), r.code);
  }
  EXPECT_EQ(MessageName(0xA207), nullptr) << "0x207 is not assigned";
  EXPECT_EQ(MessageName(0xA3FF), nullptr);
}

TEST(KeyCodes, MessagesBecomeKeyCodesWithModifiersAndLocks) {
  struct Case {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    uint32_t bits;
    uint32_t code;
  } cases[] = {
      {WM_KEYDOWN, VK_INSERT, 0, 0, 0x2D},
      {WM_KEYDOWN, VK_INSERT, KF_EXTENDED_BIT, 0, 0x82D},
      {WM_KEYDOWN, VK_RETURN, 0, key::Ctrl, 0x20D},
      {WM_KEYDOWN, VK_APPS, 0, key::CapsLock | key::ScrollLock, 0x505D},
      {WM_SYSKEYDOWN, 'X', KF_ALTDOWN_BIT, 0, 0x458},
      {WM_RBUTTONDOWN, 0, 0, 0, 2},
      {WM_LBUTTONDBLCLK, 0, 0, key::Shift, 0x105},
      {WM_MBUTTONUP, 0, 0, 0, 0x83},
      {WM_MOUSEMOVE, 0, 0, key::Shift, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(KeyCodeOf(c.message, c.wParam, c.lParam, c.bits), c.code) << c.code;
}

TEST(KeyCodes, AlertKeysIgnoreLockBitsButNotModifiers) {
  for (uint32_t lock : {0u, 0x1000u, 0x2000u, 0x4000u, 0x8000u, 0xF000u}) {
    EXPECT_TRUE(KeyMatches(key::Insert, key::Insert | lock));
    EXPECT_TRUE(KeyMatches(0x20D, 0x20D | lock));
    EXPECT_TRUE(KeyMatches(key::LeftDouble, key::LeftDouble | lock));
  }
  EXPECT_FALSE(KeyMatches(key::Insert, key::Insert | key::Shift));
  EXPECT_FALSE(KeyMatches(0x20D, key::Enter));
  // An alert key that names a lock state asks for exactly that state.
  EXPECT_TRUE(KeyMatches(0x102D, 0x102D));
  EXPECT_FALSE(KeyMatches(0x102D, 0x2D));
}

TEST(CursorCodes, StandardRuntimeAndNamedForms) {
  auto parse = [](std::initializer_list<uint8_t> bytes) {
    std::string s(bytes.begin(), bytes.end());
    return ParseCursorCode(s);
  };
  CursorCode wait = parse({0xFF, 0x01, 0x03, 0x7F});
  EXPECT_EQ(wait.kind, CursorCode::kStandard);
  EXPECT_EQ(wait.number, 32514u);
  EXPECT_EQ(parse({0xFF, 0x01, 0x81, 0x7F}).number, 32646u);
  EXPECT_EQ(parse({0xFF, 0x01, 0x82, 0x7F}).number, 32512u);
  EXPECT_EQ(parse({0xFF, 0x01, 0x88, 0x7F}).number, 32517u);
  CursorCode own = parse({0xFF, 0x02, 0x0A, 0x00});
  EXPECT_EQ(own.kind, CursorCode::kRuntimeResource);
  EXPECT_EQ(own.number, 9u);
  EXPECT_EQ(parse({0xFF, 0x01, 0x03}).kind, CursorCode::kInvalid);
  EXPECT_EQ(parse({0xFF, 0x01, 0x00, 0x00}).kind, CursorCode::kInvalid);
  EXPECT_EQ(ParseCursorCode("").kind, CursorCode::kInvalid);
  CursorCode file = ParseCursorCode("HAND.CUR");
  EXPECT_EQ(file.kind, CursorCode::kNamed);
  EXPECT_EQ(file.name, "HAND.CUR");
}

TEST(CursorCodes, SetCursorLoadsAndRestores) {
  ASSERT_TRUE(SetCursorCode(std::string("\xFF\x01\x03\x7F", 4)));
  EXPECT_EQ(IconStandardNumber(GetCursor()), 32514u);
  EXPECT_FALSE(SetCursorCode("no-such-cursor-file.cur"));
  EXPECT_EQ(IconStandardNumber(GetCursor()), 32514u) << "a failed SETCURSOR changes nothing";
  RestoreCursor();
  EXPECT_EQ(IconStandardNumber(GetCursor()), static_cast<UINT>(IDC_ARROW));
}

}  // namespace
}  // namespace pr::ui
