#include "files/runtime_state.h"

#include <memory>
#include <new>

namespace pr::files {
namespace {

// Set while the thread's state is being destroyed, so that code running from
// other thread-end destructors sees "no state" instead of a dead object.
thread_local bool t_stateGone = false;

struct StateHolder {
  std::unique_ptr<RuntimeState> state;
  ~StateHolder() {
    t_stateGone = true;
    state.reset();
  }
};

thread_local StateHolder t_holder;

}  // namespace

RuntimeState* CurrentRuntimeState() {
  if (t_stateGone) return nullptr;
  if (!t_holder.state) {
    t_holder.state.reset(new (std::nothrow) RuntimeState);
  }
  return t_holder.state.get();
}

ErrorState* CurrentErrorState() {
  RuntimeState* state = CurrentRuntimeState();
  return state != nullptr ? &state->errors : nullptr;
}

}  // namespace pr::files
