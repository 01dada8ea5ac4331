// The module's string table: every numbered text the runtime shows (file
// error texts, operating-system error texts, runtime faults, the window
// engine's runtime errors and the other numbered messages), in Windows-1250.
// It lives with MessageText, its reader, so that every layer from the files
// up finds its texts; the module registers it with the platform when it
// loads (resources/module_resources.cpp).
#pragma once

#include <cstddef>

#include "platform/kernel.h"

namespace pr {

// The table, sorted by id, each id once.  The storage is static and lives for
// the whole run.
const StringTableEntry* ModuleStringTable(size_t* count);

// Registers the table under `module` (RegisterStringTable).
void RegisterModuleStrings(HMODULE module);

}  // namespace pr
