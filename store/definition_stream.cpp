#include "store/definition_stream.h"

#include <cstring>

namespace pr::store {

namespace {

constexpr size_t kBlock = 512;
// Stored strings are labels and names; anything longer is damage.
constexpr size_t kMaxStoredString = 4096;
// Block numbers are u16: the stream cannot run past this.
constexpr size_t kMaxStreamBytes = size_t{65536} * kBlock;

enum class Mode { kWrite, kCompare, kRead };

// The walk's access to the stream.  In write mode values go out; in compare
// and read mode they come in through the block loader.  After the first
// failure (corruption or a mismatch) every call is a no-op.
class Walker {
 public:
  Walker(Mode mode, const DefinitionBlockLoader* load, bool decimalCheck)
      : mode_(mode), load_(load), decimalCheck_(decimalCheck) {}

  Mode mode() const { return mode_; }
  bool decimalCheck() const { return decimalCheck_; }
  bool stopped() const { return result_ != WalkResult::kOk; }
  WalkResult result() const { return result_; }
  const DefinitionMismatch& mismatch() const { return mismatch_; }
  std::vector<uint8_t>& written() { return out_; }

  // Each value call writes `v` (write), reads into `v` (read) or returns the
  // stored value leaving `v` alone (compare).  The stored value is returned.
  uint8_t U8(uint8_t& v) {
    if (stopped()) return v;
    if (mode_ == Mode::kWrite) {
      out_.push_back(v);
      return v;
    }
    uint8_t s = 0;
    if (!Byte(&s)) return v;
    if (mode_ == Mode::kRead) v = s;
    return s;
  }
  uint16_t U16(uint16_t& v) {
    if (stopped()) return v;
    if (mode_ == Mode::kWrite) {
      out_.push_back(uint8_t(v));
      out_.push_back(uint8_t(v >> 8));
      return v;
    }
    uint8_t lo = 0, hi = 0;
    if (!Byte(&lo) || !Byte(&hi)) return v;
    uint16_t s = uint16_t(lo | hi << 8);
    if (mode_ == Mode::kRead) v = s;
    return s;
  }
  void Str(std::string& v) {
    if (stopped()) return;
    if (mode_ == Mode::kWrite) {
      // A stored string ends at its first zero byte.
      size_t n = strnlen(v.data(), v.size());
      out_.insert(out_.end(), v.begin(), v.begin() + n);
      out_.push_back(0);
      if (n == 0) out_.push_back(0);
      return;
    }
    std::string s;
    uint8_t c = 0;
    for (;;) {
      if (!Byte(&c)) return;
      if (c == 0) break;
      if (s.size() >= kMaxStoredString) return Fail(WalkResult::kCorrupt);
      s.push_back(char(c));
    }
    if (s.empty() && !Byte(&c)) return;
    if (mode_ == Mode::kRead) v = std::move(s);
  }

  // In compare mode, records the first difference and stops the walk.
  void Check(bool equal, CheckCategory category, const char* item, int itemNumber) {
    if (stopped() || mode_ != Mode::kCompare || equal) return;
    Mismatch({category, 0, item, itemNumber});
  }
  void Mismatch(const DefinitionMismatch& m) {
    mismatch_ = m;
    Fail(WalkResult::kMismatch);
  }

 private:
  void Fail(WalkResult r) {
    if (!stopped()) result_ = r;
  }
  bool Byte(uint8_t* b) {
    if (pos_ >= kMaxStreamBytes) {
      Fail(WalkResult::kCorrupt);
      return false;
    }
    size_t block = pos_ / kBlock;
    if (block != loadedBlock_) {
      int got = (*load_)(uint16_t(block), buffer_);
      if (got < 0 || got > int(kBlock)) {
        Fail(WalkResult::kCorrupt);
        return false;
      }
      std::memset(buffer_ + got, 0, kBlock - size_t(got));
      loadedBlock_ = block;
    }
    *b = buffer_[pos_ % kBlock];
    ++pos_;
    return true;
  }

  Mode mode_;
  const DefinitionBlockLoader* load_;
  bool decimalCheck_;
  WalkResult result_ = WalkResult::kOk;
  DefinitionMismatch mismatch_;
  std::vector<uint8_t> out_;
  size_t pos_ = 0;
  size_t loadedBlock_ = ~size_t{0};
  uint8_t buffer_[kBlock];
};

template <typename T>
uint16_t CountOf(const std::vector<T>& v) {
  return uint16_t(v.size());
}

// The one walk of the definition.  `def` is the source in write mode, the
// declaration in compare mode and the destination in read mode.
void Walk(Walker& w, TableDefinition& def) {
  const bool reading = w.mode() == Mode::kRead;

  uint16_t version = w.U16(def.version);
  if (!w.stopped() && w.mode() != Mode::kWrite && version > 2) {
    w.Mismatch({CheckCategory::kFile, kNewerFormatCheck, "VERSION", 0});
    return;
  }
  w.U16(def.recordLength);

  uint16_t fieldCount = CountOf(def.fields), memoCount = CountOf(def.memos), keyCount = CountOf(def.keys);
  w.Check(w.U16(fieldCount) == fieldCount, CheckCategory::kFile, "FIELDS", 0);
  w.Check(w.U16(memoCount) == memoCount, CheckCategory::kFile, "MEMOS", 0);
  w.Check(w.U16(keyCount) == keyCount, CheckCategory::kFile, "KEYS", 0);
  if (w.stopped()) return;
  if (reading) {
    def.fields.resize(fieldCount);
    def.memos.resize(memoCount);
    def.keys.resize(keyCount);
  }

  for (size_t i = 0; i < def.fields.size() && !w.stopped(); ++i) {
    FieldDefinition& f = def.fields[i];
    const int number = int(i) + 1;
    w.Check(w.U8(f.type) == f.type, CheckCategory::kField, "TYPE", number);
    w.U16(f.offset);
    w.Str(f.name);
    w.Check(w.U16(f.dim) == f.dim, CheckCategory::kField, "DIM", number);
    w.Check(w.U16(f.size) == f.size, CheckCategory::kField, "SIZE", number);
    w.Check(w.U16(f.over) == f.over, CheckCategory::kField, "OVER", number);
    w.U16(f.extra);
    if (f.type == kTypeDecimal || f.type == kTypePDecimal) {
      uint8_t size = w.U8(f.decimalSize);
      w.Check(!w.decimalCheck() || size == f.decimalSize, CheckCategory::kField, "SIZE", number);
      uint8_t places = w.U8(f.decimalPlaces);
      w.Check(!w.decimalCheck() || places == f.decimalPlaces, CheckCategory::kField, "PLACES", number);
    } else if (f.type == kTypeString || f.type == kTypeCString || f.type == kTypePString) {
      w.U16(f.declaredLength);
      w.Str(f.picture);
    }
  }

  for (size_t i = 0; i < def.memos.size() && !w.stopped(); ++i) {
    MemoDefinition& m = def.memos[i];
    const int number = int(i) + 1;
    w.Str(m.externalName);
    w.Str(m.label);
    uint16_t size = w.U16(m.size);
    w.Check(m.blob() || size == m.size, CheckCategory::kMemo, "SIZE", number);
    uint16_t flags = w.U16(m.flags);
    w.Check((flags & kMemoBinary) == (m.flags & kMemoBinary), CheckCategory::kMemo, "BINARY", number);
  }

  for (size_t i = 0; i < def.keys.size() && !w.stopped(); ++i) {
    KeyDefinition& k = def.keys[i];
    const int number = int(i) + 1;
    w.Str(k.externalName);
    w.Str(k.label);
    uint8_t attributes = w.U8(k.attributes);
    w.Check((attributes & ~kStoredKeyPrimary) == (k.attributes & ~kStoredKeyPrimary), CheckCategory::kKey,
            "ATTRIBUTE", number);
    uint16_t count = CountOf(k.components);
    w.Check(w.U16(count) == count, CheckCategory::kKey, "FIELDS", number);
    if (w.stopped()) return;
    if (reading) k.components.resize(count);
    for (size_t c = 0; c < k.components.size() && !w.stopped(); ++c) {
      KeyComponentDefinition& comp = k.components[c];
      const int item = number * 1000 + int(c) + 1;
      w.Check(w.U16(comp.field) == comp.field, CheckCategory::kComponent, "FIELD", item);
      w.Check(w.U16(comp.direction) == comp.direction, CheckCategory::kComponent, "ASCENDING", item);
    }
  }
}

}  // namespace

uint16_t TableDefinition::RequiredVersion() const {
  for (const MemoDefinition& m : memos) {
    if (m.blob()) return 2;
  }
  return 1;
}

std::vector<uint8_t> WriteDefinition(const TableDefinition& definition) {
  Walker w(Mode::kWrite, nullptr, true);
  Walk(w, const_cast<TableDefinition&>(definition));  // write mode only reads `def`
  return std::move(w.written());
}

WalkResult CompareDefinition(const TableDefinition& declared, const DefinitionBlockLoader& load, bool decimalCheck,
                             DefinitionMismatch* mismatch) {
  Walker w(Mode::kCompare, &load, decimalCheck);
  Walk(w, const_cast<TableDefinition&>(declared));  // compare mode only reads `def`
  if (w.result() == WalkResult::kMismatch && mismatch != nullptr) *mismatch = w.mismatch();
  return w.result();
}

WalkResult ReadDefinition(const DefinitionBlockLoader& load, TableDefinition* definition,
                          DefinitionMismatch* mismatch) {
  Walker w(Mode::kRead, &load, true);
  TableDefinition def;
  Walk(w, def);
  if (w.result() == WalkResult::kMismatch && mismatch != nullptr) *mismatch = w.mismatch();
  if (w.result() == WalkResult::kOk) *definition = std::move(def);
  return w.result();
}

}  // namespace pr::store
