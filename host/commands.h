// prhost's commands.  Each takes the loaded module and the arguments after
// its name, prints to stdout (errors to stderr) and answers the exit code.
// To add a command, write its function and list it in kCommands (prhost.cpp).
#pragma once

#include "host/host_module.h"

namespace prhost {

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
