#include "resources/window_resources.h"

#include "ui/resource_format.h"

namespace pr::ui {

void RegisterWindowResources(HMODULE module) {
  for (const CompiledWindowResource& r : CompiledWindowResources()) {
    // The registry keeps one entry per (module, type, name, language): skip
    // what is already there so a second call does not add duplicates.
    if (FindResourceExA(module, rsc::kResourceType, r.name, rsc::kResourceLanguage) != nullptr) continue;
    RegisterResource(module, rsc::kResourceType, r.name, rsc::kResourceLanguage, r.data,
                     static_cast<DWORD>(r.size));
  }
}

}  // namespace pr::ui
