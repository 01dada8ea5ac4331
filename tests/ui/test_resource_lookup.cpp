// Finding window resources among the registered modules.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel.h"
#include "resources/window_resources.h"
#include "ui/resource_decoder.h"
#include "ui/resource_lookup.h"

namespace pr::ui {
namespace {

HMODULE FakeModule(uintptr_t n) { return reinterpret_cast<HMODULE>(0x7E570000 + n * 16); }

std::vector<uint8_t> Compiled(const char* name) {
  for (const CompiledWindowResource& r : CompiledWindowResources())
    if (std::strcmp(r.name, name) == 0) return {r.data, r.data + r.size};
  return {};
}

// The compiled PR_DL004 resource with its stored name replaced.
std::vector<uint8_t> Renamed(const char* qualifiedName) {
  std::vector<uint8_t> raw = Compiled("PR_DL004_RSC");
  size_t nameLength = std::strlen(reinterpret_cast<const char*>(raw.data()));
  std::vector<uint8_t> out(qualifiedName, qualifiedName + std::strlen(qualifiedName) + 1);
  out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(nameLength) + 1, raw.end());
  return out;
}

class ResourceLookup : public ::testing::Test {
 protected:
  void SetUp() override { RegisterWindowResources(FakeModule(1)); }
  void TearDown() override {
    for (uintptr_t m = 1; m <= 4; ++m) UnregisterModuleResources(FakeModule(m));
  }
};

TEST_F(ResourceLookup, FindsTheUpdateFormInAnyCaseAndHoldsTheBuffer) {
  for (auto [name, label] : {std::pair{"PR_DLL$PR_DL004", "P1$FORMWINDOW"}, {"pr_dll$pr_dl004", "p1$formwindow"}}) {
    uint32_t record = FindWindowResource(name, label, FakeModule(1));
    ASSERT_EQ(record, 0x26u) << name;
    EXPECT_EQ(CurrentResourceModule(), FakeModule(1));
    std::span<const uint8_t> buffer = WindowResourceBuffer();
    ASSERT_GT(buffer.size(), record);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[record], 25);
    // The holder may not look up again (it would wait for itself).
    EXPECT_EQ(FindWindowResource(name, label), 0u);
    ReleaseWindowResource();
    EXPECT_TRUE(WindowResourceBuffer().empty());
  }
}

TEST_F(ResourceLookup, NameWithoutDollarUsesTheWholeName) {
  std::vector<uint8_t> raw = Renamed("SOLO");
  RegisterResource(FakeModule(2), "VODEDAV", "SOLO_RSC", 1033, raw.data(), static_cast<DWORD>(raw.size()));
  WindowResourceHold hold("SOLO", "P1$FORMWINDOW", FakeModule(2));
  EXPECT_EQ(hold.record(), 0x26u);  // relative offsets do not depend on the name
  EXPECT_EQ(CurrentResourceModule(), FakeModule(2));
}

TEST_F(ResourceLookup, StoredNameMustMatchAndTheNextModuleIsTried) {
  // Module 2 (preferred) has PR_DLQ_RSC, but its stored name is another
  // program's; module 3 has the right one.
  std::vector<uint8_t> foreign = Renamed("OTHER$PR_DLQ");
  std::vector<uint8_t> own = Renamed("PR_DLL$PR_DLQ");
  RegisterResource(FakeModule(2), "VODEDAV", "PR_DLQ_RSC", 1033, foreign.data(), static_cast<DWORD>(foreign.size()));
  EXPECT_EQ(FindWindowResource("PR_DLL$PR_DLQ", "P1$FORMWINDOW", FakeModule(2)), 0u);
  RegisterResource(FakeModule(3), "VODEDAV", "pr_dlq_rsc", 1033, own.data(), static_cast<DWORD>(own.size()));
  WindowResourceHold hold("PR_DLL$PR_DLQ", "P1$FORMWINDOW", FakeModule(2));
  EXPECT_EQ(hold.record(), 0x26u);
  EXPECT_EQ(CurrentResourceModule(), FakeModule(3));
}

TEST_F(ResourceLookup, UnknownLabelAndMalformedResourcesGiveZero) {
  EXPECT_EQ(FindWindowResource("PR_DLL$PR_DL004", "P1$NOSUCHWINDOW", FakeModule(1)), 0u);
  EXPECT_EQ(FindWindowResource("PR_DLL$NOSUCH", "P1$WINDOW", FakeModule(1)), 0u);
  // A resource whose name runs to its end without a NUL.
  const char noNul[] = {'B', 'A', 'D'};
  RegisterResource(FakeModule(3), "VODEDAV", "BAD_RSC", 1033, noNul, sizeof noNul);
  EXPECT_EQ(FindWindowResource("BAD", "W", FakeModule(3)), 0u);
  // A window list head pointing outside the resource.
  std::vector<uint8_t> wild = {'W', 'I', 'L', 'D', 0, 0xF0, 0xFF, 0xFF, 0x7F};
  RegisterResource(FakeModule(3), "VODEDAV", "WILD_RSC", 1033, wild.data(), static_cast<DWORD>(wild.size()));
  EXPECT_EQ(FindWindowResource("WILD", "W", FakeModule(3)), 0u);
  // None of the failures left the lock held: another thread can look up.
  std::thread([] {
    uint32_t r = FindWindowResource("PR_DLL$PR_DL001", "P1$WINDOW", FakeModule(1));
    EXPECT_NE(r, 0u);
    ReleaseWindowResource();
  }).join();
}

TEST_F(ResourceLookup, LookupsFromManyThreadsAreSerialised) {
  std::atomic<int> inside{0}, overlaps{0}, found{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 25; ++i) {
        WindowResourceHold hold("PR_DLL$PR_DL005", "P1$BROWSEWINDOW", FakeModule(1));
        if (hold.record() == 0) continue;
        if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
        WindowSpec w;
        if (DecodeWindow(hold.buffer(), hold.record(), &w) && w.controls.size() == 6) found.fetch_add(1);
        inside.fetch_sub(1);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(found.load(), 100);
}

}  // namespace
}  // namespace pr::ui
