// Menus: popup menus built item by item, the system menu, and
// TrackPopupMenu's modal menu loop with its popup windows.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/win_internal.h"

namespace prw {
namespace {

struct MenuItem {
  UINT flags = 0;
  UINT_PTR id = 0;
  std::string text;
  HMENU sub = nullptr;
  uintptr_t data = 0;
};

struct Menu {
  std::vector<MenuItem> items;
};

std::map<HMENU, std::unique_ptr<Menu>>& Menus() {
  static auto* menus = new std::map<HMENU, std::unique_ptr<Menu>>;
  return *menus;
}
uintptr_t g_nextMenu = 0x20010;

Menu* FindMenu(HMENU h) {
  auto& m = Menus();
  auto it = m.find(h);
  return it == m.end() ? nullptr : it->second.get();
}

Menu* FindMenuOrFail(HMENU h) {
  Menu* m = FindMenu(h);
  if (!m) SetLastError(ERROR_INVALID_MENU_HANDLE);
  return m;
}

// The index of the item named by position or command; -1 when absent.  By
// command the search goes into submenus (*owner receives the menu found in).
int Locate(HMENU h, UINT position, UINT flags, HMENU* owner) {
  Menu* m = FindMenu(h);
  if (!m) return -1;
  if (flags & MF_BYPOSITION) {
    *owner = h;
    return position < m->items.size() ? static_cast<int>(position) : -1;
  }
  for (size_t i = 0; i < m->items.size(); ++i) {
    const MenuItem& it = m->items[i];
    if (!(it.flags & MF_POPUP) && !(it.flags & MF_SEPARATOR) && it.id == position) {
      *owner = h;
      return static_cast<int>(i);
    }
    if (it.flags & MF_POPUP) {
      int k = Locate(it.sub, position, flags, owner);
      if (k >= 0) return k;
    }
  }
  return -1;
}

void DestroyTree(HMENU h) {
  auto& menus = Menus();
  auto it = menus.find(h);
  if (it == menus.end()) return;
  std::unique_ptr<Menu> m = std::move(it->second);
  menus.erase(it);
  for (auto& item : m->items)
    if (item.flags & MF_POPUP) DestroyTree(item.sub);
}

// ---------------------------------------------------------------- the popup windows of a tracked menu
struct Placed {
  int item;
  int column;
  int x;  // client cell of the item's first column
  int y;
  int width;
};

struct Level {
  HMENU menu = nullptr;
  HWND window = nullptr;
  HWND owner = nullptr;
  int selected = -1;
  std::vector<Placed> placed;
  std::vector<int> dividers;  // x of the column lines
};

constexpr char kMenuClass[] = "#32768";

bool Choosable(const MenuItem& it) { return !(it.flags & (MF_GRAYED | MF_DISABLED | MF_SEPARATOR)); }
bool Selectable(const MenuItem& it) { return !(it.flags & MF_SEPARATOR); }

int TextWidth(const MenuItem& it, HWND owner) {
  if (it.flags & MF_OWNERDRAW) {
    MEASUREITEMSTRUCT mi{ODT_MENU, 0, static_cast<UINT>(it.id), 10, 1, it.data};
    if (owner) SendMessageA(owner, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&mi));
    return static_cast<int>(std::clamp<UINT>(mi.itemWidth, 1, 200));
  }
  std::string shown = StripMnemonic(it.text);
  size_t tab = shown.find('\t');
  if (tab != std::string::npos) return static_cast<int>(tab + 2 + (shown.size() - tab - 1));
  return static_cast<int>(shown.size());
}

void LayOut(Level* level, int screenHeight, SIZE* size) {
  Menu* m = FindMenu(level->menu);
  level->placed.clear();
  level->dividers.clear();
  if (!m) return;
  std::vector<std::vector<int>> columns(1);
  std::vector<bool> lines;  // column starts with a dividing line
  lines.push_back(false);
  int maxRows = std::max(1, screenHeight - 2);
  for (size_t i = 0; i < m->items.size(); ++i) {
    const MenuItem& it = m->items[i];
    bool brk = (it.flags & (MF_MENUBARBREAK | MF_MENUBREAK)) && !columns.back().empty();
    if (!brk && static_cast<int>(columns.back().size()) >= maxRows) brk = true;  // never off the screen
    if (brk) {
      columns.emplace_back();
      lines.push_back((it.flags & MF_MENUBARBREAK) != 0 || static_cast<int>(columns[columns.size() - 2].size()) >= maxRows);
    }
    columns.back().push_back(static_cast<int>(i));
  }
  int x = 0, rows = 0;
  for (size_t c = 0; c < columns.size(); ++c) {
    if (c > 0) {
      if (lines[c]) {
        level->dividers.push_back(x);
        x += 1;
      }
    }
    int width = 4;
    for (int i : columns[c]) {
      const MenuItem& it = m->items[i];
      int w = 3 + TextWidth(it, level->owner) + ((it.flags & MF_POPUP) ? 3 : 1);
      width = std::max(width, w);
    }
    int y = 0;
    for (int i : columns[c]) level->placed.push_back(Placed{i, static_cast<int>(c), x, y++, width});
    rows = std::max(rows, y);
    x += width;
  }
  *size = SIZE{x + 2, std::max(rows, 1) + 2};
}

LRESULT MenuWindowProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcA(h, message, wParam, lParam);
  auto* level = reinterpret_cast<Level*>(GetWindowLongPtrA(h, GWLP_USERDATA));
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  RECT r;
  GetClientRect(h, &r);
  FillRect(dc, &r, GetSysColorBrush(COLOR_MENU));
  Menu* m = level ? FindMenu(level->menu) : nullptr;
  if (m) {
    for (int x : level->dividers)
      for (int y = 0; y < r.bottom; ++y) TextOutA(dc, x, y, "|", 1);
    for (const Placed& p : level->placed) {
      const MenuItem& it = m->items[p.item];
      RECT line{p.x, p.y, p.x + p.width, p.y + 1};
      bool sel = p.item == level->selected;
      if (it.flags & MF_SEPARATOR) {
        SetTextColor(dc, GetSysColor(COLOR_BTNSHADOW));
        SetBkMode(dc, TRANSPARENT);
        std::string dash(static_cast<size_t>(p.width), '-');
        TextOutA(dc, p.x, p.y, dash.c_str(), p.width);
        continue;
      }
      if (sel) FillRect(dc, &line, GetSysColorBrush(COLOR_HIGHLIGHT));
      bool grey = (it.flags & (MF_GRAYED | MF_DISABLED)) != 0;
      SetTextColor(dc, GetSysColor(grey ? COLOR_GRAYTEXT : sel ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
      SetBkMode(dc, TRANSPARENT);
      if (it.flags & MF_OWNERDRAW) {
        DRAWITEMSTRUCT di{ODT_MENU, 0, static_cast<UINT>(it.id), 1,
                          static_cast<UINT>((sel ? ODS_SELECTED : 0) | (grey ? ODS_GRAYED : 0) |
                                            ((it.flags & MF_CHECKED) ? ODS_CHECKED : 0)),
                          reinterpret_cast<HWND>(level->menu), dc, line, it.data};
        if (level->owner) SendMessageA(level->owner, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&di));
        continue;
      }
      if (it.flags & MF_CHECKED) TextOutA(dc, p.x + 1, p.y, "\xD7", 1);  // ×
      std::string text = it.text;
      std::string accel;
      size_t tab = text.find('\t');
      if (tab != std::string::npos) {
        accel = text.substr(tab + 1);
        text = text.substr(0, tab);
      }
      RECT tr{p.x + 3, p.y, p.x + p.width - 1, p.y + 1};
      DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &tr, DT_SINGLELINE);
      if (!accel.empty()) {
        RECT ar{p.x + 3, p.y, p.x + p.width - ((it.flags & MF_POPUP) ? 3 : 1), p.y + 1};
        DrawTextA(dc, accel.c_str(), static_cast<int>(accel.size()), &ar, DT_SINGLELINE | DT_RIGHT | DT_NOPREFIX);
      }
      if (it.flags & MF_POPUP) TextOutA(dc, p.x + p.width - 2, p.y, ">", 1);
    }
  }
  EndPaint(h, &ps);
  return 0;
}

void EnsureMenuClass() {
  WNDCLASSA wc{};
  if (GetClassInfoA(nullptr, kMenuClass, &wc)) return;
  wc.lpfnWndProc = MenuWindowProc;
  wc.lpszClassName = kMenuClass;
  RegisterClassA(&wc);
}

bool OpenLevel(Level* level, int x, int y, HWND owner) {
  EnsureMenuClass();
  SIZE size{0, 0};
  int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  level->owner = owner;
  {
    Lock lock(S().mu);
    LayOut(level, sh, &size);
  }
  x = std::clamp(x, 0, std::max(0, sw - size.cx));
  y = std::clamp(y, 0, std::max(0, sh - size.cy));
  // Popup windows belong to the tracking thread and never take the activation.
  level->window = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kMenuClass, "", WS_POPUP | WS_BORDER, x, y,
                                  size.cx, size.cy, nullptr, nullptr, nullptr, nullptr);
  if (!level->window) return false;
  SetWindowLongPtrA(level->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(level));
  SetWindowPos(level->window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW | SWP_NOACTIVATE);
  return true;
}

std::string ItemLabel(const MenuItem& it) {
  if (it.flags & MF_SEPARATOR) return "-";
  std::string s;
  if (it.flags & (MF_GRAYED | MF_DISABLED)) s += "~";
  if (it.flags & MF_CHECKED) s += "+";
  if (it.flags & MF_OWNERDRAW) return s + "[owner-drawn " + std::to_string(it.id) + "]";
  s += Quote(it.text);
  if (it.flags & MF_POPUP) {
    s += " {";
    if (Menu* sub = FindMenu(it.sub))
      for (auto& k : sub->items) {
        s += ' ';
        s += ItemLabel(k);
      }
    s += " }";
  }
  if (it.flags & MF_MENUBARBREAK) s.insert(s.begin(), '|');
  return s;
}

class Tracker {
 public:
  Tracker(HMENU menu, UINT flags, HWND owner) : flags_(flags), owner_(owner) {
    levels_.push_back(std::make_unique<Level>());
    levels_[0]->menu = menu;
  }
  ~Tracker() {
    for (auto& l : levels_)
      if (l->window && IsWindow(l->window)) DestroyWindow(l->window);
  }

  // 0 when dismissed, else the chosen command ID.
  UINT_PTR Run(int x, int y) {
    if (!OpenLevel(levels_[0].get(), x, y, owner_)) return 0;
    ThreadState& t = Current();
    ModalFrame frame;
    frame.menu = true;
    {
      Lock lock(S().mu);
      t.modal.push_back(&frame);
    }
    while (!done_) {
      PaintThreadWindows();
      ComposeAndPresent();
      InputEvent e;
      if (!ReadInput(&e, 100)) {
        // Another thread is reading the script; give it the time.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      Handle(e);
    }
    {
      Lock lock(S().mu);
      std::erase(t.modal, &frame);
    }
    return result_;
  }

 private:
  Level& Top() { return *levels_.back(); }
  Menu* TopMenu() { return FindMenu(Top().menu); }

  void Finish(UINT_PTR id, const MenuItem* item) {
    done_ = true;
    result_ = id;
    if (item) Record("chosen " + Quote(item->text) + " " + std::to_string(id));
    else Record("menu dismissed");
  }

  void CloseTop() {
    if (levels_.size() <= 1) {
      Finish(0, nullptr);
      return;
    }
    DestroyWindow(Top().window);
    levels_.pop_back();
    InvalidateRect(Top().window, nullptr, TRUE);
  }

  void Select(int index) {
    Top().selected = index;
    InvalidateRect(Top().window, nullptr, TRUE);
  }

  // Opens the submenu of item `index` of the top level, or chooses the item.
  void Activate(int index) {
    Menu* m = TopMenu();
    if (!m || index < 0 || index >= static_cast<int>(m->items.size())) return;
    const MenuItem it = m->items[index];
    if (!Choosable(it)) {
      MessageBeep(0);
      return;
    }
    Select(index);
    if (it.flags & MF_POPUP) {
      if (!FindMenu(it.sub)) return;
      RECT wr;
      GetWindowRect(Top().window, &wr);
      int row = 0, right = wr.right;
      for (auto& p : Top().placed)
        if (p.item == index) {
          row = p.y;
          right = wr.left + 1 + p.x + p.width;
        }
      SendMessageA(owner_, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(it.sub), index);
      auto level = std::make_unique<Level>();
      level->menu = it.sub;
      Level* raw = level.get();
      levels_.push_back(std::move(level));
      if (!OpenLevel(raw, right, wr.top + 1 + row - 1, owner_)) {
        levels_.pop_back();
        return;
      }
      Move(+1);
      return;
    }
    Finish(it.id, &it);
  }

  void Move(int step) {
    Menu* m = TopMenu();
    if (!m || m->items.empty()) return;
    int n = static_cast<int>(m->items.size());
    int i = Top().selected;
    for (int k = 0; k < n; ++k) {
      i = i < 0 ? (step > 0 ? 0 : n - 1) : (i + step + n) % n;
      if (Selectable(m->items[i])) {
        Select(i);
        return;
      }
    }
  }

  bool Mnemonic(unsigned char ch) {
    Menu* m = TopMenu();
    if (!m) return false;
    unsigned char up = ch < 0x80 ? static_cast<unsigned char>(std::toupper(ch)) : ch;
    for (size_t i = 0; i < m->items.size(); ++i) {
      char k = MnemonicOf(m->items[i].text);
      if (k && static_cast<unsigned char>(k) == up && !(m->items[i].flags & MF_SEPARATOR)) {
        Activate(static_cast<int>(i));
        return true;
      }
    }
    return false;
  }

  // The level and item under a screen cell; level -1 when outside every popup.
  void HitTest(POINT p, int* level, int* item) {
    *level = -1;
    *item = -1;
    for (int l = static_cast<int>(levels_.size()) - 1; l >= 0; --l) {
      RECT wr;
      if (!GetWindowRect(levels_[l]->window, &wr)) continue;
      if (p.x < wr.left || p.x >= wr.right || p.y < wr.top || p.y >= wr.bottom) continue;
      *level = l;
      for (auto& pl : levels_[l]->placed)
        if (p.x >= wr.left + 1 + pl.x && p.x < wr.left + 1 + pl.x + pl.width && p.y == wr.top + 1 + pl.y)
          *item = pl.item;
      return;
    }
  }

  void Handle(const InputEvent& e) {
    switch (e.kind) {
      case InputEvent::kKey: {
        if (e.mods & kAlt) {
          Finish(0, nullptr);
          return;
        }
        switch (e.vk) {
          case VK_UP: Move(-1); return;
          case VK_DOWN: Move(+1); return;
          case VK_RIGHT: {
            Menu* m = TopMenu();
            int s = Top().selected;
            if (m && s >= 0 && (m->items[s].flags & MF_POPUP)) Activate(s);
            return;
          }
          case VK_LEFT:
            if (levels_.size() > 1) CloseTop();
            return;
          case VK_ESCAPE: CloseTop(); return;
          case VK_RETURN:
          case VK_SPACE:
            if (Top().selected >= 0) Activate(Top().selected);
            else if (e.vk == VK_RETURN) Finish(0, nullptr);
            return;
          default:
            if (e.ch > ' ' && !Mnemonic(e.ch)) MessageBeep(0);
            return;
        }
      }
      case InputEvent::kMouse: {
        {
          Lock lock(S().mu);
          S().mouse = POINT{e.x, e.y};
        }
        int level, item;
        HitTest(POINT{e.x, e.y}, &level, &item);
        bool down = e.message == WM_LBUTTONDOWN || e.message == WM_RBUTTONDOWN || e.message == WM_MBUTTONDOWN;
        bool up = e.message == WM_LBUTTONUP || (e.message == WM_RBUTTONUP && (flags_ & TPM_RIGHTBUTTON));
        if (level < 0) {
          if (down) Finish(0, nullptr);
          return;
        }
        while (static_cast<int>(levels_.size()) - 1 > level) CloseTop();
        if (item < 0) return;
        Menu* m = TopMenu();
        if (!m) return;
        if (m->items[item].flags & MF_POPUP) {
          if (down) Activate(item);
        } else if (up) {
          Activate(item);
        } else if (Selectable(m->items[item])) {
          Select(item);
        }
        return;
      }
      case InputEvent::kMenu: {
        if (!e.path.empty()) {
          while (levels_.size() > 1) CloseTop();
          for (size_t k = 0; k < e.path.size() && !done_; ++k) {
            Menu* m = TopMenu();
            int found = -1;
            std::string want = Utf8ToAnsiString(e.path[k]);
            for (size_t i = 0; m && i < m->items.size(); ++i)
              if (!(m->items[i].flags & MF_SEPARATOR) && StripMnemonic(m->items[i].text) == want) {
                found = static_cast<int>(i);
                break;
              }
            if (found < 0) {
              Record("script error: no menu item " + Quote(want));
              return;
            }
            if (!Choosable(m->items[found])) {
              Record("refused " + Quote(m->items[found].text) + ": the item is disabled");
              return;
            }
            Activate(found);
          }
          return;
        }
        Menu* m = TopMenu();
        int seen = 0;
        for (size_t i = 0; m && i < m->items.size(); ++i) {
          if (m->items[i].flags & MF_SEPARATOR) continue;
          if (++seen == e.number) {
            if (!Choosable(m->items[i])) {
              Record("refused " + Quote(m->items[i].text) + ": the item is disabled");
              return;
            }
            Activate(static_cast<int>(i));
            return;
          }
        }
        Record("script error: the menu has no item " + std::to_string(e.number));
        return;
      }
      case InputEvent::kMenuCancel: Finish(0, nullptr); return;
      case InputEvent::kExhausted:
        Record("script exhausted: menu dismissed");
        done_ = true;
        result_ = 0;
        return;
      case InputEvent::kWait: {
        Lock lock(S().mu);
        S().virtualTime += static_cast<uint64_t>(std::max(0, e.number));
        return;
      }
      case InputEvent::kMove: {
        Lock lock(S().mu);
        S().mouse = POINT{e.x, e.y};
        return;
      }
      case InputEvent::kPress: Record("script error: a menu is open"); return;
      case InputEvent::kResize: {
        Lock lock(S().mu);
        S().screen.Resize(S().backend->Columns(), S().backend->Rows());
        return;
      }
      default: return;
    }
  }

  UINT flags_;
  HWND owner_;
  std::vector<std::unique_ptr<Level>> levels_;
  bool done_ = false;
  UINT_PTR result_ = 0;
};

}  // namespace

void DestroyAllMenus() { Menus().clear(); }

}  // namespace prw

using namespace prw;

HMENU CreatePopupMenu() {
  Lock lock(S().mu);
  HMENU h = reinterpret_cast<HMENU>(g_nextMenu++);
  Menus()[h] = std::make_unique<Menu>();
  return h;
}

BOOL InsertMenuA(HMENU menu, UINT position, UINT flags, UINT_PTR idNewItem, const char* item) {
  Lock lock(S().mu);
  Menu* m = FindMenuOrFail(menu);
  if (!m) return FALSE;
  MenuItem it;
  it.flags = flags & ~MF_BYPOSITION;
  if (flags & MF_POPUP) {
    HMENU sub = reinterpret_cast<HMENU>(idNewItem);
    if (!FindMenu(sub) || sub == menu) {
      SetLastError(ERROR_INVALID_MENU_HANDLE);
      return FALSE;
    }
    it.sub = sub;
  } else {
    it.id = idNewItem;
  }
  if (flags & MF_OWNERDRAW) it.data = reinterpret_cast<uintptr_t>(item);
  else if (!(flags & MF_SEPARATOR) && item && !IS_INTRESOURCE(item)) it.text.assign(item, strnlen(item, 4096));
  size_t at = m->items.size();
  if (flags & MF_BYPOSITION) {
    if (position < m->items.size()) at = position;
  } else if (position != 0xFFFFFFFFu) {
    HMENU owner = nullptr;
    int k = Locate(menu, position, MF_BYCOMMAND, &owner);
    if (k >= 0 && owner == menu) at = static_cast<size_t>(k);
  }
  m->items.insert(m->items.begin() + static_cast<std::ptrdiff_t>(at), it);
  return TRUE;
}

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR idNewItem, const char* item) {
  return InsertMenuA(menu, 0xFFFFFFFFu, flags | MF_BYPOSITION, idNewItem, item);
}

namespace {
BOOL RemoveItem(HMENU menu, UINT position, UINT flags, bool destroy) {
  Lock lock(S().mu);
  if (!FindMenuOrFail(menu)) return FALSE;
  HMENU owner = nullptr;
  int k = Locate(menu, position, flags, &owner);
  if (k < 0) return FALSE;
  Menu* m = FindMenu(owner);
  MenuItem it = m->items[k];
  m->items.erase(m->items.begin() + k);
  if (destroy && (it.flags & MF_POPUP)) DestroyTree(it.sub);
  return TRUE;
}
}  // namespace

BOOL DeleteMenu(HMENU menu, UINT position, UINT flags) { return RemoveItem(menu, position, flags, true); }
BOOL RemoveMenu(HMENU menu, UINT position, UINT flags) { return RemoveItem(menu, position, flags, false); }

BOOL DestroyMenu(HMENU menu) {
  Lock lock(S().mu);
  if (!FindMenuOrFail(menu)) return FALSE;
  DestroyTree(menu);
  return TRUE;
}

BOOL IsMenu(HMENU menu) {
  Lock lock(S().mu);
  return FindMenu(menu) ? TRUE : FALSE;
}

int GetMenuItemCount(HMENU menu) {
  Lock lock(S().mu);
  Menu* m = FindMenuOrFail(menu);
  return m ? static_cast<int>(m->items.size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int position) {
  Lock lock(S().mu);
  Menu* m = FindMenuOrFail(menu);
  if (!m || position < 0 || static_cast<size_t>(position) >= m->items.size()) return 0xFFFFFFFFu;
  const MenuItem& it = m->items[position];
  if (it.flags & (MF_POPUP | MF_SEPARATOR)) return 0xFFFFFFFFu;
  return static_cast<UINT>(it.id);
}

UINT GetMenuState(HMENU menu, UINT position, UINT flags) {
  Lock lock(S().mu);
  HMENU owner = nullptr;
  int k = Locate(menu, position, flags, &owner);
  if (k < 0) return 0xFFFFFFFFu;
  const MenuItem& it = FindMenu(owner)->items[k];
  if (it.flags & MF_POPUP) {
    Menu* sub = FindMenu(it.sub);
    return (it.flags & 0xFF) | (static_cast<UINT>(sub ? sub->items.size() : 0) << 8);
  }
  return it.flags;
}

int GetMenuStringA(HMENU menu, UINT position, char* text, int maxCount, UINT flags) {
  Lock lock(S().mu);
  HMENU owner = nullptr;
  int k = Locate(menu, position, flags, &owner);
  if (k < 0) return 0;
  const std::string& s = FindMenu(owner)->items[k].text;
  if (!text || maxCount <= 0) return static_cast<int>(s.size());
  int n = std::min<int>(static_cast<int>(s.size()), maxCount - 1);
  std::memcpy(text, s.data(), n);
  text[n] = 0;
  return n;
}

HMENU GetSubMenu(HMENU menu, int position) {
  Lock lock(S().mu);
  Menu* m = FindMenu(menu);
  if (!m || position < 0 || static_cast<size_t>(position) >= m->items.size()) return nullptr;
  return (m->items[position].flags & MF_POPUP) ? m->items[position].sub : nullptr;
}

DWORD CheckMenuItem(HMENU menu, UINT position, UINT flags) {
  Lock lock(S().mu);
  HMENU owner = nullptr;
  int k = Locate(menu, position, flags, &owner);
  if (k < 0) return 0xFFFFFFFFu;
  MenuItem& it = FindMenu(owner)->items[k];
  DWORD old = it.flags & MF_CHECKED;
  it.flags = (it.flags & ~MF_CHECKED) | (flags & MF_CHECKED);
  return old;
}

BOOL EnableMenuItem(HMENU menu, UINT position, UINT flags) {
  Lock lock(S().mu);
  HMENU owner = nullptr;
  int k = Locate(menu, position, flags, &owner);
  if (k < 0) return -1;
  MenuItem& it = FindMenu(owner)->items[k];
  BOOL old = static_cast<BOOL>(it.flags & (MF_GRAYED | MF_DISABLED));
  it.flags = (it.flags & ~(MF_GRAYED | MF_DISABLED)) | (flags & (MF_GRAYED | MF_DISABLED));
  return old;
}

HMENU GetSystemMenu(HWND window, BOOL revert) {
  auto w = FindOrFail(window);
  if (!w) return nullptr;
  HMENU existing;
  {
    Lock lock(S().mu);
    existing = w->systemMenu;
  }
  if (existing && revert) {
    DestroyMenu(existing);
    existing = nullptr;
  }
  if (!existing) {
    existing = CreatePopupMenu();
    AppendMenuA(existing, MF_STRING, SC_RESTORE, "&Restore");
    AppendMenuA(existing, MF_STRING, SC_MOVE, "&Move");
    AppendMenuA(existing, MF_STRING, SC_SIZE, "&Size");
    AppendMenuA(existing, MF_STRING, SC_MINIMIZE, "Mi&nimize");
    AppendMenuA(existing, MF_STRING, SC_MAXIMIZE, "Ma&ximize");
    AppendMenuA(existing, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(existing, MF_STRING, SC_CLOSE, "&Close\tAlt+F4");
    AppendMenuA(existing, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(existing, MF_STRING, SC_TASKLIST, "S&witch To...");
    Lock lock(S().mu);
    w->systemMenu = existing;
  }
  return revert ? nullptr : existing;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
  if (!EnsureStarted()) return FALSE;
  {
    Lock lock(S().mu);
    if (!FindMenuOrFail(menu)) return FALSE;
  }
  auto w = FindOrFail(owner);
  if (!w) return FALSE;
  if (w->thread != GetCurrentThreadId()) {
    SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
    return FALSE;
  }
  SendMessageA(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
  std::string line = "menu";
  {
    Lock lock(S().mu);
    Menu* m = FindMenu(menu);
    if (!m) return FALSE;
    for (auto& it : m->items) {
      line += ' ';
      line += ItemLabel(it);
    }
  }
  Record(line);
  UINT_PTR id;
  {
    Tracker tracker(menu, flags, owner);
    id = tracker.Run(x, y);
  }
  if (flags & TPM_RETURNCMD) return static_cast<BOOL>(id);
  if (id && IsWindow(owner)) PostMessageA(owner, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 0), 0);
  return id ? TRUE : FALSE;
}
