// The ACCEPT loop, POST, modal events and the thread rules.
#include <atomic>
#include <future>
#include <thread>

#include "event_test_support.h"

namespace pr::ui {
namespace {

using namespace pr::ui::testing;

class EventLoop : public HeadlessTest {};

TEST_F(EventLoop, QueriesOutsideEventsAreZero) {
  EXPECT_EQ(Event(), 0);
  EXPECT_EQ(Field(), 0);
  EXPECT_EQ(Accepted(), 0);
}

TEST_F(EventLoop, PostedCloseWindowIsTheLastEventAndHasNoField) {
  Window w(kEmpty, kEmptyLabel);
  ASSERT_TRUE(w.Open());
  auto seen = RunLoop([](int32_t e, int32_t) {
    if (e == event::OpenWindow) Post(event::CloseWindow);
  });
  ASSERT_EQ(Events(seen), (std::vector<int32_t>{0x203, 0x201}));
  EXPECT_EQ(seen[1].field, 0);
  EXPECT_FALSE(w.IsOpen());
  EXPECT_EQ(Event(), 0) << "after the loop there is no current event";
}

TEST_F(EventLoop, UnknownNumbersTravelUnchangedAndWindowEventsHaveNoField) {
  Window w(kForm, kFormLabel);
  ASSERT_TRUE(w.Open());
  auto seen = RunLoop([](int32_t e, int32_t) {
    if (e == event::OpenWindow) {
      Post(0x3FF);
      Post(event::NewSelection, 4);
      Post(event::GainFocus, 4);  // a window event: FIELD() stays 0
    }
    if (e == 0x3FF || e == event::NewSelection) {
      EXPECT_EQ(Accepted(), 0);
    }
    if (e == event::GainFocus) Post(event::CloseWindow);
  });
  ASSERT_EQ(Events(seen), (std::vector<int32_t>{0x203, 0x3FF, 0x02, 0x206, 0x201}));
  EXPECT_EQ(seen[2].field, 4);
  EXPECT_EQ(seen[3].field, 0);
}

TEST_F(EventLoop, PostWithWhereGoesBeforeWaitingEvents) {
  Window w(kEmpty, kEmptyLabel);
  ASSERT_TRUE(w.Open());
  auto seen = RunLoop([](int32_t e, int32_t) {
    if (e == event::OpenWindow) {
      Post(event::CloseWindow);
      Post(0x3FF, 0, 0, 1);
    }
  });
  EXPECT_EQ(Events(seen), (std::vector<int32_t>{0x203, 0x3FF, 0x201}));
}

TEST_F(EventLoop, CycleKeepsTheWindowOpenOnCloseWindow) {
  Window w(kEmpty, kEmptyLabel);
  ASSERT_TRUE(w.Open());
  int closes = 0;
  auto seen = RunLoop([&](int32_t e, int32_t) {
    if (e == event::OpenWindow) Post(event::CloseWindow);
    if (e == event::CloseWindow && ++closes == 1) {
      Cycle();
      EXPECT_TRUE(w.IsOpen());
      Post(event::CloseWindow);
    }
  });
  EXPECT_EQ(Events(seen), (std::vector<int32_t>{0x203, 0x201, 0x201}));
}

TEST_F(EventLoop, InputEndingClosesTheWindowInsteadOfWaiting) {
  // Nothing is posted: the headless input runs out, the close box and then
  // the end of input reach the loop, and the window closes even though the
  // program refuses every close.
  Window w(kEmpty, kEmptyLabel);
  ASSERT_TRUE(w.Open());
  auto seen = RunLoop([](int32_t e, int32_t) {
    if (e == event::CloseWindow) Cycle();
  });
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen.front().event, 0x203);
  EXPECT_EQ(seen.back().event, event::CloseDown);
  EXPECT_FALSE(w.IsOpen());
}

TEST_F(EventLoop, AcceptWithoutWindowRaises537) {
  std::thread([] {
    Accept accept;
    EXPECT_FALSE(accept.Next());
    EXPECT_EQ(LastRuntimeError(), 537);
    EXPECT_EQ(pr::files::ErrorCode(), 537);
    EXPECT_EQ(pr::files::Error(), "ACCEPT loop requires a window");
  }).join();
}

TEST_F(EventLoop, NestedLoopEndsAndTheWindowBelowRegainsFocus) {
  Window browse(kBrowse, kBrowseLabel);
  ASSERT_TRUE(browse.Open());
  std::vector<int32_t> inner;
  auto seen = RunLoop([&](int32_t e, int32_t) {
    if (e == event::OpenWindow) {
      Window form(kForm, kFormLabel);
      ASSERT_TRUE(form.Open());
      EXPECT_FALSE(IsWindowEnabled(browse.hwnd())) << "the window below is disabled while the form runs";
      inner = Events(RunLoop([](int32_t ie, int32_t) {
        if (ie == event::OpenWindow) Post(event::CloseWindow);
      }));
      EXPECT_EQ(Event(), event::OpenWindow) << "EVENT() is the outer loop's again";
      EXPECT_TRUE(IsWindowEnabled(browse.hwnd()));
    }
    if (e == event::GainFocus) Post(event::CloseWindow);
  });
  EXPECT_EQ(inner, (std::vector<int32_t>{0x203, 0x201}));
  EXPECT_EQ(Events(seen), (std::vector<int32_t>{0x203, 0x206, 0x201}));
}

TEST_F(EventLoop, PostReachesAnotherThreadsActiveWindowOnly) {
  std::promise<int> numberOfB;
  std::promise<void> posted;
  std::shared_future<void> postedDone = posted.get_future().share();
  std::vector<int32_t> seenByB;
  std::thread b([&] {
    Window w(kEmpty, kEmptyLabel);
    ASSERT_TRUE(w.Open());
    seenByB = Events(RunLoop([&](int32_t e, int32_t) {
      if (e == event::OpenWindow) {
        numberOfB.set_value(CurrentThreadNumber());
        postedDone.wait();  // the other thread posts now
      }
      if (e == 0x3FF) Post(event::CloseWindow);
    }));
  });
  int target = numberOfB.get_future().get();
  ASSERT_NE(target, 0);
  Post(0x3FF, 0, target);
  posted.set_value();
  b.join();
  EXPECT_EQ(seenByB, (std::vector<int32_t>{0x203, 0x3FF, 0x201}));

  // Thread B is gone and a thread that never opened a window has no number:
  // posts to them are dropped and reach nobody else.
  Window w(kEmpty, kEmptyLabel);
  ASSERT_TRUE(w.Open());
  auto seen = RunLoop([&](int32_t e, int32_t) {
    if (e == event::OpenWindow) {
      Post(0x3FF, 0, target);
      Post(0x3FF, 0, 9999);
      Post(event::CloseWindow);
    }
  });
  EXPECT_EQ(Events(seen), (std::vector<int32_t>{0x203, 0x201}));
}

TEST_F(EventLoop, PostToAThreadWhoseWindowsAreClosedIsDropped) {
  std::promise<int> number;
  std::promise<void> done;
  std::thread b([&] {
    Window w(kEmpty, kEmptyLabel);
    ASSERT_TRUE(w.Open());
    w.Close();  // the context stays, with no window
    number.set_value(CurrentThreadNumber());
    done.get_future().wait();
  });
  int target = number.get_future().get();
  Post(0x3FF, 0, target);  // must not crash or queue anywhere
  Window mine(kEmpty, kEmptyLabel);
  ASSERT_TRUE(mine.Open());
  EXPECT_EQ(mine.QueueLength(), 1u) << "only OpenWindow";
  mine.Close();
  done.set_value();
  b.join();
}

TEST_F(EventLoop, ModalEventsRunBeforeQueuedOnesAndOnlyOnTheirOwnThread) {
  Window w(kBrowse, kBrowseLabel);
  ASSERT_TRUE(w.Open());
  int outcome = 99, foreign = 0, foreignError = 0;
  auto seen = RunLoop([&](int32_t e, int32_t) {
    if (e == event::OpenWindow) {
      Post(event::CloseWindow);
      EXPECT_EQ(RaiseModalEvent(&w, event::ScrollDown, 1, [&](int r) { outcome = r; }), 0);
      std::thread([&] {
        foreign = RaiseModalEvent(&w, event::ScrollUp, 1);
        foreignError = LastRuntimeError();
      }).join();
    }
    if (e == event::ScrollDown) {
      EXPECT_EQ(outcome, 99) << "the control waits until the loop has handled it";
    }
  });
  EXPECT_EQ(Events(seen), (std::vector<int32_t>{0x203, 0x04, 0x201}));
  EXPECT_EQ(seen[1].field, 1);
  EXPECT_EQ(outcome, 0);
  EXPECT_EQ(foreign, -1);
  EXPECT_EQ(foreignError, 545);
  // With no loop to run it on, a modal event is discarded.
  Window idle(kEmpty, kEmptyLabel);
  ASSERT_TRUE(idle.Open());
  bool ran = false;
  EXPECT_EQ(RaiseModalEvent(&idle, event::PreAlert, 0, [&](int) { ran = true; }), 0);
  EXPECT_EQ(idle.QueueLength(), 1u);
  idle.Close();
  EXPECT_FALSE(ran);
}

TEST_F(EventLoop, PressedKeysAreLimited) {
  Window w(kEmpty, kEmptyLabel);
  ASSERT_TRUE(w.Open());
  for (size_t i = 0; i < kPressKeyLimit; ++i) PressKey('A');
  EXPECT_EQ(LastRuntimeError(), 0);
  PressKey('A');
  EXPECT_EQ(LastRuntimeError(), 534);
  RunLoop([](int32_t e, int32_t) {
    if (e == event::OpenWindow) Post(event::CloseWindow);
  });
}

}  // namespace
}  // namespace pr::ui
