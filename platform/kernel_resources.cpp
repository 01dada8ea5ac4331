// The resource registry: what each module registers when it is loaded, found
// again by FindResourceA and LoadStringA.
//
// Types and names are kept upper-case (ASCII) so that lookups ignore case; a
// type or name given as a number (a pointer value below 0x10000, as
// MAKEINTRESOURCE makes it) is kept as "#<number>", the same key its "#123"
// spelling gives.  Registered bytes and texts are copied: callers may pass
// temporaries.  Pointers handed out (LockResource, HRSRC) stay valid until the
// module's resources are unregistered or the same resource is registered
// again.
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel.h"

struct PrResource {
  HMODULE module;
  std::string type;
  std::string name;
  WORD language;
  std::vector<unsigned char> bytes;
};

namespace {
struct ModuleResources {
  HMODULE module;
  std::vector<std::unique_ptr<PrResource>> resources;
  std::map<UINT, std::string> strings;
};

struct ResourceRegistry {
  std::mutex mutex;
  std::vector<ModuleResources> modules;  // guarded by mutex; registration order
};

ResourceRegistry& Registry() {
  static ResourceRegistry* registry = new ResourceRegistry;  // lives to the very end
  return *registry;
}

std::string Key(const char* text) {
  if (reinterpret_cast<uintptr_t>(text) < 0x10000) {
    std::string key(1, '#');
    key += std::to_string(reinterpret_cast<uintptr_t>(text));
    return key;
  }
  std::string key(text);
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  // "#0123" and "#123" name the same number.
  if (key.size() > 1 && key.size() <= 6 && key[0] == '#' &&
      key.find_first_not_of("0123456789", 1) == std::string::npos) {
    const unsigned long number = std::strtoul(key.c_str() + 1, nullptr, 10);
    key.assign(1, '#');
    key += std::to_string(number);
  }
  return key;
}

HMODULE Normalize(HMODULE module) { return module != nullptr ? module : GetModuleHandleA(nullptr); }

// REQUIRES: registry mutex.
ModuleResources* Find(ResourceRegistry& r, HMODULE module) {
  for (auto& m : r.modules) {
    if (m.module == module) return &m;
  }
  return nullptr;
}

ModuleResources& FindOrAdd(ResourceRegistry& r, HMODULE module) {
  if (ModuleResources* m = Find(r, module)) return *m;
  r.modules.push_back(ModuleResources{module, {}, {}});
  return r.modules.back();
}

// REQUIRES: registry mutex.
bool Known(ResourceRegistry& r, HRSRC resource) {
  for (auto& m : r.modules) {
    for (auto& res : m.resources) {
      if (res.get() == resource) return true;
    }
  }
  return false;
}
}  // namespace

void RegisterResource(HMODULE module, const char* type, const char* name, WORD language, const void* data,
                      DWORD size) {
  if (type == nullptr || name == nullptr || (data == nullptr && size != 0)) return;
  module = Normalize(module);
  auto entry = std::make_unique<PrResource>();
  entry->module = module;
  entry->type = Key(type);
  entry->name = Key(name);
  entry->language = language;
  const auto* bytes = static_cast<const unsigned char*>(data);
  entry->bytes.assign(bytes, bytes + size);
  ResourceRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  ModuleResources& m = FindOrAdd(r, module);
  for (auto& existing : m.resources) {
    if (existing->type == entry->type && existing->name == entry->name && existing->language == language) {
      existing = std::move(entry);  // registering again replaces
      return;
    }
  }
  m.resources.push_back(std::move(entry));
}

void RegisterStringTable(HMODULE module, const StringTableEntry* entries, size_t count) {
  module = Normalize(module);
  ResourceRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  ModuleResources& m = FindOrAdd(r, module);
  for (size_t i = 0; i < count; ++i) {
    if (entries[i].text != nullptr) m.strings[entries[i].id] = entries[i].text;
  }
}

void UnregisterModuleResources(HMODULE module) {
  module = Normalize(module);
  ResourceRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (auto it = r.modules.begin(); it != r.modules.end(); ++it) {
    if (it->module == module) {
      r.modules.erase(it);
      return;
    }
  }
}

size_t EnumResourceModules(HMODULE* modules, size_t capacity) {
  ResourceRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (size_t i = 0; i < r.modules.size() && i < capacity; ++i) modules[i] = r.modules[i].module;
  return r.modules.size();
}

HRSRC FindResourceExA(HMODULE module, const char* type, const char* name, WORD language) {
  if (type == nullptr || name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  module = Normalize(module);
  const std::string typeKey = Key(type);
  const std::string nameKey = Key(name);
  ResourceRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  ModuleResources* m = Find(r, module);
  bool typeSeen = false;
  bool nameSeen = false;
  PrResource* neutral = nullptr;
  if (m != nullptr) {
    for (auto& res : m->resources) {
      if (res->type != typeKey) continue;
      typeSeen = true;
      if (res->name != nameKey) continue;
      nameSeen = true;
      if (res->language == language) return res.get();
      if (res->language == LANG_NEUTRAL_DEFAULT && neutral == nullptr) neutral = res.get();
    }
  }
  if (neutral != nullptr) return neutral;
  SetLastError(!typeSeen ? ERROR_RESOURCE_TYPE_NOT_FOUND
                         : !nameSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_LANG_NOT_FOUND);
  return nullptr;
}

HRSRC FindResourceA(HMODULE module, const char* name, const char* type) {
  if (HRSRC found = FindResourceExA(module, type, name, LANG_NEUTRAL_DEFAULT)) return found;
  if (GetLastError() != ERROR_RESOURCE_LANG_NOT_FOUND) return nullptr;
  // No neutral version: any language will do, the first registered first.
  module = Normalize(module);
  const std::string typeKey = Key(type);
  const std::string nameKey = Key(name);
  ResourceRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (ModuleResources* m = Find(r, module)) {
    for (auto& res : m->resources) {
      if (res->type == typeKey && res->name == nameKey) return res.get();
    }
  }
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return nullptr;
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
  (void)module;
  ResourceRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (resource == nullptr || !Known(r, resource)) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  // An empty resource still loads (to a non-null address).
  static const unsigned char kEmpty[1] = {0};
  return resource->bytes.empty() ? kEmpty : resource->bytes.data();
}

const void* LockResource(HGLOBAL resource) { return resource; }

DWORD SizeofResource(HMODULE module, HRSRC resource) {
  (void)module;
  ResourceRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (resource == nullptr || !Known(r, resource)) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
  }
  return static_cast<DWORD>(resource->bytes.size());
}

int LoadStringA(HMODULE module, UINT id, char* buffer, int bufferMax) {
  module = Normalize(module);
  ResourceRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  ModuleResources* m = Find(r, module);
  auto it = m != nullptr ? m->strings.find(id) : std::map<UINT, std::string>::iterator{};
  if (m == nullptr || it == m->strings.end()) {
    if (buffer != nullptr && bufferMax > 0) buffer[0] = '\0';
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  if (buffer == nullptr || bufferMax < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string& text = it->second;
  if (bufferMax == 0) {
    // As on Windows: the buffer receives the address of the text itself
    // (valid while the module stays registered), and the answer is its length.
    const char* address = text.c_str();
    std::memcpy(buffer, &address, sizeof address);
    return static_cast<int>(text.size());
  }
  size_t n = text.size() < static_cast<size_t>(bufferMax - 1) ? text.size() : static_cast<size_t>(bufferMax - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}
