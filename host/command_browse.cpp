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

int RunBrowse(Module& module, int argc, char** /*argv*/) {
  if (argc != 0) {
    std::fprintf(stderr, "usage: prhost browse\n");
    return 2;
  }
  return RunBrowseWith(module, 0, false);
}

int RunSelect(Module& module, int argc, char** /*argv*/) {
  if (argc != 0) {
    std::fprintf(stderr, "usage: prhost select\n");
    return 2;
  }
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
