// prhost add NAME...: calls ADD_PARTNER for each name and prints the
// identifier it answers as soon as it answers, so a run that is cut short
// still shows what was added; with --threads N the names are added from N
// threads at once (each thread takes every N-th name) and the lines come in
// the order the adds end.
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
  if (argc >= 1 && std::strcmp(argv[0], "--threads") == 0) {
    int64_t n = 0;
    if (argc < 2 || !ParseNumber(argv[1], 1, 64, &n)) {
      std::fprintf(stderr, "prhost add: --threads takes a number from 1 to 64\n");
      return 2;
    }
    threads = static_cast<int>(n);
    first = 2;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: prhost add [--threads N] NAME...\n");
    return 2;
  }
  // The command line is UTF-8; the module takes Windows-1250 text.  A name
  // it cannot hold is refused before anything is added: stored, it would be
  // another name.
  std::vector<std::string> names;
  bool refused = false;
  for (int i = first; i < argc; ++i) {
    std::string ansi, bad;
    if (!NameToAnsi(argv[i], &ansi, &bad)) {
      std::fprintf(stderr, "prhost add: \"%s\" cannot be stored: the partner file holds Windows-1250 text, "
                   "which has no \"%s\"\n", argv[i], bad.c_str());
      refused = true;
    }
    names.push_back(ansi);
  }
  if (refused) return 2;
  std::mutex printing;
  int failures = 0;
  auto add = [&](size_t i) {
    const int32_t id = module.addPartner(names[i].c_str());
    std::lock_guard<std::mutex> lock(printing);
    std::printf("%d\t%s\n", id, argv[first + static_cast<int>(i)]);
    std::fflush(stdout);
    if (id < 0) ++failures;
  };
  if (threads == 0) {
    for (size_t i = 0; i < names.size(); ++i) add(i);
  } else {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
      workers.emplace_back([&, t] {
        for (size_t i = static_cast<size_t>(t); i < names.size(); i += static_cast<size_t>(threads)) add(i);
      });
    for (std::thread& worker : workers) worker.join();
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace prhost
