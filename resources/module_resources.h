// The module's own resources: its string table (error texts and the other
// numbered texts of the runtime) and, beside it, its compiled window
// resources.
#pragma once

#include "platform/kernel.h"

namespace pr {

// Registers every resource of the module under `module` with the platform's
// resource registry: the string table (read back with LoadStringA) and the
// window resources.  Called once when the module is loaded; calling it again
// for the same module registers the same entries again, which the registry
// treats as a replacement.  Not thread safe against a concurrent unload.
void RegisterModuleResources(HMODULE module);

}  // namespace pr
