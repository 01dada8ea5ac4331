// prhost's view of the module: loaded with LoadLibraryA, every export resolved
// with GetProcAddress, nothing linked directly.
#pragma once

#include <cstdint>
#include <string>

#include "platform/kernel.h"

namespace prhost {

using AddPartnerProc = int32_t (*)(const char* name);
using VoidProc = void (*)();

// The names the module exports, in the order `prhost exports` lists them.
inline constexpr const char* kExportNames[] = {
    "ADD_PARTNER", "BROWSE", "F_BROWSE@F", "$GlobalRequest", "$GlobalResponse", "$VCRRequest", "$Lang_INI",
};

struct Module {
  HMODULE handle = nullptr;
  AddPartnerProc addPartner = nullptr;
  VoidProc browse = nullptr;
  VoidProc fBrowse = nullptr;
  const char* langIni = nullptr;  // 20 bytes, one per process
};

// The calling thread's request variables.  The addresses are looked up from
// the calling thread, so each thread gets its own (they are thread-local in
// the module); use them on that thread only.
struct RequestVariables {
  int32_t* globalRequest = nullptr;
  int32_t* globalResponse = nullptr;
  int32_t* vcrRequest = nullptr;
};

// Loads the module (the PR_DLL environment variable may name another file)
// and resolves the procedures and $Lang_INI.  On failure returns false and
// puts a message in *error.
bool LoadModule(Module* module, std::string* error);

// Resolves the request variables for the calling thread; false (with a
// message) when one is missing.
bool ThreadVariables(const Module& module, RequestVariables* variables, std::string* error);

}  // namespace prhost
