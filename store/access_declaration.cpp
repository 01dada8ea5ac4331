#include "store/access_declaration.h"

#include <cstdlib>

namespace pr::store {

TableDefinition DefinitionFromDeclaration(const files::FileDescriptor& file) {
  const files::Declaration& declaration = file.declaration;
  TableDefinition definition;
  definition.recordLength = static_cast<uint16_t>(file.recordLength);

  const uint32_t fieldCount = declaration.fields != nullptr ? declaration.fieldCount : 0;
  for (uint32_t i = 0; i < fieldCount; ++i) {
    const files::FieldDescriptor& field = declaration.fields[i];
    FieldDefinition out;
    out.type = field.type;
    out.offset = static_cast<uint16_t>(field.place);
    out.name = std::string(field.label);
    uint32_t dim = 0;
    for (uint8_t d = 0; field.dims != nullptr && d < field.dimCount && field.dims[d] != 0; ++d)
      dim = (dim == 0 ? 1 : dim) * field.dims[d];
    out.dim = static_cast<uint16_t>(dim);
    out.size = static_cast<uint16_t>(field.size);
    out.over = static_cast<uint16_t>(field.overField);
    out.extra = field.type == files::TYPE_GROUP ? static_cast<uint16_t>(field.memberCount) : 0;
    if (field.type == files::TYPE_DECIMAL || field.type == files::TYPE_PDECIMAL) {
      out.decimalSize = static_cast<uint8_t>(field.size);
      out.decimalPlaces = static_cast<uint8_t>(field.places);
    }
    if (field.type == files::TYPE_STRING || field.type == files::TYPE_CSTRING ||
        field.type == files::TYPE_PSTRING) {
      out.declaredLength = static_cast<uint16_t>(field.size);
      if (field.picture != nullptr) out.picture = field.picture;
    }
    definition.fields.push_back(std::move(out));
  }

  for (uint32_t m = 0; file.memos != nullptr && m < declaration.memoCount; ++m) {
    const files::MemoDescriptor& memo = file.memos[m];
    MemoDefinition out;
    out.externalName = std::string(memo.name);
    out.label = std::string(memo.label);
    out.size = static_cast<uint16_t>(memo.size);
    out.flags = memo.flags & (files::MEMO_BINARY | files::MEMO_BLOB);
    definition.memos.push_back(std::move(out));
  }

  for (uint32_t k = 0; file.keys != nullptr && k < declaration.keyCount; ++k) {
    const files::KeyDescriptor& key = file.keys[k];
    KeyDefinition out;
    out.externalName = std::string(key.name);
    out.label = std::string(key.label);
    out.attributes = static_cast<uint8_t>(key.flags & (files::KEY_DUP | files::KEY_OPT | files::KEY_NOCASE |
                                                        files::KEY_PRIMARY));
    out.inMemory = (key.flags & files::KEY_INDEX) != 0;
    for (uint8_t c = 0; key.components != nullptr && c < key.componentCount; ++c) {
      int32_t component = key.components[c];
      KeyComponentDefinition part;
      // Field numbers count from 1; a component naming no field becomes an
      // index the layout check refuses.
      uint32_t number = static_cast<uint32_t>(std::abs(component));
      part.field = static_cast<uint16_t>(number == 0 ? 0xFFFF : number - 1);
      part.direction = component < 0 ? 1 : 0;
      out.components.push_back(part);
    }
    definition.keys.push_back(std::move(out));
  }
  definition.version = definition.RequiredVersion();
  return definition;
}

}  // namespace pr::store
