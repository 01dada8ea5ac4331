#include "store/definition_descriptors.h"

#include <cstring>

namespace pr::store {

BuiltDescriptors::BuiltDescriptors(const TableDefinition& definition) : definition_(definition) {
  recordLength_ = definition_.recordLength;
  // Dimensions first, so that pointers into dims_ stay valid.
  dims_.reserve(definition_.fields.size());
  for (const FieldDefinition& f : definition_.fields) dims_.push_back(f.dim);

  fields_.reserve(definition_.fields.size());
  for (size_t i = 0; i < definition_.fields.size(); ++i) {
    const FieldDefinition& f = definition_.fields[i];
    files::FieldDescriptor d;
    d.place = f.offset;
    d.type = f.type;
    d.overField = f.over;
    d.memberCount = f.type == kTypeGroup ? f.extra : 0;
    if (f.type == kTypeDecimal || f.type == kTypePDecimal) {
      d.size = f.decimalSize != 0 ? f.decimalSize : f.size;
      d.places = f.decimalPlaces;
    } else {
      d.size = f.size;
    }
    if (!f.picture.empty()) d.picture = f.picture.c_str();
    if (f.dim != 0) {
      d.dims = &dims_[i];
      d.dimCount = 1;
    }
    d.label = f.name;
    d.name = f.name;
    fields_.push_back(d);
  }
  for (const MemoDefinition& m : definition_.memos) {
    files::MemoDescriptor d;
    d.name = m.externalName;
    d.label = m.label;
    d.flags = uint8_t(m.flags & (kMemoBinary | kMemoBlob));
    d.size = m.size;
    memos_.push_back(d);
  }
  components_.reserve(definition_.keys.size());
  for (const KeyDefinition& k : definition_.keys) {
    std::vector<int32_t> comps;
    for (const KeyComponentDefinition& c : k.components) {
      const int32_t number = int32_t(c.field) + 1;
      comps.push_back(c.direction != 0 ? -number : number);
    }
    components_.push_back(std::move(comps));
  }
  for (size_t i = 0; i < definition_.keys.size(); ++i) {
    const KeyDefinition& k = definition_.keys[i];
    files::KeyDescriptor d;
    d.name = k.externalName;
    d.label = k.label;
    d.flags = k.attributes;
    d.componentCount = uint8_t(k.components.size() > 255 ? 255 : k.components.size());
    d.components = components_[i].data();
    keys_.push_back(d);
  }
}

void BuiltDescriptors::AttachTo(files::FileDescriptor* file) {
  file->recordLength = recordLength_;
  file->declaration.fields = fields_.data();
  file->declaration.fieldCount = uint32_t(fields_.size());
  file->declaration.memoCount = uint32_t(memos_.size());
  file->declaration.keyCount = uint32_t(keys_.size());
  file->memos = memos_.data();
  file->keys = keys_.data();
  for (files::KeyDescriptor& k : keys_) k.file = file;
}

}  // namespace pr::store
