#include "ui/event_cursor.h"

#include <mutex>

#include "platform/winuser.h"
#include "ui/resource_lookup.h"

namespace pr::ui {
namespace {

std::mutex g_mutex;
HCURSOR g_loaded = nullptr;  // the cursor SETCURSOR loaded, when it must be destroyed

}  // namespace

CursorCode ParseCursorCode(std::string_view code) {
  CursorCode c;
  if (code.empty()) return c;
  auto byte = [&](size_t i) { return static_cast<uint8_t>(code[i]); };
  if (byte(0) == 0xFF && code.size() >= 2 && (byte(1) == 0x01 || byte(1) == 0x02)) {
    if (code.size() < 4) return c;
    uint32_t w = byte(2) | static_cast<uint32_t>(byte(3)) << 8;
    if (w == 0) return c;
    if (byte(1) == 0x02) {
      c.kind = CursorCode::kRuntimeResource;
      c.number = w - 1;
      return c;
    }
    c.kind = CursorCode::kStandard;
    switch (w) {
      case 0x7F81: c.number = IDC_SIZEALL; break;
      case 0x7F82: c.number = IDC_ARROW; break;
      case 0x7F88: c.number = 32517; break;
      default: c.number = w - 1; break;
    }
    return c;
  }
  c.kind = CursorCode::kNamed;
  c.name = std::string(code);
  return c;
}

bool SetCursorCode(std::string_view code) {
  CursorCode c = ParseCursorCode(code);
  HCURSOR cursor = nullptr;
  bool owned = false;
  switch (c.kind) {
    case CursorCode::kStandard: cursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(c.number)); break;
    case CursorCode::kRuntimeResource:
      cursor = LoadCursorA(ModuleFromAddress(reinterpret_cast<const void*>(&SetCursorCode)), MAKEINTRESOURCEA(c.number));
      owned = true;
      break;
    case CursorCode::kNamed:
      cursor = LoadCursorFromFileA(c.name.c_str());
      if (cursor == nullptr && CurrentResourceModule() != nullptr)
        cursor = LoadCursorA(CurrentResourceModule(), c.name.c_str());
      owned = true;
      break;
    case CursorCode::kInvalid: return false;
  }
  if (cursor == nullptr) return false;
  std::lock_guard lock(g_mutex);
  SetCursor(cursor);
  if (g_loaded != nullptr) DestroyCursor(g_loaded);
  g_loaded = owned ? cursor : nullptr;
  return true;
}

void RestoreCursor() {
  std::lock_guard lock(g_mutex);
  SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(IDC_ARROW)));
  if (g_loaded != nullptr) DestroyCursor(g_loaded);
  g_loaded = nullptr;
}

}  // namespace pr::ui
