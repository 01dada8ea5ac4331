#include "resources/module_resources.h"

#include "resources/strings.h"
#include "resources/window_resources.h"

namespace pr {

void RegisterModuleResources(HMODULE module) {
  RegisterModuleStrings(module);
  pr::ui::RegisterWindowResources(module);
}

}  // namespace pr
