// Window declarations: the readable source of a compiled window resource.
//
// A declaration file describes the windows of one source module:
//
//   resource "PR_DLL$PR_DL004"          # module-qualified name; resource PR_DL004_RSC
//   window "P1$FORMWINDOW"
//     title "Update Records..." size 160 80 attr 0x810 options 0x3000
//     prompt "?PAR:ID:PROMPT" text "ID:" at 27 17
//     entry "?PAR:ID" use LONG 4 picture "n-14" at 77 16 size 60 10 attr 0x28 indent 1
//   end
//
// A window's attributes come first, then its controls; each control starts
// with its kind and label and takes the attributes that follow until the next
// control or "end".  Line breaks are not significant; "#" starts a comment.
// Field equate numbers are given in declaration order.  Omitted positions and
// sizes are stored as "not given"; every other omitted field is 0.  Texts are
// UTF-8 and stored as Windows-1250.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pr::rc {

struct CompileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class FieldKind { kU8, kU16, kU32, kI32, kPair, kText, kVar, kFont, kTextList };

struct FieldSpec {
  const char* name;
  FieldKind kind;
  uint32_t pos;
  uint32_t pos2 = 0;  // second position of a pair
};

struct RecordSpec {
  const char* keyword;  // "window", "entry", ...
  uint8_t type;
  uint32_t length;
  uint32_t labelPos;
  std::vector<FieldSpec> fields;
};

// The record kinds the compiler can lay out (window first).
const std::vector<RecordSpec>& RecordSpecs();
const RecordSpec* FindRecordSpec(std::string_view keyword);

struct FontValue {
  std::string face;
  uint32_t points = 0;
  uint32_t colour = 0xFFFFFFFFu;
  uint32_t weight = 0xFFFFFFFFu;
};

struct Value {
  int64_t number = 0;   // kU8 .. kI32, and the first of a pair
  int64_t number2 = 0;  // second of a pair
  std::string text;     // kText, Windows-1250
  uint8_t varType = 0;  // kVar
  uint32_t varSize = 0;
  FontValue font;                  // kFont
  std::vector<std::string> texts;  // kTextList
};

struct RecordDecl {
  const RecordSpec* described = nullptr;
  int line = 0;
  std::string label;
  std::vector<std::pair<const FieldSpec*, Value>> values;
};

struct WindowDecl {
  RecordDecl record;
  std::vector<RecordDecl> controls;
};

struct ResourceDecl {
  std::string qualifiedName;  // Windows-1250
  std::string resourceName;   // the part after the first "$" (or all of it) + "_RSC"
  std::vector<WindowDecl> windows;
};

// Parses one declaration file.  Throws CompileError ("file:line: message") on
// any error: unknown word, missing value, number out of range for its field,
// text not representable in Windows-1250, a field given twice.
ResourceDecl ParseDeclarations(std::string_view source, const std::string& fileName);

// Lays the resource out in the binary format (see ui/resource_format.h).
std::vector<uint8_t> LayOut(const ResourceDecl& resource);

}  // namespace pr::rc
