#include "ui/driver_dialogs.h"

#include <atomic>
#include <cctype>
#include <map>

#include "files/errors.h"
#include "ui/driver_dialogs_template.h"
#include "ui/list.h"
#include "ui/list_queue.h"
#include "ui/message.h"

namespace pr::ui {
namespace {

enum : WORD { kTcf = 301, kBrowse = 302, kDecimal = 303, kTips = 304, kTables = 401 };

constexpr char kTcfTip[] =
    "Specifies a transaction control file other than the default \r\n"
    "of \\TARNWELL.TCF. This file is used in recovery after a power\r\n"
    "failure or similar catastrophic occurence during a transaction.\r\n"
    "This setting affects all Tarnwell files accessed by the program. \r\n"
    "We recommend using one transaction control file that is \r\n"
    "accessible from any machine.";
constexpr char kDecimalTip[] =
    "Some older versions of the Tarnwell driver do not\r\n"
    "correctly store the number of decimal places for a\r\n"
    "DECIMAL field in the header of the file.  This will \r\n"
    "cause an Invalid Record Declaration error when \r\n"
    "opening the file with Velmora for Windows.  To stop\r\n"
    "this error, enable this option.";

void DefaultHelp(const char* topic) { Message(std::string("Help topic ") + topic, "Help"); }
std::atomic<HelpHandler> g_help{DefaultHelp};

// ------------------------------------------------------------ driver strings

bool StartsNoCase(std::string_view text, std::string_view name) {
  if (text.size() < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(text[i])) != std::toupper(static_cast<unsigned char>(name[i])))
      return false;
  return true;
}

// "NAME [spaces] = [spaces] value": true with the value when `item` is that option.
bool OptionValue(std::string_view item, std::string_view name, std::string* value) {
  while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
  if (!StartsNoCase(item, name)) return false;
  item.remove_prefix(name.size());
  while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
  if (item.empty() || item.front() != '=') return item.empty() ? (value->clear(), true) : false;
  item.remove_prefix(1);
  while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
  *value = std::string(item);
  return true;
}

struct DriverOptions {
  std::string tcf;
  bool decimalOff = false;
  std::vector<std::string> others;  // items the builder does not edit
};

DriverOptions ParseDriverString(std::string_view text) {
  DriverOptions o;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    std::string_view item = text.substr(start, end == std::string_view::npos ? text.npos : end - start);
    std::string value;
    if (OptionValue(item, "TCF", &value)) {
      o.tcf = value;
    } else if (OptionValue(item, "DecimalCheck", &value)) {
      o.decimalOff = StartsNoCase(value, "OFF") && value.size() == 3;
    } else if (item.find_first_not_of(' ') != std::string_view::npos) {
      o.others.emplace_back(item);
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return o;
}

std::string BuildDriverString(const DriverOptions& o) {
  std::vector<std::string> items;
  if (!o.tcf.empty()) items.push_back("TCF=" + o.tcf);
  items.emplace_back(o.decimalOff ? "DecimalCheck=OFF" : "DecimalCheck=ON");
  items.insert(items.end(), o.others.begin(), o.others.end());
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ";") + item;
  return out;
}

// ------------------------------------------------------------ the builder window

struct Builder {
  DriverOptions options;
  std::map<HWND, WNDPROC> originals;  // controls whose focus shows their tip
};

// Shows the tip of the control that gains the focus.
LRESULT TipProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND dialog = GetParent(hwnd);
  auto* b = reinterpret_cast<Builder*>(GetWindowLongPtrA(dialog, DWLP_USER));
  WNDPROC original = nullptr;
  if (b != nullptr) {
    auto it = b->originals.find(hwnd);
    if (it != b->originals.end()) original = it->second;
  }
  if (message == WM_SETFOCUS)
    SetDlgItemTextA(dialog, kTips, GetDlgCtrlID(hwnd) == kDecimal ? kDecimalTip : kTcfTip);
  return original != nullptr ? CallWindowProcA(original, hwnd, message, wParam, lParam)
                             : DefWindowProcA(hwnd, message, wParam, lParam);
}

void WithTip(HWND dialog, Builder* b, WORD id) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return;
  b->originals[control] = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(control, GWLP_WNDPROC));
  SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TipProc));
}

INT_PTR BuilderProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* b = reinterpret_cast<Builder*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      b = reinterpret_cast<Builder*>(lParam);
      SendDlgItemMessageA(dialog, kTcf, EM_LIMITTEXT, 255, 0);
      SetDlgItemTextA(dialog, kTcf, b->options.tcf.c_str());
      SendDlgItemMessageA(dialog, kDecimal, BM_SETCHECK, b->options.decimalOff ? BST_CHECKED : BST_UNCHECKED, 0);
      SetDlgItemTextA(dialog, kTips, kTcfTip);
      WithTip(dialog, b, kTcf);
      WithTip(dialog, b, kDecimal);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kBrowse: {
          char text[256] = {};
          GetDlgItemTextA(dialog, kTcf, text, sizeof text);
          std::string name = text;
          if (ChooseFile("Select Transaction Control File", "Transaction Control File (*.tcf)|*.tcf|All Files|*.*",
                         &name, dialog))
            SetDlgItemTextA(dialog, kTcf, name.substr(0, 255).c_str());
          SetFocus(GetDlgItem(dialog, kTcf));
          return TRUE;
        }
        case IDOK: {
          char text[256] = {};
          GetDlgItemTextA(dialog, kTcf, text, sizeof text);
          b->options.tcf = text;
          b->options.decimalOff = SendDlgItemMessageA(dialog, kDecimal, BM_GETCHECK, 0, 0) == BST_CHECKED;
          EndDialog(dialog, 1);
          return TRUE;
        }
        case IDCANCEL: EndDialog(dialog, 0); return TRUE;
        case IDHELP:
          if (HelpHandler help = g_help.load()) help(kDriverHelpTopic);
          return TRUE;
        default: return FALSE;
      }
    case WM_DESTROY:
      // Give the subclassed controls their own procedures back.
      if (b != nullptr)
        for (auto& [control, original] : b->originals)
          if (IsWindow(control)) SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
      return FALSE;
    default: return FALSE;
  }
}

// ------------------------------------------------------------ the table list

struct TableDialog {
  ListQueue names;
  std::string chosen;
};

INT_PTR TableProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* d = reinterpret_cast<TableDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      d = reinterpret_cast<TableDialog*>(lParam);
      HWND list = GetDlgItem(dialog, kTables);
      SetListFormat(list, "800L(2)");
      SetListQueue(list, &d->names);
      SendMessageA(list, WM_KEYDOWN, VK_HOME, 0);  // the first table highlighted
      SetFocus(list);
      return FALSE;
    }
    case WM_COMMAND: {
      WORD id = LOWORD(wParam), code = HIWORD(wParam);
      HWND list = GetDlgItem(dialog, kTables);
      if ((id == kTables && code == kListDoubleClick) || id == IDOK) {
        std::string name = d->names.Field(static_cast<size_t>(ListSelected(list)), 1);
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

int DriverStringBuilder(std::string* driverString, HWND owner) {
  Builder b;
  b.options = ParseDriverString(driverString != nullptr ? *driverString : "");
  dialog_template::Builder t(kDriverStringTitle, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, 264,
                             112);
  t.Item("Static", "&Transaction Control File:", 0xFFFF, SS_LEFT, 4, 6, 120, 8);
  t.Item("Edit", "", kTcf, WS_TABSTOP | ES_AUTOHSCROLL, 4, 16, 220, 8);
  t.Item("Button", "...", kBrowse, WS_TABSTOP | BS_PUSHBUTTON, 228, 14, 32, 12);
  t.Item("Button", "&Check Decimal Places", kDecimal, WS_TABSTOP | BS_AUTOCHECKBOX, 4, 32, 120, 8);
  t.Item("Static", "", kTips, SS_LEFT | SS_NOPREFIX, 4, 46, 256, 48);
  t.Item("Button", "&OK", IDOK, WS_TABSTOP | BS_DEFPUSHBUTTON, 120, 98, 44, 12);
  t.Item("Button", "Cancel", IDCANCEL, WS_TABSTOP | BS_PUSHBUTTON, 168, 98, 44, 12);
  t.Item("Button", "&Help", IDHELP, WS_TABSTOP | BS_PUSHBUTTON, 216, 98, 44, 12);
  if (owner == nullptr) owner = GetActiveWindow();
  INT_PTR result = DialogBoxIndirectParamA(nullptr, t.get(), owner, BuilderProc, reinterpret_cast<LPARAM>(&b));
  if (result != 1) return 0;
  if (driverString != nullptr) *driverString = BuildDriverString(b.options);
  return 1;
}

int PickTable(const TableLister& lister, std::string* file, std::string* table, HWND owner) {
  std::string name = file != nullptr ? *file : "";
  if (!ChooseFile("Open Tarnwell File", "Tarnwell Files (*.twl)|*.TWL|All Files (*.*)|*.*", &name, owner)) return 0;
  std::vector<std::string> names;
  int error = lister ? lister(name, &names) : 2;
  if (error != 0) {
    Message(files::MessageText(error) + "|" + name, "Open Tarnwell File", "\xFF\x01\x04\x7F");
    return 0;
  }
  if (names.empty()) return 0;
  RegisterListWindowClass();
  TableDialog d;
  for (std::string& n : names) d.names.Append({n.empty() ? kDefaultTableName : n});
  dialog_template::Builder t("Select Tarnwell Table", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER,
                             160, 112);
  t.Item("Static", "Table &Name", 0xFFFF, SS_LEFT, 4, 4, 100, 8);
  t.Item(kListClass, "", kTables, WS_TABSTOP | WS_VSCROLL, 4, 14, 152, 72);
  t.Item("Button", "OK", IDOK, WS_TABSTOP | BS_DEFPUSHBUTTON, 64, 94, 44, 12);
  t.Item("Button", "Cancel", IDCANCEL, WS_TABSTOP | BS_PUSHBUTTON, 112, 94, 44, 12);
  if (owner == nullptr) owner = GetActiveWindow();
  if (DialogBoxIndirectParamA(nullptr, t.get(), owner, TableProc, reinterpret_cast<LPARAM>(&d)) != 1) return 0;
  if (file != nullptr) *file = name;
  if (table != nullptr) *table = d.chosen == kDefaultTableName ? std::string() : d.chosen;
  return 1;
}

void SetDriverHelpHandler(HelpHandler handler) { g_help.store(handler != nullptr ? handler : DefaultHelp); }

}  // namespace pr::ui
