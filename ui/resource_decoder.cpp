#include "ui/resource_decoder.h"

#include <cstring>

namespace pr::ui {
namespace {

namespace f = rsc;

// Bounds-checked reads over the decoded buffer.  The first failed check
// makes the reader bad; later reads return zeros, so a decoder can read a
// whole record and test ok() once.
class Reader {
 public:
  // A well-formed resource refers to each text once or a few times; the
  // text budget stops a hostile one that points thousands of records at one
  // long text from blowing the copy up quadratically.
  explicit Reader(std::span<const uint8_t> b) : b_(b), textBudget_(4 * static_cast<uint64_t>(b.size()) + 4096) {}

  bool ok() const { return ok_; }
  void Fail() { ok_ = false; }

  // True when `length` bytes from `rel` lie inside the buffer.
  bool Fits(uint32_t rel, uint32_t length) {
    if (static_cast<uint64_t>(rel) + length > b_.size()) ok_ = false;
    return ok_;
  }

  uint8_t U8(uint32_t rel) { return Fits(rel, 1) ? b_[rel] : 0; }
  uint16_t U16(uint32_t rel) { return Fits(rel, 2) ? static_cast<uint16_t>(b_[rel] | b_[rel + 1] << 8) : 0; }
  uint32_t U32(uint32_t rel) {
    if (!Fits(rel, 4)) return 0;
    return static_cast<uint32_t>(b_[rel]) | static_cast<uint32_t>(b_[rel + 1]) << 8 |
           static_cast<uint32_t>(b_[rel + 2]) << 16 | static_cast<uint32_t>(b_[rel + 3]) << 24;
  }
  int32_t I32(uint32_t rel) { return static_cast<int32_t>(U32(rel)); }

  // The NUL-terminated text at relative offset `rel`; 0 is the empty text.
  std::string Text(uint32_t rel) {
    if (rel == 0) return {};
    if (!Fits(rel, 1)) return {};
    const void* nul = std::memchr(b_.data() + rel, 0, b_.size() - rel);
    if (nul == nullptr) {
      ok_ = false;
      return {};
    }
    size_t length = static_cast<const uint8_t*>(nul) - (b_.data() + rel);
    if (length > textBudget_) {
      ok_ = false;
      return {};
    }
    textBudget_ -= length;
    return std::string(reinterpret_cast<const char*>(b_.data() + rel), length);
  }
  // The text whose offset is stored at `field`.
  std::string TextAt(uint32_t field) { return Text(U32(field)); }

  VariableSpec Variable(uint32_t field) {
    VariableSpec v;
    uint32_t rel = U32(field);
    if (rel == 0 || !Fits(rel, f::var::kLength)) return v;
    v.present = true;
    v.type = U8(rel + f::var::kTypeCode);
    v.size = U32(rel + f::var::kSize);
    return v;
  }

  FontSpec Font(uint32_t field) {
    FontSpec font;
    uint32_t rel = U32(field);
    if (rel == 0 || !Fits(rel, f::font::kLength)) return font;
    font.present = true;
    font.face = TextAt(rel + f::font::kFace);
    font.points = U32(rel + f::font::kPoints);
    font.colour = U32(rel + f::font::kColour);
    font.weight = U32(rel + f::font::kWeight);
    return font;
  }

  // Upper bound on the length of any list in the buffer: every list element
  // takes at least `elementSize` bytes, so a longer walk has met a cycle.
  uint64_t MaxElements(uint32_t elementSize) const { return b_.size() / elementSize + 1; }

 private:
  std::span<const uint8_t> b_;
  uint64_t textBudget_;
  bool ok_ = true;
};

Justification JustificationOf(uint32_t attr) {
  switch (attr & f::kJustifyMask) {
    case f::kJustifyRight: return Justification::kRight;
    case f::kJustifyDecimal: return Justification::kDecimal;
    case f::kJustifyCentre: return Justification::kCentre;
    default: return Justification::kLeft;
  }
}

void ReadRect(Reader& r, uint32_t rel, uint32_t xPos, ControlSpec& c) {
  c.x = r.I32(rel + xPos);
  c.y = r.I32(rel + xPos + 4);
  c.width = r.I32(rel + xPos + 8);
  c.height = r.I32(rel + xPos + 12);
}

std::string Picture(Reader& r, uint32_t field) {
  std::string p = r.TextAt(field);
  return p.empty() ? p : "@" + p;
}

bool DecodeControl(Reader& r, uint32_t rel, ControlSpec& c) {
  if (!r.Fits(rel, f::head::kLength)) return false;
  c.type = r.U8(rel + f::head::kType);
  c.record = rel;
  uint32_t length = f::RecordLength(c.type);
  if (length != 0 && !r.Fits(rel, length)) return false;
  c.attr = r.U32(rel + f::head::kAttr);
  c.attr2 = r.U32(rel + f::head::kAttr2);
  c.feq = r.I32(rel + f::head::kFeq);
  c.label = r.TextAt(rel + f::head::kLabel);
  c.justification = JustificationOf(c.attr);
  switch (c.type) {
    case f::kPrompt:
    case f::kString:
      ReadRect(r, rel, f::kPlainX, c);
      c.tip = r.TextAt(rel + f::prompt::kDesc);
      c.text = r.TextAt(rel + f::prompt::kText);
      break;
    case f::kEntry:
      c.use = r.Variable(rel + f::head::kUse);
      ReadRect(r, rel, f::kBoundX, c);
      c.picture = Picture(r, rel + f::entry::kPicture);
      c.indent = r.I32(rel + f::entry::kIndent);
      break;
    case f::kButton:
      ReadRect(r, rel, f::kPlainX, c);
      c.tip = r.TextAt(rel + f::button::kDesc);
      c.message = r.TextAt(rel + f::button::kDesc2);
      c.text = r.TextAt(rel + f::button::kText);
      c.icon = r.TextAt(rel + f::button::kIcon);
      c.action = r.U32(rel + f::button::kAction);
      c.buttonOptions = r.U8(rel + f::button::kOptions);
      c.time1 = r.U16(rel + f::button::kTime1);
      c.time2 = r.U16(rel + f::button::kTime2);
      break;
    case f::kList:
      c.use = r.Variable(rel + f::head::kUse);
      c.format = r.TextAt(rel + f::list::kFormat);
      ReadRect(r, rel, f::kListX, c);
      c.tip = r.TextAt(rel + f::list::kDesc);
      c.listSetup = r.U32(rel + f::list::kSetup);
      c.from = r.Variable(rel + f::list::kFrom);
      c.listOptions = r.U32(rel + f::list::kOptions);
      c.listMode = r.U8(rel + f::list::kMode);
      c.barColour = r.U32(rel + f::list::kBarColour);
      c.furtherText = r.TextAt(rel + f::list::kText);
      break;
    case f::kText:
    case f::kCheck:
    case f::kSpin:
      c.use = r.Variable(rel + f::head::kUse);
      ReadRect(r, rel, f::kBoundX, c);
      c.tip = r.TextAt(rel + f::text::kDesc);
      c.message = r.TextAt(rel + f::text::kDesc2);
      if (c.type == f::kCheck) c.text = r.TextAt(rel + f::text::kCaption);
      if (c.type == f::kSpin) {
        c.picture = Picture(r, rel + f::spin::kPicture);
        c.indent = r.I32(rel + f::spin::kIndent);
        c.low = r.I32(rel + f::spin::kLow);
        c.high = r.I32(rel + f::spin::kHigh);
        c.step = r.I32(rel + f::spin::kStep);
      }
      break;
    case f::kPanel:
    case f::kProgress:
      ReadRect(r, rel, f::kPlainX, c);
      c.tip = r.TextAt(rel + f::panel::kDesc);
      c.text = r.TextAt(rel + f::panel::kText);
      break;
    default:
      // A record whose layout this runtime does not fix: only its head is
      // read; the control gets no position, size or texts from it.
      break;
  }
  // A descriptive text starting with "~" gives way to the second text.
  if (!c.tip.empty() && c.tip[0] == '~' && !c.message.empty()) c.tip = c.message;
  return r.ok();
}

}  // namespace

bool SplitResource(std::span<const uint8_t> raw, std::string* qualifiedName, std::vector<uint8_t>* buffer) {
  const void* nul = std::memchr(raw.data(), 0, raw.size());
  if (raw.empty() || nul == nullptr) return false;
  size_t nameLength = static_cast<const uint8_t*>(nul) - raw.data();
  if (raw.size() - nameLength - 1 > 0x7FFFFFF0u) return false;
  qualifiedName->assign(reinterpret_cast<const char*>(raw.data()), nameLength);
  // Both leading bytes are zero: relative offsets 0 and 1 then read as the
  // empty text instead of uninitialised memory.
  buffer->assign(2, 0);
  buffer->insert(buffer->end(), raw.begin() + static_cast<std::ptrdiff_t>(nameLength) + 1, raw.end());
  return true;
}

bool SameName(std::string_view a, std::string_view b, const uint8_t* upperTable) {
  if (a.size() != b.size()) return false;
  auto upper = [upperTable](unsigned char c) -> unsigned char {
    if (upperTable != nullptr) return upperTable[c];
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c;
  };
  for (size_t i = 0; i < a.size(); ++i)
    if (upper(static_cast<unsigned char>(a[i])) != upper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

FindResult FindWindowRecord(std::span<const uint8_t> buffer, std::string_view label, uint32_t* record,
                            const uint8_t* upper) {
  Reader r(buffer);
  uint32_t rel = r.U32(f::kListHead);
  uint64_t budget = r.MaxElements(f::RecordLength(f::kWindow));
  while (r.ok() && rel != 0) {
    if (budget-- == 0 || !r.Fits(rel, f::RecordLength(f::kWindow))) return FindResult::kMalformed;
    if (r.U8(rel + f::window::kType) != f::kWindow) return FindResult::kMalformed;
    std::string windowLabel = r.TextAt(rel + f::window::kLabel);
    if (!r.ok()) break;
    if (SameName(windowLabel, label, upper)) {
      *record = rel;
      return FindResult::kFound;
    }
    rel = r.U32(rel + f::window::kNext);
  }
  return r.ok() ? FindResult::kNotFound : FindResult::kMalformed;
}

FindResult ListWindowRecords(std::span<const uint8_t> buffer, std::vector<uint32_t>* records) {
  Reader r(buffer);
  records->clear();
  uint32_t rel = r.U32(f::kListHead);
  uint64_t budget = r.MaxElements(f::RecordLength(f::kWindow));
  while (r.ok() && rel != 0) {
    if (budget-- == 0 || !r.Fits(rel, f::RecordLength(f::kWindow)) || r.U8(rel) != f::kWindow)
      return FindResult::kMalformed;
    records->push_back(rel);
    rel = r.U32(rel + f::window::kNext);
  }
  if (!r.ok()) return FindResult::kMalformed;
  return records->empty() ? FindResult::kNotFound : FindResult::kFound;
}

bool DecodeWindow(std::span<const uint8_t> buffer, uint32_t rel, WindowSpec* out) {
  Reader r(buffer);
  WindowSpec w;
  if (rel == 0 || !r.Fits(rel, f::RecordLength(f::kWindow)) || r.U8(rel) != f::kWindow) return false;
  w.record = rel;
  w.attr = r.U32(rel + f::window::kAttr);
  w.attr2 = r.U32(rel + f::window::kAttr2);
  w.x = r.I32(rel + f::window::kX);
  w.y = r.I32(rel + f::window::kY);
  w.width = r.I32(rel + f::window::kWidth);
  w.height = r.I32(rel + f::window::kHeight);
  w.label = r.TextAt(rel + f::window::kLabel);
  w.font = r.Font(rel + f::window::kFont);
  w.title = r.TextAt(rel + f::window::kTitle);
  w.texts[0] = r.TextAt(rel + f::window::kText1);
  w.texts[1] = r.TextAt(rel + f::window::kText2);
  w.texts[2] = r.TextAt(rel + f::window::kText3);
  w.texts[3] = r.TextAt(rel + f::window::kText4);
  w.options = r.U32(rel + f::window::kOptions);
  w.keyCode = r.U8(rel + f::window::kKeyCode);
  w.keyText = r.TextAt(rel + f::window::kKeyText);

  uint64_t budget = r.MaxElements(f::textnode::kLength);
  for (uint32_t node = r.U32(rel + f::window::kTextList); r.ok() && node != 0;
       node = r.U32(node + f::textnode::kNext)) {
    if (budget-- == 0 || !r.Fits(node, f::textnode::kLength)) return false;
    w.textList.push_back(r.TextAt(node + f::textnode::kText));
  }

  budget = r.MaxElements(f::head::kLength);
  for (uint32_t c = r.U32(rel + f::window::kFirstControl); r.ok() && c != 0; c = r.U32(c + f::head::kNext)) {
    if (budget-- == 0) return false;
    ControlSpec control;
    if (!DecodeControl(r, c, control)) return false;
    w.controls.push_back(std::move(control));
  }
  if (!r.ok()) return false;
  *out = std::move(w);
  return true;
}

}  // namespace pr::ui
