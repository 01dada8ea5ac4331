// prhost: a host program for the module.  It loads PR_DLL with LoadLibraryA,
// resolves every export with GetProcAddress and runs one command.
//
//   prhost [--ui=headless|terminal] COMMAND [ARGUMENTS]
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/commands.h"
#include "platform/winuser.h"

namespace {
using prhost::Command;

constexpr Command kCommands[] = {
    {"exports", "", "list the exports with their addresses and this thread's request variables",
     prhost::RunExports, false},
    {"threads", "N", "N threads each set and read back their own request variables", prhost::RunThreads, false},
    {"add", "[--threads N] NAME...", "add partners through ADD_PARTNER and print their identifiers", prhost::RunAdd,
     true},
    {"browse", "[--filter EXPR] [--order EXPR]", "the partner browse over PARTNERI in the current folder",
     prhost::RunBrowse, true},
    {"select", "[--filter EXPR] [--order EXPR]",
     "the partner browse as a selector; prints the response and the selected partner", prhost::RunSelect, true},
    {"form", "insert|change ID|delete ID|view ID", "the partner update form for one request", prhost::RunForm,
     true},
};

void Usage(FILE* out) {
  std::fprintf(out, "usage: prhost [--ui=headless|terminal] COMMAND [ARGUMENTS]\n\ncommands:\n");
  for (const Command& c : kCommands) {
    std::string head = std::string(c.name) + (*c.arguments ? " " : "") + c.arguments;
    std::fprintf(out, "  %-12s %s\n", head.c_str(), c.summary);
  }
  std::fprintf(out,
               "\nThe module is PR_DLL.so beside prhost, or the file the PR_DLL environment variable names.\n"
               "--ui picks the window system's backend (as PR_UI does); by default the terminal when\n"
               "standard input and output are terminals, else headless.\n");
}

// The exit status when the module ends the program itself while a command
// runs: a halt after a warning, Abort in a stop box, the driver error box.
// The module asks for its own exit code (0 for the warnings' halts), which
// would read as success, or as a signal once cut to its last byte.
constexpr int kHaltStatus = 3;
std::atomic<bool> g_commandRunning{false};

void EndedByModule() {
  if (!g_commandRunning.load()) return;
  std::fflush(nullptr);
  _exit(kHaltStatus);
}

int RunCommand(const Command& c, int argc, char** argv) {
  prhost::Module module;
  std::string error;
  if (!prhost::LoadModule(&module, &error)) {
    std::fprintf(stderr, "prhost: %s\n", error.c_str());
    return 1;
  }
  if (c.needsWindows && !InitWindowSystem(DefaultWindowBackend(), nullptr)) {
    std::fprintf(stderr, "prhost: cannot start the window system (error %u)\n", GetLastError());
    return 1;
  }
  g_commandRunning = true;
  int code = c.run(module, argc, argv);
  g_commandRunning = false;
  if (c.needsWindows) ShutdownWindowSystem();
  std::fflush(stdout);
  return code;
}
}  // namespace

int main(int argc, char** argv) {
  std::atexit(EndedByModule);
  int first = 1;
  for (; first < argc && std::strncmp(argv[first], "--ui=", 5) == 0; ++first) {
    const char* backend = argv[first] + 5;
    if (std::strcmp(backend, "headless") != 0 && std::strcmp(backend, "terminal") != 0) {
      std::fprintf(stderr, "prhost: --ui takes headless or terminal, not '%s'\n", backend);
      return 2;
    }
    setenv("PR_UI", backend, 1);
  }
  if (first >= argc || std::strcmp(argv[first], "--help") == 0 || std::strcmp(argv[first], "help") == 0) {
    Usage(first >= argc ? stderr : stdout);
    return first >= argc ? 2 : 0;
  }
  for (const Command& c : kCommands) {
    if (std::strcmp(argv[first], c.name) == 0) return RunCommand(c, argc - first - 1, argv + first + 1);
  }
  std::fprintf(stderr, "prhost: unknown command '%s'\n\n", argv[first]);
  Usage(stderr);
  return 2;
}
