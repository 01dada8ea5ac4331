// Helpers for the window-system tests: a headless screen per test and a
// small dialog template writer.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/winuser.h"

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowSystemOptions options;
    options.columns = 80;
    options.rows = 25;
    ASSERT_TRUE(InitWindowSystem(WindowBackend::Headless, &options));
  }
  void TearDown() override { ShutdownWindowSystem(); }
  static bool Has(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
  }
};

// Writes a DLGTEMPLATE with its items, as a dialog builder does.
class DialogTemplate {
 public:
  DialogTemplate(DWORD style, int cx, int cy, const char* caption) {
    DLGTEMPLATE t{style, 0, 0, 0, 0, static_cast<SHORT>(cx), static_cast<SHORT>(cy)};
    Raw(&t, sizeof t);
    Word(0);
    Word(0);
    Text(caption);
    if (style & DS_SETFONT) {
      Word(8);
      Text("System");
    }
  }
  DialogTemplate& Item(WORD classOrdinal, DWORD style, int x, int y, int cx, int cy, int id, const char* title) {
    while (bytes_.size() % 4) bytes_.push_back(0);
    DLGITEMTEMPLATE t{style | WS_CHILD | WS_VISIBLE, 0, static_cast<SHORT>(x), static_cast<SHORT>(y),
                      static_cast<SHORT>(cx), static_cast<SHORT>(cy), static_cast<WORD>(id)};
    Raw(&t, sizeof t);
    Word(0xFFFF);
    Word(classOrdinal);
    Text(title);
    Word(0);
    ++count_;
    std::memcpy(bytes_.data() + offsetof(DLGTEMPLATE, cdit), &count_, 2);
    return *this;
  }
  DialogTemplate& SetCount(WORD count) {
    std::memcpy(bytes_.data() + offsetof(DLGTEMPLATE, cdit), &count, 2);
    return *this;
  }
  const DLGTEMPLATE* Get() {
    aligned_.assign((bytes_.size() + 3) / 4 + 1, 0);
    std::memcpy(aligned_.data(), bytes_.data(), bytes_.size());
    return reinterpret_cast<const DLGTEMPLATE*>(aligned_.data());
  }

 private:
  void Raw(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    bytes_.insert(bytes_.end(), b, b + n);
  }
  void Word(WORD w) { Raw(&w, 2); }
  void Text(const char* ansi) {
    for (const char* p = ansi; *p; ++p) Word(static_cast<unsigned char>(*p));
    Word(0);
  }
  std::vector<uint8_t> bytes_;
  std::vector<uint32_t> aligned_;
  WORD count_ = 0;
};

// A dialog procedure that ends the dialog with the ID of any command.
inline INT_PTR EndOnCommand(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return message == WM_INITDIALOG ? TRUE : FALSE;
}
