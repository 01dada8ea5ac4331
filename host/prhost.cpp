// prhost: a host program for the module.  It loads PR_DLL with LoadLibraryA,
// resolves every export with GetProcAddress and runs one command.
#include <cstdio>
#include <cstring>
#include <string>

#include "host/commands.h"

namespace {
using prhost::Command;

constexpr Command kCommands[] = {
    {"exports", "", "list the exports with their addresses and this thread's request variables",
     prhost::RunExports},
    {"threads", "N", "N threads each set and read back their own request variables", prhost::RunThreads},
};

void Usage(FILE* out) {
  std::fprintf(out, "usage: prhost COMMAND [ARGUMENTS]\n\ncommands:\n");
  for (const Command& c : kCommands) {
    std::string head = std::string(c.name) + (*c.arguments ? " " : "") + c.arguments;
    std::fprintf(out, "  %-12s %s\n", head.c_str(), c.summary);
  }
  std::fprintf(out, "\nThe module is PR_DLL.so beside prhost, or the file the PR_DLL environment variable names.\n");
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
    Usage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const Command& c : kCommands) {
    if (std::strcmp(argv[1], c.name) != 0) continue;
    prhost::Module module;
    std::string error;
    if (!prhost::LoadModule(&module, &error)) {
      std::fprintf(stderr, "prhost: %s\n", error.c_str());
      return 1;
    }
    int code = c.run(module, argc - 2, argv + 2);
    std::fflush(stdout);
    return code;
  }
  std::fprintf(stderr, "prhost: unknown command '%s'\n\n", argv[1]);
  Usage(stderr);
  return 2;
}
