// Reads window declarations (see declarations.h for the language).
#include <cctype>
#include <charconv>
#include <limits>
#include <optional>

#include "tools/rc/cp1250.h"
#include "tools/rc/declarations.h"
#include "ui/resource_format.h"

namespace pr::rc {
namespace {

namespace f = pr::ui::rsc;

// Attributes every control takes besides those of its kind.
const FieldSpec kControlCommon[] = {
    {"attr", FieldKind::kU32, f::head::kAttr},
    {"attr2", FieldKind::kU32, f::head::kAttr2},
};

struct Token {
  enum Kind { kWord, kString, kNumber, kEnd } kind = kEnd;
  std::string text;  // word, or string contents (UTF-8)
  int64_t number = 0;
  int line = 0;
};

class Lexer {
 public:
  Lexer(std::string_view src, const std::string& file) : src_(src), file_(file) {}

  Token Next() {
    SkipSpace();
    Token t;
    t.line = line_;
    if (pos_ >= src_.size()) return t;
    char c = src_[pos_];
    if (c == '"') {
      t.kind = Token::kString;
      t.text = ReadString();
      return t;
    }
    size_t start = pos_;
    while (pos_ < src_.size() && !std::isspace(static_cast<unsigned char>(src_[pos_])) && src_[pos_] != '"' &&
           src_[pos_] != '#')
      ++pos_;
    std::string_view word = src_.substr(start, pos_ - start);
    if (auto n = ParseNumber(word)) {
      t.kind = Token::kNumber;
      t.number = *n;
    } else {
      t.kind = Token::kWord;
    }
    t.text = std::string(word);
    return t;
  }

  [[noreturn]] void Fail(int line, const std::string& message) const {
    throw CompileError(file_ + ":" + std::to_string(line) + ": " + message);
  }

 private:
  static std::optional<int64_t> ParseNumber(std::string_view w) {
    bool negative = false;
    if (!w.empty() && w[0] == '-') {
      negative = true;
      w.remove_prefix(1);
    }
    int base = 10;
    if (w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) {
      base = 16;
      w.remove_prefix(2);
    }
    if (w.empty()) return std::nullopt;
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), value, base);
    if (ec != std::errc() || end != w.data() + w.size() || value > 0xFFFFFFFFull) return std::nullopt;
    return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
  }

  void SkipSpace() {
    while (pos_ < src_.size()) {
      char c = src_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
        ++pos_;
      } else if (c == '#') {
        while (pos_ < src_.size() && src_[pos_] != '\n') ++pos_;
      } else {
        break;
      }
    }
  }

  std::string ReadString() {
    int startLine = line_;
    ++pos_;  // opening quote
    std::string out;
    while (true) {
      if (pos_ >= src_.size() || src_[pos_] == '\n') Fail(startLine, "unterminated text");
      char c = src_[pos_++];
      if (c == '"') return out;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (pos_ >= src_.size()) Fail(startLine, "unterminated text");
      char e = src_[pos_++];
      switch (e) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case 'x': {
          if (pos_ + 2 > src_.size()) Fail(line_, "\\x needs two hex digits");
          unsigned v = 0;
          auto [end, ec] = std::from_chars(src_.data() + pos_, src_.data() + pos_ + 2, v, 16);
          if (ec != std::errc() || end != src_.data() + pos_ + 2) Fail(line_, "\\x needs two hex digits");
          if (v == 0) Fail(line_, "a text cannot hold a NUL byte");
          pos_ += 2;
          // A raw byte of the stored text, kept apart from UTF-8 conversion.
          out.push_back('\x01');
          out.push_back(static_cast<char>(v));
          break;
        }
        default: Fail(line_, std::string("unknown escape \\") + e);
      }
    }
  }

  std::string_view src_;
  const std::string& file_;
  size_t pos_ = 0;
  int line_ = 1;
};

class Parser {
 public:
  Parser(std::string_view src, const std::string& file) : lex_(src, file) { Advance(); }

  ResourceDecl Parse() {
    ResourceDecl res;
    ExpectWord("resource");
    res.qualifiedName = TakeText("module-qualified name");
    if (res.qualifiedName.empty()) lex_.Fail(tok_.line, "empty module-qualified name");
    size_t dollar = res.qualifiedName.find('$');
    res.resourceName =
        (dollar == std::string::npos ? res.qualifiedName : res.qualifiedName.substr(dollar + 1)) + f::kResourceSuffix;
    while (tok_.kind != Token::kEnd) {
      ExpectWord("window");
      WindowDecl w;
      w.record = ParseRecord(FindRecordSpec("window"), false);
      while (!(tok_.kind == Token::kWord && tok_.text == "end")) {
        if (tok_.kind != Token::kWord) lex_.Fail(tok_.line, "expected a control kind or \"end\"");
        const RecordSpec* described = FindRecordSpec(tok_.text);
        if (described == nullptr || described->type == f::kWindow) lex_.Fail(tok_.line, "unknown control kind \"" + tok_.text + "\"");
        Advance();
        w.controls.push_back(ParseRecord(described, true));
      }
      Advance();  // end
      res.windows.push_back(std::move(w));
    }
    if (res.windows.empty()) lex_.Fail(tok_.line, "a resource needs at least one window");
    return res;
  }

 private:
  void Advance() { tok_ = lex_.Next(); }

  void ExpectWord(const char* word) {
    if (tok_.kind != Token::kWord || tok_.text != word) lex_.Fail(tok_.line, std::string("expected \"") + word + "\"");
    Advance();
  }

  std::string TakeText(const char* what) {
    if (tok_.kind != Token::kString) lex_.Fail(tok_.line, std::string("expected a quoted ") + what);
    std::string out;
    // Convert the UTF-8 runs, copying \x bytes as they are.
    std::string run;
    const std::string& s = tok_.text;
    auto flush = [&] {
      auto converted = Utf8ToCp1250(run);
      if (!converted) lex_.Fail(tok_.line, "text is not valid UTF-8 or has a character outside Windows-1250");
      out += *converted;
      run.clear();
    };
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '\x01' && i + 1 < s.size()) {
        flush();
        out.push_back(s[++i]);
      } else {
        run.push_back(s[i]);
      }
    }
    flush();
    Advance();
    return out;
  }

  int64_t TakeNumber(const char* what, int64_t low, int64_t high, bool allowDefault, int64_t defaultValue) {
    if (allowDefault && tok_.kind == Token::kWord && tok_.text == "default") {
      Advance();
      return defaultValue;
    }
    if (tok_.kind != Token::kNumber) lex_.Fail(tok_.line, std::string("expected a number for ") + what);
    int64_t v = tok_.number;
    if (v < low || v > high) lex_.Fail(tok_.line, std::string("number out of range for ") + what);
    Advance();
    return v;
  }

  uint8_t TakeVarType() {
    if (tok_.kind == Token::kNumber) return static_cast<uint8_t>(TakeNumber("data type", 0, 255, false, 0));
    if (tok_.kind == Token::kWord) {
      static const std::pair<const char*, uint8_t> kNames[] = {
          {"BYTE", f::var::kByte}, {"LONG", f::var::kLong}, {"STRING", f::var::kString}, {"QUEUE", f::var::kQueue}};
      for (auto& [name, code] : kNames)
        if (tok_.text == name) {
          Advance();
          return code;
        }
    }
    lex_.Fail(tok_.line, "expected a data type (BYTE, LONG, STRING, QUEUE or a number)");
  }

  static const FieldSpec* FindField(const RecordSpec* described, const std::string& name, bool control) {
    for (const FieldSpec& field : described->fields)
      if (name == field.name) return &field;
    if (control)
      for (const FieldSpec& field : kControlCommon)
        if (name == field.name) return &field;
    return nullptr;
  }

  RecordDecl ParseRecord(const RecordSpec* described, bool control) {
    RecordDecl rec;
    rec.described = described;
    rec.line = tok_.line;
    rec.label = TakeText("label");
    if (rec.label.empty()) lex_.Fail(rec.line, "empty label");
    while (tok_.kind == Token::kWord && tok_.text != "end" && FindRecordSpec(tok_.text) == nullptr) {
      const FieldSpec* field = FindField(described, tok_.text, control);
      if (field == nullptr)
        lex_.Fail(tok_.line, "\"" + tok_.text + "\" is not an attribute of " + described->keyword +
                                 (control ? "" : " nor a control kind"));
      for (auto& [given, value] : rec.values)
        if (given == field) lex_.Fail(tok_.line, "\"" + tok_.text + "\" given twice");
      Advance();
      rec.values.emplace_back(field, ParseValue(*field));
    }
    if (tok_.kind == Token::kString || tok_.kind == Token::kNumber)
      lex_.Fail(tok_.line, "value without an attribute name");
    return rec;
  }

  Value ParseValue(const FieldSpec& field) {
    Value v;
    constexpr int64_t kI32Min = std::numeric_limits<int32_t>::min(), kI32Max = std::numeric_limits<int32_t>::max();
    switch (field.kind) {
      case FieldKind::kU8: v.number = TakeNumber(field.name, 0, 0xFF, false, 0); break;
      case FieldKind::kU16: v.number = TakeNumber(field.name, 0, 0xFFFF, false, 0); break;
      case FieldKind::kU32: v.number = TakeNumber(field.name, kI32Min, 0xFFFFFFFF, false, 0); break;
      case FieldKind::kI32: v.number = TakeNumber(field.name, kI32Min, kI32Max, false, 0); break;
      case FieldKind::kPair:
        v.number = TakeNumber(field.name, kI32Min, kI32Max, true, f::kNotGiven);
        v.number2 = TakeNumber(field.name, kI32Min, kI32Max, true, f::kNotGiven);
        break;
      case FieldKind::kText: v.text = TakeText(field.name); break;
      case FieldKind::kVar:
        v.varType = TakeVarType();
        v.varSize = static_cast<uint32_t>(TakeNumber("variable size", 0, 0xFFFFFFFF, false, 0));
        break;
      case FieldKind::kFont:
        v.font.face = TakeText("font face");
        v.font.points = static_cast<uint32_t>(TakeNumber("font size", 0, 0xFFFF, false, 0));
        while (tok_.kind == Token::kWord && (tok_.text == "colour" || tok_.text == "weight")) {
          bool colour = tok_.text == "colour";
          Advance();
          auto n = static_cast<uint32_t>(TakeNumber(colour ? "colour" : "weight", 0, 0xFFFFFFFF, true, f::font::kDefault));
          (colour ? v.font.colour : v.font.weight) = n;
        }
        break;
      case FieldKind::kTextList:
        while (tok_.kind == Token::kString) v.texts.push_back(TakeText("list text"));
        if (v.texts.empty()) lex_.Fail(tok_.line, "listtext needs at least one text");
        break;
    }
    return v;
  }

  Lexer lex_;
  Token tok_;
};

}  // namespace

ResourceDecl ParseDeclarations(std::string_view source, const std::string& fileName) {
  return Parser(source, fileName).Parse();
}

}  // namespace pr::rc
