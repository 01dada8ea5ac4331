#include "host/host_module.h"

#include <cstdlib>

namespace prhost {

bool LoadModule(Module* module, std::string* error) {
  const char* name = std::getenv("PR_DLL");
  if (name == nullptr || *name == '\0') name = "PR_DLL";
  module->handle = LoadLibraryA(name);
  if (module->handle == nullptr) {
    *error = std::string("cannot load the module ") + name + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  module->addPartner = reinterpret_cast<AddPartnerProc>(GetProcAddress(module->handle, "ADD_PARTNER"));
  module->browse = reinterpret_cast<VoidProc>(GetProcAddress(module->handle, "BROWSE"));
  module->fBrowse = reinterpret_cast<VoidProc>(GetProcAddress(module->handle, "F_BROWSE@F"));
  module->langIni = static_cast<const char*>(GetProcAddressData(module->handle, "$Lang_INI"));
  const char* missing = module->addPartner == nullptr ? "ADD_PARTNER"
                        : module->browse == nullptr   ? "BROWSE"
                        : module->fBrowse == nullptr  ? "F_BROWSE@F"
                        : module->langIni == nullptr  ? "$Lang_INI"
                                                      : nullptr;
  if (missing != nullptr) {
    *error = std::string("the module does not export ") + missing;
    return false;
  }
  return true;
}

bool ThreadVariables(const Module& module, RequestVariables* variables, std::string* error) {
  variables->globalRequest = static_cast<int32_t*>(GetProcAddressData(module.handle, "$GlobalRequest"));
  variables->globalResponse = static_cast<int32_t*>(GetProcAddressData(module.handle, "$GlobalResponse"));
  variables->vcrRequest = static_cast<int32_t*>(GetProcAddressData(module.handle, "$VCRRequest"));
  const char* missing = variables->globalRequest == nullptr    ? "$GlobalRequest"
                        : variables->globalResponse == nullptr ? "$GlobalResponse"
                        : variables->vcrRequest == nullptr     ? "$VCRRequest"
                                                               : nullptr;
  if (missing != nullptr) {
    *error = std::string("the module does not export ") + missing;
    return false;
  }
  return true;
}

}  // namespace prhost
