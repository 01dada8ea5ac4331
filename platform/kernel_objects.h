// Inside platform/ only: the table behind HANDLE values.
//
// A HANDLE is the address of a KernelObject that is listed in the process's
// handle table.  Lookups hand out a shared reference, so a CloseHandle on one
// thread while another thread is still inside ReadFile on the same handle
// removes the handle at once but frees the object only when that call returns.
// Any value that is not in the table is refused with ERROR_INVALID_HANDLE.
#pragma once

#include <memory>

#include "platform/kernel.h"

namespace prk {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
};

// Lists the object and returns its handle.  Never fails short of memory.
HANDLE AddHandle(std::shared_ptr<KernelObject> object);

// The object behind `handle`, or nullptr (and ERROR_INVALID_HANDLE) when the
// handle is not open.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

// Unlists the handle.  Returns the object (the caller may run its own closing
// steps) or nullptr with ERROR_INVALID_HANDLE.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);

// A typed lookup: nullptr with ERROR_INVALID_HANDLE unless the handle is open
// and of type T.
template <class T>
std::shared_ptr<T> Lookup(HANDLE handle) {
  std::shared_ptr<KernelObject> object = LookupHandle(handle);
  if (!object) return nullptr;
  auto typed = std::dynamic_pointer_cast<T>(object);
  if (!typed) SetLastError(ERROR_INVALID_HANDLE);
  return typed;
}

}  // namespace prk
