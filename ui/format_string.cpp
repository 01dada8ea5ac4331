#include "ui/format_string.h"

#include <algorithm>
#include <cctype>

#include "values/picture.h"

namespace pr::ui {
namespace {

// Numbers in a format are clamped here so that no conversion overflows.
constexpr int64_t kNumberLimit = 1000000;
// Column positions are clamped here: widths add up column after column and
// rows add up row after row, and no edge may overflow a 32-bit pixel.
constexpr int32_t kPositionLimit = 1 << 30;

int32_t AddClamped(int32_t position, int64_t step) {
  return static_cast<int32_t>(std::clamp<int64_t>(int64_t{position} + step, -kPositionLimit, kPositionLimit));
}

// A cursor over the format text; every read checks the end.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  char PeekUpper() const { return static_cast<char>(std::toupper(static_cast<unsigned char>(Peek()))); }
  char Take() { return AtEnd() ? '\0' : text_[pos_++]; }
  bool PeekAt(size_t ahead, char c) const { return pos_ + ahead < text_.size() && text_[pos_ + ahead] == c; }
  bool Accept(char c) {
    if (AtEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  // An optional "-" and decimal digits; false (nothing consumed) when there
  // are no digits.  A lone "-" is consumed and reads as 0 only when
  // `allowBareSign`.
  bool Number(int64_t* out, bool allowBareSign = false) {
    size_t start = pos_;
    bool negative = Accept('-');
    if (!std::isdigit(static_cast<unsigned char>(Peek()))) {
      if (negative && allowBareSign) {
        *out = 0;
        return true;
      }
      pos_ = start;
      return false;
    }
    int64_t v = 0;
    while (std::isdigit(static_cast<unsigned char>(Peek()))) v = std::min(kNumberLimit, v * 10 + (Take() - '0'));
    *out = negative ? -v : v;
    return true;
  }
  // The text up to `close` (consumed) or the end of the format.
  std::string_view Until(char close) {
    size_t start = pos_;
    size_t end = text_.find(close, pos_);
    if (end == std::string_view::npos) {
      pos_ = text_.size();
      return text_.substr(start);
    }
    pos_ = end + 1;
    return text_.substr(start, end - start);
  }
  // "(" decimal ")" when present (no sign: a "-" ends the number); the
  // closing ")" is skipped up to the end.  *given tells whether digits stood
  // there.
  bool Parenthesised(int64_t* out, bool* given = nullptr) {
    if (!Accept('(')) return false;
    *out = 0;
    bool digits = std::isdigit(static_cast<unsigned char>(Peek())) != 0;
    if (digits) Number(out);
    if (given) *given = digits;
    Until(')');
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

int32_t ToPixels(int64_t units, const ListMetrics& m) {
  int64_t d = std::max<int32_t>(1, m.unitsPerPixel);
  int64_t v = units >= 0 ? (units + d - 1) / d : -((-units + d - 1) / d);
  return static_cast<int32_t>(v);
}

uint32_t JustifyCode(char c) {
  switch (std::toupper(static_cast<unsigned char>(c))) {
    case 'R': return kColumnRight;
    case 'C': return kColumnCentre;
    case 'D': return kColumnDecimal;
    default: return kColumnLeft;
  }
}

// A colour of "E(...)": hexadecimal digits ending in "H", or an optional "-"
// and decimal digits.  The whole value is read however long it is (leading
// zeros are no reason to lose it or the colours after it); its number is
// clamped.
int32_t Colour(Reader& r) {
  std::string token;
  char last = 0;
  bool any = false;
  while (!r.AtEnd() && r.Peek() != ',' && r.Peek() != ')') {
    last = r.Take();
    any = true;
    // Leading zeros change no value; past 64 kept characters the number is
    // at its limit anyway.
    if (last == '0' && (token.empty() || token == "-")) continue;
    if (token.size() < 64) token.push_back(last);
  }
  if (!any) return kNoColour;
  if (token.empty() || token == "-") return 0;
  if (std::toupper(static_cast<unsigned char>(last)) == 'H') {
    if (std::toupper(static_cast<unsigned char>(token.back())) != 'H') token.push_back('H');
    uint64_t v = 0;
    for (size_t i = 0; i + 1 < token.size(); ++i) {
      int c = std::toupper(static_cast<unsigned char>(token[i]));
      if (!std::isxdigit(c)) break;
      v = std::min<uint64_t>(0xFFFFFFFF, v * 16 + static_cast<uint64_t>(std::isdigit(c) ? c - '0' : c - 'A' + 10));
    }
    return static_cast<int32_t>(static_cast<uint32_t>(v));
  }
  bool negative = token[0] == '-';
  int64_t v = 0;
  for (size_t i = negative ? 1 : 0; i < token.size() && std::isdigit(static_cast<unsigned char>(token[i])); ++i)
    v = std::min<int64_t>(0x7FFFFFFF, v * 10 + (token[i] - '0'));
  return static_cast<int32_t>(negative ? -v : v);
}

// "~" text "~", then an upper-case L, R, C or D with an optional "(" n ")".
void Header(Reader& r, std::string* text, int32_t* lines, uint32_t* justify, bool* justifyGiven, int64_t* indent,
            bool* indentGiven) {
  *text = std::string(r.Until('~'));
  *lines = 1 + static_cast<int32_t>(std::count(text->begin(), text->end(), '\n'));
  char c = r.Peek();
  if (c == 'L' || c == 'R' || c == 'C' || c == 'D') {
    r.Take();
    *justify = JustifyCode(c);
    *justifyGiven = true;
    if (r.Parenthesised(indent)) *indentGiven = true;
  }
}

class Parser {
 public:
  Parser(std::string_view text, const ListMetrics& m) : r_(text), m_(m) {}

  ListFormat Run() {
    Sequence(-1);
    Finish();
    return std::move(out_);
  }

 private:
  // Columns and groups until the end (or, inside a group, its "]").
  void Sequence(int32_t group) {
    while (!r_.AtEnd()) {
      if (r_.Peek() == ']') {
        if (group >= 0) return;
        r_.Take();  // a stray "]" at the top level starts nothing
        continue;
      }
      if (r_.Peek() == '[' && depth_ < kMaxGroupDepth) {
        r_.Take();
        ++depth_;
        Group(group);
        --depth_;
        continue;
      }
      Column(group);
    }
  }

  void Group(int32_t parent) {
    auto index = static_cast<int32_t>(out_.groups.size());
    out_.groups.push_back({});
    out_.groups[index].firstColumn = out_.columns.size();
    int32_t savedRowLeft = rowLeft_, savedTop = rowTop_, savedGroupLeft = groupLeft_;
    groupLeft_ = x_;
    rowLeft_ = x_;
    int32_t groupTop = rowTop_;
    maxRight_ = x_;
    Sequence(index);
    r_.Accept(']');
    ListGroup& g = out_.groups[index];
    g.endColumn = out_.columns.size();
    g.left = groupLeft_;
    g.right = std::max(maxRight_, x_);
    g.rows = 1 + (rowTop_ - groupTop) / std::max<int32_t>(1, m_.rowHeight);
    out_.rowsPerItem = std::max(out_.rowsPerItem, g.rows);
    GroupModifiers(g);
    // The next column follows the group on the group's first row.
    x_ = g.right;
    rowTop_ = savedTop;
    rowLeft_ = savedRowLeft;
    groupLeft_ = savedGroupLeft;
    (void)parent;
  }

  void GroupModifiers(ListGroup& g) {
    for (;;) {
      char c = r_.PeekUpper();
      if (r_.AtEnd()) return;
      int64_t n = 0;
      switch (c) {
        case 'M': r_.Take(); g.flags |= column::kResizable; break;
        case 'F': r_.Take(); g.flags |= column::kFixed; break;
        case 'S':
          r_.Take();
          g.flags |= column::kScroll;
          g.scrollWidth = ToPixels(ScrollUnits(), m_);
          break;
        case 'H':
          r_.Take();
          if (r_.Parenthesised(&n)) {
            g.flags2 |= column2::kHeaderOption;
            g.headerOption = static_cast<int32_t>(n);
          }
          break;
        case '|': r_.Take(); g.flags |= column::kRightBorder; break;
        case '_': r_.Take(); g.flags |= column::kUnderline; break;
        case '~': {
          r_.Take();
          bool justifyGiven = false, indentGiven = false;
          Header(r_, &g.header, &g.headerLines, &g.headerJustify, &justifyGiven, &n, &indentGiven);
          if (indentGiven) g.headerIndent = ToPixels(n, m_);
          break;
        }
        default: return;
      }
    }
  }

  // The units of "S", "S(" n ")": 100 when no number is given.
  int64_t ScrollUnits() {
    int64_t n = 0;
    bool given = false;
    return r_.Parenthesised(&n, &given) && given ? n : 100;
  }

  void Column(int32_t group) {
    ListColumn col;
    col.group = group;
    int64_t width = 0;
    r_.Number(&width, true);
    uint32_t justify = r_.AtEnd() ? kColumnLeft : JustifyCode(r_.Take());
    col.flags |= justify | (justify << 2);
    int64_t indent = 0;
    if (r_.Parenthesised(&indent)) {
      col.dataIndent = ToPixels(indent, m_);
      col.indent = col.dataIndent;
    }
    int32_t px = ToPixels(width, m_);
    col.width = std::max(0, px);
    col.left = x_;
    col.right = px > 0 ? AddClamped(x_, px) : x_ - 1;
    col.top = rowTop_;
    col.bottom = AddClamped(rowTop_, m_.rowHeight);
    Modifiers(col);
    if (col.flags & column::kUnderline) col.bottom -= m_.lineThickness;

    // Queue fields.
    if (!col.explicitField) col.field = nextField_;
    nextField_ = FieldsOf(col).next;
    if (!col.picture.empty()) col.pictureKind = static_cast<uint8_t>(values::CompilePicture(col.picture).kind);
    if (col.flags & column::kLocator) out_.locator = static_cast<int32_t>(out_.columns.size());

    x_ = AddClamped(x_, col.width);
    maxRight_ = std::max(maxRight_, x_);
    out_.width = std::max(out_.width, x_);
    if ((col.flags & column::kRowBreak) && group >= 0) {
      // The next column starts again at the group's left edge, a row lower.
      x_ = groupLeft_;
      rowTop_ = AddClamped(rowTop_, m_.rowHeight);
    }
    out_.columns.push_back(std::move(col));
  }

  void Modifiers(ListColumn& col) {
    bool havePicture = false;
    for (;;) {
      if (r_.AtEnd()) return;
      char c = r_.PeekUpper();
      int64_t n = 0;
      switch (c) {
        // "E", "Z" and "Q" are modifiers only with their delimiter; without
        // it the letter begins the next column (only "H" is taken alone).
        case 'E':
          if (!r_.PeekAt(1, '(')) return;
          r_.Take();
          r_.Take();
          for (int i = 0; i < 4; ++i) {
            col.colours[i] = Colour(r_);
            if (!r_.Accept(',')) break;
          }
          r_.Until(')');
          break;
        case '/': r_.Take(); col.flags |= column::kRowBreak | column::kLastInGroupRow; break;
        case '@': {
          r_.Take();
          std::string_view pic = r_.Until('@');
          if (!havePicture) {
            col.picture = "@" + std::string(pic);
            havePicture = true;
          }
          break;
        }
        case '?': r_.Take(); col.flags |= column::kLocator; break;
        case '#':
          r_.Take();
          if (r_.Number(&n) && n > 0) {
            col.field = static_cast<uint32_t>(n);
            col.explicitField = true;
          }
          r_.Until('#');
          break;
        case '*': r_.Take(); col.flags2 |= column2::kQueueColours; break;
        case 'J': r_.Take(); col.flags |= column::kIcon; col.flags2 |= column2::kTransparentIcon; break;
        case 'I': r_.Take(); col.flags |= column::kIcon; break;
        case 'Y': r_.Take(); col.flags2 |= column2::kQueueStyle; break;
        case 'Z':
          if (!r_.PeekAt(1, '(')) return;
          r_.Take();
          r_.Parenthesised(&n);
          col.defaultStyle = static_cast<int32_t>(n);
          break;
        case 'P': r_.Take(); col.flags2 |= column2::kQueueTip; break;
        case 'Q':
          if (!r_.PeekAt(1, '\'')) return;
          r_.Take();
          r_.Take();
          col.defaultTip = std::string(r_.Until('\''));
          col.flags2 |= column2::kDefaultTip;
          break;
        case 'T':
          r_.Take();
          col.flags |= column::kTree;
          if (r_.Accept('(')) {
            while (!r_.AtEnd() && r_.Peek() != ')') {
              switch (r_.Take()) {
                case 'L': col.flags2 |= column2::kTreeL; break;
                case '1': col.flags2 |= column2::kTree1; break;
                case 'R': col.flags2 |= column2::kTreeR; break;
                case 'B': col.flags2 |= column2::kTreeB; break;
                case 'I': col.flags2 |= column2::kTreeI; break;
                default: break;
              }
            }
            r_.Accept(')');
          }
          break;
        case 'M': r_.Take(); col.flags |= column::kResizable; break;
        case 'F': r_.Take(); col.flags |= column::kFixed; break;
        case 'S':
          r_.Take();
          col.flags |= column::kScroll;
          col.scrollWidth = ToPixels(ScrollUnits(), m_);
          break;
        case 'H':
          r_.Take();
          if (r_.Parenthesised(&n)) {
            col.flags2 |= column2::kHeaderOption;
            col.headerOption = static_cast<int32_t>(n);
          }
          break;
        case '|': r_.Take(); col.flags |= column::kRightBorder; break;
        case '_': r_.Take(); col.flags |= column::kUnderline; break;
        case '~': {
          r_.Take();
          uint32_t justify = col.headerJustify();
          bool justifyGiven = false, indentGiven = false;
          Header(r_, &col.header, &col.headerLines, &justify, &justifyGiven, &n, &indentGiven);
          if (justifyGiven) col.flags = (col.flags & ~column::kHeaderJustifyMask) | (justify << 2);
          if (indentGiven) col.indent = ToPixels(n, m_);
          break;
        }
        default: return;
      }
    }
  }

  void Finish() {
    for (const ListColumn& c : out_.columns)
      if (!c.header.empty()) out_.headerLines = std::max(out_.headerLines, c.headerLines);
    for (const ListGroup& g : out_.groups)
      if (!g.header.empty()) out_.headerLines = std::max(out_.headerLines, g.headerLines);
  }

  Reader r_;
  const ListMetrics& m_;
  ListFormat out_;
  static constexpr int kMaxGroupDepth = 32;  // deeper "[" read as a column
  int depth_ = 0;
  uint32_t nextField_ = 1;
  int32_t x_ = 0, rowTop_ = 0, rowLeft_ = 0, groupLeft_ = 0, maxRight_ = 0;
};

}  // namespace

ListFormat ParseListFormat(std::string_view format, const ListMetrics& metrics) {
  return Parser(format, metrics).Run();
}

ColumnFields FieldsOf(const ListColumn& column) {
  ColumnFields f;
  f.value = column.field;
  uint32_t last = column.field;
  if (column.flags2 & column2::kQueueColours) {
    f.colours = last + 1;
    last += 4;
  }
  if (column.flags & column::kIcon) f.icon = ++last;
  if (column.flags & column::kTree) f.treeLevel = ++last;
  if (column.flags2 & column2::kQueueStyle) f.style = ++last;
  if (column.flags2 & column2::kQueueTip) f.tip = ++last;
  f.next = last + 1;
  return f;
}

}  // namespace pr::ui
