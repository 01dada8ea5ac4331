// Starting and stopping the window system's backend.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/win_internal.h"

namespace prw {

// ---------------------------------------------------------------- start and stop
namespace {
void DestroyEverything() {
  State& s = S();
  std::vector<HWND> roots;
  {
    Lock lock(s.mu);
    roots = s.topLevels;
  }
  for (HWND h : roots) {
    auto w = Find(h);
    if (!w) continue;
    // A window of another thread cannot run its procedure here: drop it.
    if (w->thread == GetCurrentThreadId()) DestroyWindow(h);
  }
  Lock lock(s.mu);
  for (auto& [id, w] : s.windows) w->dead = true;
  s.windows.clear();
  s.topLevels.clear();
  for (auto& c : s.classes) c->windows = 0;
  for (auto& [id, t] : s.threads) {
    t->posted.clear();
    t->timers.clear();
    t->focus = t->active = t->capture = t->caretWindow = nullptr;
    t->quit = false;
    t->exhaustStage = 0;
    t->modal.clear();
  }
  s.foreground = nullptr;
  DestroyAllMenus();
  ResetClipboardAndIcons();
}

bool ParseSize(const char* text, int* columns, int* rows) {
  if (!text) return false;
  char* end = nullptr;
  long c = std::strtol(text, &end, 10);
  if (!end || (*end != 'x' && *end != 'X')) return false;
  long r = std::strtol(end + 1, &end, 10);
  if (*end || c < 20 || r < 5 || c > 1000 || r > 1000) return false;
  *columns = static_cast<int>(c);
  *rows = static_cast<int>(r);
  return true;
}
}  // namespace

bool EnsureStarted() {
  State& s = S();
  {
    Lock lock(s.mu);
    if (s.started) return true;
  }
  if (InitWindowSystem(DefaultWindowBackend(), nullptr)) return true;
  // A terminal that cannot be opened still leaves a working window system.
  return InitWindowSystem(WindowBackend::Headless, nullptr) != FALSE;
}

}  // namespace prw

using namespace prw;

WindowBackend DefaultWindowBackend() {
  const char* ui = std::getenv("PR_UI");
  if (ui && std::strcmp(ui, "headless") == 0) return WindowBackend::Headless;
  if (ui && std::strcmp(ui, "terminal") == 0) return WindowBackend::Terminal;
  return isatty(0) && isatty(1) ? WindowBackend::Terminal : WindowBackend::Headless;
}

BOOL InitWindowSystem(WindowBackend backend, const WindowSystemOptions* options) {
  State& s = S();
  ShutdownWindowSystem();
  WindowSystemOptions opts;
  if (options) {
    opts = *options;
  } else {
    ParseSize(std::getenv("PR_UI_SIZE"), &opts.columns, &opts.rows);
  }
  if (opts.columns < 20 || opts.rows < 5 || opts.columns > 1000 || opts.rows > 1000) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD error = 0;
  std::unique_ptr<Backend> b = backend == WindowBackend::Terminal ? MakeTerminalBackend(&error)
                                                                  : MakeHeadlessBackend(opts, &error);
  if (!b) {
    SetLastError(error ? error : ERROR_NOT_READY);
    return FALSE;
  }
  {
    Lock lock(s.mu);
    s.backend = std::move(b);
    s.kind = backend;
    s.started = true;
    s.virtualTime = 0;
    s.screen.Resize(s.backend->Columns(), s.backend->Rows());
    s.transcript.clear();
    s.cursor = nullptr;
    s.mouse = POINT{0, 0};
    if (!s.desktop) s.desktop = reinterpret_cast<HWND>(s.nextHandle++);
  }
  RegisterControlClasses();
  RegisterDialogClass();
  s.cursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(IDC_ARROW));
  return TRUE;
}

void ShutdownWindowSystem() {
  State& s = S();
  {
    Lock lock(s.mu);
    if (!s.started) return;
  }
  DestroyEverything();
  Lock lock(s.mu);
  s.backend.reset();
  s.started = false;
}

BOOL IsWindowSystemStarted() {
  Lock lock(S().mu);
  return S().started;
}

WindowBackend CurrentWindowBackend() {
  Lock lock(S().mu);
  return S().kind;
}
