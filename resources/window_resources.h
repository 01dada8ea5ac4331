// The module's compiled window resources ("PR_DL001_RSC", "PR_DL004_RSC",
// "PR_DL005_RSC", "PR_DL_SF_RSC"), generated at build time by prrc from the
// declarations resources/*.wnd and embedded in the module.
#pragma once

#include <cstddef>
#include <span>

#include "platform/kernel.h"

namespace pr::ui {

struct CompiledWindowResource {
  const char* name;           // resource name, e.g. "PR_DL004_RSC"
  const unsigned char* data;  // the resource bytes, starting with the module-qualified name
  size_t size;
};

// Defined by the generated source.
extern const CompiledWindowResource kCompiledWindowResources[];
extern const size_t kCompiledWindowResourceCount;

inline std::span<const CompiledWindowResource> CompiledWindowResources() {
  return {kCompiledWindowResources, kCompiledWindowResourceCount};
}

// Registers every compiled window resource of the module with the platform's
// resource registry as type "VODEDAV", language 1033, under `module`.  Called
// once when the module loads; calling it again registers nothing new.  The
// data is static and is never copied.
void RegisterWindowResources(HMODULE module);

}  // namespace pr::ui
