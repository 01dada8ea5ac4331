#include "resources/module_resources.h"

#include "resources/strings.h"

namespace pr {

void RegisterModuleResources(HMODULE module) {
  RegisterModuleStrings(module);
}

}  // namespace pr
