#include "files/errors.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "files/message_table.h"
#include "files/runtime_state.h"
#include "platform/kernel.h"
#include "values/locale.h"

namespace pr::files {
namespace {

std::string_view SkipLeadingSpaces(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  return text.substr(i);
}

std::string TrimTrailing(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  return text.substr(0, end);
}

std::string Cut(std::string_view text, size_t max) {
  return std::string(text.substr(0, std::min(text.size(), max)));
}

// The built-in text of `number` from the module's string table, or empty.
std::string BuiltInText(uint32_t number) {
  char buffer[kErrorTextMax + 1];
  HMODULE self = ModuleFromAddress(reinterpret_cast<const void*>(&BuiltInText));
  int length = self != nullptr ? LoadStringA(self, number, buffer, sizeof buffer) : 0;
  if (length > 0) return std::string(buffer, static_cast<size_t>(length));
  // The module has not registered its table (a program that links the layer
  // statically and never ran the module's load steps): read it directly.
  size_t count = 0;
  const StringTableEntry* table = pr::ModuleStringTable(&count);
  const StringTableEntry* end = table + count;
  const StringTableEntry* hit =
      std::lower_bound(table, end, number, [](const StringTableEntry& e, uint32_t n) { return e.id < n; });
  if (hit != end && hit->id == number) return Cut(hit->text, kErrorTextMax);
  return {};
}

// LoadLocale, in the value layer below, ends as every statement does, by
// clearing this thread's error state, which lives here.
[[maybe_unused]] const bool kLocaleClearsErrors = (values::SetStatementErrorClearer(&ClearError), true);

}  // namespace

// ---------------------------------------------------------------- setting
void ClearError() {
  ErrorState* state = CurrentErrorState();
  if (state == nullptr) return;
  state->code = 0;
  state->file = nullptr;
  state->text.clear();
  state->fileErrorText.clear();
  state->fileErrorCode.clear();
}

void SetErrorCode(int32_t code) {
  DWORD os = GetLastError();
  ErrorState* state = CurrentErrorState();
  if (state == nullptr) return;
  state->savedOsError = os;
  if (code == 0) code = err::OsErrorBase + static_cast<int32_t>(os);
  state->code = code;
  state->file = nullptr;
  state->text = MessageText(code);
}

void SetFileError(std::string_view codeText, const char* message) {
  ErrorState* state = CurrentErrorState();
  if (state == nullptr) return;
  state->fileErrorCode = Cut(SkipLeadingSpaces(codeText), kFileErrorCodeMax);
  if (message != nullptr) {
    state->fileErrorText = Cut(SkipLeadingSpaces(message), kErrorTextMax);
  } else {
    state->fileErrorText = Cut(MessageText(err::FileSystemError) + " : " + state->fileErrorCode, kErrorTextMax);
  }
}

void SetErrorFile(FileDescriptor* file) {
  ErrorState* state = CurrentErrorState();
  if (state != nullptr) state->file = file;
}

void AppendErrorText(std::string_view text) {
  ErrorState* state = CurrentErrorState();
  if (state == nullptr) return;
  std::string base = TrimTrailing(state->text);
  base.append(text);
  state->text = Cut(base, kErrorTextMax);
}

void SaveErrors() {
  DWORD os = GetLastError();
  ErrorState* state = CurrentErrorState();
  if (state == nullptr) return;
  ErrorState::Snapshot copy{os, state->code, state->file, state->text, state->fileErrorText,
                            state->fileErrorCode};
  try {
    state->saved.push_back(std::move(copy));
  } catch (const std::bad_alloc&) {
    // Out of memory: the save is lost and the matching restore finds an
    // empty stack, which leaves the current state.
  }
}

void RestoreErrors() {
  ErrorState* state = CurrentErrorState();
  if (state == nullptr || state->saved.empty()) return;
  ErrorState::Snapshot copy = std::move(state->saved.back());
  state->saved.pop_back();
  state->savedOsError = copy.osError;
  state->code = copy.code;
  state->file = copy.file;
  state->text = std::move(copy.text);
  state->fileErrorText = std::move(copy.fileErrorText);
  state->fileErrorCode = std::move(copy.fileErrorCode);
  SetLastError(copy.osError);
}

// ---------------------------------------------------------------- reading
int32_t ErrorCode() {
  ErrorState* state = CurrentErrorState();
  return state != nullptr ? state->code : err::NoErrorState;
}

std::string Error() {
  ErrorState* state = CurrentErrorState();
  return state != nullptr ? TrimTrailing(state->text) : std::string();
}

std::string FileErrorCode() {
  ErrorState* state = CurrentErrorState();
  return state != nullptr ? TrimTrailing(state->fileErrorCode) : std::string();
}

std::string FileError() {
  ErrorState* state = CurrentErrorState();
  return state != nullptr ? TrimTrailing(state->fileErrorText) : std::string();
}

FileDescriptor* ErrorFile() {
  ErrorState* state = CurrentErrorState();
  return state != nullptr ? state->file : nullptr;
}

// ---------------------------------------------------------------- texts
std::string MessageText(int32_t number) {
  if (number == 0) number = err::UnknownErrorPosted;
  if (number > 0) {
    if (const char* text = FindMessageOverride(static_cast<uint32_t>(number))) return Cut(text, kErrorTextMax);
    std::string text = BuiltInText(static_cast<uint32_t>(number));
    if (!text.empty()) return text;
  }
  std::string unknown;
  if (const char* text = FindMessageOverride(err::UnknownErrorPosted)) {
    unknown = text;
  } else {
    unknown = BuiltInText(err::UnknownErrorPosted);
  }
  return Cut(unknown + " : " + std::to_string(number), kErrorTextMax);
}

}  // namespace pr::files
