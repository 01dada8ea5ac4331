// Modules: the main program and the shared objects, found through the dynamic
// loader.  A module handle is a PrModule that lives until the process ends
// (a handle kept after FreeLibrary stays harmless: it only finds nothing).
#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel.h"

struct PrModule {
  const void* base = nullptr;  // the object's lowest mapped address
  std::string path;            // its file
  bool mainProgram = false;
  void* loaderHandle = nullptr;  // from our own dlopen, if any
  int loadCount = 0;             // LoadLibraryA calls not yet matched by FreeLibrary
};

namespace {
struct ModuleTable {
  std::mutex mutex;
  std::vector<std::unique_ptr<PrModule>> modules;  // guarded by mutex; never shrinks
};

ModuleTable& Modules() {
  static ModuleTable* table = new ModuleTable;  // lives to the very end
  return *table;
}

std::string ExecutablePath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

const void* MainProgramBase() {
  Dl_info info{};
  const void* phdr = reinterpret_cast<const void*>(getauxval(AT_PHDR));
  if (phdr != nullptr && dladdr(phdr, &info) != 0) return info.dli_fbase;
  return nullptr;
}

// The entry for the object at `base`, made on first sight.  REQUIRES: mutex.
PrModule* EntryFor(ModuleTable& table, const void* base, const char* fileName) {
  for (auto& m : table.modules) {
    if (m->base == base) return m.get();
  }
  auto module = std::make_unique<PrModule>();
  module->base = base;
  module->mainProgram = base == MainProgramBase();
  module->path = module->mainProgram || fileName == nullptr || *fileName == '\0' ? ExecutablePath() : fileName;
  table.modules.push_back(std::move(module));
  return table.modules.back().get();
}

// "dir/PR_DLL.so" -> "PR_DLL"; ".dll" is taken off the same way.
std::string StemOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  for (const char* ext : {".so", ".dll", ".exe"}) {
    size_t n = std::strlen(ext);
    if (leaf.size() > n && strcasecmp(leaf.c_str() + leaf.size() - n, ext) == 0) {
      leaf.resize(leaf.size() - n);
      break;
    }
  }
  return leaf;
}

std::string ToSlashes(const char* name) {
  std::string s(name);
  for (char& c : s) {
    if (c == '\\') c = '/';
  }
  return s;
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

struct SearchState {
  std::string stem;
  std::string found;
};

int FindLoadedByStem(struct dl_phdr_info* info, size_t, void* data) {
  auto* state = static_cast<SearchState*>(data);
  if (info->dlpi_name == nullptr || *info->dlpi_name == '\0') return 0;
  if (strcasecmp(StemOf(info->dlpi_name).c_str(), state->stem.c_str()) == 0) {
    state->found = info->dlpi_name;
    return 1;
  }
  return 0;
}

// A loader handle for looking up symbols of `module` (the caller closes it).
void* LookupHandleFor(PrModule* module) {
  if (module->mainProgram) return dlopen(nullptr, RTLD_NOW);
  return dlopen(module->path.c_str(), RTLD_NOW | RTLD_NOLOAD);
}

PrModule* Validate(HMODULE module) {
  if (module == nullptr) return GetModuleHandleA(nullptr);
  ModuleTable& table = Modules();
  std::lock_guard<std::mutex> lock(table.mutex);
  for (auto& m : table.modules) {
    if (m.get() == module) return module;
  }
  return nullptr;
}

void* Resolve(HMODULE module, const char* procName) {
  PrModule* m = Validate(module);
  if (m == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (procName == nullptr || reinterpret_cast<uintptr_t>(procName) < 0x10000) {
    // No export ordinals: shared objects have none.
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* handle = LookupHandleFor(m);
  if (handle == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  void* symbol = nullptr;
  const char* at = std::strchr(procName, '@');
  if (at != nullptr && at != procName && at[1] != '\0') {
    std::string name(procName, static_cast<size_t>(at - procName));
    symbol = dlvsym(handle, name.c_str(), at + 1);
  } else {
    symbol = dlsym(handle, procName);
  }
  dlclose(handle);
  if (symbol == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
  return symbol;
}
}  // namespace

HMODULE GetModuleHandleA(const char* moduleName) {
  ModuleTable& table = Modules();
  if (moduleName == nullptr) {
    const void* base = MainProgramBase();
    std::lock_guard<std::mutex> lock(table.mutex);
    return EntryFor(table, base, nullptr);
  }
  std::string stem = StemOf(ToSlashes(moduleName));
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    for (auto& m : table.modules) {
      if (strcasecmp(StemOf(m->path).c_str(), stem.c_str()) == 0) return m.get();
    }
  }
  // Loaded but not seen yet: ask the loader for its list.
  SearchState state{stem, {}};
  dl_iterate_phdr(FindLoadedByStem, &state);
  if (!state.found.empty()) {
    void* handle = dlopen(state.found.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) {
      struct link_map* map = nullptr;
      Dl_info info{};
      const void* base = nullptr;
      if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_ld != nullptr &&
          dladdr(map->l_ld, &info) != 0) {
        base = info.dli_fbase;
      }
      dlclose(handle);
      if (base != nullptr) {
        std::lock_guard<std::mutex> lock(table.mutex);
        return EntryFor(table, base, state.found.c_str());
      }
    }
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

HMODULE ModuleFromAddress(const void* address) {
  Dl_info info{};
  if (address == nullptr || dladdr(address, &info) == 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ModuleTable& table = Modules();
  std::lock_guard<std::mutex> lock(table.mutex);
  return EntryFor(table, info.dli_fbase, info.dli_fname);
}

DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size) {
  PrModule* m = Validate(module);
  if (m == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (fileName == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // As on Windows: a path that does not fit is cut, NUL-terminated, and the
  // answer is the size with ERROR_INSUFFICIENT_BUFFER.
  // The file system's UTF-8 name, told in Windows-1250.
  std::string path(Utf8ToAnsi(m->path.data(), m->path.size(), nullptr, 0) + 1, '\0');
  path.resize(Utf8ToAnsi(m->path.data(), m->path.size(), path.data(), path.size()));
  if (path.size() >= size) {
    std::memcpy(fileName, path.data(), size - 1);
    fileName[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(fileName, path.c_str(), path.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

HMODULE LoadLibraryA(const char* fileName) {
  if (fileName == nullptr || *fileName == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string name = ToSlashes(fileName);
  // A Windows name "X.dll" is the shared object "X.so".
  std::string stem = StemOf(name);
  std::string folder;
  if (size_t slash = name.find_last_of('/'); slash != std::string::npos) folder = name.substr(0, slash + 1);
  std::vector<std::string> candidates;
  const std::string soName = folder + stem + ".so";
  if (!folder.empty()) {
    candidates = {name, soName};
  } else {
    std::string exe = ExecutablePath();
    std::string exeFolder = exe.substr(0, exe.find_last_of('/') + 1);
    candidates = {exeFolder + name, exeFolder + soName, "./" + name, "./" + soName};
  }
  void* handle = nullptr;
  for (const std::string& candidate : candidates) {
    if (IsFile(candidate) && (handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) != nullptr) break;
  }
  if (handle == nullptr && folder.empty()) {
    handle = dlopen(soName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (handle == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  struct link_map* map = nullptr;
  Dl_info info{};
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_ld == nullptr ||
      dladdr(map->l_ld, &info) == 0) {
    dlclose(handle);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ModuleTable& table = Modules();
  std::lock_guard<std::mutex> lock(table.mutex);
  PrModule* module = EntryFor(table, info.dli_fbase, map->l_name);
  // Each LoadLibraryA holds one loader reference, which its FreeLibrary drops.
  module->loaderHandle = handle;
  ++module->loadCount;
  return module;
}

BOOL FreeLibrary(HMODULE module) {
  PrModule* m = Validate(module);
  if (m == nullptr || module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  void* handle = nullptr;
  {
    ModuleTable& table = Modules();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (m->loadCount > 0) {
      handle = m->loaderHandle;
      if (--m->loadCount == 0) m->loaderHandle = nullptr;
    }
  }
  if (handle != nullptr) dlclose(handle);
  return TRUE;
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  return reinterpret_cast<FARPROC>(Resolve(module, procName));
}

void* GetProcAddressData(HMODULE module, const char* symbolName) { return Resolve(module, symbolName); }
