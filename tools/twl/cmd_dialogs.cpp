// The keyed-file driver's two dialogs, shown by the tool that already holds
// the store: `twl driver-string [STRING]` and `twl pick-table [FILE]`.  The
// host program knows the module only through LoadLibraryA and has no driver
// of its own to list a file's tables with.
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "platform/winuser.h"
#include "store/table_list.h"
#include "tools/twl/twl.h"
#include "ui/driver_dialogs.h"

namespace pr::twl {
namespace {

const char kDriverStringHelp[] =
    "usage: twl driver-string [STRING] [--ui=headless|terminal]\n"
    "\n"
    "The keyed-file driver's string builder window over STRING (empty when not\n"
    "given).  Prints the rebuilt string after OK.\n"
    "\n"
    "Exit: 0 OK, 1 cancelled, 2 usage error or no window system.\n";

const char kPickTableHelp[] =
    "usage: twl pick-table [FILE] [--ui=headless|terminal]\n"
    "\n"
    "The keyed-file driver's table picker; the file dialog starts with FILE\n"
    "when given.  Prints the chosen table as a file name: \"FILE\" for the\n"
    "default table, \"FILE\\!TABLE\" otherwise.\n"
    "\n"
    "Exit: 0 chosen, 1 cancelled, 2 usage error or no window system.\n";

// Runs `show` with the window system started (the backend --ui names, as
// PR_UI does; by default the terminal when standard input and output are
// terminals, else headless).
template <typename Show>
int WithWindows(const Arguments& args, Show show) {
  if (const std::string* ui = args.Option("ui")) {
    if (*ui != "headless" && *ui != "terminal") return UsageError("--ui takes headless or terminal, not '" + *ui + "'");
    setenv("PR_UI", ui->c_str(), 1);
  }
  if (!InitWindowSystem(DefaultWindowBackend(), nullptr)) {
    std::fprintf(stderr, "twl: cannot start the window system (error %u)\n", GetLastError());
    return kExitUsage;
  }
  int code = show();
  ShutdownWindowSystem();
  std::fflush(stdout);
  return code;
}

}  // namespace

int CommandDriverString(const Arguments& args) {
  if (args.help) {
    std::fputs(kDriverStringHelp, stdout);
    return kExitSound;
  }
  if (args.positional.size() > 1) return UsageError("driver-string takes at most one STRING");
  return WithWindows(args, [&] {
    std::string driver = args.positional.empty() ? "" : args.positional[0];
    if (ui::DriverStringBuilder(&driver) != 1) return kExitFaults;
    std::printf("%s\n", driver.c_str());
    return kExitSound;
  });
}

int CommandPickTable(const Arguments& args) {
  if (args.help) {
    std::fputs(kPickTableHelp, stdout);
    return kExitSound;
  }
  if (args.positional.size() > 1) return UsageError("pick-table takes at most one FILE");
  return WithWindows(args, [&] {
    std::string file = args.positional.empty() ? "" : args.positional[0], table;
    if (ui::PickTable(store::ListTableNames, &file, &table) != 1) return kExitFaults;
    std::printf("%s%s%s\n", file.c_str(), table.empty() ? "" : "\\!", table.c_str());
    return kExitSound;
  });
}

}  // namespace pr::twl
