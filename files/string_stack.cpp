#include "files/string_stack.h"

#include "files/runtime_state.h"

namespace pr::files {

void PushString(std::string_view text) {
  if (RuntimeState* state = CurrentRuntimeState()) state->strings.emplace_back(text);
}

std::string PopString() {
  RuntimeState* state = CurrentRuntimeState();
  if (state == nullptr || state->strings.empty()) return {};
  std::string top = std::move(state->strings.back());
  state->strings.pop_back();
  return top;
}

std::string PeekString(size_t depth) {
  RuntimeState* state = CurrentRuntimeState();
  if (state == nullptr || depth >= state->strings.size()) return {};
  return state->strings[state->strings.size() - 1 - depth];
}

size_t StringStackDepth() {
  RuntimeState* state = CurrentRuntimeState();
  return state != nullptr ? state->strings.size() : 0;
}

void TrimStringStack(size_t depth) {
  RuntimeState* state = CurrentRuntimeState();
  if (state != nullptr && state->strings.size() > depth) state->strings.resize(depth);
}

}  // namespace pr::files
