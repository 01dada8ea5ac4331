// prhost threads N: N threads each set their own request variables and read
// them back, which shows that every thread has its own copies.
#include <barrier>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/commands.h"

namespace prhost {
namespace {
constexpr long kMaxThreads = 256;

struct Outcome {
  bool ok = false;
  std::string line;
};
}  // namespace

int RunThreads(Module& module, int argc, char** argv) {
  int64_t number = 0;
  if (argc != 1 || !ParseNumber(argv[0], 1, kMaxThreads, &number)) {
    std::fprintf(stderr, "prhost threads: give a number of threads from 1 to %ld\n", kMaxThreads);
    return 2;
  }
  const long n = static_cast<long>(number);
  std::vector<Outcome> outcomes(static_cast<size_t>(n));
  // Every thread writes before any reads back, so a shared copy would show.
  std::barrier written(static_cast<std::ptrdiff_t>(n));
  std::vector<std::thread> threads;
  for (long i = 0; i < n; ++i) {
    threads.emplace_back([&, i] {
      Outcome& out = outcomes[static_cast<size_t>(i)];
      RequestVariables vars;
      std::string error;
      bool found = ThreadVariables(module, &vars, &error);
      int32_t initial[3] = {-1, -1, -1};
      const int32_t mine[3] = {static_cast<int32_t>(1 + i), static_cast<int32_t>(1000 + i),
                               static_cast<int32_t>(2000 + i)};
      if (found) {
        initial[0] = *vars.globalRequest;
        initial[1] = *vars.globalResponse;
        initial[2] = *vars.vcrRequest;
        *vars.globalRequest = mine[0];
        *vars.globalResponse = mine[1];
        *vars.vcrRequest = mine[2];
      }
      written.arrive_and_wait();
      if (!found) {
        out.line = error;
        return;
      }
      const int32_t back[3] = {*vars.globalRequest, *vars.globalResponse, *vars.vcrRequest};
      out.ok = initial[0] == 0 && initial[1] == 0 && initial[2] == 0 && back[0] == mine[0] &&
               back[1] == mine[1] && back[2] == mine[2];
      char line[200];
      std::snprintf(line, sizeof line, "thread %ld: started %d %d %d, set %d %d %d, read back %d %d %d at %p", i,
                    initial[0], initial[1], initial[2], mine[0], mine[1], mine[2], back[0], back[1], back[2],
                    static_cast<void*>(vars.globalRequest));
      out.line = line;
    });
  }
  for (std::thread& t : threads) t.join();
  long good = 0;
  for (const Outcome& o : outcomes) {
    std::printf("%s%s\n", o.line.c_str(), o.ok ? "" : "  <- WRONG");
    good += o.ok ? 1 : 0;
  }
  std::printf("%ld of %ld threads had their own request variables\n", good, n);
  return good == n ? 0 : 1;
}

}  // namespace prhost
