// prhost exports: each export with its address; the request variables with
// the calling thread's values.
#include <cstdio>
#include <cstring>

#include "host/commands.h"

namespace prhost {

int RunExports(Module& module, int argc, char** argv) {
  (void)argv;
  if (argc != 0) {
    std::fprintf(stderr, "prhost exports: takes no arguments\n");
    return 2;
  }
  RequestVariables vars;
  std::string error;
  if (!ThreadVariables(module, &vars, &error)) {
    std::fprintf(stderr, "prhost: %s\n", error.c_str());
    return 1;
  }
  auto procedure = [](const char* name, const void* address) {
    std::printf("%-16s %18p  procedure\n", name, address);
  };
  auto variable = [](const char* name, const int32_t* address) {
    std::printf("%-16s %18p  thread %u: %d\n", name, static_cast<const void*>(address), GetCurrentThreadId(),
                *address);
  };
  procedure("ADD_PARTNER", reinterpret_cast<const void*>(module.addPartner));
  procedure("BROWSE", reinterpret_cast<const void*>(module.browse));
  procedure("F_BROWSE@F", reinterpret_cast<const void*>(module.fBrowse));
  variable("$GlobalRequest", vars.globalRequest);
  variable("$GlobalResponse", vars.globalResponse);
  variable("$VCRRequest", vars.vcrRequest);
  // 20 bytes: print up to the NUL, never past the end.
  std::printf("%-16s %18p  \"%.*s\"\n", "$Lang_INI", static_cast<const void*>(module.langIni),
              static_cast<int>(strnlen(module.langIni, 20)), module.langIni);
  return 0;
}

}  // namespace prhost
