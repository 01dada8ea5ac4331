#include <gtest/gtest.h>

#include "event_test_support.h"
#include "ui/list.h"
#include "ui/list_queue.h"
#include "ui/property.h"
#include "ui/window_controls.h"

namespace pr::ui {
namespace {

using testing::HeadlessTest;

// The browse window: its list (FEQ 1) reports scrolling as events.
class ListTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    RegisterListControl();
    for (int i = 1; i <= 5; ++i) queue_.Append({std::to_string(i * 1000), "Partner " + std::to_string(i)});
  }
  void TearDown() override {
    if (browse_.IsOpen()) browse_.Close();
    UnregisterControlClass(rsc::kList);  // other suites expect the placeholder
  }
  void Open() {
    ASSERT_TRUE(browse_.Open({{1, &queue_}}));
    list_ = browse_.ControlByFeq(1)->hwnd;
  }
  // `n` screen cells from (x, y).
  static std::string Cells(int x, int y, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) {
      ScreenCell cell;
      out += HeadlessCellAt(x + i, y, &cell) ? cell.text : "?";
    }
    return out;
  }

  ListQueue queue_;
  Window browse_{testing::kBrowse, testing::kBrowseLabel};
  HWND list_ = nullptr;
};

TEST_F(ListTest, ShowsHeadersColumnsAndTheHighlightedRow) {
  Open();
  SetProperty(browse_, 1, prop::Selected, "2");
  UpdateWindow(browse_.hwnd());
  POINT origin{0, 0};
  ClientToScreen(list_, &origin);
  RECT r{origin.x, origin.y, 0, 0};
  // ID: widened to its picture's 14 characters, indent 1 and a border in
  // its last cell (16 cells); Name from cell 16 on, widened to 20 + 1 + 1.
  std::string header = Cells(r.left, r.top, 38);
  EXPECT_EQ(header, " ID            | Name                |");
  std::string row1 = Cells(r.left, r.top + 1, 38);
  EXPECT_EQ(row1, "         1,000 | Partner 1           |");
  ScreenCell plain, highlighted;
  ASSERT_TRUE(HeadlessCellAt(r.left + 3, r.top + 1, &plain));
  ASSERT_TRUE(HeadlessCellAt(r.left + 3, r.top + 2, &highlighted));
  EXPECT_NE(plain.background, highlighted.background);
  EXPECT_EQ(highlighted.background, GetSysColor(COLOR_HIGHLIGHT));

  // 13 lines less the header.
  EXPECT_EQ(GetProperty(browse_, 1, prop::Items), "12");
  EXPECT_EQ(GetProperty(browse_, 1, prop::Selected), "2");
  SetProperty(browse_, 1, prop::VScrollPos, "100");
  EXPECT_EQ(GetProperty(browse_, 1, prop::VScrollPos), "100");
  // The window's locate request is queued as EVENT:Locate for the list.
  QueuedEvent e;
  while (browse_.Dequeue(&e)) {
  }
  SendMessageA(list_, query::LOCATE, 0, 0);
  ASSERT_TRUE(browse_.Dequeue(&e));
  EXPECT_EQ(e.code, kEventBase + event::Locate);
  EXPECT_EQ(e.feq, 1);
  // Selected never goes past the rows.
  SetProperty(browse_, 1, prop::Selected, "9");
  EXPECT_EQ(GetProperty(browse_, 1, prop::Selected), "5");
}

TEST_F(ListTest, EventModeReportsKeysWithoutMoving) {
  Open();
  SetProperty(browse_, 1, prop::Selected, "3");
  HeadlessScript("key Ctrl+PgUp\nkey Down\nkey PgDn\nkey End\nkey Ctrl+PgDn\nkey Home\nkey Up\nkey PgUp\nkey Esc");
  std::vector<int32_t> scroll;
  testing::RunLoop([&](int32_t e, int32_t field) {
    if (field == 1) {
      scroll.push_back(e);
      EXPECT_EQ(GetProperty(browse_, 1, prop::Selected), "3");
    }
  });
  EXPECT_EQ(scroll, (std::vector<int32_t>{event::ScrollTop, event::ScrollDown, event::PageDown, event::ScrollBottom,
                                          event::ScrollBottom, event::ScrollTop, event::ScrollUp, event::PageUp}));
}

TEST_F(ListTest, EventModeTypedCharacterAndScrollBar) {
  Open();
  HeadlessScript("type \"P\"\nkey Esc");
  std::vector<int32_t> seen;
  testing::RunLoop([&](int32_t e, int32_t field) {
    if (field == 1) seen.push_back(e);
    if (e == event::OpenWindow) {
      SetFocus(list_);
      SendMessageA(list_, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 37), 0);
    }
  });
  EXPECT_EQ(seen, (std::vector<int32_t>{event::ScrollDrag, event::PreAlert, event::AlertKey}));
  EXPECT_EQ(GetProperty(browse_, 1, prop::VScrollPos), "");  // window closed
}

TEST_F(ListTest, NormalModeMovesThroughTheRows) {
  HWND parent = CreateWindowExA(0, "Static", "", WS_POPUP | WS_VISIBLE, 0, 0, 40, 10, nullptr, nullptr, nullptr, nullptr);
  HWND list = CreateWindowExA(0, kListClass, "", WS_CHILD | WS_VISIBLE, 0, 0, 30, 4, parent, nullptr, nullptr, nullptr);
  ASSERT_NE(list, nullptr);
  SetListFormat(list, "40L~Nr~?80L");
  for (int i = 6; i <= 20; ++i) queue_.Append({"Z" + std::to_string(i), "x"});
  SetListQueue(list, &queue_);
  EXPECT_EQ(ListVisibleRows(list), 3);  // one header line
  auto selected = [&] {
    std::string v;
    (void)v;
    return ListFirstVisible(list);
  };
  SendMessageA(list, WM_KEYDOWN, VK_END, 0);
  EXPECT_EQ(selected(), 18);  // the last row is in view: rows 18 to 20
  SendMessageA(list, WM_KEYDOWN, VK_HOME, 0);
  EXPECT_EQ(selected(), 1);
  SendMessageA(list, WM_KEYDOWN, VK_NEXT, 0);  // down by visible rows less one: row 3
  SendMessageA(list, WM_KEYDOWN, VK_NEXT, 0);  // row 5: scrolled to 3..5
  EXPECT_EQ(selected(), 3);
  // The locator column (the first, marked "?") finds the next row starting with "z".
  SendMessageA(list, WM_CHAR, 'z', 0);
  EXPECT_EQ(selected(), 4);  // row 6 selected, rows 4..6 shown
  DestroyWindow(parent);
}

TEST_F(ListTest, RowsFromAConstantString) {
  HWND parent = CreateWindowExA(0, "Static", "", WS_POPUP | WS_VISIBLE, 0, 0, 40, 10, nullptr, nullptr, nullptr, nullptr);
  HWND list = CreateWindowExA(0, kListClass, "one|two|three", WS_CHILD | WS_VISIBLE, 1, 1, 20, 4, parent, nullptr,
                              nullptr, nullptr);
  SetListFormat(list, "80L");
  UpdateWindow(parent);
  EXPECT_NE(HeadlessScreenText().find("three"), std::string::npos);
  DestroyWindow(parent);
}

TEST(ListQueueTest, RowsAndFields) {
  ListQueue q;
  q.Append({"b"});
  q.Prepend({"a", "1"});
  q.Insert(2, {"mid"});
  q.Insert(99, {"end"});
  EXPECT_EQ(q.Count(), 4u);
  EXPECT_EQ(q.Field(1, 2), "1");
  EXPECT_EQ(q.Field(2, 1), "mid");
  EXPECT_EQ(q.Field(1, 3), "");
  EXPECT_EQ(q.Field(0, 1), "");
  EXPECT_TRUE(q.Delete(2));
  EXPECT_FALSE(q.Delete(4));
  EXPECT_EQ(q.Get(3)->at(0), "end");
  EXPECT_EQ(q.Get(4), nullptr);
}

}  // namespace
}  // namespace pr::ui
