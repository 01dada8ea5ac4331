// prhost pick-table [FILE]: the keyed-file driver's table picker (the file
// dialog starts with FILE when given); prints the chosen table as a file
// name ("FILE" for the default table, "FILE\!TABLE" otherwise) with exit 0,
// nothing with exit 1 when cancelled.
#include <cstdio>
#include <string>

#include "host/commands.h"
#include "store/table_list.h"
#include "ui/driver_dialogs.h"

namespace prhost {

int RunPickTable(Module&, int argc, char** argv) {
  if (argc > 1) {
    std::fprintf(stderr, "usage: prhost pick-table [FILE]\n");
    return 2;
  }
  std::string file = argc == 1 ? argv[0] : "", table;
  if (pr::ui::PickTable(pr::store::ListTableNames, &file, &table) != 1) return 1;
  std::printf("%s%s%s\n", file.c_str(), table.empty() ? "" : "\\!", table.c_str());
  return 0;
}

}  // namespace prhost
