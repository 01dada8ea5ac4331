// The driver error box in the module: when the keyed-file store finds its
// file or its own state inconsistent, the user sees why before the program
// ends.  The store's default handler only writes a line to stderr, which a
// terminal user never sees behind the window system's screen; the module
// shows "Possible data corruption in file (N)" as a halt box (the stop icon,
// OK) through the window system, in the terminal and in the headless
// transcript alike, and then halts with exit code kDriverErrorExitCode.
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "app/warnings.h"
#include "store/fatal_error.h"
#include "ui/message.h"

namespace pr::app {
namespace {

std::atomic<bool> g_raised{false};

// The line for stderr, written once the window system has given the
// terminal back (an end-of-program step), so it neither garbles the screen
// under the box nor vanishes with the terminal's alternate screen.
char g_line[512];

void WriteLine() { std::fputs(g_line, stderr); }

void ShowDriverError(int number, const char* fileName) {
  const std::string text = store::DriverErrorText(number);
  // A second fault while the box is up (another thread, or this one) does
  // not stack another box: the first one is already ending the program.
  if (g_raised.exchange(true)) ExitProcess(kDriverErrorExitCode);
  // The line keeps the file's name, for logs.
  std::snprintf(g_line, sizeof g_line, "%s%s%s\n", text.c_str(), fileName && *fileName ? ": " : "",
                fileName ? fileName : "");
  std::atexit(WriteLine);
  ui::Halt(kDriverErrorExitCode, text);
}

__attribute__((constructor)) void InstallDriverErrorBox() { store::SetFatalHandler(ShowDriverError); }

}  // namespace
}  // namespace pr::app
