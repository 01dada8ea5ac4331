// The list box's FORMAT string: its grammar, the columns it describes and the
// queue fields that feed them.
//
// Grammar (read left to right, no separators between columns):
//   format  := { column | group }
//   group   := "[" { column | group } "]" { groupModifier }
//   column  := width justification [ "(" indent ")" ] { modifier }
//   width   := [ "-" ] digits          (missing: 0)
//   justification := any one character: L left, R right, C centre,
//                    D decimal, anything else left (it is always consumed)
//   modifier := E(c1,c2,c3,c4) | "/" | "@" picture "@" | "?" | "#" n "#" |
//               "*" | J | I | Y | Z(n) | P | Q'tip' | T[(opts)] | M | F |
//               S[(n)] | H[(n)] | "|" | "_" | "~" header "~" [L|R|C|D [(n)]]
// Modifiers repeat until a character none of them accepts; that character
// begins the next column.  Letters are accepted in either case, except the
// header justification letters after "~...~" (upper case only) and the tree
// options (upper case).  A missing closing "~", "@", ")", "'" or "#" ends the
// item at the end of the text.  The parser never reads outside the text and
// has no error state.
//
// Units.  Widths, indents and scroll widths are window units, converted to
// pixels (here cells) with the metrics' horizontal conversion.
//
// Thread safety: ParseListFormat is a pure function of its arguments.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pr::ui {

namespace column {
enum : uint32_t {
  kJustifyMask = 0x3,        // data: 0 left, 1 right, 2 centre, 3 decimal
  kHeaderJustifyMask = 0xC,  // header: the same codes shifted left by 2
  kRightBorder = 0x10,
  kUnderline = 0x20,
  kFixed = 0x40,
  kScroll = 0x80,
  kResizable = 0x100,
  kLastInGroupRow = 0x200,
  kLocator = 0x400,
  kIcon = 0x800,
  kRowBreak = 0x4000,  // set together with kLastInGroupRow by "/"
  kTree = 0x8000,
};
}  // namespace column

namespace column2 {
enum : uint32_t {
  kQueueColours = 0x1,
  kHeaderOption = 0x2,
  kTreeL = 0x4,
  kTreeB = 0x8,
  kTreeI = 0x10,
  kTree1 = 0x20,
  kTreeR = 0x40,
  kQueueStyle = 0x80,
  kTransparentIcon = 0x100,
  kQueueTip = 0x200,
  kDefaultTip = 0x400,
};
}  // namespace column2

enum ColumnJustify : uint32_t { kColumnLeft = 0, kColumnRight = 1, kColumnCentre = 2, kColumnDecimal = 3 };

inline constexpr int32_t kNoColour = -1;

struct ListColumn {
  uint32_t flags = 0;
  uint32_t flags2 = 0;
  int32_t indent = 0;        // header indent, pixels
  int32_t headerLines = 1;   // 1 plus the line feeds of the header
  std::string header;        // empty: none
  int32_t dataIndent = 0;    // pixels
  int32_t left = 0, top = 0, right = 0, bottom = 0;  // cell within the row, pixels
  int32_t width = 0;         // pixels; 0 when the width was 0 or negative
  std::string picture;       // with its leading "@"; empty when absent
  uint32_t field = 0;        // queue field of the value, 1-based
  bool explicitField = false;
  int32_t colours[4] = {kNoColour, kNoColour, kNoColour, kNoColour};  // text, back, selected text, selected back
  int32_t defaultStyle = 0;
  int32_t headerOption = 0;  // the number of "H(n)"
  std::string defaultTip;
  int32_t scrollWidth = 0;   // pixels
  uint8_t pictureKind = 0;   // values::PictureKind of the picture
  int32_t group = -1;        // index of the innermost group holding it, -1 when none

  uint32_t dataJustify() const { return flags & column::kJustifyMask; }
  uint32_t headerJustify() const { return (flags & column::kHeaderJustifyMask) >> 2; }
};

// A "[...]" group: its columns and the modifiers written after "]".
struct ListGroup {
  size_t firstColumn = 0, endColumn = 0;  // [first, end) of the columns
  uint32_t flags = 0;                     // kRightBorder, kUnderline, kFixed, kScroll, kResizable
  uint32_t flags2 = 0;                    // kHeaderOption
  std::string header;
  int32_t headerLines = 1;
  uint32_t headerJustify = kColumnLeft;
  int32_t headerIndent = 0;
  int32_t scrollWidth = 0;
  int32_t headerOption = 0;
  int32_t left = 0, right = 0;  // extent, pixels
  int32_t rows = 1;             // rows of cells inside the group
};

struct ListMetrics {
  // Window units per pixel across: a positive value v becomes ceil(v / unitsPerPixel),
  // a negative one -ceil(-v / unitsPerPixel).  4 for dialog units in cells.
  int32_t unitsPerPixel = 4;
  int32_t rowHeight = 1;      // pixels of one row of cells
  int32_t lineThickness = 0;  // pixels an underline takes from the cell's bottom
};

struct ListFormat {
  std::vector<ListColumn> columns;
  std::vector<ListGroup> groups;
  int32_t locator = -1;     // index of the locator column, -1 when none
  int32_t rowsPerItem = 1;  // rows of cells one queue entry takes
  int32_t width = 0;        // total width, pixels
  int32_t headerLines = 0;  // lines of the tallest header (0: no header at all)
};

// Builds the columns of `format` from scratch.  Never fails.
ListFormat ParseListFormat(std::string_view format, const ListMetrics& metrics = {});

// The queue fields of one column: its value and its companions (0: absent).
struct ColumnFields {
  uint32_t value = 0;
  uint32_t colours = 0;  // first of four: text, background, selected text, selected background
  uint32_t icon = 0;
  uint32_t treeLevel = 0;
  uint32_t style = 0;
  uint32_t tip = 0;
  uint32_t next = 0;  // first field of the next column
};
ColumnFields FieldsOf(const ListColumn& column);

}  // namespace pr::ui
