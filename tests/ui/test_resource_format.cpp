// The compiled window resources of the module, checked byte for byte against
// the facts of the format, and decoded field by field.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "resources/window_resources.h"
#include "ui/resource_decoder.h"

namespace pr::ui {
namespace {

std::vector<uint8_t> Raw(const char* name) {
  for (const CompiledWindowResource& r : CompiledWindowResources())
    if (std::strcmp(r.name, name) == 0) return {r.data, r.data + r.size};
  ADD_FAILURE() << "no compiled resource " << name;
  return {};
}

uint32_t U32At(const std::vector<uint8_t>& b, size_t pos) {
  return b.at(pos) | b.at(pos + 1) << 8 | b.at(pos + 2) << 16 | static_cast<uint32_t>(b.at(pos + 3)) << 24;
}

// Decodes the first window of a compiled resource and checks its label.
WindowSpec DecodeFirst(const char* name, const char* qualified, const char* label) {
  std::string stored;
  std::vector<uint8_t> buffer;
  EXPECT_TRUE(SplitResource(Raw(name), &stored, &buffer));
  EXPECT_EQ(stored, qualified);
  uint32_t record = 0;
  EXPECT_EQ(FindWindowRecord(buffer, label, &record), FindResult::kFound);
  WindowSpec w;
  EXPECT_TRUE(DecodeWindow(buffer, record, &w));
  return w;
}

TEST(ResourceBytes, UpdateFormLayoutFacts) {
  std::vector<uint8_t> raw = Raw("PR_DL004_RSC");
  // The name "PR_DLL$PR_DL004" has 15 characters: relative offset R is file
  // position 14 + R.
  ASSERT_EQ(std::string(reinterpret_cast<const char*>(raw.data())), "PR_DLL$PR_DL004");
  // The list head (relative 2, file position 16) names the window record at
  // relative 0x26, which is file position 0x34 and starts with type 25.
  EXPECT_EQ(U32At(raw, 16), 0x26u);
  EXPECT_EQ(raw.at(0x34), 25);
  // The title is at relative offset 6 and the window's title field says so.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw.data() + 14 + 6)), "Update Records...");
  EXPECT_EQ(U32At(raw, 0x34 + 41), 6u);
  // Attribute bits, option word, position not given, 160 by 80.
  EXPECT_EQ(U32At(raw, 0x34 + 5), 0x810u);
  EXPECT_EQ(U32At(raw, 0x34 + 82), 0x3000u);
  EXPECT_EQ(U32At(raw, 0x34 + 13), 0x80000000u);
  EXPECT_EQ(U32At(raw, 0x34 + 17), 0x80000000u);
  EXPECT_EQ(U32At(raw, 0x34 + 21), 160u);
  EXPECT_EQ(U32At(raw, 0x34 + 25), 80u);
  EXPECT_EQ(U32At(raw, 0x34 + 37), 0u) << "no font descriptor";
}

TEST(ResourceBytes, UpdateFormDecodesAsDeclared) {
  WindowSpec w = DecodeFirst("PR_DL004_RSC", "PR_DLL$PR_DL004", "P1$FORMWINDOW");
  EXPECT_EQ(w.title, "Update Records...");
  EXPECT_EQ(w.label, "P1$FORMWINDOW");
  EXPECT_EQ(w.x, kNotGiven);
  EXPECT_EQ(w.y, kNotGiven);
  EXPECT_EQ(w.width, 160);
  EXPECT_EQ(w.height, 80);
  EXPECT_EQ(w.attr, 0x810u);
  EXPECT_FALSE(w.font.present);
  ASSERT_EQ(w.controls.size(), 6u);

  struct Expected {
    uint8_t type;
    const char* label;
    const char* text;
    const char* picture;
    int32_t x, y, width, height;
  };
  const Expected expected[] = {
      {rsc::kPrompt, "?PAR:ID:PROMPT", "ID:", "", 27, 17, kNotGiven, kNotGiven},
      {rsc::kEntry, "?PAR:ID", "", "@n-14", 77, 16, 60, 10},
      {rsc::kPrompt, "?PAR:NAZIV:PROMPT", "Name :", "", 26, 35, kNotGiven, kNotGiven},
      {rsc::kEntry, "?PAR:NAZIV", "", "@s20", 77, 34, 60, 10},
      {rsc::kButton, "?OK", "OK", "", 28, 59, 40, 12},
      {rsc::kButton, "?CANCEL", "Cancel", "", 97, 59, 40, 12},
  };
  for (size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(expected[i].label);
    const ControlSpec& c = w.controls[i];
    EXPECT_EQ(c.feq, static_cast<int32_t>(i + 1));
    EXPECT_EQ(c.type, expected[i].type);
    EXPECT_EQ(c.label, expected[i].label);
    EXPECT_EQ(c.text, expected[i].text);
    EXPECT_EQ(c.picture, expected[i].picture);
    EXPECT_EQ(c.x, expected[i].x);
    EXPECT_EQ(c.y, expected[i].y);
    EXPECT_EQ(c.width, expected[i].width);
    EXPECT_EQ(c.height, expected[i].height);
  }
  const ControlSpec& id = w.controls[1];
  EXPECT_TRUE(id.use.present);
  EXPECT_EQ(id.use.type, 6);
  EXPECT_EQ(id.use.size, 4u);
  EXPECT_EQ(id.attr, 0x28u);
  EXPECT_EQ(id.justification, Justification::kRight);
  EXPECT_EQ(id.indent, 1);
  const ControlSpec& name = w.controls[3];
  EXPECT_EQ(name.use.type, 18);
  EXPECT_EQ(name.use.size, 20u);
  EXPECT_EQ(name.justification, Justification::kLeft);
  EXPECT_EQ(name.indent, 0);
  EXPECT_EQ(w.controls[4].buttonOptions, 0x03);
  EXPECT_EQ(w.controls[5].buttonOptions, 0x00);
}

TEST(ResourceBytes, BrowseDecodesAsDeclared) {
  WindowSpec w = DecodeFirst("PR_DL005_RSC", "PR_DLL$PR_DL005", "P1$BROWSEWINDOW");
  EXPECT_EQ(w.title, "Browse Records");
  EXPECT_EQ(w.x, kNotGiven);
  EXPECT_EQ(w.width, 247);
  EXPECT_EQ(w.height, 129);
  EXPECT_EQ(w.attr, 0x810u);
  EXPECT_EQ(w.options, 0x3000u);
  EXPECT_FALSE(w.font.present);
  ASSERT_EQ(w.controls.size(), 6u);

  const ControlSpec& list = w.controls[0];
  EXPECT_EQ(list.type, rsc::kList);
  EXPECT_EQ(list.feq, 1);
  EXPECT_EQ(list.label, "?LIST");
  EXPECT_EQ(list.format, "56R(2)|M~ID~L@n-14@80L(2)|M~Name~@s20@");
  EXPECT_EQ(list.tip, "Browsing Records");
  EXPECT_FALSE(list.use.present);
  EXPECT_TRUE(list.from.present);
  EXPECT_EQ(list.from.type, 26);
  EXPECT_EQ(list.attr, 0x803u);
  EXPECT_EQ(list.x, 5);
  EXPECT_EQ(list.y, 5);
  EXPECT_EQ(list.width, 235);
  EXPECT_EQ(list.height, 100);

  const char* labels[] = {"?INSERT", "?CHANGE", "?DELETE", "?SELECT", "?CLOSE"};
  const char* texts[] = {"&Insert", "&Change", "&Delete", "&Select", "Close"};
  const int32_t xs[] = {5, 50, 95, 145, 200};
  for (int i = 0; i < 5; ++i) {
    const ControlSpec& b = w.controls[i + 1];
    SCOPED_TRACE(labels[i]);
    EXPECT_EQ(b.type, rsc::kButton);
    EXPECT_EQ(b.feq, i + 2);
    EXPECT_EQ(b.label, labels[i]);
    EXPECT_EQ(b.text, texts[i]);
    EXPECT_EQ(b.x, xs[i]);
    EXPECT_EQ(b.y, 110);
    EXPECT_EQ(b.width, 40);
    EXPECT_EQ(b.height, 12);
    EXPECT_EQ(b.buttonOptions, i == 1 ? 0x01 : 0x00);
  }
}

TEST(ResourceBytes, ModuleOneWindowHasNoControlsAndItsFont) {
  WindowSpec w = DecodeFirst("PR_DL001_RSC", "PR_DLL$PR_DL001", "P1$WINDOW");
  EXPECT_EQ(w.title, "Caption");
  EXPECT_EQ(w.width, 357);
  EXPECT_EQ(w.height, 158);
  EXPECT_TRUE(w.controls.empty());
  ASSERT_TRUE(w.font.present);
  EXPECT_EQ(w.font.face, "MS Sans Serif");
  EXPECT_EQ(w.font.points, 8u);
  EXPECT_EQ(w.font.colour, 0xFFFFFFFFu);
  EXPECT_EQ(w.font.weight, 400u);
  EXPECT_EQ(w.options, 0x2000u);
}

TEST(ResourceBytes, ReportPreviewUsesFixedLayoutsOnly) {
  WindowSpec w = DecodeFirst("PR_DL_SF_RSC", "PR_DLL$PR_DL_SF", "P1$PREVIEWWINDOW");
  EXPECT_EQ(w.title, "Report Preview");
  ASSERT_FALSE(w.controls.empty());
  for (const ControlSpec& c : w.controls) EXPECT_NE(rsc::RecordLength(c.type), 0u) << c.label;
}

// ------------------------------------------------------------ decoding rules

// A minimal resource built by hand: one window "W" with one BUTTON.
struct Handmade {
  std::vector<uint8_t> buffer = std::vector<uint8_t>(2, 0);
  uint32_t Put(std::string_view bytes) {
    auto at = static_cast<uint32_t>(buffer.size());
    buffer.insert(buffer.end(), bytes.begin(), bytes.end());
    return at;
  }
  uint32_t Text(const char* s) { return Put(std::string_view(s, std::strlen(s) + 1)); }
  uint32_t Zeros(size_t n) { return Put(std::string(n, '\0')); }
  void Set32(uint32_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) buffer[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
};

Handmade WindowWithButton(const char* desc1, const char* desc2) {
  Handmade h;
  h.Zeros(4);
  uint32_t label = h.Text("W");
  uint32_t win = h.Zeros(117);
  h.buffer[win] = 25;
  h.Set32(2, win);
  h.Set32(win + 33, label);
  uint32_t d1 = desc1 ? h.Text(desc1) : 0, d2 = desc2 ? h.Text(desc2) : 0;
  uint32_t button = h.Zeros(96);
  h.buffer[button] = 9;
  h.Set32(button + 13, 1);
  h.Set32(button + 37, d1);
  h.Set32(button + 41, d2);
  h.Set32(win + 29, button);
  return h;
}

TEST(ResourceDecoding, TildeDescriptiveTextGivesWayToTheSecond) {
  struct Case {
    const char* first;
    const char* second;
    const char* tip;
  } cases[] = {
      {"~Jump to the selected page", "Go to selected Line", "Go to selected Line"},
      {"~Alone", nullptr, "~Alone"},
      {"Plain", "Other", "Plain"},
  };
  for (const Case& c : cases) {
    Handmade h = WindowWithButton(c.first, c.second);
    WindowSpec w;
    ASSERT_TRUE(DecodeWindow(h.buffer, U32At(h.buffer, 2), &w));
    ASSERT_EQ(w.controls.size(), 1u);
    EXPECT_EQ(w.controls[0].tip, c.tip);
  }
}

TEST(ResourceDecoding, OutOfBoundsAndCyclesAreRefused) {
  Handmade good = WindowWithButton(nullptr, nullptr);
  uint32_t win = U32At(good.buffer, 2);
  uint32_t button = U32At(good.buffer, win + 29);
  WindowSpec w;
  ASSERT_TRUE(DecodeWindow(good.buffer, win, &w));

  Handmade cyclic = good;  // the button's next sibling is itself
  cyclic.Set32(button + 1, button);
  EXPECT_FALSE(DecodeWindow(cyclic.buffer, win, &w));

  Handmade textOutside = good;
  textOutside.Set32(button + 69, static_cast<uint32_t>(good.buffer.size()) + 10);
  EXPECT_FALSE(DecodeWindow(textOutside.buffer, win, &w));

  Handmade unterminated = good;
  uint32_t tail = unterminated.Put("abc");  // no NUL up to the end
  unterminated.Set32(button + 69, tail);
  EXPECT_FALSE(DecodeWindow(unterminated.buffer, win, &w));

  Handmade truncated = good;  // the button record runs past the end
  truncated.buffer.resize(button + 50);
  EXPECT_FALSE(DecodeWindow(truncated.buffer, win, &w));

  Handmade windowCycle = good;
  windowCycle.Set32(win + 1, win);
  uint32_t record = 0;
  EXPECT_EQ(FindWindowRecord(windowCycle.buffer, "nothere", &record), FindResult::kMalformed);
  EXPECT_EQ(FindWindowRecord(good.buffer, "w", &record), FindResult::kFound);
  EXPECT_EQ(FindWindowRecord(good.buffer, "X", &record), FindResult::kNotFound);

  std::string name;
  std::vector<uint8_t> buffer;
  const uint8_t noNul[] = {'A', 'B'};
  EXPECT_FALSE(SplitResource(noNul, &name, &buffer));
}

TEST(ResourceDecoding, OffsetOneReadsAsEmptyText) {
  // Both bytes before the body are zero, so a text at relative offset 1 is
  // the empty text rather than whatever the allocator left there.
  Handmade h = WindowWithButton(nullptr, nullptr);
  std::vector<uint8_t> raw = {'N', 0};
  raw.insert(raw.end(), h.buffer.begin() + 2, h.buffer.end());
  std::string name;
  std::vector<uint8_t> buffer;
  ASSERT_TRUE(SplitResource(raw, &name, &buffer));
  uint32_t win = U32At(buffer, 2);
  uint32_t button = U32At(buffer, win + 29);
  Handmade patched;
  patched.buffer = buffer;
  patched.Set32(button + 69, 1);
  WindowSpec w;
  ASSERT_TRUE(DecodeWindow(patched.buffer, win, &w));
  EXPECT_EQ(w.controls[0].text, "");
}

}  // namespace
}  // namespace pr::ui
