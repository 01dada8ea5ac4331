#include "store/table_layout.h"

namespace pr::store {

namespace {

constexpr uint8_t kByte = 1, kShort = 2, kUShort = 3, kDate = 4, kTime = 5, kLong = 6, kULong = 7, kSReal = 8,
                  kReal = 9, kArray = 24;

}  // namespace

bool IsSupportedFieldType(uint8_t type) {
  switch (type) {
    case kByte:
    case kShort:
    case kUShort:
    case kDate:
    case kTime:
    case kLong:
    case kULong:
    case kSReal:
    case kReal:
    case kTypeDecimal:
    case kTypeString:
    case kTypeCString:
    case kTypePString:
    case kTypeMemo:
    case kTypeBlob:
    case kTypeGroup:
    case kArray:
      return true;
    default:
      return false;
  }
}

bool PrepareLayout(const TableDefinition& def, TableLayout* layout, LayoutProblem* problem) {
  auto fail = [problem](CheckCategory category, int index, const char* item, int number) {
    *problem = {category, index, item, number, nullptr, 0};
    return false;
  };

  TableLayout out;
  for (size_t i = 0; i < def.fields.size(); ++i) {
    const FieldDefinition& f = def.fields[i];
    const int number = int(i) + 1;
    if (!IsSupportedFieldType(f.type)) return fail(CheckCategory::kField, 2, "TYPE", number);
    if (size_t{f.offset} + f.size > def.recordLength || f.over > def.fields.size()) {
      return fail(CheckCategory::kField, 4, "SIZE", number);
    }
    if (f.over == 0 && f.size > 0 &&
        (f.type == kTypeString || f.type == kTypeCString || f.type == kTypePString)) {
      out.textFields.push_back({f.offset, f.size, f.type});
    }
  }
  if (def.recordLength > kMaxRecordImage) return fail(CheckCategory::kField, 4, "SIZE", int(def.fields.size()));
  if (def.memos.size() > kMaxMemos) return fail(CheckCategory::kMemo, 2, "MEMO/BLOB", int(kMaxMemos) + 1);
  if (def.keys.size() > kMaxKeys) return fail(CheckCategory::kKey, 2, "KEY", int(kMaxKeys) + 1);

  for (size_t k = 0; k < def.keys.size(); ++k) {
    const KeyDefinition& key = def.keys[k];
    KeyLayout kl;
    kl.index = uint8_t(k);
    kl.attributes = key.attributes & (kKeyDup | kKeyOpt | kKeyNoCase | kKeyPrimary);
    if (key.inMemory) kl.attributes |= kKeyIndex;
    for (size_t c = 0; c < key.components.size(); ++c) {
      const KeyComponentDefinition& comp = key.components[c];
      if (comp.field >= def.fields.size()) {
        return fail(CheckCategory::kComponent, 0, "FIELD", int(k + 1) * 1000 + int(c) + 1);
      }
      const FieldDefinition& f = def.fields[comp.field];
      kl.Add({f.offset, f.size, f.type, comp.direction != 0});
    }
    // The record number a DUP key carries inside its key part counts against
    // the same room: two entries of the longest key must share a node page,
    // and four bytes more than a unique key leaves them none.
    if (kl.encodedLength + (kl.dup() ? 4 : 0) > kMaxKeyComponentBytes) {
      *problem = {CheckCategory::kKey, kKeySizeCheck, "SIZE", int(k) + 1, kKeySizeMessage, kKeySizeOverride};
      return false;
    }
    out.keys.push_back(std::move(kl));
  }
  *layout = std::move(out);
  return true;
}

}  // namespace pr::store
