// The process's handle table and CloseHandle.
#include "platform/kernel_objects.h"

#include <mutex>
#include <unordered_map>

namespace prk {
namespace {
struct HandleTable {
  std::mutex mutex;
  std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> objects;  // guarded by mutex
};

HandleTable& Table() {
  // Never destroyed: handles may still be closed from atexit handlers and
  // thread-exit handlers that run after static destructors.
  static HandleTable* table = new HandleTable;
  return *table;
}
}  // namespace

HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
  HANDLE handle = object.get();
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.objects.emplace(handle, std::move(object));
  return handle;
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  HandleTable& table = Table();
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.objects.find(handle);
    if (it != table.objects.end()) return it->second;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
  HandleTable& table = Table();
  std::shared_ptr<KernelObject> object;
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.objects.find(handle);
    if (it != table.objects.end()) {
      object = std::move(it->second);
      table.objects.erase(it);
    }
  }
  if (!object) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

}  // namespace prk

BOOL CloseHandle(HANDLE object) {
  // The object's destructor does the closing (a file's descriptor, and with it
  // its locks and share-mode records), when the last call using it returns.
  return prk::RemoveHandle(object) ? TRUE : FALSE;
}
