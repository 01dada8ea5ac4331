// The registry that maps a control record type to the class that makes its
// control.
//
// The window engine creates every control of a window through this registry:
// the entry (record type 8, class `VelEdit`), the list (14, `VelList`) and
// the other runtime controls register here when their layer starts.  A type
// with no registered class gets a plain placeholder: a push button for
// BUTTON (a default push button when its option bit 0x01 is set), static
// text for every other type (its text, or nothing).  The registry is
// process-wide and guarded by a lock; register before windows open.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/winuser.h"

namespace pr::ui {

struct Control;

struct ControlClass {
  // The window class to create (registered by the control's layer).  Used by
  // the default creation when `create` is null.
  const char* className = nullptr;
  // Creates the control's window as a child of `parent` with the control ID
  // equal to its FEQ, at `cells` (client cells of the parent); returns it or
  // null (opening then fails with 529).  Null: CreateWindowExA of className
  // with WS_CHILD | WS_VISIBLE | WS_TABSTOP and the control as creation
  // parameter.
  HWND (*create)(Control& control, HWND parent, const RECT& cells) = nullptr;
  // SELECT with no field: converts the control's text into its variable;
  // false when the text is refused (the control raises EVENT:Rejected).
  bool (*validate)(Control& control) = nullptr;
  // DISPLAY: shows the variable's current value again.
  void (*display)(Control& control) = nullptr;
  // Property hooks: true when the class handled the property.
  bool (*getProperty)(Control& control, uint32_t property, uint32_t index, std::string* value) = nullptr;
  bool (*setProperty)(Control& control, uint32_t property, uint32_t index, std::string_view value) = nullptr;
};

// Registers (or replaces) the class of a record type.
void RegisterControlClass(uint8_t recordType, const ControlClass& controlClass);
// Removes it again (the type falls back to its placeholder).
void UnregisterControlClass(uint8_t recordType);
// A copy of the registered class, or false.
bool FindControlClass(uint8_t recordType, ControlClass* out);

}  // namespace pr::ui
