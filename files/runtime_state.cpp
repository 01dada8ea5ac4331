#include "files/runtime_state.h"

#include <memory>
#include <new>

namespace pr::files {
namespace {

// Set while the thread's state is being destroyed, so that code running from
// other thread-end destructors sees "no state" instead of a dead object.
thread_local bool t_stateGone = false;
// The thread's state once made.  A plain pointer, so that the lookup every
// statement makes is one load with no thread-local initialisation check;
// the holder below owns the state and ends it with the thread.
thread_local RuntimeState* t_state = nullptr;

struct StateHolder {
  std::unique_ptr<RuntimeState> state;
  ~StateHolder() {
    t_stateGone = true;
    t_state = nullptr;
    state.reset();
  }
};

RuntimeState* MakeRuntimeState() {
  if (t_stateGone) return nullptr;
  static thread_local StateHolder holder;
  if (!holder.state) holder.state.reset(new (std::nothrow) RuntimeState);
  t_state = holder.state.get();
  return t_state;
}

}  // namespace

RuntimeState* CurrentRuntimeState() {
  if (RuntimeState* state = t_state) return state;
  return MakeRuntimeState();
}

ErrorState* CurrentErrorState() {
  RuntimeState* state = CurrentRuntimeState();
  return state != nullptr ? &state->errors : nullptr;
}

}  // namespace pr::files
