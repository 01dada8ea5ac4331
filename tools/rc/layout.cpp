// Lays declared windows out in the compiled window resource format.
//
// Order of the image: the name, the list head, then for every window the
// items its record refers to, the window record, and for every control the
// items it refers to followed by the control record.  The items in front of a
// record are written in descending order of the field that refers to them
// (so a window's title comes before its label), each text NUL-terminated.
#include <algorithm>

#include "tools/rc/declarations.h"
#include "ui/resource_format.h"

namespace pr::rc {
namespace {

namespace f = pr::ui::rsc;

class Image {
 public:
  // The image is kept as the decoded buffer: index == relative offset.
  Image() : buf_(2, 0) {}

  uint32_t Size() const { return static_cast<uint32_t>(buf_.size()); }

  uint32_t Reserve(uint32_t n) {
    uint32_t at = Size();
    if (buf_.size() + n > 0x7FFFFFFFu) throw CompileError("resource too large");
    buf_.resize(buf_.size() + n, 0);
    return at;
  }
  void Put8(uint32_t at, uint32_t v) { buf_.at(at) = static_cast<uint8_t>(v); }
  void Put16(uint32_t at, uint32_t v) {
    Put8(at, v);
    Put8(at + 1, v >> 8);
  }
  void Put32(uint32_t at, uint32_t v) {
    Put16(at, v);
    Put16(at + 2, v >> 16);
  }

  // An empty text is stored as offset 0 (absent).
  uint32_t Text(const std::string& s) {
    if (s.empty()) return 0;
    uint32_t at = Reserve(static_cast<uint32_t>(s.size()) + 1);
    std::copy(s.begin(), s.end(), buf_.begin() + at);
    return at;
  }

  const std::vector<uint8_t>& Bytes() const { return buf_; }

 private:
  std::vector<uint8_t> buf_;
};

uint32_t EmitItem(Image& img, const FieldSpec& field, const Value& v) {
  switch (field.kind) {
    case FieldKind::kText: return img.Text(v.text);
    case FieldKind::kVar: {
      uint32_t at = img.Reserve(f::var::kLength);
      img.Put8(at + f::var::kTypeCode, v.varType);
      img.Put32(at + f::var::kSize, v.varSize);
      return at;
    }
    case FieldKind::kFont: {
      uint32_t at = img.Reserve(f::font::kLength);
      img.Put32(at + f::font::kFace, img.Text(v.font.face));
      img.Put32(at + f::font::kPoints, v.font.points);
      img.Put32(at + f::font::kColour, v.font.colour);
      img.Put32(at + f::font::kWeight, v.font.weight);
      return at;
    }
    case FieldKind::kTextList: {
      std::vector<uint32_t> texts;
      for (const std::string& t : v.texts) texts.push_back(img.Text(t));
      uint32_t first = img.Reserve(static_cast<uint32_t>(texts.size()) * f::textnode::kLength);
      for (size_t i = 0; i < texts.size(); ++i) {
        uint32_t node = first + static_cast<uint32_t>(i) * f::textnode::kLength;
        img.Put32(node + f::textnode::kText, texts[i]);
        img.Put32(node + f::textnode::kNext, i + 1 < texts.size() ? node + f::textnode::kLength : 0);
      }
      return first;
    }
    default: return 0;
  }
}

bool IsReference(FieldKind k) {
  return k == FieldKind::kText || k == FieldKind::kVar || k == FieldKind::kFont || k == FieldKind::kTextList;
}

// Writes the items of one record and the record itself; returns the record's
// relative offset.  `feq` is 0 for a window.
uint32_t EmitRecord(Image& img, const RecordDecl& rec, uint32_t feq) {
  const RecordSpec& described = *rec.described;
  struct Ref {
    uint32_t pos;
    const FieldSpec* field;
    const Value* value;
  };
  FieldSpec labelField{"label", FieldKind::kText, described.labelPos};
  Value labelValue;
  labelValue.text = rec.label;
  std::vector<Ref> refs{{described.labelPos, &labelField, &labelValue}};
  for (auto& [field, value] : rec.values)
    if (IsReference(field->kind)) refs.push_back({field->pos, field, &value});
  std::sort(refs.begin(), refs.end(), [](const Ref& a, const Ref& b) { return a.pos > b.pos; });
  std::vector<std::pair<uint32_t, uint32_t>> offsets;  // field position, item offset
  for (const Ref& r : refs) offsets.emplace_back(r.pos, EmitItem(img, *r.field, *r.value));

  uint32_t at = img.Reserve(described.length);
  img.Put8(at, described.type);
  // Positions and sizes not declared are "not given".
  for (const FieldSpec& field : described.fields)
    if (field.kind == FieldKind::kPair) {
      img.Put32(at + field.pos, f::kNotGiven);
      img.Put32(at + field.pos2, f::kNotGiven);
    }
  if (feq != 0) img.Put32(at + f::head::kFeq, feq);
  for (auto& [pos, offset] : offsets) img.Put32(at + pos, offset);
  for (auto& [field, v] : rec.values) {
    uint32_t p = at + field->pos;
    switch (field->kind) {
      case FieldKind::kU8: img.Put8(p, static_cast<uint32_t>(v.number)); break;
      case FieldKind::kU16: img.Put16(p, static_cast<uint32_t>(v.number)); break;
      case FieldKind::kU32:
      case FieldKind::kI32: img.Put32(p, static_cast<uint32_t>(v.number)); break;
      case FieldKind::kPair:
        img.Put32(p, static_cast<uint32_t>(v.number));
        img.Put32(at + field->pos2, static_cast<uint32_t>(v.number2));
        break;
      default: break;
    }
  }
  return at;
}

}  // namespace

std::vector<uint8_t> LayOut(const ResourceDecl& res) {
  Image img;
  img.Reserve(4);  // list head at relative offset 2
  uint32_t previousWindow = 0;
  for (const WindowDecl& w : res.windows) {
    uint32_t rec = EmitRecord(img, w.record, 0);
    img.Put32(previousWindow == 0 ? f::kListHead : previousWindow + f::window::kNext, rec);
    previousWindow = rec;
    uint32_t previousControl = 0;
    uint32_t feq = 0;
    for (const RecordDecl& c : w.controls) {
      uint32_t crec = EmitRecord(img, c, ++feq);
      img.Put32(previousControl == 0 ? rec + f::window::kFirstControl : previousControl + f::head::kNext, crec);
      previousControl = crec;
    }
  }
  std::vector<uint8_t> out(res.qualifiedName.begin(), res.qualifiedName.end());
  out.push_back(0);
  out.insert(out.end(), img.Bytes().begin() + 2, img.Bytes().end());
  return out;
}

}  // namespace pr::rc
