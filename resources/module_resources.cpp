#include "resources/module_resources.h"

#include "files/message_table.h"
#include "resources/window_resources.h"

namespace pr {

void RegisterModuleResources(HMODULE module) {
  RegisterModuleStrings(module);
  pr::ui::RegisterWindowResources(module);
}

}  // namespace pr
