// Finding a window's compiled resource among the loaded modules.
//
// A lookup splits the module-qualified name ("PR_DLL$PR_DL004") at its first
// "$" and looks for the resource "<rest>_RSC" of type "VODEDAV" in the
// preferred module and then in every module of the resource registry in
// registration order.  A resource counts only when its stored name equals the
// whole module-qualified name and one of its windows has the label asked for
// (both compared without regard to case through the locale's upper-case
// table).  A resource that is malformed (its name has no NUL, its window list
// leaves the resource or loops) is passed over like a mismatch.
//
// Concurrency.  The decoded buffer and the current resource module are
// process-wide and guarded by one spin lock: a successful lookup holds it
// until ReleaseWindowResource, so windows are decoded one at a time in the
// whole process.  The lock word is exchanged with -1; while the previous value
// was negative the thread sleeps 1 ms and tries again.  The holder must not
// wait for another thread before releasing.  A thread that already holds the
// lock and looks up again gets 0 instead of waiting for itself.
#pragma once

#include <cstdint>
#include <span>

#include "platform/kernel.h"

namespace pr::ui {

// Returns the relative offset of the window record inside the decoded buffer
// and leaves the buffer allocated and the lock held; 0 when no module has the
// window (the lock is then not held).  `preferred` (may be null) is tried
// first; null takes the module set by SetPreferredResourceModule.
uint32_t FindWindowResource(const char* qualifiedName, const char* label, HMODULE preferred = nullptr);

// The decoded buffer of the held lookup (empty when none is held by the
// calling thread).  Valid until ReleaseWindowResource.
std::span<const uint8_t> WindowResourceBuffer();

// The module in which the last successful lookup found its resource; icons,
// cursors and images named by the window are loaded from it.
HMODULE CurrentResourceModule();

// Frees the buffer and releases the lock.  Does nothing when the calling
// thread holds no lookup.
void ReleaseWindowResource();

// The module tried first by lookups that name none (process-wide).
void SetPreferredResourceModule(HMODULE module);

// Holds a lookup for one scope: releases it on destruction.
class WindowResourceHold {
 public:
  WindowResourceHold(const char* qualifiedName, const char* label, HMODULE preferred = nullptr)
      : record_(FindWindowResource(qualifiedName, label, preferred)) {}
  ~WindowResourceHold() {
    if (record_ != 0) ReleaseWindowResource();
  }
  WindowResourceHold(const WindowResourceHold&) = delete;
  WindowResourceHold& operator=(const WindowResourceHold&) = delete;

  uint32_t record() const { return record_; }
  std::span<const uint8_t> buffer() const { return WindowResourceBuffer(); }

 private:
  uint32_t record_;
};

}  // namespace pr::ui
