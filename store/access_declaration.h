// The table definition a file declaration describes.
#pragma once

#include "files/descriptors.h"
#include "store/definition_stream.h"

namespace pr::store {

// Builds the definition of `file`'s record structure, memos and keys as the
// keyed file stores it.  A declaration without a record structure gives an
// empty field list.  Pure.
TableDefinition DefinitionFromDeclaration(const files::FileDescriptor& file);

}  // namespace pr::store
