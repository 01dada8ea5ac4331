#include "ui/event_errors.h"

#include "files/errors.h"
#include "platform/winuser.h"

namespace pr::ui {
namespace {

void Report(int code, const std::string& text) {
  char utf8[1024];
  size_t n = AnsiToUtf8(text.data(), text.size(), utf8, sizeof utf8 - 1);
  HeadlessRecord("runtime error " + std::to_string(code) + ": " + std::string(utf8, n));
}

thread_local int t_lastError = 0;

}  // namespace

void RaiseRuntimeError(int code) {
  t_lastError = code;
  pr::files::SetErrorCode(code);
  Report(code, pr::files::Error());
}

int LastRuntimeError() { return t_lastError; }
void ClearLastRuntimeError() { t_lastError = 0; }

}  // namespace pr::ui
