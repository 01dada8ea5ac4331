// POST as a procedure uses it: the field it names, its place in the queue
// and the numbers it accepts.
#include <cstdint>

#include "event_test_support.h"

namespace pr::ui {
namespace {

using namespace pr::ui::testing;

class PostTest : public HeadlessTest {};

// FIELD() of a posted event names a control of the window, or none.
TEST_F(PostTest, FieldNamesARealControlOrNone) {
  Window w(kForm, kFormLabel);
  ASSERT_TRUE(w.Open());
  std::vector<int32_t> accepted;
  auto seen = RunLoop([&](int32_t e, int32_t) {
    if (e == event::OpenWindow) {
      Post(event::Accepted, 99);
      Post(event::NewSelection, -3);
      Post(event::Accepted, 5);
      Post(event::CloseWindow);
    }
    if (e == event::Accepted) accepted.push_back(Accepted());
  });
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[1].field, 0);
  EXPECT_EQ(seen[2].event, event::NewSelection);
  EXPECT_EQ(seen[2].field, 0);
  EXPECT_EQ(seen[3].field, 5);
  EXPECT_EQ(accepted, (std::vector<int32_t>{0, 5}));
}

// A post that asks to go before the waiting events still comes after
// EVENT:OpenWindow; a number whose internal code would wrap past 32 bits
// (to 0, "no event") is refused, the largest that fits is delivered.
TEST_F(PostTest, OpenWindowStaysFirstAndWrappingNumbersAreRefused) {
  Window w(kEmpty, kEmptyLabel);
  ASSERT_TRUE(w.Open());
  constexpr uint32_t kLargest = UINT32_MAX - kEventBase;
  Post(0x3FF, 0, 0, 1);
  Post(kLargest + 1);  // would be code 0
  Post(UINT32_MAX);
  Post(kLargest);
  Post(event::CloseWindow);
  auto seen = RunLoop([](int32_t, int32_t) {});
  EXPECT_EQ(Events(seen), (std::vector<int32_t>{0x203, 0x3FF, static_cast<int32_t>(kLargest), 0x201}));
}

}  // namespace
}  // namespace pr::ui
