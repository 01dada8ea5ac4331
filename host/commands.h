// prhost's commands.  Each takes the loaded module and the arguments after
// its name, prints to stdout (errors to stderr) and answers the exit code.
// To add a command, write its function and list it in kCommands (prhost.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "host/host_module.h"

namespace prhost {

// A decimal number from the command line, strictly: an optional sign and
// digits only, nothing before or after, within [min, max].  False for
// anything else (an empty text, "12x", " 5", a value that does not fit).
bool ParseNumber(const char* text, int64_t min, int64_t max, int64_t* value);

// A name from the command line (UTF-8) as the module takes it (Windows-1250).
// False when the text is not valid UTF-8 or holds a character Windows-1250
// cannot hold; *bad then names the first such character (UTF-8).
bool NameToAnsi(const char* utf8, std::string* ansi, std::string* bad);

struct Command {
  const char* name;
  const char* arguments;  // for the usage text, "" when none
  const char* summary;
  int (*run)(Module& module, int argc, char** argv);
  // prhost starts the window system (terminal or headless, see --ui) before
  // the command and shuts it down after it.  The module shares it: the
  // platform is one library per process.
  bool needsWindows;
};

int RunExports(Module& module, int argc, char** argv);
int RunThreads(Module& module, int argc, char** argv);
int RunAdd(Module& module, int argc, char** argv);
int RunBrowse(Module& module, int argc, char** argv);
int RunSelect(Module& module, int argc, char** argv);
int RunForm(Module& module, int argc, char** argv);

}  // namespace prhost
