// prhost driver-string [STRING]: the keyed-file driver's string builder
// window over STRING (empty when not given); prints the rebuilt string after
// OK (exit 0), nothing after Cancel (exit 1).
#include <cstdio>
#include <string>

#include "host/commands.h"
#include "ui/driver_dialogs.h"

namespace prhost {

int RunDriverString(Module&, int argc, char** argv) {
  if (argc > 1) {
    std::fprintf(stderr, "usage: prhost driver-string [STRING]\n");
    return 2;
  }
  std::string driver = argc == 1 ? argv[0] : "";
  if (pr::ui::DriverStringBuilder(&driver) != 1) return 1;
  std::printf("%s\n", driver.c_str());
  return 0;
}

}  // namespace prhost
