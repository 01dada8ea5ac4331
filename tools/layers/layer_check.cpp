#include "tools/layers/layer_check.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

namespace pr::layers {
namespace {

namespace fs = std::filesystem;

bool IsIdentifierChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// The text with every backslash-newline removed (the preprocessor's line
// splicing), and the original line of each remaining character.
struct Spliced {
  std::string text;
  std::vector<int> line;
};

Spliced Splice(std::string_view source) {
  Spliced out;
  out.text.reserve(source.size());
  out.line.reserve(source.size());
  int line = 1;
  for (size_t i = 0; i < source.size(); ++i) {
    if (source[i] == '\\') {
      size_t j = i + 1;
      if (j < source.size() && source[j] == '\r') ++j;
      if (j < source.size() && source[j] == '\n') {
        ++line;
        i = j;
        continue;
      }
    }
    out.text.push_back(source[i]);
    out.line.push_back(line);
    if (source[i] == '\n') ++line;
  }
  return out;
}

class Scanner {
 public:
  explicit Scanner(const Spliced& s) : s_(s.text), lines_(s.line) {}

  std::vector<IncludeDirective> Run() {
    bool lineStart = true;
    while (i_ < s_.size()) {
      char c = s_[i_];
      if (c == '\n') {
        lineStart = true;
        ++i_;
      } else if (IsBlank(c)) {
        ++i_;
      } else if (c == '/' && Next() == '/') {
        while (i_ < s_.size() && s_[i_] != '\n') ++i_;
      } else if (c == '/' && Next() == '*') {
        SkipBlockComment();  // a comment is blank: a '#' after it still starts a directive
      } else if (lineStart && (c == '#' || (c == '%' && Next() == ':'))) {
        lineStart = false;
        Directive();
      } else {
        lineStart = false;
        if (c == '"') {
          if (RawPrefixBefore(i_)) {
            SkipRawString();
          } else {
            SkipQuoted('"');
          }
        } else if (c == '\'' && !DigitSeparator(i_)) {
          SkipQuoted('\'');
        } else {
          ++i_;
        }
      }
    }
    return std::move(found_);
  }

 private:
  char Next() const { return i_ + 1 < s_.size() ? s_[i_ + 1] : '\0'; }

  void SkipBlockComment() {
    size_t end = s_.find("*/", i_ + 2);
    i_ = end == std::string::npos ? s_.size() : end + 2;
  }

  // Blanks and comments inside a directive line.
  void SkipDirectiveSpace() {
    for (;;) {
      if (i_ < s_.size() && IsBlank(s_[i_])) {
        ++i_;
      } else if (i_ + 1 < s_.size() && s_[i_] == '/' && s_[i_ + 1] == '*') {
        SkipBlockComment();
      } else {
        return;
      }
    }
  }

  // A string or character literal; one left open ends with its line.
  void SkipQuoted(char quote) {
    ++i_;
    while (i_ < s_.size() && s_[i_] != quote && s_[i_] != '\n') {
      if (s_[i_] == '\\' && i_ + 1 < s_.size() && s_[i_ + 1] != '\n') ++i_;
      ++i_;
    }
    if (i_ < s_.size() && s_[i_] == quote) ++i_;
  }

  // R"delimiter( ... )delimiter": nothing inside is a comment or a directive.
  void SkipRawString() {
    size_t open = s_.find('(', i_ + 1);
    if (open == std::string::npos || open - i_ - 1 > 16) {  // no raw string after all
      SkipQuoted('"');
      return;
    }
    std::string close = ")" + s_.substr(i_ + 1, open - i_ - 1) + "\"";
    size_t end = s_.find(close, open + 1);
    i_ = end == std::string::npos ? s_.size() : end + close.size();
  }

  // The identifier that ends at `at` is a raw string's prefix.
  bool RawPrefixBefore(size_t at) const {
    size_t start = at;
    while (start > 0 && IsIdentifierChar(s_[start - 1])) --start;
    std::string_view prefix(s_.data() + start, at - start);
    return prefix == "R" || prefix == "u8R" || prefix == "uR" || prefix == "UR" || prefix == "LR";
  }

  // A quote inside a number (1'000'000) separates digits.
  bool DigitSeparator(size_t at) const {
    size_t start = at;
    while (start > 0 && (IsIdentifierChar(s_[start - 1]) || s_[start - 1] == '\'' || s_[start - 1] == '.')) --start;
    return start < at && s_[start] >= '0' && s_[start] <= '9';
  }

  void Directive() {
    int line = lines_[i_];
    i_ += s_[i_] == '#' ? 1 : 2;
    SkipDirectiveSpace();
    size_t start = i_;
    while (i_ < s_.size() && IsIdentifierChar(s_[i_])) ++i_;
    std::string_view word(s_.data() + start, i_ - start);
    if (word != "include" && word != "include_next" && word != "import") return;
    SkipDirectiveSpace();
    IncludeDirective d;
    d.line = line;
    char open = i_ < s_.size() ? s_[i_] : '\0';
    if (open == '"' || open == '<') {
      char close = open == '"' ? '"' : '>';
      size_t end = i_ + 1;
      while (end < s_.size() && s_[end] != close && s_[end] != '\n') ++end;
      d.name = s_.substr(i_ + 1, end - i_ - 1);
      d.angled = open == '<';
      i_ = end < s_.size() && s_[end] == close ? end + 1 : end;
    } else {
      d.computed = true;
    }
    found_.push_back(std::move(d));
  }

  const std::string& s_;
  const std::vector<int>& lines_;
  size_t i_ = 0;
  std::vector<IncludeDirective> found_;
};

bool IsSource(const fs::path& path) {
  std::string ext = path.extension().string();
  return ext == ".cpp" || ext == ".h" || ext == ".inc" || ext == ".hpp" || ext == ".cc" || ext == ".c";
}

// The declared folder a file of the tree belongs to: the longest declared
// folder that holds it, else the first folder of its path ("." at the root).
std::string OwnerOf(const fs::path& relative, const std::vector<Layer>& layers) {
  std::string dir = relative.parent_path().generic_string();
  std::string best;
  for (const Layer& layer : layers) {
    const std::string& f = layer.folder;
    bool holds = dir == f || (dir.size() > f.size() && dir.compare(0, f.size(), f) == 0 && dir[f.size()] == '/');
    if (holds && f.size() > best.size()) best = f;
  }
  if (!best.empty()) return best;
  if (dir.empty()) return ".";
  return relative.begin()->generic_string();
}

bool IsFile(const fs::path& path) {
  std::error_code ignored;
  return fs::is_regular_file(path, ignored);
}

}  // namespace

std::vector<IncludeDirective> FindIncludes(std::string_view text) {
  Spliced spliced = Splice(text);
  return Scanner(spliced).Run();
}

bool ParseManifest(std::string_view text, std::vector<Layer>* layers, std::string* error) {
  layers->clear();
  std::set<std::string> seen;
  std::istringstream in{std::string(text)};
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::istringstream words(line);
    Layer layer;
    if (!(words >> layer.folder)) continue;
    if (layer.folder.front() == '/' || layer.folder.find("..") != std::string::npos) {
      *error = "line " + std::to_string(number) + ": folder " + layer.folder + " is not inside the source root";
      return false;
    }
    if (!seen.insert(layer.folder).second) {
      *error = "line " + std::to_string(number) + ": folder " + layer.folder + " declared twice";
      return false;
    }
    for (std::string word; words >> word;) layer.allowed.push_back(word);
    layers->push_back(std::move(layer));
  }
  return true;
}

std::vector<std::string> CheckLayers(const fs::path& root, const std::vector<Layer>& layers) {
  std::vector<std::string> faults;
  std::error_code ec;
  const fs::path base = fs::weakly_canonical(root, ec);
  for (const Layer& layer : layers) {
    const fs::path dir = base / layer.folder;
    // The folder's sources and those of its subfolders, except subfolders
    // declared as folders of their own (tools/twl under tools).
    std::vector<fs::path> sources;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      if (it->is_directory(ec)) {
        std::string sub = fs::path(layer.folder).append(it->path().lexically_relative(dir).string()).generic_string();
        bool declared = std::any_of(layers.begin(), layers.end(), [&](const Layer& l) { return l.folder == sub; });
        if (declared) it.disable_recursion_pending();
      } else if (IsFile(it->path()) && IsSource(it->path())) {
        sources.push_back(it->path());
      }
    }
    if (ec) {
      faults.push_back(layer.folder + ": cannot list the folder: " + ec.message());
      ec.clear();
      continue;
    }
    std::sort(sources.begin(), sources.end());
    for (const fs::path& source : sources) {
      const std::string shown = layer.folder + "/" + source.lexically_relative(dir).generic_string();
      std::ifstream in(source, std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      if (!in) {
        faults.push_back(shown + ": cannot be read");
        continue;
      }
      for (const IncludeDirective& d : FindIncludes(text.str())) {
        const std::string where = shown + ":" + std::to_string(d.line) + ": ";
        if (d.computed) {
          faults.push_back(where + "an include whose header is not written out cannot be checked");
          continue;
        }
        // Where the compiler looks: beside the source for "name", then the
        // source root, which every target has on its include path.
        fs::path target;
        if (!d.angled && IsFile(source.parent_path() / d.name)) {
          target = source.parent_path() / d.name;
        } else if (IsFile(base / d.name)) {
          target = base / d.name;
        } else {
          continue;  // a system or generated header
        }
        fs::path relative = fs::weakly_canonical(target, ec).lexically_relative(base);
        if (ec || relative.empty() || *relative.begin() == "..") {
          faults.push_back(where + "includes \"" + d.name + "\", outside the source tree");
          ec.clear();
          continue;
        }
        const std::string owner = OwnerOf(relative, layers);
        if (owner == layer.folder ||
            std::find(layer.allowed.begin(), layer.allowed.end(), owner) != layer.allowed.end()) {
          continue;
        }
        faults.push_back(where + layer.folder + " includes " + (d.angled ? "<" : "\"") + d.name +
                         (d.angled ? ">" : "\"") + ", a header of " + owner + ", which it does not declare");
      }
    }
  }
  return faults;
}

}  // namespace pr::layers
