#include "files/view.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "files/dispatch.h"
#include "files/errors.h"
#include "files/expr.h"
#include "files/statements.h"
#include "files/string_stack.h"
#include "files/thread_files.h"
#include "values/locale.h"

namespace pr::files {
namespace {

// Sort keys hold at most this many components (each at most 2 + 255 bytes).
constexpr size_t kOrderComponentsMax = 32;

// Overwrites the whole error state with `code` (no file error texts).
void FailWith(int32_t code) {
  ClearError();
  SetErrorCode(code);
}

// Overwrites the error state with `code` and an explaining file error text.
void Fail(int32_t code, std::string_view codeText, std::string_view reason) {
  ClearError();
  SetErrorCode(code);
  SetFileError(codeText, std::string(reason).c_str());
}

std::string Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return std::string(text.substr(begin, end - begin));
}

// Splits an order text at the commas that stand outside parentheses,
// brackets and strings.
std::vector<std::string> SplitOrder(std::string_view text) {
  std::vector<std::string> parts;
  int depth = 0;
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    char c = i < text.size() ? text[i] : ',';
    if (quoted) {
      if (c == '\'') quoted = false;
      if (i < text.size()) continue;
    }
    if (c == '\'') quoted = true;
    else if (c == '(' || c == '[') ++depth;
    else if ((c == ')' || c == ']') && depth > 0) --depth;
    else if (c == ',' && (depth == 0 || i == text.size())) {
      parts.push_back(Trim(text.substr(start, i - start)));
      start = i + 1;
    }
  }
  return parts;
}

// ------------------------------------------------------------ sort keys
// A sort key is the order's components, each encoded as a tag byte and its
// payload, then the record pointer (4 bytes, big-endian):
//   0x01        no value
//   0x02 + 8    a number: the bits of the double, made to sort as bytes
//   0x03 + 1 + n a string: its length, then the collation weight of each
//               character, trailing blanks left out
// Keys are compared component by component (CompareKeys), strings padded
// with the weight of a blank, each component in its own direction.
constexpr uint8_t kTagNone = 0x01;
constexpr uint8_t kTagNumber = 0x02;
constexpr uint8_t kTagString = 0x03;

void EncodeValue(const Value& value, std::string* out) {
  if (value.kind() == Value::Kind::kNone) {
    out->push_back(static_cast<char>(kTagNone));
    return;
  }
  if (value.kind() == Value::Kind::kString) {
    std::string_view text = value.text();
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    const uint8_t* weights = values::Locale().collation;
    out->push_back(static_cast<char>(kTagString));
    out->push_back(static_cast<char>(text.size()));
    for (char c : text) out->push_back(static_cast<char>(weights[static_cast<uint8_t>(c)]));
    return;
  }
  double d = value.kind() == Value::Kind::kLong ? static_cast<double>(value.AsLong()) : value.AsReal();
  if (std::isnan(d) || d == 0) d = 0;  // one zero, and no value that sorts apart
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  bits = (bits & 0x8000000000000000ull) != 0 ? ~bits : bits | 0x8000000000000000ull;
  out->push_back(static_cast<char>(kTagNumber));
  for (int i = 7; i >= 0; --i) out->push_back(static_cast<char>(bits >> (i * 8)));
}

void AppendPointer(int32_t pointer, std::string* out) {
  for (int i = 3; i >= 0; --i) out->push_back(static_cast<char>(static_cast<uint32_t>(pointer) >> (i * 8)));
}

int32_t PointerOfKey(std::string_view key) {
  if (key.size() < 4) return 0;
  uint32_t p = 0;
  for (size_t i = key.size() - 4; i < key.size(); ++i) p = p << 8 | static_cast<uint8_t>(key[i]);
  return static_cast<int32_t>(p);
}

// One component's payload starting at `at`: its tag and bytes; false when
// the key ends or is malformed there (keys may come back from callers as
// position strings).
bool ReadComponent(std::string_view key, size_t* at, uint8_t* tag, std::string_view* payload) {
  if (*at >= key.size()) return false;
  *tag = static_cast<uint8_t>(key[*at]);
  size_t length = 0, skip = 1;
  if (*tag == kTagNone) {
    length = 0;
  } else if (*tag == kTagNumber) {
    length = 8;
  } else if (*tag == kTagString) {
    if (*at + 1 >= key.size()) return false;
    length = static_cast<uint8_t>(key[*at + 1]);
    skip = 2;
  } else {
    return false;
  }
  if (*at + skip + length > key.size()) return false;
  *payload = key.substr(*at + skip, length);
  *at += skip + length;
  return true;
}

int ComparePayload(uint8_t tag, std::string_view a, std::string_view b, uint8_t blank) {
  if (tag != kTagString) {
    int r = a.compare(b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
  }
  const size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    uint8_t x = i < a.size() ? static_cast<uint8_t>(a[i]) : blank;
    uint8_t y = i < b.size() ? static_cast<uint8_t>(b[i]) : blank;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// Compares the first `count` components of two keys in the order's
// directions; with `pointers`, equal components are then ordered by record
// pointer.  A key that ends early sorts first.
int CompareKeys(std::string_view a, std::string_view b, size_t count, const std::vector<bool>& descending,
                bool pointers, uint8_t blank) {
  size_t i = 0, j = 0;
  for (size_t c = 0; c < count; ++c) {
    uint8_t ta = 0, tb = 0;
    std::string_view pa, pb;
    bool ha = ReadComponent(a, &i, &ta, &pa);
    bool hb = ReadComponent(b, &j, &tb, &pb);
    int r = 0;
    if (!ha || !hb) {
      if (ha == hb) return 0;
      return ha ? 1 : -1;
    }
    if (ta != tb) r = ta < tb ? -1 : 1;
    else r = ComparePayload(ta, pa, pb, blank);
    if (r != 0) return c < descending.size() && descending[c] ? -r : r;
  }
  if (!pointers) return 0;
  int r = a.substr(std::min(i, a.size())).compare(b.substr(std::min(j, b.size())));
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

// Whether `key` is `count` components and a record pointer, as a saved
// position must be.
bool WellFormedKey(std::string_view key, size_t count) {
  size_t at = 0;
  uint8_t tag;
  std::string_view payload;
  for (size_t c = 0; c < count; ++c)
    if (!ReadComponent(key, &at, &tag, &payload)) return false;
  return at + 4 == key.size();
}

// The sorted walk of an order that no key serves: every record's sort key,
// kept in order.  Keys live in one byte arena (a 2-byte length, then the
// key); the order is a vector of arena offsets, so a million partners cost
// about 32 bytes each.
class SortedIndex {
 public:
  std::vector<bool> descending;
  size_t components = 0;
  uint8_t blank = ' ';

  void Clear() {
    arena_.clear();
    order_.clear();
    live_ = 0;
  }
  size_t size() const { return order_.size(); }
  std::string_view KeyAt(size_t index) const { return Key(order_[index]); }

  void Append(const std::string& key) { order_.push_back(Store(key)); }
  void Sort() {
    std::sort(order_.begin(), order_.end(),
              [&](uint32_t a, uint32_t b) { return CompareKeys(Key(a), Key(b), components, descending, true, blank) < 0; });
  }
  void Insert(const std::string& key) {
    MaybeCompact();
    uint32_t offset = Store(key);
    auto at = std::upper_bound(order_.begin(), order_.end(), offset, [&](uint32_t probe, uint32_t entry) {
      return CompareKeys(Key(probe), Key(entry), components, descending, true, blank) < 0;
    });
    order_.insert(at, offset);
  }
  void Erase(size_t index) {
    live_ -= Key(order_[index]).size() + 2;
    order_.erase(order_.begin() + static_cast<ptrdiff_t>(index));
  }
  // The first entry not below `probe` (its first `count` components; with
  // `pointers`, the whole key), or size().
  size_t LowerBound(std::string_view probe, size_t count, bool pointers) const {
    return static_cast<size_t>(std::partition_point(order_.begin(), order_.end(), [&](uint32_t entry) {
                                 return CompareKeys(Key(entry), probe, count, descending, pointers, blank) < 0;
                               }) -
                               order_.begin());
  }
  // The first entry above `probe`, or size().
  size_t UpperBound(std::string_view probe, size_t count, bool pointers) const {
    return static_cast<size_t>(std::partition_point(order_.begin(), order_.end(), [&](uint32_t entry) {
                                 return CompareKeys(Key(entry), probe, count, descending, pointers, blank) <= 0;
                               }) -
                               order_.begin());
  }

 private:
  std::string_view Key(uint32_t offset) const {
    size_t length = arena_[offset] | size_t{arena_[offset + 1]} << 8;
    return {reinterpret_cast<const char*>(arena_.data() + offset + 2), length};
  }
  uint32_t Store(const std::string& key) {
    uint32_t offset = static_cast<uint32_t>(arena_.size());
    size_t length = std::min<size_t>(key.size(), 0xFFFF);
    arena_.push_back(static_cast<uint8_t>(length));
    arena_.push_back(static_cast<uint8_t>(length >> 8));
    arena_.insert(arena_.end(), key.begin(), key.begin() + static_cast<ptrdiff_t>(length));
    live_ += length + 2;
    return offset;
  }
  // Moved and deleted entries leave their bytes behind; the arena is packed
  // again when they outweigh the live ones.
  void MaybeCompact() {
    if (arena_.size() < (1u << 20) || arena_.size() < 2 * live_) return;
    std::vector<uint8_t> packed;
    packed.reserve(live_ + 64);
    for (uint32_t& offset : order_) {
      std::string_view key = Key(offset);
      uint32_t moved = static_cast<uint32_t>(packed.size());
      packed.push_back(static_cast<uint8_t>(key.size()));
      packed.push_back(static_cast<uint8_t>(key.size() >> 8));
      packed.insert(packed.end(), key.begin(), key.end());
      offset = moved;
    }
    arena_ = std::move(packed);
  }

  std::vector<uint8_t> arena_;
  std::vector<uint32_t> order_;
  size_t live_ = 0;
};

// ------------------------------------------------------------ state
struct OrderComponent {
  std::string text;
  Expression expression;
  bool descending = false;
};

enum class WalkKind {
  kKey,     // through a key of the primary file whose components serve the order
  kFile,    // no order: the primary file in its own record order
  kSorted,  // an order no key serves: the sorted index, kept up to date
};

enum class Pending { kNone, kSet, kReset };

// Where the sorted walk stands: before the first (and after the last) entry,
// at an entry read (NEXT and PREVIOUS take its neighbours), or at a value
// (NEXT takes the first entry not below it, PREVIOUS the last not above).
enum class Cursor { kStart, kAt, kValue };

// One file of the view with the bytes of its record that take part (its
// PROJECT fields) and the full image of the record last read.
struct FileNode {
  FileDescriptor* file = nullptr;
  std::vector<uint8_t> projected;  // one flag per record byte; empty: all
  std::vector<uint8_t> full;
  std::vector<uint8_t> before;
  int32_t keyAnswer = 0;  // QUERY_KEY: nonzero when the driver serves the key access itself
};

struct ViewState {
  bool open = false;
  std::thread::id owner;
  std::string filterText;
  Expression filter;
  std::string order;
  std::string previousOrder;
  std::vector<OrderComponent> components;
  std::map<const ViewJoin*, Expression> joinConditions;
  std::vector<FileNode> nodes;  // primary first, then the joins depth first
  bool rebuild = true;
  WalkKind walk = WalkKind::kFile;
  KeyDescriptor* walkKey = nullptr;
  bool reversed = false;  // the key runs against the order: NEXT walks it backwards
  int direction = 0;      // +1 after NEXT, -1 after PREVIOUS
  Pending pending = Pending::kSet;
  int32_t setComponents = 0;
  std::string savedPosition;
  bool watch = false;
  bool buffer = false;
  int32_t wanted = 0;  // property 7355h
  // Sorted walk.
  SortedIndex sorted;
  Cursor cursor = Cursor::kStart;
  std::string cursorKey;
  size_t cursorComponents = 0;  // kValue: components compared
  bool cursorPointer = false;   // kValue: the pointer too (a saved position)
  bool indexBuilt = false;      // the index holds the keys of `previousOrder`
  uint32_t highestPointer = 0;  // the highest record pointer the index has seen
  int32_t knownRecords = -1;    // RECORDS of the primary file when last looked
};

std::mutex g_viewsLock;
std::map<const FileDescriptor*, std::unique_ptr<ViewState>>& Views() {
  static auto* views = new std::map<const FileDescriptor*, std::unique_ptr<ViewState>>;
  return *views;
}

ViewState* FindState(const FileDescriptor* view) {
  std::lock_guard<std::mutex> guard(g_viewsLock);
  auto it = Views().find(view);
  return it == Views().end() ? nullptr : it->second.get();
}

ViewState* MakeState(const FileDescriptor* view) {
  ViewState* state;
  {
    std::lock_guard<std::mutex> guard(g_viewsLock);
    auto& slot = Views()[view];
    if (slot) return slot.get();
    slot = std::make_unique<ViewState>();
    slot->owner = std::this_thread::get_id();
    state = slot.get();
  }
  // The thread that made the state sends DESTROY at its end if the view is
  // still there then.
  RegisterThreadView(const_cast<FileDescriptor*>(view));
  return state;
}

void DropState(const FileDescriptor* view) {
  std::unique_ptr<ViewState> dropped;
  {
    std::lock_guard<std::mutex> guard(g_viewsLock);
    auto it = Views().find(view);
    if (it == Views().end()) return;
    dropped = std::move(it->second);
    Views().erase(it);
  }
  UnregisterThreadView(view);
}

const ViewStructure* StructureOf(const FileDescriptor* view) {
  return static_cast<const ViewStructure*>(view->viewStructure);
}

void CollectFiles(const std::vector<ViewJoin>& joins, std::vector<FileDescriptor*>* out) {
  for (const ViewJoin& join : joins) {
    out->push_back(join.file);
    CollectFiles(join.joins, out);
  }
}

// The files of the view: the primary, then the joined files depth first.
std::vector<FileDescriptor*> ViewFiles(const ViewStructure* structure) {
  std::vector<FileDescriptor*> files{structure->primary};
  CollectFiles(structure->joins, &files);
  return files;
}

// Marks the bytes of `fields` (numbers from 1) of `file`; a GROUP brings its
// members, which lie inside its bytes.
std::vector<uint8_t> ProjectedBytes(const FileDescriptor* file, const std::vector<uint32_t>& fields) {
  if (fields.empty()) return {};
  std::vector<uint8_t> mask(file->recordLength, 0);
  const Declaration& decl = file->declaration;
  for (uint32_t number : fields) {
    if (number == 0 || decl.fields == nullptr || number > decl.fieldCount) continue;
    const FieldDescriptor& field = decl.fields[number - 1];
    uint64_t end = std::min<uint64_t>(uint64_t{field.place} + field.size, file->recordLength);
    for (uint64_t b = field.place; b < end; ++b) mask[b] = 1;
  }
  return mask;
}

void CollectNodes(const std::vector<ViewJoin>& joins, std::vector<FileNode>* nodes) {
  for (const ViewJoin& join : joins) {
    FileNode node;
    node.file = join.file;
    node.projected = ProjectedBytes(join.file, join.project);
    nodes->push_back(std::move(node));
    CollectNodes(join.joins, nodes);
  }
}

// Clears a record buffer the way CLEAR does: strings to spaces, the rest to 0.
void ClearRecord(FileDescriptor* file) {
  if (file->record == nullptr) return;
  std::memset(file->record, 0, file->recordLength);
  const Declaration& decl = file->declaration;
  for (uint32_t i = 0; decl.fields != nullptr && i < decl.fieldCount; ++i) {
    const FieldDescriptor& field = decl.fields[i];
    if (field.type == TYPE_STRING && uint64_t{field.place} + field.size <= file->recordLength)
      std::memset(file->record + field.place, ' ', field.size);
  }
}

// The record buffers of all files of the view, kept across the engine's own
// reads (building and catching up the sorted walk).
class BufferSnapshot {
 public:
  explicit BufferSnapshot(ViewState* state) : state_(state) {
    for (const FileNode& node : state->nodes)
      images_.emplace_back(node.file->record, node.file->record + (node.file->record ? node.file->recordLength : 0));
  }
  ~BufferSnapshot() {
    for (size_t i = 0; i < images_.size(); ++i)
      if (!images_[i].empty()) std::memcpy(state_->nodes[i].file->record, images_[i].data(), images_[i].size());
  }

 private:
  ViewState* state_;
  std::vector<std::vector<uint8_t>> images_;
};

// ------------------------------------------------------------ joins
// Reads the joined records of `parent`'s current record.  False when an
// inner join has no match (the parent record does not take part).  A key
// join reads the joined file through its key; a join by expression reads
// the joined file in sequence up to the first record the condition holds for.
bool ReadJoins(ViewState* state, FileDescriptor* parent, const std::vector<ViewJoin>& joins) {
  for (const ViewJoin& join : joins) {
    FileDescriptor* file = join.file;
    bool found = false;
    if (join.key != nullptr && join.expression.empty()) {
      KeyDescriptor* key = join.key;
      const Declaration& pd = parent->declaration;
      const Declaration& jd = file->declaration;
      size_t n = std::min<size_t>(join.parentFields.size(), key->componentCount);
      for (size_t i = 0; i < n; ++i) {
        uint32_t pf = join.parentFields[i];
        int32_t c = key->components[i];
        uint32_t jf = static_cast<uint32_t>(c < 0 ? -c : c);
        if (pf == 0 || pf > pd.fieldCount || jf == 0 || jf > jd.fieldCount) continue;
        const FieldDescriptor& from = pd.fields[pf - 1];
        const FieldDescriptor& to = jd.fields[jf - 1];
        if (uint64_t{from.place} + from.size > parent->recordLength || uint64_t{to.place} + to.size > file->recordLength)
          continue;
        uint32_t size = std::min(from.size, to.size);
        std::memcpy(file->record + to.place, parent->record + from.place, size);
        if (to.size > size)
          std::memset(file->record + to.place + size, to.type == TYPE_STRING ? ' ' : 0, to.size - size);
      }
      Get(file, key);
      found = ErrorCode() == 0;
    } else {
      auto condition = state->joinConditions.find(&join);
      Set(file);
      while (condition != state->joinConditions.end()) {
        Next(file);
        if (ErrorCode() != 0) break;
        if (condition->second.IsTrue()) {
          found = true;
          break;
        }
      }
    }
    ClearError();
    if (!found) {
      // Cleared either way, so that nothing read for an earlier parent
      // stays in the buffer.
      ClearRecord(file);
      if (join.inner) return false;
      continue;
    }
    if (!ReadJoins(state, file, join.joins) && join.inner) return false;
  }
  return true;
}

// Whether the records now in the buffers take part: the joins and the filter.
bool Qualifies(FileDescriptor* view, ViewState* state) {
  if (!ReadJoins(state, StructureOf(view)->primary, StructureOf(view)->joins)) return false;
  return state->filter.empty() || state->filter.IsTrue();
}

// Before a fetch: keep every buffer's image, so that the bytes outside the
// PROJECT lists can be put back after it.
void RememberBuffers(ViewState* state) {
  for (FileNode& node : state->nodes)
    if (!node.projected.empty()) node.before.assign(node.file->record, node.file->record + node.file->recordLength);
}

// After a successful fetch: the full images are kept (a PUT through the view
// writes them back around the projected bytes), and the caller's buffers
// change only in the projected bytes.
void ApplyProjection(ViewState* state) {
  for (FileNode& node : state->nodes) {
    if (node.projected.empty() || node.before.size() != node.file->recordLength) continue;
    node.full.assign(node.file->record, node.file->record + node.file->recordLength);
    for (uint32_t b = 0; b < node.file->recordLength; ++b)
      if (!node.projected[b]) node.file->record[b] = node.before[b];
  }
}

// ------------------------------------------------------------ order
bool CompileOrder(const ViewStructure* structure, std::string_view text, std::vector<OrderComponent>* out,
                  ExpressionError* error) {
  out->clear();
  std::vector<FileDescriptor*> files = ViewFiles(structure);
  for (std::string& part : SplitOrder(text)) {
    if (part.empty()) continue;
    OrderComponent component;
    if (part[0] == '+' || part[0] == '-') {
      component.descending = part[0] == '-';
      part = Trim(std::string_view(part).substr(1));
    }
    if (out->size() == kOrderComponentsMax) {
      *error = {EXPR_TOO_COMPLEX, "More than " + std::to_string(kOrderComponentsMax) + " order components"};
      return false;
    }
    component.text = part;
    if (!component.expression.Compile(part, files, error)) return false;
    if (component.expression.empty()) {
      error->number = EXPR_SYNTAX;
      error->message = "Empty order component";
      return false;
    }
    out->push_back(std::move(component));
  }
  return true;
}

// The key of the primary file whose leading components are the order's
// fields, all in the order's direction (or all against it).
KeyDescriptor* KeyForOrder(FileDescriptor* primary, const std::vector<OrderComponent>& order, bool* reversed) {
  for (uint32_t k = 0; primary->keys != nullptr && k < primary->declaration.keyCount; ++k) {
    KeyDescriptor* key = &primary->keys[k];
    if (key->componentCount < order.size() || key->components == nullptr) continue;
    bool same = true, opposite = true;
    for (size_t i = 0; i < order.size(); ++i) {
      int32_t c = key->components[i];
      uint32_t field = static_cast<uint32_t>(c < 0 ? -c : c);
      if (field == 0 || field != order[i].expression.PlainField(primary)) {
        same = opposite = false;
        break;
      }
      bool keyDescending = c < 0;
      if (keyDescending != order[i].descending) same = false;
      if (keyDescending == order[i].descending) opposite = false;
    }
    if (same || opposite) {
      *reversed = !same;
      return key;
    }
  }
  return nullptr;
}

// The sort key of the records now in the buffers: the first `count`
// components, then (with `withPointer`) the record pointer.
std::string SortKey(const ViewState* state, size_t count, bool withPointer, uint32_t pointer = 0) {
  std::string key;
  for (size_t i = 0; i < count && i < state->components.size(); ++i)
    EncodeValue(state->components[i].expression.Evaluate(), &key);
  if (withPointer) AppendPointer(static_cast<int32_t>(pointer), &key);
  return key;
}

// Reads the primary file in sequence from record pointer `from` on (0: from
// its start) and puts each record into the sorted index.  The view's buffers
// are kept.  Pointers are unsigned 32-bit record numbers.
int32_t ReadIntoIndex(FileDescriptor* view, ViewState* state, uint64_t from) {
  FileDescriptor* primary = StructureOf(view)->primary;
  if (from > UINT32_MAX) return 0;  // no record can lie above the last number
  BufferSnapshot keep(state);
  if (from == 0)
    Set(primary);
  else
    Set(primary, static_cast<int32_t>(static_cast<uint32_t>(from)));
  for (;;) {
    Next(primary);
    if (ErrorCode() != 0) break;
    uint32_t pointer = static_cast<uint32_t>(Pointer(primary));
    if (pointer < from) continue;
    ReadJoins(state, primary, StructureOf(view)->joins);
    std::string key = SortKey(state, state->components.size(), true, pointer);
    if (from == 0)
      state->sorted.Append(key);
    else
      state->sorted.Insert(key);
    state->highestPointer = std::max(state->highestPointer, pointer);
  }
  int32_t code = ErrorCode() == err::RecordNotAvailable ? 0 : ErrorCode();
  ClearError();
  return code;
}

int32_t BuildSortedWalk(FileDescriptor* view, ViewState* state) {
  FileDescriptor* primary = StructureOf(view)->primary;
  state->sorted.Clear();
  state->sorted.components = state->components.size();
  state->sorted.descending.clear();
  for (const OrderComponent& c : state->components) state->sorted.descending.push_back(c.descending);
  state->sorted.blank = values::Locale().collation[static_cast<uint8_t>(' ')];
  state->highestPointer = 0;
  state->knownRecords = Records(primary);
  ClearError();
  int32_t code = ReadIntoIndex(view, state, 0);
  state->sorted.Sort();
  state->cursor = Cursor::kStart;
  return code;
}

// Records added since the index was built (or last caught up) are put into
// it: new records get pointers above every one seen, so they are read from
// there on.  When the count still does not add up (a pointer was used
// again), the index is built afresh.  Deleted and changed records are found
// when the walk reaches them.
int32_t CatchUp(FileDescriptor* view, ViewState* state, bool positioning) {
  FileDescriptor* primary = StructureOf(view)->primary;
  int32_t records = Records(primary);
  if (ErrorCode() != 0) return ErrorCode();
  // A SET or RESET always looks above the highest pointer (one seek), so a
  // record added while another went is found at the next page at the latest.
  if (records == state->knownRecords && !positioning) return 0;
  int32_t code = ReadIntoIndex(view, state, uint64_t{state->highestPointer} + 1);
  if (code != 0) return code;
  state->knownRecords = records;
  if (static_cast<size_t>(records) > state->sorted.size()) {
    std::string cursorKey = state->cursorKey;
    Cursor cursor = state->cursor;
    code = BuildSortedWalk(view, state);
    state->knownRecords = records;
    state->cursor = cursor;
    state->cursorKey = cursorKey;
  }
  return code;
}

// Builds the walk from the order.  False (with the error set) when it fails.
bool Rebuild(FileDescriptor* view, ViewState* state) {
  if (!state->rebuild) return true;
  FileDescriptor* primary = StructureOf(view)->primary;
  const bool keepIndex = state->walk == WalkKind::kSorted && state->indexBuilt && state->previousOrder == state->order;
  state->walkKey = nullptr;
  state->reversed = false;
  if (!keepIndex) {
    // A filter change alone leaves the walk where it stands, as the key
    // walks do.
    state->sorted.Clear();
    state->indexBuilt = false;
    state->cursor = Cursor::kStart;
  }
  if (state->components.empty()) {
    state->walk = WalkKind::kFile;
  } else if (KeyDescriptor* key = KeyForOrder(primary, state->components, &state->reversed)) {
    state->walk = WalkKind::kKey;
    state->walkKey = key;
  } else if (!keepIndex) {
    // A filter change alone keeps the index: the filter is applied as the
    // walk reads.
    state->walk = WalkKind::kSorted;
    if (int32_t code = BuildSortedWalk(view, state); code != 0) {
      FailWith(code);
      return false;
    }
    state->indexBuilt = true;
  }
  // The drivers are told which key access the walk needs.
  SaveErrors();
  intptr_t block[kArgumentBlockWords] = {reinterpret_cast<intptr_t>(state->walkKey)};
  state->nodes[0].keyAnswer = Dispatch(OP_QUERY_KEY, primary, block, 1);
  RestoreErrors();
  state->previousOrder = state->order;
  state->rebuild = false;
  return true;
}

// ------------------------------------------------------------ key walk SET
// The lowest (or highest) value of a key component in the key's byte order,
// written into the record buffer: SET(view, n) starts from the first n
// components' values with the rest of the key at its end.
void FillExtreme(FileDescriptor* file, const FieldDescriptor& field, bool lowest, bool nocase) {
  if (uint64_t{field.place} + field.size > file->recordLength || field.size == 0) return;
  uint8_t* p = file->record + field.place;
  auto put = [&](auto value) {
    if (field.size >= sizeof value) std::memcpy(p, &value, sizeof value);
  };
  switch (field.type) {
    case TYPE_BYTE: p[0] = lowest ? 0 : 0xFF; return;
    case TYPE_SHORT: put(static_cast<int16_t>(lowest ? INT16_MIN : INT16_MAX)); return;
    case TYPE_USHORT: put(static_cast<uint16_t>(lowest ? 0 : 0xFFFF)); return;
    case TYPE_LONG: put(static_cast<int32_t>(lowest ? INT32_MIN : INT32_MAX)); return;
    case TYPE_ULONG:
    case TYPE_DATE:
    case TYPE_TIME: put(static_cast<uint32_t>(lowest ? 0 : 0xFFFFFFFFu)); return;
    case TYPE_SREAL: put(lowest ? -HUGE_VALF : HUGE_VALF); return;
    case TYPE_REAL: put(lowest ? -HUGE_VAL : HUGE_VAL); return;
    case TYPE_DECIMAL:
    case TYPE_PDECIMAL:
      std::memset(p, 0x99, field.size);
      p[0] = lowest ? 0xF9 : 0x09;
      return;
    case TYPE_STRING:
    case TYPE_CSTRING:
    case TYPE_PSTRING:
    case TYPE_GROUP: {
      // The character of the lowest (highest) weight as the key sees it.
      const auto& locale = values::Locale();
      int best = -1, bestWeight = 0;
      for (int c = 0; c < 256; ++c) {
        uint8_t seen = static_cast<uint8_t>(c);
        if (nocase && (locale.charClass[c] & values::kCharLower) != 0) seen = locale.upper[c];
        int weight = locale.collation[seen];
        if (best < 0 || (lowest ? weight < bestWeight : weight > bestWeight)) {
          best = c;
          bestWeight = weight;
        }
      }
      std::memset(p, best, field.size);
      return;
    }
    default:
      std::memset(p, lowest ? 0 : 0xFF, field.size);
      return;
  }
}

void SetKeyWalk(ViewState* state, FileDescriptor* primary, int dir) {
  KeyDescriptor* key = state->walkKey;
  const int32_t n = state->setComponents;
  if (n == 0) {
    Set(key);
    return;
  }
  std::vector<uint8_t> saved(primary->record, primary->record + primary->recordLength);
  const bool keyForward = (dir > 0) != state->reversed;
  const Declaration& decl = primary->declaration;
  for (int32_t i = n; i < key->componentCount; ++i) {
    int32_t c = key->components[i];
    uint32_t field = static_cast<uint32_t>(c < 0 ? -c : c);
    if (field == 0 || field > decl.fieldCount) continue;
    // NEXT along the key starts at the smallest key bytes of the rest.
    const bool lowestBytes = keyForward;
    FillExtreme(primary, decl.fields[field - 1], lowestBytes != (c < 0), (key->flags & KEY_NOCASE) != 0);
  }
  Set(key, key);
  std::memcpy(primary->record, saved.data(), saved.size());
}

// Applies the pending positioning; `dir` is the fetch that follows.
void ApplyPending(FileDescriptor* view, ViewState* state, int dir) {
  FileDescriptor* primary = StructureOf(view)->primary;
  switch (state->pending) {
    case Pending::kNone:
      return;
    case Pending::kSet:
      if (state->walk == WalkKind::kKey) {
        SetKeyWalk(state, primary, dir);
      } else if (state->walk == WalkKind::kFile) {
        Set(primary);
      } else if (state->setComponents == 0) {
        state->cursor = Cursor::kStart;
      } else {
        state->cursor = Cursor::kValue;
        state->cursorComponents = static_cast<size_t>(state->setComponents);
        state->cursorPointer = false;
        state->cursorKey = SortKey(state, state->cursorComponents, false);
      }
      break;
    case Pending::kReset:
      if (state->walk == WalkKind::kKey) {
        Reset(state->walkKey, state->savedPosition);
      } else if (state->walk == WalkKind::kFile) {
        Reset(primary, state->savedPosition);
      } else {
        // Sorted positions are "S" and the sort key; the next read in
        // either direction returns that record, or its neighbour if it is gone.
        std::string key = state->savedPosition.empty() ? std::string() : state->savedPosition.substr(1);
        if (state->savedPosition.empty() || state->savedPosition[0] != 'S' ||
            !WellFormedKey(key, state->components.size())) {
          FailWith(err::InvalidIndexString);
          return;
        }
        state->cursor = Cursor::kValue;
        state->cursorKey = key;
        state->cursorComponents = state->components.size();
        state->cursorPointer = true;
      }
      break;
  }
  state->pending = Pending::kNone;
  state->direction = 0;
}

// The index of the entry the sorted walk reads next in `dir`; size() when none.
size_t SortedCandidate(const ViewState* state, int dir) {
  const SortedIndex& index = state->sorted;
  const size_t none = index.size();
  const size_t all = state->components.size();
  switch (state->cursor) {
    case Cursor::kStart:
      return dir > 0 ? 0 : (none == 0 ? none : none - 1);
    case Cursor::kAt:
      if (dir > 0) return index.UpperBound(state->cursorKey, all, true);
      else {
        size_t at = index.LowerBound(state->cursorKey, all, true);
        return at == 0 ? none : at - 1;
      }
    case Cursor::kValue:
      if (dir > 0) return index.LowerBound(state->cursorKey, state->cursorComponents, state->cursorPointer);
      else {
        size_t at = index.UpperBound(state->cursorKey, state->cursorComponents, state->cursorPointer);
        return at == 0 ? none : at - 1;
      }
  }
  return none;
}

// One step of the sorted walk.  A record deleted since it was indexed
// leaves the index; a record whose sort key changed moves to its new place
// (and is read there if that lies ahead).
void SortedStep(FileDescriptor* view, ViewState* state, int dir) {
  FileDescriptor* primary = StructureOf(view)->primary;
  for (;;) {
    size_t k = SortedCandidate(state, dir);
    if (k >= state->sorted.size()) {
      FailWith(err::RecordNotAvailable);
      return;
    }
    std::string entry(state->sorted.KeyAt(k));
    Get(primary, PointerOfKey(entry));
    if (ErrorCode() == err::RecordNotFound || ErrorCode() == err::RecordNotAvailable) {
      state->sorted.Erase(k);
      if (state->knownRecords > 0) --state->knownRecords;
      continue;
    }
    if (ErrorCode() != 0) return;
    bool takesPart = Qualifies(view, state);
    std::string now = SortKey(state, state->components.size(), true, static_cast<uint32_t>(PointerOfKey(entry)));
    state->cursor = Cursor::kAt;
    state->cursorKey = entry;
    if (now != entry) {
      state->sorted.Erase(k);
      state->sorted.Insert(now);
      continue;
    }
    if (!takesPart) continue;
    ClearError();
    return;
  }
}

// One fetch in `dir` (+1 NEXT, -1 PREVIOUS): records that fail the joins or
// the filter are passed over.
void Fetch(FileDescriptor* view, ViewState* state, int dir) {
  ClearError();
  if (!Rebuild(view, state)) return;
  FileDescriptor* primary = StructureOf(view)->primary;
  RememberBuffers(state);
  if (state->walk == WalkKind::kSorted) {
    if (int32_t code = CatchUp(view, state, state->pending != Pending::kNone); code != 0) {
      FailWith(code);
      return;
    }
    ClearError();
  }
  ApplyPending(view, state, dir);
  if (ErrorCode() != 0) return;
  if (state->walk == WalkKind::kSorted) {
    SortedStep(view, state, dir);
  } else {
    const bool forward = (dir > 0) != state->reversed;
    for (;;) {
      forward ? Next(primary) : Previous(primary);
      if (ErrorCode() != 0) break;
      if (Qualifies(view, state)) {
        ClearError();
        break;
      }
    }
  }
  state->direction = dir;
  if (ErrorCode() == 0) ApplyProjection(state);
}

std::string CurrentPosition(FileDescriptor* view, ViewState* state) {
  FileDescriptor* primary = StructureOf(view)->primary;
  if (state->walk == WalkKind::kKey) return Position(state->walkKey);
  if (state->walk == WalkKind::kSorted) {
    if (state->cursor != Cursor::kAt) {
      FailWith(err::RecordNotAvailable);
      return "";
    }
    return "S" + state->cursorKey;
  }
  return Position(primary);
}

// ------------------------------------------------------------ properties
int32_t PropertyRead(ViewState* state, int32_t property, int32_t index, std::string* value) {
  switch (property) {
    case PROP_VIEW_FILTER: *value = state->filterText; return 0;
    case PROP_VIEW_ORDER:
      if (index <= 0) {
        *value = state->order;
      } else {
        std::vector<std::string> parts = SplitOrder(state->order);
        *value = static_cast<size_t>(index) <= parts.size() ? parts[static_cast<size_t>(index) - 1] : "";
      }
      return 0;
    case PROP_VIEW_WANTED: *value = std::to_string(state->wanted); return 0;
    // Further numbers that describe the engine's state.
    case 0x7345: *value = std::to_string(state->components.size()); return 0;
    case 0x7327: *value = state->rebuild ? "1" : "0"; return 0;
    case 0x7325: *value = std::to_string(state->direction); return 0;
    case 0x7326: *value = std::to_string(static_cast<int>(state->pending)); return 0;
    case 0x7328: *value = state->watch ? "1" : "0"; return 0;
    case 0x7312: *value = state->buffer ? "1" : "0"; return 0;
    case 0x731F: *value = std::to_string(static_cast<int>(state->walk)); return 0;
    case 0x734A: *value = std::to_string(state->sorted.size()); return 0;
    default: return err::UnsupportedFunction;
  }
}

void RefuseExpression(const char* what, const ExpressionError& error) {
  Fail(err::UnsupportedFunction, std::to_string(error.number), std::string(what) + ": " + error.message);
}

// A write: 0, or the error code (the error state is then set).
int32_t PropertyWrite(FileDescriptor* view, ViewState* state, int32_t property, const std::string& value) {
  switch (property) {
    case PROP_VIEW_FILTER: {
      Expression compiled;
      ExpressionError error;
      if (!compiled.Compile(value, ViewFiles(StructureOf(view)), &error)) {
        RefuseExpression("View filter", error);
        return err::UnsupportedFunction;
      }
      state->filterText = value;
      state->filter = std::move(compiled);
      state->rebuild = true;
      return 0;
    }
    case PROP_VIEW_ORDER: {
      std::vector<OrderComponent> components;
      ExpressionError error;
      if (!CompileOrder(StructureOf(view), value, &components, &error)) {
        RefuseExpression("View order", error);
        return err::UnsupportedFunction;
      }
      state->order = value;
      state->components = std::move(components);
      state->rebuild = true;
      return 0;
    }
    case PROP_VIEW_WANTED:
      state->wanted = std::atoi(value.c_str());
      return 0;
    default:
      FailWith(err::UnsupportedFunction);
      return err::UnsupportedFunction;
  }
}

// The view's bracket sent to each of its files (92 INVIEW on OPEN, 93
// ENDVIEW on CLOSE); drivers that do not care answer as they like.
void Bracket(ViewState* state, bool inView) {
  SaveErrors();
  for (FileNode& node : state->nodes) ViewBracket(node.file, inView);
  RestoreErrors();
}

bool CompileJoins(ViewState* state, const std::vector<FileDescriptor*>& files, const std::vector<ViewJoin>& joins) {
  for (const ViewJoin& join : joins) {
    if (join.file == nullptr) {
      Fail(err::UnsupportedFunction, "80", "View join names no file");
      return false;
    }
    if (!join.expression.empty() || join.key == nullptr) {
      Expression condition;
      ExpressionError error;
      if (!condition.Compile(join.expression, files, &error) || condition.empty()) {
        if (error.number == 0) error = {EXPR_SYNTAX, "View join has neither a key nor a condition"};
        RefuseExpression("View join", error);
        return false;
      }
      state->joinConditions[&join] = std::move(condition);
    } else {
      SaveErrors();
      intptr_t block[kArgumentBlockWords] = {reinterpret_cast<intptr_t>(join.key)};
      int32_t answer = Dispatch(OP_QUERY_KEY, join.file, block, 1);
      RestoreErrors();
      for (FileNode& node : state->nodes)
        if (node.file == join.file) node.keyAnswer = answer;
    }
    if (!CompileJoins(state, files, join.joins)) return false;
  }
  return true;
}

// What CLOSE releases: all but the filter and the order.
void ReleaseWalk(ViewState* state) {
  ViewState fresh;
  fresh.owner = state->owner;
  fresh.filterText = std::move(state->filterText);
  fresh.filter = std::move(state->filter);
  fresh.order = std::move(state->order);
  fresh.components = std::move(state->components);
  *state = std::move(fresh);
}

int32_t OpenView(FileDescriptor* view, const ViewStructure* structure) {
  FileDescriptor* primary = structure->primary;
  if (ViewState* known = FindState(view); known != nullptr && known->open) {
    FailWith(err::FileAlreadyOpen);
    return 0;
  }
  for (FileDescriptor* file : ViewFiles(structure)) {
    if (file == nullptr || (file->flags & FD_OPEN) == 0) {
      Fail(err::FileNotOpen, "37", "A file of the view is not open");
      SetErrorFile(file != nullptr ? file : primary);
      return 0;
    }
  }
  ViewState* state = MakeState(view);
  state->nodes.clear();
  FileNode first;
  first.file = primary;
  first.projected = ProjectedBytes(primary, structure->project);
  state->nodes.push_back(std::move(first));
  CollectNodes(structure->joins, &state->nodes);
  state->joinConditions.clear();
  if (!CompileJoins(state, ViewFiles(structure), structure->joins)) {
    // The refusal's texts stay; the state goes unless properties made it.
    state->open = false;
    return 0;
  }
  ClearError();
  // A fresh view reads from the start of its own order, unless this thread
  // last positioned the primary file on the view's own walk (SET or RESET on
  // its key, or in record order for a view without order): then it goes on
  // from there.
  const KeyDescriptor* positioned = nullptr;
  const bool known = LastSequence(primary, &positioned);
  state->open = true;
  state->pending = Pending::kSet;
  state->setComponents = 0;
  state->direction = 0;
  state->rebuild = true;
  if (!Rebuild(view, state)) {
    state->open = false;
    return 0;
  }
  if (known && ((state->walk == WalkKind::kKey && positioned == state->walkKey) ||
                (state->walk == WalkKind::kFile && positioned == nullptr)))
    state->pending = Pending::kNone;
  Bracket(state, true);
  ClearError();
  return 0;
}

}  // namespace

void InitViewDescriptor(FileDescriptor* view, const ViewStructure* structure, std::string_view label) {
  *view = FileDescriptor{};
  view->kind = KIND_VIEW;
  view->entry = ViewBindingEntry;
  view->label = label;
  view->primary = structure->primary;
  view->viewStructure = structure;
}

bool ViewHasState(const FileDescriptor* view) { return FindState(view) != nullptr; }

bool ViewStateOwnedByThisThread(const FileDescriptor* view) {
  std::lock_guard<std::mutex> guard(g_viewsLock);
  auto it = Views().find(view);
  return it != Views().end() && it->second->owner == std::this_thread::get_id();
}

int32_t ViewBindingEntry(int32_t op, FileDescriptor* view, intptr_t* args) {
  const ViewStructure* structure = StructureOf(view);
  FileDescriptor* primary = structure != nullptr ? structure->primary : nullptr;
  if (primary != nullptr && primary->entry != nullptr && op != OP_CLOSE && op != OP_DESTROY) {
    // Ask the primary file's driver for an engine of its own: it leaves an
    // entry point in the first word, or nothing.
    intptr_t block[1] = {0};
    SaveErrors();
    primary->entry(OP_QUERY_VIEW, primary, block);
    RestoreErrors();
    if (block[0] != 0) {
      view->entry = reinterpret_cast<DriverEntry>(block[0]);
      return view->entry(op, view, args);
    }
  }
  return GenericViewEntry(op, view, args);
}

int32_t GenericViewEntry(int32_t op, FileDescriptor* view, intptr_t* args) {
  const ViewStructure* structure = StructureOf(view);
  if (structure == nullptr || structure->primary == nullptr) {
    FailWith(err::FileNotOpen);
    return 0;
  }
  FileDescriptor* primary = structure->primary;

  if (op == OP_OPEN) return OpenView(view, structure);
  ViewState* state = FindState(view);
  if (op == OP_DESTROY || op == OP_CLOSE) {
    // Both rebind.  CLOSE releases the walk and everything that positions
    // it (the sorted index, positions, 7355h); the filter and order texts
    // stay for the next OPEN of this thread, as the browse sets its order
    // once.  DESTROY (at thread end at the latest) releases the state whole.
    // On a view without state they do nothing.
    if (state != nullptr && state->open) Bracket(state, false);
    if (op == OP_DESTROY || (state != nullptr && state->filterText.empty() && state->order.empty()))
      DropState(view);
    else if (state != nullptr)
      ReleaseWalk(state);
    view->entry = ViewBindingEntry;
    ClearError();
    return 0;
  }
  if (state == nullptr || !state->open) {
    // Properties may be set while the view is closed: they make the state
    // and are kept for the next OPEN.
    if (op != OP_SET_PROPERTY && op != OP_GET_PROPERTY) {
      FailWith(err::FileNotOpen);
      return 0;
    }
    if (state == nullptr) state = MakeState(view);
  }

  switch (op) {
    case OP_SETview: {
      ClearError();
      if (!Rebuild(view, state)) return 0;
      int32_t n = args != nullptr ? static_cast<int32_t>(args[0]) : 0;
      n = std::clamp<int32_t>(n, 0, static_cast<int32_t>(state->components.size()));
      state->pending = Pending::kSet;
      state->setComponents = n;
      return 0;
    }
    case OP_NEXT:
      Fetch(view, state, +1);
      return 0;
    case OP_PREVIOUS:
      Fetch(view, state, -1);
      return 0;
    case OP_SKIP: {
      ClearError();
      int32_t n = args != nullptr ? static_cast<int32_t>(args[0]) : 0;
      for (int64_t i = 0; i < (n < 0 ? -int64_t{n} : int64_t{n}); ++i) {
        Fetch(view, state, n > 0 ? +1 : -1);
        if (ErrorCode() != 0) break;
      }
      return 0;
    }
    case OP_POSITIONfile: {
      ClearError();
      if (!Rebuild(view, state)) return 0;
      std::string position = CurrentPosition(view, state);
      if (ErrorCode() == 0) PushString(position);
      return 0;
    }
    case OP_RESETfile:
    case OP_REGETfile: {
      std::string position = PopString();
      ClearError();
      if (!Rebuild(view, state)) return 0;
      state->savedPosition = position;
      state->pending = Pending::kReset;
      if (op == OP_REGETfile) {
        RememberBuffers(state);
        if (state->walk == WalkKind::kKey) {
          Reget(state->walkKey, position);
        } else if (state->walk == WalkKind::kFile) {
          Reget(primary, position);
        } else {
          ApplyPending(view, state, +1);
          if (ErrorCode() != 0) return 0;
          Get(primary, PointerOfKey(state->cursorKey));
          if (ErrorCode() == 0) {
            state->cursor = Cursor::kAt;
          }
        }
        if (ErrorCode() == 0) {
          ReadJoins(state, primary, structure->joins);
          ClearError();
          ApplyProjection(state);
        }
        // The record read is the current one: the walk goes on from it.
        state->pending = Pending::kNone;
      }
      return 0;
    }
    case OP_RESETviewfile: {
      ClearError();
      if (!Rebuild(view, state)) return 0;
      if (state->walk == WalkKind::kSorted) {
        int32_t pointer = Pointer(primary);
        if (ErrorCode() != 0) return 0;
        state->savedPosition = "S" + SortKey(state, state->components.size(), true, static_cast<uint32_t>(pointer));
      } else {
        state->savedPosition = state->walk == WalkKind::kKey ? Position(state->walkKey) : Position(primary);
      }
      if (ErrorCode() == 0) state->pending = Pending::kReset;
      return 0;
    }
    case OP_GETfileptr: {
      int32_t pointer = args != nullptr ? static_cast<int32_t>(args[0]) : 0;
      RememberBuffers(state);
      Get(primary, pointer);
      if (ErrorCode() == 0) {
        ReadJoins(state, primary, structure->joins);
        ClearError();
        ApplyProjection(state);
      }
      return 0;
    }
    case OP_RECORDSfile: {
      ClearError();
      if (state->filter.empty() && state->joinConditions.empty()) {
        bool inner = false;
        std::vector<const std::vector<ViewJoin>*> pending{&structure->joins};
        while (!pending.empty()) {
          const std::vector<ViewJoin>* joins = pending.back();
          pending.pop_back();
          for (const ViewJoin& join : *joins) {
            inner = inner || join.inner;
            pending.push_back(&join.joins);
          }
        }
        if (!inner) return Records(primary);
      }
      // A filter or inner joins leave records out: count by walking, and
      // start the next fetch from the beginning.
      if (!Rebuild(view, state)) return 0;
      BufferSnapshot keep(state);
      int32_t count = 0;
      state->pending = Pending::kSet;
      state->setComponents = 0;
      for (;;) {
        Fetch(view, state, +1);
        if (ErrorCode() != 0) break;
        ++count;
      }
      int32_t code = ErrorCode() == err::RecordNotAvailable ? 0 : ErrorCode();
      state->pending = Pending::kSet;
      state->setComponents = 0;
      if (code != 0) {
        FailWith(code);
        return 0;
      }
      ClearError();
      return count;
    }
    case OP_WATCH:
      state->watch = true;
      Watch(primary);
      return 0;
    case OP_FLUSH:
      state->buffer = true;
      ClearError();
      return 0;
    case OP_PUT: {
      // With a PROJECT list, the record goes back whole: the bytes outside
      // the list are those last read, not what the buffer holds.
      FileNode& node = state->nodes[0];
      if (node.projected.empty() || node.full.size() != primary->recordLength)
        return Dispatch(op, primary, args, args != nullptr ? 1 : 0);
      std::vector<uint8_t> caller(primary->record, primary->record + primary->recordLength);
      for (uint32_t b = 0; b < primary->recordLength; ++b)
        if (!node.projected[b]) primary->record[b] = node.full[b];
      int32_t result = Dispatch(op, primary, args, args != nullptr ? 1 : 0);
      if (ErrorCode() == 0) node.full.assign(primary->record, primary->record + primary->recordLength);
      for (uint32_t b = 0; b < primary->recordLength; ++b)
        if (!node.projected[b]) primary->record[b] = caller[b];
      return result;
    }
    case OP_DELETE:
    case OP_HOLDfile:
    case OP_HOLDfilesec:
    case OP_RELEASE:
      // Sent on to the primary file; its error is the view's.
      return Dispatch(op, primary, args, args != nullptr ? 1 : 0);
    case OP_GET_PROPERTY: {
      int32_t property = std::atoi(PopString().c_str());
      int32_t index = args != nullptr ? static_cast<int32_t>(args[0]) : 0;
      std::string value;
      ClearError();
      if (int32_t code = PropertyRead(state, property, index, &value); code != 0) {
        FailWith(code);
        return 0;
      }
      PushString(value);
      return 0;
    }
    case OP_SET_PROPERTY: {
      std::string value = PopString();
      int32_t property = std::atoi(PopString().c_str());
      ClearError();
      PropertyWrite(view, state, property, value);
      return 0;
    }
    default:
      FailWith(err::UnsupportedFunction);
      return 0;
  }
}

}  // namespace pr::files
