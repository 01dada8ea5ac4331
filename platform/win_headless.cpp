// The headless backend: a screen of cells in memory, input from a script,
// and the transcript of what the user would have seen.
//
// Script commands (one per line; see README, "Headless script language"):
//   key [Shift+][Ctrl+][Alt+]NAME [xN]   type "TEXT"      press "CAPTION"
//   click X Y   rclick X Y   dblclick X Y   mouse X Y
//   menu "CAPTION" ["CAPTION" ...]   menu N   menu cancel
//   dump   expect "TEXT"   wait MS   # comment
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <sstream>
#include <string_view>

#include "platform/win_internal.h"

namespace prw {
namespace {

struct Script {
  std::mutex mu;
  std::deque<InputEvent> events;
  int lineNumber = 0;
};
Script& TheScript() {
  static auto* s = new Script;
  return *s;
}

bool ParseQuoted(const std::string& line, size_t* pos, std::string* out) {
  size_t i = *pos;
  while (i < line.size() && line[i] == ' ') ++i;
  if (i >= line.size() || line[i] != '"') return false;
  ++i;
  out->clear();
  while (i < line.size() && line[i] != '"') {
    if (line[i] == '\\' && i + 1 < line.size()) {
      char n = line[++i];
      out->push_back(n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n);
    } else {
      out->push_back(line[i]);
    }
    ++i;
  }
  if (i >= line.size()) return false;
  *pos = i + 1;
  return true;
}

struct KeyEntry {
  const char* name;
  UINT vk;
  unsigned char ch;
};
constexpr KeyEntry kKeys[] = {
    {"enter", VK_RETURN, '\r'}, {"return", VK_RETURN, '\r'}, {"tab", VK_TAB, '\t'},     {"esc", VK_ESCAPE, 0x1B},
    {"escape", VK_ESCAPE, 0x1B}, {"space", VK_SPACE, ' '},   {"backspace", VK_BACK, 8}, {"back", VK_BACK, 8},
    {"delete", VK_DELETE, 0},   {"del", VK_DELETE, 0},       {"insert", VK_INSERT, 0},  {"ins", VK_INSERT, 0},
    {"home", VK_HOME, 0},       {"end", VK_END, 0},          {"pgup", VK_PRIOR, 0},     {"pageup", VK_PRIOR, 0},
    {"pgdn", VK_NEXT, 0},       {"pagedown", VK_NEXT, 0},    {"up", VK_UP, 0},          {"down", VK_DOWN, 0},
    {"left", VK_LEFT, 0},       {"right", VK_RIGHT, 0},      {"apps", VK_APPS, 0},      {"menu", VK_APPS, 0},
};

bool ParseKey(std::string described, InputEvent* e) {
  e->kind = InputEvent::kKey;
  e->mods = 0;
  for (;;) {
    size_t plus = described.find('+');
    if (plus == std::string::npos || plus + 1 >= described.size()) break;
    std::string mod = described.substr(0, plus);
    for (auto& c : mod) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (mod == "shift") e->mods |= kShift;
    else if (mod == "ctrl" || mod == "control") e->mods |= kCtrl;
    else if (mod == "alt") e->mods |= kAlt;
    else return false;
    described = described.substr(plus + 1);
  }
  std::string lower = described;
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const auto& k : kKeys)
    if (lower == k.name) {
      e->vk = k.vk;
      e->ch = k.ch;
      if ((e->mods & kCtrl) && e->vk == VK_RETURN) e->ch = '\n';
      return true;
    }
  if (lower.size() >= 2 && lower[0] == 'f' && std::isdigit(static_cast<unsigned char>(lower[1]))) {
    int n = std::atoi(lower.c_str() + 1);
    if (n < 1 || n > 24) return false;
    e->vk = VK_F1 + n - 1;
    e->ch = 0;
    return true;
  }
  if (described.size() == 1 && std::isalnum(static_cast<unsigned char>(described[0]))) {
    char c = described[0];
    e->vk = static_cast<UINT>(std::toupper(static_cast<unsigned char>(c)));
    if (std::isdigit(static_cast<unsigned char>(c))) {
      e->ch = static_cast<unsigned char>(c);
    } else if (e->mods & kCtrl) {
      e->ch = static_cast<unsigned char>(e->vk - 'A' + 1);
    } else {
      e->ch = static_cast<unsigned char>((e->mods & kShift) ? e->vk : std::tolower(static_cast<unsigned char>(c)));
    }
    return true;
  }
  return false;
}

void Add(std::deque<InputEvent>* out, InputEvent e) { out->push_back(std::move(e)); }

bool ParseLine(const std::string& raw, std::deque<InputEvent>* out, std::string* error) {
  if (raw.find('\0') != std::string::npos) return *error = "NUL byte in the line", false;
  std::string line = raw;
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
  size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos || line[start] == '#') return true;
  line = line.substr(start);
  std::istringstream in(line);
  std::string word;
  in >> word;
  size_t pos = word.size();
  auto intArgs = [&](int n, int* v) {
    for (int i = 0; i < n; ++i)
      if (!(in >> v[i])) return false;
    std::string rest;
    return !(in >> rest);
  };
  if (word == "key") {
    std::string described, times;
    if (!(in >> described)) return *error = "key needs a name", false;
    int repeat = 1;
    if (in >> times) {
      if (times.size() < 2 || times[0] != 'x' || (repeat = std::atoi(times.c_str() + 1)) < 1 || repeat > 1000)
        return *error = "bad repeat " + times, false;
    }
    InputEvent e;
    if (!ParseKey(described, &e)) return *error = "unknown key " + described, false;
    for (int i = 0; i < repeat; ++i) Add(out, e);
    return true;
  }
  if (word == "type") {
    std::string text;
    if (!ParseQuoted(line, &pos, &text)) return *error = "type needs a quoted text", false;
    for (unsigned char c : Utf8ToAnsiString(text)) {
      InputEvent e;
      e.kind = InputEvent::kKey;
      e.ch = c;
      if (std::isalpha(c) && c < 0x80) {
        e.vk = static_cast<UINT>(std::toupper(c));
        if (std::isupper(c)) e.mods = kShift;
      } else if (std::isdigit(c)) {
        e.vk = c;
      } else if (c == ' ') {
        e.vk = VK_SPACE;
      } else {
        e.vk = 0;
      }
      Add(out, e);
    }
    return true;
  }
  if (word == "press") {
    InputEvent e;
    e.kind = InputEvent::kPress;
    if (!ParseQuoted(line, &pos, &e.text)) return *error = "press needs a quoted caption", false;
    Add(out, e);
    return true;
  }
  if (word == "click" || word == "rclick" || word == "dblclick" || word == "mouse") {
    int v[2];
    if (!intArgs(2, v) || v[0] < 0 || v[1] < 0 || v[0] > 10000 || v[1] > 10000)
      return *error = word + " needs two cell numbers", false;
    InputEvent e;
    e.x = v[0];
    e.y = v[1];
    if (word == "mouse") {
      e.kind = InputEvent::kMove;
      Add(out, e);
      return true;
    }
    e.kind = InputEvent::kMouse;
    UINT down = word == "rclick" ? WM_RBUTTONDOWN : WM_LBUTTONDOWN;
    e.message = down;
    Add(out, e);
    e.message = down + 1;
    Add(out, e);
    if (word == "dblclick") {
      e.message = WM_LBUTTONDBLCLK;
      Add(out, e);
      e.message = WM_LBUTTONUP;
      Add(out, e);
    }
    return true;
  }
  if (word == "menu") {
    InputEvent e;
    std::string rest = line.substr(pos);
    size_t p = rest.find_first_not_of(' ');
    if (p == std::string::npos) return *error = "menu needs a choice", false;
    if (rest.compare(p, 6, "cancel") == 0) {
      e.kind = InputEvent::kMenuCancel;
      Add(out, e);
      return true;
    }
    e.kind = InputEvent::kMenu;
    if (std::isdigit(static_cast<unsigned char>(rest[p]))) {
      int n[1];
      if (!intArgs(1, n) || n[0] < 1) return *error = "menu needs an item number from 1", false;
      e.number = n[0];
      Add(out, e);
      return true;
    }
    size_t q = pos;
    std::string caption;
    while (ParseQuoted(line, &q, &caption)) e.path.push_back(caption);
    if (e.path.empty() || line.find_first_not_of(' ', q) != std::string::npos)
      return *error = "menu needs quoted captions", false;
    Add(out, e);
    return true;
  }
  if (word == "dump") {
    InputEvent e;
    e.kind = InputEvent::kDump;
    Add(out, e);
    return true;
  }
  if (word == "expect") {
    InputEvent e;
    e.kind = InputEvent::kDump;
    e.number = 1;
    if (!ParseQuoted(line, &pos, &e.text)) return *error = "expect needs a quoted text", false;
    Add(out, e);
    return true;
  }
  if (word == "wait") {
    int n[1];
    if (!intArgs(1, n) || n[0] < 0) return *error = "wait needs milliseconds", false;
    InputEvent e;
    e.kind = InputEvent::kWait;
    e.number = n[0];
    Add(out, e);
    return true;
  }
  return *error = "unknown command " + word, false;
}

std::string ScreenToText(Surface& screen) {
  std::string out;
  for (int y = 0; y < screen.height; ++y) {
    std::string line;
    for (int x = 0; x < screen.width; ++x) AppendUtf8(&line, screen.At(x, y)->ch);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line;
    out += '\n';
  }
  return out;
}

class HeadlessBackend : public Backend {
 public:
  HeadlessBackend(int columns, int rows) : columns_(columns), rows_(rows) { shown_.Resize(columns, rows); }
  bool Headless() const override { return true; }
  int Columns() const override { return columns_; }
  int Rows() const override { return rows_; }
  bool ReadInput(InputEvent* event, int) override {
    Script& sc = TheScript();
    std::unique_lock<std::mutex> lock(sc.mu);
    if (sc.events.empty()) {
      event->kind = InputEvent::kExhausted;
      return true;
    }
    *event = std::move(sc.events.front());
    sc.events.pop_front();
    lock.unlock();
    if (event->kind == InputEvent::kDump) {
      std::string text = ScreenToText(shown_);
      if (event->number == 1) {
        if (text.find(event->text) == std::string::npos) Record("expect failed: " + event->text);
      } else {
        std::string dump = "screen " + std::to_string(columns_) + "x" + std::to_string(rows_);
        size_t p = 0;
        while (p < text.size()) {
          size_t e = text.find('\n', p);
          dump += "\n| " + text.substr(p, e - p);
          p = e + 1;
        }
        Record(dump);
      }
    }
    return true;
  }
  void Present(Surface& screen, POINT, bool) override { shown_ = screen; }
  void Beep(UINT) override {}

 private:
  int columns_;
  int rows_;
  Surface shown_;
};

}  // namespace

void Record(const std::string& line) {
  State& s = S();
  std::string path;
  {
    Lock lock(s.mu);
    s.transcript += line;
    s.transcript += '\n';
    path = s.transcriptPath;
  }
  if (!path.empty()) {
    std::ofstream out(path, std::ios::app | std::ios::binary);
    out << line << '\n';
  }
}

std::string Quote(const std::string& ansi) {
  std::string out = "\"";
  for (size_t i = 0; i < ansi.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(ansi[i]);
    if (c == '\r' && i + 1 < ansi.size() && ansi[i + 1] == '\n') continue;
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c == '"') out += "\\\"";
    else if (c == '\\') out += "\\\\";
    else AppendUtf8(&out, AnsiToChar(c));
  }
  return out + "\"";
}

void AddScript(std::string_view commands);

std::unique_ptr<Backend> MakeHeadlessBackend(const WindowSystemOptions& options, DWORD* error) {
  const char* script = options.scriptPath ? options.scriptPath : std::getenv("PR_UI_SCRIPT");
  const char* transcript = options.transcriptPath ? options.transcriptPath : std::getenv("PR_UI_TRANSCRIPT");
  {
    Lock lock(S().mu);
    S().transcriptPath = transcript ? transcript : "";
  }
  HeadlessClearScript();
  if (script && *script) {
    std::ifstream in(script, std::ios::binary);
    if (!in) {
      *error = ERROR_FILE_NOT_FOUND;
      return nullptr;
    }
    std::stringstream all;
    all << in.rdbuf();
    AddScript(all.str());
  }
  return std::make_unique<HeadlessBackend>(options.columns, options.rows);
}

}  // namespace prw

using namespace prw;

void HeadlessScript(const char* commands) {
  if (commands) AddScript(commands);
}

// The whole text, NUL bytes included: a line that holds one is a script
// error like any other malformed line, and the lines after it still run.
void prw::AddScript(std::string_view commands) {
  std::istringstream in{std::string(commands)};
  std::string line;
  std::vector<std::string> errors;
  {
    Script& sc = TheScript();
    std::lock_guard<std::mutex> lock(sc.mu);
    while (std::getline(in, line)) {
      ++sc.lineNumber;
      std::string error;
      if (!ParseLine(line, &sc.events, &error))
        errors.push_back("script error: line " + std::to_string(sc.lineNumber) + ": " + error);
    }
  }
  for (auto& e : errors) Record(e);
  S().cv.notify_all();
}

void HeadlessClearScript() {
  Script& sc = TheScript();
  std::lock_guard<std::mutex> lock(sc.mu);
  sc.events.clear();
  sc.lineNumber = 0;
}

size_t HeadlessPendingCommands() {
  Script& sc = TheScript();
  std::lock_guard<std::mutex> lock(sc.mu);
  return sc.events.size();
}

std::string HeadlessTranscript() {
  Lock lock(S().mu);
  return S().transcript;
}

void HeadlessClearTranscript() {
  Lock lock(S().mu);
  S().transcript.clear();
}

void HeadlessRecord(const std::string& line) {
  EnsureStarted();
  Record(line);
}

std::string HeadlessScreenText() {
  if (!EnsureStarted()) return {};
  PaintThreadWindows();
  ComposeAndPresent();
  Lock lock(S().mu);
  return ScreenToText(S().screen);
}

BOOL HeadlessCellAt(int x, int y, ScreenCell* cell) {
  if (!cell || !EnsureStarted()) return FALSE;
  PaintThreadWindows();
  ComposeAndPresent();
  Lock lock(S().mu);
  Cell* c = S().screen.At(x, y);
  if (!c) return FALSE;
  cell->text.clear();
  AppendUtf8(&cell->text, c->ch);
  cell->foreground = c->fg;
  cell->background = c->bg;
  return TRUE;
}
