#include "files/view.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "files/dispatch.h"
#include "files/errors.h"
#include "files/statements.h"
#include "files/string_stack.h"

namespace pr::files {
namespace {

constexpr int32_t kRecordNotAvailable = 33;
constexpr int32_t kFileNotOpen = 37;
constexpr int32_t kFileAlreadyOpen = 52;
constexpr int32_t kUnsupported = 80;

// One component of the order: a field of the primary file and its direction.
struct OrderComponent {
  uint32_t field = 0;  // number from 1
  bool descending = false;
};

enum class WalkKind {
  kKey,     // through a key of the primary file whose components serve the order
  kFile,    // no order: the primary file in its own record order
  kSorted,  // an order no key serves: record pointers read once and sorted
};

enum class Pending { kNone, kSet, kReset };

struct ViewState {
  bool open = false;  // between OPEN and CLOSE; filter and order outlive CLOSE
  std::string filter;
  std::string order;
  std::string previousOrder;
  std::vector<OrderComponent> components;
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
  // Sorted walk: record pointers in order, the place of the current one, and
  // the places the next NEXT and PREVIOUS read.
  std::vector<int32_t> sorted;
  ptrdiff_t sortedIndex = -1;
  ptrdiff_t nextIndex = 0;
  ptrdiff_t previousIndex = -1;
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
  std::lock_guard<std::mutex> guard(g_viewsLock);
  auto& slot = Views()[view];
  if (!slot) slot = std::make_unique<ViewState>();
  return slot.get();
}

void DropState(const FileDescriptor* view) {
  std::unique_ptr<ViewState> dropped;
  std::lock_guard<std::mutex> guard(g_viewsLock);
  auto it = Views().find(view);
  if (it == Views().end()) return;
  dropped = std::move(it->second);
  Views().erase(it);
}

const ViewStructure* StructureOf(const FileDescriptor* view) {
  return static_cast<const ViewStructure*>(view->viewStructure);
}

void Fail(int32_t code, std::string_view reason) {
  SetErrorCode(code);
  SetFileError(std::to_string(code), std::string(reason).c_str());
}

std::string Trim(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return std::string(text.substr(begin, end - begin));
}

bool SameLabel(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Parses the order text into components that name fields of the primary
// file.  False when a component is an expression.
bool ParseOrder(const FileDescriptor* primary, std::string_view text, std::vector<OrderComponent>* out) {
  out->clear();
  std::string rest(text);
  size_t start = 0;
  while (start <= rest.size()) {
    size_t comma = rest.find(',', start);
    std::string part = Trim(std::string_view(rest).substr(start, comma == std::string::npos ? std::string::npos
                                                                                             : comma - start));
    start = comma == std::string::npos ? rest.size() + 1 : comma + 1;
    if (part.empty()) continue;
    OrderComponent component;
    if (part[0] == '+' || part[0] == '-') {
      component.descending = part[0] == '-';
      part = Trim(std::string_view(part).substr(1));
    }
    const Declaration& decl = primary->declaration;
    uint32_t found = 0;
    for (uint32_t i = 0; decl.fields != nullptr && i < decl.fieldCount; ++i)
      if (SameLabel(decl.fields[i].label, part)) found = i + 1;
    if (found == 0) return false;
    component.field = found;
    out->push_back(component);
  }
  return true;
}

// The key of the primary file whose leading components are the order's
// fields, all in the order's direction (or all against it).
KeyDescriptor* KeyForOrder(FileDescriptor* primary, const std::vector<OrderComponent>& order, bool* reversed) {
  for (uint32_t k = 0; primary->keys != nullptr && k < primary->declaration.keyCount; ++k) {
    KeyDescriptor* key = &primary->keys[k];
    if (key->componentCount < order.size()) continue;
    bool same = true, opposite = true;
    for (size_t i = 0; i < order.size(); ++i) {
      int32_t c = key->components[i];
      uint32_t field = static_cast<uint32_t>(c < 0 ? -c : c);
      if (field != order[i].field) {
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

// Compares one field of two record images for the sorted walk.
int CompareField(const FieldDescriptor& field, const uint8_t* a, const uint8_t* b) {
  const uint8_t* x = a + field.place;
  const uint8_t* y = b + field.place;
  auto compare = [](auto u, auto v) { return u < v ? -1 : (u > v ? 1 : 0); };
  switch (field.type) {
    case TYPE_BYTE: return compare(x[0], y[0]);
    case TYPE_SHORT: { int16_t u, v; std::memcpy(&u, x, 2); std::memcpy(&v, y, 2); return compare(u, v); }
    case TYPE_USHORT: { uint16_t u, v; std::memcpy(&u, x, 2); std::memcpy(&v, y, 2); return compare(u, v); }
    case TYPE_DATE:
    case TYPE_TIME:
    case TYPE_LONG: { int32_t u, v; std::memcpy(&u, x, 4); std::memcpy(&v, y, 4); return compare(u, v); }
    case TYPE_ULONG: { uint32_t u, v; std::memcpy(&u, x, 4); std::memcpy(&v, y, 4); return compare(u, v); }
    case TYPE_SREAL: { float u, v; std::memcpy(&u, x, 4); std::memcpy(&v, y, 4); return compare(u, v); }
    case TYPE_REAL: { double u, v; std::memcpy(&u, x, 8); std::memcpy(&v, y, 8); return compare(u, v); }
    default: {
      int r = std::memcmp(x, y, field.size);
      return r < 0 ? -1 : (r > 0 ? 1 : 0);
    }
  }
}

bool FieldFits(const FileDescriptor* file, const FieldDescriptor& field) {
  return field.place + field.size <= file->recordLength;
}

// Reads the whole primary file once and sorts its record pointers by the
// order's components.
void BuildSortedWalk(FileDescriptor* view, ViewState* state) {
  FileDescriptor* primary = StructureOf(view)->primary;
  std::vector<std::pair<std::vector<uint8_t>, int32_t>> rows;
  std::vector<uint8_t> saved(primary->record, primary->record + primary->recordLength);
  Set(primary);
  for (;;) {
    Next(primary);
    if (ErrorCode() != 0) break;
    int32_t pointer = Pointer(primary);
    rows.emplace_back(std::vector<uint8_t>(primary->record, primary->record + primary->recordLength), pointer);
  }
  std::memcpy(primary->record, saved.data(), saved.size());
  const Declaration& decl = primary->declaration;
  std::stable_sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) {
    for (const OrderComponent& c : state->components) {
      const FieldDescriptor& field = decl.fields[c.field - 1];
      if (!FieldFits(primary, field)) continue;
      int r = CompareField(field, a.first.data(), b.first.data());
      if (r != 0) return c.descending ? r > 0 : r < 0;
    }
    return false;
  });
  state->sorted.clear();
  for (auto& row : rows) state->sorted.push_back(row.second);
  state->sortedIndex = -1;
  state->nextIndex = 0;
  state->previousIndex = static_cast<ptrdiff_t>(state->sorted.size()) - 1;
  ClearError();
}

bool HasExpressionJoin(const std::vector<ViewJoin>& joins) {
  for (const ViewJoin& join : joins)
    if (!join.expression.empty() || join.key == nullptr || HasExpressionJoin(join.joins)) return true;
  return false;
}

bool HasInnerJoin(const std::vector<ViewJoin>& joins) {
  for (const ViewJoin& join : joins)
    if (join.inner || HasInnerJoin(join.joins)) return true;
  return false;
}

// Builds the walk from the order.  False (with the error set) when the
// order needs the expression evaluator.
bool Rebuild(FileDescriptor* view, ViewState* state) {
  if (!state->rebuild) return true;
  FileDescriptor* primary = StructureOf(view)->primary;
  if (!ParseOrder(primary, state->order, &state->components)) {
    Fail(kUnsupported, "View order needs the expression evaluator");
    return false;
  }
  state->walkKey = nullptr;
  state->reversed = false;
  state->sorted.clear();
  if (state->components.empty()) {
    state->walk = WalkKind::kFile;
  } else if (KeyDescriptor* key = KeyForOrder(primary, state->components, &state->reversed)) {
    state->walk = WalkKind::kKey;
    state->walkKey = key;
  } else {
    state->walk = WalkKind::kSorted;
    BuildSortedWalk(view, state);
  }
  state->previousOrder = state->order;
  state->rebuild = false;
  return true;
}

// Clears a record buffer the way CLEAR does: strings to spaces, the rest to 0.
void ClearRecord(FileDescriptor* file) {
  std::memset(file->record, 0, file->recordLength);
  const Declaration& decl = file->declaration;
  for (uint32_t i = 0; decl.fields != nullptr && i < decl.fieldCount; ++i) {
    const FieldDescriptor& field = decl.fields[i];
    if (field.type == TYPE_STRING && FieldFits(file, field)) std::memset(file->record + field.place, ' ', field.size);
  }
}

// Reads the joined records of `parent`'s current record.  False when an
// inner join has no match (the parent record does not take part).
bool ReadJoins(FileDescriptor* parent, const std::vector<ViewJoin>& joins) {
  for (const ViewJoin& join : joins) {
    FileDescriptor* file = join.file;
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
      if (!FieldFits(parent, from) || !FieldFits(file, to)) continue;
      uint32_t size = std::min(from.size, to.size);
      std::memcpy(file->record + to.place, parent->record + from.place, size);
      if (to.size > size) std::memset(file->record + to.place + size, to.type == TYPE_STRING ? ' ' : 0, to.size - size);
    }
    Get(file, key);
    if (ErrorCode() != 0) {
      if (join.inner) return false;
      ClearRecord(file);
      ClearError();
      continue;
    }
    if (!ReadJoins(file, join.joins)) {
      if (join.inner) return false;
    }
  }
  return true;
}

// Applies the pending positioning to the primary file.
void ApplyPending(FileDescriptor* view, ViewState* state) {
  FileDescriptor* primary = StructureOf(view)->primary;
  switch (state->pending) {
    case Pending::kNone:
      return;
    case Pending::kSet:
      if (state->walk == WalkKind::kKey) {
        if (state->setComponents == 0)
          Set(state->walkKey);
        else
          Set(state->walkKey, state->walkKey);
      } else if (state->walk == WalkKind::kFile) {
        Set(primary);
      } else {
        state->nextIndex = 0;
        state->previousIndex = static_cast<ptrdiff_t>(state->sorted.size()) - 1;
        if (state->setComponents > 0) {
          // NEXT reads the first record not below the record buffer's values,
          // PREVIOUS the last one not above them.
          std::vector<uint8_t> probe(primary->record, primary->record + primary->recordLength);
          const Declaration& decl = primary->declaration;
          ptrdiff_t firstNotBelow = -1, firstAbove = -1;
          for (ptrdiff_t index = 0; index < static_cast<ptrdiff_t>(state->sorted.size()) && firstAbove < 0; ++index) {
            Get(primary, state->sorted[index]);
            if (ErrorCode() != 0) continue;
            int r = 0;
            for (int32_t i = 0; i < state->setComponents && r == 0; ++i) {
              const OrderComponent& c = state->components[i];
              r = CompareField(decl.fields[c.field - 1], primary->record, probe.data());
              if (c.descending) r = -r;
            }
            if (r >= 0 && firstNotBelow < 0) firstNotBelow = index;
            if (r > 0) firstAbove = index;
          }
          ClearError();
          std::memcpy(primary->record, probe.data(), probe.size());
          const auto size = static_cast<ptrdiff_t>(state->sorted.size());
          state->nextIndex = firstNotBelow < 0 ? size : firstNotBelow;
          state->previousIndex = (firstAbove < 0 ? size : firstAbove) - 1;
        }
      }
      break;
    case Pending::kReset:
      if (state->walk == WalkKind::kKey) {
        Reset(state->walkKey, state->savedPosition);
      } else if (state->walk == WalkKind::kFile) {
        Reset(primary, state->savedPosition);
      } else {
        // Sorted positions are "S" and the record pointer.
        // The next read in either direction returns the saved record.
        int32_t pointer = std::atoi(state->savedPosition.c_str() + (state->savedPosition.empty() ? 0 : 1));
        auto it = std::find(state->sorted.begin(), state->sorted.end(), pointer);
        state->nextIndex = state->previousIndex = it - state->sorted.begin();
        if (it == state->sorted.end()) state->previousIndex = -1;
      }
      break;
  }
  state->pending = Pending::kNone;
  state->direction = 0;
}

// One step of the walk in `dir` (+1 NEXT, -1 PREVIOUS), joins read.
void Fetch(FileDescriptor* view, ViewState* state, int dir) {
  ClearError();
  if (!Rebuild(view, state)) return;
  const ViewStructure* structure = StructureOf(view);
  FileDescriptor* primary = structure->primary;
  ApplyPending(view, state);
  if (ErrorCode() != 0) return;
  for (;;) {
    if (state->walk == WalkKind::kSorted) {
      ptrdiff_t k = dir > 0 ? state->nextIndex : state->previousIndex;
      if (k < 0 || k >= static_cast<ptrdiff_t>(state->sorted.size())) {
        SetErrorCode(kRecordNotAvailable);
        return;
      }
      state->sortedIndex = k;
      state->nextIndex = k + 1;
      state->previousIndex = k - 1;
      Get(primary, state->sorted[k]);
    } else {
      bool forward = (dir > 0) != state->reversed;
      if (forward)
        Next(primary);
      else
        Previous(primary);
    }
    state->direction = dir;
    if (ErrorCode() != 0) return;
    // Filters other than the empty one are refused when set, so every record
    // passes here.
    if (ReadJoins(primary, structure->joins)) return;
  }
}

std::string CurrentPosition(FileDescriptor* view, ViewState* state) {
  FileDescriptor* primary = StructureOf(view)->primary;
  if (state->walk == WalkKind::kKey) return Position(state->walkKey);
  if (state->walk == WalkKind::kSorted) {
    if (state->sortedIndex < 0 || state->sortedIndex >= static_cast<ptrdiff_t>(state->sorted.size())) return "";
    return "S" + std::to_string(state->sorted[state->sortedIndex]);
  }
  return Position(primary);
}

int32_t PropertyRead(ViewState* state, int32_t property, int32_t index, std::string* value) {
  switch (property) {
    case PROP_VIEW_FILTER: *value = state->filter; return 0;
    case PROP_VIEW_ORDER:
      if (index <= 0) {
        *value = state->order;
      } else {
        // The n-th component as written.
        std::string text = state->order;
        size_t start = 0;
        for (int32_t n = 1;; ++n) {
          size_t comma = text.find(',', start);
          if (n == index) {
            *value = Trim(std::string_view(text).substr(start, comma == std::string::npos ? std::string::npos
                                                                                           : comma - start));
            break;
          }
          if (comma == std::string::npos) {
            value->clear();
            break;
          }
          start = comma + 1;
        }
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
    default: return kUnsupported;
  }
}

int32_t PropertyWrite(ViewState* state, int32_t property, const std::string& value) {
  switch (property) {
    case PROP_VIEW_FILTER:
      if (!Trim(value).empty()) {
        Fail(kUnsupported, "View filters need the expression evaluator");
        return kUnsupported;
      }
      state->filter.clear();
      state->rebuild = true;
      return 0;
    case PROP_VIEW_ORDER:
      state->order = value;
      state->rebuild = true;
      return 0;
    case PROP_VIEW_WANTED:
      state->wanted = std::atoi(value.c_str());
      return 0;
    default:
      return kUnsupported;
  }
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
    SetErrorCode(kFileNotOpen);
    return 0;
  }
  FileDescriptor* primary = structure->primary;

  if (op == OP_OPEN) {
    if (ViewState* known = FindState(view); known != nullptr && known->open) {
      SetErrorCode(kFileAlreadyOpen);
      return 0;
    }
    if (HasExpressionJoin(structure->joins)) {
      Fail(kUnsupported, "View joins by expression need the expression evaluator");
      return 0;
    }
    ClearError();
    ViewState* state = MakeState(view);
    // The walk starts where the primary file stands: callers position the
    // primary file's key before they open the view.
    state->open = true;
    state->pending = Pending::kNone;
    state->direction = 0;
    state->rebuild = true;
    Rebuild(view, state);
    return 0;
  }
  ViewState* state = FindState(view);
  if (op == OP_DESTROY) {
    DropState(view);
    view->entry = ViewBindingEntry;
    ClearError();
    return 0;
  }
  if (state == nullptr || !state->open) {
    if (op == OP_CLOSE) {
      view->entry = ViewBindingEntry;
      ClearError();
      return 0;
    }
    // Properties may be set while the view is closed: they make the state
    // and are kept for the next OPEN.
    if (op != OP_SET_PROPERTY && op != OP_GET_PROPERTY) {
      SetErrorCode(kFileNotOpen);
      return 0;
    }
    if (state == nullptr) state = MakeState(view);
  }

  switch (op) {
    case OP_CLOSE:
      // The walk is released; the order and filter stay with the view.
      state->open = false;
      state->sorted.clear();
      state->sortedIndex = -1;
      state->pending = Pending::kSet;
      state->setComponents = 0;
      state->rebuild = true;
      view->entry = ViewBindingEntry;
      ClearError();
      return 0;
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
      for (int32_t i = 0; i < (n < 0 ? -n : n); ++i) {
        Fetch(view, state, n > 0 ? +1 : -1);
        if (ErrorCode() != 0) break;
      }
      return 0;
    }
    case OP_POSITIONfile: {
      ClearError();
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
        if (state->walk == WalkKind::kKey) {
          Reget(state->walkKey, position);
        } else if (state->walk == WalkKind::kFile) {
          Reget(primary, position);
        } else {
          ApplyPending(view, state);
          ptrdiff_t k = state->nextIndex;
          if (k < static_cast<ptrdiff_t>(state->sorted.size())) {
            state->sortedIndex = k;
            state->nextIndex = k + 1;
            state->previousIndex = k - 1;
            Get(primary, state->sorted[k]);
          } else {
            SetErrorCode(kRecordNotAvailable);
          }
        }
        if (ErrorCode() == 0) {
          ReadJoins(primary, structure->joins);
          ClearError();
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
        state->savedPosition = "S" + std::to_string(pointer);
      } else {
        state->savedPosition = state->walk == WalkKind::kKey ? Position(state->walkKey) : Position(primary);
      }
      if (ErrorCode() == 0) state->pending = Pending::kReset;
      return 0;
    }
    case OP_GETfileptr: {
      int32_t pointer = args != nullptr ? static_cast<int32_t>(args[0]) : 0;
      Get(primary, pointer);
      if (ErrorCode() == 0) {
        ReadJoins(primary, structure->joins);
        ClearError();
      }
      return 0;
    }
    case OP_RECORDSfile: {
      ClearError();
      if (!HasInnerJoin(structure->joins)) return Records(primary);
      // Inner joins leave out parents without a match: count by walking,
      // and start the next fetch from the beginning.
      if (!Rebuild(view, state)) return 0;
      int32_t count = 0;
      state->pending = Pending::kSet;
      state->setComponents = 0;
      for (;;) {
        Fetch(view, state, +1);
        if (ErrorCode() != 0) break;
        ++count;
      }
      state->pending = Pending::kSet;
      state->setComponents = 0;
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
    case OP_DELETE:
    case OP_PUT:
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
        SetErrorCode(code);
        return 0;
      }
      PushString(value);
      return 0;
    }
    case OP_SET_PROPERTY: {
      std::string value = PopString();
      int32_t property = std::atoi(PopString().c_str());
      ClearError();
      if (int32_t code = PropertyWrite(state, property, value); code != 0 && ErrorCode() == 0) SetErrorCode(code);
      return 0;
    }
    default:
      SetErrorCode(kUnsupported);
      return 0;
  }
}

}  // namespace pr::files
