// Opening windows from their resources: controls, errors, threads, buttons,
// properties, SELECT, alert keys and the host frame's toolbar.
#include <atomic>
#include <cstring>
#include <thread>

#include "event_test_support.h"
#include "ui/frame.h"
#include "ui/property.h"
#include "ui/window_controls.h"

namespace pr::ui {
namespace {

using namespace pr::ui::testing;

class WindowOpen : public HeadlessTest {
 protected:
  void TearDown() override {
    UnregisterControlClass(rsc::kEntry);
    UnregisterControlClass(rsc::kList);
    CloseHostFrame();
    ResetToolbar();
  }
};

std::string TextOf(HWND hwnd) {
  char text[256] = {};
  GetWindowTextA(hwnd, text, sizeof text);
  return text;
}

TEST_F(WindowOpen, CreatesEveryControlInOrderWithPlaceholders) {
  int32_t id = 7;
  char name[20] = "Zvirko";
  Window w(kForm, kFormLabel);
  ASSERT_TRUE(w.Open({{2, &id}, {4, name}}));
  EXPECT_EQ(TextOf(w.hwnd()), "Update Records...");
  ASSERT_EQ(w.controls().size(), 6u);
  const char* labels[] = {"?PAR:ID:PROMPT", "?PAR:ID", "?PAR:NAZIV:PROMPT", "?PAR:NAZIV", "?OK", "?CANCEL"};
  for (int i = 0; i < 6; ++i) {
    Control* c = w.ControlByFeq(i + 1);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->described.label, labels[i]);
    EXPECT_TRUE(c->placeholder);
    EXPECT_EQ(GetDlgCtrlID(c->hwnd), i + 1);
    EXPECT_TRUE(IsChild(w.hwnd(), c->hwnd));
  }
  EXPECT_EQ(w.ControlByFeq(2)->variable, &id);
  EXPECT_EQ(w.ControlByFeq(4)->variable, name);
  EXPECT_EQ(w.ControlByFeq(1)->variable, nullptr);
  EXPECT_EQ(TextOf(w.ControlByFeq(5)->hwnd), "OK");
  EXPECT_EQ(w.defaultButton(), 5);
  // The window is 160 x 80 dialog units: 40 x 10 cells of client area.
  RECT client{};
  GetClientRect(w.hwnd(), &client);
  EXPECT_EQ(client.right, 40);
  EXPECT_EQ(client.bottom, 10);
  EXPECT_NE(HeadlessScreenText().find("Update Records..."), std::string::npos);
  HWND hwnd = w.hwnd(), ok = w.ControlByFeq(5)->hwnd;
  w.Close();
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_FALSE(IsWindow(ok));
}

TEST_F(WindowOpen, InchBasedUnitsAreConvertedThroughDialogUnits) {
  // The module 1 window (357 x 158) with its attribute bits saying 72 units
  // per inch: 4.96 x 2.19 inches, 317 x 130 dialog units, 80 x 17 cells.
  std::vector<uint8_t> raw;
  for (const CompiledWindowResource& r : CompiledWindowResources())
    if (std::strcmp(r.name, "PR_DL001_RSC") == 0) raw.assign(r.data, r.data + r.size);
  ASSERT_FALSE(raw.empty());
  std::memcpy(raw.data(), "PR_DLL$PR_DLU", 13);  // same length as PR_DLL$PR_DL001 less two
  raw.erase(raw.begin() + 13, raw.begin() + 15);
  uint32_t record = raw[14] | raw[15] << 8;  // list head at position L + 1 = 14
  raw.at(12 + record + 5) = 0x10;
  raw.at(12 + record + 6) = 0x03;  // attribute bits 0x310
  HMODULE module = reinterpret_cast<HMODULE>(0x7E580000);
  RegisterResource(module, "VODEDAV", "PR_DLU_RSC", 1033, raw.data(), static_cast<DWORD>(raw.size()));
  Window w("PR_DLL$PR_DLU", "P1$WINDOW", module);
  ASSERT_TRUE(w.Open());
  RECT client{};
  GetClientRect(w.hwnd(), &client);
  EXPECT_EQ(client.right, 80);
  EXPECT_EQ(client.bottom, 17);
  w.Close();
  UnregisterModuleResources(module);
}

TEST_F(WindowOpen, ErrorsOfOpening) {
  Window w(kEmpty, kEmptyLabel);
  ASSERT_TRUE(w.Open());
  EXPECT_FALSE(w.Open());
  EXPECT_EQ(LastRuntimeError(), 535);
  EXPECT_TRUE(w.IsOpen());
  w.Close();

  Window missing("PR_DLL$PR_DL004", "P1$NOWINDOW");
  EXPECT_FALSE(missing.Open());
  EXPECT_EQ(LastRuntimeError(), 502);
  EXPECT_EQ(pr::files::ErrorCode(), 502);
  EXPECT_EQ(pr::files::Error(), "Internal error 02");
  Window noModule("PR_DLL$PR_DL999", "P1$WINDOW");
  EXPECT_FALSE(noModule.Open());
  EXPECT_EQ(LastRuntimeError(), 502);
  // The failed lookups released the resource lock.
  Window again(kForm, kFormLabel);
  EXPECT_TRUE(again.Open());
}

TEST_F(WindowOpen, ControlClassesComeFromTheRegistry) {
  static std::atomic<int> made{0};
  made = 0;
  ControlClass edit;
  edit.create = [](Control& c, HWND parent, const RECT& r) {
    made.fetch_add(1);
    return CreateWindowExA(0, "Button", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, r.left, r.top, r.right - r.left,
                           r.bottom - r.top, parent, reinterpret_cast<HMENU>(static_cast<intptr_t>(c.feq())),
                           nullptr, &c);
  };
  RegisterControlClass(rsc::kEntry, edit);
  Window w(kForm, kFormLabel);
  ASSERT_TRUE(w.Open());
  EXPECT_EQ(made.load(), 2);
  EXPECT_FALSE(w.ControlByFeq(2)->placeholder);
  EXPECT_TRUE(w.ControlByFeq(1)->placeholder);
  char cls[32] = {};
  GetClassNameA(w.ControlByFeq(4)->hwnd, cls, sizeof cls);
  EXPECT_STREQ(cls, "Button");

  // A class that cannot make its control fails the open with 529.
  ControlClass broken;
  broken.create = [](Control&, HWND, const RECT&) -> HWND { return nullptr; };
  RegisterControlClass(rsc::kList, broken);
  Window browse(kBrowse, kBrowseLabel);
  EXPECT_FALSE(browse.Open());
  EXPECT_EQ(LastRuntimeError(), 529);
  EXPECT_FALSE(browse.IsOpen());
}

TEST_F(WindowOpen, TwoThreadsOpenWindowsAtTheSameTime) {
  std::atomic<int> good{0};
  auto run = [&](const char* name, const char* label, size_t controls, const char* firstLabel) {
    for (int i = 0; i < 15; ++i) {
      Window w(name, label);
      if (!w.Open()) continue;
      bool ok = w.controls().size() == controls && w.controls()[0]->described.label == firstLabel &&
                GetWindowThreadProcessId(w.hwnd(), nullptr) == GetCurrentThreadId();
      for (const auto& c : w.controls()) ok = ok && c->window == &w && IsChild(w.hwnd(), c->hwnd);
      if (ok) good.fetch_add(1);
      w.Close();
    }
  };
  std::thread a(run, kForm, kFormLabel, 6, "?PAR:ID:PROMPT");
  std::thread b(run, kBrowse, kBrowseLabel, 6, "?LIST");
  a.join();
  b.join();
  EXPECT_EQ(good.load(), 30);
}

TEST_F(WindowOpen, ButtonsAcceptAndDisabledOnesDoNot) {
  Window w(kForm, kFormLabel);
  ASSERT_TRUE(w.Open());
  HWND ok = w.ControlByFeq(5)->hwnd;
  auto seen = RunLoop([&](int32_t e, int32_t) {
    if (e == event::OpenWindow) {
      SetProperty(6, prop::Disable, "1");
      SendMessageA(w.hwnd(), WM_COMMAND, MAKEWPARAM(6, BN_CLICKED), reinterpret_cast<LPARAM>(w.ControlByFeq(6)->hwnd));
      SendMessageA(w.hwnd(), WM_COMMAND, MAKEWPARAM(5, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
    }
    if (e == event::Accepted) {
      EXPECT_EQ(Accepted(), 5);
      Post(event::CloseWindow);
    }
  });
  EXPECT_EQ(Events(seen), (std::vector<int32_t>{0x203, 0x01, 0x201}));
  EXPECT_EQ(seen[1].field, 5);
}

TEST_F(WindowOpen, EnterPressesTheDefaultButtonAndEscapeCloses) {
  Window w(kForm, kFormLabel);
  ASSERT_TRUE(w.Open());
  auto seen = RunLoop([&](int32_t e, int32_t) {
    if (e == event::OpenWindow) {
      Select(2);
      PressKey(VK_RETURN);
    }
    if (e == event::Accepted) PressKey(VK_ESCAPE);
  });
  EXPECT_EQ(Events(seen), (std::vector<int32_t>{0x203, 0x01, 0x201}));
  EXPECT_EQ(seen[1].field, 5);
}

TEST_F(WindowOpen, AlertKeysMatchWithLockBitsOn) {
  ControlClass focusable;
  focusable.className = "Button";
  RegisterControlClass(rsc::kList, focusable);
  Window w(kBrowse, kBrowseLabel);
  ASSERT_TRUE(w.Open());
  for (uint32_t k : {0x05u, 0x5Du, 0x02u, 0x2Du, 0x2Eu, 0x20Du})
    SetPropertyNumber(1, prop::Alrt, static_cast<int32_t>(k), 255);
  EXPECT_EQ(GetPropertyNumber(1, prop::Alrt, 0), 6);
  EXPECT_EQ(GetPropertyNumber(1, prop::Alrt, 4), 0x2D);
  std::vector<uint32_t> codes;
  auto seen = RunLoop([&](int32_t e, int32_t f) {
    if (e == event::OpenWindow) {
      Select(1);
      PressKey(key::Insert | key::CapsLock | key::NumLock);
      PressKey('Q');  // not an alert key: goes to the control
      PressKey(0x0D | key::Ctrl | key::InsertOn);
    }
    if (e == event::AlertKey) {
      EXPECT_EQ(f, 1);
      codes.push_back(KeyCode());
      if (codes.size() == 2) Post(event::CloseWindow);
    }
  });
  EXPECT_EQ(Events(seen), (std::vector<int32_t>{0x203, 0x0F, 0x0F, 0x201}));
  EXPECT_EQ(codes, (std::vector<uint32_t>{0x302D, 0x820D}));
}

TEST_F(WindowOpen, SelectWithoutFieldValidatesEveryFieldThenCompletes) {
  static std::vector<int32_t> validated;
  static int32_t refuse = 0;
  validated.clear();
  refuse = 0;
  ControlClass entry;
  entry.className = "Button";
  entry.validate = [](Control& c) {
    validated.push_back(c.feq());
    return c.feq() != refuse;
  };
  RegisterControlClass(rsc::kEntry, entry);
  Window w(kForm, kFormLabel);
  ASSERT_TRUE(w.Open());
  std::vector<int32_t> acceptAllDuringCompleted;
  auto seen = RunLoop([&](int32_t e, int32_t) {
    if (e == event::OpenWindow) {
      Select();
      EXPECT_EQ(validated, (std::vector<int32_t>{2, 4}));
      EXPECT_EQ(GetPropertyNumber(0, prop::AcceptAll), 1);
    }
    if (e == event::Completed) {
      acceptAllDuringCompleted.push_back(GetPropertyNumber(0, prop::AcceptAll));
      Post(0x3FF);
    }
    if (e == 0x3FF) {
      EXPECT_EQ(GetPropertyNumber(0, prop::AcceptAll), 0);
      refuse = 4;
      validated.clear();
      Select();  // refused by field 4: no Completed, the focus goes there
      EXPECT_EQ(validated, (std::vector<int32_t>{2, 4}));
      EXPECT_EQ(GetFocus(), w.ControlByFeq(4)->hwnd);
      EXPECT_EQ(GetPropertyNumber(0, prop::AcceptAll), 0);
      Post(event::CloseWindow);
    }
  });
  EXPECT_EQ(Events(seen), (std::vector<int32_t>{0x203, 0x225, 0x3FF, 0x201}));
  EXPECT_EQ(acceptAllDuringCompleted, (std::vector<int32_t>{1}));
}

TEST_F(WindowOpen, PropertiesActOnControlsAndWindows) {
  ASSERT_EQ(Properties().size(), 10u);
  ASSERT_NE(FindProperty("vscrollpos"), nullptr);
  EXPECT_EQ(FindProperty("vscrollpos")->number, 0x7C9Eu);
  EXPECT_EQ(FindProperty(prop::Alrt)->kind, kPropNumber | kPropIndexed);
  EXPECT_EQ(FindProperty(prop::Tip)->kind, static_cast<uint32_t>(kPropText));

  Window w(kBrowse, kBrowseLabel);
  ASSERT_TRUE(w.Open());
  HWND select = w.ControlByFeq(5)->hwnd;
  EXPECT_EQ(GetProperty(5, prop::Disable), "0");
  EXPECT_TRUE(SetProperty(5, prop::Disable, "1"));
  EXPECT_FALSE(IsWindowEnabled(select));
  EXPECT_EQ(GetProperty(5, prop::Disable), "1");
  EXPECT_TRUE(SetPropertyNumber(5, prop::Hide, 1));
  EXPECT_EQ(GetPropertyNumber(5, prop::Visible), 0);
  EXPECT_EQ(GetPropertyNumber(5, prop::Hide), 1);
  SetPropertyNumber(5, prop::Visible, 1);
  EXPECT_EQ(GetPropertyNumber(5, prop::Hide), 0);
  EXPECT_EQ(GetProperty(1, prop::Tip), "Browsing Records");
  SetProperty(1, prop::Tip, "Partners");
  EXPECT_EQ(GetProperty(1, prop::Tip), "Partners");
  SetPropertyNumber(1, prop::Selected, 3);
  EXPECT_EQ(GetPropertyNumber(1, prop::Selected), 3);
  SetPropertyNumber(1, prop::VScroll, 1);
  EXPECT_EQ(GetPropertyNumber(1, prop::VScroll), 1);
  EXPECT_EQ(GetPropertyNumber(1, prop::Items), 13) << "100 dialog units are 13 rows";
  // Alert key slots: replace, remove.
  SetPropertyNumber(1, prop::Alrt, 0x2D, 255);
  SetPropertyNumber(1, prop::Alrt, 0x2E, 255);
  SetPropertyNumber(1, prop::Alrt, 0x5D, 1);
  EXPECT_EQ(GetPropertyNumber(1, prop::Alrt, 1), 0x5D);
  SetPropertyNumber(1, prop::Alrt, 0, 1);
  EXPECT_EQ(GetPropertyNumber(1, prop::Alrt, 0), 1);
  EXPECT_EQ(GetPropertyNumber(1, prop::Alrt, 1), 0x2E);
  // No such control: nothing is written.
  EXPECT_FALSE(SetProperty(42, prop::Hide, "1"));
  EXPECT_EQ(GetProperty(42, prop::Hide), "");
  // The window itself.
  SetPropertyNumber(0, prop::Disable, 1);
  EXPECT_FALSE(IsWindowEnabled(w.hwnd()));
  EXPECT_EQ(GetPropertyNumber(0, prop::Disable), 1);
}

TEST_F(WindowOpen, HostToolbarDeliversAcceptedToTheActiveWindow) {
  ASSERT_NE(OpenHostFrame(), nullptr);
  EXPECT_EQ(ToolbarCaption(2000), "F2 Insert");
  EXPECT_NE(HeadlessScreenText().find("F2 Insert"), std::string::npos);
  Window w(kBrowse, kBrowseLabel);
  ASSERT_TRUE(w.Open());
  // Toolbar numbers that are not controls of the window reach the frame.
  EXPECT_TRUE(SetProperty(2004, prop::Tip, "Go to the Last Page"));
  EXPECT_EQ(ToolbarTip(2004), "Go to the Last Page");
  EXPECT_TRUE(SetPropertyNumber(2011, prop::Disable, 1));
  EXPECT_FALSE(IsToolbarControlEnabled(2011));
  std::vector<int32_t> fields;
  auto seen = RunLoop([&](int32_t e, int32_t f) {
    if (e == event::OpenWindow) {
      SendMessageA(HostFrameWindow(), WM_COMMAND, MAKEWPARAM(2008, BN_CLICKED), 0);
      SendMessageA(HostFrameWindow(), WM_COMMAND, MAKEWPARAM(2011, BN_CLICKED), 0);  // disabled
      PressKey(VK_F1 + 5);  // F6: control 2004
      PressKey((VK_F1 + 1) | key::Shift);  // Shift+F2: 2011, disabled
    }
    if (e == event::Accepted) {
      fields.push_back(f);
      if (fields.size() == 2) Post(event::CloseWindow);
    }
  });
  EXPECT_EQ(fields, (std::vector<int32_t>{2008, 2004}));
  EXPECT_EQ(Events(seen).back(), event::CloseWindow);
}

}  // namespace
}  // namespace pr::ui
