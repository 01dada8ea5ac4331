// prhost add NAME...: calls ADD_PARTNER for each name and prints the
// identifiers it answers; with --threads N the names are added from N threads
// at once (each thread takes every N-th name).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/commands.h"
#include "platform/kernel.h"

namespace prhost {

int RunAdd(Module& module, int argc, char** argv) {
  int threads = 0;
  int first = 0;
  if (argc >= 2 && std::strcmp(argv[0], "--threads") == 0) {
    threads = std::atoi(argv[1]);
    if (threads < 1 || threads > 64) {
      std::fprintf(stderr, "prhost add: --threads takes 1 to 64\n");
      return 2;
    }
    first = 2;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: prhost add [--threads N] NAME...\n");
    return 2;
  }
  // The command line is UTF-8; the module takes Windows-1250 text.
  std::vector<std::string> names;
  for (int i = first; i < argc; ++i) {
    std::string ansi(std::strlen(argv[i]) + 1, '\0');
    size_t length = Utf8ToAnsi(argv[i], std::strlen(argv[i]), ansi.data(), ansi.size());
    ansi.resize(length);
    names.push_back(ansi);
  }
  std::vector<int32_t> results(names.size(), 0);
  if (threads == 0) {
    for (size_t i = 0; i < names.size(); ++i) results[i] = module.addPartner(names[i].c_str());
  } else {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
      workers.emplace_back([&, t] {
        for (size_t i = static_cast<size_t>(t); i < names.size(); i += static_cast<size_t>(threads))
          results[i] = module.addPartner(names[i].c_str());
      });
    for (std::thread& worker : workers) worker.join();
  }
  int failures = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    std::printf("%d\t%s\n", results[i], argv[first + static_cast<int>(i)]);
    if (results[i] < 0) ++failures;
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace prhost
