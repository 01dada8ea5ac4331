// Printed names of operation and type codes, and the declaration text: a
// file descriptor rendered as declaration source, one item a line, as the
// driver-call trace shows it.
#pragma once

#include <cstdint>
#include <string>

#include "files/descriptors.h"

namespace pr::files {

// "ADD", "SETkeyptr", ...; codes without a name print as "(0)", "(101)";
// a code outside 0..104 prints as "".
std::string OperationName(int32_t op);

// "LONG", "STRING", ...; 17 prints as "(17)", 31 and above as "UNKNOWN".
std::string TypeName(uint32_t type);

// The declaration text of `file`, each line ended by "\n".  Keywords start
// at column 36 (FILE line, the file's END), 38 (keys, memos, RECORD, the
// record's END) and 40 (fields, 2 more per GROUP level); a label that reaches
// the column is followed by one space.  The OWNER password prints as
// "******".  Inconsistent descriptors (member counts or field numbers out of
// range) are rendered as far as they are valid, never read out of bounds.
std::string DeclarationText(const FileDescriptor& file);

}  // namespace pr::files
