// The runtime's file error numbers are written by name (files/error_codes.h)
// in the folders that speak them: no bare error literal in a return, an
// assignment, a comparison or SetErrorCode, and no second constant defined
// with one of their numbers.  A line-based check, not a parser: it strips
// comments and string literals, then looks for the few shapes those literals
// take.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Catalogue {
  std::set<int> numbers;       // the codes a bare literal must not spell
  std::set<std::string> names;  // their names, to catch k<Name> = <number>
};

// The names and numbers of files/error_codes.h.
Catalogue ReadCatalogue(const std::string& header) {
  Catalogue c;
  static const std::regex entry(R"(^\s*(\w+)\s*=\s*(\d+)\s*,)");
  std::istringstream in(header);
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (!std::regex_search(line, m, entry)) continue;
    const int value = std::stoi(m[2]);
    // 0 (success) and the 300 base are everywhere in arithmetic; the codes
    // proper are 2 .. 100.
    if (value < 2 || value > 100) continue;
    c.numbers.insert(value);
    c.names.insert(m[1]);
  }
  return c;
}

// The line with its // comment, string and character literals blanked, and
// with what lies inside a /* */ comment removed (`inComment` carries over).
std::string Code(const std::string& line, bool* inComment) {
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (*inComment) {
      if (line.compare(i, 2, "*/") == 0) {
        *inComment = false;
        ++i;
      }
      continue;
    }
    if (line.compare(i, 2, "//") == 0) break;
    if (line.compare(i, 2, "/*") == 0) {
      *inComment = true;
      ++i;
      continue;
    }
    const char c = line[i];
    if (c == '"' || (c == '\'' && (i == 0 || !std::isxdigit(static_cast<unsigned char>(line[i - 1]))))) {
      out += ' ';
      for (++i; i < line.size() && line[i] != c; ++i) {
        if (line[i] == '\\') ++i;
      }
      continue;
    }
    out += c;
  }
  return out;
}

// The faults of one source text: "line: reason".
std::vector<std::string> Faults(const std::string& text, const Catalogue& c) {
  static const std::regex setCode(R"(\bSetErrorCode\s*\(\s*\d)");
  static const std::regex returned(R"(\breturn\s+(\d+)\s*;)");
  static const std::regex compared(
      R"((\bErrorCode\s*\(\s*\)|\b\w*(?:code|Code|error|Error|rc|status|Status)\b)\s*(?:==|!=|=)\s*(\d+)\b)");
  static const std::regex constant(R"(^k[A-Z])");
  static const std::regex defined(R"(\bconstexpr\s+[\w:]+\s+k(\w+)\s*=\s*(\d+)\s*;)");
  static const std::regex enumerator(R"(^\s*k(\w+)\s*=\s*(\d+)\s*[,}])");
  std::vector<std::string> faults;
  std::istringstream in(text);
  std::string raw;
  bool inComment = false;
  for (int number = 1; std::getline(in, raw); ++number) {
    const std::string line = Code(raw, &inComment);
    auto report = [&](const std::string& why) { faults.push_back(std::to_string(number) + ": " + why); };
    auto known = [&](const std::string& digits) { return digits.size() < 4 && c.numbers.count(std::stoi(digits)); };
    std::smatch m;
    if (std::regex_search(line, setCode)) report("SetErrorCode with a number");
    // A returned 2 .. 15 is as often a count or a level as an error; from 30
    // up a returned number is an error code.  `case X: return 64;` maps one
    // value to another (sizes, counts).
    if (std::regex_search(line, m, returned) && known(m[1]) && std::stoi(m[1]) >= 30 &&
        line.find("case ") == std::string::npos)
      report("return " + m[1].str());
    for (auto it = std::sregex_iterator(line.begin(), line.end(), compared); it != std::sregex_iterator(); ++it) {
      // Constants and enumerators (kWarnFileAccessError = 30) are the next rule's.
      const std::string target = (*it)[1];
      if (known((*it)[2]) && !std::regex_search(target, constant)) report("error literal " + (*it)[2].str());
    }
    if ((std::regex_search(line, m, defined) || std::regex_search(line, m, enumerator)) && known(m[2])) {
      const std::string name = m[1];
      if (name.rfind("Err", 0) == 0 || c.names.count(name)) report("second definition k" + name);
    }
  }
  return faults;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

Catalogue TheCatalogue() { return ReadCatalogue(ReadAll(fs::path(PR_SOURCE_DIR) / "files/error_codes.h")); }

TEST(ErrorLiterals, CatalogueIsRead) {
  const Catalogue c = TheCatalogue();
  EXPECT_TRUE(c.numbers.count(2) && c.numbers.count(33) && c.numbers.count(97) && c.numbers.count(100));
  EXPECT_FALSE(c.numbers.count(0) || c.numbers.count(300));
  EXPECT_TRUE(c.names.count("RecordNotAvailable"));
}

TEST(ErrorLiterals, FindsTheShapesAndLeavesTheRest) {
  const Catalogue c = TheCatalogue();
  const std::string faulty =
      "    SetErrorCode(37);\n"
      "      return 36;\n"
      "  if (g.active && g.owner != me) return 56;\n"
      "    *error = 37;\n"
      "  if (rc == 0 && len != want) rc = 47;\n"
      "    failure.code = 48;\n"
      "  ok = ErrorCode() == 90;\n"
      "  if (code != 0 && code != 52) {\n"
      "constexpr int32_t kRecordNotAvailable = 33;\n"
      "inline constexpr int kErrInvalidFile = 36;\n"
      "/* a comment */ return 35;\n"
      "  kErrFileSystem = 90,\n";
  EXPECT_EQ(Faults(faulty, c).size(), 12u) << ::testing::PrintToString(Faults(faulty, c));
  const std::string fine =
      "    SetErrorCode(err::FileNotOpen);\n"
      "    case kString: return 64;\n"
      "  return 0;\n"
      "  return 1;\n"
      "  return 300;\n"
      "  if (rc == 0) return rc;\n"
      "  // return 36; in a comment\n"
      "  /* SetErrorCode(37);\n"
      "     return 36; */\n"
      "  Fail(err::FileNotOpen, \"37\", \"code = 37\");\n"
      "constexpr int kErrFileNotOpen = err::FileNotOpen;\n"
      "constexpr size_t kFileColumn = 36;\n"
      "  length = 5 + encoded;\n"
      "  uint32_t v = 0x1'000'33;\n"
      "  if (m.blob()) return 2;\n"
      "  kWarnFileAccessError = 30,\n"
      "inline constexpr int kDriverErrorExitCode = 3;\n";
  EXPECT_EQ(Faults(fine, c), std::vector<std::string>{});
}

// The catalogue itself is the one place the numbers are written.
bool Exempt(const std::string& relative) {
  static const char* const kExempt[] = {"files/error_codes.h"};
  for (const char* prefix : kExempt) {
    if (relative.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

TEST(ErrorLiterals, NoneInTheTree) {
  const Catalogue c = TheCatalogue();
  const fs::path root(PR_SOURCE_DIR);
  size_t checked = 0;
  std::vector<std::string> faults;
  for (const char* folder : {"files", "store", "app", "ui", "tools/twl"}) {
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root / folder)) {
      const std::string ext = e.path().extension().string();
      if (!e.is_regular_file() || (ext != ".h" && ext != ".cpp" && ext != ".inc")) continue;
      const std::string relative = fs::relative(e.path(), root).generic_string();
      if (Exempt(relative)) continue;
      ++checked;
      for (const std::string& f : Faults(ReadAll(e.path()), c)) faults.push_back(relative + ":" + f);
    }
  }
  EXPECT_GT(checked, 100u);
  EXPECT_EQ(faults, std::vector<std::string>{}) << "write file error numbers by their name in files/error_codes.h";
}

}  // namespace
