#include "store/fatal_error.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "files/errors.h"
#include "platform/kernel.h"

namespace pr::store {

namespace {
std::atomic<FatalHandler> g_handler{nullptr};
constexpr uint32_t kCorruptionTextNumber = 4101;
}  // namespace

DriverError::DriverError(int number, std::string fileName)
    : std::runtime_error(DriverErrorText(number)), number_(number), fileName_(std::move(fileName)) {}

FatalHandler SetFatalHandler(FatalHandler handler) { return g_handler.exchange(handler); }

std::string DriverErrorText(int number) {
  const char* override = pr::files::FindMessageOverride(kCorruptionTextNumber);
  std::string text = override ? override : "Possible data corruption in file";
  text += " (";
  text += std::to_string(number);
  text += ")";
  return text;
}

void DefaultFatalHandler(int number, const char* fileName) {
  std::string text = DriverErrorText(number);
  std::fprintf(stderr, "%s%s%s\n", text.c_str(), fileName && *fileName ? ": " : "", fileName ? fileName : "");
  ExitProcess(static_cast<UINT>(number));
}

void ThrowingFatalHandler(int number, const char* fileName) { throw DriverError(number, fileName ? fileName : ""); }

void RaiseDriverError(int number, const char* fileName) {
  FatalHandler handler = g_handler.load();
  if (!handler) handler = DefaultFatalHandler;
  handler(number, fileName);
  std::abort();  // a handler that returns leaves nothing sound to go back to
}

}  // namespace pr::store
