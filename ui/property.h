// Properties: numbered attributes of windows and controls, read and written
// at run time (PROP).
//
// The registry holds each property's name, number and kind.  Reading and
// writing address a control of the calling thread's active window by its
// FEQ (0: the window itself); a host toolbar number (2000 to 2012) that is
// not a control of the window addresses the host frame's toolbar.  Values
// travel as text, as in compiled code: on/off flags as "1" and "0", numbers
// in decimal.
//
// Effects: Disable greys the control out (it raises no events); Hide takes it
// off the screen and Visible reads whether it is shown (writing Visible is
// the opposite of Hide); Tip is the control's tool tip; Alrt[i] is the i-th
// alert key (1-based; writing an index past the end adds a key, writing 0
// removes that slot; Alrt[0] reads the number of keys); AcceptAll is the
// window's validate-all mode (on while SELECT with no field runs); VScroll,
// Items, Selected and VScrollPos go to the control's class when it handles
// them (the list), otherwise VScroll switches the control's scroll bar, Items
// reads the rows the control shows and Selected and VScrollPos are kept.
// Any other number is kept per control and read back as written.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pr::ui {

class Window;

enum PropertyKind : uint32_t { kPropText = 1, kPropNumber = 2, kPropFlag = 3, kPropIndexed = 0x100 };

struct PropertyInfo {
  const char* name;
  uint32_t number;
  uint32_t kind;  // PropertyKind, plus kPropIndexed for properties that take an index
};

namespace prop {
enum : uint32_t {
  Disable = 0x7C5F,
  Hide = 0x7C65,
  VScroll = 0x7C8B,
  Items = 0x7C8E,
  Selected = 0x7C8F,
  AcceptAll = 0x7C9A,
  VScrollPos = 0x7C9E,
  Tip = 0x7CA0,
  Visible = 0x7CA7,
  Alrt = 0x7D06,
};
}  // namespace prop

// The registered properties, in number order.
std::span<const PropertyInfo> Properties();
const PropertyInfo* FindProperty(uint32_t number);
// By name, without regard to case ("Disable", "disable").
const PropertyInfo* FindProperty(std::string_view name);

// On the calling thread's active window.  Reading a control that does not
// exist gives ""; writing one returns false and changes nothing.
std::string GetProperty(int32_t feq, uint32_t property, uint32_t index = 0);
bool SetProperty(int32_t feq, uint32_t property, std::string_view value, uint32_t index = 0);
int32_t GetPropertyNumber(int32_t feq, uint32_t property, uint32_t index = 0);
bool SetPropertyNumber(int32_t feq, uint32_t property, int32_t value, uint32_t index = 0);

// On a given window (owning thread only).
std::string GetProperty(Window& window, int32_t feq, uint32_t property, uint32_t index = 0);
bool SetProperty(Window& window, int32_t feq, uint32_t property, std::string_view value, uint32_t index = 0);

}  // namespace pr::ui
