// A small builder of in-memory dialog templates (DLGTEMPLATE and its items,
// platform/winuser.h) for the driver's dialogs.  Texts are ANSI
// (Windows-1250) and stored as UTF-16, as templates require.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/winuser.h"

namespace pr::ui::dialog_template {

class Builder {
 public:
  Builder(const char* title, DWORD style, short cx, short cy) {
    DLGTEMPLATE t{};
    t.style = style;
    t.cx = cx;
    t.cy = cy;
    Append(&t, sizeof t);
    Word(0);  // no menu
    Word(0);  // the standard dialog class
    Text(title);
    countAt_ = offsetof(DLGTEMPLATE, cdit);
  }

  // One item; `className` is "Button", "Edit", "Static" or a registered class.
  void Item(const char* className, const char* text, WORD id, DWORD style, short x, short y, short cx, short cy) {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
    DLGITEMTEMPLATE item{};
    item.style = style | WS_CHILD | WS_VISIBLE;
    item.x = x;
    item.y = y;
    item.cx = cx;
    item.cy = cy;
    item.id = id;
    Append(&item, sizeof item);
    if (std::strcmp(className, "Button") == 0) {
      Word(0xFFFF);
      Word(0x80);
    } else if (std::strcmp(className, "Edit") == 0) {
      Word(0xFFFF);
      Word(0x81);
    } else if (std::strcmp(className, "Static") == 0) {
      Word(0xFFFF);
      Word(0x82);
    } else {
      Text(className);
    }
    Text(text);
    Word(0);  // no creation data
    ++count_;
    std::memcpy(bytes_.data() + countAt_, &count_, sizeof count_);
  }

  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data()); }

 private:
  void Append(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    bytes_.insert(bytes_.end(), b, b + n);
  }
  void Word(WORD w) { Append(&w, sizeof w); }
  void Text(const char* ansi) {
    int n = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    std::vector<WCHAR> wide(static_cast<size_t>(n > 0 ? n : 1), 0);
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide.data(), n);
    Append(wide.data(), wide.size() * sizeof(WCHAR));
  }

  // Kept 4-byte aligned: the vector's storage is suitably aligned for the
  // template's 2-byte fields.
  std::vector<uint8_t> bytes_;
  size_t countAt_ = 0;
  WORD count_ = 0;
};

}  // namespace pr::ui::dialog_template
