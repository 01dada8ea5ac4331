// The table names of a keyed file, for pickers.
//
// Thread safety: goes through the driver entry, so it runs under the
// driver's process-wide critical section like every other operation.
#pragma once

#include <string>
#include <vector>

namespace pr::store {

// The names of the tables of keyed file `fileName` in name order (the default
// table is "UNNAMED").  The file is opened read only, deny none, for the
// query and closed again.  Returns 0, 2 when the file does not exist, or 36
// when it holds no table (a file that is not a keyed file of this format
// holds none); *names is then empty.
int ListTableNames(const std::string& fileName, std::vector<std::string>* names);

}  // namespace pr::store
