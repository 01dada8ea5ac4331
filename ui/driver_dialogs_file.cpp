// The file dialog of the driver's dialogs: a name entry over a list of the
// matching files of the directory.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "ui/driver_dialogs.h"
#include "ui/driver_dialogs_template.h"
#include "ui/list.h"
#include "ui/list_queue.h"
#include "values/locale.h"

namespace pr::ui {
namespace {

enum : WORD { kName = 201, kFiles = 202, kType = 203 };

struct FileDialog {
  std::vector<std::string> patterns;  // of the selected filter
  std::string description;
  ListQueue files;
  std::string chosen;
};

// Wildcard match without regard to case: "*" any run, "?" one character.
bool Matches(std::string_view pattern, std::string_view name) {
  const values::CaseTables& t = values::Locale();
  size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || t.upper[static_cast<uint8_t>(pattern[p])] ==
                                                          t.upper[static_cast<uint8_t>(name[n])])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    out.emplace_back(text.substr(start, at == std::string_view::npos ? text.npos : at - start));
    if (at == std::string_view::npos) return out;
    start = at + 1;
  }
}

// A name on disk (UTF-8) in the ANSI code page.
std::string ToAnsi(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  if (n <= 0) return utf8;
  std::vector<WCHAR> wide(static_cast<size_t>(n));
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), n);
  int m = WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
  if (m <= 0) return utf8;
  std::string out(static_cast<size_t>(m), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, out.data(), m, nullptr, nullptr);
  out.resize(static_cast<size_t>(m - 1));
  return out;
}

void Fill(HWND dialog, FileDialog& d) {
  d.files.Clear();
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(".", ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    std::string name = ToAnsi(it->path().filename().string());
    for (const std::string& pattern : d.patterns)
      if (Matches(pattern, name)) {
        names.push_back(name);
        break;
      }
  }
  std::sort(names.begin(), names.end());
  for (std::string& name : names) d.files.Append({std::move(name)});
  SetListQueue(GetDlgItem(dialog, kFiles), &d.files);
  SetDlgItemTextA(dialog, kType, ("Files of type: " + d.description).c_str());
}

INT_PTR FileDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* d = reinterpret_cast<FileDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      d = reinterpret_cast<FileDialog*>(lParam);
      SetListFormat(GetDlgItem(dialog, kFiles), "800L(2)");
      SendDlgItemMessageA(dialog, kName, EM_LIMITTEXT, 255, 0);
      SetDlgItemTextA(dialog, kName, d->chosen.c_str());
      Fill(dialog, *d);
      return TRUE;
    case WM_COMMAND: {
      WORD id = LOWORD(wParam), code = HIWORD(wParam);
      if (id == kFiles && (code == kListSelChange || code == kListDoubleClick)) {
        std::string name = d->files.Field(static_cast<size_t>(ListSelected(GetDlgItem(dialog, kFiles))), 1);
        SetDlgItemTextA(dialog, kName, name.c_str());
        if (code == kListDoubleClick && !name.empty()) {
          d->chosen = name;
          EndDialog(dialog, 1);
        }
        return TRUE;
      }
      if (id == IDOK) {
        char text[260] = {};
        GetDlgItemTextA(dialog, kName, text, sizeof text);
        std::string name = text;
        while (!name.empty() && name.back() == ' ') name.pop_back();
        if (name.find_first_of("*?") != std::string::npos) {
          d->patterns = Split(name, ';');
          d->description = name;
          Fill(dialog, *d);
          return TRUE;
        }
        if (name.empty()) {
          MessageBeep(MB_OK);
          return TRUE;
        }
        d->chosen = name;
        EndDialog(dialog, 1);
        return TRUE;
      }
      if (id == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      return FALSE;
    }
    default: return FALSE;
  }
}

}  // namespace

bool ChooseFile(const char* title, const char* filter, std::string* fileName, HWND owner) {
  RegisterListWindowClass();
  FileDialog d;
  std::vector<std::string> parts = Split(filter != nullptr ? filter : "", '|');
  d.description = parts.empty() ? "" : parts[0];
  d.patterns = parts.size() >= 2 ? Split(parts[1], ';') : std::vector<std::string>{"*.*"};
  for (std::string& p : d.patterns)
    if (p == "*.*") p.erase(1);  // "*": every file, with or without an extension
  d.chosen = fileName != nullptr ? *fileName : "";

  dialog_template::Builder t(title, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, 208, 128);
  t.Item("Static", "File &name:", 0xFFFF, SS_LEFT, 4, 6, 44, 8);
  t.Item("Edit", "", kName, WS_TABSTOP | ES_AUTOHSCROLL, 52, 6, 152, 8);
  t.Item(kListClass, "", kFiles, WS_TABSTOP | WS_VSCROLL, 4, 20, 200, 72);
  t.Item("Static", "", kType, SS_LEFT, 4, 96, 200, 8);
  t.Item("Button", "OK", IDOK, WS_TABSTOP | BS_DEFPUSHBUTTON, 112, 110, 40, 12);
  t.Item("Button", "Cancel", IDCANCEL, WS_TABSTOP | BS_PUSHBUTTON, 160, 110, 40, 12);
  if (owner == nullptr) owner = GetActiveWindow();
  INT_PTR result = DialogBoxIndirectParamA(nullptr, t.get(), owner, FileDialogProc, reinterpret_cast<LPARAM>(&d));
  if (result != 1) return false;
  if (fileName != nullptr) *fileName = d.chosen;
  return true;
}

}  // namespace pr::ui
