// Shared by the window engine's tests: a headless window system with the
// module's window resources registered, and a loop runner.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "files/errors.h"
#include "platform/winuser.h"
#include "resources/window_resources.h"
#include "ui/event_errors.h"
#include "ui/event_loop.h"
#include "ui/window.h"

namespace pr::ui::testing {

inline constexpr char kForm[] = "PR_DLL$PR_DL004";
inline constexpr char kFormLabel[] = "P1$FORMWINDOW";
inline constexpr char kBrowse[] = "PR_DLL$PR_DL005";
inline constexpr char kBrowseLabel[] = "P1$BROWSEWINDOW";
inline constexpr char kEmpty[] = "PR_DLL$PR_DL001";
inline constexpr char kEmptyLabel[] = "P1$WINDOW";

// Starts the headless window system once per test suite (the script is
// empty: a loop that waits for input gets the close box, then the end of the
// input, so no test can hang).
class HeadlessTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WindowSystemOptions options;
    options.columns = 100;
    options.rows = 40;
    ASSERT_TRUE(InitWindowSystem(WindowBackend::Headless, &options));
    RegisterWindowResources(GetModuleHandleA(nullptr));
  }
  void SetUp() override {
    HeadlessClearScript();
    ClearLastRuntimeError();
    SetKeyCode(0);
  }
};

struct Seen {
  int32_t event;
  int32_t field;
};

// Runs the ACCEPT loop of the active window, recording every event and
// calling `handle` for each; returns what was seen.  Stops after `limit`
// events as a guard.
inline std::vector<Seen> RunLoop(const std::function<void(int32_t event, int32_t field)>& handle, size_t limit = 50) {
  std::vector<Seen> seen;
  for (Accept accept; accept.Next();) {
    seen.push_back({Event(), Field()});
    handle(Event(), Field());
    if (seen.size() >= limit) {
      ADD_FAILURE() << "loop did not end";
      if (Window* w = accept.window()) w->Close();
    }
  }
  return seen;
}

inline std::vector<int32_t> Events(const std::vector<Seen>& seen) {
  std::vector<int32_t> out;
  for (const Seen& s : seen) out.push_back(s.event);
  return out;
}

}  // namespace pr::ui::testing
