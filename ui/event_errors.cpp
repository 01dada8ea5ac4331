#include "ui/event_errors.h"

#include <atomic>

#include "files/errors.h"
#include "platform/winuser.h"

namespace pr::ui {
namespace {

void DefaultReporter(int code, const std::string& text) {
  char utf8[1024];
  size_t n = AnsiToUtf8(text.data(), text.size(), utf8, sizeof utf8 - 1);
  HeadlessRecord("runtime error " + std::to_string(code) + ": " + std::string(utf8, n));
}

std::atomic<RuntimeErrorReporter> g_reporter{&DefaultReporter};
thread_local int t_lastError = 0;

}  // namespace

void RaiseRuntimeError(int code) {
  t_lastError = code;
  pr::files::SetErrorCode(code);
  g_reporter.load()(code, pr::files::Error());
}

void SetRuntimeErrorReporter(RuntimeErrorReporter reporter) {
  g_reporter.store(reporter != nullptr ? reporter : &DefaultReporter);
}

int LastRuntimeError() { return t_lastError; }
void ClearLastRuntimeError() { t_lastError = 0; }

}  // namespace pr::ui
