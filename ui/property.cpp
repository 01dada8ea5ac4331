#include "ui/property.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "ui/frame.h"
#include "ui/resource_decoder.h"
#include "ui/window.h"
#include "ui/window_controls.h"

namespace pr::ui {
namespace {

constexpr std::array<PropertyInfo, 10> kProperties = {{
    {"Disable", prop::Disable, kPropFlag},
    {"Hide", prop::Hide, kPropFlag},
    {"VScroll", prop::VScroll, kPropFlag},
    {"Items", prop::Items, kPropNumber},
    {"Selected", prop::Selected, kPropNumber},
    {"AcceptAll", prop::AcceptAll, kPropFlag},
    {"VScrollPos", prop::VScrollPos, kPropNumber},
    {"Tip", prop::Tip, kPropText},
    {"Visible", prop::Visible, kPropFlag},
    {"Alrt", prop::Alrt, kPropNumber | kPropIndexed},
}};

int32_t ToNumber(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  int32_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}
std::string Flag(bool on) { return on ? "1" : "0"; }

uint64_t Key(uint32_t property, uint32_t index) { return static_cast<uint64_t>(property) << 32 | index; }

std::string Stored(const std::vector<std::pair<uint64_t, std::string>>& stored, uint32_t property, uint32_t index) {
  for (const auto& [key, value] : stored)
    if (key == Key(property, index)) return value;
  return {};
}
void Store(std::vector<std::pair<uint64_t, std::string>>& stored, uint32_t property, uint32_t index,
           std::string_view value) {
  for (auto& [key, v] : stored)
    if (key == Key(property, index)) {
      v = std::string(value);
      return;
    }
  stored.emplace_back(Key(property, index), std::string(value));
}

bool Hidden(HWND hwnd) { return (GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_VISIBLE) == 0; }

Window* ActiveWindow() {
  WindowContext* context = CurrentWindowContext(false);
  return context != nullptr ? context->active() : nullptr;
}

std::string GetToolbar(int32_t number, uint32_t property) {
  switch (property) {
    case prop::Disable: return Flag(!IsToolbarControlEnabled(number));
    case prop::Tip: return ToolbarTip(number);
    case prop::Visible: return Flag(HostFrameWindow() != nullptr);
    case prop::Hide: return Flag(false);
    default: return {};
  }
}

bool SetToolbar(int32_t number, uint32_t property, std::string_view value) {
  switch (property) {
    case prop::Disable: return EnableToolbarControl(number, ToNumber(value) == 0);
    case prop::Tip: return SetToolbarTip(number, value);
    default: return false;
  }
}

std::string GetOnWindow(Window& window, uint32_t property, uint32_t index) {
  HWND hwnd = window.hwnd();
  switch (property) {
    case prop::Disable: return Flag(!IsWindowEnabled(hwnd));
    case prop::Hide: return Flag(Hidden(hwnd));
    case prop::Visible: return Flag(IsWindowVisible(hwnd) != 0);
    case prop::AcceptAll: return Flag(window.acceptAll);
    case prop::Tip: return window.tip;
    default: return Stored(window.stored, property, index);
  }
}

bool SetOnWindow(Window& window, uint32_t property, uint32_t index, std::string_view value) {
  HWND hwnd = window.hwnd();
  switch (property) {
    case prop::Disable: EnableWindow(hwnd, ToNumber(value) == 0); return true;
    case prop::Hide: ShowWindow(hwnd, ToNumber(value) != 0 ? SW_HIDE : SW_SHOW); return true;
    case prop::Visible: ShowWindow(hwnd, ToNumber(value) != 0 ? SW_SHOW : SW_HIDE); return true;
    case prop::AcceptAll: window.acceptAll = ToNumber(value) != 0; return true;
    case prop::Tip: window.tip = std::string(value); return true;
    default: Store(window.stored, property, index, value); return true;
  }
}

std::string GetOnControl(Control& c, uint32_t property, uint32_t index) {
  ControlClass cls;
  bool hasClass = FindControlClass(c.described.type, &cls);
  std::string value;
  if (hasClass && cls.getProperty != nullptr && cls.getProperty(c, property, index, &value)) return value;
  switch (property) {
    case prop::Disable: return Flag(!IsWindowEnabled(c.hwnd));
    case prop::Hide: return Flag(Hidden(c.hwnd));
    case prop::Visible: return Flag(IsWindowVisible(c.hwnd) != 0);
    case prop::AcceptAll: return Flag(c.window->acceptAll);
    case prop::Tip: return c.tip;
    case prop::VScroll: return Flag((GetWindowLongPtrA(c.hwnd, GWL_STYLE) & WS_VSCROLL) != 0);
    case prop::Items: {
      RECT r{};
      GetClientRect(c.hwnd, &r);
      return std::to_string(std::max<LONG>(0, r.bottom - r.top));
    }
    case prop::Alrt:
      if (index == 0) return std::to_string(c.alertKeys.size());
      return index <= c.alertKeys.size() ? std::to_string(c.alertKeys[index - 1]) : "0";
    default: return Stored(c.stored, property, index);
  }
}

bool SetOnControl(Control& c, uint32_t property, uint32_t index, std::string_view value) {
  ControlClass cls;
  bool hasClass = FindControlClass(c.described.type, &cls);
  if (hasClass && cls.setProperty != nullptr && cls.setProperty(c, property, index, value)) return true;
  int32_t n = ToNumber(value);
  switch (property) {
    case prop::Disable: EnableWindow(c.hwnd, n == 0); return true;
    case prop::Hide: ShowWindow(c.hwnd, n != 0 ? SW_HIDE : SW_SHOW); return true;
    case prop::Visible: ShowWindow(c.hwnd, n != 0 ? SW_SHOW : SW_HIDE); return true;
    case prop::AcceptAll: c.window->acceptAll = n != 0; return true;
    case prop::Tip: c.tip = std::string(value); return true;
    case prop::VScroll: {
      LONG_PTR style = GetWindowLongPtrA(c.hwnd, GWL_STYLE);
      SetWindowLongPtrA(c.hwnd, GWL_STYLE, n != 0 ? (style | WS_VSCROLL) : (style & ~static_cast<LONG_PTR>(WS_VSCROLL)));
      InvalidateRect(c.hwnd, nullptr, TRUE);
      return true;
    }
    case prop::Alrt: {
      auto code = static_cast<uint32_t>(n);
      if (index >= 1 && index <= c.alertKeys.size()) {
        if (code == 0)
          c.alertKeys.erase(c.alertKeys.begin() + (index - 1));
        else
          c.alertKeys[index - 1] = code;
      } else if (code != 0 && std::find(c.alertKeys.begin(), c.alertKeys.end(), code) == c.alertKeys.end()) {
        c.alertKeys.push_back(code);
      }
      return true;
    }
    default: Store(c.stored, property, index, value); return true;
  }
}

}  // namespace

std::span<const PropertyInfo> Properties() { return kProperties; }

const PropertyInfo* FindProperty(uint32_t number) {
  for (const PropertyInfo& p : kProperties)
    if (p.number == number) return &p;
  return nullptr;
}

const PropertyInfo* FindProperty(std::string_view name) {
  for (const PropertyInfo& p : kProperties)
    if (SameName(p.name, name)) return &p;
  return nullptr;
}

std::string GetProperty(Window& window, int32_t feq, uint32_t property, uint32_t index) {
  if (feq == 0) return window.IsOpen() ? GetOnWindow(window, property, index) : std::string();
  if (Control* c = window.ControlByFeq(feq)) return GetOnControl(*c, property, index);
  if (IsToolbarControl(feq)) return GetToolbar(feq, property);
  return {};
}

bool SetProperty(Window& window, int32_t feq, uint32_t property, std::string_view value, uint32_t index) {
  if (feq == 0) return window.IsOpen() && SetOnWindow(window, property, index, value);
  if (Control* c = window.ControlByFeq(feq)) return SetOnControl(*c, property, index, value);
  if (IsToolbarControl(feq)) return SetToolbar(feq, property, value);
  return false;
}

std::string GetProperty(int32_t feq, uint32_t property, uint32_t index) {
  if (Window* w = ActiveWindow()) return GetProperty(*w, feq, property, index);
  return IsToolbarControl(feq) ? GetToolbar(feq, property) : std::string();
}

bool SetProperty(int32_t feq, uint32_t property, std::string_view value, uint32_t index) {
  if (Window* w = ActiveWindow()) return SetProperty(*w, feq, property, value, index);
  return IsToolbarControl(feq) && SetToolbar(feq, property, value);
}

int32_t GetPropertyNumber(int32_t feq, uint32_t property, uint32_t index) {
  return ToNumber(GetProperty(feq, property, index));
}

bool SetPropertyNumber(int32_t feq, uint32_t property, int32_t value, uint32_t index) {
  return SetProperty(feq, property, std::to_string(value), index);
}

}  // namespace pr::ui
