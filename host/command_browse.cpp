// prhost browse, select and form: the module's windows over the host frame.
//
//   prhost browse                      BROWSE as a maintenance window
//   prhost select                      BROWSE as a selector; prints the outcome
//   prhost form insert|change ID|delete ID|view ID
//                                      F_BROWSE@F called directly
//
// The module shows the host frame with its toolbar while its windows run:
// the toolbar state lives in the module's own window engine.
//
// The record buffer of the calling thread is reached through the module's
// per-thread block: the exported $GlobalRequest is its member at offset 16,
// and the block's record pointer stands at offset 32 (app/module.h keeps
// that layout fixed).  The pointer is set once the module has started the
// block in this thread, which any procedure call does.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/commands.h"
#include "platform/winuser.h"
#include "platform/kernel.h"

namespace prhost {
namespace {

constexpr ptrdiff_t kRequestOffset = 16;
constexpr ptrdiff_t kRecordPointerOffset = 32;

struct PartnerRecord {
  int32_t id;
  char naziv[20];
};

PartnerRecord* ThreadRecord(const RequestVariables& variables) {
  char* block = reinterpret_cast<char*>(variables.globalRequest) - kRequestOffset;
  PartnerRecord* record = nullptr;
  std::memcpy(&record, block + kRecordPointerOffset, sizeof record);
  return record;
}

std::string NameText(const PartnerRecord& record) {
  std::string name(record.naziv, sizeof record.naziv);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
  char utf8[128];
  size_t length = AnsiToUtf8(name.data(), name.size(), utf8, sizeof utf8);
  return std::string(utf8, length);
}

// The outcome goes to the shell's screen, not to the window system's
// alternate screen that disappears when the terminal is given back.
void GiveTerminalBack() {
  if (IsWindowSystemStarted() && CurrentWindowBackend() == WindowBackend::Terminal) ShutdownWindowSystem();
}

bool Variables(const Module& module, RequestVariables* variables) {
  std::string error;
  if (!ThreadVariables(module, variables, &error)) {
    std::fprintf(stderr, "prhost: %s\n", error.c_str());
    return false;
  }
  return true;
}

int RunBrowseWith(Module& module, int32_t request, bool printOutcome) {
  RequestVariables variables;
  if (!Variables(module, &variables)) return 1;
  *variables.globalRequest = request;
  module.browse();
  GiveTerminalBack();
  std::printf("response %d\n", *variables.globalResponse);
  if (printOutcome) {
    const PartnerRecord* record = ThreadRecord(variables);
    if (*variables.globalResponse == 1 && record != nullptr)
      std::printf("partner %d\t%s\n", record->id, NameText(*record).c_str());
  }
  return 0;
}

}  // namespace

// --filter EXPR and --order EXPR, each at most once: the browse's view gets
// them as its filter and order properties.  The module reads them from
// PR_BROWSE_FILTER and PR_BROWSE_ORDER (Windows-1250) when BROWSE starts.
bool ViewOptions(const char* command, int argc, char** argv) {
  bool seen[2] = {false, false};
  static const char* const kNames[] = {"--filter", "--order"};
  static const char* const kVariables[] = {"PR_BROWSE_FILTER", "PR_BROWSE_ORDER"};
  unsetenv(kVariables[0]);
  unsetenv(kVariables[1]);
  for (int i = 0; i < argc; i += 2) {
    int which = -1;
    for (int k = 0; k < 2; ++k)
      if (std::strcmp(argv[i], kNames[k]) == 0) which = k;
    std::string ansi, bad;
    if (which < 0 || seen[which] || i + 1 >= argc || argv[i + 1][0] == '\0') {
      std::fprintf(stderr, "usage: prhost %s [--filter EXPR] [--order EXPR]\n", command);
      return false;
    }
    if (!NameToAnsi(argv[i + 1], &ansi, &bad)) {
      std::fprintf(stderr, "prhost %s: %s \"%s\" holds \"%s\", which Windows-1250 cannot hold\n", command,
                   kNames[which], argv[i + 1], bad.c_str());
      return false;
    }
    seen[which] = true;
    setenv(kVariables[which], ansi.c_str(), 1);
  }
  return true;
}

int RunBrowse(Module& module, int argc, char** argv) {
  if (!ViewOptions("browse", argc, argv)) return 2;
  return RunBrowseWith(module, 0, false);
}

int RunSelect(Module& module, int argc, char** argv) {
  if (!ViewOptions("select", argc, argv)) return 2;
  return RunBrowseWith(module, 4, true);
}

int RunForm(Module& module, int argc, char** argv) {
  static constexpr struct {
    const char* name;
    int32_t request;
  } kRequests[] = {{"insert", 1}, {"change", 2}, {"delete", 3}, {"view", 6}};
  int32_t request = 0;
  for (const auto& r : kRequests)
    if (argc >= 1 && std::strcmp(argv[0], r.name) == 0) request = r.request;
  const bool needsId = request != 1;
  // PAR:ID is a LONG: an identifier it cannot hold is refused, never cut to
  // another partner's.
  int64_t id = 0;
  if (request == 0 || argc != (needsId ? 2 : 1) ||
      (needsId && !ParseNumber(argv[1], INT32_MIN, INT32_MAX, &id))) {
    std::fprintf(stderr, "usage: prhost form insert|change ID|delete ID|view ID\n");
    return 2;
  }
  RequestVariables variables;
  if (!Variables(module, &variables)) return 1;
  // A call with no request starts the module's block and answers at once.
  *variables.globalRequest = 0;
  module.fBrowse();
  PartnerRecord* record = ThreadRecord(variables);
  if (record == nullptr) {
    std::fprintf(stderr, "prhost: the module has no record buffer for this thread\n");
    return 1;
  }
  std::memset(record, 0, sizeof *record);
  std::memset(record->naziv, ' ', sizeof record->naziv);
  record->id = static_cast<int32_t>(id);
  *variables.globalRequest = request;
  module.fBrowse();
  GiveTerminalBack();
  std::printf("response %d\n", *variables.globalResponse);
  std::printf("vcr %d\n", *variables.vcrRequest);
  std::printf("partner %d\t%s\n", record->id, NameText(*record).c_str());
  return 0;
}

}  // namespace prhost
