// twl: the command-line tool for keyed files.  See docs/TWL.md.
#include <cstdio>
#include <cstring>
#include <string>

#include "store/driver.h"
#include "store/fatal_error.h"
#include "tools/twl/twl.h"

namespace {

const char kUsage[] =
    "usage: twl COMMAND FILE [options]\n"
    "\n"
    "commands:\n"
    "  info     header, regions, tables, keys and definitions\n"
    "  verify   full integrity check (read only; exit 1 when faults are found)\n"
    "  dump     records as CSV or JSON\n"
    "  import   add CSV rows to a table in one update\n"
    "  build    rebuild keys\n"
    "  recover  finish or discard a pending-update area\n"
    "  driver-string [STRING]  the driver string builder window\n"
    "  pick-table [FILE]       the table picker windows\n"
    "\n"
    "twl COMMAND --help tells more.  Exit codes: 0 sound, 1 faults found or\n"
    "command refused (file unchanged) or dialog cancelled, 2 usage or open error.\n"
    "--progress shows progress on standard error even when it is not a terminal.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace pr;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? twl::kExitUsage : twl::kExitSound;
  }
  // Damage met while reading becomes a DriverError the commands report,
  // instead of the box that ends the process.
  store::SetFatalHandler(&store::ThrowingFatalHandler);
  store::RegisterTarnwellDriver();

  const std::string command = argv[1];
  twl::Arguments args;
  std::vector<std::string> valued, flags;
  int (*run)(const twl::Arguments&) = nullptr;
  if (command == "info") {
    run = &twl::CommandInfo;
  } else if (command == "verify") {
    flags = {"strict"};
    run = &twl::CommandVerify;
  } else if (command == "dump") {
    valued = {"table", "key", "format"};
    run = &twl::CommandDump;
  } else if (command == "import") {
    valued = {"table", "like"};
    run = &twl::CommandImport;
  } else if (command == "build") {
    valued = {"table", "key"};
    run = &twl::CommandBuild;
  } else if (command == "recover") {
    run = &twl::CommandRecover;
  } else if (command == "driver-string") {
    valued = {"ui"};
    run = &twl::CommandDriverString;
  } else if (command == "pick-table") {
    valued = {"ui"};
    run = &twl::CommandPickTable;
  } else {
    return twl::UsageError("unknown command " + command);
  }
  if (!twl::ParseArguments(argc - 2, argv + 2, valued, flags, &args)) return twl::kExitUsage;
  try {
    return run(args);
  } catch (const store::DriverError& error) {
    std::fprintf(stderr, "twl: %s: %s\n", error.fileName().c_str(), store::DriverErrorText(error.number()).c_str());
    return twl::kExitFaults;
  }
}
