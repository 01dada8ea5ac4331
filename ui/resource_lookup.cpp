#include "ui/resource_lookup.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "ui/resource_decoder.h"
#include "values/locale.h"

namespace pr::ui {
namespace {

volatile LONG g_lockWord = 0;
// Owned by the lock holder; g_owner is read by other threads only to refuse
// a nested lookup of the holder itself.
std::atomic<DWORD> g_owner{0};
std::vector<uint8_t> g_buffer;
std::atomic<HMODULE> g_currentModule{nullptr};
std::atomic<HMODULE> g_preferredModule{nullptr};

void TakeLock() {
  while (InterlockedExchange(&g_lockWord, -1) < 0) Sleep(1);
  g_owner.store(GetCurrentThreadId());
}

void DropLock() {
  g_buffer.clear();
  g_buffer.shrink_to_fit();
  g_owner.store(0);
  InterlockedExchange(&g_lockWord, 0);
}

bool HoldsLock() { return g_owner.load() == GetCurrentThreadId(); }

// The resource `resourceName` of `module` when its stored name is
// `qualifiedName`; its raw bytes in *raw.
bool MatchingResource(HMODULE module, const std::string& resourceName, const char* qualifiedName,
                      const uint8_t* upper, std::span<const uint8_t>* raw) {
  HRSRC found = FindResourceA(module, resourceName.c_str(), rsc::kResourceType);
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(module, found);
  auto bytes = static_cast<const uint8_t*>(LockResource(loaded));
  DWORD size = SizeofResource(module, found);
  if (bytes == nullptr || size == 0) return false;
  std::span<const uint8_t> all(bytes, size);
  const void* nul = std::memchr(all.data(), 0, all.size());
  if (nul == nullptr) return false;
  std::string_view stored(reinterpret_cast<const char*>(bytes), static_cast<const uint8_t*>(nul) - bytes);
  if (!SameName(stored, qualifiedName, upper)) return false;
  *raw = all;
  return true;
}

}  // namespace

uint32_t FindWindowResource(const char* qualifiedName, const char* label, HMODULE preferred) {
  if (qualifiedName == nullptr || label == nullptr || HoldsLock()) return 0;
  const char* dollar = std::strchr(qualifiedName, '$');
  std::string resourceName = std::string(dollar != nullptr ? dollar + 1 : qualifiedName) + rsc::kResourceSuffix;
  const uint8_t* upper = pr::values::Locale().upper;

  std::vector<HMODULE> modules;
  if (preferred == nullptr) preferred = g_preferredModule.load();
  if (preferred != nullptr) modules.push_back(preferred);
  HMODULE registered[256];
  size_t count = std::min(EnumResourceModules(registered, std::size(registered)), std::size(registered));
  for (size_t i = 0; i < count; ++i)
    if (registered[i] != preferred) modules.push_back(registered[i]);

  for (HMODULE module : modules) {
    std::span<const uint8_t> raw;
    if (!MatchingResource(module, resourceName, qualifiedName, upper, &raw)) continue;
    TakeLock();
    std::string name;
    uint32_t record = 0;
    if (SplitResource(raw, &name, &g_buffer) &&
        FindWindowRecord(g_buffer, label, &record, upper) == FindResult::kFound) {
      g_currentModule.store(module);
      return record;
    }
    DropLock();
  }
  return 0;
}

std::span<const uint8_t> WindowResourceBuffer() {
  if (!HoldsLock()) return {};
  return g_buffer;
}

HMODULE CurrentResourceModule() { return g_currentModule.load(); }

void ReleaseWindowResource() {
  if (HoldsLock()) DropLock();
}

void SetPreferredResourceModule(HMODULE module) { g_preferredModule.store(module); }

}  // namespace pr::ui
