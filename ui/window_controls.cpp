#include "ui/window_controls.h"

#include <map>
#include <mutex>

namespace pr::ui {
namespace {

std::mutex g_mutex;
std::map<uint8_t, ControlClass>& Registry() {
  static std::map<uint8_t, ControlClass> registry;
  return registry;
}

}  // namespace

void RegisterControlClass(uint8_t recordType, const ControlClass& controlClass) {
  std::lock_guard lock(g_mutex);
  Registry()[recordType] = controlClass;
}

void UnregisterControlClass(uint8_t recordType) {
  std::lock_guard lock(g_mutex);
  Registry().erase(recordType);
}

bool FindControlClass(uint8_t recordType, ControlClass* out) {
  std::lock_guard lock(g_mutex);
  auto it = Registry().find(recordType);
  if (it == Registry().end()) return false;
  *out = it->second;
  return true;
}

}  // namespace pr::ui
